// Route data: the one read function over the byte array or the block cache,
// and the lookups of nodes, connections and name lists (see RmfRouteData.h).
#include "mapengine/format/route/RmfRouteData.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "mapengine/format/RmfInternal.h"

namespace {

using rmf::detail::LoadU16;
using rmf::detail::LoadU32;

std::atomic<std::uint32_t> g_inconsistencies{0};

std::int32_t Inconsistent(RmfRouteData* data) {
  ++data->counters.inconsistencies;
  g_inconsistencies.fetch_add(1, std::memory_order_relaxed);
  return kRmfMalformed;
}

// Offsets computed from counts are 64-bit, so they cannot wrap back into the
// data; anything at or past the data size is inconsistent.
std::int32_t ReadAt(RmfRouteData* data, std::uint64_t offset, std::uint32_t length, void* out) {
  if (offset + length > data->dataSize) return Inconsistent(data);
  return RmfRouteDataRead(data, static_cast<std::uint32_t>(offset), length, out);
}

std::int32_t ReadWord(RmfRouteData* data, std::uint64_t offset, std::uint32_t* value) {
  std::uint8_t bytes[4];
  const std::int32_t result = ReadAt(data, offset, sizeof bytes, bytes);
  if (result == 0) *value = LoadU32(bytes);
  return result;
}

// The head of a node record: the 12 bytes before its connection offsets.
constexpr std::uint32_t kRecordHeadBytes = 12;
// Feature id, vertex, part and the side word: what the node index matches.
constexpr std::uint32_t kRecordKeyBytes = 10;

struct RecordHead {
  std::uint32_t featureId;
  std::uint16_t vertex;
  std::uint16_t part;
  std::uint8_t flags;
  std::uint8_t byte9;
  std::uint8_t entryCount;       // c2
  std::uint8_t connectionCount;  // n
};

bool RecordOffsetValid(const RmfRouteData* data, std::uint32_t offset) {
  return offset != 0 && offset < data->dataSize && offset % 4 == 0;
}

std::int32_t ReadRecordHead(RmfRouteData* data, std::uint32_t offset, RecordHead* head) {
  if (!RecordOffsetValid(data, offset)) return Inconsistent(data);
  std::uint8_t bytes[kRecordHeadBytes];
  if (const std::int32_t result = ReadAt(data, offset, sizeof bytes, bytes); result != 0) return result;
  head->featureId = LoadU32(bytes);
  head->vertex = LoadU16(bytes + 4);
  head->part = LoadU16(bytes + 6);
  head->flags = bytes[8];
  head->byte9 = bytes[9];
  head->entryCount = bytes[10];
  head->connectionCount = bytes[11];
  if (head->connectionCount > kRmfRouteConnectionLimit || head->entryCount > 2 * head->connectionCount) {
    return Inconsistent(data);
  }
  return 0;
}

// Where a record's connection entries start: after its connection offsets.
std::uint64_t EntriesOffset(std::uint32_t recordOffset, const RecordHead& head) {
  return std::uint64_t{recordOffset} + kRecordHeadBytes + 4u * head.connectionCount;
}

std::uint32_t BucketOf(const RmfRouteData* data, RmfRouteNodeKey key, std::int32_t side) {
  const std::uint32_t spread =
      (static_cast<std::uint32_t>(side) + (std::uint32_t{key.vertex} + std::uint32_t{key.part} * 4) * 4) << 20;
  return (key.featureId + spread) % data->bucketCount;
}

// The text of one name field: stored length below limit, then the text and
// its NUL, which must come exactly after the stored length.
std::int32_t ReadText(RmfRouteData* data, std::uint64_t* offset, std::uint8_t length, char* out) {
  if (const std::int32_t result = ReadAt(data, *offset, length + 1u, out); result != 0) return result;
  if (std::memchr(out, '\0', length) != nullptr || out[length] != '\0') return Inconsistent(data);
  *offset += length + 1u;
  return 0;
}

}  // namespace

