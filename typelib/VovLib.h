// The navigation engine's type library: identities and the interfaces of the
// value objects other modules create or read, in slot order. A client (the map
// engine) includes this header alone; it needs no link against the engine.
//
// Slots whose methods no module calls yet are declared as reserved entries so
// that every named method sits at its slot; the engine answers them E_NOTIMPL.
//
// What every interface here hands out, unless a method says otherwise:
// - A null out pointer is refused with E_POINTER and nothing is written.
// - A text (BSTR*) is a new copy the caller frees with SysFreeString; an
//   empty field gives an empty text, not null. The out parameter is null when
//   the text could not be made. Whatever the out parameter held before is
//   overwritten, never freed: pass it empty.
// - An object (I**) carries a reference the caller releases. It is the object
//   this one holds, not a copy: changes made through it change this object.
//   ILocationObject::GetLocation (and the GetLocation of every object that
//   forwards to an inner location) is the exception: a new copy.
// - An object passed in (I*) is kept with a reference of its own (shared with
//   the caller) by the setters of objects; SetLocation copies the position,
//   name and description instead. A null object is refused with E_POINTER and
//   the held one stays.
// - A text passed in is copied; a null BSTR is the empty text. When memory
//   runs out the field keeps its old text (E_OUTOFMEMORY).
// - Flags out are VARIANT_TRUE (-1) or VARIANT_FALSE, except
//   ILocationObject::IsValid, which answers 1 for a valid position.
#pragma once

#include "platform/com/oleauto.h"

inline constexpr CLSID CLSID_LocationObject = MakeGuid("{004695F8-4E57-4BD2-855E-E357CA61452C}");
inline constexpr CLSID CLSID_AddressObject = MakeGuid("{3EFB2BEE-E511-4882-8223-4461E09C195B}");
inline constexpr CLSID CLSID_POISearchConfigurationObject = MakeGuid("{0D0DF853-371F-4BAD-8A47-EED5983769FE}");
inline constexpr CLSID CLSID_POIObject = MakeGuid("{FEA29E6B-E212-43A5-8307-F4562F399549}");
inline constexpr CLSID CLSID_POICategoryObject = MakeGuid("{2C0C3853-43D0-4E04-B03B-B66504368122}");
inline constexpr CLSID CLSID_POISubCategoryObject = MakeGuid("{8CDC6294-075C-4170-B774-5C8F3BC0E722}");
inline constexpr CLSID CLSID_SystemSettingsObject = MakeGuid("{28919FF3-7B1B-4310-848C-B88E3918B109}");
inline constexpr CLSID CLSID_GPSSettingsObject = MakeGuid("{3313AD28-44FD-4E77-A83B-FC636B0D21C1}");
inline constexpr CLSID CLSID_LookaroundSettingsObject = MakeGuid("{8695220B-DF44-4636-9681-48491B67E50B}");
inline constexpr CLSID CLSID_RouteSettingsObject = MakeGuid("{BA194E67-DDAD-48B2-89CF-145C4B5C92BF}");
inline constexpr CLSID CLSID_BluetoothDeviceObject = MakeGuid("{901DFFBD-37D5-4DDF-B4FF-D884A3413A1A}");

// ---- enumerations -------------------------------------------------------------

enum LatitudeHemisphere : INT {
  North = 0,
  South = 1,
};

enum LongitudeHemisphere : INT {
  East = 0,
  West = 1,
};

// How a bearing or heading is put in words: as its number of degrees in
// digits, or as the compass word ("north", "southwest").
enum HeadingType : INT {
  HeadingDegrees = 0,
  HeadingCompass = 1,
};

// The direction a point-of-interest search looks in, 0 to 8.
enum Directions : INT {
  DirectionAll = 0,
  DirectionLeft = 8,
};

// Which side of its street a place lies on.
enum SideOfStreet : INT {
  UnknownSide = 0,
  LeftSide = 1,
  RightSide = 2,
};

struct IDescriptionConfigurationObject;
struct IStreetObject;
struct IPOIObject;
struct IPOICategoryObject;
struct IPOISubCategoryObject;

// ---- value objects ------------------------------------------------------------------

// A position in signed decimal degrees with a name and a description. Slots 7 to 36.
struct ILocationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetLatitudeHemisphere(LatitudeHemisphere* pVal) = 0;            // 7
  virtual HRESULT STDMETHODCALLTYPE SetLatitudeHemisphere(LatitudeHemisphere newVal) = 0;           // 8
  virtual HRESULT STDMETHODCALLTYPE GetLongitudeHemisphere(LongitudeHemisphere* pVal) = 0;          // 9
  virtual HRESULT STDMETHODCALLTYPE SetLongitudeHemisphere(LongitudeHemisphere newVal) = 0;         // 10
  virtual HRESULT STDMETHODCALLTYPE GetLatitudeDegrees(SHORT* pVal) = 0;                            // 11
  virtual HRESULT STDMETHODCALLTYPE GetLatitudeMinutes(SHORT* pVal) = 0;                            // 12
  virtual HRESULT STDMETHODCALLTYPE GetLatitudeSeconds(double* pVal) = 0;                           // 13
  virtual HRESULT STDMETHODCALLTYPE SetLatitudeDegreesMinutesSeconds(SHORT deg, SHORT min, double sec) = 0;   // 14
  virtual HRESULT STDMETHODCALLTYPE GetLongitudeDegrees(SHORT* pVal) = 0;                           // 15
  virtual HRESULT STDMETHODCALLTYPE GetLongitudeMinutes(SHORT* pVal) = 0;                           // 16
  virtual HRESULT STDMETHODCALLTYPE GetLongitudeSeconds(double* pVal) = 0;                          // 17
  virtual HRESULT STDMETHODCALLTYPE SetLongitudeDegreesMinutesSeconds(SHORT deg, SHORT min, double sec) = 0;  // 18
  virtual HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) = 0;                                // 19
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                        // 20
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                       // 21
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                 // 22
  virtual HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) = 0;                        // 23
  virtual HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) = 0;                                 // 24
  virtual HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) = 0;                                // 25
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 26
  // A new location object with this one's position, name and description;
  // null on failure.
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 27
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 28
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 29
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0;   // 30
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) = 0;  // 31
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 32
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 33
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 34
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                          // 35
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 36
};
COM_DECLARE_IID(ILocationObject, "{4437143B-68F7-4D1C-9224-FDA7752E86DC}");

enum POIFields : INT;

