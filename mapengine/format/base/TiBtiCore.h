// The AVL engine behind the balanced tree index, written once over a node
// accessor so that every node form shares the same search, insertion,
// deletion and stepping code:
//   - PointerAccess: TiBtiNode / TiBtiShortNode records (pointer links);
//   - Link32Access<Resolver>: records that begin with a TiBtiNode32, whose
//     links are 32-bit handles that Resolver turns into addresses and back.
// TiBti.cpp instantiates it for the public tree; the tagged arena instantiates
// it for its free-block index (short 32-bit nodes inside the block headers,
// resolved through the arena's regions, with the path kept on the stack).
//
// Field access goes through memcpy at fixed offsets: records are the caller's
// own structures (or raw arena bytes) and may be only 4-byte aligned, and the
// node is read as node fields whatever the record's declared type is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiBti.h"

namespace ti::bti {

// Records an inconsistent path (process-wide counter behind TiBtiInconsistencies).
void NoteInconsistency();

template <class T>
inline T LoadAt(const void* base, std::size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof(T));
  return value;
}

template <class T>
inline void StoreAt(void* base, std::size_t offset, T value) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof(T));
}

class PointerAccess {
 public:
  explicit PointerAccess(bool parents) : parents_(parents) {}
  bool parents() const { return parents_; }
  void* child(const void* n, int d) const { return LoadAt<void*>(n, d < 0 ? kLeft : kRight); }
  void setChild(void* n, int d, void* c) const { StoreAt<void*>(n, d < 0 ? kLeft : kRight, c); }
  int balance(const void* n) const { return LoadAt<std::int8_t>(n, kBalance); }
  void setBalance(void* n, int b) const { StoreAt<std::int8_t>(n, kBalance, static_cast<std::int8_t>(b)); }
  void* parent(const void* n) const { return LoadAt<void*>(n, kParent); }
  void setParent(void* n, void* p) const {
    if (parents_) StoreAt<void*>(n, kParent, p);
  }
  std::size_t nodeBytes() const { return parents_ ? sizeof(TiBtiNode) : sizeof(TiBtiShortNode); }

 private:
  static constexpr std::size_t kLeft = offsetof(TiBtiNode, left);
  static constexpr std::size_t kRight = offsetof(TiBtiNode, right);
  static constexpr std::size_t kBalance = offsetof(TiBtiNode, balance);
  static constexpr std::size_t kParent = offsetof(TiBtiNode, parent);
  static_assert(offsetof(TiBtiShortNode, balance) == offsetof(TiBtiNode, balance));
  bool parents_;
};

// Resolver: void* node(uint32_t handle) for handle != 0, uint32_t handle(const void* node) for node != null.
template <class Resolver>
class Link32Access {
 public:
  Link32Access(bool parents, const Resolver& resolver) : parents_(parents), resolver_(resolver) {}
  bool parents() const { return parents_; }
  void* child(const void* n, int d) const { return toNode(LoadAt<std::uint32_t>(n, d < 0 ? kLeft : kRight)); }
  void setChild(void* n, int d, void* c) const { StoreAt<std::uint32_t>(n, d < 0 ? kLeft : kRight, toHandle(c)); }
  int balance(const void* n) const { return LoadAt<std::int8_t>(n, kBalance); }
  void setBalance(void* n, int b) const { StoreAt<std::int8_t>(n, kBalance, static_cast<std::int8_t>(b)); }
  void* parent(const void* n) const { return toNode(LoadAt<std::uint32_t>(n, kParent)); }
  void setParent(void* n, void* p) const {
    if (parents_) StoreAt<std::uint32_t>(n, kParent, toHandle(p));
  }
  std::size_t nodeBytes() const { return parents_ ? sizeof(TiBtiNode32) : kShortBytes; }

