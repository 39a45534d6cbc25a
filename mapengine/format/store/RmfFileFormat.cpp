// Decoding of the fixed parts of a map file: header checks, annotation texts,
// the index sample table, the framing and inflation of tile records and the
// layout of a record's tables. Every read goes through the library's
// little-endian helpers after its offset has been checked against the bytes
// at hand.
#include "mapengine/format/store/RmfFileFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "mapengine/format/RmfInternal.h"

namespace rmf {
namespace {

using detail::LoadI32;
using detail::LoadU16;
using detail::LoadU32;

TiRect LoadRect(const std::uint8_t* p) {
  return TiRect{LoadI32(p), LoadI32(p + 4), LoadI32(p + 8), LoadI32(p + 12)};
}

void ClearHeader(RmfFileHeader* header) {
  *header = RmfFileHeader{};
  header->minLevel = kDetailLevels;
  header->maxLevel = 1;
}

// ---- annotation helpers ----

void* HeapAllocate(const RmfHeapHooks& heap, std::size_t bytes) {
  if (heap.allocate != nullptr) return heap.allocate(heap.context, bytes);
  return std::malloc(bytes);
}

void HeapRelease(const RmfHeapHooks& heap, void* block) {
  if (block == nullptr) return;
  if (heap.release != nullptr) {
    heap.release(heap.context, block);
    return;
  }
  std::free(block);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number the way the file's writer meant it: leading blanks
// skipped, digits until the first non-digit. Saturates at `limit + 1` so that
// long digit strings stay defined; `*digits` tells whether any digit was seen.
std::uint32_t ReadDecimal(const char*& p, const char* end, std::uint32_t limit, bool* digits) {
  std::uint32_t value = 0;
  *digits = false;
  while (p < end && IsDigit(*p)) {
    *digits = true;
    if (value <= limit) value = value * 10 + static_cast<std::uint32_t>(*p - '0');
    if (value > limit) value = limit + 1;
    ++p;
  }
  return value;
}

void SkipBlanks(const char*& p, const char* end) {
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
}

void ParseUdmVersion(const char* value, const char* end, RmfAnnotations* out) {
  const char* p = value;
  SkipBlanks(p, end);
  bool digits = false;
  std::uint32_t major = ReadDecimal(p, end, 0xffff, &digits);
  std::uint32_t minor = 0;
  if (p < end && *p == '.') {
    ++p;
    minor = ReadDecimal(p, end, 0xffff, &digits);
  }
  // Out-of-range numbers are held at the largest u16 rather than wrapped.
  out->udmVersionMajor = static_cast<std::uint16_t>(major > 0xffff ? 0xffff : major);
  out->udmVersionMinor = static_cast<std::uint16_t>(minor > 0xffff ? 0xffff : minor);
}

// One item of the vehicle list between commas. Items without a digit name no
// vehicle type and are skipped (kind 0); a number with a minus sign that is
// not zero is negative (kind -1).
struct VehicleItem {
  int kind;  // 1 number, 0 nothing, -1 negative
  std::uint32_t number;  // saturated at kMaxVehicleType + 1
};

VehicleItem ReadVehicleItem(const char*& p, const char* end) {
  SkipBlanks(p, end);
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
  }
  bool digits = false;
  std::uint32_t number = ReadDecimal(p, end, kMaxVehicleType, &digits);
  while (p < end && *p != ',') ++p;  // text after the digits is ignored
  if (p < end) ++p;                  // the comma
  if (!digits) return {0, 0};
  if (negative && number != 0) return {-1, 0};
  return {1, number};
}

// Checks a vehicle list and finds its highest number. Returns kRmfFileAccepted
// or kRmfMalformed (a negative number, or one beyond the vehicle table).
int ScanVehicleList(const char* value, const char* end, bool* any, std::uint32_t* highest) {
  *any = false;
  *highest = 0;
  const char* p = value;
  while (p < end) {
    VehicleItem item = ReadVehicleItem(p, end);
    if (item.kind < 0) return kRmfMalformed;
    if (item.kind == 0) continue;
    if (item.number > kMaxVehicleType) return kRmfMalformed;
    *any = true;
    if (item.number > *highest) *highest = item.number;
  }
  return kRmfFileAccepted;
}

int ParseVehicleList(const char* value, const char* end, RmfAnnotations* out) {
  bool any = false;
  std::uint32_t highest = 0;
  int result = ScanVehicleList(value, end, &any, &highest);
  if (result != kRmfFileAccepted) return result;

  // A later list replaces an earlier one.
  HeapRelease(out->heap, out->vehicleTypes);
  out->vehicleTypes = nullptr;
  out->vehicleTypeCount = 0;
  if (!any) return kRmfFileAccepted;

  std::uint32_t entries = highest + 1;
  auto* table = static_cast<std::uint8_t*>(HeapAllocate(out->heap, entries));
  if (table == nullptr) return kRmfNoMemory;
  std::memset(table, 0, entries);
  const char* p = value;
  while (p < end) {
    VehicleItem item = ReadVehicleItem(p, end);
    if (item.kind > 0) table[item.number] = 1;
  }
  out->vehicleTypes = table;
  out->vehicleTypeCount = entries;
  return kRmfFileAccepted;
}

// Keys are told apart by their first five characters only, so a text whose
// first five characters match one of these is that key whatever follows.
constexpr std::size_t kKeyChars = 5;

bool KeyIs(const char* text, std::size_t length, const char* key) {
  return length >= kKeyChars && std::memcmp(text, key, kKeyChars) == 0;
}

// One text of the block, [text, text + length), NUL excluded.
int ParseText(const char* text, std::size_t length, RmfAnnotations* out) {
  const char* end = text + length;
  const char* colon = static_cast<const char*>(std::memchr(text, ':', length));
  if (colon == nullptr) return kRmfFileAccepted;
  const char* value = colon + 1;
  if (value < end && *value == ' ') ++value;  // one space only

  if (KeyIs(text, length, "FILENAME")) {
    out->fileName = value;
  } else if (KeyIs(text, length, "RMF Compile")) {
    out->rmfCompile = value;
  } else if (KeyIs(text, length, "ENCODING")) {
    out->encoding = value;
  } else if (KeyIs(text, length, "Default Language")) {
    out->defaultLanguage = value;
  } else if (KeyIs(text, length, "UDM Version")) {
    out->hasDataModelAnnotations = 1;
    ParseUdmVersion(value, end, out);
  } else if (KeyIs(text, length, "Vehicle Types List")) {
    out->hasDataModelAnnotations = 1;
    return ParseVehicleList(value, end, out);
  }
  return kRmfFileAccepted;
}

// ---- sample table helpers ----

struct EntryArray {
  const RmfIndexEntry* entries;
  std::uint32_t count;
};

bool LoadFromArray(void* context, std::uint32_t position, RmfIndexEntry* entry) {
  const auto* array = static_cast<const EntryArray*>(context);
  if (position >= array->count) return false;
  *entry = array->entries[position];
  return true;
}

// ---- record helpers ----

// The bytes of an uncompressed record that may be read: up to its length word
// and never past what is at hand.
std::size_t RecordExtent(const std::uint8_t* record, std::size_t count) {
  if (record == nullptr || count < 2) return 0;
  std::size_t length = LoadU16(record);
  return length < count ? length : count;
}

}  // namespace

// ---- file header ----------------------------------------------------------------

void LevelRangeOfMasks(const std::uint16_t masks[kDetailLevels], std::int32_t* minLevel,
                       std::int32_t* maxLevel) {
  std::int32_t low = kDetailLevels;
  std::int32_t high = 1;
  for (int d = 1; d <= kDetailLevels; ++d) {
    if (masks[d - 1] == 0) continue;
    if (d < low) low = d;
    if (d > high) high = d;
  }
  *minLevel = low;
  *maxLevel = high;
}

int DecodeFileHeader(const std::uint8_t* bytes, std::size_t count, RmfFileHeader* header) {
  if (header == nullptr) return kRmfBadArgument;
  ClearHeader(header);
  if (bytes == nullptr || count == 0) return kRmfCannotOpen;
  if (count < kMinHeaderBytes) return kRmfFileTooShort;

  // Checked in 64 bits: an index whose end wraps past 4 GB does not match.
  std::uint32_t indexOffset = LoadU32(bytes + 28);
  std::uint32_t indexCount = LoadU32(bytes + 32);
  std::uint32_t offsetTableOffset = LoadU32(bytes + 36);
  if (indexOffset == 0 && indexCount == 0 && offsetTableOffset == 0) return kRmfHeaderRejected;
  // The index entry is 12 bytes whatever flags bit 0 says (that bit sizes
  // the feature tables inside records, not the index).
  std::uint64_t indexEnd = std::uint64_t{indexOffset} + std::uint64_t{kIndexEntryBytes} * indexCount;
  if (indexEnd != offsetTableOffset) return kRmfHeaderRejected;

  RmfFileHeader& h = *header;
  h.version = bytes[0];
  h.versionMajor = static_cast<std::uint8_t>(bytes[0] >> 4);
  h.versionMinor = static_cast<std::uint8_t>(bytes[0] & 0x0f);
  h.headerWord4 = LoadU16(bytes + 4);
  h.headerByte6 = bytes[6];
  h.flags = bytes[7];
  h.box = LoadRect(bytes + 8);
  h.annotationOffset = LoadU16(bytes + 24);
  h.annotationLength = LoadU16(bytes + 26);
  h.indexOffset = indexOffset;
  h.indexCount = indexCount;
  h.offsetTableOffset = offsetTableOffset;
  h.offsetTableLast = LoadU32(bytes + 40);
  h.headerWord44 = LoadU16(bytes + 44);
  for (int i = 0; i < kDetailLevels; ++i) h.levelMasks[i] = LoadU16(bytes + 46 + 2 * i);

  // A version-0 header ends at offset 61; the bytes after it are not ours.
  if (h.version != 0) {
    h.hasRegionBlocks = 1;
    h.regionBox = LoadRect(bytes + 62);
    for (int c = 0; c < kFeatureCategories; ++c) {
      h.classPresence[c] = LoadU32(bytes + 78 + 4 * c);
      std::memcpy(h.classLevels[c], bytes + 94 + kDetailLevels * c, kDetailLevels);
    }
  }

  LevelRangeOfMasks(h.levelMasks, &h.minLevel, &h.maxLevel);
  h.featureEntrySize = (h.flags & kHeaderFlagWideEntries) != 0 ? 12 : 10;
  h.recordsCompressed = (h.flags & kHeaderFlagCompressed) != 0 ? 1 : 0;
  return kRmfFileAccepted;
}

// ---- annotation block ---------------------------------------------------------

int DecodeAnnotations(const std::uint8_t* bytes, std::size_t count, RmfAnnotations* annotations,
                      const RmfHeapHooks* heap) {
  if (annotations == nullptr) return kRmfBadArgument;
  *annotations = RmfAnnotations{};
  if (heap != nullptr) annotations->heap = *heap;
  if (count == 0) return kRmfFileAccepted;
  if (bytes == nullptr) return kRmfBadArgument;
  // The block's length field is 16 bits; anything beyond is not annotation.
  if (count > 0xffff) count = 0xffff;

  // A private copy with a closing NUL: the values point into it, and a last
  // text cut short by the end of the file still ends.
  auto* block = static_cast<char*>(HeapAllocate(annotations->heap, count + 1));
  if (block == nullptr) return kRmfNoMemory;
  std::memcpy(block, bytes, count);
  block[count] = '\0';
  annotations->block = block;
  annotations->blockLength = static_cast<std::uint32_t>(count);

  const char* p = block;
  const char* end = block + count;
  while (p < end) {
    const char* nul = static_cast<const char*>(std::memchr(p, '\0', static_cast<std::size_t>(end - p)));
    const char* textEnd = nul != nullptr ? nul : end;
    int result = ParseText(p, static_cast<std::size_t>(textEnd - p), annotations);
    if (result != kRmfFileAccepted) {
      FreeAnnotations(annotations);
      return result;
    }
    p = textEnd + 1;
  }
  return kRmfFileAccepted;
}

void FreeAnnotations(RmfAnnotations* annotations) {
  if (annotations == nullptr) return;
  RmfHeapHooks heap = annotations->heap;
  HeapRelease(heap, annotations->vehicleTypes);
  HeapRelease(heap, annotations->block);
  *annotations = RmfAnnotations{};
  annotations->heap = heap;
}

// ---- tile index and sample table ------------------------------------------------

bool ReadIndexEntry(const std::uint8_t* bytes, std::size_t count, std::size_t i, RmfIndexEntry* entry) {
  if (entry == nullptr) return false;
  *entry = RmfIndexEntry{};
  if (bytes == nullptr || i >= count / kIndexEntryBytes) return false;
  const std::uint8_t* p = bytes + i * kIndexEntryBytes;
  *entry = RmfIndexEntry{LoadU32(p), LoadU32(p + 4), LoadU32(p + 8)};
  return true;
}

void SampleTableShape(std::uint32_t entryCount, std::int32_t* step, std::int32_t* count) {
  std::uint32_t s = entryCount / kMaxSampleGroups + 1;
  if (s < 100) s = 100;
  // Rounded-up division in 64 bits: step + N - 1 overflows 32 bits near 2^32.
  std::uint64_t groups = (std::uint64_t{entryCount} + s - 1) / s;
  if (groups < 1) groups = 1;
  *step = static_cast<std::int32_t>(s);
  *count = static_cast<std::int32_t>(groups);
}

int BuildSampleTable(std::uint32_t entryCount, RmfIndexEntryLoader load, void* context,
                     RmfSampleTable* table) {
  if (table == nullptr || load == nullptr) return kRmfBadArgument;
  *table = RmfSampleTable{};
  if (entryCount == 0) return kRmfCannotOpen;

  RmfSampleTable t{};
  SampleTableShape(entryCount, &t.step, &t.count);
  std::uint32_t step = static_cast<std::uint32_t>(t.step);
  RmfIndexEntry entry{};
  for (std::int32_t k = 0; k < t.count; ++k) {
    // k x step < N here, since count = ceil(N / step).
    std::uint32_t start = static_cast<std::uint32_t>(k) * step;
    if (!load(context, start, &entry)) return kRmfCannotOpen;
    t.firsts[k] = entry.firstId;
    if (k > 0) {
      if (!load(context, start - 1, &entry)) return kRmfCannotOpen;
      t.lasts[k - 1] = entry.lastId;
    }
  }
  if (!load(context, entryCount - 1, &entry)) return kRmfCannotOpen;
  t.lasts[t.count - 1] = entry.lastId;
  *table = t;
  return 0;
}

int BuildSampleTable(const RmfIndexEntry* entries, std::uint32_t entryCount, RmfSampleTable* table) {
  if (entries == nullptr && entryCount != 0) return kRmfBadArgument;
  EntryArray array{entries, entryCount};
  return BuildSampleTable(entryCount, &LoadFromArray, &array, table);
}

// ---- tile records ---------------------------------------------------------------

RmfRecordStatus FrameRecord(const std::uint8_t* window, std::size_t count, bool compressed,
                            RmfRecordFrame* frame) {
  if (frame == nullptr) return RmfRecordStatus::kBadArgument;
  *frame = RmfRecordFrame{};
  if (window == nullptr && count != 0) return RmfRecordStatus::kBadArgument;
  // Without a length word, or with one that is 0 or runs past the bytes at
  // hand, there is no way to step on: the caller ends the tile here.
  if (count < 2) return RmfRecordStatus::kReadError;
  std::uint32_t stored = LoadU16(window);
  if (stored == 0 || stored > count) return RmfRecordStatus::kReadError;

  frame->compressed = compressed ? 1 : 0;
  frame->storedLength = stored;
  if (!compressed) {
    frame->rawLength = stored;
    frame->bytes = window;
    frame->byteCount = stored;
    return stored < 3 ? RmfRecordStatus::kEmpty : RmfRecordStatus::kOk;
  }

  // The raw-length word lies inside the record only from a stored length of 4.
  if (stored < 4) return RmfRecordStatus::kUnreadable;
  frame->rawLength = LoadU16(window + 2);
  frame->bytes = window + 4;
  frame->byteCount = stored - 4;
  if (frame->rawLength < 2) return RmfRecordStatus::kUnreadable;
  if (frame->rawLength < 3) return RmfRecordStatus::kEmpty;
  return RmfRecordStatus::kOk;
}

RmfRecordStatus InflateRecord(const std::uint8_t* zlibData, std::size_t zlibCount,
                              std::uint32_t rawLength, std::uint8_t* dest, std::size_t capacity) {
  if (dest == nullptr || capacity < rawLength) return RmfRecordStatus::kBadArgument;
  if (rawLength < 2) return RmfRecordStatus::kUnreadable;
  if (zlibData == nullptr && zlibCount != 0) return RmfRecordStatus::kBadArgument;

  // zlib is told exactly rawLength - 2 bytes of room: a stream that would give
  // more stops with an error instead of writing on.
  uLongf produced = rawLength - 2;
  // zlib wants a readable pointer even for no input.
  static const Bytef kNoInput = 0;
  const Bytef* source = zlibData != nullptr ? zlibData : &kNoInput;
  int z = uncompress(dest + 2, &produced, source, static_cast<uLong>(zlibCount));
  if (z != Z_OK || produced != rawLength - 2) return RmfRecordStatus::kUnreadable;
  dest[0] = static_cast<std::uint8_t>(rawLength & 0xff);
  dest[1] = static_cast<std::uint8_t>(rawLength >> 8);
  return RmfRecordStatus::kOk;
}

RmfRecordStatus UnpackRecord(const RmfRecordFrame& frame, std::uint8_t* dest, std::size_t capacity) {
  if (frame.storedLength == 0 || frame.bytes == nullptr) return RmfRecordStatus::kUnreadable;
  if (frame.compressed != 0) {
    if (frame.rawLength < 2) return RmfRecordStatus::kUnreadable;
    if (frame.rawLength < 3) return RmfRecordStatus::kEmpty;
    return InflateRecord(frame.bytes, frame.byteCount, frame.rawLength, dest, capacity);
  }
  if (frame.rawLength < 3) return RmfRecordStatus::kEmpty;
  if (dest == nullptr || capacity < frame.rawLength) return RmfRecordStatus::kBadArgument;
  if (frame.byteCount < frame.rawLength) return RmfRecordStatus::kUnreadable;
  std::memcpy(dest, frame.bytes, frame.rawLength);
  return RmfRecordStatus::kOk;
}

bool DecodeRecordHeader(const std::uint8_t* record, std::size_t count, RmfRecordHeader* header) {
  if (header == nullptr) return false;
  *header = RmfRecordHeader{};
  if (RecordExtent(record, count) < kRecordHeaderBytes) return false;

  RmfRecordHeader& h = *header;
  h.length = LoadU16(record);
  h.byte2 = record[2];
  h.flags = record[3];
  // Point-base words are u32 in the file; map units share their bit pattern.
  h.pointBase = TiPoint{LoadI32(record + 4), LoadI32(record + 8)};
  h.box = LoadRect(record + 12);
  for (int i = 0; i < kRecordTableWords; ++i) h.tableWords[i] = LoadU16(record + 28 + 2 * i);
  // The point width is bit 0 of the flags byte; byte 27 is the top byte of
  // the box's maximum latitude and says nothing about points.
  h.widePoints = (h.flags & kRecordFlagWidePoints) != 0 ? 1 : 0;
  h.moreFollows = (h.flags & kRecordFlagMore) != 0 ? 1 : 0;
  return true;
}

std::uint8_t RecordFlags(const std::uint8_t* record, std::size_t count) {
  if (RecordExtent(record, count) < 4) return 0;
  return record[3];
}

namespace {

// Leading items of `size` bytes from `table` on that lie wholly within `length` bytes.
std::uint32_t ItemsInside(std::uint32_t table, std::uint32_t count, std::uint32_t size, std::uint32_t length) {
  if (table > length) return 0;
  if (size == 0) return count;
  return std::min(count, (length - table) / size);
}

}  // namespace

bool LocateRecordTables(const RmfRecordHeader& header, std::uint32_t length, std::uint32_t entrySize,
                        RmfRecordTables* tables) {
  RmfRecordTables t{};
  t.pointTable = header.tableWords[0];
  t.pointCount = header.tableWords[1];
  t.pointSize = header.widePoints != 0 ? 8 : 4;
  t.partTable = header.tableWords[2];
  t.partCount = header.tableWords[3];
  t.entrySize = entrySize;
  t.textBase = header.tableWords[4];
  t.wordBase = header.tableWords[7];
  t.pointsInside = ItemsInside(t.pointTable, t.pointCount, t.pointSize, length);
  t.partsInside = ItemsInside(t.partTable, t.partCount, entrySize, length);
  if (tables != nullptr) *tables = t;
  // Table words are 16-bit, so the ends below cannot overflow 64 bits.
  const std::uint64_t pointsEnd = std::uint64_t{t.pointTable} + std::uint64_t{t.pointCount} * t.pointSize;
  const std::uint64_t partsEnd = std::uint64_t{t.partTable} + std::uint64_t{t.partCount} * entrySize;
  return entrySize >= kMinPartEntryBytes && pointsEnd <= length && partsEnd <= length && t.textBase <= length &&
         t.wordBase <= length;
}

}  // namespace rmf
