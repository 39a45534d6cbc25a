#include "engine/core/SettingsObjects.h"

#include <cmath>
#include <limits>
#include <utility>

#include "engine/core/EngineUtilities.h"
#include "platform/com/accessors.h"
#include "platform/com/guard.h"

using com::BstrView;
using com::Flag;
using com::TextOut;
using com::ValueIn;
using com::ValueOut;

namespace {

// Copies the caller's text into the field; the old text stays when memory runs out.
HRESULT TextIn(std::u16string& field, BSTR text) {
  return com::Guarded([&] {
    field.assign(BstrView(text));
    return S_OK;
  });
}

HRESULT FlagOut(VARIANT_BOOL* out, bool value) { return ValueOut(out, value ? VARIANT_TRUE : VARIANT_FALSE); }

HRESULT PutFlag(bool& field, VARIANT_BOOL value) {
  field = value != 0;
  return S_OK;
}

LONG ToLong(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<LONG>::max())) return std::numeric_limits<LONG>::max();
  if (value <= static_cast<double>(std::numeric_limits<LONG>::min())) return std::numeric_limits<LONG>::min();
  return static_cast<LONG>(value);  // truncates toward zero
}

// Hands out an added reference to an owned object as interface I.
template <class I, class T>
HRESULT ObjectOut(I** out, const std::unique_ptr<T, com::Releaser>& held) {
  if (out == nullptr) return E_POINTER;
  held->AddRef();
  *out = held.get();
  return S_OK;
}

// The name of a category object, through its interface.
HRESULT NameOf(IPOICategoryObject* object, std::u16string& name) {
  BSTR text = nullptr;
  HRESULT hr = object->GetCategoryName(&text);
  com::Bstr owner;
  owner.Reset(text);
  if (FAILED(hr)) return hr;
  return TextIn(name, owner);
}
HRESULT NameOf(IPOISubCategoryObject* object, std::u16string& name) {
  BSTR text = nullptr;
  HRESULT hr = object->GetSubCategoryName(&text);
  com::Bstr owner;
  owner.Reset(text);
  if (FAILED(hr)) return hr;
  return TextIn(name, owner);
}

}  // namespace

namespace vov {

// The factors are those the phone's settings dialogs have always used; the
// settings files hold feet computed with them, so they stay as they are.
LONG FeetToUnits(LONG feet, Units units) {
  if (units == Imperial) return feet;
  return ToLong(feet * 0.304799999536704 + 0.5);
}

LONG UnitsToFeet(LONG distance, Units units) {
  if (units == Imperial) return distance;
  return ToLong(distance * 3.2808399 + 0.5);
}

std::u16string DebugDirectoryFor(std::u16string_view settingsDirectory) {
  std::u16string folder(settingsDirectory);
  if (folder.empty() || (folder.back() != u'/' && folder.back() != u'\\')) folder += u'/';
  folder += u"Debug";
  return folder;
}

}  // namespace vov

// ---- CSystemSettingsObject --------------------------------------------------------------

