// The map engine's reading of numbered texts from the language library: the
// standard walk of a string table held as RT_STRING resources.
#pragma once

#include <string>

#include "platform/com/types.h"
#include "platform/os/module.h"

// Text `id` of the module's string table: block (id / 16) + 1 of type
// RT_STRING, whose entries are a 16-bit length followed by that many UTF-16
// characters; the text is entry id % 16. Gives "" when there is no module, no
// such block, the block ends before the entry, or the entry is empty. Never
// reads past the resource's size, whatever the block holds.
std::u16string LoadStringResource(HMODULE module, UINT id);
