// The hash table: buckets of circular lists, entries and their byte
// accounting, and the string and integer key functions (see RmfHashtab.h).
#include "mapengine/format/route/RmfHashtab.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

// TiCrc is the library's 16-bit CRC of cached blocks (polynomial 0x1021, most
// significant bit first), not this one: the string hash keeps its own table.
constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrc32Table = MakeCrc32Table();

constexpr std::array<std::int32_t, 28> kPrimes = {
    7,       13,       31,       61,       127,       251,       509,       1021,     2039,      4093,
    8191,    16381,    32749,    65521,    131071,    262139,    524287,    1048573,  2097143,   4194301,
    8388593, 16777213, 33554393, 67108859, 134217689, 268435399, 536870909, 1073741789};

// The bucket lists' element-free function: the value goes to the table's
// element-free function, then the entry itself is freed.
void FreeEntry(void* element) {
  auto* entry = static_cast<HashtabEntry*>(element);
  if (entry->elementFree != nullptr) entry->elementFree(entry->value);
  entry->free(entry);
}

DcllList* BucketOf(const Hashtab* table, const void* key) {
  const std::uint32_t index = table->hash(key) % static_cast<std::uint32_t>(table->bucketCount);
  return table->buckets[index];
}

DcllList** BucketCellOf(Hashtab* table, const void* key) {
  const std::uint32_t index = table->hash(key) % static_cast<std::uint32_t>(table->bucketCount);
  return &table->buckets[index];
}

// The first node from start (inclusive) up to the list's tail whose entry's
// key equals key; null when there is none.
DcllNode* Match(const Hashtab* table, const DcllList* list, DcllNode* start, const void* key) {
  if (list == nullptr || start == nullptr) return nullptr;
  DcllNode* node = start;
  do {
    const auto* entry = static_cast<const HashtabEntry*>(node->element);
    if (table->compare(key, entry->key) == 0) return node;
    node = node->next;
  } while (node != list->head);
  return nullptr;
}

void* ValueOf(const DcllNode* node) { return static_cast<const HashtabEntry*>(node->element)->value; }

template <class T>
void Put(T* out, T value) {
  if (out != nullptr) *out = value;
}

// What hashtabForEach hands to dcllForEach for each entry.
struct VisitValues {
  DcllVisitFn visit;
  void* context;
};

std::int32_t VisitValue(void* element, std::int32_t* stop, void* context) {
  const auto* values = static_cast<const VisitValues*>(context);
  return values->visit(static_cast<HashtabEntry*>(element)->value, stop, values->context);
}

std::uintptr_t KeyBits(const void* key) { return reinterpret_cast<std::uintptr_t>(key); }

}  // namespace

Hashtab* hashtabCreateTable(HashtabCompareFn compare, DcllElementFreeFn elementFree, DcllAllocFn alloc,
                            DcllFreeFn free, HashtabHashFn hash, std::int32_t bucketCount) {
  if (compare == nullptr || alloc == nullptr || free == nullptr || hash == nullptr || bucketCount < 1) {
    return nullptr;
  }
  auto* table = static_cast<Hashtab*>(alloc(sizeof(Hashtab)));
  if (table == nullptr) return nullptr;
  const std::size_t arrayBytes = sizeof(DcllList*) * static_cast<std::size_t>(bucketCount);
  auto** buckets = static_cast<DcllList**>(alloc(arrayBytes));
  if (buckets == nullptr) {
    free(table);
    return nullptr;
  }
  for (std::int32_t i = 0; i < bucketCount; ++i) buckets[i] = nullptr;
  table->compare = compare;
  table->elementFree = elementFree;
  table->alloc = alloc;
  table->free = free;
  table->hash = hash;
  table->buckets = buckets;
  table->bucketCount = bucketCount;
  table->count = 0;
  table->bytes = kHashtabTableBytes + kHashtabBucketBytes * static_cast<std::uint32_t>(bucketCount);
  return table;
}

Hashtab* hashtabCreateStringTable(DcllElementFreeFn elementFree, DcllAllocFn alloc, DcllFreeFn free,
                                  std::int32_t bucketCount) {
  return hashtabCreateTable(hashtabStringCompare, elementFree, alloc, free, hashtabStringHash, bucketCount);
}

Hashtab* hashtabCreateIntTable(DcllElementFreeFn elementFree, DcllAllocFn alloc, DcllFreeFn free,
                               std::int32_t bucketCount) {
  return hashtabCreateTable(hashtabIntCompare, elementFree, alloc, free, hashtabIntHash, bucketCount);
}

void hashtabDestroyTable(Hashtab* table) {
  if (table == nullptr) return;
  for (std::int32_t i = 0; i < table->bucketCount; ++i) dcllDestroyList(table->buckets[i]);
  DcllFreeFn release = table->free;
  release(table->buckets);
  release(table);
}

