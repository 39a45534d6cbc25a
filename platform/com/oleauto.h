// Automation values of the platform layer: BSTR texts, VARIANTs and
// one-dimensional SAFEARRAYs, with the functions the servers call on them.
//
// Ownership follows the phone's rules: whoever receives a BSTR, VARIANT or
// SAFEARRAY from a call frees it (SysFreeString, VariantClear,
// SafeArrayDestroy). Every function here checks its arguments and answers an
// error code instead of reading or writing out of bounds.
#pragma once

#include "platform/com/types.h"

// ---- BSTR ---------------------------------------------------------------------
//
// A BSTR points at UTF-16 text preceded by a 4-byte byte length and followed
// by a NUL. A null BSTR is a valid empty text everywhere.

// Copies a NUL-terminated text; nullptr in gives nullptr out, and so does a
// text with no NUL within 0x3FFFFFFF characters.
BSTR SysAllocString(const OLECHAR* psz);
// Copies `len` characters (embedded NULs kept); a null `pch` gives `len`
// zeroed characters to fill in, terminated. Returns nullptr when `len` is
// absurd (over 0x3FFFFFFF characters) or memory runs out.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT len);
// Frees a BSTR made by this family; nullptr is ignored.
void SysFreeString(BSTR bstr);
// Number of characters, 0 for nullptr.
UINT SysStringLen(BSTR bstr);
// Number of bytes, 0 for nullptr.
UINT SysStringByteLen(BSTR bstr);
// Replaces *pbstr with a copy of psz (an empty text for a null psz; psz may
// point into *pbstr); FALSE (and *pbstr unchanged) on failure.
BOOL SysReAllocString(BSTR* pbstr, const OLECHAR* psz);

// ---- VARIANT ------------------------------------------------------------------

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

struct SAFEARRAY;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    INT intVal;
    UINT uintVal;
    char cVal;
    USHORT uiVal;
    ULONG ulVal;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

// The types a variant may hold: VT_EMPTY, VT_NULL, the scalar types above,
// VT_BSTR, VT_DISPATCH, VT_UNKNOWN, VT_ARRAY | (an element type of SAFEARRAY
// below), and VT_BYREF | any of those but VT_EMPTY and VT_NULL (VT_BYREF |
// VT_VARIANT too). A VT_BYREF variant owns nothing.

// Sets the variant to VT_EMPTY (value zeroed) without freeing anything.
void VariantInit(VARIANT* pvarg);
// Frees what the variant owns (text, array, interface reference) and leaves it
// VT_EMPTY. DISP_E_BADVARTYPE for a type it does not know, and the error of
// SafeArrayDestroy for an array that cannot be freed: then nothing is freed
// and the variant is unchanged. E_INVALIDARG for nullptr.
HRESULT VariantClear(VARIANT* pvarg);
// Makes `dest` a deep copy of `src` (texts and arrays copied, interfaces
// AddRef'ed; VT_BYREF pointers copied as they are) after freeing what `dest`
// held; the copy is taken before `dest` is cleared. On failure
// `dest` is left VT_EMPTY, except when `dest` itself cannot be cleared: then
// its error is returned and `dest` is unchanged.
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);

// ---- SAFEARRAY ---------------------------------------------------------------------
//
// Only one-dimensional arrays are offered; the element type is one of VT_I2,
// VT_I4, VT_R8, VT_BOOL, VT_BSTR, VT_UNKNOWN, VT_DISPATCH, VT_VARIANT, VT_UI1.

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

enum : USHORT {
  FADF_AUTO = 0x0001,
  FADF_STATIC = 0x0002,
  FADF_FIXEDSIZE = 0x0010,
  FADF_BSTR = 0x0100,
  FADF_UNKNOWN = 0x0200,
  FADF_DISPATCH = 0x0400,
  FADF_VARIANT = 0x0800,
  FADF_HAVEVARTYPE = 0x0080,
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
  // The element type, kept beside the array as the phone keeps it in front of it.
  VARTYPE vt;
};

// Every function below answers E_INVALIDARG for a null or malformed array
// (not one-dimensional, unknown element type, element size or bounds that do
// not match it) and for null pointer arguments it needs.

// nullptr when cDims is not 1, rgsabound is null, the type is not offered, or
// the size is absurd: over 1 GiB of elements, or bounds whose upper end does
// not fit a LONG. Elements start zeroed (VT_EMPTY variants, null texts).
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Frees the elements (texts, references, variants) and the array;
// DISP_E_ARRAYISLOCKED while locked, E_INVALIDARG for nullptr.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
// Copies into element rgIndices[0] (a text is copied, an interface AddRef'ed,
// a variant deep-copied) and frees what the element held. `pv` is the BSTR
// itself for VT_BSTR and the interface pointer itself for VT_UNKNOWN and
// VT_DISPATCH (null allowed for both); for other types it points at the value.
// DISP_E_BADINDEX when the index is outside lLbound..lLbound+cElements-1.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// Copies element rgIndices[0] into `*pv` (a BSTR, interface pointer, VARIANT
// or value); the caller owns the copy. What `*pv` held before is overwritten,
// not freed.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// Bounds of dimension 1; DISP_E_BADINDEX for any other nDim.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// 1 for an array of this layer, 0 for nullptr or a malformed array.
UINT SafeArrayGetDim(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
// Locks the array (Destroy fails while locked) and gives its elements; each
// call needs one SafeArrayUnaccessData, which answers E_UNEXPECTED when the
// array is not locked.
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// Deep copy, unlocked; *ppsaOut is nullptr on failure.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);

namespace com {
// Test hook of the value allocators: while `fail` is set, the SysAllocString
// family and SafeArrayCreate/SafeArrayCreateVector (and so every copy of a
// text or an array) ask it before they allocate and, when it answers true,
// fail as if memory had run out. nullptr removes it. Tests use it to fail
// each allocation of a method in turn.
void SetValueAllocationFaultForTest(bool (*fail)());

namespace detail {
// True for the element types SAFEARRAY offers (see above).
bool IsSafeArrayElementType(VARTYPE vt);
// Asks the test hook above; false when none is set.
bool ValueAllocationFails();
}  // namespace detail
}  // namespace com
