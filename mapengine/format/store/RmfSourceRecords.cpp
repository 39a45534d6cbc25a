// Map sources, second half: tile records. A record is framed in the tile's
// data, checked, and stored uncompressed in the source's record cache;
// neighbouring tiles of one level are read together in one window; the walk
// hands out the records of the tiles that cover a query area one by one.
//
// A record enters the cache only when the feature code can read it without
// looking outside it: the 58-byte header is there, the point table, the
// feature table and every part's vertex-word list lie inside the record,
// every vertex word names an existing point or a text triple, and every
// triple (three NUL-terminated texts) ends inside the record. Records that
// fail are treated as unreadable.
#include <algorithm>
#include <cstring>

#include "mapengine/format/store/RmfSourceInternal.h"

using rmf::RmfIndexEntry;
using rmf::detail::EntryRef;
using rmf::detail::Load;
using rmf::detail::LoadU16;

namespace {

constexpr std::uint32_t kRecordKeyBytes = sizeof(RmfRecordKey);
constexpr std::uint32_t kKilobyte = 1024;
constexpr std::uint32_t kMaxWindowTiles = 256;  // tiles of one window, each side
// More ranges than this are not worth a walk (a query area's ranges grow
// with its boundary; a world-wide rectangle needs a few hundred).
constexpr std::int32_t kMaxRanges = 1 << 16;

// ---- record checks ----

bool RecordIsReadable(const std::uint8_t* record, std::uint32_t length, std::uint16_t entrySize) {
  rmf::RmfRecordHeader h;
  if (length < rmf::kRecordHeaderBytes || !rmf::DecodeRecordHeader(record, length, &h)) return false;
  if (h.length != length) return false;
  rmf::RmfRecordTables t;
  if (!rmf::LocateRecordTables(h, length, entrySize, &t)) return false;
  const std::uint64_t pointCount = t.pointCount;
  const std::uint64_t entryTable = t.partTable;
  const std::uint64_t entryCount = t.partCount;
  const std::uint64_t textBase = t.textBase;
  const std::uint64_t wordBase = t.wordBase;
  if (entryCount == 0) return true;

  // A triple starting at s ends inside the record when three NULs follow s:
  // every start up to the third NUL from the end qualifies.
  std::int64_t lastTriple = -1;
  int nuls = 0;
  for (std::int64_t i = static_cast<std::int64_t>(length) - 1; i >= static_cast<std::int64_t>(textBase); --i) {
    if (record[i] == 0 && ++nuls == 3) {
      lastTriple = i;
      break;
    }
  }
  auto tripleFits = [&](std::uint64_t offset) {
    return static_cast<std::int64_t>(textBase + offset) <= lastTriple;
  };

  // Parts may share words, so the words are checked once over the span that
  // all parts' lists cover.
  std::uint64_t wordsEnd = wordBase;
  for (std::uint64_t j = 0; j < entryCount; ++j) {
    const std::uint8_t* e = record + entryTable + j * entrySize;
    if (!tripleFits(LoadU16(e + 4))) return false;
    const std::uint64_t end = wordBase + 2 * (std::uint64_t{LoadU16(e + 6)} + LoadU16(e + 8));
    if (end > length) return false;
    wordsEnd = std::max(wordsEnd, end);
  }
  for (std::uint64_t at = wordBase; at + 2 <= wordsEnd; at += 2) {
    const std::uint16_t word = LoadU16(record + at);
    if ((word & 0x8000) != 0) {
      if (!tripleFits(word & 0x7fff)) return false;
    } else if (word >= pointCount) {
      return false;
    }
  }
  return true;
}

// ---- storing records ----

enum class Outcome { kRecord, kEmpty, kError };

struct Stored {
  Outcome outcome = Outcome::kError;
  std::uint8_t* record = nullptr;  // the uncompressed record in its cached block
  std::uint32_t storedLength = 0;
  bool more = false;
  bool framing = false;  // the error is a frame that does not fit the bytes at hand
};

Stored FromBlock(void* block) {
  Stored s;
  const auto* key = static_cast<const RmfRecordKey*>(block);
  s.outcome = Outcome::kRecord;
  s.record = static_cast<std::uint8_t*>(block) + kRecordKeyBytes;
  s.storedLength = key->storedLength;
  s.more = (rmf::RecordFlags(s.record, 0xffff) & rmf::kRecordFlagMore) != 0;
  return s;
}

void* CachedBlock(RmfSource* source, std::uint32_t tile, std::uint16_t sequence) {
  RmfRecordKey probe{};
  probe.tileId = tile;
  probe.source = static_cast<std::uint16_t>(source->index);
  probe.sequence = sequence;
  return RmfTcT3(&source->recordCache, &probe);
}

// Whether a record is cached, without touching the arena's LRU order.
bool IsCached(RmfSource* source, std::uint32_t tile, std::uint16_t sequence) {
  RmfRecordKey probe{};
  probe.tileId = tile;
  probe.sequence = sequence;
  void* found = nullptr;
  return TiBtiFindForce(&source->recordCache.tree, &probe, 0, &found, 0) == 1;
}

// Frames the record at `bytes` (`available` bytes of its tile at hand),
// checks it and stores it under (tile, sequence).
Stored StoreRecord(RmfSource* source, std::uint32_t tile, std::uint16_t sequence, const std::uint8_t* bytes,
                   std::uint32_t available) {
  Stored s;
  rmf::RmfRecordFrame frame;
  const bool compressed = source->header.recordsCompressed != 0;
  switch (rmf::FrameRecord(bytes, available, compressed, &frame)) {
    case rmf::RmfRecordStatus::kOk:
      break;
    case rmf::RmfRecordStatus::kEmpty:
      // No flags byte: whether a record follows cannot be known, so the
      // tile's records end here.
      s.outcome = Outcome::kEmpty;
      s.storedLength = frame.storedLength;
      return s;
    case rmf::RmfRecordStatus::kReadError:
      s.framing = true;
      return s;
    default:
      return s;
  }
  RmfRecordKey key{};
  key.tileId = tile;
  key.source = static_cast<std::uint16_t>(source->index);
  key.sequence = sequence;
  key.storedLength = frame.storedLength;
  // Compressed records are handed over from their raw-length word on.
  const std::uint8_t* from = compressed ? bytes + 2 : bytes;
  void* block = RmfTcT2(&source->recordCache, &key, kRecordKeyBytes, from, compressed ? 1 : 0, frame.storedLength,
                        frame.rawLength);
  if (block == nullptr) return s;
  // A record cached before under the same key comes back as it is; it was
  // checked when it was stored.
  if (LoadU16(static_cast<std::uint8_t*>(block) + kRecordKeyBytes) != frame.rawLength ||
      static_cast<const RmfRecordKey*>(block)->storedLength != frame.storedLength) {
    return FromBlock(block);
  }
  if (!RecordIsReadable(static_cast<std::uint8_t*>(block) + kRecordKeyBytes, frame.rawLength,
                        source->featureEntrySize)) {
    // The block was filed just now by its own key and nothing holds it yet,
    // so it is found, detached and freed; the record is treated as
    // unreadable whatever the steps answer.
    void* found = nullptr;
    (void)TiBtiDelete(&source->recordCache.tree, block, &found);
    (void)RmfTagT12(source->recordCache.arena, block);
    (void)RmfTagT5(source->recordCache.arena, block);
    return s;
  }
  return FromBlock(block);
}

// ---- reading into the buffer ----

std::uint32_t ReadIntoBuffer(RmfSource* source, std::uint32_t offset, std::uint32_t length) {
  RmfReader* reader = source->reader;
  length = std::min(length, kRmfReadBufferBytes);
  ++reader->blockReads;
  const std::uint32_t got = rmf::detail::SourceRead(source, offset, length, reader->readBuffer);
  if (got == 0) {
    reader->bufferLength = 0;
    source->readError = 1;
    return 0;
  }
  reader->bufferSource = static_cast<std::uint32_t>(source->index);
  reader->bufferOffset = offset;
  reader->bufferLength = static_cast<std::int32_t>(got);
  return got;
}

// One side of a window: the last tile taken on it and its index entry.
struct WindowSide {
  bool open = true;
  std::uint32_t tile = 0;
  EntryRef entry;
  std::int32_t level = 0;
  bool haveCandidate = false;
  std::uint32_t candidate = 0;
  EntryRef candidateEntry;
};

// The next covered id beyond side.tile in direction `up`, with its entry.
void NextCandidate(RmfSource* source, WindowSide& side, bool up) {
  side.haveCandidate = false;
  const RmfIndexEntry& e = side.entry.entry;
  if (up) {
    if (side.tile < e.lastId) {
      side.candidate = side.tile + 1;
      side.candidateEntry = side.entry;
    } else {
      RmfIndexEntry next{};
      if (rmf::detail::LoadEntry(source, side.entry.index + 1, &e, &next) != Load::kLoaded) return;
      side.candidate = next.firstId;
      side.candidateEntry = EntryRef{side.entry.index + 1, next};
    }
  } else {
    if (side.tile > e.firstId) {
      side.candidate = side.tile - 1;
      side.candidateEntry = side.entry;
    } else {
      if (side.entry.index == 0) return;
      RmfIndexEntry before{};
      if (rmf::detail::LoadEntry(source, side.entry.index - 1, nullptr, &before) != Load::kLoaded) return;
      if (before.lastId >= e.firstId) {
        source->readError = 1;
        return;
      }
      side.candidate = before.lastId;
      side.candidateEntry = EntryRef{side.entry.index - 1, before};
    }
  }
  side.haveCandidate = true;
}

struct WindowTile {
  std::uint32_t tile;
  std::uint32_t begin;
  std::uint32_t end;
};

// Reads tile t (data [begin, end)) together with its neighbours of the same
// level whose data lies next to it in the file, up to `limit` bytes, and
// caches their records. False when the read gave nothing.
bool ReadWindow(RmfSource* source, std::uint32_t t, const EntryRef& entry, std::uint32_t begin, std::uint32_t end,
                std::uint32_t limit) {
  WindowTile below[kMaxWindowTiles];
  WindowTile above[kMaxWindowTiles];
  std::uint32_t belowCount = 0;
  std::uint32_t aboveCount = 0;
  std::uint32_t start = begin;
  std::uint32_t stop = end;
  std::uint64_t total = std::uint64_t{end} - begin;

  // A neighbour that cannot be looked up only ends its side of the window;
  // the read error is for the tiles that are asked for.
  const std::uint32_t readError = source->readError;
  WindowSide sides[2];  // 0 below, 1 above
  for (int k = 0; k < 2; ++k) {
    sides[k].tile = t;
    sides[k].entry = entry;
    sides[k].level = RmfTileLevel(t);
    NextCandidate(source, sides[k], k == 1);
  }
  for (;;) {
    WindowSide* side = nullptr;
    bool up = false;
    const bool lowOk = sides[0].open && sides[0].haveCandidate;
    const bool highOk = sides[1].open && sides[1].haveCandidate;
    if (lowOk && highOk) {
      up = sides[1].candidate - t < t - sides[0].candidate;
    } else if (highOk) {
      up = true;
    } else if (!lowOk) {
      break;
    }
    side = &sides[up ? 1 : 0];
    const std::uint32_t c = side->candidate;
    std::uint32_t b = 0;
    std::uint32_t e = 0;
    bool take = RmfTileLevel(c) == side->level && (up ? aboveCount : belowCount) < kMaxWindowTiles &&
                !IsCached(source, c, 0) &&
                rmf::detail::TileOffsets(source, side->candidateEntry, c, false, &b, &e) == 1 && b < e &&
                total + (e - b) < limit && (up ? b == stop : e == start);
    if (!take) {
      side->open = false;
      continue;
    }
    total += e - b;
    if (up) {
      above[aboveCount++] = WindowTile{c, b, e};
      stop = e;
    } else {
      below[belowCount++] = WindowTile{c, b, e};
      start = b;
    }
    side->tile = c;
    side->entry = side->candidateEntry;
    NextCandidate(source, *side, up);
  }
  source->readError = readError;

  const std::uint32_t got = ReadIntoBuffer(source, start, static_cast<std::uint32_t>(total));
  if (got == 0) return false;
  const std::uint64_t bytesEnd = std::uint64_t{start} + got;
  const std::uint8_t* buffer = source->reader->readBuffer;

  // The tiles in file order: below ones in reverse, the wanted one, above.
  const std::uint32_t count = belowCount + 1 + aboveCount;
  for (std::uint32_t n = 0; n < count; ++n) {
    WindowTile w;
    if (n < belowCount) {
      w = below[belowCount - 1 - n];
    } else if (n == belowCount) {
      w = WindowTile{t, begin, end};
    } else {
      w = above[n - belowCount - 1];
    }
    std::uint64_t at = w.begin;
    for (std::uint32_t sequence = 0; at < w.end && sequence <= 0xffff; ++sequence) {
      if (at >= bytesEnd) return true;  // the bytes are used up
      const std::uint64_t limitHere = std::min<std::uint64_t>(w.end, bytesEnd);
      const Stored s = StoreRecord(source, w.tile, static_cast<std::uint16_t>(sequence), buffer + (at - start),
                                   static_cast<std::uint32_t>(limitHere - at));
      if (s.outcome == Outcome::kEmpty) break;
      if (s.outcome == Outcome::kError) {
        // Cut short by the read: the split ends. Running past its own tile,
        // or damaged: that tile is left to a read of its own.
        if (s.framing && limitHere < w.end) return true;
        if (s.framing) break;
        return true;
      }
      if (!s.more) break;
      at += s.storedLength;
    }
  }
  return true;
}

// The record (tile, sequence) at file offset `offset` of the tile's data
// ending at `end`. `entry` is the tile's index entry when known (for windows).
Stored FetchRecord(RmfSource* source, std::uint32_t tile, std::uint16_t sequence, std::uint32_t offset,
                   std::uint32_t end, std::int32_t factor, const EntryRef* entry) {
  RmfReader* reader = source->reader;
  ++reader->recordLookups;
  if (void* hit = CachedBlock(source, tile, sequence)) return FromBlock(hit);
  Stored failed;
  if (end <= offset) {
    source->readError = 1;
    return failed;
  }
  const std::uint32_t size = end - offset;
  factor = std::clamp(factor, 0, kRmfMaxWindowFactor);
  if (!rmf::detail::BufferHolds(source, offset, size)) {
    bool windowTried = false;
    if (factor >= 2 && size <= kRmfReadBufferBytes && sequence == 0) {
      EntryRef located;
      const EntryRef* e = entry;
      if (e == nullptr && rmf::detail::LocateTile(source, tile, &located) == 1) e = &located;
      if (e != nullptr) {
        windowTried = true;
        if (!ReadWindow(source, tile, *e, offset, end, static_cast<std::uint32_t>(factor) * kKilobyte))
          return failed;
        if (void* hit = CachedBlock(source, tile, sequence)) return FromBlock(hit);
      }
    }
    if (!rmf::detail::BufferHolds(source, offset, size)) {
      std::uint32_t length = size;
      if (windowTried) {
        length = std::max(static_cast<std::uint32_t>(factor) * kKilobyte, size);
      } else if (factor != 0 || size > kRmfReadBufferBytes) {
        length = kRmfReadBufferBytes;
      }
      if (ReadIntoBuffer(source, offset, length) == 0) return failed;
    }
  }
  const std::uint64_t bufferEnd = std::uint64_t{reader->bufferOffset} + static_cast<std::uint64_t>(reader->bufferLength);
  const auto available = static_cast<std::uint32_t>(std::min<std::uint64_t>(bufferEnd - offset, size));
  const Stored s = StoreRecord(source, tile, sequence, reader->readBuffer + (offset - reader->bufferOffset), available);
  if (s.outcome == Outcome::kError) source->readError = 1;
  return s;
}

void Remember(RmfSource* source, const Stored& s, std::uint32_t tile, std::uint16_t sequence, std::uint32_t offset) {
  source->record = s.record;
  source->recordTile = tile;
  source->recordLength = s.storedLength;
  source->recordSequence = sequence;
  source->recordOffset = offset;
}

// ---- the walk ----

std::uint32_t LevelMaskOfQuery(const RmfSource* source) {
  std::uint32_t mask = 0;
  const std::int32_t low = std::max(source->queryMinLevel, 1);
  const std::int32_t high = std::min(source->queryMaxLevel, rmf::kDetailLevels);
  for (std::int32_t d = low; d <= high; ++d) mask |= source->header.levelMasks[d - 1];
  return mask;
}

std::int32_t CoverArea(RmfSource* source, std::uint32_t mask, std::int32_t capacity, std::int32_t* needed) {
  if (source->queryArea != nullptr && source->queryAreaCount > 0) {
    return RmfTilesForPolygon(source->queryArea, source->queryAreaCount, mask, source->ranges, capacity, needed);
  }
  return RmfTilesForRect(&source->queryRect, mask, source->ranges, capacity, needed);
}

// State 1: the tile-id ranges of the query area.
bool ComputeRanges(RmfSource* source) {
  const std::uint32_t mask = LevelMaskOfQuery(source);
  std::int32_t needed = 0;
  std::int32_t r = CoverArea(source, mask, source->rangeCapacity, &needed);
  if (r > source->rangeCapacity) {
    const std::int32_t want = std::max(needed, r);
    if (want > kMaxRanges) {
      source->reader->lastError = kRmfNoMemory;
      source->readError = 1;
      return false;
    }
    auto* grown = static_cast<RmfTileRange*>(std::calloc(static_cast<std::size_t>(want), sizeof(RmfTileRange)));
    if (grown == nullptr) {
      source->reader->lastError = kRmfBadArgument;
      source->readError = 1;
      return false;
    }
    std::free(source->ranges);
    source->ranges = grown;
    source->rangeCapacity = want;
    r = CoverArea(source, mask, source->rangeCapacity, &needed);
    if (r > source->rangeCapacity) {
      source->reader->lastError = kRmfNoMemory;
      source->readError = 1;
      return false;
    }
  }
  if (r < 0) {
    source->reader->lastError = r;
    source->readError = 1;
    return false;
  }
  source->rangeCount = r;
  source->rangeCurrent = -1;
  return true;
}

// State 3: makes the walk's entry the first one ending at or after the
// current tile. 1 found, 0 the index ends, 2 the range lies before the
// current sample group, -1 error.
std::int32_t SeekEntry(RmfSource* source) {
  if (!rmf::detail::EnsureSamples(source)) return -1;
  if (source->entryValid != 0 && source->entryLast >= source->currentTile) return 1;
  const rmf::RmfSampleTable& samples = source->samples;
  while (source->sampleCursor < samples.count && samples.lasts[source->sampleCursor] < source->currentTile) {
    ++source->sampleCursor;
  }
  if (source->sampleCursor >= samples.count) return 0;
  if (source->rangeLast < samples.firsts[source->sampleCursor]) return 2;
  const std::uint32_t groupStart =
      static_cast<std::uint32_t>(source->sampleCursor) * static_cast<std::uint32_t>(samples.step);
  std::uint32_t i = groupStart;
  RmfIndexEntry previous{};
  bool havePrevious = false;
  if (source->entryValid != 0 && source->indexCursor >= groupStart) {
    i = source->indexCursor + 1;
    previous = RmfIndexEntry{source->entryFirst, source->entryLast, source->entryPosition};
    havePrevious = true;
  }
  for (;; ++i) {
    RmfIndexEntry e{};
    const Load r = rmf::detail::LoadEntry(source, i, havePrevious ? &previous : nullptr, &e);
    if (r == Load::kEnd) return 0;
    if (r == Load::kError) return -1;
    source->indexCursor = i;
    source->entryFirst = e.firstId;
    source->entryLast = e.lastId;
    source->entryPosition = e.position;
    source->entryValid = 1;
    if (e.lastId >= source->currentTile) return 1;
    previous = e;
    havePrevious = true;
  }
}

std::uint8_t* Stop(RmfSource* source) {
  source->walkState = kRmfWalkIdle;
  return nullptr;
}

std::uint8_t* Fail(RmfSource* source) {
  source->readError = 1;
  return Stop(source);
}

// States 1 and 2, shared by both walks. False when the walk ended.
bool NextRange(RmfSource* source) {
  if (++source->rangeCurrent >= source->rangeCount) return false;
  source->rangeFirst = source->ranges[source->rangeCurrent].first;
  source->rangeLast = source->ranges[source->rangeCurrent].last;
  source->currentTile = source->rangeFirst;
  return true;
}

}  // namespace

