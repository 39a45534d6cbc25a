// The feature query: every feature of a reader's map sources that lies in a
// query area and matches a class filter at a range of map levels, one hit a
// call, with its texts, its points in map units (cut to the query area) and
// its feature reference. Also the query area itself (a rectangle or a convex
// polygon, handed to every source it touches and cut to the source's box),
// the degree wrappers the map engine uses, and small read-only accessors of
// the reader's sources.
//
// Calling order: RmfQuerySetLevels and RmfQuerySetClassFilter (any order, any
// number of times), the area (RmfQuerySetRect, RmfQuerySetPolygon or
// RmfQuerySetRectDegrees), RmfQueryStart, then RmfQueryNext until it returns
// 0. A query runs at most three passes: areas, then lines (with boundary
// lines), then points; within a pass the sources in index order, within a
// source the records of its tile walk, within a record its parts in table
// order.
//
// Feature codes: level digit "1".."8", class digit "1".."7", category "0"
// point, "1" line, "2" area, "B" boundary line, and for areas "+" (the area
// lies to the right of the ring's direction) or "-" (to its left).
// Class filters: category "0", "1", "2", "B", "R", "S" (or 0..5); "R" is kept
// for the features-near-a-point search, "S" is kept without use.
//
// Areas: the parts of an area's rings inside the polygon come back as runs
// with the area's texts; after a source's area records, the pieces of the
// query boundary that lie inside areas come back one a call (reference
// zeroed, count = number of areas open there, code with "-" as 4th
// character: the area lies to the left of the counter-clockwise boundary),
// or, when no ring crosses the boundary, an area that encloses the whole
// polygon as the polygon's outline; then -1 marks the end of that source's
// areas.
//
// All functions take the reader first; a null reader or one whose magic is
// wrong makes the call do nothing (results 0 unless stated, outputs zeroed
// where given).
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

struct RmfReader;

// ---- settings ------------------------------------------------------------------

// Levels min(a, b) .. max(a, b) held to the reader's range, passed to every
// source. a or b negative: last error kRmfBadArgument (-2), nothing changed.
RMF_API void RmfQuerySetLevels(RmfReader* reader, std::int32_t a, std::int32_t b);
// Filter text of a category (see above; any other value: last error
// kRmfBadArgument, -2): at most 9 characters are kept (null: empty); the class
// digits "1".."7" of the text make the category's mask, other characters are
// ignored, and a text without digits switches the category off.
RMF_API void RmfQuerySetClassFilter(RmfReader* reader, std::int32_t category, const char* text);
// Thinning of runs: g >= 1 keeps, of consecutive inside points that share a
// cell of the smallest 2^k >= g + 1 units, the first and the last. g < 1:
// last error kRmfBadArgument (-2) and no thinning.
RMF_API void RmfQuerySetGranularity(RmfReader* reader, std::int32_t g);
// Optional flag read before every tile record: non-zero stops the query with
// kRmfCancelled (-127) (null: none).
RMF_API void RmfQuerySetCancelFlag(RmfReader* reader, const volatile std::int32_t* flag);
// Filter of the enclosing-area search (RmfAreasAtPoint); null restores the
// query's own, which keeps the parts whose codes name an area of the area
// filter at a level of the query's range.
RMF_API void RmfQuerySetAreaFilter(RmfReader* reader, RmfAreaFilterFn filter, void* context);
// Set by the features-near-a-point search while it queries: no crossing
// records are kept.
RMF_API void RmfQuerySetNearPointMode(RmfReader* reader, std::int32_t on);

// ---- the query area ------------------------------------------------------------

