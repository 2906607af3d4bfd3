// The per-object borrow: a second caller fails at once with the borrow error
// instead of waiting or racing; a failed caller leaves the flag as it was.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "session/borrow.h"

namespace cmx::session {
namespace {

TEST(Borrow, SharedAndExclusiveRules) {
  BorrowFlag flag;
  {
    auto shared1 = flag.try_shared();
    auto shared2 = flag.try_shared();
    ASSERT_TRUE(shared1 && shared2);
    EXPECT_EQ(flag.state(), 2);
    EXPECT_FALSE(flag.try_exclusive());  // "Already borrowed"
    EXPECT_EQ(flag.state(), 2);
  }
  EXPECT_EQ(flag.state(), 0);
  {
    auto exclusive = flag.try_exclusive();
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(flag.state(), -1);
    EXPECT_FALSE(flag.try_shared());     // "Already mutably borrowed"
    EXPECT_FALSE(flag.try_exclusive());  // "Already borrowed"
    EXPECT_EQ(flag.state(), -1);
  }
  EXPECT_EQ(flag.state(), 0);
}

TEST(Borrow, SecondThreadFailsInsteadOfRacing) {
  BorrowFlag flag;
  std::vector<int> data(1000, 0);
  std::latch held(1);
  std::latch tried(1);
  std::atomic<bool> refused{false};
  std::thread writer([&] {
    auto exclusive = flag.try_exclusive();
    ASSERT_TRUE(exclusive);
    for (int& value : data) value = 1;
    held.count_down();
    tried.wait();  // keep the borrow until the reader has tried
    for (int& value : data) value = 2;
  });
  std::thread reader([&] {
    held.wait();
    auto shared = flag.try_shared();
    refused = !shared.has_value();
    tried.count_down();
  });
  writer.join();
  reader.join();
  EXPECT_TRUE(refused);
  EXPECT_EQ(flag.state(), 0);
  // Many readers meanwhile share it; none ever sees a half-written vector.
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      for (int round = 0; round < 200; ++round) {
        if (auto shared = flag.try_shared()) {
          const int first = data.front();
          for (int value : data) torn += value != first;
        }
      }
    });
  }
  std::thread writer2([&] {
    for (int round = 0; round < 200; ++round) {
      if (auto exclusive = flag.try_exclusive()) {
        for (int& value : data) value = round;
      }
    }
  });
  for (auto& thread : readers) thread.join();
  writer2.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(flag.state(), 0);
}

}  // namespace
}  // namespace cmx::session
