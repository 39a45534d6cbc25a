// CMap: the map engine object behind IMap. It owns the two map-library
// readers (map files and point-of-interest files), the settings that size them,
// the map folder, the tables of loaded maps, the localized word tables, the
// feature references of the last route and the point-of-interest registries.
//
// Every IMap method runs synchronously on the caller's thread: the navigation
// engine calls it under its own COM lock, so two calls never overlap. The one
// lock of its own is the route request's (m_RouteRequestLock), which keeps
// CleanUp or a second caller from running into a route search in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <initializer_list>
#include <string_view>
#include <string>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "platform/os/clock.h"
#include "mapengine/object/RampLabels.h"
#include "mapengine/object/RouteFilters.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"
#include "platform/os/format.h"
#include "platform/os/module.h"
#include "typelib/CartovelLib.h"
#include "typelib/DorvantaLib.h"
#include "typelib/VovLib.h"

// The last answer of the next-intersection search.
struct NextIntersectionCache {
  double latitude;
  double longitude;
  std::int32_t heading;
  RmfFeatureRef street;
  std::int32_t x;  // intersection point in map units, 0x7FFFFFFF for none
  std::int32_t y;

  static NextIntersectionCache Empty() { return {0.0, 0.0, -1, RmfFeatureRef{}, 0x7FFFFFFF, 0x7FFFFFFF}; }
};

class CrossStreetVector;
class CLocationDetails;
class CWayPoint;
struct RouteStepPlace;

// What the house-number routines need of the engine: its map reader and where
// to log.
struct MapContext {
  RmfReader* rdr;
  char16_t debugDirectory[256];  // at most 255 characters and a NUL
};

// Owners of what CMap holds from the map-format library and the heap.
struct ReaderCloser {
  void operator()(RmfReader* reader) const noexcept;  // RmfReaderClose
};
using ReaderOwner = std::unique_ptr<RmfReader, ReaderCloser>;
struct BlockFreer {
  void operator()(void* block) const noexcept { std::free(block); }
};
using BlockOwner = std::unique_ptr<void, BlockFreer>;

// Every IMap method answers its HRESULT and lets no exception out: the
// methods that run code which can throw do it through com::Guarded, so memory
// running out gives E_OUTOFMEMORY, with the out-parameters at their empty
// values and the object as a later call (CleanUp at the latest) can use it.
class CMap : public com::ComClass<CMap, IMap> {
 public:
  CMap();
  ~CMap();

