// Lays out map files from a MapDescription: record encoding, the header with
// its derived fields, the annotation block, the tile index with its offset
// table and the tile data. Every size is checked against the field that has
// to hold it before anything is written, so a refusal never yields a file
// that a reader would misread.
#include "tools/rmfbuild/RmfBuilder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>

#include "mapengine/format/store/RmfTile.h"

namespace rmfbuild {
namespace {

constexpr std::size_t kPointTableStart = 60;  // the record header (58 bytes) rounded up to 4
constexpr std::uint64_t kMaxU16 = 0xffff;
constexpr std::uint64_t kMaxU32 = 0xffffffffu;

bool Fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

std::size_t AlignUp(std::size_t v, std::size_t to) { return (v + to - 1) / to * to; }

void StoreU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void StoreU32(std::uint8_t* p, std::uint32_t v) {
  StoreU16(p, static_cast<std::uint16_t>(v));
  StoreU16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

void StoreRect(std::uint8_t* p, const TiRect& r) {
  StoreU32(p, static_cast<std::uint32_t>(r.x1));
  StoreU32(p + 4, static_cast<std::uint32_t>(r.y1));
  StoreU32(p + 8, static_cast<std::uint32_t>(r.x2));
  StoreU32(p + 12, static_cast<std::uint32_t>(r.y2));
}

void Widen(TiRect* box, bool* any, const TiRect& r) {
  if (!*any) {
    *box = r;
    *any = true;
    return;
  }
  box->x1 = std::min(box->x1, r.x1);
  box->y1 = std::min(box->y1, r.y1);
  box->x2 = std::max(box->x2, r.x2);
  box->y2 = std::max(box->y2, r.y2);
}

std::optional<TiRect> TileRectOf(std::uint32_t id) {
  TiRect r{};
  if (RmfTileRect(id, &r) != 1) return std::nullopt;
  return r;
}

// Category index of a code's third character in the class summary.
int CategoryOf(char c) {
  switch (c) {
    case '0': return kPoints;
    case '1': return kLines;
    case '2': return kAreas;
    case 'B':
    case 'b': return kBoundaries;
    default: return -1;
  }
}

bool CheckText(const std::string& text, std::size_t width, bool checkWidth, const char* what,
               std::string* error) {
  if (text.find('\0') != std::string::npos) {
    return Fail(error, std::string(what) + " text holds a NUL byte");
  }
  if (checkWidth && text.size() > width) {
    return Fail(error, std::string(what) + " text \"" + text + "\" is longer than " +
                           std::to_string(width) + " characters");
  }
  return true;
}

bool CheckTriple(const TextTriple& t, bool checkWidths, std::string* error) {
  return CheckText(t.code, kMaxCodeChars, checkWidths, "code", error) &&
         CheckText(t.name, kMaxNameChars, checkWidths, "name", error) &&
         CheckText(t.detail, kMaxDetailChars, checkWidths, "detail", error);
}

// Appends a triple to the text area; returns its offset there.
std::size_t AppendTriple(std::vector<std::uint8_t>& area, const TextTriple& t) {
  std::size_t at = area.size();
  for (const std::string* s : {&t.code, &t.name, &t.detail}) {
    area.insert(area.end(), s->begin(), s->end());
    area.push_back(0);
  }
  return at;
}

std::optional<std::uint32_t> ClassBitsOfPart(const Part& part) {
  if (part.classBits) return part.classBits;
  return ClassBitsOfCode(part.text.code);
}

bool EncodeStructured(const Record& rec, bool wideEntries, bool more, std::uint32_t tileId,
                      bool checkTexts, std::vector<std::uint8_t>* out, std::string* error) {
  const std::size_t pointCount = rec.points.size();
  // Point indexes share the vertex word with the attribute bit, so a record
  // can name at most 0x8000 points.
  if (pointCount > kAttributeWordBit) {
    return Fail(error, "record has " + std::to_string(pointCount) + " points, more than 32768");
  }
  const std::size_t pointSize = rec.widePoints ? 8 : 4;
  const std::size_t entrySize = wideEntries ? 12 : 10;

  // Areas first, so that an oversized record is refused before anything is built.
  std::size_t wordCount = 0;
  for (const Part& part : rec.parts) wordCount += part.words.size();
  const std::size_t entryTable = AlignUp(kPointTableStart + pointCount * pointSize, 4);
  const std::size_t wordBase = entryTable + rec.parts.size() * entrySize;
  const std::size_t textBase = wordBase + 2 * wordCount;
  if (textBase > kMaxU16) {
    return Fail(error, "record of " + std::to_string(textBase) + "+ bytes exceeds 65535");
  }

  TiPoint base{0, 0};
  if (rec.base) {
    base = *rec.base;
  } else if (pointCount > 0) {
    base = rec.points[0];
    for (const TiPoint& p : rec.points) {
      base.x = std::min(base.x, p.x);
      base.y = std::min(base.y, p.y);
    }
  }

  TiRect box{};
  if (rec.box) {
    box = *rec.box;
  } else if (pointCount > 0) {
    bool any = false;
    for (const TiPoint& p : rec.points) Widen(&box, &any, TiRect{p.x, p.y, p.x, p.y});
  } else if (auto tileRect = TileRectOf(tileId)) {
    box = *tileRect;
  }

  // Texts and words.
  std::vector<std::uint8_t> texts;
  std::vector<std::uint16_t> words;
  words.reserve(wordCount);
  struct Entry {
    std::uint32_t classBits;
    std::size_t textOffset;
    std::size_t wordOffset;
    std::size_t wordCount;
    std::uint16_t spare;
  };
  std::vector<Entry> entries;
  entries.reserve(rec.parts.size());
  for (std::size_t i = 0; i < rec.parts.size(); ++i) {
    const Part& part = rec.parts[i];
    std::optional<std::uint32_t> bits = ClassBitsOfPart(part);
    if (!bits) {
      return Fail(error, "part " + std::to_string(i) + ": no class bits given and code \"" +
                             part.text.code + "\" names none");
    }
    if (!CheckTriple(part.text, checkTexts, error)) return false;
    Entry e{*bits, AppendTriple(texts, part.text), words.size(), part.words.size(), part.spare};
    for (const VertexWord& w : part.words) {
      switch (w.kind) {
        case VertexWord::Kind::kPoint:
          if (w.value >= pointCount) {
            return Fail(error, "part " + std::to_string(i) + ": point index " +
                                   std::to_string(w.value) + " beyond the " +
                                   std::to_string(pointCount) + " points");
          }
          words.push_back(w.value);
          break;
        case VertexWord::Kind::kAttribute: {
          if (!CheckTriple(w.triple, checkTexts, error)) return false;
          std::size_t at = AppendTriple(texts, w.triple);
          if (at >= kAttributeWordBit) {
            return Fail(error, "attribute triple at text offset " + std::to_string(at) +
                                   " cannot be named by a vertex word (limit 32767)");
          }
          words.push_back(static_cast<std::uint16_t>(kAttributeWordBit | at));
          break;
        }
        case VertexWord::Kind::kRaw:
          words.push_back(w.value);
          break;
      }
    }
    entries.push_back(e);
  }

  const std::size_t total = textBase + texts.size();
  if (total > kMaxU16) {
    return Fail(error, "record of " + std::to_string(total) + " bytes exceeds 65535");
  }

  std::vector<std::uint8_t>& b = *out;
  b.assign(total, 0);
  std::uint8_t flags = rec.extraFlags & static_cast<std::uint8_t>(~(kRecFlagWidePoints | kRecFlagMore));
  if (rec.widePoints) flags |= kRecFlagWidePoints;
  if (more) flags |= kRecFlagMore;
  // The spare table words first; the builder's own words overwrite the rest.
  for (int i = 0; i < kRecTableWords; ++i) {
    if (IsSpareTableWord(i)) StoreU16(&b[kRecPointTable + 2 * i], rec.spareWords[i]);
  }
  StoreU16(&b[kRecLength], static_cast<std::uint16_t>(total));
  b[kRecByte2] = rec.byte2;
  b[kRecFlags] = flags;
  StoreU32(&b[kRecBaseX], static_cast<std::uint32_t>(base.x));
  StoreU32(&b[kRecBaseY], static_cast<std::uint32_t>(base.y));
  StoreRect(&b[kRecBox], box);
  StoreU16(&b[kRecPointTable], static_cast<std::uint16_t>(kPointTableStart));
  StoreU16(&b[kRecPointCount], static_cast<std::uint16_t>(pointCount));
  StoreU16(&b[kRecEntryTable], static_cast<std::uint16_t>(entryTable));
  StoreU16(&b[kRecEntryCount], static_cast<std::uint16_t>(entries.size()));
  StoreU16(&b[kRecTextBase], static_cast<std::uint16_t>(textBase));
  StoreU16(&b[kRecWordBase], static_cast<std::uint16_t>(wordBase));

  std::uint8_t* p = &b[kPointTableStart];
  for (std::size_t i = 0; i < pointCount; ++i, p += pointSize) {
    const TiPoint& pt = rec.points[i];
    if (rec.widePoints) {
      StoreU32(p, static_cast<std::uint32_t>(pt.x));
      StoreU32(p + 4, static_cast<std::uint32_t>(pt.y));
      continue;
    }
    std::int64_t dx = std::int64_t{pt.x} - base.x;
    std::int64_t dy = std::int64_t{pt.y} - base.y;
    if (dx < 0 || dx > 0xffff || dy < 0 || dy > 0xffff) {
      return Fail(error, "point " + std::to_string(i) + " (" + std::to_string(pt.x) + "," +
                             std::to_string(pt.y) +
                             ") is out of reach of 4-byte points from the base; use wide points");
    }
    StoreU16(p, static_cast<std::uint16_t>(dx));
    StoreU16(p + 2, static_cast<std::uint16_t>(dy));
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint8_t* e = &b[entryTable + i * entrySize];
    StoreU32(e + kEntClassBits, entries[i].classBits);
    StoreU16(e + kEntTextOffset, static_cast<std::uint16_t>(entries[i].textOffset));
    StoreU16(e + kEntWordOffset, static_cast<std::uint16_t>(entries[i].wordOffset));
    StoreU16(e + kEntWordCount, static_cast<std::uint16_t>(entries[i].wordCount));
    if (wideEntries) StoreU16(e + kEntSpare, entries[i].spare);
  }
  for (std::size_t i = 0; i < words.size(); ++i) StoreU16(&b[wordBase + 2 * i], words[i]);
  std::copy(texts.begin(), texts.end(), b.begin() + static_cast<std::ptrdiff_t>(textBase));
  return true;
}

// The record as it goes into the tile data.
bool FrameForFile(const std::vector<std::uint8_t>& raw, bool compressed,
                  std::vector<std::uint8_t>* stored, std::string* error) {
  if (raw.size() > kMaxU16) {
    return Fail(error, "record of " + std::to_string(raw.size()) + " bytes exceeds 65535");
  }
  if (!compressed) {
    *stored = raw;
    return true;
  }
  // The raw-length word stands in for the record's own length word, and
  // only the bytes after it are compressed.
  if (raw.size() < 2) return Fail(error, "a record in a compressed file needs its length word");
  const std::size_t body = raw.size() - 2;
  uLongf zlibLength = compressBound(static_cast<uLong>(body));
  stored->assign(4 + zlibLength, 0);
  int z = compress2(stored->data() + 4, &zlibLength, raw.data() + 2, static_cast<uLong>(body),
                    kCompressionLevel);
  if (z != Z_OK) return Fail(error, "zlib refused to compress a record");
  const std::size_t storedLength = 4 + zlibLength;
  if (storedLength > kMaxU16) {
    return Fail(error, "compressed record of " + std::to_string(storedLength) +
                           " bytes exceeds 65535");
  }
  stored->resize(storedLength);
  StoreU16(stored->data(), static_cast<std::uint16_t>(storedLength));
  StoreU16(stored->data() + 2, static_cast<std::uint16_t>(raw.size()));
  return true;
}

// Level masks and class summary gathered from the structured records.
struct Derived {
  TiRect recordBox{};
  bool anyRecordBox = false;
  TiRect tileBox{};
  bool anyTileBox = false;
  std::array<std::uint16_t, 8> masks{};
  ClassSummary classes{};
};

void NoteCode(const std::string& code, std::int32_t tileLevel, Derived* d) {
  if (code.size() < 3) return;
  int level = code[0] - '0';
  int cls = code[1] - '0';
  int category = CategoryOf(code[2]);
  if (level < 1 || level > 8) return;
  if (tileLevel >= 0) d->masks[level - 1] |= static_cast<std::uint16_t>(1u << tileLevel);
  if (cls < 1 || cls > 7 || category < 0) return;
  d->classes.presence[category] = 1;
  d->classes.levels[category][cls - 1] |= static_cast<std::uint8_t>(1u << (level - 1));
}

void NoteRecord(const Record& rec, std::int32_t tileLevel, const std::vector<std::uint8_t>& raw,
                Derived* d) {
  TiRect box{};
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t* p = &raw[kRecBox + 4 * i];
    std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
    (&box.x1)[i] = static_cast<std::int32_t>(v);
  }
  Widen(&d->recordBox, &d->anyRecordBox, box);
  for (const Part& part : rec.parts) {
    std::uint32_t bits = ClassBitsOfPart(part).value_or(0);
    for (int level = 1; level <= 8; ++level) {
      if ((bits & (1u << (level - 1))) != 0 && tileLevel >= 0) {
        d->masks[level - 1] |= static_cast<std::uint16_t>(1u << tileLevel);
      }
    }
    NoteCode(part.text.code, tileLevel, d);
    for (const VertexWord& w : part.words) {
      if (w.kind == VertexWord::Kind::kAttribute) NoteCode(w.triple.code, tileLevel, d);
    }
  }
}

}  // namespace

// ---- small helpers -------------------------------------------------------------

void PutU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  if (bytes.size() < at + 2) bytes.resize(at + 2, 0);
  StoreU16(&bytes[at], value);
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4, 0);
  StoreU32(&bytes[at], value);
}

