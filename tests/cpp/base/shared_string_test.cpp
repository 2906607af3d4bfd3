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

TEST(SharedString, CopiesShareStorageAndCompareByContent) {
  SharedString empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.view(), "");
  SharedString a("hello");
  SharedString b = a;
  EXPECT_TRUE(a.same_storage(b));
  EXPECT_EQ(a.use_count(), 2u);
  SharedString c(std::string("hello"));
  EXPECT_FALSE(a.same_storage(c));
  EXPECT_EQ(a, c);
  SharedString moved = std::move(b);
  EXPECT_EQ(moved.view(), "hello");
  EXPECT_EQ(a.use_count(), 2u);
  moved = SharedString("other");
  EXPECT_EQ(a.use_count(), 1u);
  a = a;  // self-assignment keeps the text
  EXPECT_EQ(a.view(), "hello");
  EXPECT_LT(SharedString("abc"), SharedString("abd"));
  std::string with_nul("a\0b", 3);
  EXPECT_EQ(SharedString(with_nul).size(), 3u);
}

// Every state, however it was reached, answers and compares as the
// std::optional<SharedString> it replaces; a present empty text is never
// taken for an absent one.
TEST(OptionalSharedString, AgreesWithStdOptional) {
  using Std = std::optional<SharedString>;
  const Std states[] = {std::nullopt, SharedString(), SharedString(""), SharedString("1+1"),
                        SharedString("1+1"), SharedString("A1")};
  auto built = [](const Std& state) {
    std::vector<OptionalSharedString> out;
    out.emplace_back(state);
    out.emplace_back(Std(state));
    OptionalSharedString assigned = SharedString("old");
    assigned = state;
    out.push_back(assigned);
    OptionalSharedString direct("old");
    if (state) {
      direct.emplace(state->view());
    } else {
      direct = std::nullopt;
    }
    OptionalSharedString moved(direct);
    out.push_back(std::move(moved));
    OptionalSharedString reassigned = state ? OptionalSharedString(std::nullopt) : OptionalSharedString("x");
    if (state) {
      reassigned = *state;
    } else {
      reassigned.reset();
    }
    out.push_back(reassigned);
    return out;
  };
  for (size_t i = 0; i < std::size(states); ++i) {
    for (const OptionalSharedString& a : built(states[i])) {
      SCOPED_TRACE(i);
      ASSERT_EQ(a.has_value(), states[i].has_value());
      EXPECT_EQ(static_cast<bool>(a), states[i].has_value());
      EXPECT_EQ(a == std::nullopt, !states[i]);
      if (a) {
        EXPECT_EQ(a->view(), states[i]->view());
        EXPECT_EQ((*a).size(), states[i]->size());
        EXPECT_EQ(a->empty(), states[i]->empty());
        EXPECT_EQ(a->data()[a->size()], '\0');
        EXPECT_EQ(*a, SharedString(states[i]->view()));
      }
      for (size_t j = 0; j < std::size(states); ++j) {
        for (const OptionalSharedString& b : built(states[j])) {
          EXPECT_EQ(a == b, states[i] == states[j]) << i << " vs " << j;
        }
      }
    }
  }
}

// A present text is held, not copied, and let go on reset; the present
// empty text's copies retain and release like any other.
TEST(OptionalSharedString, HoldsAndReleasesStorage) {
  const SharedString text("SUM(A1:A9)");
  OptionalSharedString held = text;
  EXPECT_TRUE(held->same_storage(text));
  EXPECT_EQ(text.use_count(), 2u);
  held.reset();
  EXPECT_FALSE(held);
  EXPECT_EQ(text.use_count(), 1u);

  const OptionalSharedString empty = SharedString();
  const uint32_t start = empty->use_count();
  {
    const std::vector<OptionalSharedString> copies(3, empty);
    SharedString out = *empty;
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(out, SharedString());
    EXPECT_EQ(empty->use_count(), start + 4);
  }
  EXPECT_EQ(empty->use_count(), start);
}

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