  // IMap, slot order.
  HRESULT STDMETHODCALLTYPE get_MapPath(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_MapPath(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE Initalize(BSTR mapDirectory, BSTR settingsDirectory, BSTR unused,
                                      VARIANT_BOOL inSearchOtherMapDirectories, BSTR* pResult) override;
  HRESULT STDMETHODCALLTYPE CleanUp() override;
  HRESULT STDMETHODCALLTYPE GetLocationDescription(double inLat, double inLon, INT inHeadingInDegrees,
                                                   BSTR* pInParameters, BSTR* pOutDescription,
                                                   BSTR* pResult) override;
  HRESULT STDMETHODCALLTYPE FindWalkingRoute(double inOriginLat, double inOriginLon, double inDestLat,
                                             double inDestLon, BSTR* pInParameters,
                                             CARTOVELRouteTurnPreference inTurnPref,
                                             CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                             VARIANT* pInOutLatLonSteps) override;
  HRESULT STDMETHODCALLTYPE ExpandRawStreetName(BSTR* pInStreetName, BSTR* pOutExpandedStreetName) override;
  HRESULT STDMETHODCALLTYPE FindDrivingRoute(double inOriginLat, double inOriginLon, double inDestLat,
                                             double inDestLon, BSTR* pInParameters,
                                             CARTOVELRouteVehicleMode inVehicleMode,
                                             CARTOVELRouteTurnPreference inTurnPref,
                                             CARTOVELRouteFreewayPreference inFreewayPref,
                                             CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                             CARTOVELRouteTollRoadPreference inTollroadPref,
                                             VARIANT* pInOutLatLonSteps) override;
  HRESULT STDMETHODCALLTYPE NumberOfMapsLoaded(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE FindMatchingMaps(BSTR searchString, VARIANT* pInOutListOfMatchingMaps) override;
  HRESULT STDMETHODCALLTYPE SetBaseMapPath(BSTR baseMapPath) override;
  HRESULT STDMETHODCALLTYPE FindNextCrossStreets(double inCurrentLat, double inCurrentLon,
                                                 BSTR* pInCurrentStreetName, BSTR* pInParameters,
                                                 INT* pInOutHeading, VARIANT* pInOutCrossStreets) override;
  HRESULT STDMETHODCALLTYPE GetLocationDetails(double inLat, double inLon, INT inHeadingInDegrees,
                                               BSTR* pInParameters, VARIANT* pInOutLocationDetails) override;
  HRESULT STDMETHODCALLTYPE put_FindRouteInitialHeading(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetSideOfStreet(double inLat, double inLon, LONG inHeadingDegrees, INT nOddEvenIfKnown,
                                            INT* nInOutSideOfStreet) override;
  HRESULT STDMETHODCALLTYPE LoadedCountryMaps(SHORT* outLoadedCountryMaps) override;
  HRESULT STDMETHODCALLTYPE LoadedProvincialMaps(SHORT* outLoadedProvincialMaps) override;
  HRESULT STDMETHODCALLTYPE LoadedStateMaps(SHORT* outLoadedStateMaps) override;
  HRESULT STDMETHODCALLTYPE LoadedRegionalMaps(SHORT* outLoadedRegionalMaps) override;
  HRESULT STDMETHODCALLTYPE SetMapMemoryAllocated(SHORT inMemoryToUseInKB) override;
  HRESULT STDMETHODCALLTYPE SetDebugDirectory(BSTR inDebugDirectory) override;
  HRESULT STDMETHODCALLTYPE SetResources(BSTR inResourcesToLoad, VARIANT_BOOL* outResourceLoaded) override;
  HRESULT STDMETHODCALLTYPE NumberOfPOIsLoaded(LONG* outCommercialPOIsLoaded) override;
  HRESULT STDMETHODCALLTYPE FindPOIs(IUnknown* inLocation, IUnknown* inSearchConfig, VARIANT_BOOL inRemoveDuplicates,
                                     IUnknown** inOutIndexesFound, double* inOutStartEndedDistanceKM,
                                     VARIANT_BOOL* outPOIsFound) override;
  HRESULT STDMETHODCALLTYPE SetPOIMemoryAllocatedRME(SHORT inMemoryToUseInKB) override;
  HRESULT STDMETHODCALLTYPE RegisterUserPOIs(BSTR inPOIPdbFile, VARIANT* inPOISearchInfoList,
                                             VARIANT_BOOL* outSuccessful) override;
  HRESULT STDMETHODCALLTYPE UnRegisterAllUserPOIs() override;
  HRESULT STDMETHODCALLTYPE UnRegisterUserPOI(BSTR inPOIPdbFile) override;
  HRESULT STDMETHODCALLTYPE RegisterUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo,
                                            VARIANT_BOOL* outSuccessful) override;
  HRESULT STDMETHODCALLTYPE DeleteRegistrationUserPOI(BSTR inPOIPdbFile, LONG inPOIKey) override;
  HRESULT STDMETHODCALLTYPE UpdateRegistrationUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo,
                                                      VARIANT_BOOL* outSuccessful) override;
  HRESULT STDMETHODCALLTYPE ClearVariables() override;
  HRESULT STDMETHODCALLTYPE SetNumberMaxMaps(SHORT inMaxNumberOfMapsAllowed) override;
  HRESULT STDMETHODCALLTYPE SetNumberMaxCommercialPOIFiles(SHORT inMaxNumberOfCommercialPOIFilesAllowed) override;
  HRESULT STDMETHODCALLTYPE GetAddress(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3, BSTR inAddress,
                                       IAddressDetails** outpAddressDetails, VARIANT_BOOL* outSuccessful) override;
  HRESULT STDMETHODCALLTYPE GetCrossStreets(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3,
                                            VARIANT_BOOL inMatchInZipcode,
                                            VARIANT* pInOutListOfCrossStreetAddressObjects,
                                            LONG* outNumberCrossStreetsFound) override;
  HRESULT STDMETHODCALLTYPE GetStreetOrientation(double inLat, double inLon, SHORT inHeading,
                                                 SHORT* outOrientation) override;
  HRESULT STDMETHODCALLTYPE SetRouteWaypointMode(INT inWaypointMode) override;
  HRESULT STDMETHODCALLTYPE GetDistanceToWayPointFollowingRoad(SHORT inPreviousWPIndex, SHORT inWPIndex,
                                                               double inCurrentLat, double inCurrentLon,
                                                               SHORT inCurrentHeading, double inWPLat, double inWPLon,
                                                               double* outDistanceMeters) override;
  HRESULT STDMETHODCALLTYPE RouteClose() override;
  HRESULT STDMETHODCALLTYPE UpdateFeatureIdsForRoute(RouteTypeAutomatic inRouteType,
                                                     CARTOVELRouteTurnPreference inTurnPref,
                                                     CARTOVELRouteVehicleMode inVehicleMode,
                                                     CARTOVELRouteFreewayPreference inFreewayPref,
                                                     CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                                     CARTOVELRouteTollRoadPreference inTollroadPref, double inOriginLat,
                                                     double inOriginLon, double inDestLat, double inDestLon,
                                                     SHORT inLastFeatureIndex, SHORT inInitialHeading,
                                                     VARIANT_BOOL* outFeaturesCreated) override;
  HRESULT STDMETHODCALLTYPE GetPostalFromFids(BSTR inMapName, LONG inFid1, LONG inFid2, LONG inFid3,
                                              BSTR* outPostalCode) override;
  HRESULT STDMETHODCALLTYPE FindInitialHeadingAndCrossStreets(double inLat, double inLon, BSTR inStreetName,
                                                              BSTR inStreetAddress, BSTR* pInParameters,
                                                              VARIANT* pInOutCrossStreets,
                                                              SHORT* outHeadingInDegrees) override;
  HRESULT STDMETHODCALLTYPE MoveToNextCrossStreet(double inCurrentLat, double inCurrentLon,
                                                  CARTOVELSideOfStreet inSideOfStreet, BSTR* pInParameters,
                                                  SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) override;
  HRESULT STDMETHODCALLTYPE CrossThisStreet(double inCurrentLat, double inCurrentLon,
                                            CARTOVELSideOfStreet inSideOfStreet, BSTR* pInParameters,
                                            SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) override;
  HRESULT STDMETHODCALLTYPE MoveDownStreet(double* inCurrentLat, double* inCurrentLon, SHORT* pInOutHeading) override;
  HRESULT STDMETHODCALLTYPE UpdateCrossStreets(double inLat, double inLon, SHORT inHeading,
                                               CARTOVELSideOfStreet inSideOfStreet, VARIANT_BOOL inNearSideIntersection,
                                               BSTR* pInParameters, VARIANT* pInOutCrossStreets) override;
  HRESULT STDMETHODCALLTYPE UsingWinCE42(VARIANT_BOOL inUsingWinCE42) override;

  // One line of the debug log: to the debugger output, and to "gpsDebug.txt" in
  // m_DebugDirectory while the process-wide log flag says the folder exists.
  // The text is written as it is, never used as a format. Logging is best
  // effort: a line that cannot be written is dropped, never an error.
  void Log(const char16_t* text) const noexcept;
  // Forgets whether the debug folder exists, so the next line checks again.
  static void ClearDebugLogFlag();

  // Sets m_MapPath to `base` (one trailing backslash removed) followed by
  // `folder`, ending in a backslash unless it already ends in one or a slash.
  // Throws std::bad_alloc, with m_MapPath unchanged, when memory runs out.
  void SetMapDirectory(const char16_t* base, const char16_t* folder);

  // Map loading. These may throw std::bad_alloc; what they leave behind then
  // is what a failed Initalize leaves, which CleanUp undoes.
  std::u16string InitalizeMaps(std::u16string_view mapDirectory, std::u16string_view settingsDirectory,
                               bool searchOtherFolders);
  bool FindMapDirectory(std::u16string_view folder, bool searchOtherFolders);
  bool TryMapDirectory(const char16_t* folder);
  bool DirectoryHasMaps(const char16_t* pattern) const;
  void LoadMap_POI(const std::u16string& fullPath, const std::u16string& fileName);
  void CountMapKind(std::u16string_view fileName);
  static std::u16string POIFileIdentifier(std::u16string_view fileName);
  // "usa_02.rmf" -> "usa", "paris-fr.rmf" -> "paris", "berlin.rmf" stays.
  static std::u16string NormaliseMapName(std::u16string_view fileName);
  // The map number (1, 2, ...) of a loaded map by its file name, with or
  // without ".rmf", in any case; 0 when it is not loaded.
  int GetMapIndexByName(std::u16string_view mapName) const;

  // The language library: text `id` of its string table, "" when there is no
  // library or no such text.
  std::u16string LoadResourceString(UINT id) const;
  bool LoadResourceLibrary(std::u16string_view path);
  // A table of "key,value" texts read from the library by the ids of a
  // zero-terminated list; a text without a comma gives an empty table.
  std::unique_ptr<CKeyValueTable> BuildWordTable(const UINT* ids) const;
  // Replaces the five tables with new ones from the library, all or none.
  void BuildWordTables();

  void LogFormat(std::u16string_view tmpl, std::initializer_list<platform::FormatArg> args) const noexcept;

  // Street names (StreetNames.cpp). Texts are read from m_Rdr; without a map
  // reader or a word table they come out empty or unexpanded, never as errors.

  // ReadAttributeText over the map reader.
  std::u16string GetAttributeText(const RmfFeatureRef& feature, std::string_view pair, AttributeField field,
                                  int piece, bool characterMode) const;
  // Class name n (0..4): piece 0 of the name of the attribute with code pair
  // (2 + n) and '2', cut at its first ':'; "" for any other n.
  std::u16string GetClassName(const RmfFeatureRef& feature, int n) const;
  // The street name made of the pieces of the feature's route-class name
  // text: the first plain piece (else the last route number, else the first
  // piece); with `detailed` the other pieces follow, joined by ", "; with
  // `second` the route numbers go before the name when their first number
  // differs from the name's. Without either flag the name ends before its
  // first ':'. "" when the feature has no route-class attribute.
  std::u16string BuildStreetName(const RmfFeatureRef& feature, bool detailed, bool second) const;
  static CleanedNamePiece CleanNamePiece(std::string_view piece);

  // "Elm St" -> "Elm": the last word dropped when it is a street type (table
  // 2); the parts before and after the first comma separately.
  std::u16string StripStreetName(std::u16string_view text) const;
  // "N Elm St" -> "North Elm Street": prefix (table 1) and street type
  // (table 2) written out, the parts before and after the first comma
  // separately.
  std::u16string ExpandStreetName(std::u16string_view text) const;
  // One part: with `expand` the last word, when it is a key of table 2, is
  // replaced by its value; without, it is dropped with the blank before it.
  std::u16string StripSuffix(std::u16string_view part, bool expand) const;
  std::u16string ExpandSuffix(std::u16string_view part) const;
  std::u16string ExpandPrefix(std::u16string_view part) const;
  // "I-80" -> "Interstate 80" when "i-" is a key of table 1.
  std::u16string ExpandHyphenPrefix(std::u16string_view part) const;
  // The value of table 3 (state) or 4 (country) for the text, else the text.
  std::u16string ExpandStateName(std::u16string_view text) const;
  std::u16string ExpandCountryName(std::u16string_view text) const;

  bool IsFeature8(const RmfFeatureRef& feature) const;     // route-class value begins with '8' (roundabout)
  bool IsRoadClass1(const RmfFeatureRef& feature) const;   // attribute 9 is exactly "1"
  bool IsFeatureR(const RmfFeatureRef& feature) const;     // access value begins with 'R' (trail)
  bool IsFeatureW(const RmfFeatureRef& feature) const;     // access value begins with 'W' (walkway)
  // The text is one of the names given to unnamed streets (strings 23095 and
  // 20584), or the ramp name (20581). A string the language library lacks
  // matches nothing.
  bool IsFallbackStreetName(std::u16string_view text) const;
  bool IsRampName(std::u16string_view text) const;

  // Splits `text` at up to `count` separators, skipping one blank after each;
  // the last piece keeps the rest. Gives the number of pieces (at least 1).
  static int SplitText(std::u16string_view text, char16_t separator, int count, std::vector<std::u16string>* pieces);

  // Nearest feature and location texts (NearestFeature.cpp). Points are map
  // units, headings degrees clockwise from north (-1 for none). A search that
  // finds nothing gives the all-zero reference or an empty text.

  // The features near the point ahead (direction of the heading, within 45
  // degrees) and behind it, radius from `startFeet` doubled up to 300 feet;
  // the first radius that finds any in either direction gives the ones ahead
  // followed by the ones behind. Without any, or without a heading, the
  // search without a heading (up to 15840 feet). Returns their number.
  std::int32_t GetFeaturesInHeading(TiPoint point, std::int32_t startFeet, std::int32_t heading, std::int32_t limit,
                                    std::vector<RmfFeatureRef>* list, const char* classes);
  // The candidate with the nearest segment running with the heading (either
  // way along it, within 45 degrees), the closer orientation winning at equal
  // distance; else the nearest candidate. A segment the point lies on that
  // runs exactly in the heading wins at once unless it is a ramp.
  RmfFeatureRef ChooseBestFeature(TiPoint point, std::int32_t heading, const std::vector<RmfFeatureRef>& list);
  RmfFeatureRef GetNearestFeature(TiPoint point, std::int32_t heading, const char* classes);
  RmfFeatureRef GetNearestFeatureInHeading(TiPoint point, std::int32_t heading, const char* classes);

  // The house number at the point on the street feature; "" for trails,
  // walkways and where no range applies.
  std::u16string GetStreetAddressText(const RmfFeatureRef& street, TiPoint point, std::int32_t heading);
  // City, else borough, else county (with their labels when asked), else
  // locality of the feature.
  std::u16string GetLocalityName(const RmfFeatureRef& feature, bool withLabel);
  std::u16string GetCityNearPoint(TiPoint point);
  std::u16string GetCityText(const RmfFeatureRef& area, TiPoint point, bool withArea, bool boroughRule);
  std::u16string GetAreaText(TiPoint point);
  std::u16string GetStateText(const RmfFeatureRef& area, TiPoint point, bool expanded);
  std::u16string GetCountryText(const RmfFeatureRef& area, TiPoint point);
  std::u16string GetZipcodeText(const RmfFeatureRef& area, TiPoint point);
  // Lanes of the first street found in the heading; 0 when unknown.
  std::int16_t GetNumberOfLanes(TiPoint point, std::int32_t heading);
  std::u16string GetNumberOfLanesText(TiPoint point, std::int32_t heading);
  // The streets near the point, stripped, ramps named as ramps.
  std::u16string GetRouteLocationText(TiPoint point);
  // The street names of the features in list order, leaving out the current
  // street's name and names already said, joined with ", and ".
  std::u16string JoinStreetNames(const std::vector<RmfFeatureRef>& features, std::u16string_view currentName,
                                 bool stripped, bool expanded, bool rampFlag);

  // The intersection ahead (NearestFeature.cpp): the point found from the
  // street in the heading's orientation, kept with its arguments so that a
  // repeated question does not search again; (0x7FFFFFFF, 0x7FFFFFFF) when
  // there is none. Positions in degrees.
  TiPoint GetNextIntersectionPoint(double latitude, double longitude, std::int32_t heading);
  // Distance in feet (mode 1) or bearing in degrees (mode 2) from the
  // position to the nearest cross street at the next intersection; -1 when
  // there is none.
  std::int32_t FindNearestIntersection(double latitude, double longitude, std::int32_t heading, int mode);
  // The names of the streets at the next intersection other than the current
  // street, joined; "" when there is none.
  std::u16string GetIntersectionNameText(double latitude, double longitude, std::int32_t heading, bool stripped,
                                         bool expanded);
  std::u16string GetIntersectionDistanceText(double latitude, double longitude, std::int32_t heading);
  std::u16string GetIntersectionHeadingText(double latitude, double longitude, std::int32_t heading);

  // Cross streets (CrossStreets.cpp, NextCrossStreets.cpp). The worker of
  // FindNextCrossStreets: the request keywords, the intersection the user
  // stands on, then the next one ahead. Returns the new heading.
  std::int32_t FindNextCrossStreetsInternal(double latitude, double longitude, std::int32_t heading,
                                            std::u16string streetName, std::u16string_view request,
                                            CrossStreetVector& out);
  // Appends one cross street for `feature` at the intersection (named, a ramp
  // by where it leads, oriented away from the intersection) unless the list
  // holds one of the same name and orientation.
  void AddCrossStreetToVector(const RampExitInfoMap& exits, const RmfFeatureRef& feature, TiPoint intersection,
                              TiPoint location, INT connectType, CARTOVELSideOfStreet side, CrossStreetVector& list,
                              bool expanded, bool includeConnectors);

  // Ramp labels and the intersection test (RampLabels.cpp). The name under
  // which a ramp (rampFlag) or a junction connector at `intersection` is
  // announced; never fails: the sign texts, else language string 20581.
  std::u16string GetRampConnections(const RampExitInfoMap& exits, TiPoint intersection, const RmfFeatureRef& ramp,
                                    bool rampFlag);
  // Whether `test` is a real intersection. `reference` picks the current
  // feature (the one with an end there); `sameRoad` counts features of the
  // current road's own kind, `byClass` also leaves out secondary roads.
  bool IsAtIntersection(TiPoint test, bool sameRoad, TiPoint reference, bool byClass);

  // Point-of-interest search (POISearch.cpp).
  // One scan of the bands from `start` outwards, in counting mode (capacity
  // 0) or populating mode (adding each point to `results` and its distance in
  // feet to the distances). Positions in degrees, distances in km.
  struct POIScan {
    std::int32_t capacity = 0;
    std::int32_t timeLimit = 0;  // seconds
    double latitude = 0;
    double longitude = 0;
    double start = 0;
    double bandWidth = 0;
    double configuredStart = -1.0;  // -1: no distance window
    bool removeDuplicates = false;
    bool recordReported = false;
    std::int32_t levelA = 6;
    std::int32_t levelB = 1;
    std::string classFilter;
    std::int32_t category = 0;
    std::int32_t subcategory = 0;
    bool privateOnly = false;
    bool publicOnly = false;
    bool includePrivate = false;
    std::int32_t bearing = -1;  // degrees clockwise from north; -1 all round
    IFoundPOIIndexes* results = nullptr;
    SYSTEMTIME startTime{};
  };
  // The number of points counted or added; the end distance reached; the
  // time-exceeded and stop flags set when the time ran out or no band is
  // left.
  std::int32_t ScanOrPopulatePOIs(const POIScan& scan, std::vector<std::int32_t>* distances, double* endDistance,
                                  bool* timeExceeded, bool* stop);
  // The commercial points of the query started on the point-of-interest
  // reader; true when the capacity was reached.
  bool ScanCommercialPOIs(const POIScan& scan, double bandStart, double bandEnd, std::vector<std::int32_t>* distances,
                          std::int32_t* count);
  // The search behind FindPOIs: the found points nearest first into `found`;
  // `distance` in: where to start, out: how far the search got. A getter of
  // the configuration or location that fails gives its answer.
  HRESULT FindPOIsInternal(ILocationObject* location, IPOISearchConfigurationObject* config, bool removeDuplicates,
                           IFoundPOIIndexes* found, double* distance, bool* anyFound);

  // Virtual exploration (Exploration.cpp).
  // Each worker reads the request keywords ("INTERSECTION EXPANDED", "STREET
  // DETAILED"), fills `list` with the cross streets where the step lands and
  // returns the heading there; a step that finds no street near the position
  // returns the heading it was given and leaves the list empty. Positions are
  // degrees on the interface, map units inside.

  // The cross streets at intersection point `intersection`, each located at
  // `location`: the features there (a lone one gets `feature` reversed as its
  // second arm), ordered round the intersection from the heading.
  std::int32_t CollectCrossStreets(bool nearSide, TiPoint intersection, TiPoint location, const RmfFeatureRef& feature,
                                   std::int32_t heading, CARTOVELSideOfStreet side, std::u16string_view streetName,
                                   CrossStreetVector& list, bool expanded);
  // The cross streets where a walk starts at `point` on `feature`: at the
  // junction the point stands on, else at the point's foot on the feature.
  std::int32_t FindInitialCrossStreets(TiPoint point, const RmfFeatureRef& feature, std::int32_t heading,
                                       CARTOVELSideOfStreet side, std::u16string_view request,
                                       CrossStreetVector& list);
  // The start of a walk: the street at the position (the one named, else the
  // nearest), the heading facing it (across it when the position lies on it)
  // and the cross streets there. -1 when no street is near.
  std::int32_t FindInitialHeadingAndCrossStreetsInternal(double latitude, double longitude,
                                                         std::u16string_view streetName,
                                                         std::u16string_view streetAddress,
                                                         std::u16string_view request, CrossStreetVector& list);
  // Moves the position 3 feet along the heading (not at all without one).
  void MoveDownStreetInternal(double& latitude, double& longitude, std::int32_t heading) const;
  std::int32_t UpdateCrossStreetsInternal(double latitude, double longitude, std::int32_t heading,
                                          CARTOVELSideOfStreet side, bool nearSide, std::u16string_view request,
                                          CrossStreetVector& list);
  // Crosses the street in front at the intersection the position is at: the
  // cross streets one foot into the street beyond, facing along it.
  std::int32_t CrossThisStreetInternal(double latitude, double longitude, std::int32_t heading,
                                       CARTOVELSideOfStreet side, std::u16string_view request,
                                       CrossStreetVector& list);
  // Walks ahead along the street to the next intersection (or its end): the
  // cross streets there, located one foot short of it, and the heading of the
  // approach.
  std::int32_t MoveToNextCrossStreetInternal(double latitude, double longitude, std::int32_t heading,
                                             CARTOVELSideOfStreet side, std::u16string_view request,
                                             CrossStreetVector& list);

  // Route requests and the route thread (RouteRequest.cpp).
  // One route request (the worker behind FindWalkingRoute, FindDrivingRoute
  // and UpdateFeatureIdsForRoute): clears the result VARIANT (may be null:
  // only m_pWPFeatureIds is wanted) and m_pWPFeatureIds, then runs one
  // request object and waits for it. A request that arrives while another
  // runs waits for that one to end. Throws nothing.
  void FindRoute(RouteTypeAutomatic type, INT waypointMode, double originLat, double originLon, double destLat,
                 double destLon, CARTOVELRouteTurnPreference turnPref, CARTOVELRouteVehicleMode vehicleMode,
                 CARTOVELRouteFreewayPreference freewayPref, CARTOVELRouteRoundaboutPreference roundaboutPref,
                 CARTOVELRouteTollRoadPreference tollroadPref, VARIANT* result) noexcept;
  // The flag the router of the running request polls; non-zero: stop.
  // CleanUp (and so the destructor) raises it and holds the request lock
  // through the teardown, so the reader is never closed under a search.
  const std::atomic<std::int8_t>* RouteCancelFlag() const noexcept { return &m_RouteCancel; }
  bool RouteCancelRequested() const noexcept { return m_RouteCancel.load() != 0; }
  // Keeps a request's preferences for its street filters and gives the
  // context to install them with: the map's own copy, which outlives the
  // request (see m_RouteProfileOptions).
  RouteRequestOptions* KeepRouteProfileOptions(const RouteRequestOptions& options) noexcept {
    m_RouteProfileOptions = options;
    return &m_RouteProfileOptions;
  }

  // Route steps (RouteSteps.cpp). One step of a route as a WayPoint: its
  // point, the route points before and after it (for the orientations), its
  // feature and the one before it, where its name comes from and the
  // distance from the previous step. Null when the object cannot be made.
  std::unique_ptr<CWayPoint, com::Releaser> BuildRouteWayPoint(const RouteStepPlace& place);

  // Addresses from feature ids (Addresses.cpp). Fills the details' position
  // and house-number texts from the street reference, the point and the
  // heading.
  void GetAddressInternal(CLocationDetails& details, double latitude, double longitude, const RmfFeatureRef& street,
                          std::int32_t heading);
  // The feature named on the interface by map name and ids; false when the map
  // is not loaded or the ids name no feature of it.
  bool FindFeatureByIds(BSTR mapName, LONG fid1, LONG fid2, LONG fid3, RmfFeatureRef* out) const;
  // The texts of the feature's address-range attributes in attribute order,
  // each as [code "|"] value "|" name, joined with "|".
  std::u16string ReadAddressRangeText(const RmfFeatureRef& feature, bool withCodes) const;
  // Whether one of the feature's address ranges holds the house number that
  // begins `address` (up to its first blank).
  bool AddressLiesOnFeature(const RmfFeatureRef& feature, std::u16string_view address) const;
  // The node-to-node pieces of `feature` for which `belongs` holds, in order,
  // followed at both ends through connected features of the same street for
  // which it holds too. Every walk ends: a feature is taken once.
  template <class Belongs>
  std::vector<RmfFeatureRef> CollectConnectedPieces(const RmfFeatureRef& feature, const Belongs& belongs);
  // The pieces that carry the range text `rangeText` (without codes).
  std::vector<RmfFeatureRef> CollectRangePieces(const RmfFeatureRef& feature, std::u16string_view rangeText);
  // The pieces of the street whose postal code (byPostcode) or city is `area`.
  std::vector<RmfFeatureRef> CollectStreetPieces(const RmfFeatureRef& feature, std::u16string_view area,
                                                 bool byPostcode);
  // Appends an address object for each new cross street met at the points of
  // `piece`, while the list holds fewer than kCrossStreetCapacity.
  HRESULT GetCrossStreetsInternal(const RmfFeatureRef& piece, const std::u16string& streetName,
                                  const std::u16string& city, const std::u16string& postcode, BSTR mapName,
                                  std::vector<std::unique_ptr<IAddressObject, com::Releaser>>& list);
  // A new address object of the navigation engine for the cross street `name`
  // at `point`; null (S_OK) when the engine cannot make one, the failing
  // setter's code when it refuses a value.
  HRESULT MakeAddressObject(const std::u16string& name, TiPoint point, BSTR mapName, const std::u16string& city,
                            const std::u16string& postcode, std::unique_ptr<IAddressObject, com::Releaser>* out);

  // Location details (LocationDetails.cpp).
  // The details of the position the request asks for (see GetLocationDetails):
  // the area feature near the point gives city, borough, state, postal code,
  // area, county, country and the map it comes from, the street in the
  // heading its names, speed, classification, lanes and the position on it.
  // Null only when the object cannot be made.
  std::unique_ptr<CLocationDetails, com::Releaser> GetLocationDetailsInternal(double latitude, double longitude,
                                                                              std::int32_t heading,
                                                                              std::u16string_view request);
  // Speeds of a speed-class attribute: '0'..'9' in steps of 10 miles per
  // hour from 5, 'A'..'P' in steps of 10 km/h from 5; otherwise both 0.
  static void SetRoadSpeed(CLocationDetails& details, std::u16string_view speedClass);
  // The kind of road and its properties (one way, surface, toll, bridge and
  // the like, path or service road) as language strings joined with ", ".
  std::u16string GetRoadClassificationText(const RmfFeatureRef& street);
  // The loaded map file a feature comes from, without its extension; "" when
  // its map number names no loaded map.
  std::u16string GetMapDataSource(const RmfFeatureRef& feature);

  // Location description (LocationDescription.cpp). The worker of
  // GetLocationDescription: the pieces the request's keywords ask for (in the
  // keywords' fixed order, whatever their order in the request) joined with
  // ", ". `result` becomes "OK" when the description is not empty, else the
  // "UNKNOWN ..." answer of the last keyword asked for ("UNKNOWN REQUEST"
  // when none is). Sets m_bStreetDetailed from "STREET DETAILED".
  std::u16string GetLocationDescriptionInternal(double latitude, double longitude, std::int32_t heading,
                                                std::u16string_view request, std::u16string& result);

  // Word table n (1..5), or null when it has not been built.
  const CKeyValueTable* WordTable(int n) const;

  // Fields, in the order the engine has always kept them. The readers live
  // inside the memory blocks declared after them, which are therefore
  // destroyed first: the destructor closes the readers through CleanUp.
  ReaderOwner m_Rdr;
  ReaderOwner m_RdrPOI;
  std::int32_t FindRouteInitialHeading = -1;
  std::vector<RmfFeatureRef> m_pWPFeatureIds;
  std::int32_t m_nWPFeatureIndex = -1;
  std::uint8_t m_bStreetDetailed = 0;
  std::uint8_t m_bUsingWinCE42 = 0;
  platform::ModuleOwner m_hResources;
  std::int16_t MAX_NUMBER_MAPS_OPEN = 255;
  std::int16_t MAX_NUMBER_POIS_OPEN = 255;
  NextIntersectionCache m_NextIntersectionCache = NextIntersectionCache::Empty();
  com::Bstr m_DebugDirectory;
  com::Bstr m_BaseMapPath;
  com::Bstr m_MapPath;
  MapContext m_MapContext{};
  BlockOwner m_pMapMemory;
  BlockOwner m_pPOIMemory;
  std::unique_ptr<CKeyValueTable> m_pWordTables[5];
  std::int16_t m_nMapsLoaded = 0;
  std::unique_ptr<CKeyValueTable> m_pMapNames;
  CBstrArray m_MapFiles{255};
  std::int32_t m_nMapNumber = 0;
  std::int16_t m_nPOIsLoaded = 0;
  std::int32_t m_nMapMemoryBytes = 0;
  std::int16_t m_nMapMemoryKB = 2000;
  std::int16_t m_nLoadedCountryMaps = 0;
  std::int16_t m_nLoadedProvincialMaps = 0;
  std::int16_t m_nLoadedStateMaps = 0;
  std::int16_t m_nLoadedRegionalMaps = 0;
  std::int16_t m_nPOIMemoryKB = 768;
  std::int32_t m_nRouteWaypointMode = 1;
  std::set<std::u16string> m_ReportedPOIKeys;
  // User point-of-interest database file (as the caller spells it) to the
  // search infos registered for it, in the order they were registered: objects
  // of the database server, one reference held per slot, so an info registered
  // twice holds two. Files are ordered by UTF-16 code unit; the platform has no
  // locale-aware text comparison, and nothing but the order of a search's scan
  // depends on it.
  using UserPOIList = std::vector<std::unique_ptr<IPOISearchInfo, com::Releaser>>;
  std::map<std::u16string, UserPOIList> m_UserPOIRegistry;
  std::map<std::u16string, std::u16string> m_POIFiles;

 private:
  // Appends to `infos` the search info of each element of a caller's list: a
  // VT_ARRAY|VT_VARIANT whose lower bound is not -1 and whose elements are
  // each VT_DISPATCH answering IPOISearchInfo. False, with `infos` holding
  // whatever was read (its owners give it back), for any other list. The
  // caller's array is only read: it stays the caller's. Throws std::bad_alloc.
  [[nodiscard]] static bool ReadPOISearchInfoList(const VARIANT* list, UserPOIList* infos);
  // The keys of `infos` in order; the first failed key query's result code.
  [[nodiscard]] static HRESULT ReadPOIKeys(const UserPOIList& infos, std::vector<ULONG>* keys);
  void LoadPOIFile(const std::u16string& fullPath, const std::u16string& fileName, const std::string& ansiPath);
  void LogMemoryStatus(const char16_t* tmpl) const;

  // Sizes of the two memory blocks as they were allocated: a retried
  // Initalize builds its readers over the blocks it already holds, whatever
  // the settings say by then.
  std::int32_t m_nMapBlockBytes = 0;
  std::int32_t m_nPOIMemoryBytes = 0;
  // The last Initalize stopped before its readers were ready ("UNABLE TO
  // INITIALIZE MAP ENGINE"): the next one goes on from what it kept instead
  // of answering "ALREADY INITIALIZED" with a reader missing.
  bool m_bInitalizeUnfinished = false;

  // Held for the whole of a route request and of CleanUp's teardown; the
  // cancel flag of the running request (an atomic byte the router polls).
  std::mutex m_RouteRequestLock;
  std::atomic<std::int8_t> m_RouteCancel{0};
  // The preferences the street filters of the last route request read. The
  // filters stay installed on the street reader after the request (and its
  // object) are gone, and every later walk over the streets calls them, so
  // their context lives as long as the reader does.
  RouteRequestOptions m_RouteProfileOptions{};
};
