// Tests of the balanced tree index: random operations checked against
// std::map in every node form, the ordered searches and in-order walks, node
// relocation, switching between short and parent-linked nodes, and the
// argument and state checks.
#include "mapengine/format/base/TiBti.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

// Records of each node form. In the short forms the key sits exactly where
// the parent link of the long form would be, so a short tree that wrote a
// parent link would corrupt keys and fail the sort check.
struct LongRec {
  TiBtiNode node;
  int key;
};
struct ShortRec {
  TiBtiShortNode node;
  int key;
};
struct Long32Rec {
  TiBtiNode32 node;
  int key;
};
struct Short32Rec {
  std::uint32_t left;
  std::uint32_t right;
  std::int8_t balance;
  std::uint8_t spare[3];
  int key;
};
static_assert(offsetof(ShortRec, key) == offsetof(TiBtiNode, parent));
static_assert(offsetof(Short32Rec, key) == offsetof(TiBtiNode32, parent));

std::vector<std::int32_t>* g_modes = nullptr;  // modes seen by the comparator, when recording

template <class Rec>
std::int32_t CompareRecs(const void* key, const void* node, void*, std::int32_t mode) {
  if (g_modes != nullptr) g_modes->push_back(mode);
  const int a = static_cast<const Rec*>(key)->key;
  const int b = static_cast<const Rec*>(node)->key;
  return a < b ? -1 : (a > b ? 1 : 0);
}

// A fixed pool of records; 32-bit-linked trees address them by index + 1.
template <class Rec>
struct Pool {
  explicit Pool(std::size_t n) : recs(n) { std::memset(static_cast<void*>(recs.data()), 0, n * sizeof(Rec)); }
  static void* ToNode(void* context, std::uint32_t handle) {
    auto* pool = static_cast<Pool*>(context);
    EXPECT_GE(handle, 1u);
    EXPECT_LE(handle, pool->recs.size());
    return &pool->recs[handle - 1];
  }
  static std::uint32_t ToHandle(void* context, const void* node) {
    auto* pool = static_cast<Pool*>(context);
    return static_cast<std::uint32_t>(static_cast<const Rec*>(node) - pool->recs.data()) + 1;
  }
  std::vector<Rec> recs;
};

template <class Rec>
constexpr bool kIs32 = std::is_same_v<Rec, Long32Rec> || std::is_same_v<Rec, Short32Rec>;
template <class Rec>
constexpr bool kIsShort = std::is_same_v<Rec, ShortRec> || std::is_same_v<Rec, Short32Rec>;

template <class Rec>
void InitTree(TiBtiTree* tree, Pool<Rec>* pool) {
  if constexpr (kIs32<Rec>) {
    ASSERT_EQ(TiBtiInitLinked32(tree, CompareRecs<Rec>, nullptr, kIsShort<Rec> ? 1 : 0, Pool<Rec>::ToNode,
                                Pool<Rec>::ToHandle, pool),
              1);
  } else {
    (void)pool;
    ASSERT_EQ(TiBtiInit(tree, CompareRecs<Rec>, nullptr, kIsShort<Rec> ? 1 : 0), 1);
  }
}

// Walks the whole tree both ways and compares with the model.
template <class Rec>
void ExpectSameOrder(TiBtiTree* tree, const std::map<int, Rec*>& model) {
  void* n = nullptr;
  auto it = model.begin();
  for (int r = TiBtiLeast(tree, &n); r == 1; r = TiBtiNext(tree, &n), ++it) {
    ASSERT_NE(it, model.end());
    ASSERT_EQ(n, it->second);
  }
  ASSERT_EQ(it, model.end());
  EXPECT_EQ(n, nullptr);
  auto rit = model.rbegin();
  for (int r = TiBtiGreatest(tree, &n); r == 1; r = TiBtiPrevious(tree, &n), ++rit) {
    ASSERT_NE(rit, model.rend());
    ASSERT_EQ(n, rit->second);
  }
  ASSERT_EQ(rit, model.rend());
}

