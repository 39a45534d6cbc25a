// The map-file builder: writes map files (*.rmf) from a description held in
// memory, byte for byte the same for the same description. Tests build their
// map fixtures with it at run time; the `rmfbuild` command wraps it.
//
// A file as written here:
//   0      the 126-byte header (the fields from 62 only for a version other
//          than 0, or when they are given explicitly)
//   126    the annotation block: NUL-terminated texts "key: value"
//   then   the tile index (4-aligned): runs of consecutive tile ids of one
//          level, sorted, 12 bytes each (first id, last id, position of the
//          run's first tile in the offset table)
//   then   the tile offset table right behind the index: one u32 file offset
//          per tile in ascending id order plus the end of the data, so tile k
//          spans [entry k, entry k + 1) and an empty tile has equal entries
//   then   the tile data, back to back in ascending tile-id order; each tile
//          its records, plain (u16 length, data) or compressed (u16 stored
//          length, u16 raw length, zlib data of the record after its length
//          word)
//
// A structured record is laid out as:
//   0      58-byte record header (offsets in kRec* below)
//   60     point table (4-aligned): 4-byte points (u16 dx, u16 dy from the
//          record's base) or, with bit 0 of the flags byte, 8-byte points
//          (i32 x, i32 y)
//   then   feature table (4-aligned): one entry per part, 10 or 12 bytes by
//          the file's flags: u32 class bits, u16 text offset (from the text
//          base), u16 offset of the part's vertex words (in words, from the
//          word base), u16 word count, and in 12-byte entries a spare u16
//   then   vertex words of all parts, back to back in part order: bit 15
//          clear = point index, bit 15 set = text offset of an attribute
//          triple (so attribute triples must lie in the first 32 KB of the
//          text area)
//   then   text area: the triples (code, name, detail; three NUL-terminated
//          strings) in the order parts and their words name them: a part's
//          own triple, then the triples of its attribute words
// The builder sets the length word, bit 1 of the flags byte (another record
// of the same tile follows) on every record but a tile's last, the point
// width bit, the table offsets and counts, and the record's box.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/base/TiTypes.h"

namespace rmfbuild {

// ---- where every field lies (for tests that damage files on purpose) ---------

// File header, offsets from the start of the file.
inline constexpr std::size_t kHdrVersion = 0;            // u8: major << 4 | minor
inline constexpr std::size_t kHdrWord4 = 4;              // u16, not interpreted
inline constexpr std::size_t kHdrByte6 = 6;              // u8, not interpreted
inline constexpr std::size_t kHdrFlags = 7;              // u8: bit 0 wide entries, bit 2 compressed
inline constexpr std::size_t kHdrBox = 8;                // 4 x i32
inline constexpr std::size_t kHdrAnnotationOffset = 24;  // u16
inline constexpr std::size_t kHdrAnnotationLength = 26;  // u16
inline constexpr std::size_t kHdrIndexOffset = 28;       // u32
inline constexpr std::size_t kHdrIndexCount = 32;        // u32
inline constexpr std::size_t kHdrOffsetTableOffset = 36;  // u32, = index offset + 12 x count
inline constexpr std::size_t kHdrOffsetTableLast = 40;   // u32, last entry index
inline constexpr std::size_t kHdrWord44 = 44;            // u16, not interpreted
inline constexpr std::size_t kHdrLevelMasks = 46;        // 8 x u16, word d - 1 for detail level d
inline constexpr std::size_t kHdrRegionBox = 62;         // 4 x i32
inline constexpr std::size_t kHdrClassPresence = 78;     // 4 x u32
inline constexpr std::size_t kHdrClassLevels = 94;       // 4 x 8 bytes
inline constexpr std::size_t kHeaderBytes = 126;

inline constexpr std::uint8_t kFlagWideEntries = 0x01;
inline constexpr std::uint8_t kFlagCompressed = 0x04;

// Record header, offsets from the start of the uncompressed record.
inline constexpr std::size_t kRecLength = 0;       // u16, the whole record
inline constexpr std::size_t kRecByte2 = 2;        // u8, not interpreted
inline constexpr std::size_t kRecFlags = 3;        // u8: bit 0 wide points, bit 1 more records
inline constexpr std::size_t kRecBaseX = 4;        // i32
inline constexpr std::size_t kRecBaseY = 8;        // i32
inline constexpr std::size_t kRecBox = 12;         // 4 x i32
inline constexpr std::size_t kRecPointTable = 28;  // u16
inline constexpr std::size_t kRecPointCount = 30;  // u16
inline constexpr std::size_t kRecEntryTable = 32;  // u16
inline constexpr std::size_t kRecEntryCount = 34;  // u16
inline constexpr std::size_t kRecTextBase = 36;    // u16
inline constexpr std::size_t kRecWordBase = 42;    // u16
inline constexpr std::size_t kRecHeaderBytes = 58;
inline constexpr int kRecTableWords = 15;          // u16 words at 28, 30, .. 56

// Whether table word i (at offset 28 + 2 i) is one the builder leaves to the
// description: 38, 40 and 44..56.
constexpr bool IsSpareTableWord(int i) { return i == 5 || i == 6 || (i >= 8 && i < kRecTableWords); }

inline constexpr std::uint8_t kRecFlagWidePoints = 0x01;
inline constexpr std::uint8_t kRecFlagMore = 0x02;

// Feature-table entry, offsets from the start of the entry.
inline constexpr std::size_t kEntClassBits = 0;   // u32
inline constexpr std::size_t kEntTextOffset = 4;  // u16
inline constexpr std::size_t kEntWordOffset = 6;  // u16, in words
inline constexpr std::size_t kEntWordCount = 8;   // u16
inline constexpr std::size_t kEntSpare = 10;      // u16, 12-byte entries only

inline constexpr std::uint16_t kAttributeWordBit = 0x8000;

// Widths of the three texts of a triple that readers keep room for.
inline constexpr std::size_t kMaxCodeChars = 5;
inline constexpr std::size_t kMaxNameChars = 50;
inline constexpr std::size_t kMaxDetailChars = 250;

// zlib level of compressed records; fixed so that output is reproducible.
inline constexpr int kCompressionLevel = 9;

// ---- the description ---------------------------------------------------------

// Three texts stored together: a classification code ("LCx" with the detail
// level digit L 1..8, the class digit C 1..7 and the category x "0" point,
// "1" line, "2" area or "B" boundary line; areas add "+" or "-"), a name and
// a detail text.
struct TextTriple {
  std::string code;
  std::string name;
  std::string detail;
  bool operator==(const TextTriple&) const = default;
};

// One word of a part's vertex-word list.
struct VertexWord {
  enum class Kind { kPoint, kAttribute, kRaw };
  Kind kind = Kind::kPoint;
  std::uint16_t value = 0;  // point index (kPoint) or the word as written (kRaw)
  TextTriple triple;        // kAttribute: stored in the text area, the word names it