// The parameters of a point-of-interest search. Slots 7 to 40. The map engine
// reads slots 7, 15, 16, 19, 22, 24, 30, 32, 34, 36 and 37; the properties it
// does not read sit in slots 9 to 14, 25 to 28 and from 38 on, each get before
// its set. The category objects and numbers are those of the search object.
struct IPOISearchConfigurationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetMaxSearchResults(LONG* pVal) = 0;               // 7
  virtual HRESULT STDMETHODCALLTYPE SetMaxSearchResults(LONG newVal) = 0;               // 8
  virtual HRESULT STDMETHODCALLTYPE GetPOISearchObject(IPOIObject** pVal) = 0;         // 9
  virtual HRESULT STDMETHODCALLTYPE SetPOISearchObject(IPOIObject* newVal) = 0;         // 10
  virtual HRESULT STDMETHODCALLTYPE GetPOICategory(IPOICategoryObject** pVal) = 0;     // 11
  virtual HRESULT STDMETHODCALLTYPE SetPOICategory(IPOICategoryObject* newVal) = 0;     // 12
  virtual HRESULT STDMETHODCALLTYPE GetPOISubCategory(IPOISubCategoryObject** pVal) = 0;  // 13
  virtual HRESULT STDMETHODCALLTYPE SetPOISubCategory(IPOISubCategoryObject* newVal) = 0;  // 14
  virtual HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) = 0;                // 15
  virtual HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) = 0;             // 16
  virtual HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) = 0;                // 17
  virtual HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) = 0;             // 18
  virtual HRESULT STDMETHODCALLTYPE GetMaxSearchTime(SHORT* pVal) = 0;                 // 19
  virtual HRESULT STDMETHODCALLTYPE SetMaxSearchTime(SHORT newVal) = 0;                 // 20
  virtual HRESULT STDMETHODCALLTYPE SetUserPrivateOnly(VARIANT_BOOL newVal) = 0;        // 21
  virtual HRESULT STDMETHODCALLTYPE GetUserPrivateOnly(VARIANT_BOOL* pVal) = 0;        // 22
  virtual HRESULT STDMETHODCALLTYPE SetUserPublicOnly(VARIANT_BOOL newVal) = 0;         // 23
  virtual HRESULT STDMETHODCALLTYPE GetUserPublicOnly(VARIANT_BOOL* pVal) = 0;         // 24
  virtual HRESULT STDMETHODCALLTYPE IsNewSearch(VARIANT_BOOL* pVal) = 0;               // 25
  virtual HRESULT STDMETHODCALLTYPE SetNewSearch(VARIANT_BOOL newVal) = 0;              // 26
  virtual HRESULT STDMETHODCALLTYPE GetStartsWithSearch(VARIANT_BOOL* pVal) = 0;       // 27
  virtual HRESULT STDMETHODCALLTYPE SetStartsWithSearch(VARIANT_BOOL newVal) = 0;       // 28
  virtual HRESULT STDMETHODCALLTYPE SetDistanceStarting(double newVal) = 0;             // 29
  virtual HRESULT STDMETHODCALLTYPE GetDistanceStarting(double* pVal) = 0;             // 30
  virtual HRESULT STDMETHODCALLTYPE SetCurrentHeadingDegrees(SHORT newVal) = 0;         // 31
  virtual HRESULT STDMETHODCALLTYPE GetCurrentHeadingDegrees(SHORT* pVal) = 0;         // 32
  virtual HRESULT STDMETHODCALLTYPE SetSearchDirection(Directions newVal) = 0;          // 33
  virtual HRESULT STDMETHODCALLTYPE GetSearchDirection(Directions* pVal) = 0;          // 34
  virtual HRESULT STDMETHODCALLTYPE SetIncludeUserPrivateAsWell(VARIANT_BOOL newVal) = 0;  // 35
  virtual HRESULT STDMETHODCALLTYPE IncludeUserPrivateAsWell(VARIANT_BOOL* pVal) = 0;  // 36
  virtual HRESULT STDMETHODCALLTYPE GetMainSearchString(BSTR* pVal) = 0;               // 37
  virtual HRESULT STDMETHODCALLTYPE GetMainSearchField(POIFields* pVal) = 0;           // 38
  virtual HRESULT STDMETHODCALLTYPE GetWholeWord(VARIANT_BOOL* pVal) = 0;              // 39
  virtual HRESULT STDMETHODCALLTYPE SetWholeWord(VARIANT_BOOL newVal) = 0;              // 40
};
COM_DECLARE_IID(IPOISearchConfigurationObject, "{F259E50C-9F5C-4110-AF73-A1EFA57B4B2F}");

// An address: a name and a position, held by an inner location object, and the
// map, city, street and postal code of its street. Slots 7 to 31; slots 12 to
// 27 are the location block of ILocationObject.
struct IAddressObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetAddress(BSTR* pVal) = 0;                                      // 7
  virtual HRESULT STDMETHODCALLTYPE SetMap(BSTR newVal) = 0;                                         // 8
  virtual HRESULT STDMETHODCALLTYPE SetCity(BSTR newVal) = 0;                                        // 9
  virtual HRESULT STDMETHODCALLTYPE SetZipPostalcode(BSTR newVal) = 0;                               // 10
  virtual HRESULT STDMETHODCALLTYPE SetStreet(BSTR newVal) = 0;                                      // 11
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                         // 12
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                        // 13
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;                                                // 14
  virtual HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) = 0;                                  // 15
  virtual HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) = 0;                                 // 16
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                 // 17
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                         // 18
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                   // 19
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                  // 20
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0;    // 21
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) = 0;  // 22
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;                // 23
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;         // 24
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;     // 25
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                           // 26
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                    // 27
  // The address's own street object (shared); null with E_UNEXPECTED when
  // the address has none.
  virtual HRESULT STDMETHODCALLTYPE GetStreetObject(IStreetObject** pVal) = 0;                       // 28
  virtual HRESULT STDMETHODCALLTYPE GetZipPostalcode(BSTR* pVal) = 0;                                // 29
  virtual HRESULT STDMETHODCALLTYPE GetStreet(BSTR* pVal) = 0;                                       // 30
  virtual HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) = 0;                                         // 31
};
COM_DECLARE_IID(IAddressObject, "{AE31240F-2D55-44CC-97D6-BCAA9BBDC806}");

// A point of interest: its name, description and position live in an inner
// location object (slots 7 to 24 forward to it, in the location object's
// order); then each property of the point's record, its get before its put.
// Slots 7 to 83.
struct IPOIObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) = 0;                                          // 7
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                                  // 8
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                                 // 9
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                           // 10
  virtual HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) = 0;                                  // 11
  virtual HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) = 0;                                           // 12
  virtual HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) = 0;                                          // 13
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                          // 14
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                                  // 15
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                            // 16
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                           // 17
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0;        // 18
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to,
                                                       BSTR* pVal) = 0;                                      // 19
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;                         // 20
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;                  // 21
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;              // 22
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                                   // 23
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                            // 24
  virtual HRESULT STDMETHODCALLTYPE GetKey(LONG* pVal) = 0;                                                   // 25
  virtual HRESULT STDMETHODCALLTYPE SetKey(LONG newVal) = 0;                                                  // 26
  virtual HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) = 0;                                       // 27
  virtual HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) = 0;                                      // 28
  virtual HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) = 0;                                    // 29
  virtual HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) = 0;                                   // 30
  virtual HRESULT STDMETHODCALLTYPE GetAuthor(BSTR* pVal) = 0;                                                // 31
  virtual HRESULT STDMETHODCALLTYPE SetAuthor(BSTR newVal) = 0;                                               // 32
  virtual HRESULT STDMETHODCALLTYPE GetDate(BSTR* pVal) = 0;                                                  // 33
  virtual HRESULT STDMETHODCALLTYPE SetDate(BSTR newVal) = 0;                                                 // 34
  virtual HRESULT STDMETHODCALLTYPE GetThirdPartyId(BSTR* pVal) = 0;                                          // 35
  virtual HRESULT STDMETHODCALLTYPE SetThirdPartyId(BSTR newVal) = 0;                                         // 36
  virtual HRESULT STDMETHODCALLTYPE GetTags(BSTR* pVal) = 0;                                                  // 37
  virtual HRESULT STDMETHODCALLTYPE SetTags(BSTR newVal) = 0;                                                 // 38
  virtual HRESULT STDMETHODCALLTYPE GetHoursOfOperation(BSTR* pVal) = 0;                                      // 39
  virtual HRESULT STDMETHODCALLTYPE SetHoursOfOperation(BSTR newVal) = 0;                                     // 40
  virtual HRESULT STDMETHODCALLTYPE GetAddressNumber(BSTR* pVal) = 0;                                         // 41
  virtual HRESULT STDMETHODCALLTYPE SetAddressNumber(BSTR newVal) = 0;                                        // 42
  virtual HRESULT STDMETHODCALLTYPE GetStreet(BSTR* pVal) = 0;                                                // 43
  virtual HRESULT STDMETHODCALLTYPE SetStreet(BSTR newVal) = 0;                                               // 44
  virtual HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) = 0;                                                  // 45
  virtual HRESULT STDMETHODCALLTYPE SetCity(BSTR newVal) = 0;                                                 // 46
  virtual HRESULT STDMETHODCALLTYPE GetState(BSTR* pVal) = 0;                                                 // 47
  virtual HRESULT STDMETHODCALLTYPE SetState(BSTR newVal) = 0;                                                // 48
  virtual HRESULT STDMETHODCALLTYPE GetCountry(BSTR* pVal) = 0;                                               // 49
  virtual HRESULT STDMETHODCALLTYPE SetCountry(BSTR newVal) = 0;                                              // 50
  virtual HRESULT STDMETHODCALLTYPE GetZipCode(BSTR* pVal) = 0;                                               // 51
  virtual HRESULT STDMETHODCALLTYPE SetZipCode(BSTR newVal) = 0;                                              // 52
  virtual HRESULT STDMETHODCALLTYPE GetPhoneNumber(BSTR* pVal) = 0;                                           // 53
  virtual HRESULT STDMETHODCALLTYPE SetPhoneNumber(BSTR newVal) = 0;                                          // 54
  virtual HRESULT STDMETHODCALLTYPE GetFaxNumber(BSTR* pVal) = 0;                                             // 55
  virtual HRESULT STDMETHODCALLTYPE SetFaxNumber(BSTR newVal) = 0;                                            // 56
  virtual HRESULT STDMETHODCALLTYPE GetWebAddress(BSTR* pVal) = 0;                                            // 57
  virtual HRESULT STDMETHODCALLTYPE SetWebAddress(BSTR newVal) = 0;                                           // 58
  virtual HRESULT STDMETHODCALLTYPE GetEmail(BSTR* pVal) = 0;                                                 // 59
  virtual HRESULT STDMETHODCALLTYPE SetEmail(BSTR newVal) = 0;                                                // 60
  virtual HRESULT STDMETHODCALLTYPE GetMediaFile(BSTR* pVal) = 0;                                             // 61
  virtual HRESULT STDMETHODCALLTYPE SetMediaFile(BSTR newVal) = 0;                                            // 62
  virtual HRESULT STDMETHODCALLTYPE HasMediaFile(VARIANT_BOOL* pVal) = 0;                                     // 63
  virtual HRESULT STDMETHODCALLTYPE IsUserPOI(VARIANT_BOOL* pVal) = 0;                                        // 64
  virtual HRESULT STDMETHODCALLTYPE SetIsUserPOI(VARIANT_BOOL newVal) = 0;                                    // 65
  virtual HRESULT STDMETHODCALLTYPE IsPrivate(VARIANT_BOOL* pVal) = 0;                                        // 66
  virtual HRESULT STDMETHODCALLTYPE SetIsPrivate(VARIANT_BOOL newVal) = 0;                                    // 67
  virtual HRESULT STDMETHODCALLTYPE GetLatitudeOffset(double* pVal) = 0;                                      // 68
  virtual HRESULT STDMETHODCALLTYPE SetLatitudeOffset(double newVal) = 0;                                     // 69
  virtual HRESULT STDMETHODCALLTYPE GetLongitudeOffset(double* pVal) = 0;                                     // 70
  virtual HRESULT STDMETHODCALLTYPE SetLongitudeOffset(double newVal) = 0;                                    // 71
  virtual HRESULT STDMETHODCALLTYPE GetCategory(IPOICategoryObject** pVal) = 0;                               // 72
  virtual HRESULT STDMETHODCALLTYPE SetCategory(IPOICategoryObject* newVal) = 0;                              // 73
  virtual HRESULT STDMETHODCALLTYPE GetSubCategory(IPOISubCategoryObject** pVal) = 0;                         // 74
  virtual HRESULT STDMETHODCALLTYPE SetSubCategory(IPOISubCategoryObject* newVal) = 0;                        // 75
  virtual HRESULT STDMETHODCALLTYPE GetPDBFile(BSTR* pVal) = 0;                                               // 76
  virtual HRESULT STDMETHODCALLTYPE SetPDBFile(BSTR newVal) = 0;                                              // 77
  virtual HRESULT STDMETHODCALLTYPE GetFoundIndex(LONG* pVal) = 0;                                            // 78
  virtual HRESULT STDMETHODCALLTYPE SetFoundIndex(LONG newVal) = 0;                                           // 79
  virtual HRESULT STDMETHODCALLTYPE CanModifyRMFFields(VARIANT_BOOL* pVal) = 0;                               // 80
  virtual HRESULT STDMETHODCALLTYPE SetCanModifyRMFFields(VARIANT_BOOL newVal) = 0;                           // 81
  virtual HRESULT STDMETHODCALLTYPE GetSideOfStreet(SideOfStreet* pVal) = 0;                                  // 82
  virtual HRESULT STDMETHODCALLTYPE SetSideOfStreet(SideOfStreet newVal) = 0;                                 // 83
};
COM_DECLARE_IID(IPOIObject, "{1140F8EF-B2C0-4893-8C99-036A05491613}");

