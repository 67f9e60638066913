#pragma once
// The storage descriptor of a block device, read from sysfs: vendor,
// product, revision, serial number, removable flag and bus type, so that
// the disk chooser shows the disk's real product name.

#include <cstdint>
#include <filesystem>

#include "Medium.h"

namespace kestrin {

// The system's STORAGE_BUS_TYPE values that the stack reports.
inline constexpr std::uint8_t kBusTypeUnknown = 0;
inline constexpr std::uint8_t kBusTypeScsi = 1;
inline constexpr std::uint8_t kBusTypeAta = 3;
inline constexpr std::uint8_t kBusType1394 = 4;
inline constexpr std::uint8_t kBusTypeFibre = 6;
inline constexpr std::uint8_t kBusTypeUsb = 7;
inline constexpr std::uint8_t kBusTypeRaid = 8;
inline constexpr std::uint8_t kBusTypeIscsi = 9;
inline constexpr std::uint8_t kBusTypeSas = 10;
inline constexpr std::uint8_t kBusTypeSata = 11;
inline constexpr std::uint8_t kBusTypeSd = 12;
inline constexpr std::uint8_t kBusTypeMmc = 13;
inline constexpr std::uint8_t kBusTypeFileBackedVirtual = 15;
inline constexpr std::uint8_t kBusTypeNvme = 17;

// Describes the disk whose sysfs directory is `diskDirectory`, a path into
// the tree at `sysfsRoot` (links allowed: "<root>/block/sda" and
// "<root>/dev/block/8:0" both do).
//
// - vendor: device/vendor, unless it is a numeric identifier ("0x1af4" of
//   virtio), which names no one;
// - product: device/model, else device/name (SD and MMC cards); a loop
//   device without either is named after its backing file, any other disk
//   after its kernel name;
// - revision: device/rev, else device/firmware_rev (NVMe);
// - serial: device/serial, else serial (virtio), else the unit serial
//   number page device/vpd_pg80 (SCSI), else wwid or device/wwid;
// - removable: the removable attribute;
// - bus type: from where the disk sits in the device tree, see
//   BusTypeOfDisk.
// Attributes that are missing leave their string empty.
MediumDescription DescribeBlockDevice(const std::filesystem::path& sysfsRoot,
                                      const std::filesystem::path& diskDirectory);

// The bus a disk hangs on, from the components of its device path below
// the sysfs root, checked in this order: a USB bus (usbN) gives USB, also
// for a USB bridge to SATA; an NVMe controller NVMe; a libata port (ataN)
// SATA, or ATA when the port's link reports no SATA speed; a SAS end
// device or expander SAS; an iSCSI session iSCSI; a Fibre Channel remote
// port Fibre; a FireWire node 1394; an MMC host SD (MMC for an eMMC
// device); a SCSI host SCSI. Virtual disks: a loop device is file-backed
// virtual, an md array RAID. Anything else, virtio block disks included,
// is unknown (0).
std::uint8_t BusTypeOfDisk(const std::filesystem::path& sysfsRoot, const std::filesystem::path& diskDirectory);

}  // namespace kestrin
