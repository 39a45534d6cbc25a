// The map engine's reading of numbered texts from the language library: the
// standard walk of a string table held as RT_STRING resources, which the
// platform layer provides for every module that reads a language library.
#pragma once

#include "platform/os/resource.h"

using platform::LoadStringResource;
