// Map sources, first half: creating and opening a source, its header and
// annotations, and the tile index (index chunks, the sample table, finding
// the entry of a tile, the nearest covered id) and the tile offset table.
// Every entry and offset read from the file is checked before use.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "mapengine/format/store/RmfSourceInternal.h"

using rmf::RmfIndexEntry;
using rmf::detail::EntryRef;
using rmf::detail::Load;
using rmf::detail::LoadU32;

namespace {

constexpr std::int32_t kInitialRanges = 200;
constexpr std::uint32_t kFilelessLastId = 0x7fffffff;  // last id of a file-less source's sample group

// Reads of RmfSrcOpen go through the reader's read buffer.
std::int32_t BufferedRead(void* context, std::uint32_t offset, std::uint32_t count, void* destination,
                          std::int32_t) {
  return RmfSrcReadAt(static_cast<RmfSource*>(context), offset, count, destination);
}

// A file-less source reads nothing.
std::int32_t ReadNothing(void*, std::uint32_t, std::uint32_t, void*, std::int32_t) { return 0; }

bool SetUpCaches(RmfSource* source) {
  RmfTagArena* arena = source->reader != nullptr ? source->reader->arena : nullptr;
  if (arena == nullptr) return false;
  using rmf::detail::TcChunkCallback;
  using rmf::detail::TcCompareChunkKeys;
  using rmf::detail::TcCompareRecordKeys;
  using rmf::detail::TcRecordCallback;
  if (tcHdrInitLocal(&source->indexCache, arena, TcChunkCallback, TcCompareChunkKeys, nullptr) != 1 ||
      tcHdrInitLocal(&source->offsetCache, arena, TcChunkCallback, TcCompareChunkKeys, nullptr) != 1 ||
      tcHdrInitLocal(&source->recordCache, arena, TcRecordCallback, TcCompareRecordKeys, nullptr) != 1) {
    return false;
  }
  source->cachesReady = 1;
  return true;
}

// Gives up a block the source allocated but could not index. Nothing else
// holds it, so detaching and freeing cannot fail, and the caller has nothing
// to undo if they did.
void DiscardBlock(RmfTileCache* cache, void* block) {
  (void)RmfTagT12(cache->arena, block);
  (void)RmfTagT5(cache->arena, block);
}

bool InsertBlock(RmfTileCache* cache, void* block) {
  return cache->owner.release(nullptr, block, cache->owner.context, &cache->owner) >= 0;
}

// The cached chunk of `cache` holding position i (and i + 1 when `needNext`),
// made the newest; null when none. Chunks start at most `reach` positions
// before i, so the backward walk stops there.
void* FindChunk(RmfSource* source, RmfTileCache* cache, std::uint32_t i, std::uint32_t reach, bool needNext) {
  RmfChunkKey probe{};
  probe.source = static_cast<std::uint16_t>(source->index);
  probe.first = static_cast<std::int32_t>(i);
  probe.count = INT32_MAX;
  void* node = nullptr;
  std::int32_t r = TiBtiGreatestLe(&cache->tree, &probe, &node);
  const std::int64_t want = i;
  const std::int64_t need = needNext ? want + 1 : want;
  while (r == 1 && node != nullptr) {
    const auto* chunk = static_cast<const RmfChunkKey*>(node);
    if (chunk->source != probe.source) break;
    const std::int64_t first = chunk->first;
    if (first <= want - reach) break;
    if (first <= want && first + chunk->count > need) {
      RmfTagT10(cache->arena, node, 1);
      return node;
    }
    r = TiBtiPrevious(&cache->tree, &node);
  }
  return nullptr;
}

// Writes the key of a chunk just read (its first position, the whole entries
// read, the source) and files it in the cache; a chunk that cannot be filed
// is given back. Returns the chunk or null.
void* KeepChunk(RmfSource* source, RmfTileCache* cache, void* block, std::uint32_t first, std::uint32_t whole) {
  RmfChunkKey key{};
  key.first = static_cast<std::int32_t>(first);
  key.count = static_cast<std::int32_t>(whole);
  key.source = static_cast<std::uint16_t>(source->index);
  std::memcpy(block, &key, sizeof key);
  if (!InsertBlock(cache, block)) {
    DiscardBlock(cache, block);
    return nullptr;
  }
  return block;
}

// Reads the index chunk that starts at entry i (at most 170 entries).
void* ReadIndexChunk(RmfSource* source, std::uint32_t i) {
  const std::uint32_t total = source->header.indexCount;
  if (i >= total) return nullptr;
  const std::uint32_t n = std::min(total - i, rmf::detail::kIndexChunkEntries);
  RmfTileCache* cache = &source->indexCache;
  void* block = RmfTagT3(cache->arena, sizeof(RmfChunkKey) + n * rmf::kIndexEntryBytes, &cache->owner);
  if (block == nullptr) return nullptr;
  auto* bytes = static_cast<std::uint8_t*>(block);
  const std::uint64_t at = std::uint64_t{source->header.indexOffset} + std::uint64_t{rmf::kIndexEntryBytes} * i;
  const std::uint32_t got = rmf::detail::SourceRead(source, at, n * rmf::kIndexEntryBytes, bytes + sizeof(RmfChunkKey));
  const std::uint32_t whole = got / rmf::kIndexEntryBytes;
  if (whole == 0) {
    DiscardBlock(cache, block);
    return nullptr;
  }
  return KeepChunk(source, cache, block, i, whole);
}

// Reads the offset chunk around table position p: from 20 entries before it
// (or the table's start) up to 512 entries, never past the table's last entry.
void* ReadOffsetChunk(RmfSource* source, std::uint32_t p) {
  const std::uint32_t start = p < rmf::detail::kOffsetChunkLead + 1 ? 0 : p - rmf::detail::kOffsetChunkLead;
  const std::uint32_t last = source->header.offsetTableLast;
  if (start > last) return nullptr;
  std::uint64_t n = std::min<std::uint64_t>(std::uint64_t{last} - start + 1, rmf::detail::kOffsetChunkEntries);
  const std::uint64_t at = std::uint64_t{source->header.offsetTableOffset} + std::uint64_t{4} * start;
  if (at > 0xffffffffu) return nullptr;
  n = std::min<std::uint64_t>(n, (std::uint64_t{0x100000000} - at) / 4);  // a read ends within 4 GB
  if (n < 2) return nullptr;
  RmfTileCache* cache = &source->offsetCache;
  void* block = RmfTagT3(cache->arena, static_cast<std::uint32_t>(sizeof(RmfChunkKey) + 4 * n), &cache->owner);
  if (block == nullptr) return nullptr;
  auto* bytes = static_cast<std::uint8_t*>(block);
  const std::uint32_t got =
      rmf::detail::SourceRead(source, at, static_cast<std::uint32_t>(4 * n), bytes + sizeof(RmfChunkKey));
  const std::uint32_t whole = got / 4;
  // The data of consecutive tiles follow one another, so the table never
  // runs backwards; a chunk in which it does says nothing reliable about the
  // tiles around the step.
  bool ascending = whole >= 2;
  const std::uint8_t* offsets = bytes + sizeof(RmfChunkKey);
  for (std::uint32_t k = 1; ascending && k < whole; ++k) ascending = LoadU32(offsets + 4 * k) >= LoadU32(offsets + 4 * (k - 1));
  if (!ascending) {
    DiscardBlock(cache, block);
    return nullptr;
  }
  return KeepChunk(source, cache, block, start, whole);
}

// An entry on its own: a run of valid ids of one level whose offsets (the
// run's positions and the one after the last) lie inside the offset table.
bool EntryIsSound(const RmfSource* source, const RmfIndexEntry& e) {
  const std::int32_t level = RmfTileLevel(e.firstId);
  if (level < 0 || RmfTileLevel(e.lastId) != level || e.firstId > e.lastId) return false;
  const std::uint64_t end = std::uint64_t{e.position} + (e.lastId - e.firstId) + 1;
  return end <= source->header.offsetTableLast && end <= rmf::detail::kMaxTablePosition + 1;
}

// The sample groups ascend without overlap.
bool SamplesAreSound(const rmf::RmfSampleTable& t) {
  for (std::int32_t k = 0; k < t.count; ++k) {
    if (t.firsts[k] > t.lasts[k]) return false;
    if (k > 0 && t.lasts[k - 1] >= t.firsts[k]) return false;
  }
  return true;
}

bool IndexLoader(void* context, std::uint32_t position, RmfIndexEntry* entry) {
  return rmf::detail::LoadEntry(static_cast<RmfSource*>(context), position, nullptr, entry) == Load::kLoaded;
}

// First sample group whose last id is >= t, or count when none.
std::int32_t GroupAtOrAfter(const rmf::RmfSampleTable& t, std::uint32_t tile) {
  const std::uint32_t* end = t.lasts + t.count;
  return static_cast<std::int32_t>(std::lower_bound(t.lasts, end, tile) - t.lasts);
}

// Last sample group whose first id is <= t, or -1 when none.
std::int32_t GroupAtOrBefore(const rmf::RmfSampleTable& t, std::uint32_t tile) {
  const std::uint32_t* end = t.firsts + t.count;
  return static_cast<std::int32_t>(std::upper_bound(t.firsts, end, tile) - t.firsts) - 1;
}

std::uint32_t GroupEnd(const RmfSource* source, std::int32_t k) {
  const std::uint64_t end = (std::uint64_t{static_cast<std::uint32_t>(k)} + 1) * static_cast<std::uint32_t>(source->samples.step);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(end, source->header.indexCount));
}

