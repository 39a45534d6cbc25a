// Street names and the other spoken texts of a map feature: attribute texts
// read by a fixed attribute number, the street name built from the name text
// of a feature's route-class attribute, small predicates over a feature's
// attributes, and the stripped (street type dropped) and expanded
// (abbreviations written out) forms of a name through the word tables.
//
// Attribute codes are compared on their second and third characters only:
// the pair "71" is the route-class attribute, "41" the access attribute,
// "21" the locality attribute and "22".."62" the class names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mapengine/format/RmfTypes.h"

class CMap;
struct RmfReader;

// Which text of an attribute triple to read.
enum class AttributeField { kCode, kValue, kName };

// Attribute numbers of GetFeatureAttribute that have a meaning of their own;
// the route-class value characters 5, 12, 13 and 14 are read by number.
inline constexpr int kAttributeStreetName = 0;
inline constexpr int kAttributeSecondStreetName = 1;
inline constexpr int kAttributeCity = 2;
inline constexpr int kAttributeState = 3;
inline constexpr int kAttributePostcode = 4;
inline constexpr int kAttributeBorough = 6;
inline constexpr int kAttributeCounty = 7;
inline constexpr int kAttributeCountryCode = 8;
inline constexpr int kAttributeRoadClass = 9;
inline constexpr int kAttributeSpeedClass = 10;
inline constexpr int kAttributeLocality = 11;
inline constexpr int kAttributeRoadKind = 15;
inline constexpr int kAttributeDirectionMark = 16;
inline constexpr int kLastAttributeNumber = 16;

// Language strings used as names.
inline constexpr unsigned kStringRampName = 20581;
inline constexpr unsigned kStringRoundaboutName = 20584;  // an unnamed roundabout
inline constexpr unsigned kStringUnnamedStreet = 23095;
inline constexpr unsigned kStringTrailName = 23100;
inline constexpr unsigned kStringWalkwayName = 23101;
inline constexpr unsigned kStringPrefixWithBlank = 23017;  // "key,value" of table 1 whose key may hold a blank

// Longest wide text made from an attribute text.
inline constexpr std::size_t kMaxAttributeTextChars = 603;
// A route-class name text is split into at most this many pieces; further
// pieces are not read.
inline constexpr int kMaxNamePieces = 21;
// ExpandPrefix looks at no more than this many characters of a name.
inline constexpr std::size_t kMaxExpandChars = 500;

// A reference whose four 32-bit words are all zero names no feature.
bool IsNullFeatureRef(const RmfFeatureRef& feature);

// UTF-8 attribute text to wide text, cut to kMaxAttributeTextChars (never
// inside a surrogate pair). Malformed bytes become U+FFFD.
std::u16string AttributeTextToWide(std::string_view utf8);

// The attribute texts of `feature` in index order: for the first attribute
// whose code pair is `pair` (two characters) and whose selected text is not
// empty, that text; when the feature's last attribute matches with an empty
// selection, "". The selection is backslash-separated piece `piece` (from 0)
// of the field, or with `characterMode` the single character at index
// `piece`. A piece or character past the end of the text is empty. A null
// reader, an invalid reference or a feature without such an attribute gives "".
std::u16string ReadAttributeText(RmfReader* reader, const RmfFeatureRef& feature, std::string_view pair,
                                 AttributeField field, int piece, bool characterMode);

// The route-class value (pair 71, piece 0) begins with '9'.
bool IsFeatureARamp(RmfReader* reader, const RmfFeatureRef& feature);
// Some attribute has the code pair 51, 61 or 71.
bool IsFeatureRoadNetwork(RmfReader* reader, const RmfFeatureRef& feature);

// Attribute `number` of the feature: 0 and 1 the street name and the second
// street name (GetStreetName's rules; with `rampFlag` a ramp is named by
// language string 20581), 2..16 the texts kAttributeCity and its siblings
// name. A null reference and a number outside 0..16 give "" and a line on
// the debug output.
std::u16string GetFeatureAttribute(const CMap& map, const RmfFeatureRef& feature, int number, bool rampFlag);

// The feature's street name (the second one with `second`), ramps named as
// ramps; an unnamed feature gets language string 20584 (roundabouts) or
// 23095. With `stripped` the street type is dropped, else with `expanded`
// the abbreviations are written out.
std::u16string GetStreetName(const CMap& map, const RmfFeatureRef& feature, bool stripped, bool expanded,
                             bool second);

// A piece of a route-class name text, cleaned: a tagged piece (":RN/I-5",
// longer than 4 characters and starting with ':') loses its tag up to the
// first '/'; "a///b" is cut to "a"; "a//b" becomes "a b", or "a" when a
// already contains b.
struct CleanedNamePiece {
  std::string text;      // UTF-8, like the attribute
  bool plain = false;    // a name of its own: not empty and not starting with ':'
  bool routeNumber = false;  // a tagged piece holding ":RN"
};

// The street name a route-class name text gives: the first plain piece,
// else the last route number, else the first piece; with `detailed` the
// other pieces follow, joined by ", "; with `second` the route numbers go
// before the name when their first number differs from the name's. Without
// either flag the name ends before its first ':'. Only the first
// kMaxNamePieces pieces are read. CMap::BuildStreetName names a feature by
// the name text of its route-class attribute with it.
std::u16string StreetNameOfText(std::string_view nameText, bool detailed, bool second);