  static VertexWord Point(std::uint16_t index) { return {Kind::kPoint, index, {}}; }
  static VertexWord Attribute(TextTriple t) { return {Kind::kAttribute, 0, std::move(t)}; }
  static VertexWord Raw(std::uint16_t word) { return {Kind::kRaw, word, {}}; }
  bool operator==(const VertexWord&) const = default;
};

// One feature-table entry with its texts and words.
struct Part {
  TextTriple text;                       // the part's own triple
  std::optional<std::uint32_t> classBits;  // default: ClassBitsOfCode(text.code)
  std::vector<VertexWord> words;
  std::uint16_t spare = 0;               // bytes 10..11 of a 12-byte entry
};

// One record of a tile.
struct Record {
  enum class Kind {
    kStructured,  // laid out by the builder from the fields below
    kRaw,         // `bytes` is the uncompressed record, length word included, taken as is
    kStored,      // `bytes` go into the tile data verbatim (no framing, no compression)
  };
  Kind kind = Kind::kStructured;

  // Structured records.
  bool widePoints = false;        // 8-byte points instead of 4-byte ones
  std::uint8_t byte2 = 0;
  std::uint8_t extraFlags = 0;    // bits of byte 3 beyond the builder's bits 0 and 1
  std::optional<TiPoint> base;    // default: the least x and least y of the points
  std::optional<TiRect> box;      // default: the points' box (the tile's rectangle without points)
  // Words at 28 + 2 i that the builder does not fill itself (38, 40 and
  // 44..56); the entries of the words it fills are ignored.
  std::array<std::uint16_t, kRecTableWords> spareWords{};
  std::vector<TiPoint> points;
  std::vector<Part> parts;

  // Raw and stored records.
  std::vector<std::uint8_t> bytes;
  bool setMoreBit = false;  // raw: set or clear bit 1 of byte 3 like a structured record

  static Record Raw(std::vector<std::uint8_t> b, bool setMore = false) {
    Record r;
    r.kind = Kind::kRaw;
    r.bytes = std::move(b);
    r.setMoreBit = setMore;
    return r;
  }
  static Record Stored(std::vector<std::uint8_t> b) {
    Record r;
    r.kind = Kind::kStored;
    r.bytes = std::move(b);
    return r;
  }
};

// Where a tile is: the level's tile whose cell holds the point.
struct TilePlace {
  std::uint32_t level = 0;
  TiPoint point{};
};

struct Tile {
  std::uint32_t id = 0;          // used when `place` is empty; any value is written as given
  std::optional<TilePlace> place;
  std::vector<Record> records;   // none: the tile is in the index but has no data

  static Tile WithId(std::uint32_t tileId) {
    Tile t;
    t.id = tileId;
    return t;
  }
  static Tile At(std::uint32_t level, TiPoint point) {
    Tile t;
    t.place = TilePlace{level, point};
    return t;
  }
};

// Categories of the class summary, in file order.
enum ClassCategory { kPoints = 0, kLines = 1, kAreas = 2, kBoundaries = 3 };

struct ClassSummary {
  std::array<std::uint32_t, 4> presence{};                // non-zero: the category's table is valid
  std::array<std::array<std::uint8_t, 8>, 4> levels{};    // byte d - 1: level bits of class d
};

struct MapDescription {
  std::uint8_t version = 0x11;  // high nibble major, low nibble minor
  std::uint16_t word4 = 0;
  std::uint8_t byte6 = 0;
  std::uint16_t word44 = 0;
  bool wideEntries = false;     // feature-table entries of 12 bytes instead of 10
  bool compressed = false;      // zlib-compressed records
  std::uint8_t extraFlags = 0;  // further bits of the flags byte, written as given