 private:
  void* toNode(std::uint32_t h) const { return h == 0 ? nullptr : resolver_.node(h); }
  std::uint32_t toHandle(const void* n) const { return n == nullptr ? 0 : resolver_.handle(n); }
  static constexpr std::size_t kLeft = offsetof(TiBtiNode32, left);
  static constexpr std::size_t kRight = offsetof(TiBtiNode32, right);
  static constexpr std::size_t kBalance = offsetof(TiBtiNode32, balance);
  static constexpr std::size_t kParent = offsetof(TiBtiNode32, parent);
  static constexpr std::size_t kShortBytes = 12;
  bool parents_;
  Resolver resolver_;
};

// The tree state the engine works on: root, count and path live wherever the
// owner keeps them (the TiBtiTree header, or the arena's region header and a
// stack array).
struct State {
  void** root;
  std::int32_t* count;
  void** pathNode;
  std::int8_t* pathDir;
  std::int32_t capacity;
  std::int32_t* pathEnd;
  std::int32_t* critical;  // may be null
};

// Cmp: int32_t operator()(const void* key, const void* node, int32_t mode) const,
// and int32_t nodes(const void* a, const void* b) const ordering two records
// (the verification compares records with each other, which only equals a
// key comparison when keys are records).
template <class Access, class Cmp>
class Avl {
 public:
  Avl(const Access& access, const Cmp& cmp, const State& state) : a_(access), cmp_(cmp), s_(state) {}

  // Search from the root; the path ends at the match (direction 0) or between
  // records. 1 found, 0 not found, kRmfMalformed when the tree is deeper than
  // the path allows (only a damaged tree is).
  int search(const void* key, std::int32_t mode) {
    int len = 0;
    void* n = *s_.root;
    while (n != nullptr) {
      if (len == s_.capacity) return resetInconsistent();
      const std::int32_t c = cmp_(key, n, mode);
      const int d = c < 0 ? -1 : (c > 0 ? 1 : 0);
      s_.pathNode[len] = n;
      s_.pathDir[len] = static_cast<std::int8_t>(d);
      ++len;
      *s_.pathEnd = len;
      if (d == 0) return 1;
      n = a_.child(n, d);
    }
    *s_.pathEnd = len;
    return 0;
  }

  // Path to the least (d = -1) or greatest (d = 1) record, current there.
  // 1, or 0 when the tree is empty.
  int extreme(int d) {
    int len = 0;
    void* n = *s_.root;
    while (n != nullptr) {
      if (len == s_.capacity) return resetInconsistent();
      s_.pathNode[len] = n;
      s_.pathDir[len] = static_cast<std::int8_t>(d);
      ++len;
      n = a_.child(n, d);
    }
    *s_.pathEnd = len;
    if (len == 0) return 0;
    s_.pathDir[len - 1] = 0;
    return 1;
  }

  void* current() const {
    const int len = *s_.pathEnd;
    if (len <= 0 || s_.pathDir[len - 1] != 0) return nullptr;
    return s_.pathNode[len - 1];
  }

