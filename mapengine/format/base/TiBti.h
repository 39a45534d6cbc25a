// The balanced tree index: an intrusive height-balanced (AVL) search tree that
// never allocates. The caller's records begin with the tree node; the tree
// keeps the path from the root to its current position, so a search can be
// followed by in-order steps, deletion of the current node, or insertion at the
// place where the search ended.
//
// Two node forms share one implementation:
//   - pointer links (TiBtiInit): TiBtiNode, or TiBtiShortNode for a short tree;
//     the router's open sets and any other heap records use this form.
//   - 32-bit links (TiBtiInitLinked32): TiBtiNode32, whose links are 32-bit
//     handles turned into addresses by two functions the caller supplies. The
//     tile caches use it for records that live in a tagged arena, so that a
//     record key is as large on a 64-bit build as on a 32-bit one (a node of
//     16 bytes, 12 when short).
// Every interface function still takes and returns ordinary record addresses.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"

// Pointer-linked node. A short tree's records hold only left, right and
// balance (TiBtiShortNode); a parent-linked tree's records hold the parent too.
struct TiBtiNode {
  TiBtiNode* left;
  TiBtiNode* right;
  std::int8_t balance;  // -1 left subtree one level higher, 0 equal, +1 right higher
  TiBtiNode* parent;
};

struct TiBtiShortNode {
  TiBtiNode* left;
  TiBtiNode* right;
  std::int8_t balance;
};

// 32-bit-linked node: links are handles (0 = none) resolved by the tree's link
// functions. Records need only 4-byte alignment; spare bytes are never touched
// by the tree, so a record may use them. A short tree uses the first 12 bytes.
struct TiBtiNode32 {
  std::uint32_t left;
  std::uint32_t right;
  std::int8_t balance;
  std::uint8_t spare[3];
  std::uint32_t parent;
};
static_assert(sizeof(TiBtiNode32) == 16, "a 32-bit-linked node is 16 bytes on every build");

// Orders a key against a record in the tree: negative when the key belongs
// before the record, 0 when it matches, positive after. The ordered searches
// pass their mode as the last argument (-2 greatest below, -1 greatest not
// above, 1 least not below, 2 least above); every other search passes 0. A
// comparator may use the mode to pick a side among equal keys.
typedef std::int32_t (*TiBtiCompare)(const void* key, const void* node, void* context, std::int32_t mode);

// Link functions of the 32-bit form. Handle 0 is never passed to toNode and
// never returned for a record.
typedef void* (*TiBtiHandleToNode)(void* linkContext, std::uint32_t handle);
typedef std::uint32_t (*TiBtiNodeToHandle)(void* linkContext, const void* node);

typedef void (*TiBtiDumpNode)(void* node, std::int32_t depth, void* context);
typedef void (*TiBtiDumpEnd)(std::int32_t depth, void* context);

// Depth bound of the stored path. An AVL tree of height h holds at least
// F(h + 2) - 1 records (F = Fibonacci); with records of at least 16 bytes a
// 64-bit address space holds fewer than F(88) of them, so no tree that fits in
// memory is higher than 85 levels. 96 leaves room for the one extra level an
// insertion adds before it rebalances.
enum { kTiBtiPathCapacity = 96 };

enum { kTiBtiLinksPointer = 0, kTiBtiLinks32 = 1 };

// Tree header. Fields are read by the tree's own functions only; a header is
// never copied while the tree is in use (nothing in it points into itself, so
// a copy of an idle header is a valid header of the same tree).
struct TiBtiTree {
  TiBtiCompare compare;
  void* root;
  void* context;
  std::int32_t count;
  std::int32_t nonEmpty;      // 1 while count > 0
  std::int32_t parentLinks;   // 0 for a short tree
  std::int32_t pathEnd;       // number of path entries; 0 = no position
  std::int32_t critical;      // path index of the deepest node with balance != 0 at the last insertion
  std::int32_t lock;          // non-zero while a traversal runs
  std::int32_t valid;         // 1 after initialisation
  std::int32_t linkForm;      // kTiBtiLinksPointer or kTiBtiLinks32
  TiBtiHandleToNode toNode;   // 32-bit form only
  TiBtiNodeToHandle toHandle;
  void* linkContext;
  // Path from the root: node and direction (-1 left, +1 right; 0 at the
  // current node). A path whose last direction is not 0 ends between two
  // records: the key of the last search would sit on that side of its node.
  void* pathNode[kTiBtiPathCapacity];
  std::int8_t pathDir[kTiBtiPathCapacity];
};