  // Derived from the content when empty:
  //  box         the union of the structured records' boxes (else of the
  //              tiles' rectangles, else 0)
  //  levelMasks  word d - 1 gets bit L for every tile of level L holding a
  //              part whose class bits or texts name detail level d
  //  regionBox   the box
  //  classes     from the codes of every triple of the structured records
  std::optional<TiRect> box;
  std::optional<std::array<std::uint16_t, 8>> levelMasks;
  std::optional<TiRect> regionBox;
  std::optional<ClassSummary> classes;

  std::vector<std::string> annotations;  // each written NUL-terminated
  std::vector<Tile> tiles;               // any order; ids must differ

  bool runPerTile = false;   // one index entry per tile instead of runs of consecutive ids
  bool checkTexts = true;    // refuse texts wider than readers keep room for

  void Annotate(const std::string& key, const std::string& value) {
    annotations.push_back(key + ": " + value);
  }
};

// ---- the result --------------------------------------------------------------

struct TilePlacement {
  std::uint32_t id = 0;
  std::uint32_t position = 0;  // entry in the offset table
  std::uint32_t begin = 0;     // file offsets of its data, end exclusive
  std::uint32_t end = 0;
};

struct RecordPlacement {
  std::uint32_t tileId = 0;
  std::uint16_t sequence = 0;
  std::uint32_t offset = 0;        // file offset of the stored record
  std::uint32_t storedLength = 0;  // bytes it takes in the tile data
  Record::Kind kind = Record::Kind::kStructured;
  std::vector<std::uint8_t> record;  // its uncompressed form (empty for stored bytes)
};

struct IndexRun {
  std::uint32_t firstId = 0;
  std::uint32_t lastId = 0;
  std::uint32_t position = 0;
};

struct FileLayout {
  std::uint32_t annotationOffset = 0;
  std::uint32_t annotationLength = 0;
  std::uint32_t indexOffset = 0;
  std::uint32_t offsetTableOffset = 0;
  std::uint32_t dataOffset = 0;
  std::vector<IndexRun> runs;
  std::vector<TilePlacement> tiles;      // ascending ids
  std::vector<RecordPlacement> records;  // file order
};

struct BuildResult {
  bool ok = false;
  std::string error;                 // why the description was refused
  std::vector<std::uint8_t> bytes;   // the file
  FileLayout layout;
  explicit operator bool() const { return ok; }
};

// ---- operations --------------------------------------------------------------

// The file for a description, or a refusal when it would break the format's
// limits (a record over 65,535 bytes, an offset beyond 32 bits, ...) or is
// inconsistent (duplicate tile ids, point indexes out of range, ...).
BuildResult Build(const MapDescription& description);

// Builds and writes the file; on a refusal or a write failure no file is
// left behind and `error` (optional) says why.
bool WriteFile(const MapDescription& description, const std::string& path,
               std::string* error = nullptr);

// The uncompressed bytes of one structured record (or a raw one, with its
// more bit handled), as Build writes it for a tile of id `tileId`.
std::optional<std::vector<std::uint8_t>> EncodeRecord(const Record& record, bool wideEntries,
                                                      bool more, std::uint32_t tileId,
                                                      bool checkTexts = true,
                                                      std::string* error = nullptr);

// Class bits of a code: bit d - 1 for detail level d, and for class c bit
// 8 + c - 1 (points, lines, boundary lines) or bits 16 + c - 1 and 24 + c - 1
// (areas, both sides of the ring). Empty when the code does not start with a
// level digit, a class digit and a category.
std::optional<std::uint32_t> ClassBitsOfCode(const std::string& code);

// The tile id a tile of the description gets (its place resolved); 0xFFFFFFFF
// for a place whose level is above 15.
std::uint32_t TileIdOf(const Tile& tile);

// Little-endian stores and loads for tests that patch or read files.
void PutU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);
void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);
std::uint16_t GetU16(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::uint32_t GetU32(const std::vector<std::uint8_t>& bytes, std::size_t at);

// ---- synthetic maps ----------------------------------------------------------

struct GridOptions {
  bool compressed = false;
  bool wideEntries = false;
  bool runPerTile = false;  // one index entry per tile (many entries for index tests)
};

// A map of `tileCount` neighbouring tiles of one level (a block of cells as
// square as the level's grid allows, placed by the seed; fewer tiles when the
// level has fewer cells), each with `recordsPerTile` structured records of
// random points, lines, areas and boundary lines inside the tile's rectangle.
// The same arguments give the same description on every platform.
MapDescription GenerateGrid(std::uint32_t level, std::uint32_t tileCount,
                            std::uint32_t recordsPerTile, std::uint32_t seed,
                            const GridOptions& options = {});

}  // namespace rmfbuild