// The rectangle spanned by the corners as the polygon (x1, y1), (x1, y2),
// (x2, y2), (x2, y1). A zero height or width is widened by one unit (inwards
// at the world's top and right edges: 0x3FFFFFF, 0x7FFFFFF).
RMF_API void RmfQuerySetRect(RmfReader* reader, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
// A convex polygon in either direction (a closing point equal to the first is
// dropped), at most 16 corners. The reader's last error tells: 0 set;
// kRmfBadArgument (-2) an invalid polygon (not convex, fewer than 3 corners,
// two equal consecutive corners, too many corners), kRmfNoMemory (-3) no
// memory. After a failure no source takes part in a query.
RMF_API void RmfQuerySetPolygon(RmfReader* reader, std::int32_t count, const TiPoint* points);
// Gives one source the polygon (counter-clockwise) cut to the source's box;
// nothing of it in the box leaves the source out of the query. Where the cut
// has no area (a box without width or height, a polygon touching the box),
// the polygon is cut to the box widened by one unit on every side instead,
// which meets the box in the same places. Last error
// kRmfBadArgument (-2) for a bad source index or polygon, kRmfNoMemory (-3)
// no memory.
RMF_API void RmfSourceSetQueryPolygon(RmfReader* reader, std::int32_t source, const TiPoint* points,
                                      std::int32_t count);
// RmfQuerySetRect of the corners in degrees (longitude, latitude), each
// times 745654.0444444445 and rounded half away from zero.
RMF_API void RmfQuerySetRectDegrees(RmfReader* reader, double longitude1, double latitude1, double longitude2,
                                    double latitude2);

// ---- running it ----------------------------------------------------------------

// Resets the query to its first pass.
RMF_API void RmfQueryStart(RmfReader* reader);
// Next hit: > 0 its number of points (1 for a point feature), *points set to
// the reader's point buffer; 0 when the query is finished; -1 at the end of a
// source's areas (after the area pass returned a hit for it);
// kRmfBadArgument (-2) when code, count or points is null (also the last
// error) or a source's walk fails; kRmfCancelled (-127) cancelled. code (6
// bytes) receives the hit's first matching code, name (51 bytes) and detail
// (251 bytes), both optional, its name and detail text, *count the number of
// its text triples that passed the filter, *reference (optional) its feature
// reference: tile id, source, record sequence, part, first and last vertex
// position of the run, position 1024 (boundary lines: the run's first two
// vertex positions and 0x4200, a point reference on its first segment;
// boundary pieces and enclosing areas: zeroed). The points stay valid until
// the next call on the reader.
RMF_API_NODISCARD std::int32_t RmfQueryNext(RmfReader* reader, char* code, char* name, char* detail,
                                            std::int32_t* count, RmfFeatureRef* reference, TiPoint** points);
// RmfQueryNext with the points converted to degrees (longitude, latitude)
// into the reader's degree buffer when the result is 1 or more.
RMF_API_NODISCARD std::int32_t RmfQueryNextDegrees(RmfReader* reader, char* code, char* name, char* detail,
                                                   std::int32_t* count, RmfFeatureRef* reference, double** points);
// Text triple `index` (0 .. count - 1) of the last hit into code (6 bytes),
// name (51) and detail (251), each optional: 1, or 0 when there is no such
// triple.
RMF_API_NODISCARD std::int32_t RmfQueryResultText(RmfReader* reader, std::int32_t index, char* code, char* name,
                                                  char* detail);

// ---- pieces the query is made of -------------------------------------------------

// 1 when some class digit of the text has, in byte digit - 1 of the level
// table, a level bit between low and high; 0 otherwise (also for an empty or
// null text or table, high < 1 or low > 8).
RMF_API_NODISCARD std::int32_t RmfSourceHasClasses(const char* text, std::int32_t low, std::int32_t high,
                                                   const std::uint8_t* table);
// 1 when the point lies inside the current source's query polygon (on an
// edge counts as inside), else 0; *bits (optional) gets bit e for every edge
// e that has the point strictly to its right (edge e runs from corner e - 1
// to corner e, edge 0 from the last corner to corner 0).
RMF_API_NODISCARD std::int32_t RmfQueryOutsideBits(RmfReader* reader, const TiPoint* point, std::uint16_t* bits);
// Writes the current source's query polygon into the point buffer as a
// closed ring (corners 0 .. n - 1 and corner 0 again, or backwards n - 1
// .. 0 and n - 1 again): n + 1, or 0 when there is no current polygon.
RMF_API_NODISCARD std::int32_t RmfQueryAreaOutline(RmfReader* reader, std::int32_t backwards);

// ---- the reader's sources ------------------------------------------------------------

// The reader's bounding box; last error kRmfBadArgument (-2) for a null output.
RMF_API void RmfReaderGetBounds(RmfReader* reader, TiPoint* min, TiPoint* max);
// The same in degrees: (longitude, latitude) pairs.
RMF_API void RmfReaderGetBoundsDegrees(RmfReader* reader, double* min, double* max);
// The number of sources; -1 for a bad reader.
RMF_API_NODISCARD std::int32_t RmfReaderSourceCount(RmfReader* reader);
// The OR of the source's eight level masks: the tile levels holding its
// data; -1 for a bad reader or index.
RMF_API_NODISCARD std::int32_t RmfSourceTileLevels(RmfReader* reader, std::int32_t source);
// 1 and the source's region box when its file has one, else its header box;
// kRmfBadArgument (-2) for a bad reader, index or null output (also the last
// error for the latter two).
RMF_API_NODISCARD std::int32_t RmfSourceGetBox(RmfReader* reader, std::int32_t source, TiRect* box);
