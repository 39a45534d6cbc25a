// Area rings in the feature query: the crossings of area rings with the query
// boundary, the pieces of the boundary that lie inside areas, and the area
// that encloses the whole query polygon when no ring crosses it.
//
// An area lies to the right of a "+" ring and to the left of a "-" ring.
// Where a ring's run comes into the polygon the area (seen along the
// counter-clockwise boundary) begins for a "+" ring and ends for a "-" ring;
// each such place is a crossing record with direction +1 (the area opens) or
// -1 (it closes) and the distance along the boundary. Once a source's area
// records are walked, the crossings are sorted along the boundary (a closing
// record before an opening one at the same place), areas whose crossings do
// not balance are mended or dropped, and a sweep along the boundary hands
// out, one a call, every stretch between two crossings that lies inside one
// or more areas, with the texts of the areas open there.
//
// When no ring crosses the boundary the polygon lies wholly inside or
// outside every area; the area around it is found from rings wholly inside
// the polygon (the nearest one seen from the polygon's left side tells on
// which side of it the polygon's boundary lies), from a repeated pair (a
// line with the same area on both sides, such as a tile cut through the
// area) that meets the polygon, or, when no area record met the polygon at
// all, by the area search at the centre of the query box.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/features/RmfQueryAreasAtPoint.h"
#include "mapengine/format/features/RmfQueryInternal.h"

