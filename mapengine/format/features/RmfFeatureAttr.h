// Feature attributes and geometry by reference: the attribute triples (code,
// value, name) of a feature reference, one at a time, all at once or as an
// attribute set for the routing profile, and the points of a reference in
// map units or degrees, with a partial segment cut at the reference's
// fraction.
//
// Stored form: an attribute triple is three consecutive NUL-terminated byte
// strings in the record's text area. A part's own triple sits at its text
// offset; further triples are named by attribute words (vertex words with
// bit 15 set). Enumeration order: for a stretch reference (position bit 14
// clear) the part's own triple, then the attribute words before the first
// vertex; for a point reference (bit 14 set) the attribute words that follow
// its from position up to the next vertex.
//
// Bounds: texts wider than an RmfAttrEntry holds (5, 50 and 250 characters) and
// sets of more than 80 entries break the format's limits and are refused with
// kRmfMalformed (-128); stretches of more than 510 points, and attribute lists
// that do not fit the caller's capacity, are refused with kRmfNoMemory (-3).
// Nothing is cut and nothing is written beyond a buffer.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/features/RmfFeature.h"

inline constexpr std::uint32_t kRmfAttrCodeChars = 5;
inline constexpr std::uint32_t kRmfAttrValueChars = 50;
inline constexpr std::uint32_t kRmfAttrNameChars = 250;
inline constexpr std::int32_t kRmfAttrSetEntries = 80;
// Points of the reader's point buffer (map units) and degree buffer.
inline constexpr std::int32_t kRmfFeaturePointBuffer = 510;

// One attribute.
struct RmfAttrEntry {
  char code[kRmfAttrCodeChars + 1];    // 1st character the category digit, 4th "+"/"-" where present
  char value[kRmfAttrValueChars + 1];
  char name[kRmfAttrNameChars + 1];    // e.g. a street name
  std::uint32_t codeLength;            // without the NUL
  std::uint32_t valueLength;
  std::uint32_t nameLength;
};

// What the routing-profile callbacks receive.
struct RmfAttrSet {
  RmfFeatureRef reference;  // the stretch or point; all zero when the set is empty
  RmfAttrEntry entries[kRmfAttrSetEntries];
  std::int32_t count;       // 0..80
};

// An enumeration in progress (RmfFeatureAttrBegin / RmfFeatureAttrNext). It
// points into a record held by a slot: valid while that slot is used and its
// current part is not changed.
struct RmfAttrIter {
  RmfReader* reader;
  const std::uint8_t* record;
  std::uint32_t recordLength;
  std::uint32_t textBase;          // text area offset within the record
  std::int32_t ownTriple;          // record offset of the part's own triple still to come, or -1
  const std::uint8_t* words;       // the part's vertex words (little-endian u16)
  std::int32_t position;           // next word position to look at
  std::int32_t end;                // first position not looked at
  std::int32_t count;              // entries returned so far
};

// Starts an enumeration of the reference's attributes over the slot's record
// (the slot must hold the reference's record; its part is selected here). 0, or
// kRmfBadArgument (-2) for a null argument, a free slot or a slot holding
// another record, or the code of the part selection. The attribute flag asks an
// attribute provider for more entries; no source has one, so it changes
// nothing.
RMF_API_NODISCARD std::int32_t RmfFeatureAttrBegin(RmfReader* reader, std::int32_t attributeFlag,
                                                   RmfFeatureRef reference, RmfFeature* slot, RmfAttrIter* iterator);
// 1 and the next attribute; 0 when there is none; kRmfMalformed (-128) when its
// texts are wider than an entry holds or do not end inside the record;
// kRmfBadArgument (-2) for a null argument.
RMF_API_NODISCARD std::int32_t RmfFeatureAttrNext(RmfAttrIter* iterator, RmfAttrEntry* entry);

// count - index (>= 1) with the three texts of attribute `index` copied into
// code (6 bytes), value (51) and name (251); 0 when index >= count (nothing
// written); kRmfBadReference (-13) for feature id 0, a record that cannot be
// fetched or an invalid part; kRmfBadArgument (-2) for a bad reader, a null
// output or index < 0; kRmfMalformed (-128) as RmfFeatureAttrNext. A reference
// that runs toward lower positions turns every "+" of a code into "-" and back,
// from the 4th character on.
RMF_API_NODISCARD std::int32_t RmfFeatureAttributeEx(RmfReader* reader, RmfFeatureRef reference, std::int32_t index,
                                                     char* code, char* value, char* name, std::int32_t attributeFlag);
// RmfFeatureAttributeEx with attribute flag 1.
RMF_API_NODISCARD std::int32_t RmfFeatureAttribute(RmfReader* reader, RmfFeatureRef reference, std::int32_t index,
                                                   char* code, char* value, char* name);
// All attributes: the count, each list holding its texts one after the other,
// each NUL-terminated; 0 or a negative code with the three lists empty. The
// caller sizes the lists for every attribute of the feature (at most 6, 51
// and 251 bytes per attribute); RmfFeatureAttributesAllBounded checks sizes.
RMF_API_NODISCARD std::int32_t RmfFeatureAttributesAll(RmfReader* reader, RmfFeatureRef reference, char* codes,
                                                       char* values, char* names);
// The same with the lists' sizes in bytes: kRmfNoMemory (-3) (lists empty) when
// the texts do not fit; kRmfBadArgument (-2) for a null list or a size of 0.
RMF_API_NODISCARD std::int32_t RmfFeatureAttributesAllBounded(RmfReader* reader, RmfFeatureRef reference, char* codes,
                                                              std::uint32_t codeBytes, char* values,
                                                              std::uint32_t valueBytes, char* names,
                                                              std::uint32_t nameBytes);

// a + (b - a) x fraction / 1024, rounded half away from a; the fraction is
// held to 0..1024.
RMF_API_NODISCARD std::int32_t RmfInterpolate(std::int32_t a, std::int32_t b, std::int32_t fraction);

// The points of the reference in the reader's point buffer (*points pointing at
// it): their count; -1 when the walk cannot reach the to position;
// kRmfBadReference (-13) for feature id 0, a failed fetch, an invalid part or a
// fraction above 1024; kRmfNoMemory (-3) for more points than the buffer holds
// (or no room for the buffer); kRmfBadArgument (-2) for a bad reader or no
// output.
RMF_API_NODISCARD std::int32_t RmfFeatureRefPoints(RmfReader* reader, RmfFeatureRef reference, TiPoint** points);
// The same points in degrees (longitude, latitude as doubles, one pair per
// point) in the reader's degree buffer: the count or the negative code.
RMF_API_NODISCARD std::int32_t RmfFeaturePoints(RmfReader* reader, RmfFeatureRef reference, double** degrees);
// 0 and the point that a one-segment reference designates (point optional);
// kRmfBadReference (-13) for a several-segment or invalid reference or a
// fraction above 1024; kRmfMalformed (-128) when the reference does not give
// exactly two points; the negative code of RmfFeatureRefPoints;
// kRmfBadArgument (-2) for a bad reader or a null reference.
RMF_API_NODISCARD std::int32_t RmfFeatureRefPoint(RmfReader* reader, const RmfFeatureRef* reference, TiPoint* point);
