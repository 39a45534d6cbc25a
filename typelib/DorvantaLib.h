// The database server's type library: identities and the interfaces of its
// objects that other modules create or call, in slot order. A client (the map
// engine, the navigation engine) includes this header alone; it needs no
// link against the server.
//
// Slots whose methods no module calls yet are declared as reserved entries so
// that every named method sits at its slot; the server answers them
// E_NOTIMPL and touches none of their parameters.
//
// What the server hands out, unless a method says otherwise: a null out
// pointer is refused with E_POINTER; numbers and flags out are set to 0 or
// VARIANT_FALSE before the work starts, so a failure leaves that value; a
// text (BSTR*) is a new copy the caller frees; an object (I**) carries a
// reference the caller releases; a list (VARIANT*) is VT_ARRAY | VT_VARIANT,
// lower bound 0, each element holding a reference of its own, and the
// caller frees it with VariantClear. Every method catches its own
// exceptions.
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
  // The entry added at `inIndex`, counting from 0; the flag is not used
  // (0; outFlag may be null). On failure (E_INVALIDARG for an index out of
  // range, E_OUTOFMEMORY) the out parameters are left as they were, not
  // emptied; the file name is overwritten on success, never freed.
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

// A database object: it opens the database files of a folder (or one file)
// and answers for each of them; every call names the file it works on, by a
// phone path or a host path. The navigation engine makes two, one for
// the point-of-interest databases beside the maps and the user's own points,
// one for its history, favorites and annotations. Keys are the 32-bit keys
// the map's points and the found-point list carry. Flags are VARIANT_BOOL:
// VARIANT_TRUE (-1) or VARIANT_FALSE.
inline constexpr CLSID CLSID_Database = MakeGuid("{8FF26341-F4AA-4487-B14C-1642B36282AC}");

struct IDatabase : IDispatch {
  // Opens the database files (*.pdb) of a folder, or the one file named, and
  // gives the number of files open after the call.
  virtual HRESULT STDMETHODCALLTYPE DbOpen(BSTR inFolderOrFile, LONG* outCount) = 0;      // 7
  virtual HRESULT STDMETHODCALLTYPE DbGetRecordCount(BSTR inFile, LONG* outCount) = 0;    // 8
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;                                       // 9
  virtual HRESULT STDMETHODCALLTYPE DbClose() = 0;                                         // 10
  virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;                                      // 11
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;                                      // 12
  virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;                                      // 13
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;                                      // 14
  virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;                                      // 15
  virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;                                      // 16
  virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;                                      // 17
  // The record of a key as a point-of-interest object of the engine, made
  // through the engine's registration (the caller releases it). *outPOI is
  // null unless the record was found and the object made.
  virtual HRESULT STDMETHODCALLTYPE DbPOIGetRecord(BSTR inFile, ULONG inKey, IDispatch** outPOI,
                                                   VARIANT_BOOL* outSuccess) = 0;          // 18
  virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;                                      // 19
  virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;                                      // 20
  virtual HRESULT STDMETHODCALLTYPE Reserved21() = 0;                                      // 21
  virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;                                      // 22
  virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;                                      // 23
  // The categories, and the subcategories of one category, that the open
  // point-of-interest databases hold.
  virtual HRESULT STDMETHODCALLTYPE DbPOIGetCategories(VARIANT* inOutCategories, LONG* outCount) = 0;  // 24
  virtual HRESULT STDMETHODCALLTYPE DbPOIGetSubCategories(SHORT inCategory, VARIANT* inOutSubCategories,
                                                          LONG* outCount) = 0;         // 25
  virtual HRESULT STDMETHODCALLTYPE Reserved26() = 0;                                  // 26
  virtual HRESULT STDMETHODCALLTYPE DbPOISetCachePages(SHORT inPages) = 0;             // 27
  virtual HRESULT STDMETHODCALLTYPE DbPOISetMemoryKB(SHORT inKilobytes) = 0;           // 28
  virtual HRESULT STDMETHODCALLTYPE Reserved29() = 0;                                  // 29
  // Every point of a file as a search info (CLSID_POISearchInfo): the list
  // becomes VT_ARRAY|VT_VARIANT, lower bound 0, each element VT_DISPATCH;
  // the flag is true when the file holds at least one point. The list's old
  // value is freed only once the new list is made: on failure it is left as
  // it was (unlike the map engine's lists, which are emptied on entry); a
  // file without points (or unknown) leaves it VT_EMPTY.
  virtual HRESULT STDMETHODCALLTYPE DbPOIListSearchInfos(BSTR inFile, VARIANT* inOutList,
                                                         VARIANT_BOOL* outFound) = 0;  // 30
  virtual HRESULT STDMETHODCALLTYPE Reserved31() = 0;                                  // 31
  // One entry found by the map engine: the flag is true when the file holds a
  // record of the key.
  virtual HRESULT STDMETHODCALLTYPE DbPOIAcceptFound(BSTR inFile, ULONG inKey, VARIANT_BOOL* outAccepted) = 0;  // 32
  virtual HRESULT STDMETHODCALLTYPE Reserved33() = 0;  // 33
  virtual HRESULT STDMETHODCALLTYPE Reserved34() = 0;  // 34
  virtual HRESULT STDMETHODCALLTYPE Reserved35() = 0;  // 35
  virtual HRESULT STDMETHODCALLTYPE Reserved36() = 0;  // 36
  virtual HRESULT STDMETHODCALLTYPE Reserved37() = 0;  // 37
  virtual HRESULT STDMETHODCALLTYPE Reserved38() = 0;  // 38
  // The names and keys of a file's records; the marker text is appended to
  // the names of records that carry a media file.
  virtual HRESULT STDMETHODCALLTYPE DbGetNamesAndKeys(BSTR inFile, BSTR inMarkerSuffix, VARIANT* inOutNames,
                                                      VARIANT* inOutKeys, LONG* outCount) = 0;  // 39
  virtual HRESULT STDMETHODCALLTYPE Reserved40() = 0;                                           // 40
  // Copies the media file of a record to a new path.
  virtual HRESULT STDMETHODCALLTYPE DbPOIGetMediaFile(BSTR inFile, ULONG inKey, BSTR inMediaFileName,
                                                      BSTR inPathToNewFile, VARIANT_BOOL* outSuccess) = 0;  // 41
  virtual HRESULT STDMETHODCALLTYPE DbPOINextFreeKey(BSTR inFile, LONG* outKey) = 0;                    // 42
  virtual HRESULT STDMETHODCALLTYPE Reserved43() = 0;                                                   // 43
  virtual HRESULT STDMETHODCALLTYPE Reserved44() = 0;                                                   // 44
  virtual HRESULT STDMETHODCALLTYPE Reserved45() = 0;                                                   // 45
  virtual HRESULT STDMETHODCALLTYPE Reserved46() = 0;                                                   // 46
  virtual HRESULT STDMETHODCALLTYPE Reserved47() = 0;                                                   // 47
  virtual HRESULT STDMETHODCALLTYPE Reserved48() = 0;                                                   // 48
  virtual HRESULT STDMETHODCALLTYPE Reserved49() = 0;                                                   // 49
  virtual HRESULT STDMETHODCALLTYPE Reserved50() = 0;                                                   // 50
  virtual HRESULT STDMETHODCALLTYPE DbSetDebugFolder(BSTR inFolder) = 0;                                // 51
};
COM_DECLARE_IID(IDatabase, "{3D1A7C52-9E40-4B6F-8C2D-5A17E9B06F33}");
