// The map engine's type library CARTOVELLib 3.3: identities, enumerations and
// the interfaces of its COM classes, in slot order. A client includes this
// header alone; it needs no link against the map engine.
#pragma once

#include "platform/com/oleauto.h"

inline constexpr GUID LIBID_CARTOVELLib = MakeGuid("{9A183EAF-F67E-49A3-B250-6BAD50288D62}");

inline constexpr CLSID CLSID_Map = MakeGuid("{ED1C73BA-7247-477F-AA87-31EBE8E0EDEF}");
inline constexpr CLSID CLSID_WayPoint = MakeGuid("{2921DF4D-EC62-4BD3-92E1-DE94D2E97E57}");
inline constexpr CLSID CLSID_CrossStreet = MakeGuid("{D1EC5BB3-132E-49F7-BCC8-41C086F4BFDB}");
inline constexpr CLSID CLSID_LocationDetails = MakeGuid("{66DC0338-4401-45E7-BA25-19F0D5F32A7D}");
inline constexpr CLSID CLSID_AddressDetails = MakeGuid("{87D24A4F-36FD-46FF-9791-9E7FFD99B220}");
inline constexpr CLSID CLSID_RouteThreadHelper = MakeGuid("{DAA9FD8E-7742-4397-B0F2-8A8D867FF047}");

// ---- enumerations -------------------------------------------------------------

enum CARTOVELSideOfStreet : INT {
  CARTOVELSideUnknown = 0,
  CARTOVELLeftSide = 1,
  CARTOVELRightSide = 2,
};

enum RouteTypeAutomatic : INT {
  WalkingRoute = 1,
  DrivingRoute = 2,
};

enum CARTOVELRouteTurnPreference : INT {
  CARTOVELRouteTurnAutomatic = 0,
  CARTOVELRouteTurnFewest = 1,
  CARTOVELRouteTurnFavorsRight = 2,
  CARTOVELRouteTurnFavorsLeft = 3,
};

enum CARTOVELRouteVehicleMode : INT {
  CARTOVELRouteVehicleModeFastest = 0,
  CARTOVELRouteVehicleModeShortest = 1,
  CARTOVELRouteVehicleModeMixedPedestrian = 2,
};

enum CARTOVELRouteFreewayPreference : INT {
  CARTOVELRouteFreewayNormal = 0,
  CARTOVELRouteFreewayNone = 1,
  CARTOVELRouteFreewayPreferred = 2,
  CARTOVELRouteFreewayAvoidIfPossible = 3,
};

enum CARTOVELRouteRoundaboutPreference : INT {
  CARTOVELRouteRoundaboutNormal = 0,
  CARTOVELRouteRoundaboutNone = 1,
  CARTOVELRouteRoundaboutAvoidIfPossible = 3,
};

enum CARTOVELRouteTollRoadPreference : INT {
  CARTOVELRouteTollRoadNormal = 0,
  CARTOVELRouteTollRoadNone = 1,
  CARTOVELRouteTollRoadAvoidIfPossible = 3,
};

// ---- result objects ---------------------------------------------------------------

// The result objects below answer from their own fields. A text getter hands
// out a new copy the caller frees (an empty field gives an empty text, null
// only when memory runs out, or E_POINTER for a null out pointer); whatever
// the out parameter held before is overwritten, never freed. Text setters
// copy the caller's text.