HRESULT CSystemSettingsObject::GetHeadingMode(RelativeHeadingType* pVal) { return ValueOut(pVal, m_record.headingMode); }
HRESULT CSystemSettingsObject::SetHeadingMode(RelativeHeadingType newVal) { return ValueIn(m_record.headingMode, newVal); }
HRESULT CSystemSettingsObject::GetUnits(Units* pVal) { return ValueOut(pVal, m_record.units); }
HRESULT CSystemSettingsObject::SetUnits(Units newVal) { return ValueIn(m_record.units, newVal); }
HRESULT CSystemSettingsObject::GetMapPOIDirectory(BSTR* pVal) { return TextOut(pVal, m_record.mapPOIDirectory); }
HRESULT CSystemSettingsObject::SetMapPOIDirectory(BSTR newVal) { return TextIn(m_record.mapPOIDirectory, newVal); }
HRESULT CSystemSettingsObject::GetSettingsDirectory(BSTR* pVal) { return TextOut(pVal, m_settingsDirectory); }
HRESULT CSystemSettingsObject::SetSettingsDirectory(BSTR newVal) {
  return com::Guarded([&] {
    SetSettingsFolder(BstrView(newVal));
    return S_OK;
  });
}
void CSystemSettingsObject::SetSettingsFolder(std::u16string_view folder) {
  std::u16string settings(folder);
  std::u16string debug = vov::DebugDirectoryFor(folder);
  m_settingsDirectory = std::move(settings);
  m_debugDirectory = std::move(debug);
  // The debug log decided once whether its folder is there; with a new
  // settings folder it decides again at its next line.
  vov::ResetDebugLogDecision();
}
HRESULT CSystemSettingsObject::GetStreetNamesDetailed(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.streetNamesDetailed);
}
HRESULT CSystemSettingsObject::SetStreetNamesDetailed(VARIANT_BOOL newVal) {
  return PutFlag(m_record.streetNamesDetailed, newVal);
}
HRESULT CSystemSettingsObject::GetIncludeSpellDecorators(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.includeSpellDecorators);
}
HRESULT CSystemSettingsObject::SetIncludeSpellDecorators(VARIANT_BOOL newVal) {
  return PutFlag(m_record.includeSpellDecorators, newVal);
}
HRESULT CSystemSettingsObject::GetArrivalDistance(Units units, LONG* pVal) {
  return ValueOut(pVal, vov::FeetToUnits(m_record.arrivalDistanceFeet, units));
}
HRESULT CSystemSettingsObject::SetArrivalDistance(Units units, LONG newVal) {
  m_record.arrivalDistanceFeet = vov::UnitsToFeet(newVal, units);
  if (m_record.arrivedNearThresholdFeet > m_record.arrivalDistanceFeet) {
    m_record.arrivedNearThresholdFeet = m_record.arrivalDistanceFeet;
  }
  return S_OK;
}
HRESULT CSystemSettingsObject::GetDefaultCompassDescriptions(SystemDescriptions* pVal) {
  return ValueOut(pVal, m_record.defaultCompassDescriptions);
}
HRESULT CSystemSettingsObject::SetDefaultCompassDescriptions(SystemDescriptions newVal) {
  return ValueIn(m_record.defaultCompassDescriptions, newVal);
}
HRESULT CSystemSettingsObject::GetArrivedNearThreshold(Units units, LONG* pVal) {
  return ValueOut(pVal, vov::FeetToUnits(m_record.arrivedNearThresholdFeet, units));
}
HRESULT CSystemSettingsObject::SetArrivedNearThreshold(Units units, LONG newVal) {
  const LONG feet = vov::UnitsToFeet(newVal < 0 ? 0 : newVal, units);
  m_record.arrivedNearThresholdFeet = feet > m_record.arrivalDistanceFeet ? m_record.arrivalDistanceFeet : feet;
  return S_OK;
}
HRESULT CSystemSettingsObject::GetDebugDirectory(BSTR* pVal) { return TextOut(pVal, m_debugDirectory); }
HRESULT CSystemSettingsObject::GetSearchOtherMapDirectories(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.searchOtherMapDirectories);
}
HRESULT CSystemSettingsObject::SetSearchOtherMapDirectories(VARIANT_BOOL newVal) {
  return PutFlag(m_record.searchOtherMapDirectories, newVal);
}
HRESULT CSystemSettingsObject::ShouldCheckForNewMaps(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, m_bForceNewMapPOIFolder);
}
HRESULT CSystemSettingsObject::SetForceNewMapPOIFolder(VARIANT_BOOL newVal) {
  m_bForceNewMapPOIFolder = Flag(newVal);
  return S_OK;
}
HRESULT CSystemSettingsObject::GetPOIAuthor(BSTR* pVal) { return TextOut(pVal, m_record.poiAuthor); }
HRESULT CSystemSettingsObject::SetPOIAuthor(BSTR newVal) { return TextIn(m_record.poiAuthor, newVal); }
HRESULT CSystemSettingsObject::GetVirtualSideOfStreetTracking(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.virtualSideOfStreetTracking);
}
HRESULT CSystemSettingsObject::SetVirtualSideOfStreetTracking(VARIANT_BOOL newVal) {
  return PutFlag(m_record.virtualSideOfStreetTracking, newVal);
}

