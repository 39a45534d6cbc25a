// Tests of the circular list: random operations on two iterators checked
// against a vector model (order both ways, positions, byte counts), the
// one-element list, where deletion leaves an iterator, failed allocations
// leaving the list as it was, destruction, the walk with its stop flag, and
// iterators that were allocated, borrowed or copied between lists.
#include "mapengine/format/route/RmfDcll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/mapengine/format/route/ContainerTestMemory.h"

namespace {

using container_test::Element;
using container_test::ElementNumber;
using container_test::FailAllocation;
using container_test::FailNothing;
using container_test::g_memory;
using container_test::TestAlloc;
using container_test::TestFree;

std::vector<int> Forward(DcllList* list) {
  std::vector<int> out;
  DcllIterator it;
  dcllInitIterator(list, &it);
  for (void* e = dcllHead(&it); it.current != nullptr; e = dcllNext(&it)) out.push_back(ElementNumber(e));
  return out;
}

std::vector<int> Backward(DcllList* list) {
  std::vector<int> out;
  DcllIterator it;
  dcllInitIterator(list, &it);
  for (void* e = dcllTail(&it); it.current != nullptr; e = dcllPrev(&it)) out.push_back(ElementNumber(e));
  return out;
}

DcllList* ListOf(const std::vector<int>& numbers, DcllElementFreeFn elementFree = nullptr) {
  DcllList* list = dcllCreateList(elementFree, TestAlloc, TestFree);
  for (int n : numbers) EXPECT_EQ(dcllAddAfterTail(list, Element(n), nullptr), 0);
  return list;
}

// The model of an iterator: an index into the vector, -1 for no position.
struct ModelIterator {
  DcllIterator* real;
  int pos = -1;
};

void ExpectSame(DcllList* list, const std::vector<int>& model, const ModelIterator& a, const ModelIterator& b,
                int step) {
  SCOPED_TRACE("step " + std::to_string(step));
  ASSERT_EQ(Forward(list), model);
  std::vector<int> reversed(model.rbegin(), model.rend());
  ASSERT_EQ(Backward(list), reversed);
  EXPECT_EQ(dcllNumElems(list), static_cast<int>(model.size()));
  EXPECT_EQ(dcllJustOne(list), model.size() == 1 ? 1 : 0);
  // One allocated iterator is counted; the borrowed one is not.
  EXPECT_EQ(dcllGetMemAllocated(list), kDcllListBytes + kDcllNodeBytes * model.size() + kDcllIteratorBytes);
  for (const ModelIterator* m : {&a, &b}) {
    if (m->pos < 0) {
      EXPECT_EQ(m->real->current, nullptr);
    } else {
      ASSERT_NE(m->real->current, nullptr);
      EXPECT_EQ(ElementNumber(dcllCurrent(m->real)), model[m->pos]);
    }
  }
}

TEST(DcllList, RandomOperationsMatchAVectorModel) {
  const unsigned seed = 20240611;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  DcllList* list = dcllCreateList(nullptr, TestAlloc, TestFree);
  DcllIterator borrowed;
  ModelIterator a{dcllGetIterator(list)};
  ModelIterator b{dcllInitIterator(list, &borrowed)};
  std::vector<int> model;
  int next = 0;

  // After an insertion at index i, positions at or after it move on by one.
  auto shiftFrom = [&](int i) {
    for (ModelIterator* m : {&a, &b})
      if (m->pos >= i) ++m->pos;
  };
  for (int step = 0; step < 4000; ++step) {
    ModelIterator& it = rng() % 2 ? a : b;
    ModelIterator& other = &it == &a ? b : a;
    const int n = static_cast<int>(model.size());
    // Deletions as often as insertions keep the list short, so that it is
    // often empty or down to one element.
    const unsigned op = rng() % 11;
    switch (op >= 9 ? 7 : op) {
      case 0:
        ASSERT_EQ(dcllAddAfterTail(list, Element(next), nullptr), 0);
        model.push_back(next++);
        break;
      case 1:
        ASSERT_EQ(dcllAddBeforeHead(list, Element(next)), 0);
        model.insert(model.begin(), next++);
        shiftFrom(0);
        break;
      case 2:
        ASSERT_EQ(dcllAddBeforeCurrent(it.real, Element(next)), 0);
        if (it.pos < 0) {
          model.push_back(next++);
        } else {
          const int at = it.pos;
          model.insert(model.begin() + at, next++);
          shiftFrom(at);
        }
        break;
      case 3:
        dcllHead(it.real);
        it.pos = n > 0 ? 0 : -1;
        break;
      case 4:
        dcllTail(it.real);
        it.pos = n - 1;
        break;
      case 5:
        dcllNext(it.real);
        it.pos = it.pos < 0 || it.pos == n - 1 ? -1 : it.pos + 1;
        break;
      case 6:
        dcllPrev(it.real);
        it.pos = it.pos <= 0 ? -1 : it.pos - 1;
        break;
      case 7: {
        void* removed = dcllDelete(it.real);
        if (it.pos < 0) {
          ASSERT_EQ(removed, nullptr);
          break;
        }
        const int at = it.pos;
        ASSERT_EQ(ElementNumber(removed), model[at]);
        model.erase(model.begin() + at);
        it.pos = at == 0 ? (model.empty() ? -1 : 0) : at - 1;
        if (other.pos == at) {
          // The other iterator stood on the freed node: give it no position.
          DcllIterator none;
          dcllCopyIterator(dcllInitIterator(list, &none), other.real);
          other.pos = -1;
        } else if (other.pos > at) {
          --other.pos;
        }
        break;
      }
      case 8:
        dcllCopyIterator(it.real, other.real);
        other.pos = it.pos;
        break;
    }
    ExpectSame(list, model, a, b, step);
    if (HasFailure()) break;
  }
  dcllDestroyIterator(a.real);
  dcllDestroyList(list);
  EXPECT_EQ(g_memory.live, 0);
}

TEST(DcllList, OneElementIsHeadAndTailAndStepsOffBothEnds) {
  DcllList* list = ListOf({7});
  DcllIterator it;
  dcllInitIterator(list, &it);
  EXPECT_EQ(dcllJustOne(list), 1);
  EXPECT_EQ(dcllHead(&it), Element(7));
  EXPECT_EQ(dcllNext(&it), nullptr);
  EXPECT_EQ(it.current, nullptr);
  EXPECT_EQ(dcllNext(&it), nullptr);  // still no position
  EXPECT_EQ(dcllTail(&it), Element(7));
  EXPECT_EQ(dcllPrev(&it), nullptr);
  EXPECT_EQ(it.current, nullptr);
  dcllDestroyList(list);

  for (const std::vector<int>& numbers : {std::vector<int>{}, std::vector<int>{1, 2}}) {
    DcllList* other = ListOf(numbers);
    EXPECT_EQ(dcllJustOne(other), 0) << numbers.size() << " elements";
    dcllDestroyList(other);
  }
  EXPECT_EQ(g_memory.live, 0);
}

TEST(DcllList, DeleteLeavesTheIteratorOnThePredecessorOrTheNewHead) {
  struct Case {
    int steps;  // from the head
    std::vector<int> left;
    int stands;  // -1 no position
  };
  const Case cases[] = {
      {0, {2, 3}, 2},  // the head: the new head
      {1, {1, 3}, 1},  // the middle: its predecessor
      {2, {1, 2}, 2},  // the tail: its predecessor
  };
  for (const Case& c : cases) {
    DcllList* list = ListOf({1, 2, 3});
    DcllIterator it;
    dcllInitIterator(list, &it);
    dcllHead(&it);
    for (int i = 0; i < c.steps; ++i) dcllNext(&it);
    void* removed = dcllDelete(&it);
    EXPECT_EQ(ElementNumber(removed), c.steps + 1);
    EXPECT_EQ(Forward(list), c.left);
    EXPECT_EQ(ElementNumber(dcllCurrent(&it)), c.stands) << "deleted at " << c.steps;
    EXPECT_EQ(dcllGetMemAllocated(list), kDcllListBytes + 2 * kDcllNodeBytes);
    dcllDestroyList(list);
  }

  DcllList* list = ListOf({1});
  DcllIterator it;
  dcllInitIterator(list, &it);
  dcllHead(&it);
  EXPECT_EQ(dcllDelete(&it), Element(1));
  EXPECT_EQ(it.current, nullptr);
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(dcllDelete(&it), nullptr);  // without a position nothing goes
  EXPECT_EQ(dcllGetMemAllocated(list), kDcllListBytes);
  dcllDestroyList(list);
  EXPECT_EQ(g_memory.live, 0);
}

TEST(DcllList, FailedAllocationLeavesTheListAsItWas) {
  struct Case {
    const char* what;
    int steps;  // iterator position from the head; -1 none
    std::function<bool(DcllList*, DcllIterator*)> op;
  };
  const Case cases[] = {
      {"append", -1, [](DcllList* l, DcllIterator*) {
         DcllNode sentinel{};
         DcllNode* node = &sentinel;
         const bool ok = dcllAddAfterTail(l, Element(9), &node) == 0;
         EXPECT_EQ(node, nullptr);
         return ok;
       }},
      {"prepend", -1, [](DcllList* l, DcllIterator*) { return dcllAddBeforeHead(l, Element(9)) == 0; }},
      {"before head", 0, [](DcllList*, DcllIterator* it) { return dcllAddBeforeCurrent(it, Element(9)) == 0; }},
      {"before middle", 1, [](DcllList*, DcllIterator* it) { return dcllAddBeforeCurrent(it, Element(9)) == 0; }},
      {"before nothing", -1, [](DcllList*, DcllIterator* it) { return dcllAddBeforeCurrent(it, Element(9)) == 0; }},
      {"iterator", -1, [](DcllList* l, DcllIterator*) { return dcllGetIterator(l) != nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DcllList* list = ListOf({1, 2, 3});
    DcllIterator it;
    dcllInitIterator(list, &it);
    if (c.steps >= 0) dcllHead(&it);
    for (int i = 0; i < c.steps; ++i) dcllNext(&it);
    const DcllNode* position = it.current;
    const int live = g_memory.live;
    FailAllocation(0);
    EXPECT_FALSE(c.op(list, &it));
    FailNothing();
    EXPECT_EQ(Forward(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Backward(list), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(dcllGetMemAllocated(list), kDcllListBytes + 3 * kDcllNodeBytes);
    EXPECT_EQ(it.current, position);
    EXPECT_EQ(g_memory.live, live);
    dcllDestroyList(list);
  }

  FailAllocation(0);
  EXPECT_EQ(dcllCreateList(nullptr, TestAlloc, TestFree), nullptr);
  FailNothing();
  EXPECT_EQ(dcllCreateList(nullptr, nullptr, TestFree), nullptr);
  EXPECT_EQ(dcllCreateList(nullptr, TestAlloc, nullptr), nullptr);
  EXPECT_EQ(g_memory.live, 0);
}

std::vector<int> g_freed;
void RecordFree(void* element) { g_freed.push_back(ElementNumber(element)); }

TEST(DcllList, DestroyHandsEveryElementToTheElementFreeFunctionOnce) {
  g_freed.clear();
  DcllList* list = ListOf({4, 5, 6}, RecordFree);
  ASSERT_EQ(dcllAddBeforeHead(list, Element(3)), 0);
  DcllIterator it;
  dcllInitIterator(list, &it);
  dcllTail(&it);
  EXPECT_EQ(dcllDelete(&it), Element(6));  // deleted elements are not freed
  dcllDestroyList(list);
  EXPECT_EQ(g_freed, (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(g_memory.live, 0);
  dcllDestroyList(nullptr);
}

// Any negative answer of a visit stops the walk; this one is not the list's
// own failure code, so passing it through unchanged would show.
constexpr std::int32_t kVisitRefuses = kDcllFailed - 4;

struct Walk {
  std::vector<int> seen;
  int stopAt = -1;
  int failAt = -1;
};

std::int32_t Visit(void* element, std::int32_t* stop, void* context) {
  auto* walk = static_cast<Walk*>(context);
  const int n = ElementNumber(element);
  walk->seen.push_back(n);
  if (n == walk->failAt) return kVisitRefuses;
  if (n == walk->stopAt && stop != nullptr) *stop = 1;
  return 0;
}

TEST(DcllList, ForEachVisitsFromTheHeadAndStopsOnTheFlagOrANegativeAnswer) {
  struct Case {
    int stopAt, failAt;
    bool withFlag;
    std::int32_t result;
    std::vector<int> seen;
  };
  const Case cases[] = {
      {-1, -1, true, 0, {1, 2, 3, 4}},  {2, -1, true, 0, {1, 2}},     {4, -1, true, 0, {1, 2, 3, 4}},
      {-1, 3, true, kDcllFailed, {1, 2, 3}}, {2, -1, false, 0, {1, 2, 3, 4}},  // no flag: never stops
  };
  DcllList* list = ListOf({1, 2, 3, 4});
  for (const Case& c : cases) {
    Walk walk;
    walk.stopAt = c.stopAt;
    walk.failAt = c.failAt;
    std::int32_t stop = 0;
    EXPECT_EQ(dcllForEach(list, Visit, c.withFlag ? &stop : nullptr, &walk), c.result);
    EXPECT_EQ(walk.seen, c.seen) << "stop at " << c.stopAt << ", fail at " << c.failAt;
  }
  EXPECT_EQ(dcllForEach(list, nullptr, nullptr, nullptr), kDcllFailed);
  Walk none;
  EXPECT_EQ(dcllForEach(nullptr, Visit, nullptr, &none), 0);
  EXPECT_TRUE(none.seen.empty());
  dcllDestroyList(list);
}

TEST(DcllList, IteratorsAreCountedAndFreedWhereTheyWereAllocated) {
  DcllList* a = ListOf({1, 2});
  DcllList* b = ListOf({8, 9});
  const std::uint32_t aBytes = dcllGetMemAllocated(a);
  const std::uint32_t bBytes = dcllGetMemAllocated(b);

  DcllIterator* it = dcllGetIterator(a);
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(it->current, nullptr);
  EXPECT_EQ(dcllGetMemAllocated(a), aBytes + kDcllIteratorBytes);

  // Pointed at the other list by a copy, it walks that list but still
  // belongs to the one that allocated it.
  DcllIterator onB;
  dcllInitIterator(b, &onB);
  dcllTail(&onB);
  dcllCopyIterator(&onB, it);
  EXPECT_EQ(dcllCurrent(it), Element(9));
  EXPECT_EQ(dcllPrev(it), Element(8));
  dcllDestroyIterator(it);
  EXPECT_EQ(dcllGetMemAllocated(a), aBytes);
  EXPECT_EQ(dcllGetMemAllocated(b), bBytes);

  // A borrowed iterator is neither counted nor freed.
  dcllDestroyIterator(&onB);
  EXPECT_EQ(dcllCurrent(&onB), Element(9));
  EXPECT_EQ(dcllGetMemAllocated(b), bBytes);

  // Positioning on a node; a null node keeps the position.
  DcllNode* node = nullptr;
  ASSERT_EQ(dcllAddAfterTail(a, Element(3), &node), 0);
  ASSERT_NE(node, nullptr);
  DcllIterator onA;
  dcllInitIterator(a, &onA);
  EXPECT_EQ(dcllSetPosition(&onA, node), Element(3));
  EXPECT_EQ(dcllPrev(&onA), Element(2));
  EXPECT_EQ(dcllSetPosition(&onA, nullptr), nullptr);
  EXPECT_EQ(dcllCurrent(&onA), Element(2));

  dcllDestroyList(a);
  dcllDestroyList(b);
  EXPECT_EQ(g_memory.live, 0);
}

TEST(DcllList, MoveToTailReordersWithoutAllocating) {
  struct Case {
    std::vector<int> start;
    int move;  // index of the node to move
    std::vector<int> after;
  };
  const Case cases[] = {
      {{1, 2, 3}, 0, {2, 3, 1}}, {{1, 2, 3}, 1, {1, 3, 2}}, {{1, 2, 3}, 2, {1, 2, 3}}, {{1}, 0, {1}},
  };
  for (const Case& c : cases) {
    DcllList* list = ListOf(c.start);
    DcllIterator it;
    dcllInitIterator(list, &it);
    dcllHead(&it);
    for (int i = 0; i < c.move; ++i) dcllNext(&it);
    const std::uint32_t bytes = dcllGetMemAllocated(list);
    const int calls = g_memory.calls;
    dcllMoveToTail(list, it.current);
    EXPECT_EQ(Forward(list), c.after);
    std::vector<int> reversed(c.after.rbegin(), c.after.rend());
    EXPECT_EQ(Backward(list), reversed);
    EXPECT_EQ(dcllGetMemAllocated(list), bytes);
    EXPECT_EQ(g_memory.calls, calls);
    dcllDestroyList(list);
  }
}

}  // namespace