namespace rmf::query {

namespace {

using i128 = __int128;

// Quadrupled y of the reference line of the enclosing-area test: a quarter
// unit above the middle of the polygon's box, so that no vertex lies on it.
std::int64_t ReferenceLine4(const SourcePolygon& polygon, std::int32_t* minX) {
  std::int64_t low = polygon.corners[0].y;
  std::int64_t high = low;
  std::int32_t left = polygon.corners[0].x;
  for (std::int32_t i = 1; i < polygon.count; ++i) {
    low = std::min<std::int64_t>(low, polygon.corners[i].y);
    high = std::max<std::int64_t>(high, polygon.corners[i].y);
    left = std::min(left, polygon.corners[i].x);
  }
  if (minX != nullptr) *minX = left;
  return 2 * (low + high) + 1;
}

void CopyText(RmfQueryText* to, const char* code, const char* name, const char* detail) {
  std::snprintf(to->code, sizeof to->code, "%s", code);
  std::snprintf(to->name, sizeof to->name, "%s", name);
  std::snprintf(to->detail, sizeof to->detail, "%s", detail);
}

bool SameArea(const RmfQueryText& a, const char* code, const char* name, const char* detail) {
  return std::strncmp(a.code, code, 3) == 0 && std::strcmp(a.name, name) == 0 && std::strcmp(a.detail, detail) == 0;
}

// The open-area entry of a triple, made when new; kRmfNoAreaIndex when the
// table is full. The entry's balance moves by the direction.
std::uint16_t AreaTableAdd(RmfQueryWork& w, const TextView& t, std::int32_t direction) {
  for (std::int32_t i = 0; i < w.areaCount; ++i) {
    if (SameArea(w.areas[i].text, t.code, t.name, t.detail)) {
      w.areas[i].balance = static_cast<std::int16_t>(w.areas[i].balance + direction);
      return static_cast<std::uint16_t>(i);
    }
  }
  if (w.areaCount >= kRmfMaxOpenAreas) return kRmfNoAreaIndex;
  RmfOpenArea& a = w.areas[w.areaCount];
  CopyText(&a.text, t.code, t.name, t.detail);
  a.balance = static_cast<std::int16_t>(direction);
  return static_cast<std::uint16_t>(w.areaCount++);
}

// The code of an area whose entry did not fit: the lowest level, the first
// class of the area filter, "2" and "-".
void MadeUpCode(const RmfReader* reader, char code[6]) {
  const char klass = reader->query.filterTexts[2][0] != '\0' ? reader->query.filterTexts[2][0] : '0';
  code[0] = static_cast<char>('0' + std::clamp(reader->query.levelLow, 0, 9));
  code[1] = klass;
  code[2] = '2';
  code[3] = '-';
  code[4] = '\0';
}

// A code with "-" as its 4th character: the area lies to the left of the
// counter-clockwise boundary.
void LeftSideCode(const char* from, char code[6]) {
  char copy[6];
  std::snprintf(copy, sizeof copy, "%s", from);
  std::memcpy(code, copy, sizeof copy);
  const std::size_t n = std::strlen(code);
  if (n < 3) return;
  code[3] = '-';
  if (n < 4) code[4] = '\0';
}

void PutText(RmfReader* reader, const char* code, const char* name, const char* detail) {
  if (WriteResult(reader, code, static_cast<std::uint32_t>(std::strlen(code)), name,
                  static_cast<std::uint32_t>(std::strlen(name)), detail,
                  static_cast<std::uint32_t>(std::strlen(detail)))) {
    AcceptResult(reader);
  }
}

std::int32_t Balance(const RmfQueryWork& w, std::uint16_t area) {
  if (area != kRmfNoAreaIndex) return area < w.areaCount ? w.areas[area].balance : 0;
  std::int32_t sum = 0;
  for (std::int32_t i = 0; i < w.crossingCount; ++i) {
    if (w.crossings[i].area == kRmfNoAreaIndex) sum += w.crossings[i].direction;
  }
  return sum;
}

// Areas whose crossings do not balance (a ring only partly read, or one
// whose texts differ from tile to tile) are joined, at the nearest crossing
// of the other kind, with another unbalanced area of the same class; what
// still does not balance is dropped.
void Resolve(RmfQueryWork& w) {
  const std::int32_t m = w.crossingCount;
  bool balanced = true;
  for (std::int32_t i = 0; i < w.areaCount; ++i) balanced = balanced && w.areas[i].balance == 0;
  balanced = balanced && Balance(w, kRmfNoAreaIndex) == 0;
  if (balanced) return;
  for (std::int32_t i = 0; i < m; ++i) {
    const std::uint16_t a = w.crossings[i].area;
    const std::int32_t d = w.crossings[i].direction;
    if (a == kRmfNoAreaIndex || d == 0 || w.areas[a].balance == 0) continue;
    for (std::int32_t step = 1; step < m; ++step) {
      const std::int32_t j = ((i + d * step) % m + m) % m;
      RmfCrossing& c = w.crossings[j];
      if (c.direction != -d || c.area == a || c.area == kRmfNoAreaIndex) continue;
      RmfOpenArea& other = w.areas[c.area];
      if (other.balance == 0 || std::strncmp(other.text.code, w.areas[a].text.code, 3) != 0) continue;
      other.balance = static_cast<std::int16_t>(other.balance + d);
      w.areas[a].balance = static_cast<std::int16_t>(w.areas[a].balance - d);
      c.area = a;
      break;
    }
  }
  const bool lostBalanced = Balance(w, kRmfNoAreaIndex) == 0;
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < m; ++i) {
    const RmfCrossing& c = w.crossings[i];
    const bool ok = c.area == kRmfNoAreaIndex ? lostBalanced : w.areas[c.area].balance == 0;
    if (ok && c.direction != 0) w.crossings[kept++] = c;
  }
  w.crossingCount = kept;
}

// Removes an area from the open-ring list, searched from the top: false
// when it is not open.
bool CloseRing(RmfQueryWork& w, std::uint16_t area) {
  for (std::int32_t i = w.openCount - 1; i >= 0; --i) {
    if (w.openRings[i] != area) continue;
    for (std::int32_t j = i + 1; j < w.openCount; ++j) w.openRings[j - 1] = w.openRings[j];
    --w.openCount;
    return true;
  }
  return false;
}

void OpenRing(RmfQueryWork& w, std::uint16_t area) {
  if (w.openCount < kRmfMaxCrossings) w.openRings[w.openCount++] = area;
}

// Sets up the sweep from the first opening crossing, with the areas that
// are open there already (those whose closing comes before their opening).
void StartSweep(RmfQueryWork& w) {
  const std::int32_t m = w.crossingCount;
  std::int32_t s = 0;
  while (s < m && w.crossings[s].direction <= 0) ++s;
  if (s == m) s = 0;
  w.openCount = 0;
  std::uint16_t openAtStart[kRmfMaxCrossings];
  std::int32_t atStart = 0;
  std::int32_t deepest = 0;
  for (std::int32_t k = 0; k < m; ++k) {
    const RmfCrossing& c = w.crossings[(s + k) % m];
    if (c.direction > 0) {
      OpenRing(w, c.area);
      deepest = std::max(deepest, w.openCount);
    } else if (!CloseRing(w, c.area) && atStart < kRmfMaxCrossings) {
      openAtStart[atStart++] = c.area;
    }
  }
  w.openCount = 0;
  for (std::int32_t i = atStart - 1; i >= 0; --i) OpenRing(w, openAtStart[i]);
  w.nested = atStart > 0 || deepest > 1 ? 1 : 0;
  w.crossingIndex = s;
  w.piecesLeft = m;
  w.state = w.nested != 0 ? kNestedPieces : kPieces;
}

// The area around the polygon from the rings lying wholly inside it: the
// ring crossing the reference line nearest to the polygon's left side tells
// on which of its sides the polygon's boundary lies.
bool AreaFromInnerRings(RmfReader* reader, const SourcePolygon& polygon, RmfQueryText* text) {
  const RmfQueryWork& w = reader->queryWork;
  if (w.candidateCount < 1 || w.candidatesLost != 0) return false;
  std::int32_t minX = 0;
  const std::int64_t y4 = ReferenceLine4(polygon, &minX);
  const double y = static_cast<double>(y4) / 4.0;
  std::int32_t best = -1;
  double bestX = 0;
  for (std::int32_t i = 0; i < w.candidateCount; ++i) {
    const RmfOutlineCandidate& c = w.candidates[i];
    const double x = c.previous.x + (y - c.previous.y) * (static_cast<double>(c.point.x) - c.previous.x) /
                                        (static_cast<double>(c.point.y) - c.previous.y);
    if (best < 0 || x < bestX) {
      best = i;
      bestX = x;
    }
  }
  const RmfOutlineCandidate& c = w.candidates[best];
  // Side of the reference point (left of the polygon, on the line) against
  // the ring's segment, exact in quadrupled units.
  const std::int64_t dx = std::int64_t{c.point.x} - c.previous.x;
  const std::int64_t dy = std::int64_t{c.point.y} - c.previous.y;
  const std::int64_t rx4 = 4 * (std::int64_t{minX} - 1) - 4 * std::int64_t{c.previous.x};
  const std::int64_t ry4 = y4 - 4 * std::int64_t{c.previous.y};
  const i128 cross = static_cast<i128>(dx) * ry4 - static_cast<i128>(dy) * rx4;
  const int side = (cross > 0) - (cross < 0);
  if (side * c.sign >= 0) return false;  // the area lies on the ring's other side
  *text = c.text;
  return true;
}

}  // namespace

