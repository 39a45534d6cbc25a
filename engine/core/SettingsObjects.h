// The engine's four settings objects: system, receiver, look-around and route
// settings. Each is a COM value object over one record of its settings file
// (SettingsFiles.h); the engine holds one of each (two of the route settings)
// through the Utility, and the user program gets copies, edits them and hands
// them back.
//
// Getters answer E_POINTER for a null out pointer and S_OK otherwise; setters
// answer S_OK, except where a text cannot be copied (E_OUTOFMEMORY, the old
// value kept) or an object argument is null (E_POINTER, nothing changed).
// Flags are stored as VARIANT_TRUE/VARIANT_FALSE (any non-zero is true).
#pragma once

#include <memory>
#include <string>

#include "engine/core/POIObjects.h"
#include "engine/core/SettingsFiles.h"
#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

namespace vov {
// Feet to the caller's units and back: Imperial is feet, every other unit is
// metres, rounded half up and truncated; results beyond the LONG range stop at
// its ends.
LONG FeetToUnits(LONG feet, Units units);
LONG UnitsToFeet(LONG distance, Units units);
// Folder + ("/" unless it already ends with "/" or "\") + "Debug".
std::u16string DebugDirectoryFor(std::u16string_view settingsDirectory);
}  // namespace vov

// General settings. Distances are kept in feet. SettingsDirectory (and the
// DebugDirectory made from it) and the ForceNewMapPOIFolder request are not
// part of the file.
class CSystemSettingsObject : public com::ComClass<CSystemSettingsObject, ISystemSettingsObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetHeadingMode(RelativeHeadingType* pVal) override;
  HRESULT STDMETHODCALLTYPE SetHeadingMode(RelativeHeadingType newVal) override;
  HRESULT STDMETHODCALLTYPE GetUnits(Units* pVal) override;
  HRESULT STDMETHODCALLTYPE SetUnits(Units newVal) override;
  HRESULT STDMETHODCALLTYPE GetMapPOIDirectory(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMapPOIDirectory(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetSettingsDirectory(BSTR* pVal) override;
  // Also sets DebugDirectory to the folder's "Debug" subfolder.
  HRESULT STDMETHODCALLTYPE SetSettingsDirectory(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetNamesDetailed(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetStreetNamesDetailed(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetIncludeSpellDecorators(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetIncludeSpellDecorators(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetArrivalDistance(Units units, LONG* pVal) override;
  // Lowers ArrivedNearThreshold to the new distance when it is larger.
  HRESULT STDMETHODCALLTYPE SetArrivalDistance(Units units, LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetDefaultCompassDescriptions(SystemDescriptions* pVal) override;
  HRESULT STDMETHODCALLTYPE SetDefaultCompassDescriptions(SystemDescriptions newVal) override;
  HRESULT STDMETHODCALLTYPE GetArrivedNearThreshold(Units units, LONG* pVal) override;
  // A negative value is 0; a value above ArrivalDistance is stored as it.
  HRESULT STDMETHODCALLTYPE SetArrivedNearThreshold(Units units, LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetDebugDirectory(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetSearchOtherMapDirectories(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSearchOtherMapDirectories(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE ShouldCheckForNewMaps(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetForceNewMapPOIFolder(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetPOIAuthor(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetPOIAuthor(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetVirtualSideOfStreetTracking(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetVirtualSideOfStreetTracking(VARIANT_BOOL newVal) override;

  // The engine's side: the file record (with the saved engine state) and the
  // folders. SetSettingsFolder may throw std::bad_alloc, leaving both folders
  // as they were; a new folder makes the debug log decide afresh whether it
  // is on.
  vov::SystemSettings& Record() { return m_record; }
  const vov::SystemSettings& Record() const { return m_record; }
  const std::u16string& SettingsDirectory() const { return m_settingsDirectory; }
  const std::u16string& DebugDirectory() const { return m_debugDirectory; }
  void SetSettingsFolder(std::u16string_view folder);

 private:
  vov::SystemSettings m_record;
  std::u16string m_settingsDirectory;
  std::u16string m_debugDirectory;
  VARIANT_BOOL m_bForceNewMapPOIFolder = VARIANT_FALSE;
};

// Receiver settings.
class CGPSSettingsObject : public com::ComClass<CGPSSettingsObject, IGPSSettingsObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetGPSBaudRate(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE SetGPSBaudRate(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetGPSPortName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetGPSPortName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetGPSPortNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetGPSPortNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetGPSReceiverType(GPSType* pVal) override;
  HRESULT STDMETHODCALLTYPE SetGPSReceiverType(GPSType newVal) override;
  HRESULT STDMETHODCALLTYPE GetSimulatedGPSFile(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSimulatedGPSFile(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetGPSReceiverName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetGPSReceiverName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetGPSLastLatitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetGPSLastLatitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE GetGPSLastLongitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetGPSLastLongitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE GetHeadingAveragingMode(HeadingAveraging* pVal) override;
  HRESULT STDMETHODCALLTYPE SetHeadingAveragingMode(HeadingAveraging newVal) override;
  HRESULT STDMETHODCALLTYPE GetPedestrianHeadingAveragingSeconds(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetPedestrianHeadingAveragingSeconds(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetInertialReceiverUserHeight(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetInertialReceiverUserHeight(double newVal) override;
  // The device's name, port name and port number; no trace file; a Bluetooth
  // receiver at 4800 baud. A null device, or one whose getters fail, changes
  // nothing and answers E_POINTER or the getter's failure.
  HRESULT STDMETHODCALLTYPE SetUpBluetoothReceiver(IBluetoothDeviceObject* device) override;

  vov::GPSSettings& Record() { return m_record; }
  const vov::GPSSettings& Record() const { return m_record; }

 private:
  vov::GPSSettings m_record;
};

// Look-around settings. The category and subcategory to scan for live in owned
// point-of-interest category objects: the getters hand them out (the caller's
// changes to them are changes to these settings), the setters copy a given
// object's name and numbers into them.
class CLookaroundSettingsObject : public com::ComClass<CLookaroundSettingsObject, ILookaroundSettingsObject> {
 public:
  HRESULT FinalConstruct();

  HRESULT STDMETHODCALLTYPE GetCommercialCategoryToScanFor(IPOICategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetCommercialCategoryToScanFor(IPOICategoryObject* newVal) override;
  HRESULT STDMETHODCALLTYPE GetCommercialSubCategoryToScanFor(IPOISubCategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetCommercialSubCategoryToScanFor(IPOISubCategoryObject* newVal) override;
  HRESULT STDMETHODCALLTYPE IsCommercialPOIsEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableCommercialPOIs(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsIntersectionsEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableIntersections(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsLookaroundEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableLookaround(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsUserPrivatePOIsEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableUserPrivatePOIs(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsTalkingLightsEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableTalkingLights(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsStreetChangesEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableStreetChanges(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsCityChangesEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableCityChanges(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsMapChangesEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE EnableMapChanges(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetStartDelayForLookaroundEvents(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE SetStartDelayForLookaroundEvents(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetPOISearchDirection(Directions* pVal) override;
  HRESULT STDMETHODCALLTYPE SetPOISearchDirection(Directions newVal) override;
  HRESULT STDMETHODCALLTYPE GetIntersectionMaxSpeedForReporting(LONG* pVal) override;
  // A negative speed is stored as 0.
  HRESULT STDMETHODCALLTYPE SetIntersectionMaxSpeedForReporting(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetLookaroundReportingInterval(LONG* pVal) override;
  // Kept within 5..300 ticks.
  HRESULT STDMETHODCALLTYPE SetLookaroundReportingInterval(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetPOIIncludeTags(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetPOIIncludeTags(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetPOIIncludeDistanceDirection(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetPOIIncludeDistanceDirection(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetRouteOptions(LookaroundRouteOptions* pVal) override;
  HRESULT STDMETHODCALLTYPE SetRouteOptions(LookaroundRouteOptions newVal) override;

  // The whole record, category fields read from the owned objects (may throw
  // std::bad_alloc); and the record applied, category fields into them.
  vov::LookaroundSettings Record() const;
  [[nodiscard]] HRESULT SetRecord(const vov::LookaroundSettings& record);

 private:
  // The record's category fields are unused here: the owned objects hold them.
  vov::LookaroundSettings m_record;
  std::unique_ptr<CPOICategoryObject, com::Releaser> m_pCategory;
  std::unique_ptr<CPOISubCategoryObject, com::Releaser> m_pSubCategory;
};

// How routes are followed in one mode.
class CRouteSettingsObject : public com::ComClass<CRouteSettingsObject, IRouteSettingsObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetWaypointMode(WaypointMode* pVal) override;
  HRESULT STDMETHODCALLTYPE SetWaypointMode(WaypointMode newVal) override;
  HRESULT STDMETHODCALLTYPE IsAutoIncrementWaypointsWhenReachedOn(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetAutoIncrementWaypointsWhenReachedOn(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsForceSequentialRouteFollowingOn(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetForceSequentialRouteFollowingOn(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsWaypointNumberingOn(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetWaypointNumberingOn(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetNumberingDescriptions(SystemDescriptions* pVal) override;
  HRESULT STDMETHODCALLTYPE SetNumberingDescriptions(SystemDescriptions newVal) override;

  vov::RouteSettings& Record() { return m_record; }
  const vov::RouteSettings& Record() const { return m_record; }

 private:
  vov::RouteSettings m_record;
};