// ---- CGPSSettingsObject -------------------------------------------------------------------

HRESULT CGPSSettingsObject::GetGPSBaudRate(LONG* pVal) { return ValueOut(pVal, m_record.baudRate); }
HRESULT CGPSSettingsObject::SetGPSBaudRate(LONG newVal) { return ValueIn(m_record.baudRate, newVal); }
HRESULT CGPSSettingsObject::GetGPSPortName(BSTR* pVal) { return TextOut(pVal, m_record.portName); }
HRESULT CGPSSettingsObject::SetGPSPortName(BSTR newVal) { return TextIn(m_record.portName, newVal); }
HRESULT CGPSSettingsObject::GetGPSPortNumber(SHORT* pVal) { return ValueOut(pVal, m_record.portNumber); }
HRESULT CGPSSettingsObject::SetGPSPortNumber(SHORT newVal) { return ValueIn(m_record.portNumber, newVal); }
HRESULT CGPSSettingsObject::GetGPSReceiverType(GPSType* pVal) { return ValueOut(pVal, m_record.receiverType); }
HRESULT CGPSSettingsObject::SetGPSReceiverType(GPSType newVal) { return ValueIn(m_record.receiverType, newVal); }
HRESULT CGPSSettingsObject::GetSimulatedGPSFile(BSTR* pVal) { return TextOut(pVal, m_record.simulatedGPSFile); }
HRESULT CGPSSettingsObject::SetSimulatedGPSFile(BSTR newVal) { return TextIn(m_record.simulatedGPSFile, newVal); }
HRESULT CGPSSettingsObject::GetGPSReceiverName(BSTR* pVal) { return TextOut(pVal, m_record.receiverName); }
HRESULT CGPSSettingsObject::SetGPSReceiverName(BSTR newVal) { return TextIn(m_record.receiverName, newVal); }
HRESULT CGPSSettingsObject::GetGPSLastLatitude(double* pVal) { return ValueOut(pVal, m_record.lastLatitude); }
HRESULT CGPSSettingsObject::SetGPSLastLatitude(double newVal) { return ValueIn(m_record.lastLatitude, newVal); }
HRESULT CGPSSettingsObject::GetGPSLastLongitude(double* pVal) { return ValueOut(pVal, m_record.lastLongitude); }
HRESULT CGPSSettingsObject::SetGPSLastLongitude(double newVal) { return ValueIn(m_record.lastLongitude, newVal); }
HRESULT CGPSSettingsObject::GetHeadingAveragingMode(HeadingAveraging* pVal) {
  return ValueOut(pVal, m_record.headingAveragingMode);
}
HRESULT CGPSSettingsObject::SetHeadingAveragingMode(HeadingAveraging newVal) {
  return ValueIn(m_record.headingAveragingMode, newVal);
}
HRESULT CGPSSettingsObject::GetPedestrianHeadingAveragingSeconds(SHORT* pVal) {
  return ValueOut(pVal, m_record.pedestrianHeadingAveragingSeconds);
}
HRESULT CGPSSettingsObject::SetPedestrianHeadingAveragingSeconds(SHORT newVal) {
  return ValueIn(m_record.pedestrianHeadingAveragingSeconds, newVal);
}
HRESULT CGPSSettingsObject::GetInertialReceiverUserHeight(double* pVal) {
  return ValueOut(pVal, m_record.inertialReceiverUserHeight);
}
HRESULT CGPSSettingsObject::SetInertialReceiverUserHeight(double newVal) {
  return ValueIn(m_record.inertialReceiverUserHeight, newVal);
}
HRESULT CGPSSettingsObject::SetUpBluetoothReceiver(IBluetoothDeviceObject* device) {
  if (device == nullptr) return E_POINTER;
  return com::Guarded([&] {
    com::Bstr name, portName;
    BSTR text = nullptr;
    HRESULT hr = device->GetName(&text);
    name.Reset(text);
    if (FAILED(hr)) return hr;
    text = nullptr;
    hr = device->GetPortName(&text);
    portName.Reset(text);
    if (FAILED(hr)) return hr;
    SHORT portNumber = 0;
    hr = device->GetPortNumber(&portNumber);
    if (FAILED(hr)) return hr;
    vov::GPSSettings next = m_record;
    next.receiverName.assign(BstrView(name));
    next.portName.assign(BstrView(portName));
    next.portNumber = portNumber;
    next.simulatedGPSFile.clear();
    next.receiverType = GPSTypeBlueTooth;
    next.baudRate = 4800;
    m_record = std::move(next);
    return S_OK;
  });
}