void AreaStartSource(RmfReader* reader) {
  RmfQueryWork& w = reader->queryWork;
  w.crossingCount = 0;
  w.crossingIndex = 0;
  w.crossingsLost = 0;
  w.areaCount = 0;
  w.openCount = 0;
  w.piecesLeft = 0;
  w.nested = 0;
  w.candidateCount = 0;
  w.candidatesLost = 0;
  w.sawMatching = 0;
  w.sawRepeated = 0;
  w.repeatedSaved = 0;
}

void AreaAddCrossing(RmfReader* reader, const SourcePolygon& polygon, const BoundaryPoint& at, std::int32_t direction) {
  RmfQueryWork& w = reader->queryWork;
  if (at.edge < 0 || at.edge >= polygon.count) return;
  const auto p = static_cast<std::int32_t>(at.along >> 16);
  const std::int32_t sides = std::min(w.resultCount, 2);
  for (std::int32_t k = 0; k < sides; ++k) {
    const std::int32_t d = direction * w.ringSigns[k];
    const std::uint16_t area = AreaTableAdd(w, ResultText(reader, k), d);
    if (w.crossingCount >= kRmfMaxCrossings) {
      w.crossingsLost = 1;
      continue;
    }
    RmfCrossing& c = w.crossings[w.crossingCount++];
    c.position = 2 * p + (d > 0 ? 1 : 0);
    c.direction = static_cast<std::int16_t>(d);
    c.edgeBits = static_cast<std::uint16_t>(1u << at.edge);
    c.area = area;
    c.fraction = static_cast<std::uint16_t>(at.along & 0xffff);
    c.x = at.point.x;
    c.y = at.point.y;
  }
}

void AreaAddCandidate(RmfReader* reader, const SourcePolygon& polygon, const TiPoint& previous, const TiPoint& point) {
  RmfQueryWork& w = reader->queryWork;
  if (w.resultCount < 1 || polygon.count < 1) return;
  const std::int64_t y4 = ReferenceLine4(polygon, nullptr);
  if ((4 * std::int64_t{previous.y} > y4) == (4 * std::int64_t{point.y} > y4)) return;
  if (w.candidateCount >= kRmfMaxOutlineCandidates) {
    w.candidatesLost = 1;
    return;
  }
  RmfOutlineCandidate& c = w.candidates[w.candidateCount++];
  c.point = point;
  c.previous = previous;
  const TextView t = ResultText(reader, 0);
  CopyText(&c.text, t.code, t.name, t.detail);
  c.sign = w.ringSigns[0];
}