template <class Rec>
void ExpectHealthy(TiBtiTree* tree, std::size_t size) {
  const std::int32_t height = TiBtiVerifyBalance(tree);
  ASSERT_GE(height, 0);
  // An AVL tree of n records is at most 1.4405 log2(n + 2) - 0.3277 high.
  ASSERT_LE(height, static_cast<int>(1.4405 * std::log2(static_cast<double>(size) + 2) - 0.3277) + 0);
  ASSERT_EQ(TiBtiVerifySort(tree), 1);
  ASSERT_EQ(TiBtiNNodes(tree), static_cast<std::int32_t>(size));
}

// Expected answer of an ordered search in the model (nullptr for none).
template <class Rec>
Rec* ModelOrdered(const std::map<int, Rec*>& model, int key, int mode) {
  switch (mode) {
    case 1: {
      auto it = model.lower_bound(key);
      return it == model.end() ? nullptr : it->second;
    }
    case 2: {
      auto it = model.upper_bound(key);
      return it == model.end() ? nullptr : it->second;
    }
    case -1: {
      auto it = model.upper_bound(key);
      return it == model.begin() ? nullptr : std::prev(it)->second;
    }
    default: {
      auto it = model.lower_bound(key);
      return it == model.begin() ? nullptr : std::prev(it)->second;
    }
  }
}

std::int32_t OrderedSearch(TiBtiTree* tree, const void* key, int mode, void** out) {
  switch (mode) {
    case 1: return TiBtiLeastGe(tree, key, out);
    case 2: return TiBtiLeastGt(tree, key, out);
    case -1: return TiBtiGreatestLe(tree, key, out);
    default: return TiBtiGreatestLt(tree, key, out);
  }
}

template <class Rec>
class TreeModelTest : public ::testing::Test {};

using RecordForms = ::testing::Types<LongRec, ShortRec, Long32Rec, Short32Rec>;
TYPED_TEST_SUITE(TreeModelTest, RecordForms);