// One step of a calculated route. Slots 7 to 32.
struct IWayPoint : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_latitude(double* pVal) = 0;                            // 7
  virtual HRESULT STDMETHODCALLTYPE put_latitude(double newVal) = 0;                           // 8
  virtual HRESULT STDMETHODCALLTYPE get_longitude(double* pVal) = 0;                           // 9
  virtual HRESULT STDMETHODCALLTYPE put_longitude(double newVal) = 0;                          // 10
  virtual HRESULT STDMETHODCALLTYPE IsTurningPoint(SHORT* pVal) = 0;                           // 11
  virtual HRESULT STDMETHODCALLTYPE IsUserPoint(SHORT* pVal) = 0;                              // 12
  virtual HRESULT STDMETHODCALLTYPE GetRelativeTurningAngleDegreesForward(SHORT* pVal) = 0;    // 13
  virtual HRESULT STDMETHODCALLTYPE GetRelativeTurningAngleDegreesReverse(SHORT* pVal) = 0;    // 14
  virtual HRESULT STDMETHODCALLTYPE GetStreetOrientationDegreesForward(SHORT* pVal) = 0;       // 15
  virtual HRESULT STDMETHODCALLTYPE GetStreetOrientationDegreesReverse(SHORT* pVal) = 0;       // 16
  virtual HRESULT STDMETHODCALLTYPE GetStreetNameForward(BSTR* pVal) = 0;                      // 17
  virtual HRESULT STDMETHODCALLTYPE PutStreetNameForward(BSTR newVal) = 0;                     // 18
  virtual HRESULT STDMETHODCALLTYPE PutStreetOrientationDegreesForward(SHORT newVal) = 0;      // 19
  virtual HRESULT STDMETHODCALLTYPE PutStreetOrientationDegreesReverse(SHORT newVal) = 0;      // 20
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                                   // 21
  virtual HRESULT STDMETHODCALLTYPE PutName(BSTR newVal) = 0;                                  // 22
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfLanes(SHORT* pVal) = 0;                         // 23
  virtual HRESULT STDMETHODCALLTYPE PutNumberOfLanes(SHORT newVal) = 0;                        // 24
  virtual HRESULT STDMETHODCALLTYPE PutUserPoint(SHORT newVal) = 0;                            // 25
  virtual HRESULT STDMETHODCALLTYPE PutTurningPoint(SHORT newVal) = 0;                         // 26
  virtual HRESULT STDMETHODCALLTYPE GetDistance(double* pVal) = 0;                             // 27
  virtual HRESULT STDMETHODCALLTYPE SetDistance(double newVal) = 0;                            // 28
  virtual HRESULT STDMETHODCALLTYPE GetSpeed(SHORT* pVal) = 0;                                 // 29
  virtual HRESULT STDMETHODCALLTYPE SetSpeed(SHORT newVal) = 0;                                // 30
  virtual HRESULT STDMETHODCALLTYPE GetFeatureIndex(SHORT* pVal) = 0;                          // 31
  virtual HRESULT STDMETHODCALLTYPE SetFeatureIndex(SHORT newVal) = 0;                         // 32
};
COM_DECLARE_IID(IWayPoint, "{A709B018-F852-42B4-89AD-F8F33E623BB2}");

// One street met at an intersection. Slots 7 to 15.
struct ICrossStreet : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;                        // 7
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;                       // 8
  virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) = 0;                              // 9
  virtual HRESULT STDMETHODCALLTYPE GetOrientation(INT* pVal) = 0;                        // 10
  virtual HRESULT STDMETHODCALLTYPE GetConnectType(INT* pVal) = 0;                        // 11
  virtual HRESULT STDMETHODCALLTYPE GetSideOfStreet(CARTOVELSideOfStreet* pVal) = 0;      // 12
  virtual HRESULT STDMETHODCALLTYPE MustCrossStreet(VARIANT_BOOL* pVal) = 0;              // 13
  virtual HRESULT STDMETHODCALLTYPE SetSideOfStreet(CARTOVELSideOfStreet newVal) = 0;     // 14
  virtual HRESULT STDMETHODCALLTYPE SetMustCrossStreet(VARIANT_BOOL newVal) = 0;          // 15
};
COM_DECLARE_IID(ICrossStreet, "{EC034899-8C8E-49D3-BCA6-7556F9094A51}");

