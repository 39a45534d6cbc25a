// The circular list: nodes, iterators and their byte accounting (see RmfDcll.h).
#include "mapengine/format/route/RmfDcll.h"

namespace {

// Links node in front of at (which is in a non-empty list).
void LinkBefore(DcllNode* node, DcllNode* at) {
  node->next = at;
  node->previous = at->previous;
  at->previous->next = node;
  at->previous = node;
}

void Unlink(DcllNode* node) {
  node->previous->next = node->next;
  node->next->previous = node->previous;
}

// A new node of the list holding element, not yet linked; null without memory.
DcllNode* NewNode(DcllList* list, void* element) {
  auto* node = static_cast<DcllNode*>(list->alloc(sizeof(DcllNode)));
  if (node == nullptr) return nullptr;
  node->element = element;
  node->next = node;
  node->previous = node;
  list->bytes += kDcllNodeBytes;
  return node;
}

// Puts node at the tail (the head's previous); an empty list gets it as head.
void LinkAtTail(DcllList* list, DcllNode* node) {
  if (list->head == nullptr) {
    node->next = node;
    node->previous = node;
    list->head = node;
  } else {
    LinkBefore(node, list->head);
  }
}

void* ElementAt(const DcllNode* node) { return node != nullptr ? node->element : nullptr; }

}  // namespace

DcllList* dcllCreateList(DcllElementFreeFn elementFree, DcllAllocFn alloc, DcllFreeFn free) {
  if (alloc == nullptr || free == nullptr) return nullptr;
  auto* list = static_cast<DcllList*>(alloc(sizeof(DcllList)));
  if (list == nullptr) return nullptr;
  list->head = nullptr;
  list->bytes = kDcllListBytes;
  list->elementFree = elementFree;
  list->alloc = alloc;
  list->free = free;
  return list;
}

void dcllDestroyList(DcllList* list) {
  if (list == nullptr) return;
  DcllNode* node = list->head;
  if (node != nullptr) {
    list->head->previous->next = nullptr;  // open the ring so the walk ends at the tail
    while (node != nullptr) {
      DcllNode* next = node->next;
      if (list->elementFree != nullptr) list->elementFree(node->element);
      list->free(node);
      node = next;
    }
  }
  list->free(list);
}

std::uint32_t dcllGetMemAllocated(const DcllList* list) { return list != nullptr ? list->bytes : 0; }

std::int32_t dcllAddAfterTail(DcllList* list, void* element, DcllNode** node) {
  if (node != nullptr) *node = nullptr;
  if (list == nullptr) return kDcllFailed;
  DcllNode* added = NewNode(list, element);
  if (added == nullptr) return kDcllFailed;
  LinkAtTail(list, added);
  if (node != nullptr) *node = added;
  return 0;
}

std::int32_t dcllAddBeforeHead(DcllList* list, void* element) {
  if (list == nullptr) return kDcllFailed;
  DcllNode* added = NewNode(list, element);
  if (added == nullptr) return kDcllFailed;
  // In a ring the place before the head is the tail's place: link it there
  // and let it be the head.
  LinkAtTail(list, added);
  list->head = added;
  return 0;
}

std::int32_t dcllAddBeforeCurrent(DcllIterator* iterator, void* element) {
  if (iterator == nullptr || iterator->list == nullptr) return kDcllFailed;
  DcllList* list = iterator->list;
  DcllNode* current = iterator->current;
  if (current == nullptr) return dcllAddAfterTail(list, element, nullptr);
  if (current == list->head) return dcllAddBeforeHead(list, element);
  DcllNode* added = NewNode(list, element);
  if (added == nullptr) return kDcllFailed;
  LinkBefore(added, current);
  return 0;
}

DcllIterator* dcllGetIterator(DcllList* list) {
  if (list == nullptr) return nullptr;
  auto* iterator = static_cast<DcllIterator*>(list->alloc(sizeof(DcllIterator)));
  if (iterator == nullptr) return nullptr;
  iterator->list = list;
  iterator->current = nullptr;
  iterator->owner = list;
  list->bytes += kDcllIteratorBytes;
  return iterator;
}

