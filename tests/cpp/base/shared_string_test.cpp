#include "base/shared_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace cmx {
namespace {

TEST(TextArena, MakesTheSameTextsAsTheHeap) {
  const std::string cases[] = {
      "x",
      std::string("a\0b", 3),
      "A1*2+1",
      std::string(TextArena::kMaxArenaText - 1, 'm'),
      std::string(TextArena::kMaxArenaText, 'n'),
      std::string(TextArena::kMaxArenaText + 1, 'o'),
      std::string(TextArena::kBlockBytes, 'p'),
  };
  TextArena arena;
  for (const std::string& text : cases) {
    const SharedString made = arena.make(text);
    EXPECT_EQ(made, SharedString(text));
    EXPECT_EQ(made.size(), text.size());
    EXPECT_EQ(made.view(), text);
    EXPECT_EQ(made.data()[made.size()], '\0');
    EXPECT_EQ(made.use_count(), 1u);
  }
  const SharedString empty = arena.make("");
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.use_count(), 0u);  // no storage at all
}

// Texts spread over many blocks, copied, outliving the arena and released in
// a shuffled order: every text keeps its bytes until its last copy goes, and
// the sanitizer builds see each block freed exactly once.
TEST(TextArena, BlocksLiveUntilTheirLastText) {
  std::vector<SharedString> texts;
  std::vector<std::string> expected;
  {
    TextArena arena;
    for (int i = 0; i < 40000; ++i) {
      expected.push_back("cell text " + std::to_string(i) + std::string(static_cast<size_t>(i % 37), '.'));
      texts.push_back(arena.make(expected.back()));
      // Some texts die while their block is still being filled.
      if (i % 3 == 0) SharedString dropped = arena.make("short-lived");
    }
  }
  std::vector<size_t> order(texts.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  std::vector<SharedString> copies(texts.begin(), texts.begin() + 1000);
  for (size_t i : order) {
    ASSERT_EQ(texts[i].view(), expected[i]);
    texts[i] = SharedString();
  }
  for (size_t i = 0; i < copies.size(); ++i) EXPECT_EQ(copies[i].view(), expected[i]);
}

// The reading thread makes texts while other threads release copies of
// earlier ones, including of the block still being filled.
TEST(TextArena, ReleasesOnOtherThreads) {
  constexpr int kThreads = 4;
  constexpr int kTexts = 20000;
  TextArena arena;
  std::vector<std::vector<SharedString>> handed(kThreads);
  std::vector<SharedString> kept;
  for (int i = 0; i < kTexts; ++i) {
    SharedString made = arena.make("formula " + std::to_string(i));
    handed[static_cast<size_t>(i % kThreads)].push_back(made);
    if (i % 100 == 0) kept.push_back(made);
  }
  std::vector<std::thread> threads;
  for (auto& batch : handed) threads.emplace_back([&batch] { batch.clear(); });
  std::optional<SharedString> during = arena.make("made while others release");
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(during->view(), "made while others release");
  for (size_t k = 0; k < kept.size(); ++k) EXPECT_EQ(kept[k].view(), "formula " + std::to_string(k * 100));
}

}  // namespace
}  // namespace cmx