std::int32_t RmfRouteDataRead(RmfRouteData* data, std::uint32_t offset, std::uint32_t length, void* out) {
  if (data == nullptr || (out == nullptr && length != 0)) return kRmfBadArgument;
  if (std::uint64_t{offset} + length > data->dataSize) return Inconsistent(data);
  if (length == 0) return 0;
  auto* to = static_cast<std::uint8_t*>(out);
  if (data->inFile == 0) {
    if (data->bytes == nullptr) return kRmfRouteDataUnavailable;
    std::memcpy(to, data->bytes + offset, length);
    return 0;
  }
  // Through the cache a read may cross blocks; each piece is copied before
  // the next lookup, which may evict the block it came from.
  while (length > 0) {
    std::uint32_t available = 0;
    const std::uint8_t* from = RmfBlockCacheGetSpan(data->cache, offset, &available);
    if (from == nullptr) return kRmfRouteDataUnavailable;
    const std::uint32_t piece = available < length ? available : length;
    std::memcpy(to, from, piece);
    to += piece;
    offset += piece;
    length -= piece;
  }
  return 0;
}

std::uint32_t RmfRouteDataInconsistencies() { return g_inconsistencies.load(std::memory_order_relaxed); }

std::int32_t RmfRouteDataFindNode(RmfRouteData* data, RmfRouteNodeKey key, std::int32_t side, std::int32_t* found,
                                  std::uint32_t* recordOffset) {
  if (found != nullptr) *found = 0;
  if (recordOffset != nullptr) *recordOffset = 0;
  if (data == nullptr || found == nullptr) return kRmfBadArgument;
  if (data->buckets == nullptr || data->bucketCount == 0) return 0;
  const auto bucketOffset = static_cast<std::int32_t>(data->buckets[BucketOf(data, key, side)]);
  if (bucketOffset <= 0) return 0;
  ++data->counters.nodeLookups;

  std::uint32_t word = 0;
  if (const std::int32_t result = ReadWord(data, static_cast<std::uint32_t>(bucketOffset), &word); result != 0) {
    return result;
  }
  const auto count = static_cast<std::int32_t>(word);
  if (count == 0) return Inconsistent(data);
  if (count < 0) return 0;
  const std::uint64_t pairs = static_cast<std::uint64_t>(bucketOffset) + 4;
  if (pairs + 8 * static_cast<std::uint64_t>(count) > data->dataSize) return Inconsistent(data);

  for (std::int32_t i = 0; i < count; ++i) {
    std::uint8_t pair[8];
    if (const std::int32_t result = ReadAt(data, pairs + 8u * static_cast<std::uint32_t>(i), 8, pair); result != 0) {
      return result;
    }
    if (LoadU32(pair) != key.featureId) continue;
    const std::uint32_t record = LoadU32(pair + 4);
    if (!RecordOffsetValid(data, record)) return Inconsistent(data);
    std::uint8_t head[kRecordKeyBytes];
    if (const std::int32_t result = ReadAt(data, record, sizeof head, head); result != 0) return result;
    // The pair names the record's feature: a record of another feature means
    // the index and the records disagree.
    if (LoadU32(head) != key.featureId) return Inconsistent(data);
    if (LoadU16(head + 4) == key.vertex && LoadU16(head + 6) == key.part &&
        std::uint32_t{LoadU16(head + 8)} == static_cast<std::uint32_t>(side)) {
      *found = 1;
      if (recordOffset != nullptr) *recordOffset = record;
      ++data->counters.nodesFound;
      return 0;
    }
  }
  return 0;
}

std::int32_t RmfRouteDataFindConnection(RmfRouteData* data, std::uint32_t recordOffset, std::uint32_t number,
                                        std::int32_t* found, RmfRouteConnectionEntry* entry) {
  if (found != nullptr) *found = 0;
  if (entry != nullptr) *entry = RmfRouteConnectionEntry{};
  if (data == nullptr || found == nullptr) return kRmfBadArgument;
  RecordHead head{};
  if (const std::int32_t result = ReadRecordHead(data, recordOffset, &head); result != 0) return result;
  const std::uint64_t entries = EntriesOffset(recordOffset, head);
  for (std::uint32_t i = 0; i < head.entryCount; ++i) {
    std::uint8_t words[8];
    if (const std::int32_t result = ReadAt(data, entries + 8u * i, 8, words); result != 0) return result;
    const std::uint32_t first = LoadU32(words);
    const std::uint32_t entryNumber = (first >> 5) & 0x3FFF;
    if (entryNumber > number) break;  // sorted: it is not there
    if (entryNumber < number) continue;
    *found = 1;
    if (entry != nullptr) {
      entry->number = entryNumber;
      entry->lowBits = static_cast<std::uint8_t>(first & 0x1F);
      entry->bit19 = static_cast<std::uint8_t>((first >> 19) & 1);
      entry->fields[0] = static_cast<std::uint8_t>((first >> 20) & 7);
      entry->fields[1] = static_cast<std::uint8_t>((first >> 23) & 7);
      entry->fields[2] = static_cast<std::uint8_t>((first >> 26) & 7);
      entry->secondWord = LoadU32(words + 4);
    }
    return 0;
  }
  return 0;
}

