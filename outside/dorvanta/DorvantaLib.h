// The database server's type library: identities and the interfaces of its
// objects that other modules create or call, in slot order. A client (the map
// engine, the navigation engine) includes this header alone; it needs no
// link against the server.
//
// Slots whose methods no module calls yet are declared as reserved entries so
// that every named method sits at its slot; the server answers them
// E_NOTIMPL.
#pragma once

#include "platform/com/oleauto.h"

// The list of found points: entries of a database file name and a key.
inline constexpr CLSID CLSID_FoundPOIIndexes = MakeGuid("{A055D4B0-7A97-4876-AE5B-BA464AD40A45}");
// One user point as the map engine's point-of-interest search reads it.
inline constexpr CLSID CLSID_POISearchInfo = MakeGuid("{9B954225-C3C3-446D-A08E-1FEAA5455052}");

// An ordered list of (database file, key) entries. Slots 7 to 12.
struct IFoundPOIIndexes : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Add(BSTR inDatabaseFile, ULONG inKey) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;                             // 8
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;                             // 9
  virtual HRESULT STDMETHODCALLTYPE Count(LONG* outCount) = 0;                   // 10
  // The entry added at `inIndex`, counting from 0; the flag is not used.
  virtual HRESULT STDMETHODCALLTYPE Get(LONG inIndex, BSTR* outDatabaseFile, ULONG* outKey,
                                        SHORT* outFlag) = 0;  // 11
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;              // 12
};
COM_DECLARE_IID(IFoundPOIIndexes, "{6F8E8163-8A5B-4D49-A02B-5B0DC764F953}");

// Key, category, subcategory and position of one user point. Slots 7 to 16:
// each property's get, then its put.
struct IPOISearchInfo : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Key(ULONG* pVal) = 0;            // 7
  virtual HRESULT STDMETHODCALLTYPE put_Key(ULONG newVal) = 0;           // 8
  virtual HRESULT STDMETHODCALLTYPE get_Category(SHORT* pVal) = 0;       // 9
  virtual HRESULT STDMETHODCALLTYPE put_Category(SHORT newVal) = 0;      // 10
  virtual HRESULT STDMETHODCALLTYPE get_SubCategory(SHORT* pVal) = 0;    // 11
  virtual HRESULT STDMETHODCALLTYPE put_SubCategory(SHORT newVal) = 0;   // 12
  virtual HRESULT STDMETHODCALLTYPE get_Latitude(double* pVal) = 0;      // 13
  virtual HRESULT STDMETHODCALLTYPE put_Latitude(double newVal) = 0;     // 14
  virtual HRESULT STDMETHODCALLTYPE get_Longitude(double* pVal) = 0;     // 15
  virtual HRESULT STDMETHODCALLTYPE put_Longitude(double newVal) = 0;    // 16
};
COM_DECLARE_IID(IPOISearchInfo, "{2CB758E8-B285-41EB-8147-F929BAD81E69}");