void dcllDestroyIterator(DcllIterator* iterator) {
  if (iterator == nullptr || iterator->owner == nullptr) return;
  DcllList* owner = iterator->owner;
  owner->bytes -= kDcllIteratorBytes;
  owner->free(iterator);
}

DcllIterator* dcllInitIterator(DcllList* list, DcllIterator* storage) {
  if (storage == nullptr) return nullptr;
  storage->list = list;
  storage->current = nullptr;
  storage->owner = nullptr;
  return storage;
}

void dcllCopyIterator(const DcllIterator* source, DcllIterator* destination) {
  if (source == nullptr || destination == nullptr) return;
  destination->list = source->list;
  destination->current = source->current;
}

void* dcllSetPosition(DcllIterator* iterator, DcllNode* node) {
  if (iterator == nullptr || node == nullptr) return nullptr;
  iterator->current = node;
  return node->element;
}

void* dcllHead(DcllIterator* iterator) {
  if (iterator == nullptr) return nullptr;
  iterator->current = iterator->list != nullptr ? iterator->list->head : nullptr;
  return ElementAt(iterator->current);
}

void* dcllTail(DcllIterator* iterator) {
  if (iterator == nullptr) return nullptr;
  DcllNode* head = iterator->list != nullptr ? iterator->list->head : nullptr;
  iterator->current = head != nullptr ? head->previous : nullptr;
  return ElementAt(iterator->current);
}

void* dcllNext(DcllIterator* iterator) {
  if (iterator == nullptr || iterator->current == nullptr || iterator->list == nullptr) return nullptr;
  DcllNode* next = iterator->current->next;
  iterator->current = next == iterator->list->head ? nullptr : next;
  return ElementAt(iterator->current);
}

void* dcllPrev(DcllIterator* iterator) {
  if (iterator == nullptr || iterator->current == nullptr || iterator->list == nullptr) return nullptr;
  iterator->current = iterator->current == iterator->list->head ? nullptr : iterator->current->previous;
  return ElementAt(iterator->current);
}

void* dcllCurrent(const DcllIterator* iterator) {
  return iterator != nullptr ? ElementAt(iterator->current) : nullptr;
}

std::int32_t dcllJustOne(const DcllList* list) {
  return list != nullptr && list->head != nullptr && list->head->next == list->head ? 1 : 0;
}

std::int32_t dcllNumElems(const DcllList* list) {
  if (list == nullptr || list->head == nullptr) return 0;
  std::int32_t count = 0;
  const DcllNode* node = list->head;
  do {
    ++count;
    node = node->next;
  } while (node != list->head);
  return count;
}

void* dcllDelete(DcllIterator* iterator) {
  if (iterator == nullptr || iterator->current == nullptr || iterator->list == nullptr) return nullptr;
  DcllList* list = iterator->list;
  DcllNode* node = iterator->current;
  void* element = node->element;
  if (node->next == node) {
    list->head = nullptr;
    iterator->current = nullptr;
  } else {
    Unlink(node);
    if (node == list->head) {
      list->head = node->next;
      iterator->current = list->head;
    } else {
      iterator->current = node->previous;
    }
  }
  list->free(node);
  list->bytes -= kDcllNodeBytes;
  return element;
}

std::int32_t dcllForEach(DcllList* list, DcllVisitFn visit, std::int32_t* stop, void* context) {
  if (visit == nullptr) return kDcllFailed;
  DcllIterator walk;
  dcllInitIterator(list, &walk);
  for (dcllHead(&walk); walk.current != nullptr; dcllNext(&walk)) {
    if (visit(walk.current->element, stop, context) < 0) return kDcllFailed;
    if (stop != nullptr && *stop == 1) break;
  }
  return 0;
}

void dcllMoveToTail(DcllList* list, DcllNode* node) {
  if (list == nullptr || node == nullptr || list->head == nullptr) return;
  if (node == list->head) {
    // The head moves to the tail by turning the ring one step.
    list->head = node->next;
    return;
  }
  if (node == list->head->previous) return;
  Unlink(node);
  LinkBefore(node, list->head);
}