// Random inserts, deletes (by key, of the least, and through find and
// DeleteCurrent), ordered searches with short walks, node moves and (for
// records with room for a parent link) switches of the node form; the tree is
// checked after every step and compared in full every 64 steps.
TYPED_TEST(TreeModelTest, MatchesMapUnderRandomOperations) {
  using Rec = TypeParam;
  constexpr int kRecords = 600;
  constexpr int kKeyRange = 900;  // keys are even numbers below 2 * kKeyRange
  Pool<Rec> pool(kRecords);
  std::vector<Rec*> free;
  for (auto& r : pool.recs) free.push_back(&r);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  std::map<int, Rec*> model;
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  auto randomKey = [&] { return static_cast<int>(rng() % kKeyRange) * 2; };
  auto take = [&](int key) {
    std::uniform_int_distribution<std::size_t> pick(0, free.size() - 1);
    const std::size_t i = pick(rng);
    Rec* r = free[i];
    free[i] = free.back();
    free.pop_back();
    std::memset(static_cast<void*>(r), 0xA5, sizeof(Rec));
    r->key = key;
    return r;
  };
  auto give = [&](Rec* r) {
    std::memset(static_cast<void*>(r), 0x5A, sizeof(Rec));
    free.push_back(r);
  };

  for (int step = 0; step < 6000; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    const int op = static_cast<int>(rng() % 100);
    Rec probe{};
    probe.key = randomKey();
    void* out = reinterpret_cast<void*>(1);
    if (op < 35) {
      // Insert, or find the present record through a probe that must not be linked.
      if (model.count(probe.key) != 0) {
        ASSERT_EQ(TiBtiFindForce(&tree, &probe, 0, &out, 1), 1);
        ASSERT_EQ(out, model[probe.key]);
      } else if (!free.empty()) {
        Rec* r = take(probe.key);
        ASSERT_EQ(TiBtiFindForce(&tree, r, 0, &out, 1), 0);
        ASSERT_EQ(out, r);
        model[r->key] = r;
        ASSERT_EQ(TiBtiVerifyPath(&tree, r, 0), 1);
        ASSERT_EQ(TiBtiCurrent(&tree, &out), 1);
        ASSERT_EQ(out, r);
      }
    } else if (op < 45) {
      const bool present = model.count(probe.key) != 0;
      ASSERT_EQ(TiBtiDelete(&tree, &probe, &out), present ? 1 : 0);
      if (present) {
        ASSERT_EQ(out, model[probe.key]);
        give(model[probe.key]);
        model.erase(probe.key);
      } else {
        ASSERT_EQ(out, nullptr);
      }
    } else if (op < 55) {
      const bool present = model.count(probe.key) != 0;
      ASSERT_EQ(TiBtiFindForce(&tree, &probe, 0, &out, 0), present ? 1 : 0);
      ASSERT_EQ(TiBtiDeleteCurrent(&tree), present ? 1 : 0);
      if (present) {
        give(model[probe.key]);
        model.erase(probe.key);
        ASSERT_EQ(TiBtiCurrent(&tree, &out), 0);
      }
    } else if (op < 58) {
      ASSERT_EQ(TiBtiDelete(&tree, nullptr, &out), model.empty() ? 0 : 1);
      if (!model.empty()) {
        ASSERT_EQ(out, model.begin()->second);
        give(model.begin()->second);
        model.erase(model.begin());
      }
    } else if (op < 85) {
      // Odd keys fall between records, even keys may hit one.
      probe.key += static_cast<int>(rng() % 3) - 1;
      const int modes[] = {-2, -1, 1, 2};
      const int mode = modes[rng() % 4];
      Rec* expected = ModelOrdered(model, probe.key, mode);
      ASSERT_EQ(OrderedSearch(&tree, &probe, mode, &out), expected != nullptr ? 1 : 0);
      ASSERT_EQ(out, expected);
      if (expected == nullptr) continue;
      // Walk a few records on in a random direction.
      const bool forward = (rng() & 1) != 0;
      auto it = model.find(expected->key);
      for (int k = 0; k < 5; ++k) {
        if (forward) {
          ++it;
          const bool more = it != model.end();
          ASSERT_EQ(TiBtiNext(&tree, &out), more ? 1 : 0);
          ASSERT_EQ(out, more ? it->second : nullptr);
          if (!more) break;
        } else {
          const bool more = it != model.begin();
          ASSERT_EQ(TiBtiPrevious(&tree, &out), more ? 1 : 0);
          if (!more) {
            ASSERT_EQ(out, nullptr);
            break;
          }
          --it;
          ASSERT_EQ(out, it->second);
        }
      }
    } else if (op < 90) {
      // Append beyond an end with the extreme modes.
      if (free.empty()) continue;
      const bool high = (rng() & 1) != 0;
      const int key = model.empty() ? 0 : (high ? model.rbegin()->first + 2 : model.begin()->first - 2);
      Rec* r = take(key);
      ASSERT_EQ(TiBtiFindForce(&tree, r, high ? 1 : -1, &out, 1), 0);
      ASSERT_EQ(out, r);
      model[key] = r;
      // A key inside the range is not beyond either end.
      Rec inside{};
      inside.key = model.begin()->first + 1;
      if (inside.key < model.rbegin()->first) {
        ASSERT_EQ(TiBtiFindForce(&tree, &inside, high ? 1 : -1, &out, 1), -1);
        ASSERT_EQ(out, nullptr);
      }
    } else if (op < 96) {
      // Move a record to another slot of the pool.
      if (model.empty() || free.empty()) continue;
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      Rec* from = it->second;
      Rec* to = take(0);
      std::memcpy(static_cast<void*>(to), from, sizeof(Rec));
      ASSERT_EQ(TiBtiMove(&tree, from, to, 0), 1);
      it->second = to;
      give(from);
    } else {
      if constexpr (!kIsShort<Rec>) {
        ASSERT_EQ(TiBtiSetShort(&tree, tree.parentLinks != 0 ? 1 : 0), 1);
      }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectHealthy<Rec>(&tree, model.size()));
    if (step % 64 == 0) {
      ASSERT_NO_FATAL_FAILURE(ExpectSameOrder(&tree, model));
    }
  }
  ASSERT_NO_FATAL_FAILURE(ExpectSameOrder(&tree, model));
}

