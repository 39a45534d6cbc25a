// The circular list: a doubly-linked circular list of element pointers with
// separate iterator objects, on memory functions its creator supplies. The
// list counts the bytes it has allocated so that a cache built on it can keep
// a byte budget. Elements belong to the caller; a list created with an
// element-free function hands each element still in it to that function when
// the list is destroyed.
//
// Byte counts are those of the phone's 32-bit build, whatever the pointer size
// of this machine: 20 for the list header, 12 per node (element, next,
// previous), 8 per iterator the list allocated. Budgets computed from them
// then mean the same on every build. The counts are 32-bit and wrap as the
// phone's do.
//
// Nothing here locks: a list and its iterators are used by one thread at a
// time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapengine/format/RmfExport.h"

// Memory functions: alloc returns null when it has no memory; both may be
// malloc and free.
typedef void* (*DcllAllocFn)(std::size_t size);
typedef void (*DcllFreeFn)(void* pointer);
// Frees or releases one element.
typedef void (*DcllElementFreeFn)(void* element);
// Visits one element for dcllForEach: a negative answer stops the walk with
// kDcllFailed; setting *stop to 1 stops it after this element.
typedef std::int32_t (*DcllVisitFn)(void* element, std::int32_t* stop, void* context);

// The one failure code of the list and of the hash table built on it: no
// memory, a refused argument, or a visit that answered negatively.
inline constexpr std::int32_t kDcllFailed = -1;

inline constexpr std::uint32_t kDcllListBytes = 20;
inline constexpr std::uint32_t kDcllNodeBytes = 12;
inline constexpr std::uint32_t kDcllIteratorBytes = 8;

struct DcllNode {
  void* element;
  DcllNode* next;
  DcllNode* previous;
};

struct DcllList {
  DcllNode* head;  // null when empty; head->previous is the tail
  std::uint32_t bytes;
  DcllElementFreeFn elementFree;  // may be null
  DcllAllocFn alloc;
  DcllFreeFn free;
};

// An iterator: its list and its position (null = no position, or past either
// end). owner is the list whose memory functions allocated the iterator
// (dcllGetIterator) and which counts its 8 bytes; it is null for an iterator
// in the caller's storage (dcllInitIterator) and does not change when
// dcllCopyIterator points the iterator at another list, so destroying it
// always gives the memory back where it came from.
struct DcllIterator {
  DcllList* list;
  DcllNode* current;
  DcllList* owner;
};

// A new empty list (20 bytes), allocated with alloc; null without memory or
// without alloc or free. elementFree may be null.
RMF_API_NODISCARD DcllList* dcllCreateList(DcllElementFreeFn elementFree, DcllAllocFn alloc, DcllFreeFn free);
// Frees every node from the head, handing each element to the element-free
// function when the list has one, then the list. Iterators on the list must
// be destroyed first. Null does nothing.
RMF_API void dcllDestroyList(DcllList* list);
// Bytes allocated by the list as counted above; 0 for null.
RMF_API_NODISCARD std::uint32_t dcllGetMemAllocated(const DcllList* list);

// Appends the element; *node (when node is not null) receives the new node,
// null on failure. 0, or kDcllFailed (-1) without memory or without a list,
// which is then unchanged.
RMF_API_NODISCARD std::int32_t dcllAddAfterTail(DcllList* list, void* element, DcllNode** node);
// Prepends the element: the new node becomes the head. 0 or kDcllFailed (-1).
RMF_API_NODISCARD std::int32_t dcllAddBeforeHead(DcllList* list, void* element);
// Inserts the element before the iterator's current node (at the head this is
// dcllAddBeforeHead); without a current node it appends. The iterator keeps
// its position. 0 or kDcllFailed (-1).
RMF_API_NODISCARD std::int32_t dcllAddBeforeCurrent(DcllIterator* iterator, void* element);

// A new iterator without a position, allocated with the list's alloc and
// counted in the list's bytes (+8); null without memory or without a list.
RMF_API_NODISCARD DcllIterator* dcllGetIterator(DcllList* list);
// Frees an iterator from dcllGetIterator (-8 bytes on the list that allocated
// it). An iterator in the caller's storage is left alone; null does nothing.
RMF_API void dcllDestroyIterator(DcllIterator* iterator);
// Makes the caller's storage an iterator of the list without a position, not
// counted in the list's bytes, and returns it (null for null storage).
RMF_API DcllIterator* dcllInitIterator(DcllList* list, DcllIterator* storage);
// Copies the source's list and position into the destination; nothing when
// either is null.
RMF_API void dcllCopyIterator(const DcllIterator* source, DcllIterator* destination);

// Positioning and stepping. Each returns the element at the new position, or
// null when there is none (an element that is itself null reads the same).
// Places the iterator on the node (which must belong to its list); a null node
// returns null and leaves the position unchanged.
RMF_API void* dcllSetPosition(DcllIterator* iterator, DcllNode* node);
// Head or tail; null (and no position) when the list is empty.
RMF_API void* dcllHead(DcllIterator* iterator);
RMF_API void* dcllTail(DcllIterator* iterator);
// The next element; stepping on from the tail clears the position and returns
// null, as does an iterator without a position.
RMF_API void* dcllNext(DcllIterator* iterator);
// The previous element; stepping back from the head clears the position.
RMF_API void* dcllPrev(DcllIterator* iterator);
RMF_API void* dcllCurrent(const DcllIterator* iterator);

// 1 when the list holds exactly one node, else 0.
RMF_API_NODISCARD std::int32_t dcllJustOne(const DcllList* list);
// Number of nodes (walks the list); 0 for null.
RMF_API_NODISCARD std::int32_t dcllNumElems(const DcllList* list);

// Unlinks and frees the current node (-12 bytes) and returns its element,
// which is not freed; null without a position. The iterator then stands on the
// removed node's predecessor or, when the head was removed, on the new head
// (no position once the list is empty). Other iterators on the removed node
// must not be used again.
RMF_API void* dcllDelete(DcllIterator* iterator);

// Calls visit(element, stop, context) for each element from the head. Returns
// kDcllFailed (-1) as soon as a call answers negatively (or without visit),
// else 0. The walk ends early once *stop is 1 after a call; stop may be null.
// visit must not add or remove elements of the list.
RMF_API_NODISCARD std::int32_t dcllForEach(DcllList* list, DcllVisitFn visit, std::int32_t* stop, void* context);

// Library-internal addition (not exported from the shared library).

// Makes the node, which must belong to the list, its tail without freeing or
// allocating anything: the block cache moves a used block to the newest end
// of its LRU list this way, where a delete and a new append could fail for
// want of memory and lose the block from the list.
RMF_EXTERN_C void dcllMoveToTail(DcllList* list, DcllNode* node);