std::uint16_t GetU16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 2) return 0;
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t GetU32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return 0;
  return GetU16(bytes, at) | (std::uint32_t{GetU16(bytes, at + 2)} << 16);
}

std::optional<std::uint32_t> ClassBitsOfCode(const std::string& code) {
  if (code.size() < 3) return std::nullopt;
  int level = code[0] - '0';
  int cls = code[1] - '0';
  int category = CategoryOf(code[2]);
  if (level < 1 || level > 8 || cls < 1 || cls > 7 || category < 0) return std::nullopt;
  std::uint32_t bits = 1u << (level - 1);
  if (category == kAreas) return bits | (0x1010000u << (cls - 1));
  return bits | (0x100u << (cls - 1));
}

std::uint32_t TileIdOf(const Tile& tile) {
  if (!tile.place) return tile.id;
  return RmfTileIdOfPoint(&tile.place->point, tile.place->level);
}

std::optional<std::vector<std::uint8_t>> EncodeRecord(const Record& record, bool wideEntries,
                                                      bool more, std::uint32_t tileId,
                                                      bool checkTexts, std::string* error) {
  std::vector<std::uint8_t> out;
  switch (record.kind) {
    case Record::Kind::kStructured:
      if (!EncodeStructured(record, wideEntries, more, tileId, checkTexts, &out, error)) {
        return std::nullopt;
      }
      return out;
    case Record::Kind::kRaw:
      out = record.bytes;
      if (record.setMoreBit && out.size() > kRecFlags) {
        if (more) {
          out[kRecFlags] |= kRecFlagMore;
        } else {
          out[kRecFlags] &= static_cast<std::uint8_t>(~kRecFlagMore);
        }
      }
      return out;
    case Record::Kind::kStored:
      return out;
  }
  return std::nullopt;
}

