// The reader: creating and closing it, opening map files into it, adding
// sources, and the pool of open file handles, which keeps at most the open
// limit of handles open and closes the least recently used one when another
// file must be opened.
#include "mapengine/format/store/RmfReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "mapengine/format/store/RmfSourceInternal.h"
#include "platform/os/files.h"

namespace {

constexpr std::uint32_t kReaderTag = 0x52445220;      // "RDR "
constexpr std::uint32_t kReadBufferTag = 0x52425546;  // "RBUF"
constexpr std::int32_t kInitialSources = 30;
constexpr std::int32_t kSourceStep = 10;
constexpr std::uint32_t kResultBytes[3] = {60, 510, 2510};
constexpr std::uint32_t kFilterDefaults[6] = {256, 256, 256, 256, 256, 0};
constexpr std::int32_t kFeatureSettings[6] = {7, 1, 19, 16384, 6144, 30720};
constexpr std::int16_t kMaxAge = 32767;
// Regions that RmfReaderOpen allocates carry a link in front of the memory
// the arena gets, so that the reader can keep the ones of failed opens.
constexpr std::size_t kRegionLink = 16;

using rmf::detail::FailWith;
using rmf::detail::ReaderAlive;

void FreeHeapParts(RmfReader* reader) {
  for (RmfResultBuffer& b : reader->results) {
    std::free(b.bytes);
    b = RmfResultBuffer{};
  }
  std::free(reader->sources);
  std::free(reader->sourceSide);
  reader->sources = nullptr;
  reader->sourceSide = nullptr;
  reader->sourceCapacity = 0;
  void* region = reader->spareRegions;
  while (region != nullptr) {
    void* next = nullptr;
    std::memcpy(&next, region, sizeof next);
    std::free(region);
    region = next;
  }
  reader->spareRegions = nullptr;
}

void KeepRegion(RmfReader* reader, void* region) {
  std::memcpy(region, &reader->spareRegions, sizeof(void*));
  reader->spareRegions = region;
}

// Every open file ages by one; the one just used becomes the newest.
void AgeOpenFiles(RmfReader* reader, RmfOpenFile* used) {
  for (RmfOpenFile* e = reader->openFiles; e != nullptr; e = e->next) {
    if (e->handleCell != nullptr && e->age < kMaxAge) ++e->age;
  }
  used->age = 0;
}

void CloseHandleOf(RmfOpenFile* entry) {
  if (entry->handleCell == nullptr) return;
  CloseHandle(*entry->handleCell);
  std::free(entry->handleCell);
  entry->handleCell = nullptr;
  --entry->reader->openCount;
}

// Closes the open file used longest ago (the greatest age; the one nearest
// the head of the list among equals), never `keep`. It stays in the list and
// is reopened when it is read again.
void EvictOne(RmfReader* reader, const RmfOpenFile* keep) {
  RmfOpenFile* victim = nullptr;
  for (RmfOpenFile* e = reader->openFiles; e != nullptr; e = e->next) {
    if (e->handleCell == nullptr || e == keep) continue;
    if (victim == nullptr || e->age > victim->age) victim = e;
  }
  if (victim != nullptr) CloseHandleOf(victim);
}

// The read function of file-backed sources.
std::int32_t PoolRead(void* context, std::uint32_t offset, std::uint32_t count, void* destination, std::int32_t) {
  return RmfFileRead(static_cast<RmfOpenFile*>(context), offset, count, destination);
}

bool GrowSourceTables(RmfReader* reader) {
  const std::int32_t capacity = reader->sourceCount + kSourceStep;
  auto* sources = static_cast<RmfSource**>(std::calloc(static_cast<std::size_t>(capacity), sizeof(RmfSource*)));
  auto* side = static_cast<std::uint32_t*>(std::calloc(static_cast<std::size_t>(capacity), sizeof(std::uint32_t)));
  if (sources == nullptr || side == nullptr) {
    std::free(sources);
    std::free(side);
    return false;
  }
  const auto count = static_cast<std::size_t>(reader->sourceCount);
  if (count > 0) {
    std::memcpy(sources, reader->sources, count * sizeof(RmfSource*));
    std::memcpy(side, reader->sourceSide, count * sizeof(std::uint32_t));
  }
  std::free(reader->sources);
  std::free(reader->sourceSide);
  reader->sources = sources;
  reader->sourceSide = side;
  reader->sourceCapacity = capacity;
  return true;
}

RmfSourceDescription* CopyDescription(const RmfSourceDescription* d) {
  const std::size_t extra = d->annotations != nullptr ? d->annotationLength : 0;
  auto* copy = static_cast<RmfSourceDescription*>(std::malloc(sizeof(RmfSourceDescription) + extra));
  if (copy == nullptr) return nullptr;
  *copy = *d;
  copy->headerLength = std::min(d->headerLength, kRmfHeaderReadBytes);
  copy->annotationLength = static_cast<std::uint32_t>(extra);
  if (extra > 0) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(copy + 1);
    std::memcpy(bytes, d->annotations, extra);
    copy->annotations = bytes;
  } else {
    copy->annotations = nullptr;
  }
  return copy;
}