TYPED_TEST(TreeModelTest, AscendingInsertsStayWithinTheHeightBound) {
  using Rec = TypeParam;
  Pool<Rec> pool(1000);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  for (int i = 0; i < 1000; ++i) {
    pool.recs[i].key = i + 1;
    void* out = nullptr;
    ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, &out, 1), 0);
    const std::int32_t height = TiBtiVerifyBalance(&tree);
    ASSERT_GE(height, 1);
    ASSERT_LE(height, 1.44 * std::log2(static_cast<double>(i + 1)) + 1);
    ASSERT_EQ(TiBtiVerifySort(&tree), 1);
  }
  EXPECT_EQ(TiBtiNNodes(&tree), 1000);
  EXPECT_EQ(TiBtiVerifyBalance(&tree), 10);  // 1000 ascending keys fill a perfect-ish tree
}

TEST(TreeOrderedSearch, EdgesOfTheKeyRange) {
  Pool<LongRec> pool(10);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  for (int i = 0; i < 10; ++i) {
    pool.recs[i].key = 10 * (i + 1);  // 10 .. 100
    ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, nullptr, 1), 0);
  }
  struct Case {
    int key;
    int mode;
    int expectedKey;  // 0 = none
  } cases[] = {
      {101, 1, 0},  {100, 1, 100}, {100, 2, 0},  {55, 1, 60},  {55, 2, 60},   {60, 2, 70},  {9, 1, 10},
      {9, -1, 0},   {10, -1, 10},  {10, -2, 0},  {55, -1, 50}, {50, -2, 40},  {1000, -2, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "key " << c.key << " mode " << c.mode);
    LongRec probe{};
    probe.key = c.key;
    void* out = reinterpret_cast<void*>(1);
    ASSERT_EQ(OrderedSearch(&tree, &probe, c.mode, &out), c.expectedKey != 0 ? 1 : 0);
    if (c.expectedKey == 0) {
      EXPECT_EQ(out, nullptr);
    } else {
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(static_cast<LongRec*>(out)->key, c.expectedKey);
    }
  }
}

TEST(TreeOrderedSearch, ComparatorReceivesTheSearchMode) {
  Pool<LongRec> pool(3);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  for (int i = 0; i < 3; ++i) {
    pool.recs[i].key = i;
    ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, nullptr, 1), 0);
  }
  LongRec probe{};
  probe.key = 1;
  std::vector<std::int32_t> modes;
  g_modes = &modes;
  const std::pair<std::int32_t (*)(TiBtiTree*, const void*, void**), std::int32_t> searches[] = {
      {TiBtiGreatestLt, -2}, {TiBtiGreatestLe, -1}, {TiBtiLeastGe, 1}, {TiBtiLeastGt, 2}};
  for (const auto& [search, mode] : searches) {
    modes.clear();
    ASSERT_EQ(search(&tree, &probe, nullptr), 1);
    ASSERT_FALSE(modes.empty());
    for (std::int32_t m : modes) EXPECT_EQ(m, mode);
  }
  modes.clear();
  ASSERT_EQ(TiBtiFindForce(&tree, &probe, 0, nullptr, 0), 1);
  for (std::int32_t m : modes) EXPECT_EQ(m, 0);
  g_modes = nullptr;
}

TEST(TreeFindForce, PresentKeyLeavesTheTreeUnchanged) {
  Pool<LongRec> pool(8);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  for (int i = 0; i < 7; ++i) {
    pool.recs[i].key = i;
    ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, nullptr, 1), 0);
  }
  std::vector<LongRec> before(pool.recs.begin(), pool.recs.begin() + 7);
  LongRec& twin = pool.recs[7];
  std::memset(static_cast<void*>(&twin), 0x77, sizeof(twin));
  twin.key = 3;
  const LongRec twinBefore = twin;
  void* out = nullptr;
  EXPECT_EQ(TiBtiFindForce(&tree, &twin, 0, &out, 1), 1);
  EXPECT_EQ(out, &pool.recs[3]);
  EXPECT_EQ(TiBtiNNodes(&tree), 7);
  EXPECT_EQ(std::memcmp(&twin, &twinBefore, sizeof(twin)), 0);
  EXPECT_EQ(std::memcmp(pool.recs.data(), before.data(), 7 * sizeof(LongRec)), 0);
}