std::int32_t RmfRouteDataReadNode(RmfRouteData* data, std::uint32_t recordOffset, std::int32_t side,
                                  RmfRouteNode* node) {
  if (node != nullptr) *node = RmfRouteNode{};
  if (data == nullptr || node == nullptr) return kRmfBadArgument;
  RecordHead head{};
  if (const std::int32_t result = ReadRecordHead(data, recordOffset, &head); result != 0) return result;
  std::uint8_t offsets[4 * kRmfRouteConnectionLimit];
  if (const std::int32_t result =
          ReadAt(data, std::uint64_t{recordOffset} + kRecordHeadBytes, 4u * head.connectionCount, offsets);
      result != 0) {
    return result;
  }
  for (std::uint32_t i = 0; i < head.connectionCount; ++i) {
    const std::int32_t result = RmfRouteDataReadConnection(data, LoadU32(offsets + 4 * i), &node->connections[i]);
    if (result != 0) {
      *node = RmfRouteNode{};
      return result;
    }
  }
  node->featureId = head.featureId;
  node->vertex = head.vertex;
  node->part = head.part;
  node->side = side;
  node->flags = head.flags;
  node->byte9 = head.byte9;
  node->entryCount = head.entryCount;
  node->connectionCount = head.connectionCount;
  return 0;
}

std::int32_t RmfRouteDataReadConnection(RmfRouteData* data, std::uint32_t offset, RmfRouteConnection* connection) {
  if (connection != nullptr) *connection = RmfRouteConnection{};
  if (data == nullptr || connection == nullptr) return kRmfBadArgument;
  if (offset == 0) return Inconsistent(data);
  std::uint32_t flagWord = 0;
  if (const std::int32_t result = ReadWord(data, offset, &flagWord); result != 0) return result;
  // The route-data file layout is not settled beyond the flag word: its
  // lengths and class bytes are not decoded.
  connection->offset = offset;
  connection->flagWord = flagWord;
  return 0;
}

std::int32_t RmfRouteDataNodeInfo(RmfRouteData* data, std::uint32_t recordOffset, std::int32_t* found) {
  if (found != nullptr) *found = 0;
  if (data == nullptr || found == nullptr) return kRmfBadArgument;
  RecordHead head{};
  // The route-data file layout is not settled: after the record's checks
  // nothing more is decoded, and the answer is "not found".
  return ReadRecordHead(data, recordOffset, &head);
}

std::int32_t RmfRouteDataWalk(RmfRouteData* data, std::uint32_t recordOffset, std::uint32_t /*number*/,
                              std::int32_t* count) {
  if (count != nullptr) *count = 0;
  if (data == nullptr || count == nullptr) return kRmfBadArgument;
  RecordHead head{};
  // The route-data file layout is not settled: after the record's checks
  // nothing more is decoded, and the walk gives no records.
  return ReadRecordHead(data, recordOffset, &head);
}

std::int32_t RmfRouteDataNames(RmfRouteData* data, std::uint32_t offset, RmfRouteNames* names) {
  if (names != nullptr) names->count = 0;
  if (data == nullptr || names == nullptr) return kRmfBadArgument;
  std::uint32_t word = 0;
  if (const std::int32_t result = ReadWord(data, offset, &word); result != 0) return result;
  const auto count = static_cast<std::int32_t>(word);
  if (count < 0 || count > kRmfRouteNameLimit) return Inconsistent(data);

  constexpr std::uint8_t kLimits[3] = {sizeof(RmfRouteName::code), sizeof(RmfRouteName::value),
                                       sizeof(RmfRouteName::name)};
  std::uint64_t at = std::uint64_t{offset} + 4;
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint8_t lengths[3];
    if (const std::int32_t result = ReadAt(data, at, sizeof lengths, lengths); result != 0) return result;
    at += sizeof lengths;
    for (int k = 0; k < 3; ++k) {
      if (lengths[k] >= kLimits[k]) return Inconsistent(data);
    }
    RmfRouteName& entry = names->entries[i];
    char* fields[3] = {entry.code, entry.value, entry.name};
    for (int k = 0; k < 3; ++k) {
      if (const std::int32_t result = ReadText(data, &at, lengths[k], fields[k]); result != 0) return result;
    }
  }
  names->count = count;
  return 0;
}