// Destroys a source whose open failed while the reader lives on: its cached
// blocks leave the arena and the read buffer forgets its bytes, since the
// next source gets the same index.
void DiscardSource(RmfReader* reader, RmfSource* source) {
  rmf::detail::DropCachedBlocks(source);
  if (reader->bufferSource == static_cast<std::uint32_t>(source->index)) reader->bufferLength = 0;
  RmfSrcF2(source);
}

void MergeSource(RmfReader* reader, const RmfSource* source, bool fromDescription) {
  const bool first = reader->sourceCount == 1;
  if (first) {
    reader->minLevel = source->minLevel;
    reader->maxLevel = source->maxLevel;
    reader->rangeState = 2;
  } else {
    reader->minLevel = std::min(reader->minLevel, source->minLevel);
    reader->maxLevel = std::max(reader->maxLevel, source->maxLevel);
  }
  if (fromDescription) return;
  const TiRect& b = source->header.box;
  if (reader->boxSet == 0) {
    reader->box = b;
    reader->boxSet = 1;
    return;
  }
  reader->box.x1 = std::min(reader->box.x1, b.x1);
  reader->box.y1 = std::min(reader->box.y1, b.y1);
  reader->box.x2 = std::max(reader->box.x2, b.x2);
  reader->box.y2 = std::max(reader->box.y2, b.y2);
}

}  // namespace

// ---- creation --------------------------------------------------------------------

std::int32_t RmfReaderInit(RmfReader* reader) {
  if (reader == nullptr) return kRmfMalformed;
  reader->magic = kRmfReaderMagic;
  reader->lastError = 0;
  reader->sourceCount = 0;
  reader->currentSource = 0;
  reader->sources = static_cast<RmfSource**>(std::calloc(kInitialSources, sizeof(RmfSource*)));
  reader->sourceSide = static_cast<std::uint32_t*>(std::calloc(kInitialSources, sizeof(std::uint32_t)));
  if (reader->sources != nullptr && reader->sourceSide != nullptr) {
    reader->sourceCapacity = kInitialSources;
  } else {
    std::free(reader->sources);
    std::free(reader->sourceSide);
    reader->sources = nullptr;
    reader->sourceSide = nullptr;
    reader->sourceCapacity = 0;
  }

  bool allResults = true;
  for (int i = 0; i < 3; ++i) {
    reader->results[i].bytes = static_cast<std::uint8_t*>(std::calloc(1, kResultBytes[i]));
    allResults = allResults && reader->results[i].bytes != nullptr;
  }
  for (int i = 0; i < 3; ++i) {
    if (allResults) {
      reader->results[i].capacity = kResultBytes[i];
    } else {
      std::free(reader->results[i].bytes);
      reader->results[i] = RmfResultBuffer{};
    }
  }

  reader->openFiles = nullptr;
  reader->openCount = 0;
  reader->openLimit = kRmfDefaultOpenLimit;

  for (int i = 0; i < 6; ++i) {
    reader->query.filterTexts[i][0] = '\0';
    reader->query.classMasks[i] = 0;
    reader->query.filterDefaults[i] = kFilterDefaults[i];
    reader->featureSettings[i] = kFeatureSettings[i];
  }
  reader->querySource = -1;
  reader->bufferSource = 0;
  reader->bufferOffset = 0;
  reader->bufferLength = 0;
  reader->blockReads = 0;
  reader->held[0] = RmfHeldBlock{};
  reader->held[1] = RmfHeldBlock{};
  reader->blockLoader = nullptr;
  for (RmfHookFn& hook : reader->attributeDecoder) hook = nullptr;
  reader->windowFactor = kRmfDefaultWindowFactor;
  return 0;
}