TEST(TreeFindForce, ExtremeModesAppendOnlyBeyondTheEnd) {
  Pool<LongRec> pool(4);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  void* out = nullptr;
  pool.recs[0].key = 5;
  EXPECT_EQ(TiBtiFindForce(&tree, &pool.recs[0], 1, &out, 1), 0);  // empty tree: becomes the root
  EXPECT_EQ(out, &pool.recs[0]);
  pool.recs[1].key = 5;
  EXPECT_EQ(TiBtiFindForce(&tree, &pool.recs[1], 1, &out, 1), -1);  // equal is not beyond
  EXPECT_EQ(TiBtiFindForce(&tree, &pool.recs[1], -1, &out, 1), -1);
  pool.recs[1].key = 9;
  EXPECT_EQ(TiBtiFindForce(&tree, &pool.recs[1], -1, &out, 1), -1);
  EXPECT_EQ(TiBtiFindForce(&tree, &pool.recs[1], 1, &out, 0), 0);  // beyond, but no insert
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(TiBtiNNodes(&tree), 1);
  EXPECT_EQ(TiBtiFindForce(&tree, &pool.recs[1], 1, &out, 1), 0);
  pool.recs[2].key = 1;
  EXPECT_EQ(TiBtiFindForce(&tree, &pool.recs[2], -1, &out, 1), 0);
  EXPECT_EQ(TiBtiNNodes(&tree), 3);
  EXPECT_EQ(TiBtiVerifySort(&tree), 1);
  EXPECT_EQ(TiBtiVerifyBalance(&tree), 2);
}

TEST(TreeNodeForm, SwitchingOnParentLinksRebuildsThem) {
  Pool<LongRec> pool(200);
  TiBtiTree tree;
  ASSERT_EQ(TiBtiInit(&tree, CompareRecs<LongRec>, nullptr, 1), 1);
  std::vector<int> keys(pool.recs.size());
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<int>(i);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  for (auto& r : pool.recs) {
    r.key = keys[static_cast<std::size_t>(&r - pool.recs.data())];
    r.node.parent = reinterpret_cast<TiBtiNode*>(0xdead);  // short trees never write it
    ASSERT_EQ(TiBtiFindForce(&tree, &r, 0, nullptr, 1), 0);
  }
  for (const auto& r : pool.recs) EXPECT_EQ(r.node.parent, reinterpret_cast<TiBtiNode*>(0xdead));
  ASSERT_EQ(TiBtiSetShort(&tree, 0), 1);
  EXPECT_GE(TiBtiVerifyBalance(&tree), 1);  // checks every parent link now
  std::vector<const TiBtiNode*> stack = {static_cast<TiBtiNode*>(tree.root)};
  EXPECT_EQ(stack[0]->parent, nullptr);
  int seen = 0;
  while (!stack.empty()) {
    const TiBtiNode* n = stack.back();
    stack.pop_back();
    ++seen;
    for (const TiBtiNode* c : {n->left, n->right}) {
      if (c == nullptr) continue;
      EXPECT_EQ(c->parent, n);
      stack.push_back(c);
    }
  }
  EXPECT_EQ(seen, TiBtiNNodes(&tree));
  // MakeCurrent now walks the parent links.
  void* least = nullptr;
  ASSERT_EQ(TiBtiLeast(&tree, &least), 1);
  ASSERT_EQ(TiBtiMakeCurrent(&tree, &pool.recs[17]), 1);
  ASSERT_EQ(TiBtiVerifyPath(&tree, &pool.recs[17], 0), 1);
}

