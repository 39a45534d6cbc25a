// Basic COM types of the platform layer: result codes, GUIDs, the two root
// interfaces, and the scalar aliases COM adds to the OS ones
// (platform/os/wintypes.h) that the servers' interfaces are written in.
//
// Interfaces are abstract structs whose virtual functions are declared in slot
// order, with no virtual destructor and no data members, so slot N of an
// interface is its Nth virtual function on the Itanium C++ ABI, as on the phone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os/text.h"
#include "platform/os/wintypes.h"

// ---- scalar aliases -------------------------------------------------------
//
// The OS scalars (DWORD, LONG, BOOL, WCHAR, ...) come from platform/os; these
// are the ones COM adds.

using HRESULT = std::int32_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Interface methods need no special calling convention on this platform; the
// macro keeps declarations readable beside the phone's.
#define STDMETHODCALLTYPE

// ---- result codes ----------------------------------------------------------

constexpr HRESULT MakeHresult(std::uint32_t v) { return static_cast<HRESULT>(v); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002u);
inline constexpr HRESULT E_POINTER = MakeHresult(0x80004003u);
inline constexpr HRESULT E_ABORT = MakeHresult(0x80004004u);
inline constexpr HRESULT E_FAIL = MakeHresult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = MakeHresult(0x80070005u);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHresult(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154u);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHresult(0x80040150u);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeHresult(0x80040151u);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHresult(0x80040201u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHresult(0x800401F0u);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHresult(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHresult(0x800401F9u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHresult(0x80020005u);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHresult(0x80020008u);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHresult(0x8002000Au);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHresult(0x8002000Bu);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHresult(0x8002000Du);

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// ---- GUID -------------------------------------------------------------------

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any case).
// Returns false and leaves `out` untouched on any other text.
constexpr bool ParseGuid(std::string_view text, GUID& out) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
  std::uint8_t bytes[16] = {};
  int n = 0;
  for (std::size_t i = 0; i < 36;) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    int hi = platform::HexDigit(text[i]);
    int lo = platform::HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  GUID g{};
  g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
            (std::uint32_t{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  out = g;
  return true;
}

// A GUID literal checked at compile time: MakeGuid("{...}").
consteval GUID MakeGuid(const char* text) {
  std::size_t len = 0;
  while (text[len] != '\0') ++len;
  GUID g{};
  if (!ParseGuid(std::string_view(text, len), g)) throw "malformed GUID literal";
  return g;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as the registry keeps it.
std::string FormatGuid(const GUID& g);
std::u16string FormatGuidW(const GUID& g);
// Parses a wide GUID text; false for anything but a well-formed GUID.
bool ParseGuidW(std::u16string_view text, GUID& out);

// ---- interface identities ---------------------------------------------------

// Each interface names its identifier once with COM_DECLARE_IID; IidOf<I>()
// answers it, which is what QueryInterface tables and smart pointers use.
template <class I>
struct InterfaceId;

template <class I>
constexpr const IID& IidOf() {
  return InterfaceId<I>::value;
}

#define COM_DECLARE_IID(Interface, text)                 \
  inline constexpr IID IID_##Interface = MakeGuid(text); \
  template <>                                            \
  struct InterfaceId<Interface> {                        \
    static constexpr const IID& value = IID_##Interface; \
  }

// ---- root interfaces ------------------------------------------------------------

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;  // slot 0
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;                                         // slot 1
  virtual ULONG STDMETHODCALLTYPE Release() = 0;                                        // slot 2
};
COM_DECLARE_IID(IUnknown, "{00000000-0000-0000-C000-000000000046}");

struct VARIANT;
struct ITypeInfo;  // never defined: type information is not offered here
using DISPPARAMS = struct tagDISPPARAMS {
  VARIANT* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};
struct EXCEPINFO;  // never defined: late-bound calls are not offered here

// Dual interfaces derive from IDispatch so that their own methods start at
// slot 7. Late binding is not offered on this platform: the servers report no
// type information and answer E_NOTIMPL in the other three of these four
// slots (see com::ComClass in atl.h).
struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;                     // slot 3
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;  // slot 4
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;           // slot 5
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                           DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                           EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;        // slot 6
};
COM_DECLARE_IID(IDispatch, "{00020400-0000-0000-C000-000000000046}");

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
COM_DECLARE_IID(IClassFactory, "{00000001-0000-0000-C000-000000000046}");

// Objects that can say they keep rich error information for an interface.
struct ISupportErrorInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};
COM_DECLARE_IID(ISupportErrorInfo, "{DF0B3D60-548F-101B-8E65-08002B2BD119}");

// Slot checks: a vtable slot is one pointer, and the root interfaces hold
// exactly the slots the servers count from.
namespace com::detail {
struct SlotProbe3 : IUnknown {};
static_assert(sizeof(SlotProbe3) == sizeof(void*));
}  // namespace com::detail
