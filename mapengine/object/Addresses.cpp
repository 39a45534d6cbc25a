// Addresses from feature ids: the house number at a position on a street, a
// house number placed on its street, the cross streets of a street and its
// postal code. A street is named on the interface by its map's name and three
// feature ids; its house numbers come from the address-range attributes of its
// pieces, decoded by HouseNumbers.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/HouseNumbers.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/ResultObjects.h"
#include "platform/com/guard.h"
#include "platform/com/variant_array.h"

namespace {

// Where a house number lands along a piece: never at an end itself, so that
// the placed point stays on the piece's own segment.
constexpr double kFractionFirst = 0.0045;
constexpr double kFractionLast = 0.9955;

// Features followed beyond a street's ends, and pieces collected in all.
constexpr std::size_t kMaxConnectedFeatures = 200;
constexpr std::size_t kMaxCollectedPieces = 1000;

// Parts of an address-range text taken apart at "|" at most.
constexpr std::size_t kMaxRangeTextParts = 500;

// The three parts of one address range: orientation code (the characters after
// "x2B" in the attribute code), scheme code and range text.
struct AddressRangeParts {
  std::u16string orientation;
  std::u16string scheme;
  std::u16string range;
};

std::vector<std::u16string> SplitAtBars(std::u16string_view text, std::size_t limit) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (parts.size() + 1 < limit) {
    const std::size_t bar = text.find(u'|', start);
    if (bar == std::u16string_view::npos) break;
    parts.emplace_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

// A group of three parts read with codes: the orientation is what follows the
// first three characters of the attribute code ("12B-+" gives "-+").
AddressRangeParts PartsOfGroup(const std::u16string& code, const std::u16string& scheme,
                               const std::u16string& range) {
  return {code.size() > 3 ? code.substr(3) : std::u16string(), scheme, range};
}

// Splits a range text read with codes into its three parts; false unless it
// holds exactly one range.
bool SplitAddressRangeText(std::u16string_view text, AddressRangeParts* out) {
  const std::vector<std::u16string> parts = SplitAtBars(text, 4);
  if (parts.size() != 3) return false;
  *out = PartsOfGroup(parts[0], parts[1], parts[2]);
  return true;
}

DegreePoint ToDegrees(TiPoint p) { return MapUnitsToDegrees(p.x, p.y); }

// The house number at `fraction` along the range, on the second side (side
// flag 0) or the first; "" when the side has no numbers or the range does not
// decode.
std::u16string HouseNumberAtFraction(const AddressRangeParts& parts, double fraction, int sideFlag) {
  HouseNumberRange numbers;
  HouseNumberTexts texts;
  if (DecodeHouseNumberRange(parts.orientation, parts.scheme, parts.range, numbers) == kHouseNumberRangeBad ||
      !DecodeHouseNumberRangeTexts(parts.orientation, parts.scheme, parts.range, texts)) {
    return {};
  }
  const bool second = sideFlag == 0;
  const std::int32_t from = second ? numbers.from2 : numbers.from1;
  const std::int32_t to = second ? numbers.to2 : numbers.to1;
  if (from <= 0) return {};
  std::u16string prefix;
  if (!parts.scheme.empty() && parts.scheme[0] == u'A') {
    prefix = second ? texts.from2 : texts.from1;
    HouseNumberLetterPart(prefix);
  }
  if (!std::isfinite(fraction)) fraction = 0.0;
  fraction = std::clamp(fraction, 0.0, 1.0);
  const std::int64_t low = std::min(from, to);
  const std::int64_t high = std::max(from, to);
  const std::int64_t span = high - low;
  if (to < from) fraction = 1.0 - fraction;
  const double along = static_cast<double>(span) * fraction;
  std::int64_t number = low + static_cast<std::int64_t>(along);
  if ((from - to) % 2 == 0) {
    // Both ends share a parity: so does every number of the range.
    if ((number - low) % 2 != 0) number = number + 1 <= high ? number + 1 : number - 1;
  } else if (along + 0.5 > static_cast<double>(span)) {
    number = number + 1 <= high ? number + 1 : number;
  }
  return prefix + HouseNumberText(static_cast<std::int32_t>(std::clamp<std::int64_t>(number, 1, INT32_MAX)));
}

// How near the range of one piece comes to a house number.
struct PieceMatch {
  bool holds = false;
  std::int64_t distance = -1;  // -1: no number on the piece
  int side = 1;                // 1 first range, 0 second
  AddressRangeParts parts;
};

PieceMatch MatchHouseNumberOnPiece(std::u16string_view rangeText, std::u16string_view number) {
  PieceMatch best;
  const std::vector<std::u16string> parts = SplitAtBars(rangeText, kMaxRangeTextParts);
  const std::int64_t value = HouseNumberValue(number);
  for (std::size_t i = 0; i + 2 < parts.size(); i += 3) {
    const AddressRangeParts group = PartsOfGroup(parts[i], parts[i + 1], parts[i + 2]);
    HouseNumberTexts texts;
    if (!DecodeHouseNumberRangeTexts(group.orientation, group.scheme, group.range, texts)) continue;
    const bool letters = !group.scheme.empty() && group.scheme[0] == u'A';
    const int which = WhichRangeHoldsNumber(number, texts.from1, texts.to1, texts.from2, texts.to2, letters);
    if (which != kHouseNumberInNoRange) {
      best.holds = true;
      best.distance = 0;
      best.side = which == kHouseNumberInFirstRange ? 1 : 0;
      best.parts = group;
      return best;
    }
    HouseNumberRange numbers;
    if (DecodeHouseNumberRange(group.orientation, group.scheme, group.range, numbers) == kHouseNumberRangeBad) {
      continue;
    }
    const std::int32_t ends[4] = {numbers.from1, numbers.to1, numbers.from2, numbers.to2};
    for (int e = 0; e < 4; ++e) {
      if (ends[e] <= 0) continue;
      const std::int64_t d = value > ends[e] ? value - ends[e] : ends[e] - value;
      if (best.distance < 0 || d < best.distance) {
        best.distance = d;
        best.side = e < 2 ? 1 : 0;
        best.parts = group;
      }
    }
  }
  return best;
}

// Where along the piece the number lies, from 0.0045 to 0.9955: by
// interpolation over the side's range, or at the nearer end of it.
double HouseNumberFraction(const AddressRangeParts& parts, std::u16string_view number, int side, bool interpolate) {
  HouseNumberRange numbers;
  if (DecodeHouseNumberRange(parts.orientation, parts.scheme, parts.range, numbers) == kHouseNumberRangeBad) {
    return kFractionFirst;
  }
  const std::int64_t from = side == 0 ? numbers.from2 : numbers.from1;
  const std::int64_t to = side == 0 ? numbers.to2 : numbers.to1;
  const std::int64_t value = HouseNumberValue(number);
  if (!interpolate) {
    return std::llabs(value - to) <= std::llabs(value - from) ? kFractionLast : kFractionFirst;
  }
  std::int64_t span = std::llabs(to - from);
  if ((to - from) % 2 != 0) span += 1;
  if (span == 0) return 0.5;
  const double fraction = static_cast<double>(std::llabs(value - from)) / static_cast<double>(span);
  return std::clamp(fraction, kFractionFirst, kFractionLast);
}

// The point at `fraction` of the piece's length in feet; at the two end
// fractions, half of the mean segment length in from that end.
TiPoint PlaceAlongPoints(const TiPoint* points, std::int32_t count, double fraction) {
  if (count < 2) return count == 1 ? points[0] : TiPoint{0, 0};
  std::vector<double> lengths(static_cast<std::size_t>(count - 1));
  double total = 0.0;
  for (std::int32_t i = 0; i + 1 < count; ++i) {
    lengths[i] = DistanceFeetBetweenMapPoints(points[i].x, points[i].y, points[i + 1].x, points[i + 1].y);
    total += lengths[i];
  }
  if (total <= 0.0) return points[0];
  double target = total * fraction;
  if (fraction <= kFractionFirst) target = total / count / 2.0;
  if (fraction >= kFractionLast) target = total - total / count / 2.0;
  for (std::int32_t i = 0; i + 1 < count; ++i) {
    if (target <= lengths[i] || i + 2 == count) {
      const double t = lengths[i] > 0.0 ? std::clamp(target / lengths[i], 0.0, 1.0) : 0.0;
      return TiPoint{static_cast<std::int32_t>(std::lround(points[i].x + (points[i + 1].x - points[i].x) * t)),
                     static_cast<std::int32_t>(std::lround(points[i].y + (points[i + 1].y - points[i].y) * t))};
    }
    target -= lengths[i];
  }
  return points[count - 1];
}

HRESULT NewTextOut(BSTR* out, std::u16string_view text) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace

bool CMap::FindFeatureByIds(BSTR mapName, LONG fid1, LONG fid2, LONG fid3, RmfFeatureRef* out) const {
  const int mapNumber = GetMapIndexByName(BstrView(mapName));
  // Map numbers run from 1 to the number of maps loaded; anything else names
  // no map of the reader.
  if (mapNumber < 1 || mapNumber > m_nMapsLoaded || m_Rdr == nullptr) return false;
  RmfFeatureRef reference{};
  if (RmfFeatureRefFromIds(m_Rdr.get(), mapNumber, static_cast<std::uint32_t>(fid1), static_cast<std::uint32_t>(fid2),
                           static_cast<std::uint32_t>(fid3), &reference) != 1) {
    return false;
  }
  TiPoint points[kMaxFeaturePoints];
  if (GetFeaturePointsCapped(m_Rdr.get(), reference, points) < 1) return false;
  *out = reference;
  return true;
}

std::u16string CMap::ReadAddressRangeText(const RmfFeatureRef& feature, bool withCodes) const {
  std::u16string text;
  if (m_Rdr == nullptr) return text;
  char code[6];
  char value[51];
  char name[251];
  for (std::int32_t index = 0;; ++index) {
    if (RmfFeatureAttribute(m_Rdr.get(), feature, index, code, value, name) <= 0) break;
    if (code[0] == '\0' || code[1] != '2' || code[2] != 'B') continue;
    if (!text.empty()) text += u'|';
    if (withCodes) text += AttributeTextToWide(code) + u'|';
    text += AttributeTextToWide(value) + u'|' + AttributeTextToWide(name);
  }
  return text;
}

bool CMap::AddressLiesOnFeature(const RmfFeatureRef& feature, std::u16string_view address) const {
  const std::u16string_view number = address.substr(0, address.find(u' '));
  return !number.empty() && MatchHouseNumberOnPiece(ReadAddressRangeText(feature, true), number).holds;
}

template <class Belongs>
std::vector<RmfFeatureRef> CMap::CollectConnectedPieces(const RmfFeatureRef& feature, const Belongs& belongs) {
  RmfReader* reader = m_Rdr.get();
  const auto split = [reader](const RmfFeatureRef& reference) { return SplitFeatureRef(reader, reference); };
  const auto whole = [reader](const RmfFeatureRef& reference) { return WholeFeatureRef(reader, reference); };
  const auto sameFeature = [](const RmfFeatureRef& a, const RmfFeatureRef& b) {
    return a.featureId == b.featureId && a.source == b.source && a.secondId == b.secondId && a.part == b.part;
  };

  // A reference to a part of the feature stands for all of it.
  const RmfFeatureRef start = whole(feature);
  std::vector<RmfFeatureRef> pieces;
  for (const RmfFeatureRef& piece : split(start)) {
    if (belongs(piece)) pieces.push_back(piece);
  }
  if (pieces.empty()) return pieces;
  std::vector<RmfFeatureRef> taken{start};

  // One end at a time: the first connected feature of the street that meets
  // the end with one of its own ends and belongs, turned to run on from it.
  TiPoint ends[kMaxFeaturePoints];
  for (const bool forward : {true, false}) {
    while (taken.size() < kMaxConnectedFeatures && pieces.size() < kMaxCollectedPieces) {
      const std::int32_t n = GetFeaturePointsCapped(reader, forward ? pieces.back() : pieces.front(), ends);
      if (n < 1) break;
      const TiPoint end = forward ? ends[n - 1] : ends[0];
      std::vector<RmfFeatureRef> near;
      GetNearbyCrossStreetFeatures(reader, end, 1, 4, 15, &near, "4567");
      bool extended = false;
      for (const RmfFeatureRef& candidate : near) {
        const RmfFeatureRef next = whole(candidate);
        if (std::any_of(taken.begin(), taken.end(), [&](const RmfFeatureRef& t) { return sameFeature(t, next); })) {
          continue;
        }
        const std::int32_t m = GetFeaturePointsCapped(reader, next, ends);
        if (m < 2 || !belongs(next)) continue;
        const bool startsHere = TiSamePoint(ends[0], end);
        const bool endsHere = TiSamePoint(ends[m - 1], end);
        if (!startsHere && !endsHere) continue;
        RmfFeatureRef oriented = next;
        // Forward the feature must leave the end; backward it must arrive there.
        if (forward != startsHere && RmfFeatureRefReverse(reader, next, &oriented) != 1) continue;
        const std::vector<RmfFeatureRef> more = split(oriented);
        if (more.empty()) continue;
        taken.push_back(next);
        pieces.insert(forward ? pieces.end() : pieces.begin(), more.begin(), more.end());
        extended = true;
        break;
      }
      if (!extended) break;
    }
  }
  return pieces;
}

std::vector<RmfFeatureRef> CMap::CollectRangePieces(const RmfFeatureRef& feature, std::u16string_view rangeText) {
  const std::u16string name = GetFeatureAttribute(*this, feature, kAttributeStreetName, false);
  return CollectConnectedPieces(feature, [&](const RmfFeatureRef& piece) {
    return ReadAddressRangeText(piece, false) == rangeText &&
           GetFeatureAttribute(*this, piece, kAttributeStreetName, false) == name;
  });
}

std::vector<RmfFeatureRef> CMap::CollectStreetPieces(const RmfFeatureRef& feature, std::u16string_view area,
                                                     bool byPostcode) {
  const std::u16string name = GetFeatureAttribute(*this, feature, kAttributeStreetName, false);
  return CollectConnectedPieces(feature, [&](const RmfFeatureRef& piece) {
    return GetFeatureAttribute(*this, piece, byPostcode ? kAttributePostcode : kAttributeCity, false) == area &&
           GetFeatureAttribute(*this, piece, kAttributeStreetName, false) == name;
  });
}

void CMap::GetAddressInternal(CLocationDetails& details, double latitude, double longitude,
                              const RmfFeatureRef& street, std::int32_t heading) {
  details.m_dLatitude = latitude;
  details.m_dLongitude = longitude;
  if (m_Rdr == nullptr || IsNullFeatureRef(street)) return;
  RmfReader* reader = m_Rdr.get();

  TiPoint points[kMaxFeaturePoints];
  const std::int32_t count = GetFeaturePointsCapped(reader, street, points);
  bool reversed = false;
  if (count >= 2 && heading != -1) {
    const std::int32_t bearing =
        BearingBetweenMapPoints(points[count - 2].x, points[count - 2].y, points[count - 1].x, points[count - 1].y);
    reversed = !AreHeadingAndOrientationSimilar(heading, bearing, 90);
  }

  AddressRangeParts parts;
  if (!SplitAddressRangeText(ReadAddressRangeText(street, true), &parts)) {
    // No single range on this street: the position stays, no house number.
    AssignBstr(details.m_bstrHouseNumber, u"");
    return;
  }

  // The ranges as the street runs for the user: the first side is on the
  // right when walking the street's own way.
  HouseNumberRange numbers;
  HouseNumberTexts texts;
  if (DecodeHouseNumberRange(parts.orientation, parts.scheme, parts.range, numbers) != kHouseNumberRangeBad &&
      DecodeHouseNumberRangeTexts(parts.orientation, parts.scheme, parts.range, texts)) {
    struct Side {
      std::int32_t from;
      std::int32_t to;
      std::u16string fromText;
      std::u16string toText;
    };
    Side right{numbers.from1, numbers.to1, texts.from1, texts.to1};
    Side left{numbers.from2, numbers.to2, texts.from2, texts.to2};
    if (reversed) std::swap(right, left);
    for (Side* side : {&right, &left}) {
      if (side->from >= 1 && side->to < side->from) {
        std::swap(side->from, side->to);
        std::swap(side->fromText, side->toText);
      }
    }
    details.m_nAddressRightFrom = right.from;
    details.m_nAddressRightTo = right.to;
    details.m_nAddressLeftFrom = left.from;
    details.m_nAddressLeftTo = left.to;
    AssignBstr(details.m_bstrAddressRightFromAlphaNum, right.fromText);
    AssignBstr(details.m_bstrAddressRightToAlphaNum, right.toText);
    AssignBstr(details.m_bstrAddressLeftFromAlphaNum, left.fromText);
    AssignBstr(details.m_bstrAddressLeftToAlphaNum, left.toText);
  }

  // The foot of the position on the nearest segment of the range's pieces,
  // and how far along them it lies.
  const TiPoint position = DegreesToMapUnits(latitude, longitude);
  const std::vector<RmfFeatureRef> pieces = CollectRangePieces(street, ReadAddressRangeText(street, false));
  double total = 0.0;
  double partial = 0.0;
  std::int32_t nearest = -1;
  int sideFlag = 1;
  for (const RmfFeatureRef& piece : pieces) {
    const std::int32_t n = GetFeaturePointsCapped(reader, piece, points);
    for (std::int32_t i = 0; i + 1 < n; ++i) {
      const TiPoint a = points[i];
      const TiPoint b = points[i + 1];
      const std::int32_t length = DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y);
      const std::int32_t d = DistanceFeetToSegment(position, a, b);
      if (nearest < 0 || d < nearest) {
        nearest = d;
        const TiPoint foot = ProjectMapPointOntoSegment(a, b, position, false);
        const DegreePoint footDegrees = ToDegrees(foot);
        details.m_dLatitude = footDegrees.latitude;
        details.m_dLongitude = footDegrees.longitude;
        const std::int32_t across = BearingBetweenMapPoints(foot.x, foot.y, position.x, position.y) -
                                    BearingBetweenMapPoints(a.x, a.y, b.x, b.y);
        // The first range lies on the right of the street's own way.
        sideFlag = AreHeadingAndOrientationSimilar((across % 360 + 360) % 360, 90, 90) ? 1 : 0;
        partial = total + std::min<double>(DistanceFeetBetweenMapPoints(a.x, a.y, foot.x, foot.y), length);
      }
      total += length;
    }
  }
  // A range on pieces of no length has no "along": its start stands for it.
  const double fraction = total > 0.0 ? partial / total : 0.0;
  AssignBstr(details.m_bstrHouseNumber, HouseNumberAtFraction(parts, fraction, sideFlag));
}

HRESULT CMap::GetPostalFromFids(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3, BSTR* outPostalCode) {
  if (outPostalCode == nullptr) return E_POINTER;
  *outPostalCode = nullptr;
  return com::Guarded([&]() -> HRESULT {
    HRESULT hr = NewTextOut(outPostalCode, u"");
    if (FAILED(hr)) return hr;
    RmfFeatureRef feature{};
    if (!FindFeatureByIds(inMapName, inFid1, inFid2, inFid3, &feature)) return S_FALSE;
    BSTR postcode = nullptr;
    hr = NewTextOut(&postcode, GetFeatureAttribute(*this, feature, kAttributePostcode, false));
    if (FAILED(hr)) return hr;
    SysFreeString(*outPostalCode);
    *outPostalCode = postcode;
    return S_OK;
  });
}

HRESULT CMap::GetAddress(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3, BSTR inAddress,
                         IAddressDetails** outpAddressDetails, VARIANT_BOOL* outSuccessful) {
  if (outSuccessful == nullptr || outpAddressDetails == nullptr) return E_POINTER;
  *outSuccessful = VARIANT_FALSE;
  return com::Guarded([&]() -> HRESULT {
    RmfFeatureRef feature{};
    if (!FindFeatureByIds(inMapName, inFid1, inFid2, inFid3, &feature)) return S_FALSE;
    RmfReader* reader = m_Rdr.get();

    const std::u16string_view address = BstrView(inAddress);
    const std::u16string number(address.substr(0, address.find(u' ')));

    // The range the number belongs to: that of a piece of the feature that
    // holds it, else the feature's own.
    std::u16string rangeText = ReadAddressRangeText(feature, false);
    {
      const std::vector<RmfFeatureRef> own = SplitFeatureRef(reader, feature);
      for (const RmfFeatureRef& piece : own) {
        if (MatchHouseNumberOnPiece(ReadAddressRangeText(piece, true), number).holds) {
          rangeText = ReadAddressRangeText(piece, false);
          break;
        }
      }
    }

    // The piece that holds the number, else the one whose range ends nearest
    // to it; the first such piece along the street.
    const std::vector<RmfFeatureRef> pieces = CollectRangePieces(feature, rangeText);
    std::size_t chosen = pieces.size();
    PieceMatch best;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      PieceMatch match = MatchHouseNumberOnPiece(ReadAddressRangeText(pieces[i], true), number);
      if (match.distance < 0) continue;
      if (best.distance < 0 || match.distance < best.distance) {
        best = std::move(match);
        chosen = i;
        if (best.holds) break;
      }
    }
    // A range runs over every node-to-node piece of its street that carries
    // it: the number is placed along the whole run around the chosen piece,
    // not along that one piece.
    std::vector<TiPoint> run;
    if (chosen < pieces.size()) {
      const std::u16string chosenText = ReadAddressRangeText(pieces[chosen], true);
      std::size_t first = chosen;
      std::size_t last = chosen;
      while (first > 0 && ReadAddressRangeText(pieces[first - 1], true) == chosenText) --first;
      while (last + 1 < pieces.size() && ReadAddressRangeText(pieces[last + 1], true) == chosenText) ++last;
      TiPoint points[kMaxFeaturePoints];
      for (std::size_t i = first; i <= last; ++i) {
        const std::int32_t n = GetFeaturePointsCapped(reader, pieces[i], points);
        for (std::int32_t p = 0; p < n; ++p) {
          if (!run.empty() && TiSamePoint(run.back(), points[p])) continue;
          run.push_back(points[p]);
        }
      }
    } else {
      TiPoint points[kMaxFeaturePoints];
      const std::int32_t n = GetFeaturePointsCapped(reader, feature, points);
      run.assign(points, points + std::max<std::int32_t>(n, 0));
    }

    // A held number is interpolated over its range; another one goes to the
    // nearer end of the nearest range.
    const double fraction =
        best.distance < 0 ? kFractionFirst : HouseNumberFraction(best.parts, number, best.side, best.holds);
    const DegreePoint placed =
        ToDegrees(PlaceAlongPoints(run.data(), static_cast<std::int32_t>(run.size()), fraction));

    CAddressDetails* details = nullptr;
    HRESULT hr = CAddressDetails::CreateObject(&details);
    if (FAILED(hr)) return hr;
    std::unique_ptr<CAddressDetails, com::Releaser> owner(details);
    details->m_dLatitude = placed.latitude;
    details->m_dLongitude = placed.longitude;
    details->m_nSideOfStreet =
        best.distance < 0 ? CARTOVELSideUnknown : (best.side == 1 ? CARTOVELRightSide : CARTOVELLeftSide);
    details->m_nAddressMatched = best.holds ? 1 : 0;
    if (!AssignBstr(details->m_bstrStreetName, GetFeatureAttribute(*this, feature, kAttributeStreetName, false)) ||
        !AssignBstr(details->m_bstrZipPostalCode, GetFeatureAttribute(*this, feature, kAttributePostcode, false)) ||
        !AssignBstr(details->m_bstrAddress, address) ||
        !AssignBstr(details->m_bstrCity, GetFeatureAttribute(*this, feature, kAttributeCity, false)) ||
        !AssignBstr(details->m_bstrMap, BstrView(inMapName))) {
      return E_OUTOFMEMORY;
    }
    if (*outpAddressDetails != nullptr) (*outpAddressDetails)->Release();
    *outpAddressDetails = owner.release();
    *outSuccessful = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT CMap::MakeAddressObject(const std::u16string& name, TiPoint point, BSTR mapName, const std::u16string& city,
                                const std::u16string& postcode,
                                std::unique_ptr<IAddressObject, com::Releaser>* out) {
  out->reset();
  IUnknown* unknown = nullptr;
  if (FAILED(CoCreateInstance(CLSID_AddressObject, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&unknown)))) {
    return S_OK;
  }
  std::unique_ptr<IUnknown, com::Releaser> created(unknown);
  IAddressObject* address = nullptr;
  if (FAILED(OleRun(unknown)) ||
      FAILED(unknown->QueryInterface(IID_IAddressObject, reinterpret_cast<void**>(&address)))) {
    return S_OK;
  }
  std::unique_ptr<IAddressObject, com::Releaser> object(address);
  com::Bstr nameText, cityText, postcodeText;
  if (!nameText.Assign(name) || !cityText.Assign(city) || !postcodeText.Assign(postcode)) return E_OUTOFMEMORY;
  const DegreePoint at = ToDegrees(point);
  HRESULT hr = object->SetName(nameText);
  if (SUCCEEDED(hr)) hr = object->SetLatitude(at.latitude);
  if (SUCCEEDED(hr)) hr = object->SetLongitude(at.longitude);
  if (SUCCEEDED(hr)) hr = object->SetMap(mapName);
  if (SUCCEEDED(hr)) hr = object->SetStreet(nameText);
  if (SUCCEEDED(hr)) hr = object->SetCity(cityText);
  if (SUCCEEDED(hr)) hr = object->SetZipPostalcode(postcodeText);
  if (FAILED(hr)) return hr;
  *out = std::move(object);
  return S_OK;
}

HRESULT CMap::GetCrossStreetsInternal(const RmfFeatureRef& piece, const std::u16string& streetName,
                                      const std::u16string& city, const std::u16string& postcode, BSTR mapName,
                                      std::vector<std::unique_ptr<IAddressObject, com::Releaser>>& list) {
  RmfReader* reader = m_Rdr.get();
  TiPoint points[kMaxFeaturePoints];
  const std::int32_t count = GetFeaturePointsCapped(reader, piece, points);
  const std::u16string ownName = UpperCaseAsciiText(streetName);
  for (std::int32_t i = 0; i < count && list.size() < static_cast<std::size_t>(kCrossStreetCapacity); ++i) {
    std::vector<RmfFeatureRef> near;
    // Only streets that meet the point itself cross here.
    GetNearbyCrossStreetFeatures(reader, points[i], 1, 4, 15, &near, "4567");
    for (const RmfFeatureRef& feature : near) {
      if (list.size() >= static_cast<std::size_t>(kCrossStreetCapacity)) break;
      const std::u16string name = GetFeatureAttribute(*this, feature, kAttributeStreetName, false);
      const std::u16string upper = UpperCaseAsciiText(name);
      if (name.empty() || upper == ownName) continue;
      bool listed = false;
      for (const auto& object : list) {
        BSTR listedName = nullptr;
        if (SUCCEEDED(object->GetName(&listedName))) {
          listed = UpperCaseAsciiText(BstrView(listedName)) == upper;
          SysFreeString(listedName);
        }
        if (listed) break;
      }
      if (listed) continue;
      std::unique_ptr<IAddressObject, com::Releaser> object;
      const HRESULT hr = MakeAddressObject(name, points[i], mapName, city, postcode, &object);
      if (FAILED(hr)) return hr;
      if (object != nullptr) list.push_back(std::move(object));
    }
  }
  return S_OK;
}

HRESULT CMap::GetCrossStreets(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3, VARIANT_BOOL inMatchInZipcode,
                              VARIANT* pInOutListOfCrossStreetAddressObjects, LONG* outNumberCrossStreetsFound) {
  if (pInOutListOfCrossStreetAddressObjects == nullptr || outNumberCrossStreetsFound == nullptr) return E_POINTER;
  *outNumberCrossStreetsFound = 0;
  return com::Guarded([&]() -> HRESULT {
    RmfFeatureRef feature{};
    if (!FindFeatureByIds(inMapName, inFid1, inFid2, inFid3, &feature)) return S_FALSE;
    const std::u16string name = GetFeatureAttribute(*this, feature, kAttributeStreetName, false);
    const std::u16string postcode = GetFeatureAttribute(*this, feature, kAttributePostcode, false);
    const std::u16string city = GetFeatureAttribute(*this, feature, kAttributeCity, false);
    // Any non-zero flag asks for the postal code, in choosing the area and in
    // matching the pieces alike.
    const bool byPostcode = inMatchInZipcode != 0;
    const std::vector<RmfFeatureRef> pieces = CollectStreetPieces(feature, byPostcode ? postcode : city, byPostcode);

    std::vector<std::unique_ptr<IAddressObject, com::Releaser>> list;
    for (const RmfFeatureRef& piece : pieces) {
      if (list.size() >= static_cast<std::size_t>(kCrossStreetCapacity)) break;
      const HRESULT hr = GetCrossStreetsInternal(piece, name, city, postcode, inMapName, list);
      if (FAILED(hr)) return hr;
    }

    // The array takes a reference of its own; the list gives its up.
    com::VariantArray array;
    const HRESULT hr = com::PackObjects(
        list.size(), [&list](std::size_t i) -> IDispatch* { return list[i].get(); }, array);
    if (FAILED(hr)) return hr;
    VariantClear(pInOutListOfCrossStreetAddressObjects);
    array.MoveTo(pInOutListOfCrossStreetAddressObjects);
    *outNumberCrossStreetsFound = static_cast<LONG>(list.size());
    return S_OK;
  });
}