// ---- records -----------------------------------------------------------------------

std::uint8_t* RmfSrcGetRecord(RmfSource* source, std::uint32_t tile, std::uint16_t sequence, std::uint32_t offset,
                              std::uint32_t end, std::int32_t factor, std::uint32_t* storedLength) {
  if (storedLength != nullptr) *storedLength = 0;
  if (!rmf::detail::SourceReady(source)) return nullptr;
  const Stored s = FetchRecord(source, tile, sequence, offset, end, factor, nullptr);
  if (storedLength != nullptr) *storedLength = s.storedLength;
  return s.outcome == Outcome::kRecord ? s.record : nullptr;
}

std::uint8_t* RmfSrcGetBlock(RmfSource* source, std::uint32_t tile, std::uint16_t sequence, std::uint32_t offset,
                             std::uint32_t* nextOffset) {
  if (nextOffset != nullptr) *nextOffset = 0;
  if (!rmf::detail::SourceReady(source)) return nullptr;
  const std::int32_t factor = source->reader->windowFactor;

  if (offset >= 1) {
    Stored s;
    if (void* hit = CachedBlock(source, tile, sequence)) {
      s = FromBlock(hit);
    } else {
      // The length word first, then the whole record.
      RmfReader* reader = source->reader;
      if (!rmf::detail::BufferHolds(source, offset, 2) &&
          ReadIntoBuffer(source, offset, factor != 0 ? kRmfReadBufferBytes : 2) < 2) {
        source->readError = 1;
        return nullptr;
      }
      if (!rmf::detail::BufferHolds(source, offset, 2)) {
        source->readError = 1;
        return nullptr;
      }
      const std::uint32_t length = LoadU16(reader->readBuffer + (offset - reader->bufferOffset));
      const std::uint64_t end = std::uint64_t{offset} + length;
      if (length == 0 || end > 0xffffffffu) {
        source->readError = 1;
        return nullptr;
      }
      s = FetchRecord(source, tile, sequence, offset, static_cast<std::uint32_t>(end), factor, nullptr);
    }
    if (s.outcome != Outcome::kRecord) return nullptr;
    if (nextOffset != nullptr && s.more) *nextOffset = offset + s.storedLength;
    return s.record;
  }

  if (void* hit = CachedBlock(source, tile, sequence)) {
    const Stored s = FromBlock(hit);
    if (nextOffset != nullptr) *nextOffset = s.more ? 1 : 0;  // continued, position unknown
    return s.record;
  }
  EntryRef entry;
  if (rmf::detail::LocateTile(source, tile, &entry) != 1) return nullptr;
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  if (rmf::detail::TileOffsets(source, entry, tile, true, &begin, &end) != 1 || begin == end) return nullptr;
  // Records of a tile follow one another: walk them up to the sequence.
  std::uint32_t at = begin;
  for (std::uint32_t s = 0;; ++s) {
    const Stored r = FetchRecord(source, tile, static_cast<std::uint16_t>(s), at, end, factor, &entry);
    if (r.outcome != Outcome::kRecord) return nullptr;
    if (s == sequence) {
      if (nextOffset != nullptr && r.more) *nextOffset = at + r.storedLength;
      return r.record;
    }
    if (!r.more) return nullptr;
    const std::uint64_t next = std::uint64_t{at} + r.storedLength;
    if (next >= end) {
      source->readError = 1;  // the record says more follow, the tile's data ends
      return nullptr;
    }
    at = static_cast<std::uint32_t>(next);
  }
}

