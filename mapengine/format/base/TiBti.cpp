// The balanced tree index's interface functions: argument and state checks,
// then the shared AVL engine (TiBtiCore.h) over the tree's node form.
#include "mapengine/format/base/TiBti.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "mapengine/format/base/TiBtiCore.h"

namespace ti::bti {

namespace {
std::atomic<std::uint32_t> g_inconsistencies{0};
}  // namespace

void NoteInconsistency() { g_inconsistencies.fetch_add(1, std::memory_order_relaxed); }

}  // namespace ti::bti

namespace {

using ti::bti::Avl;
using ti::bti::Link32Access;
using ti::bti::PointerAccess;
using ti::bti::State;

struct FunctionCompare {
  TiBtiCompare compare;
  void* context;
  std::int32_t operator()(const void* key, const void* node, std::int32_t mode) const {
    return compare(key, node, context, mode);
  }
  std::int32_t nodes(const void* a, const void* b) const { return compare(a, b, context, 0); }
};

struct CallbackResolver {
  TiBtiHandleToNode toNode;
  TiBtiNodeToHandle toHandle;
  void* context;
  void* node(std::uint32_t handle) const { return toNode(context, handle); }
  std::uint32_t handle(const void* node) const { return toHandle(context, node); }
};

bool Usable(const TiBtiTree* tree) {
  if (tree == nullptr || tree->valid != 1 || tree->lock != 0 || tree->compare == nullptr) return false;
  if (tree->pathEnd < 0 || tree->pathEnd > kTiBtiPathCapacity) return false;
  if (tree->linkForm == kTiBtiLinks32) return tree->toNode != nullptr && tree->toHandle != nullptr;
  return tree->linkForm == kTiBtiLinksPointer;
}

State TreeState(TiBtiTree* tree) {
  return State{&tree->root, &tree->count, tree->pathNode, tree->pathDir, kTiBtiPathCapacity, &tree->pathEnd,
               &tree->critical};
}

// Runs f with the engine for the tree's node form. The tree must be usable.
template <class F>
std::int32_t Run(TiBtiTree* tree, F&& f) {
  const FunctionCompare cmp{tree->compare, tree->context};
  const bool parents = tree->parentLinks != 0;
  std::int32_t result;
  if (tree->linkForm == kTiBtiLinks32) {
    const Link32Access<CallbackResolver> access(parents,
                                                CallbackResolver{tree->toNode, tree->toHandle, tree->linkContext});
    Avl<Link32Access<CallbackResolver>, FunctionCompare> avl(access, cmp, TreeState(tree));
    result = f(avl, cmp);
  } else {
    Avl<PointerAccess, FunctionCompare> avl(PointerAccess(parents), cmp, TreeState(tree));
    result = f(avl, cmp);
  }
  tree->nonEmpty = tree->count > 0 ? 1 : 0;
  return result;
}

void Put(void** out, void* value) {
  if (out != nullptr) *out = value;
}

// Ordered search: an exact match answers the non-strict modes; otherwise one
// in-order step from where the search ended.
std::int32_t Ordered(TiBtiTree* tree, const void* key, std::int32_t mode, void** out) {
  Put(out, nullptr);
  if (!Usable(tree) || key == nullptr) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    const int found = avl.search(key, mode);
    if (found < 0) return found;
    if (found == 1 && (mode == 1 || mode == -1)) {
      Put(out, avl.current());
      return 1;
    }
    const int stepped = avl.step(mode > 0 ? 1 : -1);
    if (stepped != 1) return stepped;
    Put(out, avl.current());
    return 1;
  });
}

std::int32_t Extreme(TiBtiTree* tree, int direction, void** out) {
  Put(out, nullptr);
  if (!Usable(tree)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    const int r = avl.extreme(direction);
    if (r == 1) Put(out, avl.current());
    return r;
  });
}

std::int32_t Step(TiBtiTree* tree, int direction, void** out) {
  Put(out, nullptr);
  if (!Usable(tree)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    const int r = avl.step(direction);
    if (r == 1) Put(out, avl.current());
    return r;
  });
}

template <class Access>
bool DumpWalk(const Access& access, void* node, std::int32_t depth, TiBtiDumpNode fn, void* context,
              std::int32_t& height) {
  if (node == nullptr) return true;
  if (depth >= kTiBtiPathCapacity) return false;
  if (depth + 1 > height) height = depth + 1;
  if (!DumpWalk(access, access.child(node, -1), depth + 1, fn, context, height)) return false;
  if (fn != nullptr) fn(node, depth, context);
  return DumpWalk(access, access.child(node, 1), depth + 1, fn, context, height);
}

}  // namespace

std::int32_t TiBtiInit(TiBtiTree* tree, TiBtiCompare compare, void* context, std::int32_t isShort) {
  if (tree == nullptr || compare == nullptr) return kRmfBadArgument;
  std::memset(tree, 0, sizeof(*tree));
  tree->compare = compare;
  tree->context = context;
  tree->parentLinks = isShort != 0 ? 0 : 1;
  tree->linkForm = kTiBtiLinksPointer;
  tree->valid = 1;
  return 1;
}

