// Street names: attribute texts by number, the street name built from the
// pieces of a route-class name text, the predicates over a feature's
// attributes, and stripping and expanding names through the word tables.
#include "mapengine/object/StreetNames.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/object/CMap.h"
#include "platform/com/guard.h"
#include "platform/os/debug.h"
#include "platform/os/text.h"

namespace {

constexpr char kPieceSeparator = '\\';

// One attribute triple as the library hands it out.
struct AttributeTexts {
  char code[kRmfAttrCodeChars + 1];
  char value[kRmfAttrValueChars + 1];
  char name[kRmfAttrNameChars + 1];

  std::string_view Field(AttributeField field) const {
    switch (field) {
      case AttributeField::kCode: return code;
      case AttributeField::kValue: return value;
      case AttributeField::kName: return name;
    }
    return {};
  }
};

// Whether the code's second and third characters are the pair.
bool PairMatches(std::string_view code, std::string_view pair) {
  return pair.size() == 2 && code.size() >= 3 && code[1] == pair[0] && code[2] == pair[1];
}

// Attribute `index` of the feature: what the library answers, the number of
// attributes from this one to the last (at least 1), or 0 and below when
// there is none.
std::int32_t ReadAttribute(RmfReader* reader, const RmfFeatureRef& feature, std::int32_t index, AttributeTexts* out) {
  if (reader == nullptr) return 0;
  const std::int32_t left = RmfFeatureAttribute(reader, feature, index, out->code, out->value, out->name);
  if (left <= 0) return left;
  // The library terminates each text within its buffer; make sure of it.
  out->code[kRmfAttrCodeChars] = '\0';
  out->value[kRmfAttrValueChars] = '\0';
  out->name[kRmfAttrNameChars] = '\0';
  return left;
}

// The first attribute with the code pair.
bool FindAttribute(RmfReader* reader, const RmfFeatureRef& feature, std::string_view pair, AttributeTexts* out) {
  for (std::int32_t index = 0; ReadAttribute(reader, feature, index, out) > 0; ++index) {
    if (PairMatches(out->code, pair)) return true;
  }
  return false;
}

// Backslash-separated piece n (from 0); empty past the last piece.
std::string_view PieceAt(std::string_view text, int n) {
  if (n < 0) return {};
  for (; n > 0; --n) {
    const std::size_t separator = text.find(kPieceSeparator);
    if (separator == std::string_view::npos) return {};
    text.remove_prefix(separator + 1);
  }
  return text.substr(0, text.find(kPieceSeparator));
}

// The character at index n; empty past the end of the text.
std::string_view CharacterAt(std::string_view text, int n) {
  if (n < 0 || static_cast<std::size_t>(n) >= text.size()) return {};
  return text.substr(static_cast<std::size_t>(n), 1);
}

std::u16string CutAtColon(std::u16string text) {
  const std::size_t colon = text.find(u':');
  if (colon != std::u16string::npos) text.erase(colon);
  return text;
}

// The first number of a text: the decimal digits from its first digit; 0
// when it has none. Long digit runs saturate instead of overflowing.
long long FirstNumber(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] < '0' || text[at] > '9')) ++at;
  long long number = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (number > 100000000000000000LL) continue;
    number = number * 10 + (text[at] - '0');
  }
  return number;
}

// Applies `part` to the text before the first comma and to the text after it
// (one blank after the comma skipped), and joins the results with ", " when
// the second is not empty; a text without a comma is one part.
template <class Part>
std::u16string ByCommaParts(std::u16string_view text, Part part) {
  const std::size_t comma = text.find(u',');
  if (comma == std::u16string_view::npos) return part(text);
  std::u16string_view rest = text.substr(comma + 1);
  if (!rest.empty() && rest.front() == u' ') rest.remove_prefix(1);
  std::u16string joined = part(text.substr(0, comma));
  const std::u16string second = part(rest);
  if (!second.empty()) {
    joined += u", ";
    joined += second;
  }
  return joined;
}

bool IsDirectionLetter(char16_t c) {
  switch (LowerCaseChar(c)) {
    case u'n':
    case u's':
    case u'e':
    case u'w': return true;
    default: return false;
  }
}