RmfReader* RmfReaderCreateInArena(void* memory, std::uint32_t size) {
  RmfTagArena* arena = RmfTagT1(memory, size);
  if (arena == nullptr) return nullptr;
  void* block = RmfTagT4(arena, sizeof(RmfReader) + 4, kReaderTag);
  if (block == nullptr) return nullptr;
  // The record holds pointers: it starts at the block's first 8-byte boundary.
  const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(block) + 7) & ~static_cast<std::uintptr_t>(7);
  auto* reader = reinterpret_cast<RmfReader*>(at);
  std::memset(reader, 0, sizeof(RmfReader));
  reader->inArena = 1;
  reader->arena = arena;
  if (RmfReaderInit(reader) != 0) return nullptr;
  reader->readBuffer = static_cast<std::uint8_t*>(RmfTagT4(arena, kRmfReadBufferBytes, kReadBufferTag));
  if (reader->readBuffer == nullptr) {
    FreeHeapParts(reader);
    reader->magic = 0;
    return nullptr;
  }
  (void)RmfProfileReset(reader);  // refuses only a reader that is not alive
  return reader;
}

RmfReader* RmfReaderCreate() {
  auto* reader = static_cast<RmfReader*>(std::calloc(1, sizeof(RmfReader)));
  if (reader == nullptr) return nullptr;
  if (RmfReaderInit(reader) != 0) {
    std::free(reader);
    return nullptr;
  }
  (void)RmfProfileReset(reader);  // refuses only a reader that is not alive
  return reader;
}

std::int32_t RmfReaderSetMaxOpenFiles(RmfReader* reader, std::int32_t n) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  reader->openLimit = std::max(n, 1);
  return reader->openLimit;
}

std::int32_t RmfReaderSetWindowFactor(RmfReader* reader, std::int32_t n) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  reader->windowFactor = std::clamp(n, 0, kRmfMaxWindowFactor);
  return reader->windowFactor;
}

// ---- opening files -----------------------------------------------------------------

std::int32_t RmfReaderOpen(RmfReader* reader, const char* name, std::int32_t arenaBytes) {
  if (!ReaderAlive(reader)) return 0;
  if (name == nullptr) {
    reader->lastError = kRmfBadArgument;
    return 0;
  }
  reader->lastError = 0;
  if (arenaBytes <= 0) {
    if (reader->arena == nullptr || reader->readBuffer == nullptr) return FailWith(reader, kRmfNoMemory);
    return RmfReaderOpenFile(reader, name, nullptr, nullptr);
  }

  auto* region = static_cast<std::uint8_t*>(std::calloc(1, kRegionLink + static_cast<std::uint32_t>(arenaBytes)));
  if (region == nullptr) return FailWith(reader, kRmfNoMemory);
  std::uint8_t* memory = region + kRegionLink;
  const auto bytes = static_cast<std::uint32_t>(arenaBytes);
  if (reader->arena != nullptr) {
    if (RmfTagT2(reader->arena, memory, bytes) != 1) {
      std::free(region);
      return FailWith(reader, kRmfNoMemory);
    }
  } else {
    RmfTagArena* arena = RmfTagT1(memory, bytes);
    void* buffer = arena != nullptr ? RmfTagT4(arena, kRmfReadBufferBytes, kReadBufferTag) : nullptr;
    if (buffer == nullptr) {  // nothing else lives in this arena yet
      std::free(region);
      return FailWith(reader, kRmfNoMemory);
    }
    reader->arena = arena;
    reader->readBuffer = static_cast<std::uint8_t*>(buffer);
    reader->bufferLength = 0;
  }
  const std::int32_t result = RmfReaderOpenFile(reader, name, region, nullptr);
  // The arena manages the region now and cannot give it back: when no source
  // took it, the reader keeps it until it closes.
  const bool taken = result >= 1 && reader->sourceCount > 0 && reader->sources[reader->sourceCount - 1]->region == region;
  if (!taken) KeepRegion(reader, region);
  return result;
}

