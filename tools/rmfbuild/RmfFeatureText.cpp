// Reads the text form of a feature map (see RmfFeatures.h): a line is split
// into words and "quoted" texts, the first word names the statement, and
// statements after a `feature` line add to that feature.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "platform/os/text.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace rmfbuild {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool Tokenize(std::string_view line, std::vector<Token>* out, std::string* error) {
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    Token token;
    if (c != '"') {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') token.text += line[i++];
      out->push_back(std::move(token));
      continue;
    }
    token.quoted = true;
    ++i;
    bool closed = false;
    while (i < line.size()) {
      char ch = line[i++];
      if (ch == '"') {
        closed = true;
        break;
      }
      if (ch != '\\') {
        token.text += ch;
        continue;
      }
      if (i >= line.size()) break;
      ch = line[i++];
      switch (ch) {
        case 'n': token.text += '\n'; break;
        case 't': token.text += '\t'; break;
        case '"': token.text += '"'; break;
        case '\\': token.text += '\\'; break;
        case 'x': {
          const int hi = i < line.size() ? platform::HexDigit(line[i]) : -1;
          const int lo = i + 1 < line.size() ? platform::HexDigit(line[i + 1]) : -1;
          if (hi < 0 || lo < 0) {
            *error = "\\x needs two hex digits";
            return false;
          }
          token.text += static_cast<char>(hi * 16 + lo);
          i += 2;
          break;
        }
        default:
          *error = std::string("unknown escape \\") + ch;
          return false;
      }
    }
    if (!closed) {
      *error = "text without closing quote";
      return false;
    }
    out->push_back(std::move(token));
  }
  return true;
}