std::uint32_t GroupStart(const RmfSource* source, std::int32_t k) {
  return static_cast<std::uint32_t>(k) * static_cast<std::uint32_t>(source->samples.step);
}

void ResetIndexState(RmfSource* source) {
  source->indexCursor = 0;
  source->entryValid = 0;
  source->sampleCursor = 0;
  source->hintValid = 0;
}

int DecodeAnnotationBytes(RmfSource* source, const std::uint8_t* bytes, std::size_t count) {
  rmf::FreeAnnotations(&source->annotations);
  return rmf::DecodeAnnotations(bytes, count, &source->annotations);
}

void TakeHeader(RmfSource* source) {
  source->minLevel = source->header.minLevel;
  source->maxLevel = source->header.maxLevel;
  source->featureEntrySize = source->header.featureEntrySize;
  source->walkState = kRmfWalkIdle;
}

}  // namespace

namespace rmf::detail {

std::uint32_t SourceRead(RmfSource* source, std::uint64_t offset, std::uint32_t count, void* destination) {
  if (source->read == nullptr || offset > 0xffffffffu || count == 0) return 0;
  const std::int32_t got =
      source->read(source->readContext, static_cast<std::uint32_t>(offset), count, destination, 0);
  if (got <= 0) return 0;
  return std::min(static_cast<std::uint32_t>(got), count);
}

Load LoadEntry(RmfSource* source, std::uint32_t i, const RmfIndexEntry* previous, RmfIndexEntry* entry) {
  const void* chunk = nullptr;
  return LoadEntry(source, i, previous, entry, &chunk);
}

Load LoadEntry(RmfSource* source, std::uint32_t i, const RmfIndexEntry* previous, RmfIndexEntry* entry,
               const void** walkChunk) {
  if (i >= source->header.indexCount) return Load::kEnd;
  const void* chunk = *walkChunk;
  if (chunk != nullptr) {
    // Still cached (nothing but this walk touched the cache since) and made
    // the newest when the walk found it; an entry's bytes are the same in
    // whichever cached chunk holds them.
    const auto* held = static_cast<const RmfChunkKey*>(chunk);
    const std::int64_t first = held->first;
    if (first > std::int64_t{i} || first + held->count <= std::int64_t{i}) chunk = nullptr;
  }
  if (chunk == nullptr) chunk = FindChunk(source, &source->indexCache, i, kIndexChunkEntries, false);
  if (chunk == nullptr) chunk = ReadIndexChunk(source, i);
  *walkChunk = chunk;
  if (chunk == nullptr) {
    source->readError = 1;
    return Load::kError;
  }
  const auto* key = static_cast<const RmfChunkKey*>(chunk);
  const std::uint8_t* p = static_cast<const std::uint8_t*>(chunk) + sizeof(RmfChunkKey) +
                          std::size_t{kIndexEntryBytes} * (i - static_cast<std::uint32_t>(key->first));
  RmfIndexEntry e{LoadU32(p), LoadU32(p + 4), LoadU32(p + 8)};
  bool sound = EntryIsSound(source, e);
  if (sound && previous != nullptr) sound = e.firstId > previous->lastId;
  if (sound && source->sampleLoaded != 0) {
    const std::int32_t k = static_cast<std::int32_t>(i / static_cast<std::uint32_t>(source->samples.step));
    sound = k < source->samples.count && e.firstId >= source->samples.firsts[k] &&
            e.lastId <= source->samples.lasts[k];
  }
  if (!sound) {
    source->readError = 1;
    return Load::kError;
  }
  *entry = e;
  return Load::kLoaded;
}

bool EnsureSamples(RmfSource* source) {
  if (source->sampleLoaded != 0) return true;
  if (source->header.indexCount == 0) return false;
  rmf::RmfSampleTable table{};
  if (rmf::BuildSampleTable(source->header.indexCount, IndexLoader, source, &table) != 0) {
    source->readError = 1;
    return false;
  }
  if (!SamplesAreSound(table)) {
    source->readError = 1;
    return false;
  }
  source->samples = table;
  source->sampleLoaded = 1;
  ResetIndexState(source);
  return true;
}

std::int32_t LocateTile(RmfSource* source, std::uint32_t t, EntryRef* found) {
  if (!EnsureSamples(source)) return -1;
  if (source->hintValid != 0 && source->hintEntry.firstId <= t && t <= source->hintEntry.lastId) {
    found->index = source->hintIndex;
    found->entry = source->hintEntry;
    return 1;
  }
  const rmf::RmfSampleTable& samples = source->samples;
  const std::int32_t k = GroupAtOrAfter(samples, t);
  if (k >= samples.count || samples.firsts[k] > t) return 0;
  std::uint32_t i = GroupStart(source, k);
  const std::uint32_t end = GroupEnd(source, k);
  RmfIndexEntry previous{};
  bool havePrevious = false;
  // Go on from the last entry found when it lies in the same group before t:
  // the entries from the group's start up to it were checked in order then.
  if (source->hintValid != 0 && source->hintIndex >= i && source->hintIndex < end &&
      source->hintEntry.lastId < t) {
    i = source->hintIndex + 1;
    previous = source->hintEntry;
    havePrevious = true;
  }
  for (; i < end; ++i) {
    RmfIndexEntry e{};
    const Load r = LoadEntry(source, i, havePrevious ? &previous : nullptr, &e);
    if (r == Load::kError) return -1;
    if (r == Load::kEnd) return 0;
    source->hintValid = 1;
    source->hintIndex = i;
    source->hintEntry = e;
    if (e.firstId > t) return 0;
    if (e.lastId >= t) {
      found->index = i;
      found->entry = e;
      return 1;
    }
    previous = e;
    havePrevious = true;
  }
  return 0;
}

EntryRef WalkEntry(const RmfSource* source) {
  EntryRef e;
  e.index = source->indexCursor;
  e.entry = RmfIndexEntry{source->entryFirst, source->entryLast, source->entryPosition};
  return e;
}

std::int32_t TileOffsets(RmfSource* source, const EntryRef& e, std::uint32_t t, bool read, std::uint32_t* begin,
                         std::uint32_t* end) {
  if (t < e.entry.firstId || t > e.entry.lastId) return -1;
  // The entry was checked: p + 1 lies inside the table and below 2^31.
  const std::uint32_t p = e.entry.position + (t - e.entry.firstId);
  void* chunk = FindChunk(source, &source->offsetCache, p, kOffsetChunkEntries, true);
  if (chunk == nullptr) {
    if (!read) return 0;
    chunk = ReadOffsetChunk(source, p);
    // A chunk that came back short may not reach p + 1.
    if (chunk != nullptr) chunk = FindChunk(source, &source->offsetCache, p, kOffsetChunkEntries, true);
  }
  if (chunk == nullptr) {
    source->readError = 1;
    return -1;
  }
  const auto* key = static_cast<const RmfChunkKey*>(chunk);
  const std::uint8_t* offsets = static_cast<const std::uint8_t*>(chunk) + sizeof(RmfChunkKey);
  const std::uint32_t at = p - static_cast<std::uint32_t>(key->first);
  const std::uint32_t b = LoadU32(offsets + 4 * at);
  const std::uint32_t en = LoadU32(offsets + 4 * (at + 1));
  if (en < b) {
    source->readError = 1;
    return -1;
  }
  *begin = b;
  *end = en;
  return 1;
}

void DropCachedBlocks(RmfSource* source) {
  if (source == nullptr || source->cachesReady == 0) return;
  RmfTileCache* caches[] = {&source->recordCache, &source->offsetCache, &source->indexCache};
  for (RmfTileCache* cache : caches) {
    void* node = nullptr;
    while (TiBtiLeast(&cache->tree, &node) == 1 && node != nullptr) {
      if (TiBtiDeleteCurrent(&cache->tree) != 1) break;
      DiscardBlock(cache, node);
    }
  }
  source->cachesReady = 0;
}

bool BufferHolds(const RmfSource* source, std::uint64_t offset, std::uint64_t length) {
  const RmfReader* reader = source->reader;
  if (reader->bufferLength <= 0 || reader->bufferSource != static_cast<std::uint32_t>(source->index)) return false;
  const std::uint64_t start = reader->bufferOffset;
  return offset >= start && offset + length <= start + static_cast<std::uint64_t>(reader->bufferLength);
}

}  // namespace rmf::detail

