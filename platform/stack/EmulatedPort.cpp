#include "EmulatedPort.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ErrorText.h"
#include "LayoutBuffer.h"
#include "LayoutCodec.h"
#include "OpenMedium.h"
#include "RequestRecords.h"

namespace kestrin {

namespace {

// Keeps only printable ASCII so that the descriptor strings decode as text.
std::string printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    out.push_back(u >= 0x20 && u <= 0x7E ? c : '?');
  }
  return out;
}

}  // namespace

std::uint32_t BuildStorageDescriptor(const std::string& vendor, const std::string& product, const std::string& revision,
                                     const std::string& serial, bool removable, std::uint8_t busType,
                                     std::uint8_t* output, std::uint32_t outputSize, std::uint32_t& returned) {
  std::vector<std::uint8_t> d(kDescriptorHeaderSize, 0);
  auto addString = [&d](const std::string& text, std::size_t fieldOffset) {
    if (text.empty()) return;
    writeLe32(d, fieldOffset, static_cast<std::uint32_t>(d.size()));
    std::string clean = printable(text);
    d.insert(d.end(), clean.begin(), clean.end());
    d.push_back(0);
  };
  writeU8(d, kDescriptorRemovableMediaOffset, removable ? 1 : 0);
  writeLe32(d, kDescriptorBusTypeOffset, busType);
  addString(vendor, kDescriptorVendorIdOffset);
  addString(product, kDescriptorProductIdOffset);
  addString(revision, kDescriptorProductRevisionOffset);
  addString(serial, kDescriptorSerialNumberOffset);
  writeLe32(d, kDescriptorVersionOffset, static_cast<std::uint32_t>(kDescriptorHeaderSize));
  writeLe32(d, kDescriptorSizeOffset, static_cast<std::uint32_t>(d.size()));
  if (output == nullptr || outputSize < 8) return ERROR_INSUFFICIENT_BUFFER;
  std::uint32_t n = std::min<std::uint32_t>(outputSize, static_cast<std::uint32_t>(d.size()));
  std::memcpy(output, d.data(), n);
  returned = n;
  return ERROR_SUCCESS;
}

EmulatedPort::EmulatedPort(DiskMap disks, MediumOpener opener)
    : m_disks(std::move(disks)),
      m_opener(opener ? std::move(opener) : MediumOpener([](const DiskSpec& spec, bool writable, std::uint32_t& error) {
        return OpenMedium(spec, writable, error);
      })) {}

bool EmulatedPort::fail(std::uint32_t error) {
  m_lastError = error;
  return false;
}

DiskHandle EmulatedPort::OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t) {
  int number = DiskNumberOfPath(path);
  if (number < 0 || static_cast<std::size_t>(number) >= m_disks.size()) {
    m_lastError = ERROR_FILE_NOT_FOUND;
    return kInvalidHandle;
  }
  bool writable = (access & GENERIC_WRITE) != 0;
  std::uint32_t error = ERROR_SUCCESS;
  std::unique_ptr<Medium> medium = m_opener(m_disks[static_cast<std::size_t>(number)], writable, error);
  if (!medium) {
    m_lastError = error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND;
    return kInvalidHandle;
  }
  std::uint32_t lockError = medium->lock(writable ? LockMode::Exclusive : LockMode::Shared, m_lockWait);
  DiskHandle handle = m_nextHandle++;
  m_handles.emplace(handle, OpenDiskState{number, writable, std::move(medium), lockError});
  return handle;
}

void EmulatedPort::CloseDisk(DiskHandle handle) { m_handles.erase(handle); }

EmulatedPort::OpenDiskState* EmulatedPort::rawTransfer(DiskHandle handle, std::uint64_t offset, std::uint32_t size,
                                                       const void* buffer) {
  auto found = m_handles.find(handle);
  if (found == m_handles.end()) {
    fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  OpenDiskState& open = found->second;
  const std::uint32_t sectorSize = open.medium->sectorSize();
  if (buffer == nullptr || size == 0 || offset % sectorSize != 0 || size % sectorSize != 0) {
    fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (open.lockError != ERROR_SUCCESS) {
    fail(open.lockError);
    return nullptr;
  }
  return &open;
}

bool EmulatedPort::ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                            std::uint32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  OpenDiskState* open = rawTransfer(handle, offset, size, buffer);
  if (open == nullptr) return false;
  std::span<std::uint8_t> out(static_cast<std::uint8_t*>(buffer), size);
  if (std::uint32_t error = open->medium->readSectors(offset / open->medium->sectorSize(), out);
      error != ERROR_SUCCESS) {
    return fail(error);
  }
  if (bytesRead != nullptr) *bytesRead = size;
  return true;
}

bool EmulatedPort::WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                             std::uint32_t* bytesWritten) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  OpenDiskState* open = rawTransfer(handle, offset, size, buffer);
  if (open == nullptr) return false;
  if (std::uint32_t error = checkWritable(*open); error != ERROR_SUCCESS) return fail(error);
  Medium& medium = *open->medium;
  std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(buffer), size);
  const std::uint64_t lba = offset / medium.sectorSize();
  auto write = [&](SectorDevice& device) { return device.writeSectors(lba, data); };
  if (std::uint32_t error = medium.refuseChangesToBusyPartitions(write); error != ERROR_SUCCESS) return fail(error);
  if (std::uint32_t error = write(medium); error != ERROR_SUCCESS) return fail(error);
  if (bytesWritten != nullptr) *bytesWritten = size;
  return true;
}

