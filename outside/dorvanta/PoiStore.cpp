// PLACEHOLDER: the point-of-interest store is being written.
#include "outside/dorvanta/PoiStore.h"