// A point-of-interest category: its number and its spoken name. Slots 7 to 9.
struct IPOICategoryObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) = 0;  // 8
  virtual HRESULT STDMETHODCALLTYPE GetCategoryName(BSTR* pVal) = 0;      // 9
};
COM_DECLARE_IID(IPOICategoryObject, "{A59EA57A-B2F6-429D-A1D8-96C15A7560D0}");

// A subcategory of a point-of-interest category: the category's number, its
// own number and its spoken name. Slots 7 to 11.
struct IPOISubCategoryObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetMainCategoryNumber(SHORT* pVal) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE SetMainCategoryNumber(SHORT newVal) = 0;  // 8
  virtual HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) = 0;    // 9
  virtual HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) = 0;   // 10
  virtual HRESULT STDMETHODCALLTYPE GetSubCategoryName(BSTR* pVal) = 0;       // 11
};
COM_DECLARE_IID(IPOISubCategoryObject, "{C00466C3-83EA-4B56-B271-504589C180C3}");

// ---- settings objects ---------------------------------------------------------------

// Units of distances at the interfaces; inside the engine distances are feet.
enum Units : INT {
  Metric = 0,
  Imperial = 1,
  Nautical = 2,
  BritishNautical = 3,
};

// How a direction relative to the user's heading is put in words.
enum RelativeHeadingType : INT {
  ClockFace = 0,
  AheadLeft = 1,
  Combo = 2,
  LeftRightDegreesCompass = 3,
};

// How long the engine's descriptions are.
enum SystemDescriptions : INT {
  Short = 0,
  Full = 1,
  Both = 2,
};

// The kind of receiver, and so the source the engine reads positions from.
enum GPSType : INT {
  GPSTypeNone = 0,
  GPSTypeSimulated = 1,
  GPSTypeBlueTooth = 2,
  GPSTypeSerial = 3,
  GPSTypeCompactFlash = 4,
  GPSTypePCSlot = 5,
  GPSTypeCustom = 6,
  GPSTypeInertial = 7,
  GPSTypeNorthernHeadingsWhenStopped = 8,
  GPSTypeExternal = 9,
  GPSTypeTalkingLights = 10,
};

// How the heading is averaged from successive positions.
enum HeadingAveraging : INT {
  InstantaneousHeadings = 0,
  AutomaticHeadings = 1,
  BigCityHeadings = 2,
  ManualHeadings = 3,
};

// Which route steps count as waypoints: every step, or only the turns.
enum WaypointMode : INT {
  WaypointModeAll = 0,
  WaypointModeTurnsOnly = 1,
};

// Which look-around announcements run while a route is followed.
enum LookaroundRouteOptions : INT {
  LookaroundRouteOnly = 0,
  LookaroundCustom = 1,
  LookaroundRouteAndIntersectionsOnly = 2,
  LookaroundRouteAndPOIsOnly = 3,
};

// Whether the engine follows the receiver or a virtual position.
enum Mode : INT {
  GPSMode = 0,
  VirtualMode = 1,
};

// A paired Bluetooth device as the receiver settings take it: its name and the
// serial port it is reached on. Slots 7 to 9.
struct IBluetoothDeviceObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;        // 7
  virtual HRESULT STDMETHODCALLTYPE GetPortName(BSTR* pVal) = 0;    // 8
  virtual HRESULT STDMETHODCALLTYPE GetPortNumber(SHORT* pVal) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE IsActive(SHORT* pVal) = 0;       // 10
};
COM_DECLARE_IID(IBluetoothDeviceObject, "{3AE1C528-6777-477A-9768-C4AC42DC3990}");

