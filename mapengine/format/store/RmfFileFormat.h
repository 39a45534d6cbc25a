// Decoding of the fixed parts of a map file (*.rmf): the file header and its
// checks, the annotation block, the sample table over the tile index, the
// framing of the records inside a tile's data (with their inflation) and
// where a record's tables lie, which every reader of records checks. These
// are internal building blocks of the reader and the sources; they read only
// the bytes they are given, so every function is total over any byte string.
//
// All numbers in a map file are little-endian; offsets are from the start of
// the file unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"

namespace rmf {

// ---- sizes and limits ---------------------------------------------------------

inline constexpr std::uint32_t kHeaderReadBytes = 500;  // the first read of a file
inline constexpr std::uint32_t kMinHeaderBytes = 126;   // a shorter file is not added
inline constexpr std::uint32_t kIndexEntryBytes = 12;
inline constexpr int kDetailLevels = 8;           // detail levels run 1..8
inline constexpr int kFeatureCategories = 4;      // points, lines, areas, boundary lines
inline constexpr int kMaxSampleGroups = 200;
inline constexpr std::uint32_t kRecordHeaderBytes = 58;  // length word .. last table word
inline constexpr int kRecordTableWords = 15;             // u16 words at 28, 30, .. 56
inline constexpr std::uint32_t kMaxVehicleType = 65535;  // a larger number is malformed

// Results of the header and annotation decoders besides the library's codes
// (kRmfBadArgument, kRmfNoMemory, kRmfCannotOpen, kRmfHeaderRejected and
// kRmfMalformed), which the source hands on unchanged.
enum RmfFileResult : int {
  kRmfFileAccepted = 1,
  kRmfFileTooShort = 0,  // fewer than kMinHeaderBytes: the file is not added
};

// ---- file header ----------------------------------------------------------------

// Bits of the header's flags byte (offset 7).
inline constexpr std::uint8_t kHeaderFlagWideEntries = 0x01;  // feature-table entries of 12 bytes, else 10
inline constexpr std::uint8_t kHeaderFlagCompressed = 0x04;   // tile records are zlib-compressed

// The decoded header. Field order follows the file; the last group is derived.
struct RmfFileHeader {
  std::uint8_t version;         // offset 0: high nibble major, low nibble minor
  std::uint8_t versionMajor;
  std::uint8_t versionMinor;
  std::uint16_t headerWord4;    // offset 4, copied into the source uninterpreted
  std::uint8_t headerByte6;     // offset 6, copied into the source uninterpreted
  std::uint8_t flags;           // offset 7, kHeaderFlag* bits
  TiRect box;                   // offset 8: bounding box in map units
  std::uint16_t annotationOffset;  // offset 24
  std::uint16_t annotationLength;  // offset 26 (0: no annotations)
  std::uint32_t indexOffset;       // offset 28
  std::uint32_t indexCount;        // offset 32: number of 12-byte index entries
  std::uint32_t offsetTableOffset; // offset 36: always indexOffset + 12 x indexCount
  std::uint32_t offsetTableLast;   // offset 40: index of the table's last entry
  std::uint16_t headerWord44;      // offset 44, copied into the source uninterpreted
  // offset 46: word d - 1 belongs to detail level d; bit L set when that
  // detail level's data lies in tiles of tile level L.
  std::uint16_t levelMasks[kDetailLevels];

  // Present only when the version is not 0 (hasRegionBlocks); zero otherwise.
  std::uint32_t hasRegionBlocks;
  TiRect regionBox;                                     // offset 62
  std::uint32_t classPresence[kFeatureCategories];      // offset 78
  std::uint8_t classLevels[kFeatureCategories][kDetailLevels];  // offset 94