// ---- CLookaroundSettingsObject -----------------------------------------------------------

HRESULT CLookaroundSettingsObject::FinalConstruct() {
  CPOICategoryObject* category = nullptr;
  HRESULT hr = CPOICategoryObject::CreateObject(&category);
  if (FAILED(hr)) return hr;
  m_pCategory.reset(category);
  CPOISubCategoryObject* subCategory = nullptr;
  hr = CPOISubCategoryObject::CreateObject(&subCategory);
  if (FAILED(hr)) return hr;
  m_pSubCategory.reset(subCategory);
  return S_OK;
}

HRESULT CLookaroundSettingsObject::GetCommercialCategoryToScanFor(IPOICategoryObject** pVal) {
  return ObjectOut(pVal, m_pCategory);
}
HRESULT CLookaroundSettingsObject::SetCommercialCategoryToScanFor(IPOICategoryObject* newVal) {
  if (newVal == nullptr) return E_POINTER;
  return com::Guarded([&] {
    SHORT number = 0;
    HRESULT hr = newVal->GetCategoryNumber(&number);
    if (FAILED(hr)) return hr;
    std::u16string name;
    hr = NameOf(newVal, name);
    if (FAILED(hr)) return hr;
    hr = m_pCategory->SetCategoryName(name);
    if (FAILED(hr)) return hr;
    return m_pCategory->SetCategoryNumber(number);
  });
}
HRESULT CLookaroundSettingsObject::GetCommercialSubCategoryToScanFor(IPOISubCategoryObject** pVal) {
  return ObjectOut(pVal, m_pSubCategory);
}
HRESULT CLookaroundSettingsObject::SetCommercialSubCategoryToScanFor(IPOISubCategoryObject* newVal) {
  if (newVal == nullptr) return E_POINTER;
  return com::Guarded([&] {
    SHORT mainNumber = 0, number = 0;
    HRESULT hr = newVal->GetMainCategoryNumber(&mainNumber);
    if (SUCCEEDED(hr)) hr = newVal->GetSubCategoryNumber(&number);
    if (FAILED(hr)) return hr;
    std::u16string name;
    hr = NameOf(newVal, name);
    if (FAILED(hr)) return hr;
    hr = m_pSubCategory->SetSubCategoryName(name);
    if (FAILED(hr)) return hr;
    m_pSubCategory->SetMainCategoryNumber(mainNumber);
    return m_pSubCategory->SetSubCategoryNumber(number);
  });
}
HRESULT CLookaroundSettingsObject::IsCommercialPOIsEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.commercialPOIsEnabled);
}
HRESULT CLookaroundSettingsObject::EnableCommercialPOIs(VARIANT_BOOL newVal) {
  return PutFlag(m_record.commercialPOIsEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::IsIntersectionsEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.intersectionsEnabled);
}
HRESULT CLookaroundSettingsObject::EnableIntersections(VARIANT_BOOL newVal) {
  return PutFlag(m_record.intersectionsEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::IsLookaroundEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.lookaroundEnabled);
}
HRESULT CLookaroundSettingsObject::EnableLookaround(VARIANT_BOOL newVal) {
  return PutFlag(m_record.lookaroundEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::IsUserPrivatePOIsEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.userPrivatePOIsEnabled);
}
HRESULT CLookaroundSettingsObject::EnableUserPrivatePOIs(VARIANT_BOOL newVal) {
  return PutFlag(m_record.userPrivatePOIsEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::IsTalkingLightsEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.talkingLightsEnabled);
}
HRESULT CLookaroundSettingsObject::EnableTalkingLights(VARIANT_BOOL newVal) {
  return PutFlag(m_record.talkingLightsEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::IsStreetChangesEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.streetChangesEnabled);
}
HRESULT CLookaroundSettingsObject::EnableStreetChanges(VARIANT_BOOL newVal) {
  return PutFlag(m_record.streetChangesEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::IsCityChangesEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.cityChangesEnabled);
}
HRESULT CLookaroundSettingsObject::EnableCityChanges(VARIANT_BOOL newVal) {
  return PutFlag(m_record.cityChangesEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::IsMapChangesEnabled(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.mapChangesEnabled);
}
HRESULT CLookaroundSettingsObject::EnableMapChanges(VARIANT_BOOL newVal) {
  return PutFlag(m_record.mapChangesEnabled, newVal);
}
HRESULT CLookaroundSettingsObject::GetStartDelayForLookaroundEvents(LONG* pVal) {
  return ValueOut(pVal, m_record.startDelayForLookaroundEvents);
}
HRESULT CLookaroundSettingsObject::SetStartDelayForLookaroundEvents(LONG newVal) {
  return ValueIn(m_record.startDelayForLookaroundEvents, newVal);
}
HRESULT CLookaroundSettingsObject::GetPOISearchDirection(Directions* pVal) {
  return ValueOut(pVal, m_record.poiSearchDirection);
}
HRESULT CLookaroundSettingsObject::SetPOISearchDirection(Directions newVal) {
  return ValueIn(m_record.poiSearchDirection, newVal);
}
HRESULT CLookaroundSettingsObject::GetIntersectionMaxSpeedForReporting(LONG* pVal) {
  return ValueOut(pVal, m_record.intersectionMaxSpeedForReporting);
}
HRESULT CLookaroundSettingsObject::SetIntersectionMaxSpeedForReporting(LONG newVal) {
  return ValueIn(m_record.intersectionMaxSpeedForReporting, newVal < 0 ? 0 : newVal);
}
HRESULT CLookaroundSettingsObject::GetLookaroundReportingInterval(LONG* pVal) {
  return ValueOut(pVal, m_record.lookaroundReportingInterval);
}
HRESULT CLookaroundSettingsObject::SetLookaroundReportingInterval(LONG newVal) {
  constexpr LONG kMinTicks = 5, kMaxTicks = 300;
  return ValueIn(m_record.lookaroundReportingInterval, newVal < kMinTicks ? kMinTicks : newVal > kMaxTicks ? kMaxTicks : newVal);
}
HRESULT CLookaroundSettingsObject::GetPOIIncludeTags(VARIANT_BOOL* pVal) { return FlagOut(pVal, m_record.poiIncludeTags); }
HRESULT CLookaroundSettingsObject::SetPOIIncludeTags(VARIANT_BOOL newVal) {
  return PutFlag(m_record.poiIncludeTags, newVal);
}
HRESULT CLookaroundSettingsObject::GetPOIIncludeDistanceDirection(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.poiIncludeDistanceDirection);
}
HRESULT CLookaroundSettingsObject::SetPOIIncludeDistanceDirection(VARIANT_BOOL newVal) {
  return PutFlag(m_record.poiIncludeDistanceDirection, newVal);
}
HRESULT CLookaroundSettingsObject::GetRouteOptions(LookaroundRouteOptions* pVal) {
  return ValueOut(pVal, m_record.routeOptions);
}
HRESULT CLookaroundSettingsObject::SetRouteOptions(LookaroundRouteOptions newVal) {
  return ValueIn(m_record.routeOptions, newVal);
}