// ---- creation and settings -------------------------------------------------------

RmfSource* RmfSrcF1() {
  auto* source = static_cast<RmfSource*>(std::calloc(1, sizeof(RmfSource)));
  if (source == nullptr) return nullptr;
  source->ranges = static_cast<RmfTileRange*>(std::calloc(kInitialRanges, sizeof(RmfTileRange)));
  if (source->ranges == nullptr) {
    std::free(source);
    return nullptr;
  }
  source->rangeCapacity = kInitialRanges;
  source->rangeCurrent = -1;
  source->header.minLevel = rmf::kDetailLevels;
  source->header.maxLevel = 1;
  return source;
}

void RmfSrcF2(RmfSource* source) {
  if (source == nullptr) return;
  std::free(source->ranges);
  std::free(source->queryArea);
  rmf::FreeAnnotations(&source->annotations);
  std::free(source->description);
  std::free(source->region);
  std::free(source);
}

std::int32_t RmfSrcF3(RmfSource* source, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                      std::uint32_t flags, std::int32_t topLevel, const std::uint16_t* levelMasks) {
  if (source == nullptr) return 0;
  source->read = ReadNothing;
  source->readContext = nullptr;
  source->rawRead = ReadNothing;
  source->rawContext = nullptr;
  rmf::FreeAnnotations(&source->annotations);
  rmf::RmfFileHeader& h = source->header;
  h = rmf::RmfFileHeader{};
  h.flags = static_cast<std::uint8_t>(flags & 0xff);
  h.headerByte6 = static_cast<std::uint8_t>((flags >> 8) & 0xff);
  h.box = TiRect{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
  if (levelMasks != nullptr) std::memcpy(h.levelMasks, levelMasks, sizeof h.levelMasks);
  h.featureEntrySize = (h.flags & rmf::kHeaderFlagWideEntries) != 0 ? 12 : 10;
  h.recordsCompressed = (h.flags & rmf::kHeaderFlagCompressed) != 0 ? 1 : 0;
  h.minLevel = 1;
  h.maxLevel = std::clamp(topLevel, 1, rmf::kDetailLevels);
  TakeHeader(source);
  source->samples = rmf::RmfSampleTable{};
  source->samples.step = 1;
  source->samples.count = 1;
  source->samples.lasts[0] = kFilelessLastId;
  source->sampleLoaded = 1;
  ResetIndexState(source);
  if (rmf::detail::ReaderAlive(source->reader)) SetUpCaches(source);
  return 1;
}

void RmfSrcF5(RmfSource* source, std::int32_t a, std::int32_t b) {
  if (source == nullptr) return;
  source->queryMinLevel = std::min(a, b);
  source->queryMaxLevel = std::max(a, b);
  source->queryLevelsSet = 1;
}

void RmfSrcSetRect(RmfSource* source, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  if (source == nullptr) return;
  source->queryRect = TiRect{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
  source->queryRectSet = 1;
}

std::int32_t RmfSrcStartQuery(RmfSource* source) {
  if (source == nullptr) return kRmfWalkIdle;
  source->readError = 0;
  source->rangeCount = 0;
  source->rangeCurrent = -1;
  source->entryValid = 0;
  source->sampleCursor = 0;
  source->walkState = kRmfWalkIdle;
  if (source->queryRectSet == 0 || source->queryLevelsSet == 0) return kRmfWalkIdle;
  const TiRect& q = source->queryRect;
  const TiRect& b = source->header.box;
  if (q.x1 > b.x2 || q.x2 < b.x1 || q.y1 > b.y2 || q.y2 < b.y1) return kRmfWalkIdle;
  if (std::max(source->queryMinLevel, 1) > std::min(source->queryMaxLevel, rmf::kDetailLevels)) return kRmfWalkIdle;
  source->walkState = kRmfWalkStart;
  return kRmfWalkStart;
}

// ---- opening ---------------------------------------------------------------------

std::int32_t RmfSrcReadAt(RmfSource* source, std::uint32_t offset, std::uint32_t length, void* destination) {
  if (source == nullptr || !rmf::detail::ReaderAlive(source->reader) || length == 0 || destination == nullptr)
    return 0;
  RmfReader* reader = source->reader;
  if (reader->readBuffer == nullptr || source->rawRead == nullptr) return 0;
  if (!rmf::detail::BufferHolds(source, offset, length)) {
    const std::int32_t got = source->rawRead(source->rawContext, offset, kRmfReadBufferBytes, reader->readBuffer, 0);
    if (got <= 0) {
      reader->bufferLength = 0;
      return 0;
    }
    reader->bufferSource = static_cast<std::uint32_t>(source->index);
    reader->bufferOffset = offset;
    reader->bufferLength = static_cast<std::int32_t>(std::min<std::uint32_t>(static_cast<std::uint32_t>(got), kRmfReadBufferBytes));
  }
  const std::uint64_t available = std::uint64_t{reader->bufferOffset} + static_cast<std::uint64_t>(reader->bufferLength) - offset;
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, available));
  std::memcpy(destination, reader->readBuffer + (offset - reader->bufferOffset), n);
  return static_cast<std::int32_t>(n);
}