  // Derived.
  std::int32_t minLevel;  // lowest detail level with a non-zero mask, 8 when none
  std::int32_t maxLevel;  // highest detail level with a non-zero mask, 1 when none
  std::uint16_t featureEntrySize;  // 12 or 10 by flags bit 0
  std::uint32_t recordsCompressed;  // flags bit 2
};

// Decodes and checks the bytes of the first read of a file (`bytes`, `count`
// bytes; more than kHeaderReadBytes are allowed and ignored). Checks in order:
//   no bytes                                              -> kRmfCannotOpen (-4)
//   fewer than kMinHeaderBytes                            -> kRmfFileTooShort (0)
//   index offset, count and offset-table offset all 0, or
//   offset-table offset != index offset + 12 x count      -> kRmfHeaderRejected (-5)
// and kRmfFileAccepted (1) with `*header` filled. On any other result
// `*header` is cleared to an empty header (level range 8..1). A null header
// gives kRmfBadArgument (-2).
int DecodeFileHeader(const std::uint8_t* bytes, std::size_t count, RmfFileHeader* header);

// The detail-level range of 8 level masks: lowest and highest level d (1..8)
// whose word d - 1 is not 0; all zero gives 8..1.
void LevelRangeOfMasks(const std::uint16_t masks[kDetailLevels], std::int32_t* minLevel,
                       std::int32_t* maxLevel);

// ---- annotation block ---------------------------------------------------------

// How the annotation decoder gets and gives back memory. Null functions (or a
// null pointer to this record) mean the C heap.
struct RmfHeapHooks {
  void* (*allocate)(void* context, std::size_t bytes);
  void (*release)(void* context, void* block);
  void* context;
};

// The decoded annotation block. A zeroed record is a valid empty one. The
// record owns `block` and `vehicleTypes`; FreeAnnotations gives them back.
// (An internal record: its size is not part of any fixed layout.)
struct RmfAnnotations {
  char* block;                // copy of the bytes read plus a closing NUL, or null
  std::uint32_t blockLength;  // bytes copied (without the closing NUL)
  // Values by key, pointing into `block`, NUL-terminated; null when absent.
  const char* fileName;         // "FILENAME"
  const char* rmfCompile;       // "RMF Compile"
  const char* encoding;         // "ENCODING"
  const char* defaultLanguage;  // "Default Language"
  std::uint32_t hasDataModelAnnotations;  // "UDM Version" or "Vehicle Types List" present
  std::uint16_t udmVersionMajor;
  std::uint16_t udmVersionMinor;
  std::uint8_t* vehicleTypes;     // vehicleTypes[n] == 1 when vehicle type n is present
  std::uint32_t vehicleTypeCount;  // entries of vehicleTypes: highest number + 1
  RmfHeapHooks heap;               // where block and vehicleTypes came from
};

// Decodes an annotation block from the bytes actually read (`count` may be
// shorter than the header's annotation length, and the last text may lack
// its NUL: what is there is read; bytes beyond 65,535, which the header's
// 16-bit length cannot name, are ignored). Any earlier contents of `*annotations` are
// overwritten without being freed. Results:
//   kRmfFileAccepted (1)         decoded (also for an empty block)
//   kRmfNoMemory (-3)            the copy or the vehicle-type table could not be allocated
//   kRmfMalformed (-128)         a negative vehicle number, or one above kMaxVehicleType
//   kRmfBadArgument (-2)         null output, or null bytes with a non-zero count
// On every failure the record is left empty with nothing allocated.
int DecodeAnnotations(const std::uint8_t* bytes, std::size_t count, RmfAnnotations* annotations,
                      const RmfHeapHooks* heap = nullptr);

// Gives back what the record owns and leaves it empty. Null is allowed.
void FreeAnnotations(RmfAnnotations* annotations);

// ---- tile index and sample table ------------------------------------------------

// One 12-byte entry of the tile index: a run of tile ids and where the run's
// first tile lies in the tile offset table.
struct RmfIndexEntry {
  std::uint32_t firstId;
  std::uint32_t lastId;  // inclusive
  std::uint32_t position;
};

// Entry `i` of a block of index bytes; false (entry cleared) when the block
// does not hold the whole entry.
bool ReadIndexEntry(const std::uint8_t* bytes, std::size_t count, std::size_t i, RmfIndexEntry* entry);

// Samples over the index so that a tile id is found by scanning at most
// kMaxSampleGroups samples and then one step of entries. Group k starts at
// entry k x step; firsts[k] is that entry's first id, lasts[k] the last id of
// the group's last entry (entry (k + 1) x step - 1, or N - 1 for the last).
struct RmfSampleTable {
  std::int32_t step;
  std::int32_t count;
  std::uint32_t firsts[kMaxSampleGroups];
  std::uint32_t lasts[kMaxSampleGroups];
};

// Step and group count for `entryCount` index entries: step = N / 200 + 1 but
// at least 100; count = ceil(N / step) but at least 1 (never above 200).
void SampleTableShape(std::uint32_t entryCount, std::int32_t* step, std::int32_t* count);

// Loads index entry `position` into `*entry`; false when it cannot be read.
using RmfIndexEntryLoader = bool (*)(void* context, std::uint32_t position, RmfIndexEntry* entry);

// Builds the sample table, loading only the entries it needs (k x step,
// k x step - 1, and N - 1). 0 on success; kRmfCannotOpen (-4) when an entry
// cannot be loaded or the index is empty (no entry to load), with the table
// cleared; kRmfBadArgument (-2) for a null loader or table.
int BuildSampleTable(std::uint32_t entryCount, RmfIndexEntryLoader load, void* context,
                     RmfSampleTable* table);

// The same over an array of all `entryCount` entries.
int BuildSampleTable(const RmfIndexEntry* entries, std::uint32_t entryCount, RmfSampleTable* table);

// ---- tile records ---------------------------------------------------------------

// Bits of a record's flags byte (byte 3 of its uncompressed form).
inline constexpr std::uint8_t kRecordFlagWidePoints = 0x01;  // points are 8 bytes (x, y as u32)
inline constexpr std::uint8_t kRecordFlagMore = 0x02;        // another record of the tile follows

enum class RmfRecordStatus : int {
  kOk = 0,           // a record to use (inflate it first when compressed)
  kEmpty = 1,        // uncompressed length below 3: nothing to use; advance by storedLength
  kUnreadable = -1,  // damaged record: drop it; advance by storedLength
  kReadError = -2,   // length 0, or longer than the bytes at hand: stop the tile's walk
  kBadArgument = -3,
};

// Where the next record of a tile's data lies in a window of bytes.
struct RmfRecordFrame {
  std::uint32_t compressed;    // 1 when the bytes are zlib data
  std::uint32_t storedLength;  // bytes the record takes in the tile data (the step to the next)
  std::uint32_t rawLength;     // length of the uncompressed record, its length word included
  const std::uint8_t* bytes;   // plain: the record itself; compressed: the zlib data
  std::uint32_t byteCount;     // plain: storedLength; compressed: storedLength - 4
};

// Frames the record at the start of `window` (`count` bytes at hand).
//   plain record:      u16 length (own 2 bytes included), then length - 2 bytes
//   compressed record: u16 stored length, u16 raw length, stored length - 4
//                      bytes of zlib data that inflate to raw length - 2 bytes
// kReadError when fewer than 2 bytes are at hand, the length is 0 or exceeds
// `count` (the frame is cleared). Otherwise the frame is filled and the status
// is kOk, kEmpty (length below 3, or raw length 2), or kUnreadable (compressed
// with a stored length below 4 or a raw length below 2); the caller steps on
// by storedLength, which is then at least 1.
RmfRecordStatus FrameRecord(const std::uint8_t* window, std::size_t count, bool compressed,
                            RmfRecordFrame* frame);

// Inflates `zlibCount` bytes of zlib data into the uncompressed record: writes
// the raw-length word at dest[0..1] and the inflated bytes after it, rawLength
// bytes in all. kUnreadable when rawLength is below 2, the data is damaged or
// does not inflate to exactly rawLength - 2 bytes; kBadArgument when `dest`
// is null or `capacity` is below rawLength (nothing written then). Never
// writes beyond dest + rawLength.
RmfRecordStatus InflateRecord(const std::uint8_t* zlibData, std::size_t zlibCount,
                              std::uint32_t rawLength, std::uint8_t* dest, std::size_t capacity);

// The uncompressed record of a frame into `dest` (copied when plain, inflated
// when compressed). Same results as InflateRecord; kEmpty passes through
// when the frame is empty, kUnreadable for an unreadable frame.
RmfRecordStatus UnpackRecord(const RmfRecordFrame& frame, std::uint8_t* dest, std::size_t capacity);

// The fixed header at the start of every uncompressed record.
struct RmfRecordHeader {
  std::uint16_t length;    // offset 0
  std::uint8_t byte2;      // offset 2
  std::uint8_t flags;      // offset 3, kRecordFlag* bits
  TiPoint pointBase;       // offset 4: base of 4-byte points (x, y as u32 map units)
  TiRect box;              // offset 12: the record's box
  std::uint16_t tableWords[kRecordTableWords];  // offsets 28..57
  std::uint32_t widePoints;   // flags bit 0
  std::uint32_t moreFollows;  // flags bit 1
};

// Decodes the header of an uncompressed record (`count` bytes at hand). The
// record's bytes end at the lesser of `count` and its length word; false (the
// header cleared) when they end before kRecordHeaderBytes.
bool DecodeRecordHeader(const std::uint8_t* record, std::size_t count, RmfRecordHeader* header);

// Flags byte (byte 3) of an uncompressed record; 0 when the record (by its
// length word and `count`) ends before byte 3.
std::uint8_t RecordFlags(const std::uint8_t* record, std::size_t count);

// The smallest part-table entry: u32 class bits, u16 text offset, u16 word
// offset, u16 word count.
inline constexpr std::uint32_t kMinPartEntryBytes = 10;

// Where the tables of an uncompressed record lie, from its header (offsets
// from the record's start), and how much of each lies inside the record.
struct RmfRecordTables {
  std::uint32_t pointTable;    // table word 0: the point array
  std::uint32_t pointCount;    // table word 1
  std::uint32_t pointSize;     // 8 with wide points, else 4
  std::uint32_t partTable;     // table word 2: the part (feature) table
  std::uint32_t partCount;     // table word 3
  std::uint32_t entrySize;     // bytes of one part-table entry (the source's, 10 or 12)
  std::uint32_t textBase;      // table word 4: the text area
  std::uint32_t wordBase;      // table word 7: the vertex-word area
  std::uint32_t pointsInside;  // leading points that lie wholly inside the record
  std::uint32_t partsInside;   // leading part entries that lie wholly inside the record
};

// Lays out the tables of a record of `length` bytes whose header is `header`
// and whose part entries are `entrySize` bytes. True when the point array
// and the part table lie inside the record, the text and vertex-word areas
// start within it, and an entry holds at least kMinPartEntryBytes; then
// every point and every entry can be read without looking outside the
// record. `*tables` is filled either way, so a reader of damaged records can
// use the points and entries that do lie inside. What the entries and vertex
// words point at is not checked here.
bool LocateRecordTables(const RmfRecordHeader& header, std::uint32_t length, std::uint32_t entrySize,
                        RmfRecordTables* tables);

}  // namespace rmf
