#include "ErrorText.h"

#include "Port.h"

namespace kestrin {

std::string EmulatedErrorText(std::uint32_t code) {
  switch (code) {
    case ERROR_SUCCESS:
      return "The operation completed successfully.\r\n";
    case ERROR_INVALID_FUNCTION:
      return "This disk does not support the request.\r\n";
    case ERROR_FILE_NOT_FOUND:
      return "The disk image cannot be found.\r\n";
    case ERROR_ACCESS_DENIED:
      return "Access to the disk is denied.\r\n";
    case ERROR_INVALID_HANDLE:
      return "The disk handle is not valid.\r\n";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "There is not enough memory for the request.\r\n";
    case ERROR_WRITE_PROTECT:
      return "The disk is write-protected.\r\n";
    case ERROR_NOT_READY:
      return "The disk is not ready.\r\n";
    case ERROR_CRC:
      return "The data on the disk fails its checksum.\r\n";
    case ERROR_SECTOR_NOT_FOUND:
      return "The sector lies beyond the end of the disk.\r\n";
    case ERROR_WRITE_FAULT:
      return "The disk cannot be written.\r\n";
    case ERROR_READ_FAULT:
      return "The disk cannot be read.\r\n";
    case ERROR_LOCK_VIOLATION:
      return "Another process holds a lock on the disk.\r\n";
    case ERROR_NOT_SUPPORTED:
      return "The request is not supported for this disk.\r\n";
    case ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect.\r\n";
    case ERROR_DISK_FULL:
      return "There is no space left on the medium.\r\n";
    case ERROR_INSUFFICIENT_BUFFER:
      return "The layout does not fit the buffer passed.\r\n";
    case ERROR_DIRECTORY:
      return "The path names a directory, not a disk.\r\n";
    case ERROR_BAD_DEVICE:
      return "The path names neither a disk image file nor a block device.\r\n";
    case ERROR_BUSY:
      return "The disk is busy: another program is changing it.\r\n";
    case ERROR_DEVICE_IN_USE:
      return "A partition that the change would remove, move or shrink is in use.\r\n";
    case ERROR_IO_DEVICE:
      return "An input/output error occurred on the disk.\r\n";
    default:
      return "Unknown error " + std::to_string(code) + ".\r\n";
  }
}

}  // namespace kestrin