// Whether the file reaches as far as its header and offset table say: the
// table's last entry is there, and so is the last byte of tile data it
// points to. A file cut short (a copy that stopped, a full disk) would
// otherwise load and answer from the tiles it still has as if they were
// all there.
static bool HoldsItsTiles(RmfSource* source) {
  const rmf::RmfFileHeader& h = source->header;
  const std::uint64_t lastEntry = std::uint64_t{h.offsetTableOffset} + 4 * std::uint64_t{h.offsetTableLast};
  if (lastEntry + 4 > 0xffffffffu) return false;
  std::uint8_t word[4] = {};
  if (RmfSrcReadAt(source, static_cast<std::uint32_t>(lastEntry), 4, word) != 4) return false;
  const std::uint32_t dataEnd = LoadU32(word);
  if (dataEnd == 0) return true;
  std::uint8_t last = 0;
  return RmfSrcReadAt(source, dataEnd - 1, 1, &last) == 1;
}

std::int32_t RmfSrcOpen(RmfSource* source, void* context, RmfReadFn read) {
  if (source == nullptr || read == nullptr || !rmf::detail::ReaderAlive(source->reader)) return kRmfBadArgument;
  if (source->reader->arena == nullptr || source->reader->readBuffer == nullptr) return kRmfBadArgument;
  source->rawContext = context;
  source->rawRead = read;
  source->read = BufferedRead;
  source->readContext = source;

  std::uint8_t bytes[kRmfHeaderReadBytes];
  const std::int32_t got = RmfSrcReadAt(source, 0, kRmfHeaderReadBytes, bytes);
  if (got <= 0) return kRmfCannotOpen;
  const int decoded = rmf::DecodeFileHeader(bytes, static_cast<std::size_t>(got), &source->header);
  if (decoded != rmf::kRmfFileAccepted) return decoded;
  // An index without entries holds no tile: as malformed as no index at all.
  if (source->header.indexCount == 0) return kRmfHeaderRejected;
  if (!HoldsItsTiles(source)) return kRmfHeaderRejected;
  TakeHeader(source);
  if (!SetUpCaches(source)) return kRmfNoMemory;

  if (source->header.annotationLength > 0) {
    const std::uint32_t length = source->header.annotationLength;
    auto* block = static_cast<std::uint8_t*>(std::malloc(length));
    if (block != nullptr) {  // without memory the annotations are skipped
      const std::int32_t read = RmfSrcReadAt(source, source->header.annotationOffset, length, block);
      const int r = DecodeAnnotationBytes(source, block, static_cast<std::size_t>(std::max(read, 0)));
      std::free(block);
      if (r != rmf::kRmfFileAccepted) return r;
    }
  }

  // A table that cannot be built now is tried again when a walk needs it.
  rmf::detail::EnsureSamples(source);
  source->readError = 0;
  source->read = source->rawRead;
  source->readContext = source->rawContext;
  return 1;
}