  // Links rec where the last failed search ended (or as the root of an empty
  // tree) and rebalances. The path is left at rec. 1, or kRmfMalformed when
  // the path does not end at an empty link.
  int insertAtPathEnd(void* rec) {
    int len = *s_.pathEnd;
    a_.setChild(rec, -1, nullptr);
    a_.setChild(rec, 1, nullptr);
    a_.setBalance(rec, 0);
    if (len == 0) {
      if (*s_.root != nullptr) return resetInconsistent();
      a_.setParent(rec, nullptr);
      *s_.root = rec;
      s_.pathNode[0] = rec;
      s_.pathDir[0] = 0;
      *s_.pathEnd = 1;
      ++*s_.count;
      return 1;
    }
    if (!pathConsistent(len) || s_.pathDir[len - 1] == 0 || len == s_.capacity) return resetInconsistent();
    void* p = s_.pathNode[len - 1];
    if (a_.child(p, s_.pathDir[len - 1]) != nullptr) return resetInconsistent();

    // The deepest node on the path whose balance is not 0 is the only place
    // where a rotation can be needed; everything below it was balanced and
    // now leans towards the new record.
    int crit = 0;
    for (int i = 0; i < len; ++i) {
      if (a_.balance(s_.pathNode[i]) != 0) crit = i;
    }
    if (s_.critical != nullptr) *s_.critical = crit;

    a_.setChild(p, s_.pathDir[len - 1], rec);
    a_.setParent(rec, p);
    s_.pathNode[len] = rec;
    s_.pathDir[len] = 0;
    ++len;
    *s_.pathEnd = len;
    ++*s_.count;

    for (int i = crit + 1; i < len - 1; ++i) a_.setBalance(s_.pathNode[i], s_.pathDir[i]);

    void* top = s_.pathNode[crit];
    const int dir = s_.pathDir[crit];
    const int b = a_.balance(top);
    if (b == 0) {
      a_.setBalance(top, dir);
      return 1;
    }
    if (b == -dir) {
      a_.setBalance(top, 0);
      return 1;
    }
    // The critical node leans towards the insertion by two levels now.
    void* r = s_.pathNode[crit + 1];
    void* parentOfTop = crit > 0 ? s_.pathNode[crit - 1] : nullptr;
    if (a_.balance(r) == dir) {
      rotateSingle(top, dir);
      a_.setBalance(top, 0);
      a_.setBalance(r, 0);
      relink(crit, parentOfTop, r);
      removePathEntries(crit, 1);  // [.., r(dir), rest]
      return 1;
    }
    void* x = s_.pathNode[crit + 2];
    const int xDir = s_.pathDir[crit + 2];
    rotateDouble(top, dir);
    relink(crit, parentOfTop, x);
    if (xDir == 0) {
      s_.pathNode[crit] = x;
      s_.pathDir[crit] = 0;
      *s_.pathEnd = crit + 1;
    } else {
      // The new record went into one of x's subtrees, which now hang under
      // top (the side away from dir) or under r (the side towards dir).
      s_.pathNode[crit] = x;
      s_.pathDir[crit] = static_cast<std::int8_t>(xDir);
      s_.pathNode[crit + 1] = xDir == dir ? r : top;
      s_.pathDir[crit + 1] = static_cast<std::int8_t>(-xDir);
      removePathEntries(crit + 2, 1);
    }
    return 1;
  }

  // Unlinks the current record. 1, 0 without a current record, or
  // kRmfMalformed (nothing changed). The path is invalid afterwards.
  int deleteCurrent() {
    int len = *s_.pathEnd;
    if (len <= 0 || s_.pathDir[len - 1] != 0) return 0;
    if (!pathConsistent(len)) return resetInconsistent();
    const int k = len - 1;
    void* del = s_.pathNode[k];
    void* delParent = k > 0 ? s_.pathNode[k - 1] : nullptr;
    void* right = a_.child(del, 1);
    if (right == nullptr) {
      void* repl = a_.child(del, -1);
      relink(k, delParent, repl);
      len = k;
    } else {
      // The least record of the right subtree takes the deleted one's place,
      // links and balance.
      int i = k + 1;
      void* y = right;
      for (void* l = a_.child(y, -1); l != nullptr; l = a_.child(y, -1)) {
        if (i == s_.capacity) return resetInconsistent();
        s_.pathNode[i] = y;
        s_.pathDir[i] = -1;
        ++i;
        y = l;
      }
      void* delLeft = a_.child(del, -1);
      if (y != right) {
        void* yParent = s_.pathNode[i - 1];
        void* yRight = a_.child(y, 1);
        a_.setChild(yParent, -1, yRight);
        if (yRight != nullptr) a_.setParent(yRight, yParent);
        a_.setChild(y, 1, right);
        a_.setParent(right, y);
      }
      a_.setChild(y, -1, delLeft);
      if (delLeft != nullptr) a_.setParent(delLeft, y);
      a_.setBalance(y, a_.balance(del));
      relink(k, delParent, y);
      s_.pathNode[k] = y;
      s_.pathDir[k] = 1;
      len = y == right ? k + 1 : i;
    }
    // Walk back up: the side named by each path direction lost one level.
    for (int i = len - 1; i >= 0; --i) {
      void* n = s_.pathNode[i];
      const int d = s_.pathDir[i];
      const int b = a_.balance(n);
      if (b == d) {
        a_.setBalance(n, 0);
        continue;
      }
      if (b == 0) {
        a_.setBalance(n, -d);
        break;
      }
      void* sibling = a_.child(n, -d);
      const int sb = a_.balance(sibling);
      void* parentOfN = i > 0 ? s_.pathNode[i - 1] : nullptr;
      if (sb == -d || sb == 0) {
        rotateSingle(n, -d);
        relink(i, parentOfN, sibling);
        if (sb == 0) {
          a_.setBalance(n, -d);
          a_.setBalance(sibling, d);
          break;  // the subtree kept its height
        }
        a_.setBalance(n, 0);
        a_.setBalance(sibling, 0);
        continue;
      }
      void* x = a_.child(sibling, d);
      rotateDouble(n, -d);
      relink(i, parentOfN, x);
    }
    --*s_.count;
    *s_.pathEnd = 0;
    return 1;
  }