bool Has(const CKeyValueTable* table, std::u16string_view key) { return table != nullptr && table->Contains(key); }

// Attribute numbers 2..16: where each text is read and whether it ends at
// its first ':' (the locality names carry a tag after one).
struct AttributeRow {
  const char* pair;
  AttributeField field;
  int piece;
  bool characterMode;
  bool cutAtColon;
};

constexpr AttributeRow kAttributeRows[] = {
    {"21", AttributeField::kName, 1, false, true},   // 2 city
    {"21", AttributeField::kName, 4, false, false},  // 3 state
    {"21", AttributeField::kValue, 1, false, false}, // 4 postal code
    {"71", AttributeField::kValue, 7, true, false},  // 5
    {"21", AttributeField::kName, 2, false, true},   // 6 borough
    {"21", AttributeField::kName, 3, false, true},   // 7 county
    {"21", AttributeField::kValue, 0, false, false}, // 8 country code
    {"71", AttributeField::kValue, 0, true, false},  // 9 road class
    {"71", AttributeField::kValue, 2, true, false},  // 10 speed class
    {"21", AttributeField::kName, 0, false, true},   // 11 locality
    {"71", AttributeField::kValue, 8, true, false},  // 12
    {"71", AttributeField::kValue, 4, true, false},  // 13
    {"71", AttributeField::kValue, 6, true, false},  // 14
    {"71", AttributeField::kValue, 1, true, false},  // 15 road kind
    {"71", AttributeField::kCode, 3, true, false},   // 16 direction mark
};
static_assert(std::size(kAttributeRows) == kLastAttributeNumber - 1);

}  // namespace

// ---- attribute texts -------------------------------------------------------------------

bool IsNullFeatureRef(const RmfFeatureRef& feature) {
  static_assert(sizeof(RmfFeatureRef) == 16);
  unsigned char bytes[sizeof(RmfFeatureRef)];
  std::memcpy(bytes, &feature, sizeof bytes);
  return std::all_of(std::begin(bytes), std::end(bytes), [](unsigned char b) { return b == 0; });
}

