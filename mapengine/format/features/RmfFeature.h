// Feature records and feature references: how one tile record of a map
// source is held in one of the reader's four feature slots while its points,
// parts and vertex words are read, and the small operations on the 16-byte
// feature reference (RmfFeatureRef, mapengine/format/RmfTypes.h) that names a
// stretch of one part across the library, the router and the map engine. The
// slot record (RmfFeature) is plain state of the reader record
// (mapengine/format/RmfReaderRecord.h); its functions are here.
//
// A record as the slots read it (offsets from its start, little-endian):
//   3   bit 0: 8-byte points (i32 x, i32 y); clear: 4-byte points (u16 dx,
//       u16 dy added to the base); bit 1: another record of the same tile
//       follows (the "continues" flag of a fetch)
//   4   base x, 8 base y (i32)
//   28  point array offset, 30 point count, 32 part table offset, 34 part
//       count, 36 text area offset, 42 vertex-word area offset (u16 each)
// A part table entry (the source's entry size, 10 or 12 bytes): u32 class
// bits, u16 text offset of the part's own triple within the text area, u16
// offset of its vertex words within the word area (in words), u16 word
// count. A vertex word with bit 15 clear is a point index; with bit 15 set
// its low 15 bits are the text-area offset of an attribute triple. Attribute
// words before the first vertex belong to the whole part, attribute words
// after a vertex to that vertex.
//
// The router packs a vertex position into 13 bits and a part index into 14:
// parts that exceed either (an index above 0x3FFF, more than 0x2000 words)
// are refused when they are selected, so nothing read through a slot can
// overflow a node word.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

// Position word of a reference (w3 high).
inline constexpr std::uint16_t kRmfPositionWhole = 1024;         // fraction 1024: to the end
inline constexpr std::uint16_t kRmfPositionFraction = 0x07FF;    // bits 0-10
inline constexpr std::uint16_t kRmfPositionHeading = 0x2000;     // heading agreed (near-point search)
inline constexpr std::uint16_t kRmfPositionPoint = 0x4000;       // one point between from and to
inline constexpr std::uint16_t kRmfPositionReverse = 0x8000;     // travel toward from
inline constexpr std::uint16_t kRmfPositionMidPoint = 0x4200;    // point reference at a segment's middle

// Kinds of RmfFeatureRefClassify.
inline constexpr std::int32_t kRmfRefBackFromFraction = 0;  // one segment, fraction back to from
inline constexpr std::int32_t kRmfRefToFraction = 1;        // one segment, from to the fraction
inline constexpr std::int32_t kRmfRefPointOnSegment = 2;    // one segment, a point at the fraction
inline constexpr std::int32_t kRmfRefWholeSegment = 3;      // one whole segment
inline constexpr std::int32_t kRmfRefWholeStretch = 4;      // several whole segments

// Limits of the router's node words.
inline constexpr std::int32_t kRmfMaxPartIndex = 0x3FFF;      // 14 bits
inline constexpr std::int32_t kRmfMaxPartWords = 0x2000;      // positions 0..0x1FFF, 13 bits

// The feature code's own result code; the others are the library's
// (RmfResult.h).
inline constexpr std::int32_t kRmfFeatureBusy = -1;  // all four slots in use

// ---- slots -----------------------------------------------------------------

// Fetches the record named by the reference's feature id, source and second id
// into a slot: 1 with *slot set (use count + 1) and *continues (optional) set
// to 1 when the tile holds a record with the next second id; 0 when the record
// cannot be loaded (or the feature id is 0); -1 when all four slots are in use
// (also the last error); kRmfBadArgument (-2) for a bad reader, a source index
// at or above the source count, or a null slot output.
RMF_API_NODISCARD std::int32_t RmfFeatureFetch(RmfReader* reader, RmfFeatureRef reference, RmfFeature** slot,
                                               std::int32_t* continues);
// 1; -1 when the use count is already 0 (or the slot is null).
RMF_API_NODISCARD std::int32_t RmfFeatureRelease(RmfFeature* slot);
// 1 with the number of slots (4) and the sum of their use counts (either
// output may be null); 0 for a bad reader.
RMF_API_NODISCARD std::int32_t RmfFeatureSlotUsage(RmfReader* reader, std::int32_t* slotCount, std::int32_t* totalUses);

// Counts of the record held; kRmfBadArgument (-2) for a null or free slot.
RMF_API_NODISCARD std::int32_t RmfFeaturePointCount(RmfFeature* slot);
RMF_API_NODISCARD std::int32_t RmfFeaturePartCount(RmfFeature* slot);

// Decodes the part into the slot's current-part fields (nothing to do when it
// is current already). With a set, fills it with the whole part's attributes
// (reference from the first vertex to the last position, position 1024). 0;
// kRmfBadArgument (-2) for a null or free slot or a part outside the record;
// kRmfBadReference (-13) for a part beyond the node-word limits;
// kRmfMalformed (-128) for attribute texts beyond the format's widths or more
// attributes than a set holds (the set is emptied).
RMF_API_NODISCARD std::int32_t RmfFeatureSelectPart(RmfFeature* slot, std::int32_t part, std::int32_t attributeFlag,
                                                    RmfAttrSet* set);