// ---- the walk ----------------------------------------------------------------------

std::uint8_t* RmfSrcLoadBlock(RmfSource* source) {
  if (!rmf::detail::SourceReady(source)) return nullptr;
  const std::int32_t factor = source->reader->windowFactor;
  for (;;) {
    switch (source->walkState) {
      case kRmfWalkStart:
        if (!ComputeRanges(source)) return Stop(source);
        source->walkState = kRmfWalkNextRange;
        break;
      case kRmfWalkNextRange:
        if (!NextRange(source)) return Stop(source);
        source->walkState = kRmfWalkSeekIndex;
        break;
      case kRmfWalkSeekIndex: {
        const std::int32_t r = SeekEntry(source);
        if (r < 0) return Fail(source);
        if (r == 0) return Stop(source);
        source->walkState = r == 2 ? kRmfWalkNextRange : kRmfWalkNextTile;
        break;
      }
      case kRmfWalkNextTile: {
        if (source->currentTile > source->rangeLast ||
            (source->entryValid != 0 && source->rangeLast < source->entryFirst)) {
          source->walkState = kRmfWalkNextRange;
          break;
        }
        if (source->entryValid == 0 || source->currentTile > source->entryLast) {
          source->walkState = kRmfWalkSeekIndex;
          break;
        }
        if (source->currentTile < source->entryFirst) source->currentTile = source->entryFirst;
        const std::uint32_t tile = source->currentTile;
        const EntryRef entry = rmf::detail::WalkEntry(source);
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
        if (rmf::detail::TileOffsets(source, entry, tile, true, &begin, &end) != 1) return Fail(source);
        if (begin == end) {  // a tile without data
          ++source->currentTile;
          break;
        }
        const Stored s = FetchRecord(source, tile, 0, begin, end, factor, &entry);
        if (s.outcome == Outcome::kError) return Fail(source);
        if (s.outcome == Outcome::kEmpty) {
          ++source->currentTile;
          break;
        }
        Remember(source, s, tile, 0, begin);
        source->tileEndOffset = end;
        source->atRangeEnd = tile == source->rangeFirst || tile == source->rangeLast ? 1 : 0;
        if (s.more) {
          source->walkState = kRmfWalkNextRecord;
        } else {
          ++source->currentTile;
        }
        return s.record;
      }
      case kRmfWalkNextRecord: {
        const std::uint64_t at = std::uint64_t{source->recordOffset} + source->recordLength;
        const std::uint32_t sequence = source->recordSequence + 1u;
        // A record that says more follow while its tile's data ends (or the
        // sequence numbers run out) is as unreadable as a failed read.
        if (at >= source->tileEndOffset || sequence > 0xffff) return Fail(source);
        const std::uint32_t tile = source->currentTile;
        const EntryRef entry = rmf::detail::WalkEntry(source);
        const Stored s = FetchRecord(source, tile, static_cast<std::uint16_t>(sequence),
                                     static_cast<std::uint32_t>(at), source->tileEndOffset, factor, &entry);
        if (s.outcome == Outcome::kError) return Fail(source);
        if (s.outcome == Outcome::kEmpty) {
          source->walkState = kRmfWalkNextTile;
          ++source->currentTile;
          break;
        }
        Remember(source, s, tile, static_cast<std::uint16_t>(sequence), static_cast<std::uint32_t>(at));
        if (!s.more) {
          source->walkState = kRmfWalkNextTile;
          ++source->currentTile;
        }
        return s.record;
      }
      default:
        return Stop(source);
    }
  }
}

