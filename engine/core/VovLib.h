// The navigation engine's type library: identities and the interfaces of the
// value objects other modules create or read, in slot order. A client (the map
// engine) includes this header alone; it needs no link against the engine.
//
// Slots whose methods no module calls yet are declared as reserved entries so
// that every named method sits at its slot; the engine answers them E_NOTIMPL.
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

// How a bearing is put in words; its values come with the heading words.
enum HeadingType : INT {};

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

// The parameters of a point-of-interest search. Slots 7 to 37.
struct IPOISearchConfigurationObject : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetMaxSearchResults(LONG* pVal) = 0;               // 7
  virtual HRESULT STDMETHODCALLTYPE SetMaxSearchResults(LONG newVal) = 0;               // 8
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;                                   // 9
  virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;                                  // 10
  virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;                                  // 11
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;                                  // 12
  virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;                                  // 13
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;                                  // 14
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
  virtual HRESULT STDMETHODCALLTYPE Reserved25() = 0;                                  // 25
  virtual HRESULT STDMETHODCALLTYPE Reserved26() = 0;                                  // 26
  virtual HRESULT STDMETHODCALLTYPE Reserved27() = 0;                                  // 27
  virtual HRESULT STDMETHODCALLTYPE Reserved28() = 0;                                  // 28
  virtual HRESULT STDMETHODCALLTYPE SetDistanceStarting(double newVal) = 0;             // 29
  virtual HRESULT STDMETHODCALLTYPE GetDistanceStarting(double* pVal) = 0;             // 30
  virtual HRESULT STDMETHODCALLTYPE SetCurrentHeadingDegrees(SHORT newVal) = 0;         // 31
  virtual HRESULT STDMETHODCALLTYPE GetCurrentHeadingDegrees(SHORT* pVal) = 0;         // 32
  virtual HRESULT STDMETHODCALLTYPE SetSearchDirection(Directions newVal) = 0;          // 33
  virtual HRESULT STDMETHODCALLTYPE GetSearchDirection(Directions* pVal) = 0;          // 34
  virtual HRESULT STDMETHODCALLTYPE SetIncludeUserPrivateAsWell(VARIANT_BOOL newVal) = 0;  // 35
  virtual HRESULT STDMETHODCALLTYPE IncludeUserPrivateAsWell(VARIANT_BOOL* pVal) = 0;  // 36
  virtual HRESULT STDMETHODCALLTYPE GetMainSearchString(BSTR* pVal) = 0;               // 37
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
// point-of-interest category they scan for. Slots 7 to 40.
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
