// A stand-in for the map engine in the engine's tests: every map operation
// answers E_NOTIMPL except the two the heading code asks, the street at a
// position ("STREET NAME RAW" through GetLocationDetails, answered as the map
// engine does: a list of one LocationDetails object, or an empty list) and
// the street's orientation there. The test sets the streets and orientation
// and reads what was asked, and may act while an answer is being made.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "typelib/CartovelLib.h"
#include "platform/com/atl.h"
#include "platform/com/oleauto.h"

// The operations not answered keep their parameter names for reading.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

// A LocationDetails answer that holds a street name only.
class FakeLocationDetails : public com::ComClass<FakeLocationDetails, ILocationDetails> {
 public:
  std::u16string street;

  HRESULT STDMETHODCALLTYPE GetStreetName(BSTR* pVal) override {
    if (pVal == nullptr) return E_POINTER;
    *pVal = SysAllocStringLen(street.data(), static_cast<UINT>(street.size()));
    return *pVal == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetType(SHORT* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRoadSpeedMiles(double* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNumberLanes(SHORT* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStreetNameLong(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRoadClassification(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBorough(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetArea(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCounty(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCountry(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetZipcode(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMapDataSource(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressRightFromAlphaNum(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressRightToAlphaNum(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressLeftFromAlphaNum(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressLeftToAlphaNum(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRoadSpeedKilometers(double* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHouseNumber(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLatitudeDegrees(double* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLongitudeDegrees(double* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressRightFrom(LONG* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressRightTo(LONG* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressLeftFrom(LONG* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAddressLeftTo(LONG* pVal) override { return E_NOTIMPL; }
};

class FakeMap : public com::ComClass<FakeMap, IMap> {
 public:
  // The street at a position; empty: the map engine finds none (an empty
  // list).
  std::function<std::u16string(double latitude, double longitude)> streetAt;
  // The orientation given for a position and heading; its HRESULT is
  // answered.
  SHORT orientation = -1;
  HRESULT orientationResult = S_OK;
  // What was asked, in order.
  std::vector<std::u16string> requests;
  std::vector<INT> requestHeadings;
  int orientationQuestions = 0;
  // Called at the start of each of the two answers with the operation's
  // name ("GetLocationDetails", "GetStreetOrientation"), on the caller's
  // thread.
  std::function<void(std::string_view operation)> whileAnswering;

  HRESULT STDMETHODCALLTYPE GetLocationDetails(double inLat, double inLon, INT inHeadingInDegrees, BSTR* pInParameters,
                                               VARIANT* pInOutLocationDetails) override {
    if (pInOutLocationDetails == nullptr) return E_POINTER;
    if (whileAnswering) whileAnswering("GetLocationDetails");
    VariantClear(pInOutLocationDetails);
    requests.emplace_back(pInParameters == nullptr || *pInParameters == nullptr ? u"" : *pInParameters);
    requestHeadings.push_back(inHeadingInDegrees);
    const std::u16string street = streetAt ? streetAt(inLat, inLon) : std::u16string();
    SAFEARRAY* list = SafeArrayCreateVector(VT_VARIANT, 0, street.empty() ? 0 : 1);
    if (list == nullptr) return E_OUTOFMEMORY;
    if (!street.empty()) {
      FakeLocationDetails* details = nullptr;
      if (FAILED(FakeLocationDetails::CreateObject(&details))) {
        SafeArrayDestroy(list);
        return E_OUTOFMEMORY;
      }
      details->street = street;
      VARIANT item;
      VariantInit(&item);
      item.vt = VT_DISPATCH;
      item.pdispVal = static_cast<ILocationDetails*>(details);
      LONG index = 0;
      const HRESULT hr = SafeArrayPutElement(list, &index, &item);  // takes its own reference
      details->Release();
      if (FAILED(hr)) {
        SafeArrayDestroy(list);
        return hr;
      }
    }
    pInOutLocationDetails->vt = VT_ARRAY | VT_VARIANT;
    pInOutLocationDetails->parray = list;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreetOrientation(double inLat, double inLon, SHORT inHeading,
                                                 SHORT* outOrientation) override {
    if (outOrientation == nullptr) return E_POINTER;
    ++orientationQuestions;
    if (whileAnswering) whileAnswering("GetStreetOrientation");
    *outOrientation = orientation;
    return orientationResult;
  }
  HRESULT STDMETHODCALLTYPE get_MapPath(BSTR* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_MapPath(BSTR newVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Initalize(BSTR mapDirectory, BSTR settingsDirectory, BSTR unused,
                                      VARIANT_BOOL inSearchOtherMapDirectories, BSTR* pResult) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CleanUp() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLocationDescription(double inLat, double inLon, INT inHeadingInDegrees,
                                                   BSTR* pInParameters, BSTR* pOutDescription, BSTR* pResult) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindWalkingRoute(double inOriginLat, double inOriginLon, double inDestLat, double inDestLon,
                                             BSTR* pInParameters, CARTOVELRouteTurnPreference inTurnPref,
                                             CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                             VARIANT* pInOutLatLonSteps) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExpandRawStreetName(BSTR* pInStreetName, BSTR* pOutExpandedStreetName) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindDrivingRoute(double inOriginLat, double inOriginLon, double inDestLat, double inDestLon,
                                             BSTR* pInParameters, CARTOVELRouteVehicleMode inVehicleMode,
                                             CARTOVELRouteTurnPreference inTurnPref,
                                             CARTOVELRouteFreewayPreference inFreewayPref,
                                             CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                             CARTOVELRouteTollRoadPreference inTollroadPref,
                                             VARIANT* pInOutLatLonSteps) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE NumberOfMapsLoaded(SHORT* pVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindMatchingMaps(BSTR searchString, VARIANT* pInOutListOfMatchingMaps) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetBaseMapPath(BSTR baseMapPath) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindNextCrossStreets(double inCurrentLat, double inCurrentLon, BSTR* pInCurrentStreetName,
                                                 BSTR* pInParameters, INT* pInOutHeading,
                                                 VARIANT* pInOutCrossStreets) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_FindRouteInitialHeading(LONG newVal) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSideOfStreet(double inLat, double inLon, LONG inHeadingDegrees, INT nOddEvenIfKnown,
                                            INT* nInOutSideOfStreet) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE LoadedCountryMaps(SHORT* outLoadedCountryMaps) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LoadedProvincialMaps(SHORT* outLoadedProvincialMaps) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LoadedStateMaps(SHORT* outLoadedStateMaps) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LoadedRegionalMaps(SHORT* outLoadedRegionalMaps) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMapMemoryAllocated(SHORT inMemoryToUseInKB) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDebugDirectory(BSTR inDebugDirectory) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetResources(BSTR inResourcesToLoad, VARIANT_BOOL* outResourceLoaded) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE NumberOfPOIsLoaded(LONG* outCommercialPOIsLoaded) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindPOIs(IUnknown* inLocation, IUnknown* inSearchConfig, VARIANT_BOOL inRemoveDuplicates,
                                     IUnknown** inOutIndexesFound, double* inOutStartEndedDistanceKM,
                                     VARIANT_BOOL* outPOIsFound) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetPOIMemoryAllocatedRME(SHORT inMemoryToUseInKB) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterUserPOIs(BSTR inPOIPdbFile, VARIANT* inPOISearchInfoList,
                                             VARIANT_BOOL* outSuccessful) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnRegisterAllUserPOIs() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnRegisterUserPOI(BSTR inPOIPdbFile) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo,
                                            VARIANT_BOOL* outSuccessful) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteRegistrationUserPOI(BSTR inPOIPdbFile, LONG inPOIKey) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UpdateRegistrationUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo,
                                                      VARIANT_BOOL* outSuccessful) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ClearVariables() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetNumberMaxMaps(SHORT inMaxNumberOfMapsAllowed) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetNumberMaxCommercialPOIFiles(SHORT inMaxNumberOfCommercialPOIFilesAllowed) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetAddress(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3, BSTR inAddress,
                                       IAddressDetails** outpAddressDetails, VARIANT_BOOL* outSuccessful) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetCrossStreets(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3,
                                            VARIANT_BOOL inMatchInZipcode,
                                            VARIANT* pInOutListOfCrossStreetAddressObjects,
                                            LONG* outNumberCrossStreetsFound) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetRouteWaypointMode(INT inWaypointMode) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDistanceToWayPointFollowingRoad(SHORT inPreviousWPIndex, SHORT inWPIndex,
                                                               double inCurrentLat, double inCurrentLon,
                                                               SHORT inCurrentHeading, double inWPLat, double inWPLon,
                                                               double* outDistanceMeters) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RouteClose() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UpdateFeatureIdsForRoute(
      RouteTypeAutomatic inRouteType, CARTOVELRouteTurnPreference inTurnPref, CARTOVELRouteVehicleMode inVehicleMode,
      CARTOVELRouteFreewayPreference inFreewayPref, CARTOVELRouteRoundaboutPreference inRoundaboutPref,
      CARTOVELRouteTollRoadPreference inTollroadPref, double inOriginLat, double inOriginLon, double inDestLat,
      double inDestLon, SHORT inLastFeatureIndex, SHORT inInitialHeading, VARIANT_BOOL* outFeaturesCreated) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPostalFromFids(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3,
                                              BSTR* outPostalCode) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindInitialHeadingAndCrossStreets(double inLat, double inLon, BSTR inStreetName,
                                                              BSTR inStreetAddress, BSTR* pInParameters,
                                                              VARIANT* pInOutCrossStreets,
                                                              SHORT* outHeadingInDegrees) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE MoveToNextCrossStreet(double inCurrentLat, double inCurrentLon,
                                                  CARTOVELSideOfStreet inSideOfStreet, BSTR* pInParameters,
                                                  SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CrossThisStreet(double inCurrentLat, double inCurrentLon,
                                            CARTOVELSideOfStreet inSideOfStreet, BSTR* pInParameters,
                                            SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE MoveDownStreet(double* inCurrentLat, double* inCurrentLon, SHORT* pInOutHeading) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UpdateCrossStreets(double inLat, double inLon, SHORT inHeading,
                                               CARTOVELSideOfStreet inSideOfStreet, VARIANT_BOOL inNearSideIntersection,
                                               BSTR* pInParameters, VARIANT* pInOutCrossStreets) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UsingWinCE42(VARIANT_BOOL inUsingWinCE42) override { return E_NOTIMPL; }
};

#pragma GCC diagnostic pop
