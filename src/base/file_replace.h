// Writing a whole file so that a reader sees either the old content or the
// new one, never a part: the bytes go to a new file in the same folder, which
// is synced and then renamed over the target.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace cmx {

struct FileWriteError {
  std::optional<int> error_number;  // the system's, when it reported one
  std::string message;              // "{description} (os error {n})" for those
};

// The new file gets the target's permission bits when the target exists,
// else 0o666 less the process's file-creation mask. A symbolic link is
// followed to the file it names. On failure the new file is removed and the
// target is left as it was. Calls nothing of Python.
Result<void, FileWriteError> replace_file_contents(const std::string& path, std::string_view bytes);

}  // namespace cmx