  // In-order step from the path: d = 1 next, d = -1 previous. 1, or 0 past
  // the end (the path is cleared then).
  int step(int d) {
    const int len = *s_.pathEnd;
    if (len <= 0) return 0;
    const int k = len - 1;
    void* n = s_.pathNode[k];
    const int e = s_.pathDir[k];
    if (e == -d) {
      // The path ends between n and its neighbour on the -d side: n is next.
      s_.pathDir[k] = 0;
      return 1;
    }
    void* c = a_.child(n, d);
    if (c != nullptr) {
      int i = len;
      s_.pathDir[k] = static_cast<std::int8_t>(d);
      for (;;) {
        if (i == s_.capacity) return resetInconsistent();
        s_.pathNode[i] = c;
        s_.pathDir[i] = static_cast<std::int8_t>(-d);
        ++i;
        void* g = a_.child(c, -d);
        if (g == nullptr) break;
        c = g;
      }
      s_.pathDir[i - 1] = 0;
      *s_.pathEnd = i;
      return 1;
    }
    for (int i = k - 1; i >= 0; --i) {
      if (s_.pathDir[i] == -d) {
        s_.pathDir[i] = 0;
        *s_.pathEnd = i + 1;
        return 1;
      }
    }
    *s_.pathEnd = 0;
    return 0;
  }

  // The path from the root to n through parent links, checking each link.
  // The stored path changes only when the walk succeeds.
  bool pathByParents(void* n) {
    void* chain[kTiBtiPathCapacity];
    int depth = 0;
    for (void* m = n; m != nullptr; m = a_.parent(m)) {
      if (depth == kTiBtiPathCapacity || depth == s_.capacity) return false;
      const int b = a_.balance(m);
      if (b < -1 || b > 1) return false;
      void* p = a_.parent(m);
      if (p != nullptr && a_.child(p, -1) != m && a_.child(p, 1) != m) return false;
      if (p == nullptr && *s_.root != m) return false;
      chain[depth++] = m;
    }
    if (depth == 0) return false;
    for (int i = 0; i < depth; ++i) {
      void* m = chain[depth - 1 - i];
      s_.pathNode[i] = m;
      if (i + 1 < depth) {
        s_.pathDir[i] = static_cast<std::int8_t>(a_.child(m, -1) == chain[depth - 2 - i] ? -1 : 1);
      } else {
        s_.pathDir[i] = 0;
      }
    }
    *s_.pathEnd = depth;
    return true;
  }

  // Height of the subtree (0 for none) or -1 when a balance or parent link is
  // wrong. Depth is bounded so that a damaged, cyclic tree cannot recurse
  // without end.
  int verifyBalance(const void* n, const void* parent, int depth) const {
    if (n == nullptr) return 0;
    if (depth >= kTiBtiPathCapacity) return -1;
    if (a_.parents() && a_.parent(n) != parent) return -1;
    const int hl = verifyBalance(a_.child(n, -1), n, depth + 1);
    if (hl < 0) return -1;
    const int hr = verifyBalance(a_.child(n, 1), n, depth + 1);
    if (hr < 0) return -1;
    if (hr - hl != a_.balance(n) || hr - hl > 1 || hl - hr > 1) return -1;
    return (hl > hr ? hl : hr) + 1;
  }