std::int32_t TiBtiInitLinked32(TiBtiTree* tree, TiBtiCompare compare, void* context, std::int32_t isShort,
                               TiBtiHandleToNode toNode, TiBtiNodeToHandle toHandle, void* linkContext) {
  if (toNode == nullptr || toHandle == nullptr) return kRmfBadArgument;
  const std::int32_t r = TiBtiInit(tree, compare, context, isShort);
  if (r != 1) return r;
  tree->linkForm = kTiBtiLinks32;
  tree->toNode = toNode;
  tree->toHandle = toHandle;
  tree->linkContext = linkContext;
  return 1;
}

std::uint32_t TiBtiInconsistencies() { return ti::bti::g_inconsistencies.load(std::memory_order_relaxed); }

std::int32_t TiBtiFindForce(TiBtiTree* tree, void* key, std::int32_t mode, void** node, std::int32_t insert) {
  Put(node, nullptr);
  if (!Usable(tree) || key == nullptr) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare& cmp) -> std::int32_t {
    if (mode == 0) {
      const int found = avl.search(key, 0);
      if (found != 0) {
        if (found == 1) Put(node, avl.current());
        return found;
      }
    } else {
      // Append at an end: the key must lie beyond the extreme record.
      const int direction = mode > 0 ? 1 : -1;
      const int r = avl.extreme(direction);
      if (r < 0) return r;
      if (r == 1) {
        const std::int32_t c = cmp(key, avl.current(), 0);
        const bool beyond = direction > 0 ? c > 0 : c < 0;
        if (!beyond) return -1;
        tree->pathDir[tree->pathEnd - 1] = static_cast<std::int8_t>(direction);
      }
    }
    if (insert == 0) return 0;
    const int r = avl.insertAtPathEnd(key);
    if (r < 0) return r;
    Put(node, key);
    return 0;
  });
}

std::int32_t TiBtiLeast(TiBtiTree* tree, void** node) { return Extreme(tree, -1, node); }
std::int32_t TiBtiGreatest(TiBtiTree* tree, void** node) { return Extreme(tree, 1, node); }
std::int32_t TiBtiLeastGe(TiBtiTree* tree, const void* key, void** node) { return Ordered(tree, key, 1, node); }
std::int32_t TiBtiLeastGt(TiBtiTree* tree, const void* key, void** node) { return Ordered(tree, key, 2, node); }
std::int32_t TiBtiGreatestLe(TiBtiTree* tree, const void* key, void** node) { return Ordered(tree, key, -1, node); }
std::int32_t TiBtiGreatestLt(TiBtiTree* tree, const void* key, void** node) { return Ordered(tree, key, -2, node); }
std::int32_t TiBtiNext(TiBtiTree* tree, void** node) { return Step(tree, 1, node); }
std::int32_t TiBtiPrevious(TiBtiTree* tree, void** node) { return Step(tree, -1, node); }

std::int32_t TiBtiCurrent(TiBtiTree* tree, void** node) {
  Put(node, nullptr);
  if (!Usable(tree)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    void* current = avl.current();
    Put(node, current);
    return current != nullptr ? 1 : 0;
  });
}

std::int32_t TiBtiMakeCurrent(TiBtiTree* tree, void* node) {
  if (!Usable(tree) || node == nullptr) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    if (avl.current() == node) return 1;
    if (tree->parentLinks != 0) return avl.pathByParents(node) ? 1 : 0;
    // Without parent links the node is found by its own key; the old path is
    // put back when the search does not end at this very record.
    void* savedNode[kTiBtiPathCapacity];
    std::int8_t savedDir[kTiBtiPathCapacity];
    const std::int32_t savedEnd = tree->pathEnd;
    std::memcpy(savedNode, tree->pathNode, sizeof(void*) * static_cast<std::size_t>(savedEnd));
    std::memcpy(savedDir, tree->pathDir, static_cast<std::size_t>(savedEnd));
    const int found = avl.search(node, 0);
    if (found == 1 && avl.current() == node) return 1;
    std::memcpy(tree->pathNode, savedNode, sizeof(void*) * static_cast<std::size_t>(savedEnd));
    std::memcpy(tree->pathDir, savedDir, static_cast<std::size_t>(savedEnd));
    tree->pathEnd = savedEnd;
    return found < 0 ? found : 0;
  });
}

std::int32_t TiBtiDeleteCurrent(TiBtiTree* tree) {
  if (!Usable(tree)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t { return avl.deleteCurrent(); });
}

std::int32_t TiBtiDelete(TiBtiTree* tree, const void* key, void** node) {
  Put(node, nullptr);
  if (!Usable(tree)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    const int found = key == nullptr ? avl.extreme(-1) : avl.search(key, 0);
    if (found != 1) return found;
    void* victim = avl.current();
    const int r = avl.deleteCurrent();
    if (r == 1) Put(node, victim);
    return r;
  });
}

