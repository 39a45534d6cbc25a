// Builds a MapDescription from map features: checks and cuts every feature
// (RmfFeatureCut), splits long runs and rings into parts of a bounded number
// of points, and packs the parts of each tile into structured records in
// feature order, starting a new record when the next part would take the
// record beyond its size limit or beyond what its point and text words can
// address. Level masks and the class summary are written from the features'
// own classes (attribute codes name no feature classes), so a query is sent
// exactly to the tile levels and sources that hold features.
#include "tools/rmfbuild/RmfFeatures.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "tools/rmfbuild/RmfFeatureCut.h"

namespace rmfbuild {
namespace {

constexpr std::size_t kPointTableStart = 60;
constexpr std::size_t kMaxRecordBytes = 0xffff;
constexpr std::size_t kMaxPoints = 0x8000;      // point indexes share the vertex word with the attribute bit
constexpr std::size_t kMaxTextOffset = 0x8000;  // attribute words hold 15 bits of text offset
// The router names a vertex by a 13-bit position and a part by 14 bits;
// parts beyond those are refused where they are read, so none is written.
constexpr std::size_t kMaxPartWords = 1 << 13;
constexpr std::size_t kMaxPartsPerRecord = 1 << 14;

std::size_t AlignUp(std::size_t v, std::size_t to) { return (v + to - 1) / to * to; }

std::size_t TripleBytes(const TextTriple& t) { return t.code.size() + t.name.size() + t.detail.size() + 3; }

bool TextFits(const std::string& text, std::size_t width, const char* what, std::string* error) {
  if (text.find('\0') != std::string::npos) {
    *error = std::string(what) + " text holds a NUL byte";
    return false;
  }
  if (text.size() > width) {
    *error = std::string(what) + " text \"" + text + "\" is longer than " + std::to_string(width) + " characters";
    return false;
  }
  return true;
}

bool TripleFits(const TextTriple& t, std::string* error) {
  return TextFits(t.code, kMaxCodeChars, "code", error) && TextFits(t.name, kMaxNameChars, "name", error) &&
         TextFits(t.detail, kMaxDetailChars, "detail", error);
}

int CategoryIndex(FeatureCategory c) {
  switch (c) {
    case FeatureCategory::kPoint: return kPoints;
    case FeatureCategory::kLine: return kLines;
    case FeatureCategory::kArea: return kAreas;
    case FeatureCategory::kBoundary: return kBoundaries;
  }
  return kPoints;
}

// One part waiting for its record.
struct PendingPart {
  std::size_t feature = 0;
  std::size_t piece = 0;
  std::size_t chunk = 0;
  bool whole = false;
  bool closed = false;  // a whole ring: the last point word repeats the first
  std::vector<TiPoint> points;  // without the closing point of a closed ring
  std::vector<int> vertices;
  double from = 0;
  double to = 0;
  char mark = 0;
  std::int32_t tileLevel = 0;
};

// A record being filled, with what its size depends on.
class RecordFill {
 public:
  explicit RecordFill(const FeatureMap& map) : map_(map) {}

  bool Empty() const { return record_.parts.empty(); }

  // What the record would be with `part`; false when a limit is passed
  // (`limit` bytes, or what the words and entries can address).
  bool Fits(const PendingPart& part, const Part& encoded, std::size_t limit) const {
    std::size_t points = points_.size();
    TiRect box = box_;
    bool any = !points_.empty();
    std::set<std::pair<std::int32_t, std::int32_t>> fresh;
    for (const TiPoint& p : part.points) {
      const auto key = std::make_pair(p.x, p.y);
      if (map_.sharePoints && (index_.count(key) != 0 || !fresh.insert(key).second)) continue;
      ++points;
      if (!any) {
        box = TiRect{p.x, p.y, p.x, p.y};
        any = true;
      }
      box.x1 = std::min(box.x1, p.x);
      box.y1 = std::min(box.y1, p.y);
      box.x2 = std::max(box.x2, p.x);
      box.y2 = std::max(box.y2, p.y);
    }
    const bool narrowReach = std::int64_t{box.x2} - box.x1 <= 0xffff && std::int64_t{box.y2} - box.y1 <= 0xffff;
    if (map_.pointWidth == PointWidth::kNarrow && !narrowReach) return false;
    const bool wide = map_.pointWidth == PointWidth::kWide || !narrowReach;
    const std::size_t entrySize = map_.wideEntries ? 12 : 10;
    std::size_t texts = texts_ + TripleBytes(encoded.text);
    for (const VertexWord& w : encoded.words) {
      if (w.kind != VertexWord::Kind::kAttribute) continue;
      if (texts >= kMaxTextOffset) return false;
      texts += TripleBytes(w.triple);
    }
    const std::size_t bytes = AlignUp(kPointTableStart + points * (wide ? 8 : 4), 4) +
                              (record_.parts.size() + 1) * entrySize + 2 * (words_ + encoded.words.size()) + texts;
    return bytes <= limit && points <= kMaxPoints && record_.parts.size() + 1 <= kMaxPartsPerRecord;
  }

