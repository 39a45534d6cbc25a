// The language library's "$" templates: texts in which "$" and the character
// after it stand for an insertion the caller chooses ("$W" a waypoint's name,
// "$d" a distance, ...). This is the one walk over such a template; what each
// code inserts stays with its caller. Printf-style templates go through
// format.h instead.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Expands `pattern`: every character outside a code is copied, "$$" writes
// one "$", and a "$" that ends the template is dropped. For any other code
// `onCode(code, out, rest)` is called with the text expanded so far (which it
// may append to or trim) and the rest of the template after the code; it
// returns how many characters of `rest` it has consumed, which the walk then
// skips (at most rest.size()). An unknown code the caller ignores says
// nothing.
template <class OnCode>
std::u16string ExpandDollarTemplate(std::u16string_view pattern, OnCode&& onCode) {
  std::u16string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != u'$') {
      out += pattern[i];
      continue;
    }
    if (++i == pattern.size()) break;
    const char16_t code = pattern[i];
    if (code == u'$') {
      out += u'$';
      continue;
    }
    const std::u16string_view rest = pattern.substr(i + 1);
    const std::size_t consumed = onCode(code, out, rest);
    i += consumed < rest.size() ? consumed : rest.size();
  }
  return out;
}

}  // namespace platform
