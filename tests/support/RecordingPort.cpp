#include "RecordingPort.h"

#include <cstring>

namespace kestrin::test {

std::vector<std::uint32_t> RecordingPort::requestCodes() const {
  std::vector<std::uint32_t> codes;
  for (const PortCall& call : calls) {
    if (call.kind == PortCall::Kind::Control) codes.push_back(call.code);
  }
  return codes;
}

std::vector<PortCall> RecordingPort::requests(std::uint32_t code) const {
  std::vector<PortCall> found;
  for (const PortCall& call : calls) {
    if (call.kind == PortCall::Kind::Control && call.code == code) found.push_back(call);
  }
  return found;
}

std::size_t RecordingPort::openCount() const {
  std::size_t n = 0;
  for (const PortCall& call : calls) n += call.kind == PortCall::Kind::Open ? 1 : 0;
  return n;
}

std::size_t RecordingPort::closeCount() const {
  std::size_t n = 0;
  for (const PortCall& call : calls) n += call.kind == PortCall::Kind::Close ? 1 : 0;
  return n;
}

DiskHandle RecordingPort::OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) {
  PortCall call;
  call.kind = PortCall::Kind::Open;
  call.path = path;
  call.access = access;
  call.attributes = attributes;
  DiskHandle handle = kInvalidHandle;
  if (m_openError != 0) {
    m_lastError = m_openError;
  } else if (m_inner != nullptr) {
    handle = m_inner->OpenDisk(path, access, attributes);
    if (handle == kInvalidHandle) m_lastError = m_inner->LastError();
  } else {
    handle = m_nextHandle++;
  }
  call.handle = handle;
  call.succeeded = handle != kInvalidHandle;
  calls.push_back(call);
  return handle;
}

bool RecordingPort::DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize,
                                void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) {
  PortCall call;
  call.kind = PortCall::Kind::Control;
  call.handle = handle;
  call.code = code;
  call.outputSize = outputSize;
  if (input != nullptr && inputSize > 0) {
    const auto* bytes = static_cast<const std::uint8_t*>(input);
    call.input.assign(bytes, bytes + inputSize);
  }
  bool ok = false;
  if (handle == kInvalidHandle) {
    m_lastError = ERROR_INVALID_HANDLE;
  } else if (auto failure = m_failures.find(code); failure != m_failures.end()) {
    m_lastError = failure->second;
  } else if (m_inner != nullptr) {
    ok = m_inner->DiskControl(handle, code, input, inputSize, output, outputSize, bytesReturned);
    if (!ok) m_lastError = m_inner->LastError();
  } else {
    ok = answer(code, input, inputSize, output, outputSize);
  }
  call.succeeded = ok;
  calls.push_back(call);
  return ok;
}

bool RecordingPort::answer(std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                           std::uint32_t outputSize) {
  auto* out = static_cast<std::uint8_t*>(output);
  switch (code) {
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
      // Like the system: the header and the reported slots only; bytes past
      // the last reported slot stay as the caller had them.
      std::uint32_t count = layout.partitionCount();
      std::size_t used = kLayoutHeaderSize + kLayoutSlotSize * count;
      if (count > kLayoutSlotCount || outputSize < used) {
        m_lastError = ERROR_INSUFFICIENT_BUFFER;
        return false;
      }
      std::memcpy(out, layout.data(), used);
      return true;
    }
    case IOCTL_DISK_SET_DRIVE_LAYOUT_EX:
      if (inputSize < kLayoutBufferSize) {
        m_lastError = ERROR_INVALID_PARAMETER;
        return false;
      }
      std::memcpy(layout.data(), input, kLayoutBufferSize);
      return true;
    case IOCTL_DISK_GET_LENGTH_INFO:
      if (outputSize < 8) {
        m_lastError = ERROR_INSUFFICIENT_BUFFER;
        return false;
      }
      for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(length) >> (8 * i));
      return true;
    case IOCTL_DISK_GET_DISK_ATTRIBUTES:
      if (outputSize < 16) {
        m_lastError = ERROR_INSUFFICIENT_BUFFER;
        return false;
      }
      std::memset(out, 0, 16);
      for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<std::uint8_t>(attributes >> (8 * i));
      return true;
    case IOCTL_DISK_SET_DISK_ATTRIBUTES: {
      if (inputSize < 24) {
        m_lastError = ERROR_INVALID_PARAMETER;
        return false;
      }
      const auto* in = static_cast<const std::uint8_t*>(input);
      std::uint64_t values = 0;
      std::uint64_t mask = 0;
      for (int i = 0; i < 8; ++i) {
        values |= static_cast<std::uint64_t>(in[8 + i]) << (8 * i);
        mask |= static_cast<std::uint64_t>(in[16 + i]) << (8 * i);
      }
      attributes = (attributes & ~mask) | (values & mask);
      return true;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX:
      if (outputSize < kGeometryExSize) {
        m_lastError = ERROR_INSUFFICIENT_BUFFER;
        return false;
      }
      std::memset(out, 0, kGeometryExSize);
      for (int i = 0; i < 4; ++i)
        out[kGeometryBytesPerSectorOffset + i] = static_cast<std::uint8_t>(sectorSize >> (8 * i));
      for (int i = 0; i < 8; ++i) {
        out[kGeometryDiskSizeOffset + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(raw.size()) >> (8 * i));
      }
      return true;
    case IOCTL_DISK_CREATE_DISK:
    case IOCTL_DISK_DELETE_DRIVE_LAYOUT:
    case IOCTL_DISK_UPDATE_PROPERTIES:
    case FSCTL_DISMOUNT_VOLUME:
      return true;
    default:
      m_lastError = ERROR_INVALID_FUNCTION;
      return false;
  }
}