  // Adds the part (its point words are filled in here); returns its entry index.
  std::uint16_t Add(const PendingPart& part, Part encoded) {
    std::vector<std::uint16_t> indexes;
    for (const TiPoint& p : part.points) indexes.push_back(IndexOf(p));
    std::size_t k = 0;
    for (VertexWord& w : encoded.words) {
      if (w.kind != VertexWord::Kind::kPoint) continue;
      // Point words are in point order; a closed ring's last one repeats the first.
      w.value = k < indexes.size() ? indexes[k] : indexes[0];
      ++k;
    }
    texts_ += TripleBytes(encoded.text);
    for (const VertexWord& w : encoded.words) {
      if (w.kind == VertexWord::Kind::kAttribute) texts_ += TripleBytes(w.triple);
    }
    words_ += encoded.words.size();
    record_.parts.push_back(std::move(encoded));
    return static_cast<std::uint16_t>(record_.parts.size() - 1);
  }

  Record Take() {
    Record out = std::move(record_);
    const bool narrowReach =
        std::int64_t{box_.x2} - box_.x1 <= 0xffff && std::int64_t{box_.y2} - box_.y1 <= 0xffff;
    out.widePoints = map_.pointWidth == PointWidth::kWide || !narrowReach;
    out.points = std::move(points_);
    record_ = Record{};
    points_.clear();
    index_.clear();
    words_ = 0;
    texts_ = 0;
    box_ = TiRect{};
    return out;
  }

 private:
  std::uint16_t IndexOf(const TiPoint& p) {
    const auto key = std::make_pair(p.x, p.y);
    if (map_.sharePoints) {
      auto it = index_.find(key);
      if (it != index_.end()) return it->second;
    }
    if (points_.empty()) box_ = TiRect{p.x, p.y, p.x, p.y};
    box_.x1 = std::min(box_.x1, p.x);
    box_.y1 = std::min(box_.y1, p.y);
    box_.x2 = std::max(box_.x2, p.x);
    box_.y2 = std::max(box_.y2, p.y);
    points_.push_back(p);
    const auto index = static_cast<std::uint16_t>(points_.size() - 1);
    index_.emplace(key, index);
    return index;
  }

  const FeatureMap& map_;
  Record record_;
  std::vector<TiPoint> points_;
  std::map<std::pair<std::int32_t, std::int32_t>, std::uint16_t> index_;
  std::size_t words_ = 0;
  std::size_t texts_ = 0;
  TiRect box_{};
};

// A feature's vertex attributes by vertex: those that follow their vertex,
// and those that go before it.
struct VertexAttributeIndex {
  std::multimap<int, const TextTriple*> after;
  std::multimap<int, const TextTriple*> before;

