// The hash table: chained, with one circular list (RmfDcll.h) per bucket,
// created when the bucket gets its first entry, on memory functions its
// creator supplies. Keys are pointers (or 32-bit integers stored in one)
// compared by the table's compare function; a table holds at most one entry
// per key. Values belong to the caller; a table created with an element-free
// function hands each value still in it to that function when the table is
// destroyed.
//
// Byte counts are those of the phone's 32-bit build, whatever the pointer size
// of this machine: 40 for the table header, 4 per bucket, 16 per entry (value,
// key, element-free, free), plus the bytes of the bucket lists (20 each and 12
// per node). An emptied bucket keeps its list, so a remove gives back 28 bytes
// and never the list's 20.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/route/RmfDcll.h"

// 0 when the keys are equal; otherwise any non-zero value.
typedef std::int32_t (*HashtabCompareFn)(const void* a, const void* b);
typedef std::uint32_t (*HashtabHashFn)(const void* key);

// hashtabAdd's failure: the key is there already, or memory ran out.
inline constexpr std::int32_t kHashtabFailed = kDcllFailed;

inline constexpr std::uint32_t kHashtabTableBytes = 40;
inline constexpr std::uint32_t kHashtabBucketBytes = 4;
inline constexpr std::uint32_t kHashtabEntryBytes = 16;

// One entry, the element of a bucket list. It carries the table's
// element-free and free functions because a list frees its elements through a
// function of one argument.
struct HashtabEntry {
  void* value;
  const void* key;
  DcllElementFreeFn elementFree;
  DcllFreeFn free;
};

struct Hashtab {
  HashtabCompareFn compare;
  DcllElementFreeFn elementFree;  // may be null
  DcllAllocFn alloc;
  DcllFreeFn free;
  HashtabHashFn hash;
  DcllList** buckets;  // bucketCount lists, null until a bucket's first entry
  std::int32_t bucketCount;
  std::int32_t count;
  std::uint32_t bytes;
};

// A new table with bucketCount empty buckets (index = hash(key) modulo
// bucketCount, unsigned); null for a bucket count below 1, a missing function
// (elementFree may be null) or without memory, with everything allocated so
// far freed again.
RMF_API_NODISCARD Hashtab* hashtabCreateTable(HashtabCompareFn compare, DcllElementFreeFn elementFree,
                                              DcllAllocFn alloc, DcllFreeFn free, HashtabHashFn hash,
                                              std::int32_t bucketCount);
// Keys are NUL-terminated texts (hashtabStringCompare, hashtabStringHash).
RMF_API_NODISCARD Hashtab* hashtabCreateStringTable(DcllElementFreeFn elementFree, DcllAllocFn alloc,
                                                    DcllFreeFn free, std::int32_t bucketCount);
// Keys are 32-bit integers held in the key pointer (hashtabIntCompare,
// hashtabIntHash).
RMF_API_NODISCARD Hashtab* hashtabCreateIntTable(DcllElementFreeFn elementFree, DcllAllocFn alloc, DcllFreeFn free,
                                                 std::int32_t bucketCount);
// Frees every entry (handing its value to the element-free function when the
// table has one), every bucket list, the bucket array and the table. Null does
// nothing.
RMF_API void hashtabDestroyTable(Hashtab* table);

// A bucket count for about n elements: the first of the primes 7, 13, 31, 61,
// ..., 1073741789 (each near a power of two) above n / 3, so that chains stay
// about three entries long; the last prime when none is.
RMF_API_NODISCARD std::int32_t hashtabSize(std::uint32_t n);

// Adds the value under the key, which must stay valid while it is in the
// table. 0, or kHashtabFailed (-1) when an equal key is there already or
// memory runs out; the table is then as it was.
RMF_API_NODISCARD std::int32_t hashtabAdd(Hashtab* table, void* value, const void* key);
// 1 and *value when an entry with an equal key is there, else 0 and null.
// value may be null.
RMF_API_NODISCARD std::int32_t hashtabFind(Hashtab* table, const void* key, void** value);
// As hashtabFind; *cursor (which may be null) receives the entry's node for
// hashtabFindNext.
RMF_API_NODISCARD std::int32_t hashtabFindFirst(Hashtab* table, const void* key, void** value, DcllNode** cursor);
// The next entry after *cursor in the key's bucket whose key compares equal
// to key (compare functions that let one key match several entries, such as a
// wildcard, use this): 1 with *cursor and *value moved to it, else 0 with
// *value null and *cursor unchanged.
RMF_API_NODISCARD std::int32_t hashtabFindNext(Hashtab* table, const void* key, DcllNode** cursor, void** value);
// Removes the entry with an equal key and hands its value back (not freed):
// 1, or 0 (and null) when there is none. The bucket keeps its list.
RMF_API std::int32_t hashtabRemove(Hashtab* table, const void* key, void** value);
// Clears *stop (when stop is not null), then calls visit(value, stop, context)
// for each entry bucket by bucket. kDcllFailed (-1) as soon as a call answers
// negatively (or without visit), else 0; the walk ends once *stop is 1.
RMF_API_NODISCARD std::int32_t hashtabForEach(Hashtab* table, DcllVisitFn visit, std::int32_t* stop,
                                              void* context);
// Bytes as counted above, and entries; 0 for null.
RMF_API_NODISCARD std::uint32_t hashtabGetMemAllocated(const Hashtab* table);
RMF_API_NODISCARD std::int32_t hashtabGetNumElems(const Hashtab* table);

// CRC-32 (reflected polynomial 0xEDB88320, table-driven) of the text's bytes,
// starting from 0 and without the final complement, so the empty text (and
// null) hashes to 0.
RMF_API_NODISCARD std::uint32_t hashtabStringHash(const void* text);
// strcmp order; null sorts before every text.
RMF_API_NODISCARD std::int32_t hashtabStringCompare(const void* a, const void* b);
// The integer itself (the key pointer's low 32 bits).
RMF_API_NODISCARD std::uint32_t hashtabIntHash(const void* key);
// a - b of the two integers, modulo 2^32.
RMF_API_NODISCARD std::int32_t hashtabIntCompare(const void* a, const void* b);
