// Writing a whole file so that a failure never leaves the target half
// written: the bytes go to a new file beside it, reach the disk, and only then
// replace the target by a rename.
#pragma once
#include <string>
#include <string_view>
#include "base/result.h"
#include "pyext/file_read.h"

namespace cmx::pyext {

// Calls no Python API: runs with the interpreter lock released. An existing
// target keeps its permission bits; on failure the target is as it was and no
// temporary file remains.
Result<void, FileError> write_file_replacing(const std::string& path, std::string_view bytes);

}  // namespace cmx::pyext
