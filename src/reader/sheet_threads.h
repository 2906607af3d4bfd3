// Reading the big sheets of one workbook on several cores. Each job is a pure
// function of its part's bytes, so a result computed ahead on another thread
// is the one the reader would have computed in its place; the reader still
// walks the sheets in order and reports the first failure as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "xml/streaming.h"

namespace cmx::reader {

// A sheet part below this many bytes reads too quickly for a thread to pay.
inline constexpr size_t kThreadedSheetBytes = size_t{1} << 20;
// Likewise a sheet of fewer cells copies too quickly.
inline constexpr size_t kThreadedSheetCells = 65536;

struct ReadOptions {
  // Threads for the big sheets: 0 picks by the machine, 1 reads in line.
  unsigned threads = 0;
  // A lean record leaves what only a save needs in the archive: no copy of
  // the model as read, no worksheet bytes, and sheet templates without their
  // sheetData text. A save reads the package again for the complete record.
  bool lean = false;
  // The window that sheets left sealed in the archive are read through;
  // only tests lower it.
  size_t stream_window = xml::kStreamWindow;
};

// The threads to use for `jobs` big sheets: none below two jobs.
unsigned sheet_threads(const ReadOptions& options, size_t jobs);

// Runs job(0) … job(count - 1) on `threads` threads (the caller's among
// them), each exactly once, and returns when all are done.
void run_sheet_jobs(size_t count, unsigned threads, const std::function<void(size_t)>& job);

}  // namespace cmx::reader