std::int32_t TiBtiMove(TiBtiTree* tree, void* oldAddress, void* newAddress, std::int32_t copyFirst) {
  if (!Usable(tree) || oldAddress == nullptr || newAddress == nullptr) return kRmfBadArgument;
  if (oldAddress == newAddress) return 1;
  return Run(tree, [&](auto& avl, const FunctionCompare& cmp) -> std::int32_t {
    const auto& a = avl.access();
    if (copyFirst != 0) std::memmove(newAddress, oldAddress, a.nodeBytes());
    // Find the link that holds the old address: through the parent link when
    // kept, else by a search for the record's key that must meet the old
    // address itself.
    void* parent = nullptr;
    if (tree->parentLinks != 0) {
      parent = a.parent(newAddress);
    } else {
      void* n = tree->root;
      for (int depth = 0; n != oldAddress; ++depth) {
        if (n == nullptr || depth >= kTiBtiPathCapacity) return kRmfBadArgument;
        const std::int32_t c = cmp(newAddress, n, 0);
        if (c == 0) return kRmfBadArgument;
        parent = n;
        n = a.child(n, c < 0 ? -1 : 1);
      }
    }
    if (parent == nullptr) {
      if (tree->root != oldAddress) return kRmfBadArgument;
      tree->root = newAddress;
    } else if (a.child(parent, -1) == oldAddress) {
      a.setChild(parent, -1, newAddress);
    } else if (a.child(parent, 1) == oldAddress) {
      a.setChild(parent, 1, newAddress);
    } else {
      return kRmfBadArgument;
    }
    for (int d = -1; d <= 1; d += 2) {
      void* c = a.child(newAddress, d);
      if (c != nullptr) a.setParent(c, newAddress);
    }
    for (std::int32_t i = 0; i < tree->pathEnd; ++i) {
      if (tree->pathNode[i] == oldAddress) tree->pathNode[i] = newAddress;
    }
    return 1;
  });
}

std::int32_t TiBtiNNodes(TiBtiTree* tree) {
  if (!Usable(tree)) return kRmfBadArgument;
  return tree->count;
}

std::int32_t TiBtiSetShort(TiBtiTree* tree, std::int32_t isShort) {
  if (!Usable(tree)) return kRmfBadArgument;
  if (isShort != 0) {
    tree->parentLinks = 0;
    return 1;
  }
  if (tree->parentLinks != 0) return 1;
  tree->parentLinks = 1;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    if (avl.rebuildParents(tree->root, nullptr, 0)) return 1;
    tree->parentLinks = 0;
    return kRmfMalformed;
  });
}

std::int32_t TiBtiDump(TiBtiTree* tree, TiBtiDumpNode nodeFunction, TiBtiDumpEnd endFunction, void* context) {
  if (!Usable(tree)) return kRmfBadArgument;
  tree->lock = 1;
  std::int32_t height = 0;
  const std::int32_t r = Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    return DumpWalk(avl.access(), tree->root, 0, nodeFunction, context, height) ? 1 : kRmfMalformed;
  });
  tree->lock = 0;
  if (endFunction != nullptr) endFunction(height, context);
  return r;
}

std::int32_t TiBtiVerifyBalance(TiBtiTree* tree) {
  if (!Usable(tree)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    return avl.verifyBalance(tree->root, nullptr, 0);
  });
}

std::int32_t TiBtiVerifySort(TiBtiTree* tree) {
  if (!Usable(tree)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare&) -> std::int32_t {
    const void* previous = nullptr;
    return avl.verifySort(tree->root, nullptr, previous, 0) ? 1 : 0;
  });
}

std::int32_t TiBtiVerifyPath(TiBtiTree* tree, const void* key, std::int32_t mode) {
  if (!Usable(tree) || (key == nullptr && mode == 0)) return kRmfBadArgument;
  return Run(tree, [&](auto& avl, const FunctionCompare& cmp) -> std::int32_t {
    // Recompute the path in scratch storage and compare it with the stored one.
    void* root = tree->root;
    std::int32_t count = tree->count;
    void* nodes[kTiBtiPathCapacity];
    std::int8_t dirs[kTiBtiPathCapacity];
    std::int32_t end = 0;
    const State scratch{&root, &count, nodes, dirs, kTiBtiPathCapacity, &end, nullptr};
    std::remove_reference_t<decltype(avl)> probe(avl.access(), cmp, scratch);
    const int r = key == nullptr ? probe.extreme(mode > 0 ? 1 : -1) : probe.search(key, mode);
    if (r < 0) return 0;
    if (end != tree->pathEnd) return 0;
    for (std::int32_t i = 0; i < end; ++i) {
      if (nodes[i] != tree->pathNode[i] || dirs[i] != tree->pathDir[i]) return 0;
    }
    return 1;
  });
}