bool EmulatedPort::FlushDisk(DiskHandle handle) {
  auto found = m_handles.find(handle);
  if (found == m_handles.end()) return fail(ERROR_INVALID_HANDLE);
  if (std::uint32_t error = found->second.medium->flush(); error != ERROR_SUCCESS) return fail(error);
  return true;
}

std::string EmulatedPort::ErrorMessage(std::uint32_t code) const { return EmulatedErrorText(code); }

bool EmulatedPort::DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize,
                               void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) {
  auto found = m_handles.find(handle);
  if (found == m_handles.end()) return fail(ERROR_INVALID_HANDLE);
  if ((input == nullptr && inputSize != 0) || (output == nullptr && outputSize != 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  std::uint32_t returned = 0;
  std::uint32_t error = request(found->second, code, static_cast<const std::uint8_t*>(input), inputSize,
                                static_cast<std::uint8_t*>(output), outputSize, returned);
  if (bytesReturned != nullptr) *bytesReturned = returned;
  if (error != ERROR_SUCCESS) return fail(error);
  return true;
}

std::uint32_t EmulatedPort::checkWritable(const OpenDiskState& open) const {
  if (!open.writable) return ERROR_ACCESS_DENIED;
  if (open.lockError != ERROR_SUCCESS) return open.lockError;
  auto attributes = m_attributes.find(open.disk);
  bool readOnly = attributes != m_attributes.end() && (attributes->second & DISK_ATTRIBUTE_READ_ONLY) != 0;
  if (readOnly || open.medium->isReadOnly()) return ERROR_WRITE_PROTECT;
  return ERROR_SUCCESS;
}

std::uint32_t EmulatedPort::request(OpenDiskState& open, std::uint32_t code, const std::uint8_t* input,
                                    std::uint32_t inputSize, std::uint8_t* output, std::uint32_t outputSize,
                                    std::uint32_t& returned) {
  Medium& medium = *open.medium;
  switch (code) {
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
      if (outputSize < kLayoutHeaderSize) return ERROR_INSUFFICIENT_BUFFER;
      if (open.lockError != ERROR_SUCCESS) return open.lockError;
      // A record of as many slots as the caller's buffer holds: the layout
      // fails with ERROR_INSUFFICIENT_BUFFER only when it does not fit, and
      // a caller that wants a larger table asks again with more room.
      const auto slots = std::min<std::uint32_t>((outputSize - kLayoutHeaderSize) / kLayoutSlotSize,
                                                 static_cast<std::uint32_t>(kLayoutMaxSlotCapacity));
      LayoutBuffer layout(static_cast<int>(slots));
      if (std::uint32_t error = DecodeLayout(medium, layout); error != ERROR_SUCCESS) return error;
      // Only the header and the reported slots are copied; bytes past the
      // last reported slot stay as the caller had them.
      std::size_t used = kLayoutHeaderSize + kLayoutSlotSize * std::size_t{layout.partitionCount()};
      if (used > layout.size()) return ERROR_INSUFFICIENT_BUFFER;
      std::memcpy(output, layout.data(), used);
      returned = static_cast<std::uint32_t>(used);
      return ERROR_SUCCESS;
    }
    case IOCTL_DISK_SET_DRIVE_LAYOUT_EX:
    case IOCTL_DISK_CREATE_DISK:
    case IOCTL_DISK_DELETE_DRIVE_LAYOUT: {
      if (std::uint32_t error = checkWritable(open); error != ERROR_SUCCESS) return error;
      const std::span<const std::uint8_t> record(input, input == nullptr ? 0 : inputSize);
      return medium.writeTable([&](SectorDevice& device) { return ApplyTableWrite(device, code, record); });
    }
    case IOCTL_DISK_UPDATE_PROPERTIES:
      // Under the handle's lock, so that no other Kestrin process looks at
      // the disk while the kernel's partitions change.
      if (open.lockError != ERROR_SUCCESS) return open.lockError;
      return medium.tableChanged();
    case FSCTL_DISMOUNT_VOLUME:
      // Nothing is ever unmounted: the stack serves whole disks only.
      return ERROR_SUCCESS;
    case IOCTL_DISK_GET_LENGTH_INFO:
      if (outputSize < kLengthInformationSize) return ERROR_INSUFFICIENT_BUFFER;
      writeLe64(std::span<std::uint8_t>(output, kLengthInformationSize), 0, medium.lengthBytes());
      returned = kLengthInformationSize;
      return ERROR_SUCCESS;
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
      if (outputSize < kGeometryExSize) return ERROR_INSUFFICIENT_BUFFER;
      std::span<std::uint8_t> record(output, kGeometryExSize);
      std::fill(record.begin(), record.end(), 0);
      writeLe32(record, kGeometryBytesPerSectorOffset, medium.sectorSize());
      writeLe64(record, kGeometryDiskSizeOffset, medium.lengthBytes());
      returned = kGeometryExSize;
      return ERROR_SUCCESS;
    }
    case IOCTL_DISK_GET_DISK_ATTRIBUTES: {
      if (outputSize < kGetDiskAttributesSize) return ERROR_INSUFFICIENT_BUFFER;
      std::uint64_t attributes = m_attributes[open.disk];
      if (medium.isReadOnly()) attributes |= DISK_ATTRIBUTE_READ_ONLY;
      std::span<std::uint8_t> record(output, kGetDiskAttributesSize);
      std::fill(record.begin(), record.end(), 0);
      writeLe32(record, kGetAttributesVersionOffset, static_cast<std::uint32_t>(kGetDiskAttributesSize));
      writeLe64(record, kGetAttributesValuesOffset, attributes);
      returned = kGetDiskAttributesSize;
      return ERROR_SUCCESS;
    }
    case IOCTL_DISK_SET_DISK_ATTRIBUTES: {
      if (!open.writable) return ERROR_ACCESS_DENIED;
      if (inputSize < kSetDiskAttributesMinSize) return ERROR_INVALID_PARAMETER;
      std::span<const std::uint8_t> record(input, inputSize);
      if (readLe32(record, kSetAttributesVersionOffset) != inputSize) return ERROR_INVALID_PARAMETER;
      std::uint64_t values = readLe64(record, kSetAttributesValuesOffset);
      std::uint64_t mask =
          readLe64(record, kSetAttributesMaskOffset) & (DISK_ATTRIBUTE_OFFLINE | DISK_ATTRIBUTE_READ_ONLY);
      std::uint64_t& attributes = m_attributes[open.disk];
      if ((mask & DISK_ATTRIBUTE_READ_ONLY) != 0) {
        // A medium with a read-only state of its own (a block device) keeps
        // the bit there, where every other program sees it too; it is set
        // first so that a refusal leaves the offline bit unchanged as well.
        std::uint32_t error = medium.setReadOnly((values & DISK_ATTRIBUTE_READ_ONLY) != 0);
        if (error == ERROR_SUCCESS) {
          mask &= ~DISK_ATTRIBUTE_READ_ONLY;
          attributes &= ~DISK_ATTRIBUTE_READ_ONLY;
        } else if (error != ERROR_NOT_SUPPORTED) {
          return error;
        }
      }
      bool wasOffline = (attributes & DISK_ATTRIBUTE_OFFLINE) != 0;
      attributes = (attributes & ~mask) | (values & mask);
      // Bringing a disk online again re-reads its table.
      if (wasOffline && (attributes & DISK_ATTRIBUTE_OFFLINE) == 0 && open.lockError == ERROR_SUCCESS) {
        medium.tableChanged();
      }
      return ERROR_SUCCESS;
    }
    case IOCTL_STORAGE_QUERY_PROPERTY: {
      // The device descriptor and the access alignment, by the standard
      // query (type 0).
      if (inputSize < 8) return ERROR_INVALID_PARAMETER;
      std::span<const std::uint8_t> query(input, inputSize);
      const std::uint32_t property = readLe32(query, 0);
      if (readLe32(query, 4) != 0) return ERROR_NOT_SUPPORTED;
      if (property == kStorageAccessAlignmentProperty) {
        if (outputSize < kAccessAlignmentSize) return ERROR_INSUFFICIENT_BUFFER;
        std::span<std::uint8_t> record(output, kAccessAlignmentSize);
        std::fill(record.begin(), record.end(), 0);
        const PhysicalSectors physical = medium.physicalSectors();
        writeLe32(record, kAlignmentVersionOffset, kAccessAlignmentSize);
        writeLe32(record, kAlignmentSizeOffset, kAccessAlignmentSize);
        writeLe32(record, kAlignmentLogicalSectorOffset, medium.sectorSize());
        writeLe32(record, kAlignmentPhysicalSectorOffset, physical.size);
        writeLe32(record, kAlignmentSectorOffsetOffset, physical.alignmentOffset);
        returned = kAccessAlignmentSize;
        return ERROR_SUCCESS;
      }
      if (property != kStorageDeviceProperty) return ERROR_NOT_SUPPORTED;
      MediumDescription about = medium.description();
      return BuildStorageDescriptor(about.vendor, about.product, about.revision, about.serial, about.removable,
                                    about.busType, output, outputSize, returned);
    }
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

std::unique_ptr<DevicePort> PortForDiskOptions(std::vector<std::string>& args, std::string& error,
                                               const std::function<std::unique_ptr<DevicePort>()>& machineDisks) {
  DiskMap disks;
  if (auto malformed = TakeDiskOptions(args, disks)) {
    error = *malformed;
    return nullptr;
  }
  error.clear();
  if (disks.empty()) return machineDisks();
  return std::make_unique<EmulatedPort>(std::move(disks));
}

}  // namespace kestrin