std::int32_t RmfSrcOpenWithInfo(RmfSource* source, void* context, RmfReadFn read) {
  if (source == nullptr || read == nullptr || source->description == nullptr) return kRmfBadArgument;
  if (!rmf::detail::ReaderAlive(source->reader) || source->reader->arena == nullptr) return kRmfBadArgument;
  const RmfSourceDescription* d = source->description;
  source->rawContext = context;
  source->rawRead = read;
  source->read = read;
  source->readContext = context;
  const std::uint32_t headerBytes = std::min(d->headerLength, kRmfHeaderReadBytes);
  if (headerBytes == 0) return kRmfCannotOpen;
  const int decoded = rmf::DecodeFileHeader(d->header, headerBytes, &source->header);
  if (decoded == rmf::kRmfFileTooShort) return kRmfHeaderRejected;
  if (decoded != rmf::kRmfFileAccepted) return decoded;
  if (source->header.indexCount == 0) return kRmfHeaderRejected;
  TakeHeader(source);
  if (!SetUpCaches(source)) return kRmfNoMemory;
  if (d->annotationLength > 0 && d->annotations != nullptr) {
    const int r = DecodeAnnotationBytes(source, d->annotations, d->annotationLength);
    if (r != rmf::kRmfFileAccepted) return r;
  }
  return 1;  // the sample table is built when a walk or lookup needs it
}