// The engine's general settings. Distances are kept in feet; the units
// argument says what the caller gives or wants. Slots 7 to 33.
struct ISystemSettingsObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetHeadingMode(RelativeHeadingType* pVal) = 0;               // 7
  virtual HRESULT STDMETHODCALLTYPE SetHeadingMode(RelativeHeadingType newVal) = 0;              // 8
  virtual HRESULT STDMETHODCALLTYPE GetUnits(Units* pVal) = 0;                                   // 9
  virtual HRESULT STDMETHODCALLTYPE SetUnits(Units newVal) = 0;                                  // 10
  virtual HRESULT STDMETHODCALLTYPE GetMapPOIDirectory(BSTR* pVal) = 0;                          // 11
  virtual HRESULT STDMETHODCALLTYPE SetMapPOIDirectory(BSTR newVal) = 0;                         // 12
  virtual HRESULT STDMETHODCALLTYPE GetSettingsDirectory(BSTR* pVal) = 0;                        // 13
  virtual HRESULT STDMETHODCALLTYPE SetSettingsDirectory(BSTR newVal) = 0;                       // 14
  virtual HRESULT STDMETHODCALLTYPE GetStreetNamesDetailed(VARIANT_BOOL* pVal) = 0;              // 15
  virtual HRESULT STDMETHODCALLTYPE SetStreetNamesDetailed(VARIANT_BOOL newVal) = 0;             // 16
  virtual HRESULT STDMETHODCALLTYPE GetIncludeSpellDecorators(VARIANT_BOOL* pVal) = 0;           // 17
  virtual HRESULT STDMETHODCALLTYPE SetIncludeSpellDecorators(VARIANT_BOOL newVal) = 0;          // 18
  virtual HRESULT STDMETHODCALLTYPE GetArrivalDistance(Units units, LONG* pVal) = 0;             // 19
  virtual HRESULT STDMETHODCALLTYPE SetArrivalDistance(Units units, LONG newVal) = 0;            // 20
  virtual HRESULT STDMETHODCALLTYPE GetDefaultCompassDescriptions(SystemDescriptions* pVal) = 0;  // 21
  virtual HRESULT STDMETHODCALLTYPE SetDefaultCompassDescriptions(SystemDescriptions newVal) = 0;  // 22
  virtual HRESULT STDMETHODCALLTYPE GetArrivedNearThreshold(Units units, LONG* pVal) = 0;        // 23
  virtual HRESULT STDMETHODCALLTYPE SetArrivedNearThreshold(Units units, LONG newVal) = 0;       // 24
  virtual HRESULT STDMETHODCALLTYPE GetDebugDirectory(BSTR* pVal) = 0;                           // 25
  virtual HRESULT STDMETHODCALLTYPE GetSearchOtherMapDirectories(VARIANT_BOOL* pVal) = 0;        // 26
  virtual HRESULT STDMETHODCALLTYPE SetSearchOtherMapDirectories(VARIANT_BOOL newVal) = 0;       // 27
  virtual HRESULT STDMETHODCALLTYPE ShouldCheckForNewMaps(VARIANT_BOOL* pVal) = 0;               // 28
  virtual HRESULT STDMETHODCALLTYPE SetForceNewMapPOIFolder(VARIANT_BOOL newVal) = 0;            // 29
  virtual HRESULT STDMETHODCALLTYPE GetPOIAuthor(BSTR* pVal) = 0;                                // 30
  virtual HRESULT STDMETHODCALLTYPE SetPOIAuthor(BSTR newVal) = 0;                               // 31
  virtual HRESULT STDMETHODCALLTYPE GetVirtualSideOfStreetTracking(VARIANT_BOOL* pVal) = 0;      // 32
  virtual HRESULT STDMETHODCALLTYPE SetVirtualSideOfStreetTracking(VARIANT_BOOL newVal) = 0;     // 33
};
COM_DECLARE_IID(ISystemSettingsObject, "{BA7B22F3-7E8D-46DB-BAD6-F07EA209321F}");

// The receiver settings: which source the engine reads and how it averages
// headings. Slots 7 to 29.
struct IGPSSettingsObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetGPSBaudRate(LONG* pVal) = 0;                          // 7
  virtual HRESULT STDMETHODCALLTYPE SetGPSBaudRate(LONG newVal) = 0;                         // 8
  virtual HRESULT STDMETHODCALLTYPE GetGPSPortName(BSTR* pVal) = 0;                          // 9
  virtual HRESULT STDMETHODCALLTYPE SetGPSPortName(BSTR newVal) = 0;                         // 10
  virtual HRESULT STDMETHODCALLTYPE GetGPSPortNumber(SHORT* pVal) = 0;                       // 11
  virtual HRESULT STDMETHODCALLTYPE SetGPSPortNumber(SHORT newVal) = 0;                      // 12
  virtual HRESULT STDMETHODCALLTYPE GetGPSReceiverType(GPSType* pVal) = 0;                   // 13
  virtual HRESULT STDMETHODCALLTYPE SetGPSReceiverType(GPSType newVal) = 0;                  // 14
  virtual HRESULT STDMETHODCALLTYPE GetSimulatedGPSFile(BSTR* pVal) = 0;                     // 15
  virtual HRESULT STDMETHODCALLTYPE SetSimulatedGPSFile(BSTR newVal) = 0;                    // 16
  virtual HRESULT STDMETHODCALLTYPE GetGPSReceiverName(BSTR* pVal) = 0;                      // 17
  virtual HRESULT STDMETHODCALLTYPE SetGPSReceiverName(BSTR newVal) = 0;                     // 18
  virtual HRESULT STDMETHODCALLTYPE GetGPSLastLatitude(double* pVal) = 0;                    // 19
  virtual HRESULT STDMETHODCALLTYPE SetGPSLastLatitude(double newVal) = 0;                   // 20
  virtual HRESULT STDMETHODCALLTYPE GetGPSLastLongitude(double* pVal) = 0;                   // 21
  virtual HRESULT STDMETHODCALLTYPE SetGPSLastLongitude(double newVal) = 0;                  // 22
  virtual HRESULT STDMETHODCALLTYPE GetHeadingAveragingMode(HeadingAveraging* pVal) = 0;     // 23
  virtual HRESULT STDMETHODCALLTYPE SetHeadingAveragingMode(HeadingAveraging newVal) = 0;    // 24
  virtual HRESULT STDMETHODCALLTYPE GetPedestrianHeadingAveragingSeconds(SHORT* pVal) = 0;   // 25
  virtual HRESULT STDMETHODCALLTYPE SetPedestrianHeadingAveragingSeconds(SHORT newVal) = 0;  // 26
  virtual HRESULT STDMETHODCALLTYPE GetInertialReceiverUserHeight(double* pVal) = 0;         // 27
  virtual HRESULT STDMETHODCALLTYPE SetInertialReceiverUserHeight(double newVal) = 0;        // 28
  virtual HRESULT STDMETHODCALLTYPE SetUpBluetoothReceiver(IBluetoothDeviceObject* device) = 0;  // 29
};
COM_DECLARE_IID(IGPSSettingsObject, "{778D5F1A-1B5D-4622-85D8-BCE66ECA0C63}");

// The look-around settings: which automatic announcements run, and the
// point-of-interest category they scan for. Slots 7 to 40. Unlike other
// setters of objects, the two category setters copy the number(s) and name
// of the object passed in into the settings' own category objects and keep
// no reference to it; the getters hand out those own objects (shared).
struct ILookaroundSettingsObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCommercialCategoryToScanFor(IPOICategoryObject** pVal) = 0;        // 7
  virtual HRESULT STDMETHODCALLTYPE SetCommercialCategoryToScanFor(IPOICategoryObject* newVal) = 0;       // 8
  virtual HRESULT STDMETHODCALLTYPE GetCommercialSubCategoryToScanFor(IPOISubCategoryObject** pVal) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE SetCommercialSubCategoryToScanFor(IPOISubCategoryObject* newVal) = 0;  // 10
  virtual HRESULT STDMETHODCALLTYPE IsCommercialPOIsEnabled(VARIANT_BOOL* pVal) = 0;                      // 11
  virtual HRESULT STDMETHODCALLTYPE EnableCommercialPOIs(VARIANT_BOOL newVal) = 0;                        // 12
  virtual HRESULT STDMETHODCALLTYPE IsIntersectionsEnabled(VARIANT_BOOL* pVal) = 0;                       // 13
  virtual HRESULT STDMETHODCALLTYPE EnableIntersections(VARIANT_BOOL newVal) = 0;                         // 14
  virtual HRESULT STDMETHODCALLTYPE IsLookaroundEnabled(VARIANT_BOOL* pVal) = 0;                          // 15
  virtual HRESULT STDMETHODCALLTYPE EnableLookaround(VARIANT_BOOL newVal) = 0;                            // 16
  virtual HRESULT STDMETHODCALLTYPE IsUserPrivatePOIsEnabled(VARIANT_BOOL* pVal) = 0;                     // 17
  virtual HRESULT STDMETHODCALLTYPE EnableUserPrivatePOIs(VARIANT_BOOL newVal) = 0;                       // 18
  virtual HRESULT STDMETHODCALLTYPE IsTalkingLightsEnabled(VARIANT_BOOL* pVal) = 0;                       // 19
  virtual HRESULT STDMETHODCALLTYPE EnableTalkingLights(VARIANT_BOOL newVal) = 0;                         // 20
  virtual HRESULT STDMETHODCALLTYPE IsStreetChangesEnabled(VARIANT_BOOL* pVal) = 0;                       // 21
  virtual HRESULT STDMETHODCALLTYPE EnableStreetChanges(VARIANT_BOOL newVal) = 0;                         // 22
  virtual HRESULT STDMETHODCALLTYPE IsCityChangesEnabled(VARIANT_BOOL* pVal) = 0;                         // 23
  virtual HRESULT STDMETHODCALLTYPE EnableCityChanges(VARIANT_BOOL newVal) = 0;                           // 24
  virtual HRESULT STDMETHODCALLTYPE IsMapChangesEnabled(VARIANT_BOOL* pVal) = 0;                          // 25
  virtual HRESULT STDMETHODCALLTYPE EnableMapChanges(VARIANT_BOOL newVal) = 0;                            // 26
  virtual HRESULT STDMETHODCALLTYPE GetStartDelayForLookaroundEvents(LONG* pVal) = 0;                     // 27
  virtual HRESULT STDMETHODCALLTYPE SetStartDelayForLookaroundEvents(LONG newVal) = 0;                    // 28
  virtual HRESULT STDMETHODCALLTYPE GetPOISearchDirection(Directions* pVal) = 0;                          // 29
  virtual HRESULT STDMETHODCALLTYPE SetPOISearchDirection(Directions newVal) = 0;                         // 30
  virtual HRESULT STDMETHODCALLTYPE GetIntersectionMaxSpeedForReporting(LONG* pVal) = 0;                  // 31
  virtual HRESULT STDMETHODCALLTYPE SetIntersectionMaxSpeedForReporting(LONG newVal) = 0;                 // 32
  virtual HRESULT STDMETHODCALLTYPE GetLookaroundReportingInterval(LONG* pVal) = 0;                       // 33
  virtual HRESULT STDMETHODCALLTYPE SetLookaroundReportingInterval(LONG newVal) = 0;                      // 34
  virtual HRESULT STDMETHODCALLTYPE GetPOIIncludeTags(VARIANT_BOOL* pVal) = 0;                            // 35
  virtual HRESULT STDMETHODCALLTYPE SetPOIIncludeTags(VARIANT_BOOL newVal) = 0;                           // 36
  virtual HRESULT STDMETHODCALLTYPE GetPOIIncludeDistanceDirection(VARIANT_BOOL* pVal) = 0;               // 37
  virtual HRESULT STDMETHODCALLTYPE SetPOIIncludeDistanceDirection(VARIANT_BOOL newVal) = 0;              // 38
  virtual HRESULT STDMETHODCALLTYPE GetRouteOptions(LookaroundRouteOptions* pVal) = 0;                    // 39
  virtual HRESULT STDMETHODCALLTYPE SetRouteOptions(LookaroundRouteOptions newVal) = 0;                   // 40
};
COM_DECLARE_IID(ILookaroundSettingsObject, "{4B838A49-96E9-4CB0-814F-1E705FDDCF3B}");