  // In-order check that each record compares greater than its predecessor.
  bool verifySort(const void* n, const void* parent, const void*& previous, int depth) const {
    if (n == nullptr) return true;
    if (depth >= kTiBtiPathCapacity) return false;
    if (a_.parents() && a_.parent(n) != parent) return false;
    if (!verifySort(a_.child(n, -1), n, previous, depth + 1)) return false;
    if (previous != nullptr && cmp_.nodes(n, previous) <= 0) return false;
    previous = n;
    return verifySort(a_.child(n, 1), n, previous, depth + 1);
  }

  // Rewrites every parent link below n (n's own parent is p).
  bool rebuildParents(void* n, void* p, int depth) {
    if (n == nullptr) return true;
    if (depth >= kTiBtiPathCapacity) return false;
    a_.setParent(n, p);
    return rebuildParents(a_.child(n, -1), n, depth + 1) && rebuildParents(a_.child(n, 1), n, depth + 1);
  }

  bool pathConsistent(int len) const {
    if (len <= 0) return true;
    if (s_.pathNode[0] != *s_.root) return false;
    for (int i = 0; i + 1 < len; ++i) {
      if (s_.pathDir[i] == 0) return false;
      if (a_.child(s_.pathNode[i], s_.pathDir[i]) != s_.pathNode[i + 1]) return false;
    }
    return true;
  }

  const Access& access() const { return a_; }

 private:
  int resetInconsistent() {
    *s_.pathEnd = 0;
    NoteInconsistency();
    return kRmfMalformed;
  }

  // Makes child(n, d) the top of n's subtree; n goes down on the -d side.
  void rotateSingle(void* n, int d) {
    void* r = a_.child(n, d);
    void* inner = a_.child(r, -d);
    a_.setChild(n, d, inner);
    if (inner != nullptr) a_.setParent(inner, n);
    a_.setChild(r, -d, n);
    a_.setParent(n, r);
  }

  // n leans by two towards d, its child r leans the other way: r's inner
  // child x becomes the top with n and r beneath it. Sets all three balances.
  void rotateDouble(void* n, int d) {
    void* r = a_.child(n, d);
    void* x = a_.child(r, -d);
    void* xOuter = a_.child(x, d);
    void* xInner = a_.child(x, -d);
    a_.setChild(r, -d, xOuter);
    if (xOuter != nullptr) a_.setParent(xOuter, r);
    a_.setChild(n, d, xInner);
    if (xInner != nullptr) a_.setParent(xInner, n);
    a_.setChild(x, -d, n);
    a_.setParent(n, x);
    a_.setChild(x, d, r);
    a_.setParent(r, x);
    const int bx = a_.balance(x);
    a_.setBalance(n, bx == d ? -d : 0);
    a_.setBalance(r, bx == -d ? d : 0);
    a_.setBalance(x, 0);
  }

  // Hangs top where the path entry at index i was: under the path's previous
  // node on the side the path took, or as the root.
  void relink(int i, void* parent, void* top) {
    if (i == 0) {
      *s_.root = top;
    } else {
      a_.setChild(parent, s_.pathDir[i - 1], top);
    }
    if (top != nullptr) a_.setParent(top, parent);
  }

  void removePathEntries(int at, int n) {
    const int len = *s_.pathEnd;
    for (int i = at; i + n < len; ++i) {
      s_.pathNode[i] = s_.pathNode[i + n];
      s_.pathDir[i] = s_.pathDir[i + n];
    }
    *s_.pathEnd = len - n;
  }

  Access a_;
  Cmp cmp_;
  State s_;
};

}  // namespace ti::bti