  explicit VertexAttributeIndex(const Feature& f) {
    for (const VertexAttribute& a : f.vertexAttributes) {
      (a.before ? before : after).emplace(static_cast<int>(a.vertex), &a.triple);
    }
  }
};

// The part's entry: own triple, the feature's attribute words, then every
// point word followed by its vertex's attribute words and by those that go
// before the next point's vertex. Point words carry no index yet.
Part EncodePart(const Feature& f, const PendingPart& part, const VertexAttributeIndex& vertexAttributes) {
  Part out;
  out.text = TextTriple{f.featureClass.Code(part.mark), f.name, f.detail};
  for (const TextTriple& t : f.attributes) out.words.push_back(VertexWord::Attribute(t));
  auto add = [&out](const std::multimap<int, const TextTriple*>& attributes, int vertex) {
    if (vertex < 0) return;
    auto range = attributes.equal_range(vertex);
    for (auto it = range.first; it != range.second; ++it) out.words.push_back(VertexWord::Attribute(*it->second));
  };
  for (std::size_t i = 0; i < part.points.size(); ++i) {
    out.words.push_back(VertexWord::Point(0));
    add(vertexAttributes.after, i < part.vertices.size() ? part.vertices[i] : -1);
    // Points of a run follow the line, so the point before a source vertex
    // is the vertex before it or a cut point on the stretch between them.
    add(vertexAttributes.before, i + 1 < part.vertices.size() ? part.vertices[i + 1] : -1);
  }
  if (part.closed) out.words.push_back(VertexWord::Point(0));
  return out;
}

// Splits a cut piece into parts of at most `limit` point words that share
// their end points.
void ChunkPiece(const detail::CutPiece& piece, std::size_t feature, std::size_t pieceIndex, std::size_t limit,
                std::vector<PendingPart>* out) {
  std::vector<TiPoint> points = piece.points;
  std::vector<int> vertices = piece.vertices;
  bool closed = piece.ring;
  if (piece.ring && points.size() + 1 > limit) {
    // A ring too long for one part becomes a chain that starts and ends at its first point.
    points.push_back(points.front());
    closed = false;
  }
  vertices.resize(points.size(), -1);
  if (closed || points.size() <= limit) {
    PendingPart p;
    p.feature = feature;
    p.piece = pieceIndex;
    p.whole = piece.whole;
    p.closed = closed;
    p.points = std::move(points);
    p.vertices = std::move(vertices);
    p.from = piece.from;
    p.to = piece.to;
    p.mark = piece.mark;
    p.tileLevel = piece.tileLevel;
    out->push_back(std::move(p));
    return;
  }
  std::size_t chunk = 0;
  for (std::size_t start = 0; start + 1 < points.size(); start += limit - 1, ++chunk) {
    const std::size_t end = std::min(points.size() - 1, start + limit - 1);
    PendingPart p;
    p.feature = feature;
    p.piece = pieceIndex;
    p.chunk = chunk;
    p.whole = piece.whole;
    p.points.assign(points.begin() + static_cast<std::ptrdiff_t>(start),
                    points.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    p.vertices.assign(vertices.begin() + static_cast<std::ptrdiff_t>(start),
                      vertices.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    // Rings have no place along a line; runs know each point's.
    p.from = start < piece.positions.size() ? piece.positions[start] : 0.0;
    p.to = end < piece.positions.size() ? piece.positions[end] : 0.0;
    p.mark = piece.mark;
    p.tileLevel = piece.tileLevel;
    out->push_back(std::move(p));
  }
}

FeatureBuild Refuse(std::string why) {
  FeatureBuild out;
  out.error = std::move(why);
  return out;
}

}  // namespace

// ---- describing features -------------------------------------------------------------

std::string FeatureClass::Code(char mark) const {
  std::string code;
  code += static_cast<char>('0' + level);
  code += static_cast<char>('0' + classDigit);
  code += static_cast<char>(category);
  if (mark != 0) code += mark;
  return code;
}

std::optional<FeatureClass> FeatureClass::FromCode(std::string_view code) {
  if (code.size() < 3) return std::nullopt;
  FeatureClass c;
  c.level = code[0] - '0';
  c.classDigit = code[1] - '0';
  if (c.level < 1 || c.level > 8 || c.classDigit < 1 || c.classDigit > 7) return std::nullopt;
  switch (code[2]) {
    case '0': c.category = FeatureCategory::kPoint; break;
    case '1': c.category = FeatureCategory::kLine; break;
    case '2': c.category = FeatureCategory::kArea; break;
    case 'B':
    case 'b': c.category = FeatureCategory::kBoundary; break;
    default: return std::nullopt;
  }
  return c;
}

Feature Feature::Point(FeatureClass c, std::string name, TiPoint at, std::string detail) {
  Feature f;
  f.featureClass = c;
  f.name = std::move(name);
  f.detail = std::move(detail);
  f.points.push_back(at);
  return f;
}

Feature Feature::Line(FeatureClass c, std::string name, std::vector<TiPoint> points, std::string detail) {
  Feature f;
  f.featureClass = c;
  f.name = std::move(name);
  f.detail = std::move(detail);
  f.points = std::move(points);
  return f;
}

Feature Feature::Area(FeatureClass c, std::string name, std::vector<TiPoint> outer,
                      std::vector<std::vector<TiPoint>> holes, std::string detail) {
  Feature f;
  f.featureClass = c;
  f.name = std::move(name);
  f.detail = std::move(detail);
  f.rings.push_back(FeatureRing{std::move(outer), 0});
  for (auto& h : holes) f.rings.push_back(FeatureRing{std::move(h), 0});
  return f;
}

Feature& Feature::Attribute(TextTriple triple) {
  attributes.push_back(std::move(triple));
  return *this;
}

Feature& Feature::VertexAttr(std::size_t vertex, TextTriple triple) {
  vertexAttributes.push_back(VertexAttribute{vertex, std::move(triple)});
  return *this;
}

Feature& Feature::VertexAttrBefore(std::size_t vertex, TextTriple triple) {
  vertexAttributes.push_back(VertexAttribute{vertex, std::move(triple), true});
  return *this;
}

bool Feature::SetOneWay(OneWay way) {
  const char wayMark = way == OneWay::kAlong ? '+' : way == OneWay::kAgainst ? '-' : 0;
  bool any = false;
  if (featureClass.category == FeatureCategory::kLine && featureClass.classDigit == 7) {
    mark = wayMark;
    any = true;
  }
  for (TextTriple& t : attributes) {
    if (t.code.size() < 3 || t.code[1] != '7' || t.code[2] != '1') continue;
    t.code.resize(3);
    if (wayMark != 0) t.code += wayMark;
    any = true;
  }
  return any;
}

TextTriple RouteClassAttribute(int level, std::string value, std::string name, OneWay way) {
  TextTriple t;
  t.code = std::string(1, static_cast<char>('0' + level)) + "71";
  if (way == OneWay::kAlong) t.code += '+';
  if (way == OneWay::kAgainst) t.code += '-';
  t.name = std::move(value);
  t.detail = std::move(name);
  return t;
}

std::string RoadValue(char roadType, char kind, char speedClass, bool toll) {
  std::string value{roadType, kind, speedClass};
  if (toll) value += " 1";
  return value;
}

// ---- building ------------------------------------------------------------------------------

const FeaturePiece* FeatureBuild::Find(std::uint32_t tileId, std::uint16_t sequence, std::uint16_t entry) const {
  for (const FeaturePiece& p : pieces) {
    if (p.tileId == tileId && p.sequence == sequence && p.entry == entry) return &p;
  }
  return nullptr;
}

std::vector<const FeaturePiece*> FeatureBuild::PiecesOf(std::size_t feature) const {
  std::vector<const FeaturePiece*> out;
  for (const FeaturePiece& p : pieces) {
    if (p.feature == feature) out.push_back(&p);
  }
  std::stable_sort(out.begin(), out.end(), [](const FeaturePiece* a, const FeaturePiece* b) {
    return a->piece != b->piece ? a->piece < b->piece : a->chunk < b->chunk;
  });
  return out;
}

FeatureBuild BuildFeatureMap(const FeatureMap& map) {
  if (std::string why = detail::CheckTileLevels(map.tileLevels); !why.empty()) return Refuse(why);
  if (map.partVertices < 3 || map.partVertices > kMaxPartWords) {
    return Refuse("part-vertices must lie in 3.." + std::to_string(kMaxPartWords));
  }

  // Cut every feature; gather its parts by tile.
  std::map<std::uint32_t, std::vector<PendingPart>> byTile;
  for (std::size_t i = 0; i < map.features.size(); ++i) {
    const Feature& f = map.features[i];
    const std::string where = "feature " + std::to_string(i) + " (\"" + f.name + "\"): ";
    std::string why = detail::CheckFeature(f);
    if (!why.empty()) return Refuse(where + why);
    if (!TripleFits(TextTriple{f.featureClass.Code('+'), f.name, f.detail}, &why)) return Refuse(where + why);
    for (const TextTriple& t : f.attributes) {
      if (!TripleFits(t, &why)) return Refuse(where + why);
    }
    for (const VertexAttribute& a : f.vertexAttributes) {
      if (!TripleFits(a.triple, &why)) return Refuse(where + why);
    }
    detail::CutResult cut = detail::CutFeature(f, map.tileLevels[static_cast<std::size_t>(f.featureClass.level - 1)]);
    if (!cut.ok) return Refuse(where + cut.error);
    for (std::size_t p = 0; p < cut.pieces.size(); ++p) {
      std::vector<PendingPart> parts;
      ChunkPiece(cut.pieces[p], i, p, map.partVertices, &parts);
      auto& list = byTile[cut.pieces[p].tileId];
      for (PendingPart& part : parts) list.push_back(std::move(part));
    }
  }

  FeatureBuild out;
  MapDescription& desc = out.description;
  desc.version = map.version;
  desc.compressed = map.compressed;
  desc.wideEntries = map.wideEntries;
  desc.annotations = map.annotations;
  std::array<std::uint16_t, 8> masks{};
  ClassSummary classes{};

  for (auto& [tileId, parts] : byTile) {
    Tile tile = Tile::WithId(tileId);
    RecordFill fill(map);
    auto flush = [&]() { tile.records.push_back(fill.Take()); };
    for (PendingPart& part : parts) {
      const Feature& f = map.features[part.feature];
      Part encoded = EncodePart(f, part, VertexAttributeIndex(f));
      if (encoded.words.size() > kMaxPartWords) {
        return Refuse("feature " + std::to_string(part.feature) + ": a part of " +
                      std::to_string(encoded.words.size()) + " vertex words exceeds " +
                      std::to_string(kMaxPartWords) + "; lower part-vertices or its attributes");
      }
      if (!fill.Empty() && !fill.Fits(part, encoded, map.recordBytes)) flush();
      if (fill.Empty() && !fill.Fits(part, encoded, kMaxRecordBytes)) {
        return Refuse("feature " + std::to_string(part.feature) + ": a part does not fit a record (" +
                      (map.pointWidth == PointWidth::kNarrow ? "4-byte points out of reach, " : "") +
                      "65535 bytes, 32768 points or 32 KB of texts before its last attribute)");
      }
      FeaturePiece piece;
      piece.feature = part.feature;
      piece.piece = part.piece;
      piece.chunk = part.chunk;
      piece.whole = part.whole;
      piece.closed = part.closed;
      piece.tileId = tileId;
      piece.tileLevel = part.tileLevel;
      piece.sequence = static_cast<std::uint16_t>(tile.records.size());
      piece.points = part.points;
      if (part.closed) piece.points.push_back(part.points.front());
      piece.vertices = part.vertices;
      piece.from = part.from;
      piece.to = part.to;
      piece.mark = part.mark;
      piece.entry = fill.Add(part, std::move(encoded));
      out.pieces.push_back(std::move(piece));

      const FeatureClass& c = f.featureClass;
      masks[static_cast<std::size_t>(c.level - 1)] |= static_cast<std::uint16_t>(1u << part.tileLevel);
      const int category = CategoryIndex(c.category);
      classes.presence[static_cast<std::size_t>(category)] = 1;
      classes.levels[static_cast<std::size_t>(category)][static_cast<std::size_t>(c.classDigit - 1)] |=
          static_cast<std::uint8_t>(1u << (c.level - 1));
    }
    if (!fill.Empty()) flush();
    if (tile.records.size() > 0x10000) return Refuse("tile holds more records than sequence numbers can count");
    desc.tiles.push_back(std::move(tile));
  }
  desc.levelMasks = masks;
  desc.classes = classes;
  out.ok = true;
  return out;
}

}  // namespace rmfbuild