// How routes are followed in one mode. Slots 7 to 16.
struct IRouteSettingsObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetWaypointMode(WaypointMode* pVal) = 0;                   // 7
  virtual HRESULT STDMETHODCALLTYPE SetWaypointMode(WaypointMode newVal) = 0;                  // 8
  virtual HRESULT STDMETHODCALLTYPE IsAutoIncrementWaypointsWhenReachedOn(VARIANT_BOOL* pVal) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE SetAutoIncrementWaypointsWhenReachedOn(VARIANT_BOOL newVal) = 0;  // 10
  virtual HRESULT STDMETHODCALLTYPE IsForceSequentialRouteFollowingOn(VARIANT_BOOL* pVal) = 0;  // 11
  virtual HRESULT STDMETHODCALLTYPE SetForceSequentialRouteFollowingOn(VARIANT_BOOL newVal) = 0;  // 12
  virtual HRESULT STDMETHODCALLTYPE IsWaypointNumberingOn(VARIANT_BOOL* pVal) = 0;              // 13
  virtual HRESULT STDMETHODCALLTYPE SetWaypointNumberingOn(VARIANT_BOOL newVal) = 0;            // 14
  virtual HRESULT STDMETHODCALLTYPE GetNumberingDescriptions(SystemDescriptions* pVal) = 0;     // 15
  virtual HRESULT STDMETHODCALLTYPE SetNumberingDescriptions(SystemDescriptions newVal) = 0;    // 16
};
COM_DECLARE_IID(IRouteSettingsObject, "{92997D43-C011-4EBB-B375-EC105C9D4864}");


// ---- further value objects ------------------------------------------------------------

// The value objects the engine hands across its interfaces besides the
// location and point-of-interest objects: streets and addresses, destinations,
// where-am-I answers, the virtual position, route waypoints, Talking Lights
// beacons, and the configuration objects of descriptions, waypoints and
// address searches.

inline constexpr CLSID CLSID_StreetObject = MakeGuid("{128E6822-50EB-4743-A835-AA4F3E266739}");
inline constexpr CLSID CLSID_AddressSearchConfigurationObject = MakeGuid("{783E3264-17C3-4B2F-82DD-C896E38126D0}");
inline constexpr CLSID CLSID_DestinationObject = MakeGuid("{86AC6B0B-8E5B-45BB-AC9E-31102DFCBCF4}");
inline constexpr CLSID CLSID_WhereAmIObject = MakeGuid("{1C4C4EBB-C3EF-4079-AA17-EEEED5CC5C11}");
inline constexpr CLSID CLSID_VirtualObject = MakeGuid("{28C826EA-9D78-430C-8879-F5EB7EF64457}");
inline constexpr CLSID CLSID_WaypointObject = MakeGuid("{CFBB82BC-316A-4096-82D3-7BF52B158F02}");
inline constexpr CLSID CLSID_WaypointUserObject = MakeGuid("{E76691EE-FAE5-4507-BBC9-BCB5BCA4385D}");
inline constexpr CLSID CLSID_TalkingLightObject = MakeGuid("{80DCCD9C-ECA4-4CE0-8FED-FBB170A03CF0}");
inline constexpr CLSID CLSID_DescriptionConfigurationObject = MakeGuid("{EA959BB7-9D69-42C4-8C5F-4452EC232FA6}");
inline constexpr CLSID CLSID_POIDescriptionConfigurationObject =
    MakeGuid("{0772D3AA-76E0-47DC-BA16-B687509B0FBE}");
inline constexpr CLSID CLSID_WaypointConfigurationObject = MakeGuid("{877AB72E-675A-4546-AE8E-699148B765B4}");
inline constexpr CLSID CLSID_GPSTimeObject = MakeGuid("{DCBBB1D8-8B66-4F50-9B90-11A257825A7D}");

// The text field of a point-of-interest search object that a search looks in.
// The address number, street, city, state, country and postal code together
// are the address.
enum POIFields : INT {
  POI_FIELD_NAME = 0,
  POI_FIELD_DESCRIPTION = 1,
  POI_FIELD_AUTHOR = 2,
  POI_FIELD_TAGS = 3,
  POI_FIELD_ADDRESS = 4,
  POI_FIELD_HOURS = 5,
  POI_FIELD_PHONE = 6,
  POI_FIELD_FAX = 7,
  POI_FIELD_WEB = 8,
  POI_FIELD_EMAIL = 9,
  POI_FIELD_MEDIA = 10,
};

// What an address search answers with; its values come with the address search.
enum AddressResults : INT {};

// The turn a user makes at a waypoint marked while recording a route.
enum WaypointTurnType : INT {
  NoTurn = 0,
  StraightThrough = 1,
  LeftTurn = 2,
  RightTurn = 3,
};

// A street record: the map, city, street and postal code an address lies in.
// Slots 7 to 14, in the order the map engine and the engine use them.
struct IStreetObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) = 0;                                        // 7
  virtual HRESULT STDMETHODCALLTYPE GetMap(BSTR* pVal) = 0;                                         // 8
  virtual HRESULT STDMETHODCALLTYPE GetStreet(BSTR* pVal) = 0;                                      // 9
  virtual HRESULT STDMETHODCALLTYPE GetZipPostalcode(BSTR* pVal) = 0;                               // 10
  virtual HRESULT STDMETHODCALLTYPE SetMap(BSTR newVal) = 0;                                        // 11
  virtual HRESULT STDMETHODCALLTYPE SetCity(BSTR newVal) = 0;                                       // 12
  virtual HRESULT STDMETHODCALLTYPE SetZipPostalcode(BSTR newVal) = 0;                              // 13
  virtual HRESULT STDMETHODCALLTYPE SetStreet(BSTR newVal) = 0;                                     // 14
};
COM_DECLARE_IID(IStreetObject, "{DDB01DF6-B874-406B-A525-379F926A3FF5}");

// The parameters of an address search. Each property's get comes before its
// set, properties in the order of the object's fields. Slots 7 to 20.
struct IAddressSearchConfigurationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetSearchName(BSTR* pVal) = 0;                                  // 7
  virtual HRESULT STDMETHODCALLTYPE SetSearchName(BSTR newVal) = 0;                                 // 8
  virtual HRESULT STDMETHODCALLTYPE GetLastSearchIndex(LONG* pVal) = 0;                             // 9
  virtual HRESULT STDMETHODCALLTYPE SetLastSearchIndex(LONG newVal) = 0;                            // 10
  virtual HRESULT STDMETHODCALLTYPE GetStartsWith(VARIANT_BOOL* pVal) = 0;                          // 11
  virtual HRESULT STDMETHODCALLTYPE SetStartsWith(VARIANT_BOOL newVal) = 0;                         // 12
  virtual HRESULT STDMETHODCALLTYPE GetStreetAddressNumber(BSTR* pVal) = 0;                         // 13
  virtual HRESULT STDMETHODCALLTYPE SetStreetAddressNumber(BSTR newVal) = 0;                        // 14
  virtual HRESULT STDMETHODCALLTYPE GetResultsType(AddressResults* pVal) = 0;                       // 15
  virtual HRESULT STDMETHODCALLTYPE SetResultsType(AddressResults newVal) = 0;                      // 16
  virtual HRESULT STDMETHODCALLTYPE GetAddressRangeIndicator(BSTR* pVal) = 0;                       // 17
  virtual HRESULT STDMETHODCALLTYPE SetAddressRangeIndicator(BSTR newVal) = 0;                      // 18
  virtual HRESULT STDMETHODCALLTYPE GetMaxItemsToReturn(LONG* pVal) = 0;                            // 19
  virtual HRESULT STDMETHODCALLTYPE SetMaxItemsToReturn(LONG newVal) = 0;                           // 20
};
COM_DECLARE_IID(IAddressSearchConfigurationObject, "{01298BD1-11A0-40C2-8E2D-DCF9A58C9B4E}");