vov::LookaroundSettings CLookaroundSettingsObject::Record() const {
  vov::LookaroundSettings record = m_record;
  com::Bstr text;
  BSTR name = nullptr;
  if (SUCCEEDED(m_pCategory->GetCategoryName(&name))) text.Reset(name);
  record.categoryName.assign(BstrView(text));
  m_pCategory->GetCategoryNumber(&record.categoryNumber);
  name = nullptr;
  text.Reset();
  if (SUCCEEDED(m_pSubCategory->GetSubCategoryName(&name))) text.Reset(name);
  record.subCategoryName.assign(BstrView(text));
  m_pSubCategory->GetMainCategoryNumber(&record.subCategoryMainNumber);
  m_pSubCategory->GetSubCategoryNumber(&record.subCategoryNumber);
  return record;
}

HRESULT CLookaroundSettingsObject::SetRecord(const vov::LookaroundSettings& record) {
  return com::Guarded([&] {
    vov::LookaroundSettings next = record;
    HRESULT hr = m_pCategory->SetCategoryName(record.categoryName);
    if (SUCCEEDED(hr)) hr = m_pSubCategory->SetSubCategoryName(record.subCategoryName);
    if (FAILED(hr)) return hr;
    m_pCategory->SetCategoryNumber(record.categoryNumber);
    m_pSubCategory->SetMainCategoryNumber(record.subCategoryMainNumber);
    m_pSubCategory->SetSubCategoryNumber(record.subCategoryNumber);
    m_record = std::move(next);
    return S_OK;
  });
}

