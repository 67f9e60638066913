#pragma once
// The error classes the core raises. `KestrinError` is the general error
// class (a failed layout read or delete); `ConversionError` is raised when
// typed text does not convert to a number, a boolean or a GUID.

#include <stdexcept>
#include <string>

namespace kestrin {

class KestrinError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ConversionError : public KestrinError {
 public:
  using KestrinError::KestrinError;
};

}  // namespace kestrin
