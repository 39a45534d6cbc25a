// The two variants of the bounded text array, compiled once for the engine.
#include "engine/core/BoundedStringArray.h"

namespace vov {

template class BasicBoundedStringArray<std::u16string>;
template class BasicBoundedStringArray<com::Bstr>;

}  // namespace vov