// ---- CRouteSettingsObject -------------------------------------------------------------------

HRESULT CRouteSettingsObject::GetWaypointMode(WaypointMode* pVal) { return ValueOut(pVal, m_record.waypointMode); }
HRESULT CRouteSettingsObject::SetWaypointMode(WaypointMode newVal) { return ValueIn(m_record.waypointMode, newVal); }
HRESULT CRouteSettingsObject::IsAutoIncrementWaypointsWhenReachedOn(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.autoIncrementWaypointsWhenReached);
}
HRESULT CRouteSettingsObject::SetAutoIncrementWaypointsWhenReachedOn(VARIANT_BOOL newVal) {
  return PutFlag(m_record.autoIncrementWaypointsWhenReached, newVal);
}
HRESULT CRouteSettingsObject::IsForceSequentialRouteFollowingOn(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.forceSequentialRouteFollowing);
}
HRESULT CRouteSettingsObject::SetForceSequentialRouteFollowingOn(VARIANT_BOOL newVal) {
  return PutFlag(m_record.forceSequentialRouteFollowing, newVal);
}
HRESULT CRouteSettingsObject::IsWaypointNumberingOn(VARIANT_BOOL* pVal) {
  return FlagOut(pVal, m_record.waypointNumbering);
}
HRESULT CRouteSettingsObject::SetWaypointNumberingOn(VARIANT_BOOL newVal) {
  return PutFlag(m_record.waypointNumbering, newVal);
}
HRESULT CRouteSettingsObject::GetNumberingDescriptions(SystemDescriptions* pVal) {
  return ValueOut(pVal, m_record.numberingDescriptions);
}
HRESULT CRouteSettingsObject::SetNumberingDescriptions(SystemDescriptions newVal) {
  return ValueIn(m_record.numberingDescriptions, newVal);
}