// Everything known about one position. Slots 7 to 32; no setters.
struct ILocationDetails : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetType(SHORT* pVal) = 0;                        // 7
  virtual HRESULT STDMETHODCALLTYPE GetRoadSpeedMiles(double* pVal) = 0;             // 8
  virtual HRESULT STDMETHODCALLTYPE GetNumberLanes(SHORT* pVal) = 0;                 // 9
  virtual HRESULT STDMETHODCALLTYPE GetStreetName(BSTR* pVal) = 0;                   // 10
  virtual HRESULT STDMETHODCALLTYPE GetStreetNameLong(BSTR* pVal) = 0;               // 11
  virtual HRESULT STDMETHODCALLTYPE GetRoadClassification(BSTR* pVal) = 0;           // 12
  virtual HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) = 0;                         // 13
  virtual HRESULT STDMETHODCALLTYPE GetBorough(BSTR* pVal) = 0;                      // 14
  virtual HRESULT STDMETHODCALLTYPE GetArea(BSTR* pVal) = 0;                         // 15
  virtual HRESULT STDMETHODCALLTYPE GetCounty(BSTR* pVal) = 0;                       // 16
  virtual HRESULT STDMETHODCALLTYPE GetState(BSTR* pVal) = 0;                        // 17
  virtual HRESULT STDMETHODCALLTYPE GetCountry(BSTR* pVal) = 0;                      // 18
  virtual HRESULT STDMETHODCALLTYPE GetZipcode(BSTR* pVal) = 0;                      // 19
  virtual HRESULT STDMETHODCALLTYPE GetMapDataSource(BSTR* pVal) = 0;                // 20
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightFromAlphaNum(BSTR* pVal) = 0;     // 21
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightToAlphaNum(BSTR* pVal) = 0;       // 22
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftFromAlphaNum(BSTR* pVal) = 0;      // 23
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftToAlphaNum(BSTR* pVal) = 0;        // 24
  virtual HRESULT STDMETHODCALLTYPE GetRoadSpeedKilometers(double* pVal) = 0;        // 25
  virtual HRESULT STDMETHODCALLTYPE GetHouseNumber(BSTR* pVal) = 0;                  // 26
  virtual HRESULT STDMETHODCALLTYPE GetLatitudeDegrees(double* pVal) = 0;            // 27
  virtual HRESULT STDMETHODCALLTYPE GetLongitudeDegrees(double* pVal) = 0;           // 28
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightFrom(LONG* pVal) = 0;             // 29
  virtual HRESULT STDMETHODCALLTYPE GetAddressRightTo(LONG* pVal) = 0;               // 30
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftFrom(LONG* pVal) = 0;              // 31
  virtual HRESULT STDMETHODCALLTYPE GetAddressLeftTo(LONG* pVal) = 0;                // 32
};
COM_DECLARE_IID(ILocationDetails, "{22313CFB-FDE0-4114-A36F-1776C0B43761}");

// One address found from map feature ids. Slots 7 to 15.
struct IAddressDetails : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) = 0;       // 7
  virtual HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) = 0;      // 8
  virtual HRESULT STDMETHODCALLTYPE GetSideOfStreet(INT* pVal) = 0;      // 9
  virtual HRESULT STDMETHODCALLTYPE GetAddressMatched(INT* pVal) = 0;    // 10
  virtual HRESULT STDMETHODCALLTYPE GetStreetName(BSTR* pVal) = 0;       // 11
  virtual HRESULT STDMETHODCALLTYPE GetZipPostalCode(BSTR* pVal) = 0;    // 12
  virtual HRESULT STDMETHODCALLTYPE GetAddress(BSTR* pVal) = 0;          // 13
  virtual HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) = 0;             // 14
  virtual HRESULT STDMETHODCALLTYPE GetMap(BSTR* pVal) = 0;              // 15
};
COM_DECLARE_IID(IAddressDetails, "{4B61706F-9AB8-4743-B1BE-09784E338389}");

// ---- the map engine ------------------------------------------------------------------

