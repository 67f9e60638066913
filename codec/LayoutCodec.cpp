#include "LayoutCodec.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "ControlCodes.h"
#include "ErrorCodes.h"
#include "GrowingRecord.h"
#include "RequestRecords.h"

namespace kestrin {

namespace {

bool hasGptSignatureAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  static constexpr char kSignature[] = "EFI PART";
  return bytes.size() >= offset + 8 && std::memcmp(bytes.data() + offset, kSignature, 8) == 0;
}

}  // namespace

std::uint32_t DetectSectorSize(std::span<const std::uint8_t> firstBytes) {
  if (hasGptSignatureAt(firstBytes, 512)) return 512;
  if (hasGptSignatureAt(firstBytes, 4096)) return 4096;
  return 512;
}

std::uint32_t DecodeLayout(SectorReader& medium, LayoutBuffer& out) {
  out.clear();
  out.setPartitionStyle(kStyleRaw);
  if (medium.sectorCount() == 0) return ERROR_SUCCESS;
  std::vector<std::uint8_t> sector0(medium.sectorSize());
  if (std::uint32_t error = medium.readSectors(0, sector0); error != ERROR_SUCCESS) return error;
  if (!HasMbrBootSignature(sector0)) return ERROR_SUCCESS;
  if (HasProtectiveEntry(sector0)) {
    // A protective MBR stands for a GPT; when neither GPT header is valid the
    // disk reads as RAW rather than as the protective entry.
    bool found = false;
    LayoutBuffer gpt(out.slotCapacity());
    if (std::uint32_t error = DecodeGpt(medium, gpt, found); error != ERROR_SUCCESS) return error;
    if (found) out = gpt;
    return ERROR_SUCCESS;
  }
  return DecodeMbr(medium, out);
}

std::uint32_t DecodeWholeLayout(SectorReader& medium, LayoutBuffer& out) {
  return ReadWithGrowingRecord(out, [&medium](LayoutBuffer& record) { return DecodeLayout(medium, record); });
}

std::uint32_t EncodeLayout(SectorDevice& medium, const LayoutBuffer& layout, std::uint32_t inputSize,
                           check::Findings* why) {
  check::Findings unasked;
  check::Findings& findings = why != nullptr ? *why : unasked;
  const std::uint32_t count = layout.partitionCount();
  std::optional<check::Finding> record = check::TooManySlots(count);
  if (!record) record = check::RecordTooShort(count, inputSize);
  if (record) {
    findings.push_back(std::move(*record));
    return ERROR_INVALID_PARAMETER;
  }
  switch (layout.partitionStyle()) {
    case kStyleMbr: {
      // A GPT that the new MBR replaces must not survive behind it.
      LayoutBuffer current;
      bool gptPresent = false;
      if (std::uint32_t error = DecodeGpt(medium, current, gptPresent); error != ERROR_SUCCESS) return error;
      if (std::uint32_t error = EncodeMbr(medium, layout, &findings); error != ERROR_SUCCESS) return error;
      return gptPresent ? WipeGpt(medium) : ERROR_SUCCESS;
    }
    case kStyleGpt:
      return EncodeGpt(medium, layout, &findings);
    default:
      findings.push_back(check::LayoutStyleNotWritable(layout.partitionStyle()));
      return ERROR_INVALID_PARAMETER;
  }
}

std::uint32_t CreateFreshLayout(SectorDevice& medium, std::span<const std::uint8_t> record) {
  if (record.size() < kCreateDiskSize) return ERROR_INVALID_PARAMETER;
  switch (readLe32(record, kCreateDiskStyleOffset)) {
    case kStyleMbr: {
      // The new MBR first: from then on the disk reads as the empty MBR even
      // if the old GPT headers are not yet destroyed.
      if (std::uint32_t error = WriteEmptyMbr(medium, readLe32(record, kCreateDiskMbrSignatureOffset)); error != ERROR_SUCCESS) return error;
      return WipeGpt(medium);
    }
    case kStyleGpt: {
      Guid diskId;
      std::memcpy(diskId.bytes.data(), record.data() + kCreateDiskGptDiskIdOffset, diskId.bytes.size());
      return WriteEmptyGpt(medium, diskId, readLe32(record, kCreateDiskGptMaxCountOffset));
    }
    case kStyleRaw:
      return DeleteLayout(medium);
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

bool IsTableWrite(std::uint32_t code) {
  return code == IOCTL_DISK_SET_DRIVE_LAYOUT_EX || code == IOCTL_DISK_CREATE_DISK ||
         code == IOCTL_DISK_DELETE_DRIVE_LAYOUT;
}

std::uint32_t ApplyTableWrite(SectorDevice& medium, std::uint32_t code, std::span<const std::uint8_t> input) {
  switch (code) {
    case IOCTL_DISK_SET_DRIVE_LAYOUT_EX: {
      if (input.size() < kLayoutHeaderSize) return ERROR_INVALID_PARAMETER;
      LayoutBuffer layout;
      std::copy_n(input.begin(), std::min<std::size_t>(input.size(), layout.size()), layout.data());
      return EncodeLayout(medium, layout, static_cast<std::uint32_t>(input.size()));
    }
    case IOCTL_DISK_CREATE_DISK:
      if (input.size() < kCreateDiskSize) return ERROR_INVALID_PARAMETER;
      return CreateFreshLayout(medium, input.first(kCreateDiskSize));
    case IOCTL_DISK_DELETE_DRIVE_LAYOUT:
      return DeleteLayout(medium);
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

std::uint32_t DeleteLayout(SectorDevice& medium) {
  // Sector 0 first: without its boot signature the disk reads as RAW at once.
  if (std::uint32_t error = ClearMbr(medium); error != ERROR_SUCCESS) return error;
  return WipeGpt(medium);
}

}  // namespace kestrin