// The part's word count; kRmfBadArgument (-2) as RmfFeatureSelectPart.
RMF_API_NODISCARD std::int32_t RmfFeatureWordCount(RmfFeature* slot, std::int32_t part);
// The vertex word at the position (0..65535); position -1 gives the part's own
// triple as an attribute word (its text offset with bit 15 set); -1 for any
// other position outside the list; kRmfBadArgument (-2) as
// RmfFeatureSelectPart.
RMF_API_NODISCARD std::int32_t RmfFeatureNodeAt(RmfFeature* slot, std::int32_t part, std::int32_t position);
// The point index of the next vertex at position + step, position + 2 step, ...
// (step taken by its sign); -1 when the list ends first (or step is 0);
// kRmfBadArgument (-2) as RmfFeatureSelectPart. *foundPosition (optional) gets
// its position. With a set: the attributes of the stretch between the start and
// the vertex found, ordered low to high, position 0x4000; empty when no vertex
// was found or the start lies outside the part's vertex range.
RMF_API_NODISCARD std::int32_t RmfFeatureNextNode(RmfFeature* slot, std::int32_t part, std::int32_t position,
                                                  std::int32_t step, std::int32_t* foundPosition, RmfAttrSet* set);
// 1 and point `index` in map units; -1 for an index outside 0..count-1;
// kRmfBadArgument (-2) for a null or free slot or a null output.
RMF_API_NODISCARD std::int32_t RmfFeaturePointAt(RmfFeature* slot, std::int32_t index, TiPoint* point);
// Index of the first point equal to the given one; -1 when none (or a bad slot).
RMF_API_NODISCARD std::int32_t RmfFeatureFindPoint(RmfFeature* slot, TiPoint point);
// Copies min(capacity, count) points; returns the point count
// (kRmfBadArgument (-2) for a bad slot, or a null output with a capacity above
// 0).
RMF_API_NODISCARD std::int32_t RmfFeatureCopyPoints(RmfFeature* slot, TiPoint* points, std::int32_t capacity);
// The parts whose vertex words hold the point index, one entry per occurrence,
// in part order; writes at most capacity, returns the total
// (kRmfBadArgument (-2) for a bad slot). Parts beyond the node-word limits are
// left out.
RMF_API_NODISCARD std::int32_t RmfFeaturePartsAtPoint(RmfFeature* slot, std::int32_t pointIndex, std::int32_t* parts,
                                                      std::int32_t capacity);
// Positions in the part's word list holding the point index; writes at most
// capacity, returns the total (kRmfBadArgument (-2) as RmfFeatureSelectPart).
RMF_API_NODISCARD std::int32_t RmfFeaturePositionsOfPoint(RmfFeature* slot, std::int32_t part, std::int32_t pointIndex,
                                                          std::int32_t* positions, std::int32_t capacity);
// The next position after start (direction >= 0) or before start (direction
// < 0, start taken at most as the word count) whose word equals `word`; -1
// when none (a start at or beyond the count forward, or below 1 backward);
// kRmfBadArgument (-2) as RmfFeatureSelectPart.
RMF_API_NODISCARD std::int32_t RmfFeatureFindWord(RmfFeature* slot, std::int32_t part, std::int32_t word,
                                                  std::int32_t start, std::int32_t direction);

// ---- references ----------------------------------------------------------------

// Unpacks the identifier words the map engine hands out: source = map number
// - 1, part = A low, from = A high, to = B low, second id = B high, position
// 1024. 1; kRmfBadArgument (-2) for a bad reader, a map number below 1 (or
// above 65536) or no output.
RMF_API_NODISCARD std::int32_t RmfFeatureRefFromIds(RmfReader* reader, std::int32_t mapNumber, std::uint32_t featureId,
                                                    std::uint32_t wordA, std::uint32_t wordB, RmfFeatureRef* out);
// 1 with source + 1, feature id, second id and part; kRmfBadReference (-13) for
// feature id 0; kRmfBadArgument (-2) for a bad reader or a missing output.
RMF_API_NODISCARD std::int32_t RmfFeatureRefToIds(RmfReader* reader, RmfFeatureRef reference, std::int32_t* mapNumber,
                                                  std::uint32_t* featureId, std::int32_t* secondId, std::int32_t* part);
// 1 when all seven fields are equal, else 0; kRmfBadReference (-13) when either
// feature id is 0; kRmfBadArgument (-2) for a bad reader.
RMF_API_NODISCARD std::int32_t RmfFeatureRefEqual(RmfReader* reader, RmfFeatureRef a, RmfFeatureRef b);
// 1 and the same stretch the other way: from and to exchanged; position 1024
// stays; a point reference's fraction becomes 1024 - fraction (0x8400 -
// position); otherwise bit 15 is toggled. kRmfBadReference (-13) for feature id
// 0, kRmfBadArgument (-2) for a bad reader or no output.
RMF_API_NODISCARD std::int32_t RmfFeatureRefReverse(RmfReader* reader, RmfFeatureRef reference, RmfFeatureRef* out);
// 1 and the whole part (first vertex .. last position, or the other way for a
// reference that runs toward lower positions), position 1024;
// kRmfBadReference (-13) when the record cannot be fetched, the part is invalid
// or the feature id is 0; kRmfBadArgument (-2) for a bad reader or no output.
RMF_API_NODISCARD std::int32_t RmfFeatureRefWhole(RmfReader* reader, RmfFeatureRef reference, RmfFeatureRef* out);
// Kind 0..4 (kRmfRef*); kRmfBadReference (-13) for an invalid reference (also
// the last error); kRmfBadArgument (-2) for a bad reader.
RMF_API_NODISCARD std::int32_t RmfFeatureRefClassify(RmfReader* reader, RmfFeatureRef reference);
// Splits the reference into single-segment point references (position 0x4200)
// in the reader's reference array, *out pointing at it: their count;
// kRmfBadReference (-13) when the record cannot be fetched or the reference is
// invalid; kRmfNoMemory (-3) when the array cannot be made large enough;
// kRmfBadArgument (-2) for a bad reader or no output.
RMF_API_NODISCARD std::int32_t RmfFeatureRefSplit(RmfReader* reader, RmfFeatureRef reference, RmfFeatureRef** out);
