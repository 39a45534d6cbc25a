// Tiny resource modules for the resource tests, one per variant (chosen by a
// RESOURCE_VARIANT_* definition): a well-formed directory whose entry list
// mixes good and malformed entries, directories broken in one way each, and a
// module without a directory.
#include "platform/os/resource.h"

#include <unistd.h>  // environ: an object that lies in another module

#if defined(RESOURCE_VARIANT_NONE) || defined(RESOURCE_VARIANT_DEPENDENT)
// No directory of its own. The dependent variant links the shared one, whose
// directory a plain symbol search would find through it.
extern "C" __attribute__((visibility("default"))) int ResourceTestModuleWithoutResources() { return 0; }
#else

namespace {

alignas(8) const unsigned char kFirst[] = {'f', 'i', 'r', 's', 't'};
alignas(8) const unsigned char kSecond[] = {'s', 'e', 'c', 'o', 'n', 'd'};
alignas(8) const unsigned char kOtherType[] = {'o', 't', 'h', 'e', 'r'};

// Every directory here lists type 6, id 1 = "first", so a broken directory
// fails to find a resource that is really there. (The null-entries variant
// leaves the array unused.)
[[maybe_unused]] const ResourceEntry kEntries[] = {
    {6, 1, sizeof kFirst, kFirst},
    {6, 1, sizeof kSecond, kSecond},        // a later entry of the same id is never found
    {5, 1, sizeof kOtherType, kOtherType},  // same id, other type
    {6, 2, 0, nullptr},                     // an empty resource
    {6, 3, 8, nullptr},                     // bytes missing
    {6, 4, sizeof(char**), &environ},       // bytes in another module
    {6, 5, 0xFFFFFFF0u, kFirst},            // bytes run past the module's end
    {6, 6, sizeof kSecond, kSecond},
};

}  // namespace

#define DIRECTORY_SYMBOL \
  extern "C" __attribute__((visibility("default"))) const ResourceDirectory TirvaneResourceDirectory;

#if defined(RESOURCE_VARIANT_MIXED) || defined(RESOURCE_VARIANT_SHARED)
TIRVANE_RESOURCE_DIRECTORY(kEntries);
#elif defined(RESOURCE_VARIANT_BAD_MAGIC)
DIRECTORY_SYMBOL
const ResourceDirectory TirvaneResourceDirectory = {0x53455253u, kResourceDirectoryVersion, 8, kEntries};
#elif defined(RESOURCE_VARIANT_BAD_VERSION)
DIRECTORY_SYMBOL
const ResourceDirectory TirvaneResourceDirectory = {kResourceDirectoryMagic, 2, 8, kEntries};
#elif defined(RESOURCE_VARIANT_HUGE_COUNT)
DIRECTORY_SYMBOL
const ResourceDirectory TirvaneResourceDirectory = {kResourceDirectoryMagic, kResourceDirectoryVersion, 0xFFFFFFFFu,
                                                    kEntries};
#elif defined(RESOURCE_VARIANT_COUNT_PAST_END)
// Within the bound on entries, but far more than the array (and module) holds.
DIRECTORY_SYMBOL
const ResourceDirectory TirvaneResourceDirectory = {kResourceDirectoryMagic, kResourceDirectoryVersion,
                                                    kMaxResourceEntries, kEntries};
#elif defined(RESOURCE_VARIANT_NULL_ENTRIES)
DIRECTORY_SYMBOL
const ResourceDirectory TirvaneResourceDirectory = {kResourceDirectoryMagic, kResourceDirectoryVersion, 8, nullptr};
#elif defined(RESOURCE_VARIANT_MISALIGNED)
DIRECTORY_SYMBOL
const ResourceDirectory TirvaneResourceDirectory = {
    kResourceDirectoryMagic, kResourceDirectoryVersion, 7,
    reinterpret_cast<const ResourceEntry*>(reinterpret_cast<const unsigned char*>(kEntries) + 1)};
#else
#error "choose a RESOURCE_VARIANT_*"
#endif
#endif