void RecordingPort::CloseDisk(DiskHandle handle) {
  PortCall call;
  call.kind = PortCall::Kind::Close;
  call.handle = handle;
  call.succeeded = true;
  calls.push_back(call);
  if (m_inner != nullptr) m_inner->CloseDisk(handle);
}

bool RecordingPort::rawCall(PortCall::Kind kind, DiskHandle handle, std::uint64_t offset, void* buffer,
                            std::uint32_t size, std::uint32_t* done) {
  PortCall call;
  call.kind = kind;
  call.handle = handle;
  call.offset = offset;
  call.outputSize = size;
  if (kind == PortCall::Kind::Write)
    call.input.assign(static_cast<std::uint8_t*>(buffer), static_cast<std::uint8_t*>(buffer) + size);
  bool ok = false;
  if (handle == kInvalidHandle) {
    m_lastError = ERROR_INVALID_HANDLE;
  } else if (m_inner != nullptr) {
    switch (kind) {
      case PortCall::Kind::Read:
        ok = m_inner->ReadDisk(handle, offset, buffer, size, done);
        break;
      case PortCall::Kind::Write:
        ok = m_inner->WriteDisk(handle, offset, buffer, size, done);
        break;
      default:
        ok = m_inner->FlushDisk(handle);
        break;
    }
    if (!ok) m_lastError = m_inner->LastError();
  } else if (kind == PortCall::Kind::Flush) {
    ok = true;
  } else if (offset % sectorSize != 0 || size % sectorSize != 0) {
    m_lastError = ERROR_INVALID_PARAMETER;
  } else if (offset > raw.size() || size > raw.size() - offset) {
    m_lastError = ERROR_SECTOR_NOT_FOUND;
  } else {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (kind == PortCall::Kind::Read) {
      std::memcpy(bytes, raw.data() + offset, size);
    } else {
      std::memcpy(raw.data() + offset, bytes, size);
    }
    if (done != nullptr) *done = size;
    ok = true;
  }
  call.succeeded = ok;
  calls.push_back(call);
  return ok;
}

bool RecordingPort::ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                             std::uint32_t* bytesRead) {
  return rawCall(PortCall::Kind::Read, handle, offset, buffer, size, bytesRead);
}

bool RecordingPort::WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                              std::uint32_t* bytesWritten) {
  // Only a read writes into the buffer.
  return rawCall(PortCall::Kind::Write, handle, offset, const_cast<void*>(buffer), size, bytesWritten);
}

bool RecordingPort::FlushDisk(DiskHandle handle) {
  return rawCall(PortCall::Kind::Flush, handle, 0, nullptr, 0, nullptr);
}

std::uint32_t RecordingPort::LastError() const { return m_lastError; }

std::string RecordingPort::ErrorMessage(std::uint32_t code) const {
  if (m_inner != nullptr) return m_inner->ErrorMessage(code);
  return "Test error " + std::to_string(code) + ".\r\n";
}

}  // namespace kestrin::test