// A destination: a position (slots 8 to 25 forward to its inner location
// object) and the side of the street it lies on. Slots 7 to 26; the setter of
// the side of the street follows the forwarded block.
struct IDestinationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetSideOfStreet(SideOfStreet* pVal) = 0;                        // 7
  virtual HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) = 0;                                // 8
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                        // 9
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                       // 10
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                 // 11
  virtual HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) = 0;                        // 12
  virtual HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) = 0;                                 // 13
  virtual HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) = 0;                                // 14
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 15
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 16
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 17
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 18
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0; // 19
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to,
                                                       BSTR* pVal) = 0;                             // 20
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 21
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 22
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 23
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                          // 24
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 25
  virtual HRESULT STDMETHODCALLTYPE SetSideOfStreet(SideOfStreet newVal) = 0;                       // 26
};
COM_DECLARE_IID(IDestinationObject, "{8CEF65D4-C4AB-46AF-AF30-78FE70E93DC0}");

// The answer to "where am I": what the map says about a position. Slots 7 to
// 31 read its fields (the engine fills them), slots 32 to 42 forward to its
// inner location object.
struct IWhereAmIObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) = 0;                                        // 7
  virtual HRESULT STDMETHODCALLTYPE GetStreetName(BSTR* pVal) = 0;                                  // 8
  virtual HRESULT STDMETHODCALLTYPE GetStreetNameShort(BSTR* pVal) = 0;                             // 9
  virtual HRESULT STDMETHODCALLTYPE GetStreetNameDetailed(BSTR* pVal) = 0;                          // 10
  virtual HRESULT STDMETHODCALLTYPE GetArea(BSTR* pVal) = 0;                                        // 11
  virtual HRESULT STDMETHODCALLTYPE GetBorough(BSTR* pVal) = 0;                                     // 12
  virtual HRESULT STDMETHODCALLTYPE GetCounty(BSTR* pVal) = 0;                                      // 13
  virtual HRESULT STDMETHODCALLTYPE GetCountry(BSTR* pVal) = 0;                                     // 14
  virtual HRESULT STDMETHODCALLTYPE GetRoadClassification(BSTR* pVal) = 0;                          // 15
  virtual HRESULT STDMETHODCALLTYPE GetStateProvince(BSTR* pVal) = 0;                               // 16
  virtual HRESULT STDMETHODCALLTYPE GetZipPostalcode(BSTR* pVal) = 0;                               // 17
  virtual HRESULT STDMETHODCALLTYPE GetHouseNumber(BSTR* pVal) = 0;                                 // 18
  virtual HRESULT STDMETHODCALLTYPE GetRoadSpeedLimit(SHORT* pVal) = 0;                             // 19
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfLanes(SHORT* pVal) = 0;                              // 20
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftFrom(LONG* pVal) = 0;                             // 21
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftTo(LONG* pVal) = 0;                               // 22
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightFrom(LONG* pVal) = 0;                            // 23
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightTo(LONG* pVal) = 0;                              // 24
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftFromAlphanumeric(BSTR* pVal) = 0;                 // 25
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftToAlphanumeric(BSTR* pVal) = 0;                   // 26
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightFromAlphanumeric(BSTR* pVal) = 0;                // 27
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightToAlphanumeric(BSTR* pVal) = 0;                  // 28
  virtual HRESULT STDMETHODCALLTYPE GetMap(BSTR* pVal) = 0;                                         // 29
  virtual HRESULT STDMETHODCALLTYPE GetMapNameOnly(BSTR* pVal) = 0;                                 // 30
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                 // 31
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 32
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 33
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 34
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 35
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0; // 36
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to,
                                                       BSTR* pVal) = 0;                             // 37
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 38
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 39
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 40
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                          // 41
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 42
};
COM_DECLARE_IID(IWhereAmIObject, "{BC2A5BA0-A569-4A14-92C8-C5A06E9E0A4C}");

// The virtual position of map exploration. Slots 7 to 14 are its own fields,
// each get before its set (the heading's get gives words; its number is read
// at slot 31); slots 15 to 30 forward to the inner location object: the
// texts, SetLocation and the queries. The heading-relative queries take no
// heading: the object passes its own.
struct IVirtualObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCurrentStreetName(BSTR* pVal) = 0;                           // 7
  virtual HRESULT STDMETHODCALLTYPE SetCurrentStreetName(BSTR newVal) = 0;                          // 8
  virtual HRESULT STDMETHODCALLTYPE GetHeading(HeadingType type, BSTR* pVal) = 0;                   // 9
  virtual HRESULT STDMETHODCALLTYPE SetHeading(SHORT newVal) = 0;                                   // 10
  virtual HRESULT STDMETHODCALLTYPE GetSideOfStreet(SideOfStreet* pVal) = 0;                        // 11
  virtual HRESULT STDMETHODCALLTYPE SetSideOfStreet(SideOfStreet newVal) = 0;                       // 12
  virtual HRESULT STDMETHODCALLTYPE GetMustCrossStreet(VARIANT_BOOL* pVal) = 0;                     // 13
  virtual HRESULT STDMETHODCALLTYPE SetMustCrossStreet(VARIANT_BOOL newVal) = 0;                    // 14
  virtual HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) = 0;                                // 15
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                        // 16
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                       // 17
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                 // 18
  virtual HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) = 0;                        // 19
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 20
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 21
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 22
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 23
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0; // 24
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(ILocationObject* to, BSTR* pVal) = 0;        // 25
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 26
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 27
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 28
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(ILocationObject* to, BSTR* pVal) = 0;     // 29
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 30
  virtual HRESULT STDMETHODCALLTYPE GetHeadingDegrees(SHORT* pVal) = 0;                             // 31
};
COM_DECLARE_IID(IVirtualObject, "{B697F59D-4E10-45BB-97C2-CC424127000C}");

