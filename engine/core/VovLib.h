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

struct IDescriptionConfigurationObject;
struct IStreetObject;

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
  virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;                                   // 8
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;                                   // 9
  virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;                                  // 10
  virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;                                  // 11
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;                                  // 12
  virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;                                  // 13
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;                                  // 14
  virtual HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) = 0;                // 15
  virtual HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) = 0;             // 16
  virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;                                  // 17
  virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;                                  // 18
  virtual HRESULT STDMETHODCALLTYPE GetMaxSearchTime(SHORT* pVal) = 0;                 // 19
  virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;                                  // 20
  virtual HRESULT STDMETHODCALLTYPE Reserved21() = 0;                                  // 21
  virtual HRESULT STDMETHODCALLTYPE GetUserPrivateOnly(VARIANT_BOOL* pVal) = 0;        // 22
  virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;                                  // 23
  virtual HRESULT STDMETHODCALLTYPE GetUserPublicOnly(VARIANT_BOOL* pVal) = 0;         // 24
  virtual HRESULT STDMETHODCALLTYPE Reserved25() = 0;                                  // 25
  virtual HRESULT STDMETHODCALLTYPE Reserved26() = 0;                                  // 26
  virtual HRESULT STDMETHODCALLTYPE Reserved27() = 0;                                  // 27
  virtual HRESULT STDMETHODCALLTYPE Reserved28() = 0;                                  // 28
  virtual HRESULT STDMETHODCALLTYPE Reserved29() = 0;                                  // 29
  virtual HRESULT STDMETHODCALLTYPE GetDistanceStarting(double* pVal) = 0;             // 30
  virtual HRESULT STDMETHODCALLTYPE Reserved31() = 0;                                  // 31
  virtual HRESULT STDMETHODCALLTYPE GetCurrentHeadingDegrees(SHORT* pVal) = 0;         // 32
  virtual HRESULT STDMETHODCALLTYPE Reserved33() = 0;                                  // 33
  virtual HRESULT STDMETHODCALLTYPE GetSearchDirection(Directions* pVal) = 0;          // 34
  virtual HRESULT STDMETHODCALLTYPE Reserved35() = 0;                                  // 35
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