std::int32_t RmfReaderOpenFile(RmfReader* reader, const char* name, void* region,
                               const RmfSourceDescription* description) {
  if (!ReaderAlive(reader)) return 0;
  if (name == nullptr) {
    reader->lastError = kRmfBadArgument;
    return 0;
  }
  reader->lastError = 0;
  // A longer name would be cut and could name another file.
  const std::size_t length = strnlen(name, kRmfFileNameBytes);
  if (length >= kRmfFileNameBytes) {
    reader->lastError = kRmfBadArgument;
    return 0;
  }
  auto* entry = static_cast<RmfOpenFile*>(std::calloc(1, sizeof(RmfOpenFile)));
  if (entry == nullptr) {
    reader->lastError = kRmfNoMemory;
    return 0;
  }
  std::memcpy(entry->name, name, length);
  entry->reader = reader;
  entry->sourceNumber = static_cast<std::uint32_t>(reader->sourceCount);
  if (reader->openFiles == nullptr) {
    reader->openFiles = entry;
  } else {
    RmfOpenFile* tail = reader->openFiles;
    while (tail->next != nullptr) tail = tail->next;
    tail->next = entry;
    entry->previous = tail;
  }

  if (description == nullptr) {
    // The new file is opened before any other is closed, so that a file that
    // fails leaves the pool as it was; the limit is restored once it is in.
    if (RmfFileOpen(entry) != 1) {
      RmfFileClose(entry);
      return 0;  // lastError kRmfCannotOpen
    }
  }
  const std::int32_t result = RmfReaderAddSource(reader, entry, PoolRead, region, description);
  if (result >= 1) {
    RmfSource* source = reader->sources[reader->sourceCount - 1];
    source->fileBacked = 1;
    entry->sourceNumber = static_cast<std::uint32_t>(source->index);
    if (reader->openCount > reader->openLimit) EvictOne(reader, entry);
  } else {
    RmfFileClose(entry);
  }
  if (result < 0) reader->lastError = result;
  return result;
}

std::int32_t RmfReaderAddSource(RmfReader* reader, void* context, RmfReadFn read, void* region,
                                const RmfSourceDescription* description) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (read == nullptr) return FailWith(reader, kRmfBadArgument);
  if (reader->arena == nullptr || reader->readBuffer == nullptr) return FailWith(reader, kRmfNoMemory);
  if (reader->sourceCount >= reader->sourceCapacity && !GrowSourceTables(reader)) {
    reader->lastError = kRmfNoMemory;
    return 0;
  }
  RmfSource* source = RmfSrcF1();
  if (source == nullptr) {
    reader->lastError = kRmfNoMemory;
    return 0;
  }
  source->reader = reader;
  source->index = reader->sourceCount;
  reader->currentSource = reader->sourceCount;

  std::int32_t result;
  if (description != nullptr) {
    source->description = CopyDescription(description);
    result = source->description != nullptr ? RmfSrcOpenWithInfo(source, context, read) : kRmfNoMemory;
  } else {
    result = RmfSrcOpen(source, context, read);
  }
  // A file too short for a header is no map: reported as a rejected header
  // rather than as success with an unchanged source count.
  if (result == 0) result = kRmfHeaderRejected;

  if (result < 1) {
    DiscardSource(reader, source);
    return FailWith(reader, result);
  }
  if (source->permanentId == 0) {
    source->permanentId = description != nullptr && description->permanentId != 0
                              ? description->permanentId
                              : static_cast<std::uint32_t>(source->index) + 1;
  }
  if (reader->blockLoader == nullptr) reader->blockLoader = RmfSrcLoadBlock;
  source->region = region;
  reader->sources[reader->sourceCount] = source;
  reader->sourceSide[reader->sourceCount] = 0;
  ++reader->sourceCount;
  RmfSrcF5(source, source->minLevel, source->maxLevel);
  MergeSource(reader, source, description != nullptr);
  return reader->sourceCount;
}

void RmfReaderClose(RmfReader* reader) {
  if (!ReaderAlive(reader)) return;
  reader->lastError = 0;
  for (RmfHeldBlock& held : reader->held) {
    if (held.block == nullptr) continue;
    // The reader is going and its arena with it: what the arena answers
    // changes nothing here.
    (void)RmfTagT8(reader->arena, held.block);
    (void)RmfTagT5(reader->arena, held.block);
    held = RmfHeldBlock{};
  }
  // The arena goes with the reader: the sources' cached blocks are left
  // where they are and nothing touches the arena from here on, so each
  // source may free its region.
  for (std::int32_t i = reader->sourceCount - 1; i >= 0; --i) {
    reader->currentSource = i;
    reader->sourceSide[i] = 0;
    RmfSource* source = reader->sources[i];
    if (source == nullptr) continue;
    if (source->fileBacked != 0) RmfFileClose(static_cast<RmfOpenFile*>(source->rawContext));
    RmfSrcF2(source);
    reader->sources[i] = nullptr;
  }
  reader->sourceCount = 0;
  while (reader->openFiles != nullptr) RmfFileClose(reader->openFiles);
  FreeHeapParts(reader);
  reader->arena = nullptr;
  reader->readBuffer = nullptr;
  reader->bufferLength = 0;
  reader->magic = 0;
  if (reader->inArena == 0) std::free(reader);
}

