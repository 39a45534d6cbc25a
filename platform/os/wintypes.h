// The phone's scalar types, in which the platform layer's functions are
// declared: integer widths, the 32-bit BOOL with TRUE and FALSE, and wide
// characters with their text pointers. The OS part of the layer needs nothing
// more; the COM part adds its own types (HRESULT, BSTR, VARIANT_BOOL, ...) in
// its types header, which includes this one.
#pragma once

#include <cstdint>

using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using BYTE = std::uint8_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
