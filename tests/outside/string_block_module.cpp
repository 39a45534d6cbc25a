// A resource module of hand-made string-table blocks for the string walk
// tests: complete blocks, blocks that end inside an entry, an odd byte size,
// an empty block, and a resource of another type where a block would be.
#include "platform/os/resource.h"

namespace {

// Ids 0-15: "Zero", (empty), "Two", twelve empty entries, "Fifteen".
alignas(2) const std::uint16_t kBlock1[] = {
    4, 'Z', 'e', 'r', 'o', 0, 3, 'T', 'w', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    7, 'F', 'i', 'f', 't', 'e', 'e', 'n'};
// Ids 16-31: "A", then an entry claiming 10 characters where 3 remain.
alignas(2) const std::uint16_t kBlock2[] = {1, 'A', 10, 'b', 'c', 'd'};
// Ids 32-47: "Hi", then one stray byte (the size below is odd).
alignas(2) const std::uint16_t kBlock3[] = {2, 'H', 'i', 3, 'x'};
// Ids 48-63: a length of 65535 in a block of two units.
alignas(2) const std::uint16_t kBlock4[] = {0xFFFF, 'a'};
// Ids 112-127 are no string block: the same number under another type.
alignas(2) const std::uint16_t kNotStrings[] = {5, 'w', 'r', 'o', 'n', 'g'};
// Ids 65520-65535, the last block: only the last id has a text.
alignas(2) const std::uint16_t kBlock4096[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 'L', 'a', 's', 't'};

const ResourceEntry kEntries[] = {
    {kRtString, 1, sizeof kBlock1, kBlock1},
    {kRtString, 2, sizeof kBlock2, kBlock2},
    {kRtString, 3, 2 * 3 + 1, kBlock3},
    {kRtString, 4, sizeof kBlock4, kBlock4},
    {kRtString, 5, 0, nullptr},  // ids 64-79: an empty block
    {5, 8, sizeof kNotStrings, kNotStrings},
    {kRtString, 4096, sizeof kBlock4096, kBlock4096},
};

}  // namespace

TIRVANE_RESOURCE_DIRECTORY(kEntries);