// ---- the index -------------------------------------------------------------------

std::uint32_t RmfSrcF6(RmfSource* source, std::uint32_t tile, std::int32_t direction) {
  using rmf::detail::kNoTile;
  if (!rmf::detail::SourceReady(source) || !rmf::detail::EnsureSamples(source)) return kNoTile;
  const rmf::RmfSampleTable& samples = source->samples;
  const std::int32_t k = direction >= 1 ? GroupAtOrAfter(samples, tile) : GroupAtOrBefore(samples, tile);
  if (k < 0 || k >= samples.count) return kNoTile;
  const std::uint32_t end = GroupEnd(source, k);
  RmfIndexEntry previous{};
  bool havePrevious = false;
  std::uint32_t best = kNoTile;
  const void* chunk = nullptr;
  for (std::uint32_t i = GroupStart(source, k); i < end; ++i) {
    RmfIndexEntry e{};
    if (rmf::detail::LoadEntry(source, i, havePrevious ? &previous : nullptr, &e, &chunk) != Load::kLoaded) {
      return kNoTile;
    }
    if (direction >= 1) {
      if (e.lastId >= tile) return std::max(e.firstId, tile);
    } else {
      if (e.firstId > tile) break;
      best = std::min(e.lastId, tile);
    }
    previous = e;
    havePrevious = true;
  }
  return best;
}
