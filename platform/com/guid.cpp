// GUID texts: the "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" form the registry
// keeps, in narrow and wide characters, and the runtime's string functions
// over it (StringFromGUID2, CLSIDFromString, IIDFromString).
#include <cstdio>

#include "platform/com/runtime.h"
#include "platform/com/types.h"

namespace {

// Characters of "{...}" without the terminating NUL.
constexpr std::size_t kGuidTextLength = 38;

// Writes the braced text and a NUL into `text`; allocates nothing, so the
// C-style functions below cannot throw.
void FormatInto(const GUID& g, char (&text)[kGuidTextLength + 1]) {
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2), static_cast<unsigned>(g.Data3),
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

}  // namespace

std::string FormatGuid(const GUID& g) {
  char text[kGuidTextLength + 1] = {};
  FormatInto(g, text);
  return std::string(text, kGuidTextLength);
}

std::u16string FormatGuidW(const GUID& g) {
  std::string narrow = FormatGuid(g);
  return std::u16string(narrow.begin(), narrow.end());
}

bool ParseGuidW(std::u16string_view text, GUID& out) {
  // Anything longer than the braced form cannot be a GUID; checking first
  // keeps the narrow copy small whatever the input.
  if (text.size() > kGuidTextLength) return false;
  char narrow[kGuidTextLength] = {};
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] > 0x7F) return false;
    narrow[i] = static_cast<char>(text[i]);
  }
  return ParseGuid(std::string_view(narrow, text.size()), out);
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < static_cast<int>(kGuidTextLength + 1)) return 0;
  char text[kGuidTextLength + 1] = {};
  FormatInto(rguid, text);
  for (std::size_t i = 0; i <= kGuidTextLength; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  return static_cast<int>(kGuidTextLength + 1);
}

namespace {

// Reads at most one character past the braced form, so a text without a
// terminator within reach is rejected without reading further.
HRESULT ParseBracedGuid(LPCOLESTR text, GUID* out) {
  if (text == nullptr || out == nullptr) return E_INVALIDARG;
  std::size_t length = 0;
  while (length <= kGuidTextLength && text[length] != u'\0') ++length;
  if (length != kGuidTextLength || text[0] != u'{') return CO_E_CLASSSTRING;
  GUID parsed{};
  if (!ParseGuidW(std::u16string_view(text, length), parsed)) return CO_E_CLASSSTRING;
  *out = parsed;
  return S_OK;
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) { return ParseBracedGuid(lpsz, pclsid); }

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
  // A malformed interface identity is a bad argument, not a class lookup
  // failure: callers tell the two apart.
  HRESULT hr = ParseBracedGuid(lpsz, lpiid);
  return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}