// ---- the file ------------------------------------------------------------------

BuildResult Build(const MapDescription& desc) {
  BuildResult result;
  auto refuse = [&result](const std::string& why) {
    result = BuildResult{};
    result.error = why;
    return result;
  };

  // Tiles in ascending id order, ids unique.
  struct Slot {
    std::uint32_t id;
    std::size_t index;
  };
  std::vector<Slot> order;
  order.reserve(desc.tiles.size());
  for (std::size_t i = 0; i < desc.tiles.size(); ++i) {
    const Tile& t = desc.tiles[i];
    if (t.place && t.place->level > 15) {
      return refuse("tile " + std::to_string(i) + ": level " + std::to_string(t.place->level) +
                    " is above 15");
    }
    order.push_back(Slot{TileIdOf(t), i});
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Slot& a, const Slot& b) { return a.id < b.id; });
  for (std::size_t k = 1; k < order.size(); ++k) {
    if (order[k].id == order[k - 1].id) return refuse("tile id " + Hex(order[k].id) + " given twice");
  }
  const std::uint64_t tileCount = order.size();

  // Annotation block right behind the header; its offset and length are u16.
  std::vector<std::uint8_t> annotations;
  for (const std::string& text : desc.annotations) {
    if (text.find('\0') != std::string::npos) return refuse("annotation holds a NUL byte");
    annotations.insert(annotations.end(), text.begin(), text.end());
    annotations.push_back(0);
  }
  if (annotations.size() > kMaxU16) {
    return refuse("annotation block of " + std::to_string(annotations.size()) +
                  " bytes exceeds 65535");
  }

  // Index runs: consecutive ids of one level share an entry.
  std::vector<IndexRun> runs;
  for (std::uint64_t k = 0; k < tileCount; ++k) {
    std::uint32_t id = order[k].id;
    bool extends = !runs.empty() && !desc.runPerTile && runs.back().lastId != 0xffffffffu &&
                   runs.back().lastId + 1 == id && RmfTileLevel(runs.back().lastId) == RmfTileLevel(id);
    if (extends) {
      runs.back().lastId = id;
    } else {
      runs.push_back(IndexRun{id, id, static_cast<std::uint32_t>(k)});
    }
  }

  const std::uint64_t annotationOffset = annotations.empty() ? 0 : kHeaderBytes;
  const std::uint64_t indexOffset = AlignUp(kHeaderBytes + annotations.size(), 4);
  const std::uint64_t offsetTableOffset = indexOffset + 12 * std::uint64_t{runs.size()};
  const std::uint64_t dataOffset = offsetTableOffset + 4 * (tileCount + 1);
  if (dataOffset > kMaxU32) {
    return refuse("tile index and offset table of " + std::to_string(tileCount) +
                  " tiles reach beyond 32-bit file offsets");
  }

  // Records, framed as stored, and what the header derives from them.
  Derived derived;
  std::vector<std::uint8_t> data;
  FileLayout& layout = result.layout;
  layout.tiles.reserve(tileCount);
  for (std::uint64_t k = 0; k < tileCount; ++k) {
    const Tile& tile = desc.tiles[order[k].index];
    const std::uint32_t id = order[k].id;
    const std::int32_t tileLevel = RmfTileLevel(id);
    if (auto r = TileRectOf(id)) Widen(&derived.tileBox, &derived.anyTileBox, *r);
    TilePlacement placement{id, static_cast<std::uint32_t>(k),
                            static_cast<std::uint32_t>(dataOffset + data.size()), 0};
    if (tile.records.size() > kMaxU16 + 1) {
      return refuse("tile " + Hex(id) + " has more records than 16-bit sequence numbers can count");
    }
    for (std::size_t s = 0; s < tile.records.size(); ++s) {
      const Record& rec = tile.records[s];
      const bool more = s + 1 < tile.records.size();
      std::string why;
      auto raw = EncodeRecord(rec, desc.wideEntries, more, id, desc.checkTexts, &why);
      if (!raw) return refuse("tile " + Hex(id) + " record " + std::to_string(s) + ": " + why);
      std::vector<std::uint8_t> stored;
      if (rec.kind == Record::Kind::kStored) {
        stored = rec.bytes;
      } else if (!FrameForFile(*raw, desc.compressed, &stored, &why)) {
        return refuse("tile " + Hex(id) + " record " + std::to_string(s) + ": " + why);
      }
      if (rec.kind == Record::Kind::kStructured) NoteRecord(rec, tileLevel, *raw, &derived);
      const std::uint64_t offset = dataOffset + data.size();
      if (offset + stored.size() > kMaxU32) return refuse("tile data reach beyond 32-bit file offsets");
      layout.records.push_back(RecordPlacement{id, static_cast<std::uint16_t>(s),
                                               static_cast<std::uint32_t>(offset),
                                               static_cast<std::uint32_t>(stored.size()), rec.kind,
                                               std::move(*raw)});
      data.insert(data.end(), stored.begin(), stored.end());
    }
    placement.end = static_cast<std::uint32_t>(dataOffset + data.size());
    layout.tiles.push_back(placement);
  }

  // Header fields, explicit or derived.
  TiRect box{};
  if (desc.box) {
    box = *desc.box;
  } else if (derived.anyRecordBox) {
    box = derived.recordBox;
  } else if (derived.anyTileBox) {
    box = derived.tileBox;
  }
  const std::array<std::uint16_t, 8> masks = desc.levelMasks.value_or(derived.masks);
  const bool writeRegionBlocks = desc.version != 0 || desc.regionBox || desc.classes;
  const TiRect regionBox = desc.regionBox.value_or(box);
  const ClassSummary classes = desc.classes.value_or(derived.classes);

  std::vector<std::uint8_t>& out = result.bytes;
  out.assign(dataOffset, 0);
  out[kHdrVersion] = desc.version;
  StoreU16(&out[kHdrWord4], desc.word4);
  out[kHdrByte6] = desc.byte6;
  std::uint8_t flags = desc.extraFlags;
  flags = static_cast<std::uint8_t>(flags & ~(kFlagWideEntries | kFlagCompressed));
  if (desc.wideEntries) flags |= kFlagWideEntries;
  if (desc.compressed) flags |= kFlagCompressed;
  out[kHdrFlags] = flags;
  StoreRect(&out[kHdrBox], box);
  StoreU16(&out[kHdrAnnotationOffset], static_cast<std::uint16_t>(annotationOffset));
  StoreU16(&out[kHdrAnnotationLength], static_cast<std::uint16_t>(annotations.size()));
  StoreU32(&out[kHdrIndexOffset], static_cast<std::uint32_t>(indexOffset));
  StoreU32(&out[kHdrIndexCount], static_cast<std::uint32_t>(runs.size()));
  StoreU32(&out[kHdrOffsetTableOffset], static_cast<std::uint32_t>(offsetTableOffset));
  StoreU32(&out[kHdrOffsetTableLast], static_cast<std::uint32_t>(tileCount));
  StoreU16(&out[kHdrWord44], desc.word44);
  for (int d = 0; d < 8; ++d) StoreU16(&out[kHdrLevelMasks + 2 * d], masks[d]);
  if (writeRegionBlocks) {
    StoreRect(&out[kHdrRegionBox], regionBox);
    for (int c = 0; c < 4; ++c) {
      StoreU32(&out[kHdrClassPresence + 4 * c], classes.presence[c]);
      std::copy(classes.levels[c].begin(), classes.levels[c].end(), &out[kHdrClassLevels + 8 * c]);
    }
  }
  std::copy(annotations.begin(), annotations.end(), out.begin() + kHeaderBytes);
  for (std::size_t r = 0; r < runs.size(); ++r) {
    std::uint8_t* e = &out[indexOffset + 12 * r];
    StoreU32(e, runs[r].firstId);
    StoreU32(e + 4, runs[r].lastId);
    StoreU32(e + 8, runs[r].position);
  }
  for (std::uint64_t k = 0; k < tileCount; ++k) {
    StoreU32(&out[offsetTableOffset + 4 * k], layout.tiles[k].begin);
  }
  StoreU32(&out[offsetTableOffset + 4 * tileCount], static_cast<std::uint32_t>(dataOffset + data.size()));
  out.insert(out.end(), data.begin(), data.end());

  layout.annotationOffset = static_cast<std::uint32_t>(annotationOffset);
  layout.annotationLength = static_cast<std::uint32_t>(annotations.size());
  layout.indexOffset = static_cast<std::uint32_t>(indexOffset);
  layout.offsetTableOffset = static_cast<std::uint32_t>(offsetTableOffset);
  layout.dataOffset = static_cast<std::uint32_t>(dataOffset);
  layout.runs = std::move(runs);
  result.ok = true;
  return result;
}

bool WriteFile(const MapDescription& description, const std::string& path, std::string* error) {
  BuildResult built = Build(description);
  if (!built) return Fail(error, built.error);
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
      file.write(reinterpret_cast<const char*>(built.bytes.data()),
                 static_cast<std::streamsize>(built.bytes.size()));
      file.close();
      if (file) return true;
    }
  }
  std::remove(path.c_str());
  return Fail(error, "cannot write " + path);
}

}  // namespace rmfbuild