TEST(TreeNodeForm, MoveWithCopyRelinksParentChildrenAndPath) {
  for (int isShort = 0; isShort <= 1; ++isShort) {
    SCOPED_TRACE(isShort ? "short" : "parent-linked");
    Pool<LongRec> pool(40);
    TiBtiTree tree;
    ASSERT_EQ(TiBtiInit(&tree, CompareRecs<LongRec>, nullptr, isShort), 1);
    for (int i = 0; i < 31; ++i) {
      pool.recs[i].key = i;
      ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, nullptr, 1), 0);
    }
    // Move an inner record, the root and a leaf, each while it is current.
    for (int key : {7, 15, 30}) {
      LongRec probe{};
      probe.key = key;
      void* from = nullptr;
      ASSERT_EQ(TiBtiFindForce(&tree, &probe, 0, &from, 0), 1);
      LongRec* to = &pool.recs[31 + key % 9];
      to->key = key;  // the caller moves the payload; the tree copies its node
      ASSERT_EQ(TiBtiMove(&tree, from, to, 1), 1);
      std::memset(from, 0xEE, sizeof(LongRec));
      void* current = nullptr;
      ASSERT_EQ(TiBtiCurrent(&tree, &current), 1);
      EXPECT_EQ(current, to);
      ASSERT_GE(TiBtiVerifyBalance(&tree), 1);
      ASSERT_EQ(TiBtiVerifySort(&tree), 1);
      ASSERT_EQ(TiBtiFindForce(&tree, &probe, 0, &current, 0), 1);
      EXPECT_EQ(current, to);
    }
    LongRec stranger{};
    stranger.key = 3;
    EXPECT_EQ(TiBtiMove(&tree, &stranger, &pool.recs[39], 0), kRmfBadArgument);
  }
}

TEST(TreeCurrent, MakeCurrentFailureKeepsThePath) {
  for (int isShort = 0; isShort <= 1; ++isShort) {
    Pool<LongRec> pool(20);
    TiBtiTree tree;
    ASSERT_EQ(TiBtiInit(&tree, CompareRecs<LongRec>, nullptr, isShort), 1);
    for (int i = 0; i < 20; ++i) {
      pool.recs[i].key = i;
      ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, nullptr, 1), 0);
    }
    LongRec probe{};
    probe.key = 4;
    ASSERT_EQ(TiBtiDelete(&tree, &probe, nullptr), 1);  // record 4 is out of the tree now
    ASSERT_EQ(TiBtiMakeCurrent(&tree, &pool.recs[9]), 1);
    EXPECT_EQ(TiBtiMakeCurrent(&tree, &pool.recs[4]), 0);
    void* current = nullptr;
    ASSERT_EQ(TiBtiCurrent(&tree, &current), 1);
    EXPECT_EQ(current, &pool.recs[9]);
    ASSERT_EQ(TiBtiNext(&tree, &current), 1);
    EXPECT_EQ(current, &pool.recs[10]);
  }
}

TEST(TreeCurrent, DeleteWithoutCurrentAndAfterPastTheEnd) {
  Pool<LongRec> pool(3);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  EXPECT_EQ(TiBtiDeleteCurrent(&tree), 0);
  for (int i = 0; i < 3; ++i) {
    pool.recs[i].key = i;
    ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, nullptr, 1), 0);
  }
  LongRec probe{};
  probe.key = 10;
  EXPECT_EQ(TiBtiFindForce(&tree, &probe, 0, nullptr, 0), 0);
  EXPECT_EQ(TiBtiDeleteCurrent(&tree), 0);  // the search ended between records
  void* out = nullptr;
  ASSERT_EQ(TiBtiGreatest(&tree, &out), 1);
  EXPECT_EQ(TiBtiNext(&tree, &out), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(TiBtiNext(&tree, &out), 0);
  EXPECT_EQ(TiBtiDeleteCurrent(&tree), 0);
  EXPECT_EQ(TiBtiNNodes(&tree), 3);
}

TEST(TreeConsistency, DamagedPathIsRefusedAndCounted) {
  Pool<LongRec> pool(15);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  for (int i = 0; i < 15; ++i) {
    pool.recs[i].key = i;
    ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[i], 0, nullptr, 1), 0);
  }
  LongRec probe{};
  probe.key = 0;
  ASSERT_EQ(TiBtiFindForce(&tree, &probe, 0, nullptr, 0), 1);
  ASSERT_GE(tree.pathEnd, 3);
  tree.pathDir[1] = static_cast<std::int8_t>(-tree.pathDir[1]);  // the path no longer leads to its last node
  const std::vector<LongRec> before = pool.recs;
  const std::uint32_t counted = TiBtiInconsistencies();
  EXPECT_EQ(TiBtiDeleteCurrent(&tree), kRmfMalformed);
  EXPECT_EQ(TiBtiInconsistencies(), counted + 1);
  EXPECT_EQ(tree.pathEnd, 0);
  EXPECT_EQ(std::memcmp(pool.recs.data(), before.data(), 15 * sizeof(LongRec)), 0);
  EXPECT_EQ(TiBtiNNodes(&tree), 15);
  EXPECT_EQ(TiBtiVerifySort(&tree), 1);
}