// Every function returns kRmfBadArgument (-2) for a null tree, a tree that is
// not initialised, a locked tree, or a path end outside the path array; output
// pointers may be null (nothing is written then). kRmfMalformed (-128) reports
// a stored path that no longer matches the tree; the path is reset and a
// process-wide counter increased.

RMF_API_NODISCARD std::int32_t TiBtiInit(TiBtiTree* tree, TiBtiCompare compare, void* context, std::int32_t isShort);
RMF_API_NODISCARD std::int32_t TiBtiFindForce(TiBtiTree* tree, void* key, std::int32_t mode, void** node,
                                              std::int32_t insert);
RMF_API_NODISCARD std::int32_t TiBtiLeast(TiBtiTree* tree, void** node);
RMF_API_NODISCARD std::int32_t TiBtiGreatest(TiBtiTree* tree, void** node);
RMF_API_NODISCARD std::int32_t TiBtiLeastGe(TiBtiTree* tree, const void* key, void** node);
RMF_API_NODISCARD std::int32_t TiBtiLeastGt(TiBtiTree* tree, const void* key, void** node);
RMF_API_NODISCARD std::int32_t TiBtiGreatestLe(TiBtiTree* tree, const void* key, void** node);
RMF_API_NODISCARD std::int32_t TiBtiGreatestLt(TiBtiTree* tree, const void* key, void** node);
RMF_API_NODISCARD std::int32_t TiBtiNext(TiBtiTree* tree, void** node);
RMF_API_NODISCARD std::int32_t TiBtiPrevious(TiBtiTree* tree, void** node);
RMF_API_NODISCARD std::int32_t TiBtiCurrent(TiBtiTree* tree, void** node);
RMF_API_NODISCARD std::int32_t TiBtiMakeCurrent(TiBtiTree* tree, void* node);
RMF_API_NODISCARD std::int32_t TiBtiDeleteCurrent(TiBtiTree* tree);
RMF_API_NODISCARD std::int32_t TiBtiDelete(TiBtiTree* tree, const void* key, void** node);
// The record of oldAddress now lives at newAddress. With copyFirst set the
// node fields are copied from old to new first (the caller copies the rest).
// Without parent links the record is found by its key, read at newAddress
// and compared against the records still linked at oldAddress, so the old
// memory must stay readable until the call returns.
RMF_API_NODISCARD std::int32_t TiBtiMove(TiBtiTree* tree, void* oldAddress, void* newAddress, std::int32_t copyFirst);
RMF_API_NODISCARD std::int32_t TiBtiNNodes(TiBtiTree* tree);
RMF_API_NODISCARD std::int32_t TiBtiSetShort(TiBtiTree* tree, std::int32_t isShort);
RMF_API_NODISCARD std::int32_t TiBtiDump(TiBtiTree* tree, TiBtiDumpNode nodeFunction, TiBtiDumpEnd endFunction,
                                         void* context);
RMF_API_NODISCARD std::int32_t TiBtiVerifyBalance(TiBtiTree* tree);
RMF_API_NODISCARD std::int32_t TiBtiVerifySort(TiBtiTree* tree);
RMF_API_NODISCARD std::int32_t TiBtiVerifyPath(TiBtiTree* tree, const void* key, std::int32_t mode);

// Library-internal additions (not exported from the shared library).

// As TiBtiInit, for records that begin with a TiBtiNode32. kRmfBadArgument (-2)
// without compare or either link function.
RMF_EXTERN_C [[nodiscard]] std::int32_t TiBtiInitLinked32(TiBtiTree* tree, TiBtiCompare compare, void* context,
                                                          std::int32_t isShort, TiBtiHandleToNode toNode,
                                                          TiBtiNodeToHandle toHandle, void* linkContext);
// Number of inconsistent paths met so far in this process.
RMF_EXTERN_C [[nodiscard]] std::uint32_t TiBtiInconsistencies();