// One waypoint of a route as it leaves the route model. Slots 7 to 24 are its
// own, slots 25 to 42 forward to the inner location object, slots 43 to 51
// are its own again. Waypoint indexes are 1-based; -1 means none.
struct IWaypointObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetIndex(SHORT* pVal) = 0;                                      // 7
  virtual HRESULT STDMETHODCALLTYPE GetStreetNameForward(BSTR* pVal) = 0;                           // 8
  virtual HRESULT STDMETHODCALLTYPE IsTurningPoint(VARIANT_BOOL* pVal) = 0;                         // 9
  virtual HRESULT STDMETHODCALLTYPE IsUserPoint(VARIANT_BOOL* pVal) = 0;                            // 10
  virtual HRESULT STDMETHODCALLTYPE GetTurnCompleteHeadingDegrees(SHORT* pVal) = 0;                 // 11
  virtual HRESULT STDMETHODCALLTYPE GetTurningInfo(SHORT currentHeading, BSTR* pVal) = 0;           // 12
  virtual HRESULT STDMETHODCALLTYPE IsRouteEndPoint(VARIANT_BOOL* pVal) = 0;                        // 13
  virtual HRESULT STDMETHODCALLTYPE IsRouteBeginningPoint(VARIANT_BOOL* pVal) = 0;                  // 14
  virtual HRESULT STDMETHODCALLTYPE SetStreetNameForward(BSTR newVal) = 0;                          // 15
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfLanes(SHORT* pVal) = 0;                              // 16
  virtual HRESULT STDMETHODCALLTYPE GetStreetOrientationForward(SHORT* pVal) = 0;                   // 17
  virtual HRESULT STDMETHODCALLTYPE GetStreetOrientationReverse(SHORT* pVal) = 0;                   // 18
  virtual HRESULT STDMETHODCALLTYPE GetWaypointName(Mode mode, BSTR* pVal) = 0;                     // 19
  virtual HRESULT STDMETHODCALLTYPE SetTurningPoint(VARIANT_BOOL newVal) = 0;                       // 20
  virtual HRESULT STDMETHODCALLTYPE SetUserPoint(VARIANT_BOOL newVal) = 0;                          // 21
  virtual HRESULT STDMETHODCALLTYPE SetStreetOrientationForward(SHORT newVal) = 0;                  // 22
  virtual HRESULT STDMETHODCALLTYPE SetStreetOrientationReverse(SHORT newVal) = 0;                  // 23
  virtual HRESULT STDMETHODCALLTYPE SetNumberOfLanes(SHORT newVal) = 0;                             // 24
  virtual HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) = 0;                                // 25
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                        // 26
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                       // 27
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                 // 28
  virtual HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) = 0;                        // 29
  virtual HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) = 0;                                 // 30
  virtual HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) = 0;                                // 31
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 32
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 33
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 34
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 35
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0; // 36
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to,
                                                       BSTR* pVal) = 0;                             // 37
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 38
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 39
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 40
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                          // 41
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 42
  virtual HRESULT STDMETHODCALLTYPE GetDistanceFromLastWaypoint(double* pVal) = 0;                  // 43
  virtual HRESULT STDMETHODCALLTYPE SetDistanceFromLastWaypoint(double newVal) = 0;                 // 44
  virtual HRESULT STDMETHODCALLTYPE GetStreetSpeed(SHORT* pVal) = 0;                                // 45
  virtual HRESULT STDMETHODCALLTYPE SetStreetSpeed(SHORT newVal) = 0;                               // 46
  virtual HRESULT STDMETHODCALLTYPE GetFeatureIndex(SHORT* pVal) = 0;                               // 47
  virtual HRESULT STDMETHODCALLTYPE GetCrossStreet(BSTR* pVal) = 0;                                 // 48
  virtual HRESULT STDMETHODCALLTYPE SetCrossStreet(BSTR newVal) = 0;                                // 49
  virtual HRESULT STDMETHODCALLTYPE GetSideOfStreet(LONG* pVal) = 0;                                // 50
  virtual HRESULT STDMETHODCALLTYPE SetSideOfStreet(LONG newVal) = 0;                               // 51
};
COM_DECLARE_IID(IWaypointObject, "{AF9A5B6C-E184-4EFD-B58E-F6E256A04D25}");

// A waypoint the user marks while recording a route: where, the turn taken
// there and the heading before it. Slots 7 to 11 are its own (the creator
// first, then the fields in order, each get before its set); slots 12 to 29
// forward to the inner location object.
struct IWaypointUserObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE CreateUserWaypoint(ILocationObject* location, WaypointTurnType turnType,
                                                       SHORT headingBeforeTurn) = 0;                // 7
  virtual HRESULT STDMETHODCALLTYPE GetTurningInfo(WaypointTurnType* pVal) = 0;                     // 8
  virtual HRESULT STDMETHODCALLTYPE GetHeadingWhenCreated(SHORT* pVal) = 0;                         // 9
  virtual HRESULT STDMETHODCALLTYPE GetStreetNameForward(BSTR* pVal) = 0;                           // 10
  virtual HRESULT STDMETHODCALLTYPE SetStreetNameForward(BSTR newVal) = 0;                          // 11
  virtual HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) = 0;                                // 12
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                        // 13
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                       // 14
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                 // 15
  virtual HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) = 0;                        // 16
  virtual HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) = 0;                                 // 17
  virtual HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) = 0;                                // 18
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 19
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 20
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 21
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 22
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0; // 23
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to,
                                                       BSTR* pVal) = 0;                             // 24
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 25
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 26
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 27
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                          // 28
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 29
};
COM_DECLARE_IID(IWaypointUserObject, "{3443B243-F624-4D30-8D0A-EC349598E117}");

// A Talking Lights beacon: a position (slots 7 to 24 forward to the inner
// location object), an id and an amplitude, and the raw text form in which
// beacons are stored. Slots 7 to 30.
struct ITalkingLightObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) = 0;                                // 7
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                        // 8
  virtual HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) = 0;                                       // 9
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) = 0;                                 // 10
  virtual HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) = 0;                        // 11
  virtual HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) = 0;                                 // 12
  virtual HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) = 0;                                // 13
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 14
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 15
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 16
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 17
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0; // 18
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to,
                                                       BSTR* pVal) = 0;                             // 19
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 20
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 21
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 22
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to,
                                                          BSTR* pVal) = 0;                          // 23
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 24
  virtual HRESULT STDMETHODCALLTYPE GetId(BSTR* pVal) = 0;                                          // 25
  virtual HRESULT STDMETHODCALLTYPE SetId(BSTR newVal) = 0;                                         // 26
  virtual HRESULT STDMETHODCALLTYPE GetAmplitude(LONG* pVal) = 0;                                   // 27
  virtual HRESULT STDMETHODCALLTYPE SetAmplitude(LONG newVal) = 0;                                  // 28
  virtual HRESULT STDMETHODCALLTYPE InternalGetRawData(BSTR* pVal) = 0;                             // 29
  virtual HRESULT STDMETHODCALLTYPE InternalSetFromRawData(BSTR rawData) = 0;                       // 30
};
COM_DECLARE_IID(ITalkingLightObject, "{F6D88D3B-D5E5-42CE-B605-CAE55C90D78A}");

// What a distance-and-heading text includes. Slots 7 to 12, each get before
// its set.
struct IDescriptionConfigurationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetIncludeDescriptionDetails(VARIANT_BOOL* pVal) = 0;           // 7
  virtual HRESULT STDMETHODCALLTYPE SetIncludeDescriptionDetails(VARIANT_BOOL newVal) = 0;          // 8
  virtual HRESULT STDMETHODCALLTYPE GetIncludeCompassDirection(VARIANT_BOOL* pVal) = 0;             // 9
  virtual HRESULT STDMETHODCALLTYPE SetIncludeCompassDirection(VARIANT_BOOL newVal) = 0;            // 10
  virtual HRESULT STDMETHODCALLTYPE GetDirectionInformationFirst(VARIANT_BOOL* pVal) = 0;           // 11
  virtual HRESULT STDMETHODCALLTYPE SetDirectionInformationFirst(VARIANT_BOOL newVal) = 0;          // 12
};
COM_DECLARE_IID(IDescriptionConfigurationObject, "{4515FB15-CD82-48A4-BEC3-AB01286903BC}");

// What a point-of-interest description includes. Slots 7 to 16, each get
// before its set.
struct IPOIDescriptionConfigurationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetDescriptionDynamic(VARIANT_BOOL* pVal) = 0;                  // 7
  virtual HRESULT STDMETHODCALLTYPE SetDescriptionDynamic(VARIANT_BOOL newVal) = 0;                 // 8
  virtual HRESULT STDMETHODCALLTYPE GetNonDynamicIncludeAddress(VARIANT_BOOL* pVal) = 0;            // 9
  virtual HRESULT STDMETHODCALLTYPE SetNonDynamicIncludeAddress(VARIANT_BOOL newVal) = 0;           // 10
  virtual HRESULT STDMETHODCALLTYPE GetNonDynamicIncludeCategoryAndSubCategory(VARIANT_BOOL* pVal) = 0; // 11
  virtual HRESULT STDMETHODCALLTYPE SetNonDynamicIncludeCategoryAndSubCategory(VARIANT_BOOL newVal) = 0; // 12
  virtual HRESULT STDMETHODCALLTYPE GetNonDynamicIncludeDistance(VARIANT_BOOL* pVal) = 0;           // 13
  virtual HRESULT STDMETHODCALLTYPE SetNonDynamicIncludeDistance(VARIANT_BOOL newVal) = 0;          // 14
  virtual HRESULT STDMETHODCALLTYPE GetIncludeTags(VARIANT_BOOL* pVal) = 0;                         // 15
  virtual HRESULT STDMETHODCALLTYPE SetIncludeTags(VARIANT_BOOL newVal) = 0;                        // 16
};
COM_DECLARE_IID(IPOIDescriptionConfigurationObject, "{BD323CD9-C142-408E-9F17-83378B2CC91A}");

