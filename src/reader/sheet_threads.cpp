#include "reader/sheet_threads.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace cmx::reader {

unsigned sheet_threads(const ReadOptions& options, size_t jobs) {
  if (jobs < 2 || options.threads == 1) return 1;
  const unsigned machine = std::max(1u, std::thread::hardware_concurrency());
  const unsigned wanted = options.threads == 0 ? machine : options.threads;
  return static_cast<unsigned>(std::min<size_t>(wanted, jobs));
}

void run_sheet_jobs(size_t count, unsigned threads, const std::function<void(size_t)>& job) {
  std::atomic<size_t> next{0};
  std::mutex failed_lock;
  std::exception_ptr failed;
  // An exception (memory exhausted) must not end the process from a helper
  // thread: it stops the work and is rethrown on the caller's thread.
  auto work = [&] {
    try {
      for (size_t at = next.fetch_add(1); at < count; at = next.fetch_add(1)) job(at);
    } catch (...) {
      next.store(count);
      const std::lock_guard<std::mutex> hold(failed_lock);
      if (!failed) failed = std::current_exception();
    }
  };
  std::vector<std::thread> helpers;
  const unsigned extra = threads > 1 ? threads - 1 : 0;
  helpers.reserve(extra);
  try {
    for (unsigned i = 0; i < extra; ++i) helpers.emplace_back(work);
  } catch (const std::system_error&) {
    // No thread to be had: the ones running, and this one, do the rest.
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failed) std::rethrow_exception(failed);
}

}  // namespace cmx::reader