// ---- the file pool -------------------------------------------------------------------

std::int32_t RmfFileOpen(RmfOpenFile* entry) {
  if (entry == nullptr || !ReaderAlive(entry->reader)) return kRmfBadArgument;
  if (entry->handleCell != nullptr) return 1;
  RmfReader* reader = entry->reader;
  auto* cell = static_cast<void**>(std::malloc(sizeof(void*)));
  if (cell == nullptr) {
    reader->lastError = kRmfNoMemory;
    return 0;
  }
  // File names are 8-bit texts: each byte becomes one 16-bit character.
  char16_t wide[kRmfFileNameBytes];
  std::size_t i = 0;
  for (; i + 1 < kRmfFileNameBytes && entry->name[i] != '\0'; ++i) {
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(entry->name[i]));
  }
  wide[i] = u'\0';
  HANDLE handle = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  const bool opened = handle != INVALID_HANDLE_VALUE;
  if (opened) {
    *cell = handle;
    entry->handleCell = cell;
    ++reader->openCount;
  } else {
    std::free(cell);
    reader->lastError = kRmfCannotOpen;
  }
  AgeOpenFiles(reader, entry);
  return opened ? 1 : 0;
}

void RmfFileClose(RmfOpenFile* entry) {
  if (entry == nullptr) return;
  RmfReader* reader = entry->reader;
  if (entry->handleCell != nullptr) {
    CloseHandle(*entry->handleCell);
    std::free(entry->handleCell);
    entry->handleCell = nullptr;
    if (reader != nullptr) --reader->openCount;
  }
  if (entry->previous != nullptr) {
    entry->previous->next = entry->next;
  } else if (reader != nullptr && reader->openFiles == entry) {
    reader->openFiles = entry->next;
  }
  if (entry->next != nullptr) entry->next->previous = entry->previous;
  std::free(entry);
}

std::int32_t RmfFileRead(RmfOpenFile* entry, std::uint32_t offset, std::uint32_t length, void* buffer) {
  if (entry == nullptr || !ReaderAlive(entry->reader) || (buffer == nullptr && length != 0)) return -1;
  RmfReader* reader = entry->reader;
  if (entry->handleCell == nullptr) {
    if (reader->openCount >= reader->openLimit) EvictOne(reader, entry);
    if (RmfFileOpen(entry) != 1) return -1;
  }
  HANDLE handle = *entry->handleCell;
  LONG high = 0;
  DWORD read = 0;
  // Offsets are unsigned 32-bit: the high word keeps those above 2 GB positive.
  if (SetFilePointer(handle, static_cast<LONG>(offset), &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER) {
    const std::uint32_t want = std::min<std::uint32_t>(length, 0x7fffffff);
    ReadFile(handle, buffer, want, &read, nullptr);
    read = std::min(read, want);
  }
  if (entry->age != 0) AgeOpenFiles(reader, entry);
  return static_cast<std::int32_t>(read);
}

// ---- sources by number ----------------------------------------------------------------

RmfOpenFile* SrcFindSourceByFeatSource(RmfReader* reader, std::uint32_t id) {
  if (!ReaderAlive(reader)) return nullptr;
  for (RmfOpenFile* e = reader->openFiles; e != nullptr; e = e->next) {
    if (e->sourceNumber == id) return e;
  }
  return nullptr;
}

std::int32_t SrcPermID2Num(RmfReader* reader, std::uint32_t permanentId) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  for (std::int32_t i = 0; i < reader->sourceCount; ++i) {
    if (reader->sources[i] != nullptr && reader->sources[i]->permanentId == permanentId) return i;
  }
  return -1;
}

std::uint32_t SrcNum2PermID(RmfReader* reader, std::int32_t index) {
  if (!ReaderAlive(reader) || index < 0 || index >= reader->sourceCount || reader->sources[index] == nullptr)
    return 0;
  return reader->sources[index]->permanentId;
}

// ---- routing profile -----------------------------------------------------------------

std::int32_t RmfProfileReset(RmfReader* reader) {
  if (!ReaderAlive(reader)) return -1;
  RmfRoutingProfile& p = reader->profile;
  p.modeFlags = 0;
  p.featureCallback = nullptr;
  p.connectionCallback = nullptr;
  p.context = nullptr;
  p.limit = 0x7fffffff;
  ++p.changeCounter;
  reader->lastError = 0;
  return 0;
}