std::u16string AttributeTextToWide(std::string_view utf8) {
  std::u16string wide = platform::Utf8ToUtf16(utf8);
  if (wide.size() > kMaxAttributeTextChars) {
    wide.resize(kMaxAttributeTextChars);
    if (wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
  }
  return wide;
}

std::u16string ReadAttributeText(RmfReader* reader, const RmfFeatureRef& feature, std::string_view pair,
                                 AttributeField field, int piece, bool characterMode) {
  AttributeTexts texts;
  for (std::int32_t index = 0;; ++index) {
    const std::int32_t left = ReadAttribute(reader, feature, index, &texts);
    if (left <= 0) return {};
    if (!PairMatches(texts.code, pair)) continue;
    const std::string_view text = texts.Field(field);
    const std::string_view selected = characterMode ? CharacterAt(text, piece) : PieceAt(text, piece);
    if (!selected.empty() || left == 1) return AttributeTextToWide(selected);
  }
}

bool IsFeatureARamp(RmfReader* reader, const RmfFeatureRef& feature) {
  const std::u16string value = ReadAttributeText(reader, feature, "71", AttributeField::kValue, 0, false);
  return !value.empty() && value.front() == u'9';
}

bool IsFeatureRoadNetwork(RmfReader* reader, const RmfFeatureRef& feature) {
  AttributeTexts texts;
  for (std::int32_t index = 0; ReadAttribute(reader, feature, index, &texts) > 0; ++index) {
    if (PairMatches(texts.code, "51") || PairMatches(texts.code, "61") || PairMatches(texts.code, "71")) return true;
  }
  return false;
}

std::u16string CMap::GetAttributeText(const RmfFeatureRef& feature, std::string_view pair, AttributeField field,
                                      int piece, bool characterMode) const {
  return ReadAttributeText(m_Rdr.get(), feature, pair, field, piece, characterMode);
}

std::u16string CMap::GetClassName(const RmfFeatureRef& feature, int n) const {
  if (n < 0 || n > 4) return {};
  const char pair[2] = {static_cast<char>('2' + n), '2'};
  return CutAtColon(GetAttributeText(feature, std::string_view(pair, 2), AttributeField::kName, 0, false));
}

std::u16string GetFeatureAttribute(const CMap& map, const RmfFeatureRef& feature, int number, bool rampFlag) {
  if (IsNullFeatureRef(feature)) {
    OutputDebugStringW(u"CARTOVEL: GetFeatureAttribute IsFeatureValid false\n");
    return {};
  }
  if (number < kAttributeStreetName || number > kLastAttributeNumber) {
    OutputDebugStringW(u"CARTOVEL: GetFeatureAttribute Default Switch\n");
    return {};
  }
  if (number <= kAttributeSecondStreetName) {
    if (rampFlag && IsFeatureARamp(map.m_Rdr.get(), feature)) return map.LoadResourceString(kStringRampName);
    if (map.IsFeatureR(feature)) return map.LoadResourceString(kStringTrailName);
    if (map.IsFeatureW(feature)) {
      // A walkway is named by the area it lies in; without one it is just a
      // walkway, with no blank left hanging.
      std::u16string name = map.LoadResourceString(kStringWalkwayName);
      const std::u16string area = map.GetClassName(feature, 3);
      if (!area.empty()) {
        if (!name.empty()) name += u' ';
        name += area;
      }
      return name;
    }
    return map.BuildStreetName(feature, map.m_bStreetDetailed != 0, number == kAttributeSecondStreetName);
  }
  const AttributeRow& row = kAttributeRows[number - 2];
  std::u16string text = map.GetAttributeText(feature, row.pair, row.field, row.piece, row.characterMode);
  return row.cutAtColon ? CutAtColon(std::move(text)) : text;
}

// ---- street names ----------------------------------------------------------------------

CleanedNamePiece CMap::CleanNamePiece(std::string_view piece) {
  CleanedNamePiece cleaned;
  std::string_view text = piece;
  if (text.size() > 4 && text.front() == ':') {
    cleaned.routeNumber = text.find(":RN") != std::string_view::npos;
    const std::size_t slash = text.find('/');
    if (slash != std::string_view::npos) text.remove_prefix(slash + 1);
  } else {
    cleaned.plain = !text.empty() && text.front() != ':';
  }
  text = text.substr(0, text.find("///"));
  const std::size_t twin = text.find("//");
  if (twin == std::string_view::npos) {
    cleaned.text = text;
    return cleaned;
  }
  // "Main St//Main" and "I-5//Golden State Fwy": the second half adds to
  // the first unless the first already says it.
  const std::string_view first = text.substr(0, twin);
  const std::string_view second = text.substr(twin + 2);
  cleaned.text = first;
  if (first.find(second) == std::string_view::npos) {
    cleaned.text += ' ';
    cleaned.text += second;
  }
  return cleaned;
}

std::u16string StreetNameOfText(std::string_view nameText, bool detailed, bool second) {
  std::vector<CleanedNamePiece> pieces;
  std::string_view rest = nameText;
  while (static_cast<int>(pieces.size()) < kMaxNamePieces) {
    const std::size_t separator = rest.find(kPieceSeparator);
    pieces.push_back(CMap::CleanNamePiece(rest.substr(0, separator)));
    if (separator == std::string_view::npos) break;
    rest.remove_prefix(separator + 1);
  }

  int firstPlain = -1;
  int lastRouteNumber = -1;
  std::string routeNumbers;
  for (int i = 0; i < static_cast<int>(pieces.size()); ++i) {
    if (pieces[i].plain && firstPlain < 0) firstPlain = i;
    if (!pieces[i].routeNumber) continue;
    lastRouteNumber = i;
    if (second && !pieces[i].text.empty()) {
      if (!routeNumbers.empty()) routeNumbers += ", ";
      routeNumbers += pieces[i].text;
    }
  }
  const int chosen = firstPlain >= 0 ? firstPlain : (lastRouteNumber >= 0 ? lastRouteNumber : 0);

  std::string name = pieces[chosen].text;
  if (detailed) {
    for (int i = 0; i < static_cast<int>(pieces.size()); ++i) {
      if (i == chosen || pieces[i].text.empty()) continue;
      name += ", ";
      name += pieces[i].text;
    }
  }
  // A street that carries route numbers other than the one its name already
  // says ("B 96" named "B 96" needs no repeat) is named by them first.
  if (!routeNumbers.empty() && FirstNumber(routeNumbers) != FirstNumber(name)) name = routeNumbers + ", " + name;
  if (name.empty()) name = pieces.front().text;

  std::u16string wide = AttributeTextToWide(name);
  return detailed || second ? wide : CutAtColon(std::move(wide));
}

std::u16string CMap::BuildStreetName(const RmfFeatureRef& feature, bool detailed, bool second) const {
  AttributeTexts texts;
  if (!FindAttribute(m_Rdr.get(), feature, "71", &texts)) return {};
  return StreetNameOfText(texts.name, detailed, second);
}

std::u16string GetStreetName(const CMap& map, const RmfFeatureRef& feature, bool stripped, bool expanded,
                             bool second) {
  if (IsNullFeatureRef(feature)) {
    OutputDebugStringW(u"CARTOVEL: GetStreetName Invalid Feature\n");
    return {};
  }
  std::u16string name =
      GetFeatureAttribute(map, feature, second ? kAttributeSecondStreetName : kAttributeStreetName, true);
  if (name.empty()) {
    name = map.LoadResourceString(map.IsFeature8(feature) ? kStringRoundaboutName : kStringUnnamedStreet);
  }
  if (stripped) return map.StripStreetName(name);
  if (expanded) return map.ExpandStreetName(name);
  return name;
}

// ---- stripping and expanding -------------------------------------------------------------

const CKeyValueTable* CMap::WordTable(int n) const {
  if (n < 1 || n > static_cast<int>(std::size(m_pWordTables))) return nullptr;
  return m_pWordTables[n - 1].get();
}

std::u16string CMap::StripSuffix(std::u16string_view part, bool expand) const {
  const CKeyValueTable* types = WordTable(2);
  const std::size_t blank = part.rfind(u' ');
  if (types == nullptr || blank == std::u16string_view::npos) return std::u16string(part);
  const std::u16string_view last = part.substr(blank + 1);
  if (last.empty() || !types->Contains(last)) return std::u16string(part);
  std::u16string result(part.substr(0, blank));
  if (expand) {
    result += u' ';
    result += types->LookupView(last);
  }
  return result;
}

std::u16string CMap::ExpandSuffix(std::u16string_view part) const { return StripSuffix(part, true); }

std::u16string CMap::StripStreetName(std::u16string_view text) const {
  return ByCommaParts(text, [this](std::u16string_view part) { return StripSuffix(part, false); });
}

std::u16string CMap::ExpandStreetName(std::u16string_view text) const {
  return ByCommaParts(text, [this](std::u16string_view part) { return ExpandSuffix(ExpandPrefix(part)); });
}

std::u16string CMap::ExpandPrefix(std::u16string_view part) const {
  part = part.substr(0, kMaxExpandChars);
  const CKeyValueTable* prefixes = WordTable(1);
  const std::size_t blank = part.find(u' ');
  if (prefixes == nullptr || blank == std::u16string_view::npos) return ExpandHyphenPrefix(part);

  std::u16string_view first = part.substr(0, blank);
  // The one prefix whose key holds a blank ("Co Rd 12") is matched on the
  // characters of its key, and only as a whole word.
  const std::u16string withBlank = LoadResourceString(kStringPrefixWithBlank);
  const std::size_t k = withBlank.find(u',');
  if (k != std::u16string::npos && k > 0 && k < part.size() && part[k] == u' ' &&
      LowerCaseText(part.substr(0, k)) == LowerCaseText(std::u16string_view(withBlank).substr(0, k))) {
    first = part.substr(0, k);
  }
  if (!prefixes->Contains(first)) return ExpandHyphenPrefix(part);

  const std::u16string_view rest = part.substr(first.size() + 1);
  // "N St" is the street named N, not a street of the north.
  if (first.size() == 1 && IsDirectionLetter(first.front()) && rest.find(u' ') == std::u16string_view::npos &&
      Has(WordTable(2), rest)) {
    return std::u16string(part);
  }
  std::u16string result(prefixes->LookupView(first));
  result += u' ';
  result += rest;
  return result;
}

std::u16string CMap::ExpandHyphenPrefix(std::u16string_view part) const {
  const CKeyValueTable* prefixes = WordTable(1);
  if (prefixes == nullptr || part.size() < 2 || part[1] != u'-' || !prefixes->Contains(part.substr(0, 2))) {
    return std::u16string(part);
  }
  std::u16string result(prefixes->LookupView(part.substr(0, 2)));
  result += u' ';
  result += part.substr(2);
  return result;
}

std::u16string CMap::ExpandStateName(std::u16string_view text) const {
  const CKeyValueTable* states = WordTable(3);
  if (text.empty() || !Has(states, text)) return std::u16string(text);
  return std::u16string(states->LookupView(text));
}

std::u16string CMap::ExpandCountryName(std::u16string_view text) const {
  const CKeyValueTable* countries = WordTable(4);
  if (text.empty() || !Has(countries, text)) return std::u16string(text);
  return std::u16string(countries->LookupView(text));
}

HRESULT CMap::ExpandRawStreetName(BSTR* pInStreetName, BSTR* pOutExpandedStreetName) {
  if (pOutExpandedStreetName == nullptr) return E_POINTER;
  *pOutExpandedStreetName = nullptr;
  return com::Guarded([&] {
    const std::u16string expanded =
        ExpandStreetName(pInStreetName != nullptr ? BstrView(*pInStreetName) : std::u16string_view());
    BSTR out = SysAllocStringLen(expanded.data(), static_cast<UINT>(expanded.size()));
    if (out == nullptr) return E_OUTOFMEMORY;
    *pOutExpandedStreetName = out;
    return S_OK;
  });
}

// ---- predicates ----------------------------------------------------------------------------

bool CMap::IsFeature8(const RmfFeatureRef& feature) const {
  const std::u16string value = GetAttributeText(feature, "71", AttributeField::kValue, 0, false);
  return !value.empty() && value.front() == u'8';
}

bool CMap::IsRoadClass1(const RmfFeatureRef& feature) const {
  return GetFeatureAttribute(*this, feature, kAttributeRoadClass, false) == u"1";
}

bool CMap::IsFeatureR(const RmfFeatureRef& feature) const {
  const std::u16string value = GetAttributeText(feature, "41", AttributeField::kValue, 0, false);
  return !value.empty() && value.front() == u'R';
}

bool CMap::IsFeatureW(const RmfFeatureRef& feature) const {
  const std::u16string value = GetAttributeText(feature, "41", AttributeField::kValue, 0, false);
  return !value.empty() && value.front() == u'W';
}

bool CMap::IsFallbackStreetName(std::u16string_view text) const {
  for (UINT id : {kStringUnnamedStreet, kStringRoundaboutName}) {
    const std::u16string name = LoadResourceString(id);
    if (!name.empty() && name == text) return true;
  }
  return false;
}

bool CMap::IsRampName(std::u16string_view text) const {
  const std::u16string name = LoadResourceString(kStringRampName);
  return !name.empty() && name == text;
}

int CMap::SplitText(std::u16string_view text, char16_t separator, int count, std::vector<std::u16string>* pieces) {
  std::vector<std::u16string> found;
  std::size_t start = 0;
  for (int splits = 0; splits < count; ++splits) {
    const std::size_t at = text.find(separator, start);
    if (at == std::u16string_view::npos) break;
    found.emplace_back(text.substr(start, at - start));
    start = at + 1;
    if (start < text.size() && text[start] == u' ') ++start;
  }
  found.emplace_back(text.substr(start));
  const int n = static_cast<int>(found.size());
  if (pieces != nullptr) *pieces = std::move(found);
  return n;
}