std::uint8_t* RmfSrcF4(RmfSource* source) {
  if (!rmf::detail::SourceReady(source)) return nullptr;
  RmfTileCache* cache = &source->recordCache;
  for (;;) {
    switch (source->walkState) {
      case kRmfWalkStart:
        if (!ComputeRanges(source)) return Stop(source);
        source->walkState = kRmfWalkNextRange;
        break;
      case kRmfWalkNextRange:
        if (!NextRange(source)) return Stop(source);
        source->walkState = kRmfWalkNextTile;
        break;
      case kRmfWalkSeekIndex:
      case kRmfWalkNextTile: {
        // The next cached tile of the range whose record 0 is cached.
        if (source->currentTile > source->rangeLast) {
          source->walkState = kRmfWalkNextRange;
          break;
        }
        RmfRecordKey probe{};
        probe.tileId = source->currentTile;
        void* node = nullptr;
        if (TiBtiLeastGe(&cache->tree, &probe, &node) != 1 || node == nullptr) {
          source->walkState = kRmfWalkNextRange;
          break;
        }
        const auto* key = static_cast<const RmfRecordKey*>(node);
        if (key->tileId > source->rangeLast) {
          source->walkState = kRmfWalkNextRange;
          break;
        }
        const std::uint32_t tile = key->tileId;
        if (key->sequence != 0) {
          if (tile == 0xffffffffu) return Stop(source);
          source->currentTile = tile + 1;
          break;
        }
        RmfTagT10(cache->arena, node, 1);
        const Stored s = FromBlock(node);
        source->currentTile = tile;
        Remember(source, s, tile, 0, 0);
        source->tileEndOffset = 0;
        source->atRangeEnd = tile == source->rangeFirst || tile == source->rangeLast ? 1 : 0;
        if (s.more) {
          source->walkState = kRmfWalkNextRecord;
        } else {
          source->walkState = kRmfWalkNextTile;
          ++source->currentTile;
        }
        return s.record;
      }
      case kRmfWalkNextRecord: {
        const std::uint32_t sequence = source->recordSequence + 1u;
        void* hit = sequence <= 0xffff ? CachedBlock(source, source->currentTile, static_cast<std::uint16_t>(sequence))
                                       : nullptr;
        if (hit == nullptr) {
          source->walkState = kRmfWalkNextTile;
          ++source->currentTile;
          break;
        }
        const Stored s = FromBlock(hit);
        Remember(source, s, source->currentTile, static_cast<std::uint16_t>(sequence), 0);
        if (!s.more) {
          source->walkState = kRmfWalkNextTile;
          ++source->currentTile;
        }
        return s.record;
      }
      default:
        return Stop(source);
    }
  }
}