bool ParseNumber(const std::string& text, long long lo, long long hi, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParsePoint(const std::string& text, TiPoint* out) {
  const std::size_t comma = text.find(',');
  long long x = 0, y = 0;
  if (comma == std::string::npos || !ParseNumber(text.substr(0, comma), INT32_MIN, INT32_MAX, &x) ||
      !ParseNumber(text.substr(comma + 1), INT32_MIN, INT32_MAX, &y)) {
    return false;
  }
  *out = TiPoint{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
  return true;
}

class Parser {
 public:
  bool Line(std::string_view line, std::string* error) {
    std::vector<Token> t;
    if (!Tokenize(line, &t, error)) return false;
    if (t.empty() || (!t[0].quoted && !t[0].text.empty() && t[0].text[0] == '#')) return true;
    const std::string& word = t[0].text;
    if (word == "map") return Map(t, error);
    if (word == "annotation") return Annotation(line, t, error);
    if (word == "feature") return NewFeature(t, error);
    if (word == "points") return Points(t, 1, error);
    if (word == "ring") return Ring(t, error);
    if (word == "attr") return Attr(t, error);
    if (word == "vattr") return VertexAttr(t, error);
    if (word == "oneway") return OneWayMark(t, error);
    *error = "unknown statement \"" + word + "\"";
    return false;
  }

  FeatureMap& map() { return map_; }

 private:
  bool Map(const std::vector<Token>& t, std::string* error) {
    for (std::size_t i = 1; i < t.size(); ++i) {
      const std::string& w = t[i].text;
      const std::size_t eq = w.find('=');
      const std::string key = w.substr(0, eq);
      const std::string value = eq == std::string::npos ? std::string() : w.substr(eq + 1);
      long long n = 0;
      if (w == "compressed") {
        map_.compressed = true;
      } else if (w == "wide-entries") {
        map_.wideEntries = true;
      } else if (w == "separate-points") {
        map_.sharePoints = false;
      } else if (key == "version" && ParseNumber(value, 0, 255, &n)) {
        map_.version = static_cast<std::uint8_t>(n);
      } else if (key == "record-bytes" && ParseNumber(value, 1, 0xffff, &n)) {
        map_.recordBytes = static_cast<std::size_t>(n);
      } else if (key == "part-vertices" && ParseNumber(value, 1, 1 << 20, &n)) {
        map_.partVertices = static_cast<std::size_t>(n);
      } else if (key == "points" && (value == "auto" || value == "narrow" || value == "wide")) {
        map_.pointWidth = value == "auto" ? PointWidth::kAuto : value == "narrow" ? PointWidth::kNarrow : PointWidth::kWide;
      } else if (key == "levels" && Levels(value)) {
      } else {
        *error = "bad map option \"" + w + "\"";
        return false;
      }
    }
    return true;
  }

  // D:F[-C],...
  bool Levels(const std::string& value) {
    std::size_t start = 0;
    while (start <= value.size()) {
      const std::size_t comma = std::min(value.find(',', start), value.size());
      const std::string item = value.substr(start, comma - start);
      const std::size_t colon = item.find(':');
      if (colon == std::string::npos) return false;
      const std::string range = item.substr(colon + 1);
      const std::size_t dash = range.find('-');
      long long d = 0, f = 0, c = 0;
      if (!ParseNumber(item.substr(0, colon), 1, 8, &d) || !ParseNumber(range.substr(0, dash), 0, 15, &f)) {
        return false;
      }
      c = f;
      if (dash != std::string::npos && !ParseNumber(range.substr(dash + 1), 0, 15, &c)) return false;
      map_.tileLevels[static_cast<std::size_t>(d - 1)] = TileLevelRange{static_cast<int>(f), static_cast<int>(c)};
      start = comma + 1;
    }
    return true;
  }

  bool Annotation(std::string_view line, const std::vector<Token>& t, std::string* error) {
    if (t.size() == 2 && t[1].quoted) {
      map_.annotations.push_back(t[1].text);
      return true;
    }
    const std::size_t at = line.find("annotation") + 10;
    std::string_view rest = line.substr(at);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.remove_suffix(1);
    if (rest.empty()) {
      *error = "annotation without text";
      return false;
    }
    map_.annotations.emplace_back(rest);
    return true;
  }

  bool NewFeature(const std::vector<Token>& t, std::string* error) {
    if (t.size() < 4 || t[1].quoted || !t[2].quoted || !t[3].quoted) {
      *error = "feature needs a kind, a quoted code and a quoted name";
      return false;
    }
    FeatureCategory category{};
    const std::string& kind = t[1].text;
    if (kind == "point") {
      category = FeatureCategory::kPoint;
    } else if (kind == "line") {
      category = FeatureCategory::kLine;
    } else if (kind == "boundary") {
      category = FeatureCategory::kBoundary;
    } else if (kind == "area") {
      category = FeatureCategory::kArea;
    } else {
      *error = "unknown feature kind \"" + kind + "\"";
      return false;
    }
    std::optional<FeatureClass> c = FeatureClass::FromCode(t[2].text);
    if (!c) {
      *error = "code \"" + t[2].text + "\" is not a level digit, a class digit and a category";
      return false;
    }
    if (c->category != category) {
      *error = "code \"" + t[2].text + "\" is not of a " + kind;
      return false;
    }
    Feature f;
    f.featureClass = *c;
    f.name = t[3].text;
    std::size_t next = 4;
    if (next < t.size() && t[next].quoted) f.detail = t[next++].text;
    map_.features.push_back(std::move(f));
    return Points(t, next, error);
  }

  bool Points(const std::vector<Token>& t, std::size_t from, std::string* error) {
    if (from >= t.size()) return true;
    if (map_.features.empty() || map_.features.back().featureClass.category == FeatureCategory::kArea) {
      *error = "points belong to a point or line feature";
      return false;
    }
    for (std::size_t i = from; i < t.size(); ++i) {
      TiPoint p{};
      if (t[i].quoted || !ParsePoint(t[i].text, &p)) {
        *error = "bad point \"" + t[i].text + "\"";
        return false;
      }
      map_.features.back().points.push_back(p);
    }
    return true;
  }

  bool Ring(const std::vector<Token>& t, std::string* error) {
    if (map_.features.empty() || map_.features.back().featureClass.category != FeatureCategory::kArea) {
      *error = "a ring belongs to an area feature";
      return false;
    }
    FeatureRing ring;
    std::size_t i = 1;
    if (i < t.size() && !t[i].quoted && (t[i].text == "+" || t[i].text == "-")) ring.mark = t[i++].text[0];
    for (; i < t.size(); ++i) {
      TiPoint p{};
      if (t[i].quoted || !ParsePoint(t[i].text, &p)) {
        *error = "bad point \"" + t[i].text + "\"";
        return false;
      }
      ring.points.push_back(p);
    }
    map_.features.back().rings.push_back(std::move(ring));
    return true;
  }

  bool Triple(const std::vector<Token>& t, std::size_t at, TextTriple* out, std::string* error) {
    if (t.size() != at + 3 || !t[at].quoted || !t[at + 1].quoted || !t[at + 2].quoted) {
      *error = "expected three quoted texts: code, name, detail";
      return false;
    }
    *out = TextTriple{t[at].text, t[at + 1].text, t[at + 2].text};
    return true;
  }

  bool Attr(const std::vector<Token>& t, std::string* error) {
    if (map_.features.empty()) {
      *error = "attr before any feature";
      return false;
    }
    TextTriple triple;
    if (!Triple(t, 1, &triple, error)) return false;
    map_.features.back().attributes.push_back(std::move(triple));
    return true;
  }

  bool VertexAttr(const std::vector<Token>& t, std::string* error) {
    long long vertex = 0;
    if (map_.features.empty() || t.size() < 2 || t[1].quoted || !ParseNumber(t[1].text, 0, 1 << 30, &vertex)) {
      *error = "vattr needs a feature and a vertex number";
      return false;
    }
    TextTriple triple;
    if (!Triple(t, 2, &triple, error)) return false;
    map_.features.back().VertexAttr(static_cast<std::size_t>(vertex), std::move(triple));
    return true;
  }

  bool OneWayMark(const std::vector<Token>& t, std::string* error) {
    if (map_.features.empty() || t.size() != 2) {
      *error = "oneway needs a feature and along, against or both";
      return false;
    }
    OneWay way = OneWay::kBoth;
    if (t[1].text == "along") {
      way = OneWay::kAlong;
    } else if (t[1].text == "against") {
      way = OneWay::kAgainst;
    } else if (t[1].text != "both") {
      *error = "oneway takes along, against or both";
      return false;
    }
    if (!map_.features.back().SetOneWay(way)) {
      *error = "oneway needs a route-class attribute (code pair 7-1) before it";
      return false;
    }
    return true;
  }

  FeatureMap map_;
};

}  // namespace

FeatureParseResult ParseFeatureMap(std::string_view text) {
  FeatureParseResult out;
  Parser parser;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++lineNumber;
    std::string why;
    if (!parser.Line(text.substr(start, end - start), &why)) {
      out.error = "line " + std::to_string(lineNumber) + ": " + why;
      return out;
    }
    start = end + 1;
  }
  out.map = std::move(parser.map());
  out.ok = true;
  return out;
}

}  // namespace rmfbuild