std::int32_t hashtabSize(std::uint32_t n) {
  const std::uint32_t third = n / 3;
  for (std::int32_t prime : kPrimes) {
    if (static_cast<std::uint32_t>(prime) > third) return prime;
  }
  return kPrimes.back();
}

std::int32_t hashtabAdd(Hashtab* table, void* value, const void* key) {
  if (table == nullptr) return kHashtabFailed;
  DcllList** cell = BucketCellOf(table, key);
  DcllList* list = *cell;
  if (list != nullptr && Match(table, list, list->head, key) != nullptr) return kHashtabFailed;

  const bool created = list == nullptr;
  if (created) {
    list = dcllCreateList(FreeEntry, table->alloc, table->free);
    if (list == nullptr) return kHashtabFailed;
  }
  const std::uint32_t listBefore = created ? 0 : dcllGetMemAllocated(list);
  auto* entry = static_cast<HashtabEntry*>(table->alloc(sizeof(HashtabEntry)));
  if (entry == nullptr || dcllAddAfterTail(list, entry, nullptr) != 0) {
    if (entry != nullptr) table->free(entry);
    if (created) dcllDestroyList(list);  // empty: frees no entry
    return kHashtabFailed;
  }
  entry->value = value;
  entry->key = key;
  entry->elementFree = table->elementFree;
  entry->free = table->free;
  *cell = list;
  ++table->count;
  table->bytes += kHashtabEntryBytes + (dcllGetMemAllocated(list) - listBefore);
  return 0;
}

std::int32_t hashtabFind(Hashtab* table, const void* key, void** value) {
  return hashtabFindFirst(table, key, value, nullptr);
}

std::int32_t hashtabFindFirst(Hashtab* table, const void* key, void** value, DcllNode** cursor) {
  Put<void*>(value, nullptr);
  Put<DcllNode*>(cursor, nullptr);
  if (table == nullptr) return 0;
  const DcllList* list = BucketOf(table, key);
  DcllNode* node = list != nullptr ? Match(table, list, list->head, key) : nullptr;
  if (node == nullptr) return 0;
  Put(value, ValueOf(node));
  Put(cursor, node);
  return 1;
}

std::int32_t hashtabFindNext(Hashtab* table, const void* key, DcllNode** cursor, void** value) {
  Put<void*>(value, nullptr);
  if (table == nullptr || cursor == nullptr || *cursor == nullptr) return 0;
  const DcllList* list = BucketOf(table, key);
  if (list == nullptr) return 0;
  // The walk ends at the tail: the node after it is the head again.
  DcllNode* after = (*cursor)->next;
  DcllNode* node = after == list->head ? nullptr : Match(table, list, after, key);
  if (node == nullptr) return 0;
  *cursor = node;
  Put(value, ValueOf(node));
  return 1;
}

std::int32_t hashtabRemove(Hashtab* table, const void* key, void** value) {
  Put<void*>(value, nullptr);
  if (table == nullptr) return 0;
  DcllList* list = BucketOf(table, key);
  DcllNode* node = list != nullptr ? Match(table, list, list->head, key) : nullptr;
  if (node == nullptr) return 0;
  DcllIterator at;
  dcllInitIterator(list, &at);
  dcllSetPosition(&at, node);
  const std::uint32_t listBefore = dcllGetMemAllocated(list);
  auto* entry = static_cast<HashtabEntry*>(dcllDelete(&at));
  Put(value, entry->value);
  table->free(entry);
  --table->count;
  table->bytes -= kHashtabEntryBytes + (listBefore - dcllGetMemAllocated(list));
  return 1;
}

std::int32_t hashtabForEach(Hashtab* table, DcllVisitFn visit, std::int32_t* stop, void* context) {
  if (stop != nullptr) *stop = 0;
  if (visit == nullptr) return kDcllFailed;
  if (table == nullptr) return 0;
  VisitValues values{visit, context};
  for (std::int32_t i = 0; i < table->bucketCount; ++i) {
    if (dcllForEach(table->buckets[i], VisitValue, stop, &values) < 0) return kDcllFailed;
    if (stop != nullptr && *stop == 1) break;
  }
  return 0;
}

std::uint32_t hashtabGetMemAllocated(const Hashtab* table) { return table != nullptr ? table->bytes : 0; }

std::int32_t hashtabGetNumElems(const Hashtab* table) { return table != nullptr ? table->count : 0; }

std::uint32_t hashtabStringHash(const void* text) {
  if (text == nullptr) return 0;
  std::uint32_t crc = 0;
  for (const auto* p = static_cast<const unsigned char*>(text); *p != 0; ++p) {
    crc = kCrc32Table[(crc ^ *p) & 0xFF] ^ (crc >> 8);
  }
  return crc;
}

std::int32_t hashtabStringCompare(const void* a, const void* b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

std::uint32_t hashtabIntHash(const void* key) { return static_cast<std::uint32_t>(KeyBits(key)); }

std::int32_t hashtabIntCompare(const void* a, const void* b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(KeyBits(a)) - static_cast<std::uint32_t>(KeyBits(b)));
}