// The map engine's only interface. Slots 7 to 54; DISPIDs in the comments.
//
// What its methods hand out, unless a method says otherwise:
// - A null out pointer is refused with E_POINTER and nothing is written.
// - A number or flag out is set to its "none" value (0, -1, VARIANT_FALSE)
//   before the work starts, so a failure leaves that value.
// - A text out (BSTR*) is set to null first, then to a new text the caller
//   frees; it stays null on failure. A BSTR already there is overwritten,
//   not freed.
// - Texts passed by pointer (pInParameters, the street names) are only read,
//   never replaced or freed; a null pointer is the empty text.
// - A list (VARIANT* pInOut...) is cleared with VariantClear on entry, so
//   whatever the caller left in it is freed, and it stays VT_EMPTY on
//   failure. A list handed out is VT_ARRAY | VT_VARIANT, lower bound 0, each
//   element VT_DISPATCH holding a reference of its own; the caller frees the
//   whole with VariantClear.
// - Every method catches its own exceptions (E_OUTOFMEMORY, E_FAIL).
struct IMap : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_MapPath(BSTR* pVal) = 0;  // 7, 1
  virtual HRESULT STDMETHODCALLTYPE put_MapPath(BSTR newVal) = 0;  // 8, 1
  // pResult may be null: the result text is then not handed out.
  virtual HRESULT STDMETHODCALLTYPE Initalize(BSTR mapDirectory, BSTR settingsDirectory, BSTR unused,
                                              VARIANT_BOOL inSearchOtherMapDirectories, BSTR* pResult) = 0;  // 9, 2
  virtual HRESULT STDMETHODCALLTYPE CleanUp() = 0;  // 10, 3
  virtual HRESULT STDMETHODCALLTYPE GetLocationDescription(double inLat, double inLon, INT inHeadingInDegrees,
                                                           BSTR* pInParameters, BSTR* pOutDescription,
                                                           BSTR* pResult) = 0;  // 11, 4
  // Both route searches answer S_OK whatever happens; the list (may be null)
  // is VT_EMPTY when no route was found.
  virtual HRESULT STDMETHODCALLTYPE FindWalkingRoute(double inOriginLat, double inOriginLon, double inDestLat,
                                                     double inDestLon, BSTR* pInParameters,
                                                     CARTOVELRouteTurnPreference inTurnPref,
                                                     CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                                     VARIANT* pInOutLatLonSteps) = 0;  // 12, 5
  virtual HRESULT STDMETHODCALLTYPE ExpandRawStreetName(BSTR* pInStreetName, BSTR* pOutExpandedStreetName) = 0;  // 13, 6
  virtual HRESULT STDMETHODCALLTYPE FindDrivingRoute(double inOriginLat, double inOriginLon, double inDestLat,
                                                     double inDestLon, BSTR* pInParameters,
                                                     CARTOVELRouteVehicleMode inVehicleMode,
                                                     CARTOVELRouteTurnPreference inTurnPref,
                                                     CARTOVELRouteFreewayPreference inFreewayPref,
                                                     CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                                     CARTOVELRouteTollRoadPreference inTollroadPref,
                                                     VARIANT* pInOutLatLonSteps) = 0;  // 14, 7
  virtual HRESULT STDMETHODCALLTYPE NumberOfMapsLoaded(SHORT* pVal) = 0;  // 15, 8
  // The elements are VT_BSTR map names. A null list answers S_OK and does
  // nothing.
  virtual HRESULT STDMETHODCALLTYPE FindMatchingMaps(BSTR searchString, VARIANT* pInOutListOfMatchingMaps) = 0;  // 16, 9
  virtual HRESULT STDMETHODCALLTYPE SetBaseMapPath(BSTR baseMapPath) = 0;  // 17, 13
  virtual HRESULT STDMETHODCALLTYPE FindNextCrossStreets(double inCurrentLat, double inCurrentLon,
                                                         BSTR* pInCurrentStreetName, BSTR* pInParameters,
                                                         INT* pInOutHeading, VARIANT* pInOutCrossStreets) = 0;  // 18, 15
  virtual HRESULT STDMETHODCALLTYPE GetLocationDetails(double inLat, double inLon, INT inHeadingInDegrees,
                                                       BSTR* pInParameters, VARIANT* pInOutLocationDetails) = 0;  // 19, 16
  virtual HRESULT STDMETHODCALLTYPE put_FindRouteInitialHeading(LONG newVal) = 0;  // 20, 17
  // The side's value on entry is not read: it is set to CARTOVELSideUnknown
  // first.
  virtual HRESULT STDMETHODCALLTYPE GetSideOfStreet(double inLat, double inLon, LONG inHeadingDegrees,
                                                    INT nOddEvenIfKnown, INT* nInOutSideOfStreet) = 0;  // 21, 18
  virtual HRESULT STDMETHODCALLTYPE LoadedCountryMaps(SHORT* outLoadedCountryMaps) = 0;  // 22, 19
  virtual HRESULT STDMETHODCALLTYPE LoadedProvincialMaps(SHORT* outLoadedProvincialMaps) = 0;  // 23, 20
  virtual HRESULT STDMETHODCALLTYPE LoadedStateMaps(SHORT* outLoadedStateMaps) = 0;  // 24, 21
  virtual HRESULT STDMETHODCALLTYPE LoadedRegionalMaps(SHORT* outLoadedRegionalMaps) = 0;  // 25, 22
  virtual HRESULT STDMETHODCALLTYPE SetMapMemoryAllocated(SHORT inMemoryToUseInKB) = 0;  // 26, 23
  virtual HRESULT STDMETHODCALLTYPE SetDebugDirectory(BSTR inDebugDirectory) = 0;  // 27, 24
  // outResourceLoaded may be null.
  virtual HRESULT STDMETHODCALLTYPE SetResources(BSTR inResourcesToLoad, VARIANT_BOOL* outResourceLoaded) = 0;  // 28, 26
  virtual HRESULT STDMETHODCALLTYPE NumberOfPOIsLoaded(LONG* outCommercialPOIsLoaded) = 0;  // 29, 27
  // The found points are appended to the caller's own list object
  // (*inOutIndexesFound, an IFoundPOIIndexes); the pointer itself is not
  // changed. Objects of the wrong kind answer S_OK with nothing found.
  virtual HRESULT STDMETHODCALLTYPE FindPOIs(IUnknown* inLocation, IUnknown* inSearchConfig,
                                             VARIANT_BOOL inRemoveDuplicates, IUnknown** inOutIndexesFound,
                                             double* inOutStartEndedDistanceKM, VARIANT_BOOL* outPOIsFound) = 0;  // 30, 28
  virtual HRESULT STDMETHODCALLTYPE SetPOIMemoryAllocatedRME(SHORT inMemoryToUseInKB) = 0;  // 31, 29
  virtual HRESULT STDMETHODCALLTYPE RegisterUserPOIs(BSTR inPOIPdbFile, VARIANT* inPOISearchInfoList,
                                                     VARIANT_BOOL* outSuccessful) = 0;  // 32, 30
  virtual HRESULT STDMETHODCALLTYPE UnRegisterAllUserPOIs() = 0;  // 33, 31
  virtual HRESULT STDMETHODCALLTYPE UnRegisterUserPOI(BSTR inPOIPdbFile) = 0;  // 34, 32
  virtual HRESULT STDMETHODCALLTYPE RegisterUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo,
                                                    VARIANT_BOOL* outSuccessful) = 0;  // 35, 33
  virtual HRESULT STDMETHODCALLTYPE DeleteRegistrationUserPOI(BSTR inPOIPdbFile, LONG inPOIKey) = 0;  // 36, 34
  virtual HRESULT STDMETHODCALLTYPE UpdateRegistrationUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo,
                                                              VARIANT_BOOL* outSuccessful) = 0;  // 37, 35
  virtual HRESULT STDMETHODCALLTYPE ClearVariables() = 0;  // 38, 36
  virtual HRESULT STDMETHODCALLTYPE SetNumberMaxMaps(SHORT inMaxNumberOfMapsAllowed) = 0;  // 39, 37
  virtual HRESULT STDMETHODCALLTYPE SetNumberMaxCommercialPOIFiles(SHORT inMaxNumberOfCommercialPOIFilesAllowed) = 0;  // 40, 38
  // On success the address object (the caller releases it) replaces what
  // *outpAddressDetails held, which is released first: pass null or an
  // object of your own to give up. When the feature is not found (S_FALSE)
  // or on failure, *outpAddressDetails is left as it was, not set to null.
  virtual HRESULT STDMETHODCALLTYPE GetAddress(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3, BSTR inAddress,
                                               IAddressDetails** outpAddressDetails,
                                               VARIANT_BOOL* outSuccessful) = 0;  // 41, 39
  // The list is cleared only when the new one goes in: when the feature is
  // not found (S_FALSE) or on failure it is left as it was. The elements are
  // IAddressObject objects of the navigation engine.
  virtual HRESULT STDMETHODCALLTYPE GetCrossStreets(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3,
                                                    VARIANT_BOOL inMatchInZipcode,
                                                    VARIANT* pInOutListOfCrossStreetAddressObjects,
                                                    LONG* outNumberCrossStreetsFound) = 0;  // 42, 40
  virtual HRESULT STDMETHODCALLTYPE GetStreetOrientation(double inLat, double inLon, SHORT inHeading,
                                                         SHORT* outOrientation) = 0;  // 43, 41
  virtual HRESULT STDMETHODCALLTYPE SetRouteWaypointMode(INT inWaypointMode) = 0;  // 44, 42
  virtual HRESULT STDMETHODCALLTYPE GetDistanceToWayPointFollowingRoad(SHORT inPreviousWPIndex, SHORT inWPIndex,
                                                                       double inCurrentLat, double inCurrentLon,
                                                                       SHORT inCurrentHeading, double inWPLat,
                                                                       double inWPLon, double* outDistanceMeters) = 0;  // 45, 43
  virtual HRESULT STDMETHODCALLTYPE RouteClose() = 0;  // 46, 44
  virtual HRESULT STDMETHODCALLTYPE UpdateFeatureIdsForRoute(RouteTypeAutomatic inRouteType,
                                                             CARTOVELRouteTurnPreference inTurnPref,
                                                             CARTOVELRouteVehicleMode inVehicleMode,
                                                             CARTOVELRouteFreewayPreference inFreewayPref,
                                                             CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                                             CARTOVELRouteTollRoadPreference inTollroadPref,
                                                             double inOriginLat, double inOriginLon, double inDestLat,
                                                             double inDestLon, SHORT inLastFeatureIndex,
                                                             SHORT inInitialHeading,
                                                             VARIANT_BOOL* outFeaturesCreated) = 0;  // 47, 45
  virtual HRESULT STDMETHODCALLTYPE GetPostalFromFids(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3,
                                                      BSTR* outPostalCode) = 0;  // 48, 46
  virtual HRESULT STDMETHODCALLTYPE FindInitialHeadingAndCrossStreets(double inLat, double inLon, BSTR inStreetName,
                                                                      BSTR inStreetAddress, BSTR* pInParameters,
                                                                      VARIANT* pInOutCrossStreets,
                                                                      SHORT* outHeadingInDegrees) = 0;  // 49, 47
  virtual HRESULT STDMETHODCALLTYPE MoveToNextCrossStreet(double inCurrentLat, double inCurrentLon,
                                                          CARTOVELSideOfStreet inSideOfStreet, BSTR* pInParameters,
                                                          SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) = 0;  // 50, 48
  virtual HRESULT STDMETHODCALLTYPE CrossThisStreet(double inCurrentLat, double inCurrentLon,
                                                    CARTOVELSideOfStreet inSideOfStreet, BSTR* pInParameters,
                                                    SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) = 0;  // 51, 49
  virtual HRESULT STDMETHODCALLTYPE MoveDownStreet(double* inCurrentLat, double* inCurrentLon,
                                                   SHORT* pInOutHeading) = 0;  // 52, 50
  virtual HRESULT STDMETHODCALLTYPE UpdateCrossStreets(double inLat, double inLon, SHORT inHeading,
                                                       CARTOVELSideOfStreet inSideOfStreet,
                                                       VARIANT_BOOL inNearSideIntersection, BSTR* pInParameters,
                                                       VARIANT* pInOutCrossStreets) = 0;  // 53, 51
  virtual HRESULT STDMETHODCALLTYPE UsingWinCE42(VARIANT_BOOL inUsingWinCE42) = 0;  // 54, 52
};
COM_DECLARE_IID(IMap, "{2B4972A0-28A5-4196-98A7-FAA9EFEB599F}");

// One route request of the map engine, run on its own thread. Slot 7.
// FindRoute answers S_OK once it has started (E_POINTER, E_UNEXPECTED
// before); the flag tells whether a route was found. A null list asks for
// the route's features only; a list is cleared on entry.
struct IRouteThreadHelper : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE FindRoute(RouteTypeAutomatic inType, INT wpMode, double inOriginLat,
                                              double inOriginLon, double inDestLat, double inDestLon,
                                              CARTOVELRouteTurnPreference turnPref,
                                              CARTOVELRouteVehicleMode vehicleMode,
                                              CARTOVELRouteFreewayPreference freewayPref,
                                              CARTOVELRouteRoundaboutPreference roundaboutPref,
                                              CARTOVELRouteTollRoadPreference tollroadPref,
                                              VARIANT* pInOutLatLonSteps, VARIANT_BOOL* outSuccess) = 0;  // 7
};
COM_DECLARE_IID(IRouteThreadHelper, "{6CF3AE69-25B4-43AB-B345-F23A36DA9743}");
