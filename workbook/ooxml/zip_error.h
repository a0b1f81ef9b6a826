#pragma once
#include <stdexcept>

namespace linograf::workbook {

// Failures of the ZIP package layer: missing or unreadable entries, damaged data, zlib errors.
class EZipError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace linograf::workbook