// ---- cache listing and references ---------------------------------------------------

std::int32_t listCacheRecords(RmfTileCache* cache, const RmfRecordKey* start, std::uint32_t* pairs, std::int32_t n,
                              std::int32_t* restCount, void** restFirst) {
  if (cache == nullptr || cache->arena == nullptr || pairs == nullptr || n < 1) return kRmfBadArgument;
  if (restCount != nullptr) *restCount = 0;
  if (restFirst != nullptr) *restFirst = nullptr;
  void* node = nullptr;
  std::int32_t r;
  if (start != nullptr) {
    RmfRecordKey probe{};
    probe.tileId = start->tileId;
    probe.sequence = start->sequence;
    r = TiBtiFindForce(&cache->tree, &probe, 0, &node, 0);
    if (r != 1) return kRmfBadArgument;
  } else {
    r = TiBtiLeast(&cache->tree, &node);
  }
  std::int32_t listed = 0;
  std::int32_t rest = 0;
  while (r == 1 && node != nullptr) {
    const auto* key = static_cast<const RmfRecordKey*>(node);
    if (listed < n) {
      pairs[2 * listed] = key->tileId;
      pairs[2 * listed + 1] = static_cast<std::uint32_t>(key->source) | (static_cast<std::uint32_t>(key->sequence) << 16);
      ++listed;
    } else {
      if (rest == 0 && restFirst != nullptr) *restFirst = node;
      if (rest < INT32_MAX) ++rest;
    }
    r = TiBtiNext(&cache->tree, &node);
  }
  if (restCount != nullptr) *restCount = rest;
  return listed;
}

std::int32_t RmfRecordRelease(void* owner, void* reference) {
  if (owner == nullptr || reference == nullptr) return kRmfBadArgument;
  const auto* holder = static_cast<const RmfRecordOwner*>(owner);
  auto* ref = static_cast<RmfRecordReference*>(reference);
  if (holder->magic != kRmfRecordOwnerMagic || ref->guard != kRmfReferenceLinked) return kRmfBadArgument;
  RmfReader* reader = holder->reader;
  RmfSource* source = nullptr;
  if (rmf::detail::ReaderAlive(reader) && ref->source < reader->sourceCount) source = reader->sources[ref->source];
  if (source == nullptr || source->cachesReady == 0) {
    ref->guard = kRmfReferenceReleased;
    return 0;
  }
  return rmf::detail::TcReleaseReference(&source->recordCache, ref);
}