std::int32_t AreaSettle(RmfReader* reader, const Outputs& out) {
  RmfQueryWork& w = reader->queryWork;
  w.state = kEndOfAreas;
  if (w.crossingsLost != 0) {
    // Pieces made from part of the crossings could claim the wrong stretches.
    reader->lastError = kRmfNoMemory;
    return 0;
  }
  if (w.crossingCount > 0) {
    // Along the boundary; at one place a closing record before an opening one.
    std::stable_sort(w.crossings, w.crossings + w.crossingCount, [](const RmfCrossing& a, const RmfCrossing& b) {
      if ((a.position >> 1) != (b.position >> 1)) return (a.position >> 1) < (b.position >> 1);
      if (a.fraction != b.fraction) return a.fraction < b.fraction;
      return (a.position & 1) < (b.position & 1);
    });
    Resolve(w);
    if (w.crossingCount > 0) {
      StartSweep(w);
      return 0;
    }
  }

  // No ring crosses the boundary: look for an area around the polygon.
  const SourcePolygon polygon = CurrentPolygon(reader);
  if (polygon.count < 1) return 0;
  RmfQueryText text{};
  bool found = false;
  bool backwards = false;
  if (w.sawMatching != 0) {
    found = AreaFromInnerRings(reader, polygon, &text);
    if (found) LeftSideCode(text.code, text.code);
  } else if (w.sawRepeated != 0) {
    found = true;
    if (w.repeatedSaved != 0) {
      text = w.repeatedText;
      LeftSideCode(text.code, text.code);
    } else {
      MadeUpCode(reader, text.code);
    }
  } else {
    found = AreaAroundCentre(reader, w.sourceBox, &text);
    // The outline runs so that the area lies on the side its code names.
    backwards = !(std::strlen(text.code) >= 4 && text.code[3] == '-');
  }
  if (!found) return 0;
  const std::int32_t n = RmfQueryAreaOutline(reader, backwards ? 1 : 0);
  ResetResults(reader);
  PutText(reader, text.code, text.name, text.detail);
  ++w.areaHits;
  Deliver(reader, out, nullptr);
  return n;
}

std::int32_t AreaNextPiece(RmfReader* reader, const Outputs& out) {
  RmfQueryWork& w = reader->queryWork;
  const SourcePolygon polygon = CurrentPolygon(reader);
  const std::int32_t m = w.crossingCount;
  while (w.piecesLeft > 0 && m > 0 && polygon.count > 0) {
    const std::int32_t k = w.crossingIndex;
    const RmfCrossing& c = w.crossings[k];
    if (c.direction > 0) {
      OpenRing(w, c.area);
    } else {
      CloseRing(w, c.area);
    }
    const std::int32_t next = (k + 1) % m;
    w.crossingIndex = next;
    --w.piecesLeft;
    if (w.openCount == 0) continue;

    // The stretch from this crossing to the next along the boundary, with
    // the corners between them.
    const RmfCrossing& to = w.crossings[next];
    const std::int64_t from = c.position / 2;
    const std::int64_t until = to.position / 2;
    const bool wraps = next <= k;
    std::int32_t n = 0;
    TiPoint* pts = w.points;
    const auto add = [&](const TiPoint& p) {
      if (n > 0 && pts[n - 1].x == p.x && pts[n - 1].y == p.y) return;
      if (n < kRmfPointBufferPoints) pts[n++] = p;
    };
    add(TiPoint{c.x, c.y});
    const auto cornerAt = [&](std::int32_t i) {
      return static_cast<std::int64_t>(polygon.lengths[i]) - 50;  // corner i ends edge i
    };
    if (!wraps) {
      for (std::int32_t i = 0; i < polygon.count; ++i) {
        if (cornerAt(i) > from && cornerAt(i) < until) add(polygon.corners[i]);
      }
    } else {
      for (std::int32_t i = 0; i < polygon.count; ++i) {
        if (cornerAt(i) > from) add(polygon.corners[i]);
      }
      for (std::int32_t i = 0; i < polygon.count; ++i) {
        if (cornerAt(i) < until) add(polygon.corners[i]);
      }
    }
    add(TiPoint{to.x, to.y});

    ResetResults(reader);
    for (std::int32_t i = 0; i < w.openCount; ++i) {
      const std::uint16_t a = w.openRings[i];
      char code[6];
      if (a == kRmfNoAreaIndex || a >= w.areaCount) {
        MadeUpCode(reader, code);
        PutText(reader, code, "", "");
      } else {
        LeftSideCode(w.areas[a].text.code, code);
        PutText(reader, code, w.areas[a].text.name, w.areas[a].text.detail);
      }
    }
    ++w.areaHits;
    Deliver(reader, out, nullptr);
    return n;
  }
  w.state = kEndOfAreas;
  return 0;
}

}  // namespace rmf::query