struct DumpLog {
  TiBtiTree* tree;
  std::vector<int> keys;
  std::vector<int> depths;
  std::int32_t nestedResult = 0;
  std::int32_t endDepth = -1;
};

TEST(TreeDump, InOrderWithDepthsAndLockedDuringTheWalk) {
  Pool<LongRec> pool(7);
  TiBtiTree tree;
  InitTree(&tree, &pool);
  for (int key : {3, 1, 5, 0, 2, 4, 6}) {
    pool.recs[key].key = key;
    ASSERT_EQ(TiBtiFindForce(&tree, &pool.recs[key], 0, nullptr, 1), 0);
  }
  DumpLog log{&tree, {}, {}};
  ASSERT_EQ(TiBtiDump(
                &tree,
                [](void* node, std::int32_t depth, void* context) {
                  auto* l = static_cast<DumpLog*>(context);
                  l->keys.push_back(static_cast<LongRec*>(node)->key);
                  l->depths.push_back(depth);
                  l->nestedResult = TiBtiSetShort(l->tree, 1);
                },
                [](std::int32_t depth, void* context) { static_cast<DumpLog*>(context)->endDepth = depth; }, &log),
            1);
  EXPECT_EQ(log.keys, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(log.depths, (std::vector<int>{2, 1, 2, 0, 2, 1, 2}));
  EXPECT_EQ(log.nestedResult, kRmfBadArgument);
  EXPECT_EQ(log.endDepth, 3);
  EXPECT_EQ(tree.parentLinks, 1);
  EXPECT_EQ(TiBtiSetShort(&tree, 1), 1);  // unlocked again
}

TEST(TreeArguments, BadTreesAndArgumentsAreRefused) {
  LongRec rec{};
  void* out = nullptr;
  EXPECT_EQ(TiBtiInit(nullptr, CompareRecs<LongRec>, nullptr, 0), kRmfBadArgument);
  TiBtiTree tree;
  EXPECT_EQ(TiBtiInit(&tree, nullptr, nullptr, 0), kRmfBadArgument);
  EXPECT_EQ(TiBtiInitLinked32(&tree, CompareRecs<LongRec>, nullptr, 0, nullptr, nullptr, nullptr), kRmfBadArgument);
  std::memset(&tree, 0, sizeof(tree));  // never initialised
  EXPECT_EQ(TiBtiFindForce(&tree, &rec, 0, &out, 1), kRmfBadArgument);
  EXPECT_EQ(TiBtiNNodes(&tree), kRmfBadArgument);
  EXPECT_EQ(TiBtiFindForce(nullptr, &rec, 0, &out, 1), kRmfBadArgument);
  ASSERT_EQ(TiBtiInit(&tree, CompareRecs<LongRec>, nullptr, 0), 1);
  EXPECT_EQ(TiBtiFindForce(&tree, nullptr, 0, &out, 1), kRmfBadArgument);
  EXPECT_EQ(TiBtiLeastGe(&tree, nullptr, &out), kRmfBadArgument);
  EXPECT_EQ(TiBtiMakeCurrent(&tree, nullptr), kRmfBadArgument);
  EXPECT_EQ(TiBtiVerifyPath(&tree, nullptr, 0), kRmfBadArgument);
  EXPECT_EQ(TiBtiLeast(&tree, &out), 0);
  EXPECT_EQ(TiBtiVerifyBalance(&tree), 0);
  EXPECT_EQ(TiBtiDelete(&tree, nullptr, &out), 0);
  tree.pathEnd = -1;  // a path end before the path array
  EXPECT_EQ(TiBtiLeast(&tree, &out), kRmfBadArgument);
  tree.pathEnd = 0;
  tree.lock = 1;
  EXPECT_EQ(TiBtiNext(&tree, &out), kRmfBadArgument);
  EXPECT_EQ(TiBtiSetShort(&tree, 1), kRmfBadArgument);
  tree.lock = 0;
  EXPECT_EQ(TiBtiLeast(&tree, &out), 0);
}

}  // namespace