// What a waypoint announcement includes and the movement it is computed for.
// Slots 7 to 24, each get before its set.
struct IWaypointConfigurationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetIncludeDistance(VARIANT_BOOL* pVal) = 0;                     // 7
  virtual HRESULT STDMETHODCALLTYPE SetIncludeDistance(VARIANT_BOOL newVal) = 0;                    // 8
  virtual HRESULT STDMETHODCALLTYPE GetIncludeETA(VARIANT_BOOL* pVal) = 0;                          // 9
  virtual HRESULT STDMETHODCALLTYPE SetIncludeETA(VARIANT_BOOL newVal) = 0;                         // 10
  virtual HRESULT STDMETHODCALLTYPE GetIncludeHeading(VARIANT_BOOL* pVal) = 0;                      // 11
  virtual HRESULT STDMETHODCALLTYPE SetIncludeHeading(VARIANT_BOOL newVal) = 0;                     // 12
  virtual HRESULT STDMETHODCALLTYPE GetIncludeTurningInstructions(VARIANT_BOOL* pVal) = 0;          // 13
  virtual HRESULT STDMETHODCALLTYPE SetIncludeTurningInstructions(VARIANT_BOOL newVal) = 0;         // 14
  virtual HRESULT STDMETHODCALLTYPE GetIncludeUserWaypointDescriptions(VARIANT_BOOL* pVal) = 0;     // 15
  virtual HRESULT STDMETHODCALLTYPE SetIncludeUserWaypointDescriptions(VARIANT_BOOL newVal) = 0;    // 16
  virtual HRESULT STDMETHODCALLTYPE GetHeading(SHORT* pVal) = 0;                                    // 17
  virtual HRESULT STDMETHODCALLTYPE SetHeading(SHORT newVal) = 0;                                   // 18
  virtual HRESULT STDMETHODCALLTYPE GetSpeed(double* pVal) = 0;                                     // 19
  virtual HRESULT STDMETHODCALLTYPE SetSpeed(double newVal) = 0;                                    // 20
  virtual HRESULT STDMETHODCALLTYPE GetMode(Mode* pVal) = 0;                                        // 21
  virtual HRESULT STDMETHODCALLTYPE SetMode(Mode newVal) = 0;                                       // 22
  virtual HRESULT STDMETHODCALLTYPE GetDistanceNextWP(double* pVal) = 0;                            // 23
  virtual HRESULT STDMETHODCALLTYPE SetDistanceNextWP(double newVal) = 0;                           // 24
};
COM_DECLARE_IID(IWaypointConfigurationObject, "{B58C5126-DE98-43BF-BA80-570E3B4FA127}");

// The receiver's date and time of day. Slots 7 to 19: each field's get before
// its set, then the validity test.
struct IGPSTimeObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetYear(SHORT* pVal) = 0;                                       // 7
  virtual HRESULT STDMETHODCALLTYPE SetYear(SHORT newVal) = 0;                                      // 8
  virtual HRESULT STDMETHODCALLTYPE GetMonth(SHORT* pVal) = 0;                                      // 9
  virtual HRESULT STDMETHODCALLTYPE SetMonth(SHORT newVal) = 0;                                     // 10
  virtual HRESULT STDMETHODCALLTYPE GetDay(SHORT* pVal) = 0;                                        // 11
  virtual HRESULT STDMETHODCALLTYPE SetDay(SHORT newVal) = 0;                                       // 12
  virtual HRESULT STDMETHODCALLTYPE GetHour(SHORT* pVal) = 0;                                       // 13
  virtual HRESULT STDMETHODCALLTYPE SetHour(SHORT newVal) = 0;                                      // 14
  virtual HRESULT STDMETHODCALLTYPE GetMinutes(SHORT* pVal) = 0;                                    // 15
  virtual HRESULT STDMETHODCALLTYPE SetMinutes(SHORT newVal) = 0;                                   // 16
  virtual HRESULT STDMETHODCALLTYPE GetSeconds(SHORT* pVal) = 0;                                    // 17
  virtual HRESULT STDMETHODCALLTYPE SetSeconds(SHORT newVal) = 0;                                   // 18
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 19
};
COM_DECLARE_IID(IGPSTimeObject, "{B475ED0D-1881-4A0A-AB7D-766189E8E11D}");

// ---- the receiver's fix ----------------------------------------------------------

inline constexpr CLSID CLSID_GPSObject = MakeGuid("{B80814EC-2108-4C65-B5C5-EFB0E4D8466E}");
inline constexpr CLSID CLSID_GPSStatusObject = MakeGuid("{4A7C2B57-E980-4BB2-859F-5275883AF2FC}");

// How good the current fix is: no receiver heard, heard but no fix, then by
// the estimated accuracy; an inertial receiver's own positions last. 0 and 1
// are no usable fix.
enum GPSQuality : INT {
  GPSQualityNoGPS = 0,
  GPSQualityNoFix = 1,
  GPSQualityPoor = 2,
  GPSQualityFair = 3,
  GPSQualityGood = 4,
  GPSQualityEnhanced = 5,
  GPSQualityInertial = 6,
};

// The receiver's current fix: its own readings (slots 7 to 18, 28, 31, 32)
// and, in slots 19 to 27, 29 and 30, the location queries of the inner
// location object. The heading-relative queries take no heading: the object
// passes its own.
struct IGPSObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetAltitude(LONG* pVal) = 0;                                    // 7
  virtual HRESULT STDMETHODCALLTYPE GetHeading(HeadingType type, BSTR* pVal) = 0;                   // 8
  virtual HRESULT STDMETHODCALLTYPE GetHeadingDegrees(SHORT* pVal) = 0;                             // 9
  virtual HRESULT STDMETHODCALLTYPE GetSpeed(SHORT* pVal) = 0;                                      // 10
  virtual HRESULT STDMETHODCALLTYPE GetEstimatedAccuracyDescription(BSTR* pVal) = 0;                // 11
  virtual HRESULT STDMETHODCALLTYPE GetFixQuality(GPSQuality* pVal) = 0;                            // 12
  virtual HRESULT STDMETHODCALLTYPE GetHDOP(double* pVal) = 0;                                      // 13
  virtual HRESULT STDMETHODCALLTYPE GetVDOP(double* pVal) = 0;                                      // 14
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfSatellites(SHORT* pVal) = 0;                         // 15
  virtual HRESULT STDMETHODCALLTYPE HasGPSFix(VARIANT_BOOL* pVal) = 0;                              // 16
  virtual HRESULT STDMETHODCALLTYPE IsDifferentialEnabled(VARIANT_BOOL* pVal) = 0;                  // 17
  virtual HRESULT STDMETHODCALLTYPE GetEstimatedAccuracy(SHORT* pVal) = 0;                          // 18
  virtual HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) = 0;                                // 19
  virtual HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) = 0;                        // 20
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                                  // 21
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                                 // 22
  virtual HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) = 0; // 23
  virtual HRESULT STDMETHODCALLTYPE GetRelativeHeading(ILocationObject* to, BSTR* pVal) = 0;        // 24
  virtual HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) = 0;               // 25
  virtual HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) = 0;        // 26
  virtual HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) = 0;    // 27
  virtual HRESULT STDMETHODCALLTYPE IsHeadingValid(VARIANT_BOOL* pVal) = 0;                         // 28
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(ILocationObject* to, BSTR* pVal) = 0;     // 29
  virtual HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(ILocationObject* to,
                                                                 IDescriptionConfigurationObject* config,
                                                                 BSTR* pVal) = 0;                   // 30
  virtual HRESULT STDMETHODCALLTYPE GetSpeedDouble(double* pVal) = 0;                               // 31
  virtual HRESULT STDMETHODCALLTYPE GetInstantaneousHeadingDegrees(SHORT* pVal) = 0;                // 32
};
COM_DECLARE_IID(IGPSObject, "{9FC44F10-1CF5-42C5-A1CC-5B9B8CC839E1}");

// A snapshot of the fix's state: quality, differential correction,
// satellites, dilutions and the estimated accuracy in metres (-1.0 unknown),
// and the accuracy told in words as the fix object tells it. Slots 7 to 14.
struct IGPSStatusObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetFixQuality(GPSQuality* pVal) = 0;                            // 7
  virtual HRESULT STDMETHODCALLTYPE HasGPSFix(VARIANT_BOOL* pVal) = 0;                              // 8
  virtual HRESULT STDMETHODCALLTYPE IsDifferentialEnabled(VARIANT_BOOL* pVal) = 0;                  // 9
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfSatellites(SHORT* pVal) = 0;                         // 10
  virtual HRESULT STDMETHODCALLTYPE GetHDOP(double* pVal) = 0;                                      // 11
  virtual HRESULT STDMETHODCALLTYPE GetVDOP(double* pVal) = 0;                                      // 12
  virtual HRESULT STDMETHODCALLTYPE GetEstimatedAccuracy(double* pVal) = 0;                         // 13
  virtual HRESULT STDMETHODCALLTYPE GetEstimatedAccuracyDescription(BSTR* pVal) = 0;                // 14
};
COM_DECLARE_IID(IGPSStatusObject, "{69D54F9E-0350-4C39-A12A-BDFD05942C70}");
