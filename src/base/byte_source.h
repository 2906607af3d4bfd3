// Bytes that arrive in pieces, for a reader that holds only a window of them.
#pragma once

#include <cstddef>

namespace cmx {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Writes up to `max` bytes to `out` and returns how many; 0 only at the end
  // of the input, which a source that failed also reports.
  virtual size_t read(char* out, size_t max) = 0;
};

}  // namespace cmx
