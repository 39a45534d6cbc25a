// Reads and writes the line-based text form of a map description (its
// grammar is in RmfDescriptionText.h). The reader checks each statement's
// values against the width of the field they go into and reports the first
// fault with its line number.
#include "tools/rmfbuild/RmfDescriptionText.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <optional>
#include <sstream>
#include <type_traits>
#include <vector>

#include "platform/os/text.h"

namespace rmfbuild {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Reads a quoted text starting at line[i] == '"'; i ends past the closing quote.
bool ReadQuoted(std::string_view line, std::size_t& i, std::string* out, std::string* error) {
  out->clear();
  ++i;
  while (i < line.size()) {
    char c = line[i++];
    if (c == '"') return true;
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (i >= line.size()) break;
    char e = line[i++];
    switch (e) {
      case '"': out->push_back('"'); break;
      case '\\': out->push_back('\\'); break;
      case 'n': out->push_back('\n'); break;
      case 't': out->push_back('\t'); break;
      case 'x': {
        int hi = i < line.size() ? platform::HexDigit(line[i]) : -1;
        int lo = i + 1 < line.size() ? platform::HexDigit(line[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
          *error = "\\x needs two hexadecimal digits";
          return false;
        }
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default:
        *error = std::string("unknown escape \\") + e;
        return false;
    }
  }
  *error = "unterminated quoted text";
  return false;
}

bool Tokenize(std::string_view line, std::vector<Token>* tokens, std::string* error) {
  tokens->clear();
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (i >= line.size()) return true;
    Token t;
    if (line[i] == '"') {
      t.quoted = true;
      if (!ReadQuoted(line, i, &t.text, error)) return false;
    } else {
      std::size_t start = i;
      while (i < line.size() && !IsSpace(line[i])) ++i;
      t.text = std::string(line.substr(start, i - start));
    }
    tokens->push_back(std::move(t));
  }
}

bool ParseInt(std::string_view s, std::int64_t lo, std::int64_t hi, std::int64_t* out) {
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  std::uint64_t value = 0;
  for (char c : s) {
    int d = platform::HexDigit(c);
    if (d < 0 || d >= base) return false;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (value > (std::uint64_t{1} << 33)) return false;  // far beyond every field
  }
  std::int64_t v = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

std::vector<std::string_view> SplitCommas(std::string_view s) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = s.find(',', start);
    parts.push_back(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

template <typename T>
bool ParseField(std::string_view s, T* out) {
  std::int64_t v = 0;
  constexpr bool kSigned = std::is_signed_v<T>;
  std::int64_t lo = kSigned ? std::numeric_limits<T>::min() : 0;
  std::int64_t hi = static_cast<std::int64_t>(std::numeric_limits<T>::max());
  if (!ParseInt(s, lo, hi, &v)) return false;
  *out = static_cast<T>(v);
  return true;
}

bool ParsePoint(std::string_view s, TiPoint* out) {
  auto parts = SplitCommas(s);
  return parts.size() == 2 && ParseField(parts[0], &out->x) && ParseField(parts[1], &out->y);
}

bool ParseRect(std::string_view s, TiRect* out) {
  auto parts = SplitCommas(s);
  return parts.size() == 4 && ParseField(parts[0], &out->x1) && ParseField(parts[1], &out->y1) &&
         ParseField(parts[2], &out->x2) && ParseField(parts[3], &out->y2);
}

bool ParseHexBytes(const std::vector<Token>& tokens, std::size_t from, std::vector<std::uint8_t>* out) {
  out->clear();
  for (std::size_t t = from; t < tokens.size(); ++t) {
    const std::string& s = tokens[t].text;
    if (tokens[t].quoted || s.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < s.size(); i += 2) {
      int hi = platform::HexDigit(s[i]);
      int lo = platform::HexDigit(s[i + 1]);
      if (hi < 0 || lo < 0) return false;
      out->push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
  }
  return true;
}

// Splits "key=value"; false for a token without '='.
bool KeyValue(const Token& t, std::string_view* key, std::string_view* value) {
  if (t.quoted) return false;
  std::string_view s = t.text;
  std::size_t eq = s.find('=');
  if (eq == std::string_view::npos) return false;
  *key = s.substr(0, eq);
  *value = s.substr(eq + 1);
  return true;
}

int CategoryByName(std::string_view name) {
  if (name == "points") return kPoints;
  if (name == "lines") return kLines;
  if (name == "areas") return kAreas;
  if (name == "boundaries") return kBoundaries;
  return -1;
}

const char* const kCategoryNames[4] = {"points", "lines", "areas", "boundaries"};

class Parser {
 public:
  ParseResult Run(std::string_view text) {
    ParseResult result;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      ++lineNumber;
      std::string why;
      if (!Statement(line, &why)) {
        result.error = "line " + std::to_string(lineNumber) + ": " + why;
        return result;
      }
      start = end + 1;
    }
    result.ok = true;
    result.description = std::move(desc_);
    return result;
  }

 private:
  bool Statement(std::string_view line, std::string* why) {
    std::size_t i = 0;
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (i == line.size() || line[i] == '#') return true;
    line.remove_prefix(i);
    // Annotations keep the rest of the line as it is.
    constexpr std::string_view kAnnotation = "annotation";
    if (line.substr(0, kAnnotation.size()) == kAnnotation &&
        (line.size() == kAnnotation.size() || IsSpace(line[kAnnotation.size()]))) {
      return Annotation(line.substr(std::min(line.size(), kAnnotation.size() + 1)), why);
    }
    std::vector<Token> tokens;
    if (!Tokenize(line, &tokens, why)) return false;
    const std::string& verb = tokens[0].text;
    if (verb == "header") return Header(tokens, why);
    if (verb == "box") return Rect(tokens, &desc_.box, why);
    if (verb == "region") return Rect(tokens, &desc_.regionBox, why);
    if (verb == "levelmasks") return LevelMasks(tokens, why);
    if (verb == "classes") return Classes(tokens, why);
    if (verb == "tile") return TileLine(tokens, why);
    if (verb == "record") return RecordLine(tokens, why);
    if (verb == "points") return Points(tokens, why);
    if (verb == "part") return PartLine(tokens, why);
    if (verb == "vertices") return Vertices(tokens, why);
    if (verb == "attr") return Attr(tokens, why);
    if (verb == "word") return Words(tokens, why);
    if (verb == "raw" || verb == "stored") return Bytes(tokens, verb == "stored", why);
    *why = "unknown statement \"" + verb + "\"";
    return false;
  }

  bool Annotation(std::string_view rest, std::string* why) {
    std::size_t i = 0;
    if (!rest.empty() && rest[0] == '"') {
      std::string text;
      if (!ReadQuoted(rest, i, &text, why)) return false;
      while (i < rest.size() && IsSpace(rest[i])) ++i;
      if (i != rest.size()) {
        *why = "text after the quoted annotation";
        return false;
      }
      desc_.annotations.push_back(std::move(text));
      return true;
    }
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    desc_.annotations.emplace_back(rest);
    return true;
  }

  bool Header(const std::vector<Token>& tokens, std::string* why) {
    for (std::size_t t = 1; t < tokens.size(); ++t) {
      std::string_view key;
      std::string_view value;
      if (!KeyValue(tokens[t], &key, &value)) return Bad(why, "expected key=value", tokens[t]);
      bool ok = true;
      if (key == "version") {
        ok = ParseField(value, &desc_.version);
      } else if (key == "word4") {
        ok = ParseField(value, &desc_.word4);
      } else if (key == "byte6") {
        ok = ParseField(value, &desc_.byte6);
      } else if (key == "word44") {
        ok = ParseField(value, &desc_.word44);
      } else if (key == "flags") {
        desc_.wideEntries = false;
        desc_.compressed = false;
        desc_.extraFlags = 0;
        for (std::string_view f : SplitCommas(value)) {
          std::uint8_t bits = 0;
          if (f == "wide-entries") {
            desc_.wideEntries = true;
          } else if (f == "compressed") {
            desc_.compressed = true;
          } else if (f == "none" || f.empty()) {
          } else if (ParseField(f, &bits)) {
            desc_.extraFlags |= bits;
          } else {
            ok = false;
          }
        }
      } else if (key == "runs") {
        ok = value == "merged" || value == "per-tile";
        desc_.runPerTile = value == "per-tile";
      } else if (key == "texts") {
        ok = value == "checked" || value == "free";
        desc_.checkTexts = value != "free";
      } else {
        return Bad(why, "unknown header field", tokens[t]);
      }
      if (!ok) return Bad(why, "bad value", tokens[t]);
    }
    return true;
  }

  bool Rect(const std::vector<Token>& tokens, std::optional<TiRect>* out, std::string* why) {
    TiRect r{};
    if (tokens.size() != 2 || !ParseRect(tokens[1].text, &r)) {
      *why = "expected X1,Y1,X2,Y2";
      return false;
    }
    *out = r;
    return true;
  }

  bool LevelMasks(const std::vector<Token>& tokens, std::string* why) {
    std::array<std::uint16_t, 8> masks{};
    auto parts = tokens.size() == 2 ? SplitCommas(tokens[1].text) : std::vector<std::string_view>{};
    if (parts.size() != 8) {
      *why = "expected 8 comma-separated level-mask words";
      return false;
    }
    for (int d = 0; d < 8; ++d) {
      if (!ParseField(parts[d], &masks[d])) {
        *why = "bad level-mask word \"" + std::string(parts[d]) + "\"";
        return false;
      }
    }
    desc_.levelMasks = masks;
    return true;
  }

  bool Classes(const std::vector<Token>& tokens, std::string* why) {
    int category = tokens.size() >= 2 ? CategoryByName(tokens[1].text) : -1;
    if (category < 0) {
      *why = "expected a category: points, lines, areas or boundaries";
      return false;
    }
    if (!desc_.classes) desc_.classes = ClassSummary{};
    for (std::size_t t = 2; t < tokens.size(); ++t) {
      std::string_view key;
      std::string_view value;
      if (!KeyValue(tokens[t], &key, &value)) return Bad(why, "expected key=value", tokens[t]);
      if (key == "presence") {
        if (!ParseField(value, &desc_.classes->presence[category])) {
          return Bad(why, "bad value", tokens[t]);
        }
      } else if (key == "levels") {
        auto parts = SplitCommas(value);
        if (parts.size() != 8) return Bad(why, "expected 8 comma-separated bytes", tokens[t]);
        for (int c = 0; c < 8; ++c) {
          if (!ParseField(parts[c], &desc_.classes->levels[category][c])) {
            return Bad(why, "bad value", tokens[t]);
          }
        }
      } else {
        return Bad(why, "unknown classes field", tokens[t]);
      }
    }
    return true;
  }

  bool TileLine(const std::vector<Token>& tokens, std::string* why) {
    Tile tile;
    std::optional<std::uint32_t> level;
    std::optional<TiPoint> point;
    bool haveId = false;
    for (std::size_t t = 1; t < tokens.size(); ++t) {
      std::string_view key;
      std::string_view value;
      if (!KeyValue(tokens[t], &key, &value)) return Bad(why, "expected key=value", tokens[t]);
      bool ok = true;
      if (key == "id") {
        ok = ParseField(value, &tile.id);
        haveId = true;
      } else if (key == "level") {
        std::uint32_t l = 0;
        ok = ParseField(value, &l);
        level = l;
      } else if (key == "point") {
        TiPoint p{};
        ok = ParsePoint(value, &p);
        point = p;
      } else {
        return Bad(why, "unknown tile field", tokens[t]);
      }
      if (!ok) return Bad(why, "bad value", tokens[t]);
    }
    if (haveId == (level.has_value() || point.has_value()) || level.has_value() != point.has_value()) {
      *why = "a tile needs either id=N or both level=L and point=X,Y";
      return false;
    }
    if (level) tile.place = TilePlace{*level, *point};
    desc_.tiles.push_back(std::move(tile));
    return true;
  }

  Tile* CurrentTile(std::string* why) {
    if (desc_.tiles.empty()) {
      *why = "no tile yet";
      return nullptr;
    }
    return &desc_.tiles.back();
  }

  Record* CurrentStructured(std::string* why) {
    Tile* tile = CurrentTile(why);
    if (tile == nullptr) return nullptr;
    if (tile->records.empty() || tile->records.back().kind != Record::Kind::kStructured) {
      *why = "no structured record yet";
      return nullptr;
    }
    return &tile->records.back();
  }

  Part* CurrentPart(std::string* why) {
    Record* rec = CurrentStructured(why);
    if (rec == nullptr) return nullptr;
    if (rec->parts.empty()) {
      *why = "no part yet";
      return nullptr;
    }
    return &rec->parts.back();
  }

  bool RecordLine(const std::vector<Token>& tokens, std::string* why) {
    Tile* tile = CurrentTile(why);
    if (tile == nullptr) return false;
    Record rec;
    for (std::size_t t = 1; t < tokens.size(); ++t) {
      if (!tokens[t].quoted && tokens[t].text == "wide-points") {
        rec.widePoints = true;
        continue;
      }
      std::string_view key;
      std::string_view value;
      if (!KeyValue(tokens[t], &key, &value)) return Bad(why, "expected key=value", tokens[t]);
      bool ok = true;
      if (key == "base") {
        TiPoint p{};
        ok = ParsePoint(value, &p);
        rec.base = p;
      } else if (key == "box") {
        TiRect r{};
        ok = ParseRect(value, &r);
        rec.box = r;
      } else if (key == "byte2") {
        ok = ParseField(value, &rec.byte2);
      } else if (key == "flags") {
        ok = ParseField(value, &rec.extraFlags);
      } else if (key.size() == 6 && key.substr(0, 4) == "word") {
        std::int64_t offset = 0;
        ok = ParseInt(key.substr(4), 28, 56, &offset) && offset % 2 == 0 &&
             IsSpareTableWord(static_cast<int>(offset - 28) / 2) &&
             ParseField(value, &rec.spareWords[static_cast<std::size_t>(offset - 28) / 2]);
      } else {
        return Bad(why, "unknown record field", tokens[t]);
      }
      if (!ok) return Bad(why, "bad value", tokens[t]);
    }
    tile->records.push_back(std::move(rec));
    return true;
  }

  bool Points(const std::vector<Token>& tokens, std::string* why) {
    Record* rec = CurrentStructured(why);
    if (rec == nullptr) return false;
    for (std::size_t t = 1; t < tokens.size(); ++t) {
      TiPoint p{};
      if (!ParsePoint(tokens[t].text, &p)) return Bad(why, "expected X,Y", tokens[t]);
      rec->points.push_back(p);
    }
    return true;
  }

  bool ReadTriple(const std::vector<Token>& tokens, TextTriple* out, std::string* why) {
    if (tokens.size() < 4 || !tokens[1].quoted || !tokens[2].quoted || !tokens[3].quoted) {
      *why = "expected three quoted texts: \"CODE\" \"NAME\" \"DETAIL\"";
      return false;
    }
    *out = TextTriple{tokens[1].text, tokens[2].text, tokens[3].text};
    return true;
  }

  bool PartLine(const std::vector<Token>& tokens, std::string* why) {
    Record* rec = CurrentStructured(why);
    if (rec == nullptr) return false;
    Part part;
    if (!ReadTriple(tokens, &part.text, why)) return false;
    for (std::size_t t = 4; t < tokens.size(); ++t) {
      std::string_view key;
      std::string_view value;
      if (!KeyValue(tokens[t], &key, &value)) return Bad(why, "expected key=value", tokens[t]);
      bool ok = true;
      if (key == "class") {
        std::uint32_t bits = 0;
        ok = ParseField(value, &bits);
        part.classBits = bits;
      } else if (key == "spare") {
        ok = ParseField(value, &part.spare);
      } else {
        return Bad(why, "unknown part field", tokens[t]);
      }
      if (!ok) return Bad(why, "bad value", tokens[t]);
    }
    rec->parts.push_back(std::move(part));
    return true;
  }

  bool Vertices(const std::vector<Token>& tokens, std::string* why) {
    Part* part = CurrentPart(why);
    if (part == nullptr) return false;
    for (std::size_t t = 1; t < tokens.size(); ++t) {
      std::uint16_t index = 0;
      if (tokens[t].quoted || !ParseField(tokens[t].text, &index)) {
        return Bad(why, "expected a point index", tokens[t]);
      }
      part->words.push_back(VertexWord::Point(index));
    }
    return true;
  }

  bool Attr(const std::vector<Token>& tokens, std::string* why) {
    Part* part = CurrentPart(why);
    if (part == nullptr) return false;
    TextTriple triple;
    if (!ReadTriple(tokens, &triple, why)) return false;
    if (tokens.size() != 4) return Bad(why, "unexpected", tokens[4]);
    part->words.push_back(VertexWord::Attribute(std::move(triple)));
    return true;
  }

  bool Words(const std::vector<Token>& tokens, std::string* why) {
    Part* part = CurrentPart(why);
    if (part == nullptr) return false;
    for (std::size_t t = 1; t < tokens.size(); ++t) {
      std::uint16_t word = 0;
      if (tokens[t].quoted || !ParseField(tokens[t].text, &word)) {
        return Bad(why, "expected a 16-bit word", tokens[t]);
      }
      part->words.push_back(VertexWord::Raw(word));
    }
    return true;
  }

  bool Bytes(const std::vector<Token>& tokens, bool stored, std::string* why) {
    Tile* tile = CurrentTile(why);
    if (tile == nullptr) return false;
    std::size_t from = 1;
    bool more = false;
    if (!stored && tokens.size() > 1 && !tokens[1].quoted && tokens[1].text == "more") {
      more = true;
      from = 2;
    }
    std::vector<std::uint8_t> bytes;
    if (!ParseHexBytes(tokens, from, &bytes)) {
      *why = "expected hexadecimal bytes";
      return false;
    }
    tile->records.push_back(stored ? Record::Stored(std::move(bytes)) : Record::Raw(std::move(bytes), more));
    return true;
  }

  static bool Bad(std::string* why, const char* what, const Token& token) {
    *why = std::string(what) + ": \"" + token.text + "\"";
    return false;
  }

  MapDescription desc_;
};

// ---- writing ------------------------------------------------------------------

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string HexNumber(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

std::string PointText(const TiPoint& p) { return std::to_string(p.x) + "," + std::to_string(p.y); }

std::string RectText(const TiRect& r) {
  return std::to_string(r.x1) + "," + std::to_string(r.y1) + "," + std::to_string(r.x2) + "," +
         std::to_string(r.y2);
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 32 == 0) out += ' ';
    std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
    out += buf;
  }
  return out;
}

// An annotation stays bare when the bare form reads back the same.
bool NeedsQuotes(const std::string& s) {
  if (s.empty()) return false;
  if (s[0] == '"' || s.back() == '\r') return true;
  for (char c : s) {
    if (c == '\n') return true;
  }
  return false;
}

void WriteRecord(std::ostringstream& out, const Record& rec) {
  if (rec.kind == Record::Kind::kRaw) {
    out << "raw" << (rec.setMoreBit ? " more" : "");
    if (!rec.bytes.empty()) out << ' ' << HexBytes(rec.bytes);
    out << '\n';
    return;
  }
  if (rec.kind == Record::Kind::kStored) {
    out << "stored";
    if (!rec.bytes.empty()) out << ' ' << HexBytes(rec.bytes);
    out << '\n';
    return;
  }
  out << "record";
  if (rec.widePoints) out << " wide-points";
  if (rec.base) out << " base=" << PointText(*rec.base);
  if (rec.box) out << " box=" << RectText(*rec.box);
  if (rec.byte2 != 0) out << " byte2=" << HexNumber(rec.byte2);
  if (rec.extraFlags != 0) out << " flags=" << HexNumber(rec.extraFlags);
  for (int i = 0; i < kRecTableWords; ++i) {
    if (IsSpareTableWord(i) && rec.spareWords[i] != 0) out << " word" << (28 + 2 * i) << '=' << HexNumber(rec.spareWords[i]);
  }
  out << '\n';
  for (std::size_t i = 0; i < rec.points.size(); i += 8) {
    out << "points";
    for (std::size_t j = i; j < rec.points.size() && j < i + 8; ++j) out << ' ' << PointText(rec.points[j]);
    out << '\n';
  }
  for (const Part& part : rec.parts) {
    out << "part " << Quote(part.text.code) << ' ' << Quote(part.text.name) << ' '
        << Quote(part.text.detail);
    if (part.classBits) out << " class=" << HexNumber(*part.classBits);
    if (part.spare != 0) out << " spare=" << HexNumber(part.spare);
    out << '\n';
    // Consecutive words of one kind share a line.
    std::size_t w = 0;
    while (w < part.words.size()) {
      const VertexWord& word = part.words[w];
      if (word.kind == VertexWord::Kind::kAttribute) {
        out << "attr " << Quote(word.triple.code) << ' ' << Quote(word.triple.name) << ' '
            << Quote(word.triple.detail) << '\n';
        ++w;
        continue;
      }
      const VertexWord::Kind kind = word.kind;
      out << (kind == VertexWord::Kind::kPoint ? "vertices" : "word");
      for (std::size_t n = 0; w < part.words.size() && part.words[w].kind == kind && n < 16; ++w, ++n) {
        out << ' ' << (kind == VertexWord::Kind::kPoint ? std::to_string(part.words[w].value)
                                                        : HexNumber(part.words[w].value));
      }
      out << '\n';
    }
  }
}

}  // namespace

ParseResult ParseDescription(std::string_view text) { return Parser().Run(text); }

std::string FormatDescription(const MapDescription& d) {
  std::ostringstream out;
  out << "header version=" << HexNumber(d.version) << " flags=";
  std::string flags;
  if (d.wideEntries) flags += "wide-entries,";
  if (d.compressed) flags += "compressed,";
  std::uint8_t extra = d.extraFlags & static_cast<std::uint8_t>(~(kFlagWideEntries | kFlagCompressed));
  if (extra != 0) flags += HexNumber(extra) + ",";
  if (flags.empty()) flags = "none,";
  flags.pop_back();
  out << flags;
  out << " word4=" << HexNumber(d.word4) << " byte6=" << HexNumber(d.byte6)
      << " word44=" << HexNumber(d.word44);
  if (d.runPerTile) out << " runs=per-tile";
  if (!d.checkTexts) out << " texts=free";
  out << '\n';
  if (d.box) out << "box " << RectText(*d.box) << '\n';
  if (d.regionBox) out << "region " << RectText(*d.regionBox) << '\n';
  if (d.levelMasks) {
    out << "levelmasks ";
    for (int i = 0; i < 8; ++i) out << (i > 0 ? "," : "") << HexNumber((*d.levelMasks)[i]);
    out << '\n';
  }
  if (d.classes) {
    for (int c = 0; c < 4; ++c) {
      out << "classes " << kCategoryNames[c] << " presence=" << d.classes->presence[c] << " levels=";
      for (int i = 0; i < 8; ++i) out << (i > 0 ? "," : "") << HexNumber(d.classes->levels[c][i]);
      out << '\n';
    }
  }
  for (const std::string& a : d.annotations) {
    out << "annotation " << (NeedsQuotes(a) ? Quote(a) : a) << '\n';
  }
  for (const Tile& tile : d.tiles) {
    if (tile.place) {
      out << "tile level=" << tile.place->level << " point=" << PointText(tile.place->point) << '\n';
    } else {
      out << "tile id=" << HexNumber(tile.id) << '\n';
    }
    for (const Record& rec : tile.records) WriteRecord(out, rec);
  }
  return out.str();
}

}  // namespace rmfbuild
