// The result codes of the map-format library: every negative code that means
// the same thing in every module has one name here. Results of 0 and above
// are counts, flags or values and belong to each function; so do the few
// codes with a meaning of their own (-1 for "all slots busy" or "not found",
// the framing results of a record), which keep local names where they are
// defined. The numbers never change: the map engine, the router and stored
// maps rely on them, and the doc comments of the functions give both.
#pragma once

#include <cstdint>

// A bad argument or handle: a null or closed reader, a null output, or a
// value, index or table size out of range.
inline constexpr std::int32_t kRmfBadArgument = -2;
// Memory could not be had, or a result does not fit the room it is given.
inline constexpr std::int32_t kRmfNoMemory = -3;
// The map file cannot be opened, or it gave no bytes.
inline constexpr std::int32_t kRmfCannotOpen = -4;
// The map file's header is rejected: too short, or its index does not fit it.
inline constexpr std::int32_t kRmfHeaderRejected = -5;
// A feature reference that names nothing: feature id 0, a record that cannot
// be fetched, or a part, vertex or fraction outside its feature.
inline constexpr std::int32_t kRmfBadReference = -13;
// A route cost grew beyond what its word holds.
inline constexpr std::int32_t kRmfCostOverflow = -15;
// No routing profile installed, or a profile answer out of range.
inline constexpr std::int32_t kRmfProfileMissing = -31;
// The work was stopped through the caller's cancel flag.
inline constexpr std::int32_t kRmfCancelled = -127;
// Wrong magic or state, an internal inconsistency, or data beyond the
// format's limits (a malformed file or record, a list that cannot hold it).
inline constexpr std::int32_t kRmfMalformed = -128;

// The tagged arena's own codes.
// A null arena or block, a block the arena does not hold, or a bad touch mode.
inline constexpr std::int32_t kRmfTagBadArgument = -202;
// The block is pinned, referenced more than once, or a count is at its limit.
inline constexpr std::int32_t kRmfTagInUse = -203;
// The block is free.
inline constexpr std::int32_t kRmfTagNotAllocated = -204;
// The block's owner refused to give it back.
inline constexpr std::int32_t kRmfTagRefused = -206;
