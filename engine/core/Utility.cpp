#include "engine/core/Utility.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>

#include "platform/com/accessors.h"
#include "platform/com/atl.h"
#include "platform/com/guard.h"
#include "platform/os/resource.h"
#include "platform/os/text.h"

namespace vov {

namespace {

std::mutex g_instanceLock;
std::shared_ptr<Utility> g_instance;
std::u16string g_defaultLanguage;  // empty: beside the engine's module

std::u16string DefaultLanguagePath() {
  if (!g_defaultLanguage.empty()) return g_defaultLanguage;
  const std::string module = com::ModulePathOf(reinterpret_cast<const void*>(&EndsWithPathSeparator));
  const std::size_t slash = module.find_last_of('/');
  if (slash == std::string::npos) return {};
  return platform::Utf8ToUtf16(module.substr(0, slash + 1) + "Lexiforn_EN.so");
}

template <class T>
T* Make() {
  T* object = nullptr;
  if (FAILED(T::CreateObject(&object))) throw std::bad_alloc();
  return object;
}

// Reads a text property through its getter into `out`.
template <class I>
HRESULT ReadText(I* object, HRESULT (STDMETHODCALLTYPE I::*getter)(BSTR*), std::u16string& out) {
  BSTR raw = nullptr;
  const HRESULT hr = (object->*getter)(&raw);
  com::Bstr text;
  text.Reset(raw);
  if (FAILED(hr)) return hr;
  out.assign(com::BstrView(text));
  return S_OK;
}

template <class I>
HRESULT ReadFlag(I* object, HRESULT (STDMETHODCALLTYPE I::*getter)(VARIANT_BOOL*), bool& out) {
  VARIANT_BOOL value = VARIANT_FALSE;
  const HRESULT hr = (object->*getter)(&value);
  if (SUCCEEDED(hr)) out = value != 0;
  return hr;
}

}  // namespace

bool EndsWithPathSeparator(std::u16string_view text) {
  return !text.empty() && (text.back() == u'/' || text.back() == u'\\');
}

// ---- lifetime -------------------------------------------------------------------------

std::shared_ptr<Utility> Utility::Instance() {
  std::lock_guard<std::mutex> hold(g_instanceLock);
  if (g_instance == nullptr) g_instance.reset(new Utility());
  return g_instance;
}

std::shared_ptr<Utility> Utility::Existing() {
  std::lock_guard<std::mutex> hold(g_instanceLock);
  return g_instance;
}

void Utility::Release() {
  std::shared_ptr<Utility> instance;
  {
    std::lock_guard<std::mutex> hold(g_instanceLock);
    instance.swap(g_instance);
  }
  // Destroyed here, outside the lock, unless someone still holds it.
}

void Utility::SetDefaultLanguageLibrary(std::u16string path) {
  std::lock_guard<std::mutex> hold(g_instanceLock);
  g_defaultLanguage = std::move(path);
}

// The library is loaded before the settings are made, so that the default
// look-around category names come in the user's language.
// The settings it holds are the engine's own state, not objects in
// circulation: they are made as internal objects (see com::InternalObjects).
Utility::Utility() {
  const com::InternalObjects internal;
  SetResources(DefaultLanguagePath());
  CSystemSettingsObject* system = nullptr;
  CLookaroundSettingsObject* lookaround = nullptr;
  if (FAILED(NewDefaultSystemSettings(&system))) throw std::bad_alloc();
  m_systemSettings.reset(system);
  m_receiverSettings.reset(Make<CGPSSettingsObject>());
  if (FAILED(NewDefaultLookaroundSettings(&lookaround))) throw std::bad_alloc();
  m_lookaroundSettings.reset(lookaround);
  m_virtualRouteSettings.reset(Make<CRouteSettingsObject>());
  m_gpsRouteSettings.reset(Make<CRouteSettingsObject>());
}

Utility::~Utility() = default;

// ---- language library -----------------------------------------------------------------

bool Utility::SetResources(std::u16string_view path) {
  m_language.reset();
  if (path.empty()) return false;
  const std::u16string name(path);
  m_language.reset(LoadLibraryW(name.c_str()));
  return m_language != nullptr;
}

std::u16string Utility::LoadResourceString(UINT id) const {
  return platform::LoadStringResource(m_language.get(), id);
}

std::u16string Utility::FormatResourceString(UINT id, std::initializer_list<platform::FormatArg> args) const {
  std::u16string text = platform::FormatW(LoadResourceString(id), args);
  if (text.size() > kMaxFormattedLength) {
    std::size_t cut = kMaxFormattedLength;
    // Never leave half of a surrogate pair at the end.
    if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
    text.resize(cut);
  }
  return text;
}

std::u16string Utility::GetOrdinalSuffix(LONG n) const {
  const long long magnitude = std::llabs(static_cast<long long>(n));
  const long long lastTwo = magnitude % 100;
  if (lastTwo >= 11 && lastTwo <= 13) return LoadResourceString(kOrdinalTh);
  switch (magnitude % 10) {
    case 1: return LoadResourceString(kOrdinalSt);
    case 2: return LoadResourceString(kOrdinalNd);
    case 3: return LoadResourceString(kOrdinalRd);
    default: return LoadResourceString(kOrdinalTh);
  }
}

// ---- new, load, save ------------------------------------------------------------------

HRESULT Utility::NewDefaultSystemSettings(CSystemSettingsObject** out) const {
  HRESULT hr = CSystemSettingsObject::CreateObject(out);
  if (FAILED(hr)) return hr;
  hr = com::Guarded([&] {
    (*out)->SetSettingsFolder(kDefaultSettingsDirectory);
    return S_OK;
  });
  if (FAILED(hr)) {
    (*out)->Release();
    *out = nullptr;
  }
  return hr;
}

HRESULT Utility::NewDefaultGPSSettings(CGPSSettingsObject** out) const { return CGPSSettingsObject::CreateObject(out); }

HRESULT Utility::NewDefaultLookaroundSettings(CLookaroundSettingsObject** out) const {
  HRESULT hr = CLookaroundSettingsObject::CreateObject(out);
  if (FAILED(hr)) return hr;
  hr = com::Guarded([&] {
    vov::LookaroundSettings record;
    record.categoryName = DefaultCategoryName();
    record.subCategoryName = DefaultSubCategoryName();
    return (*out)->SetRecord(record);
  });
  if (FAILED(hr)) {
    (*out)->Release();
    *out = nullptr;
  }
  return hr;
}

HRESULT Utility::LoadSystemSettings(std::u16string_view folder, SettingsReadReport* report) {
  const com::InternalObjects internal;  // held, as the ones they replace
  CSystemSettingsObject* raw = nullptr;
  HRESULT hr = NewDefaultSystemSettings(&raw);
  if (FAILED(hr)) return hr;
  Held<CSystemSettingsObject> loaded(raw);
  // An empty folder, or one outside the device root, is never read or
  // written: the default folder serves instead.
  if (!IsUsableSettingsFolder(folder)) folder = kDefaultSettingsDirectory;
  return com::Guarded([&] {
    const SettingsReadReport read =
        LoadSettingsFile(SettingsFilePath(folder, kSystemSettingsFileName), loaded->Record());
    loaded->SetSettingsFolder(folder);
    if (report != nullptr) *report = read;
    m_systemSettings = std::move(loaded);
    return S_OK;
  });
}

HRESULT Utility::LoadGPSSettings(SettingsReadReport* report) {
  const com::InternalObjects internal;  // held, as the ones they replace
  CGPSSettingsObject* raw = nullptr;
  HRESULT hr = NewDefaultGPSSettings(&raw);
  if (FAILED(hr)) return hr;
  Held<CGPSSettingsObject> loaded(raw);
  return com::Guarded([&] {
    const SettingsReadReport read = LoadSettingsFile(
        SettingsFilePath(m_systemSettings->SettingsDirectory(), kGPSSettingsFileName), loaded->Record());
    if (report != nullptr) *report = read;
    m_receiverSettings = std::move(loaded);
    return S_OK;
  });
}

HRESULT Utility::LoadLookaroundSettings(SettingsReadReport* report) {
  const com::InternalObjects internal;  // held, as the ones they replace
  CLookaroundSettingsObject* raw = nullptr;
  HRESULT hr = NewDefaultLookaroundSettings(&raw);
  if (FAILED(hr)) return hr;
  Held<CLookaroundSettingsObject> loaded(raw);
  return com::Guarded([&] {
    vov::LookaroundSettings record = loaded->Record();
    const SettingsReadReport read = LoadSettingsFile(
        SettingsFilePath(m_systemSettings->SettingsDirectory(), kLookaroundSettingsFileName), record);
    HRESULT set = loaded->SetRecord(record);
    if (FAILED(set)) return set;
    if (report != nullptr) *report = read;
    m_lookaroundSettings = std::move(loaded);
    return S_OK;
  });
}

HRESULT Utility::LoadRouteSettings(SettingsReadReport* report) {
  const com::InternalObjects internal;  // held, as the ones they replace
  Held<CRouteSettingsObject> gpsMode, virtualMode;
  return com::Guarded([&] {
    gpsMode.reset(Make<CRouteSettingsObject>());
    virtualMode.reset(Make<CRouteSettingsObject>());
    const SettingsReadReport read =
        LoadSettingsFile(SettingsFilePath(m_systemSettings->SettingsDirectory(), kRouteSettingsFileName),
                         gpsMode->Record(), virtualMode->Record());
    if (report != nullptr) *report = read;
    m_gpsRouteSettings = std::move(gpsMode);
    m_virtualRouteSettings = std::move(virtualMode);
    return S_OK;
  });
}

namespace {

template <class Format>
SettingsFileResult SaveGuarded(std::u16string_view folder, std::u16string_view name, Format&& format) {
  try {
    return SaveSettingsFile(SettingsFilePath(folder, name), format());
  } catch (...) {
    return SettingsFileResult::kWriteFailed;
  }
}

}  // namespace

SettingsFileResult Utility::SaveSystemSettings() {
  return SaveGuarded(m_systemSettings->SettingsDirectory(), kSystemSettingsFileName,
                     [&] { return FormatSystemSettings(m_systemSettings->Record()); });
}
SettingsFileResult Utility::SaveGPSSettings() {
  return SaveGuarded(m_systemSettings->SettingsDirectory(), kGPSSettingsFileName,
                     [&] { return FormatGPSSettings(m_receiverSettings->Record()); });
}
SettingsFileResult Utility::SaveLookaroundSettings() {
  return SaveGuarded(m_systemSettings->SettingsDirectory(), kLookaroundSettingsFileName,
                     [&] { return FormatLookaroundSettings(m_lookaroundSettings->Record()); });
}
SettingsFileResult Utility::SaveRouteSettings() {
  return SaveGuarded(m_systemSettings->SettingsDirectory(), kRouteSettingsFileName, [&] {
    return FormatRouteSettings(m_gpsRouteSettings->Record(), m_virtualRouteSettings->Record());
  });
}

// ---- copies ---------------------------------------------------------------------------

HRESULT Utility::CopySystemSettings(ISystemSettingsObject** out) const {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CSystemSettingsObject* copy = nullptr;
  HRESULT hr = CSystemSettingsObject::CreateObject(&copy);
  if (FAILED(hr)) return hr;
  Held<CSystemSettingsObject> owner(copy);
  return com::Guarded([&] {
    copy->Record() = m_systemSettings->Record();
    copy->SetSettingsFolder(m_systemSettings->SettingsDirectory());
    *out = owner.release();
    return S_OK;
  });
}

HRESULT Utility::CopyGPSSettings(IGPSSettingsObject** out) const {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CGPSSettingsObject* copy = nullptr;
  HRESULT hr = CGPSSettingsObject::CreateObject(&copy);
  if (FAILED(hr)) return hr;
  Held<CGPSSettingsObject> owner(copy);
  return com::Guarded([&] {
    copy->Record() = m_receiverSettings->Record();
    *out = owner.release();
    return S_OK;
  });
}

HRESULT Utility::CopyLookaroundSettings(ILookaroundSettingsObject** out) const {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CLookaroundSettingsObject* copy = nullptr;
  HRESULT hr = CLookaroundSettingsObject::CreateObject(&copy);
  if (FAILED(hr)) return hr;
  Held<CLookaroundSettingsObject> owner(copy);
  return com::Guarded([&] {
    HRESULT set = copy->SetRecord(m_lookaroundSettings->Record());
    if (FAILED(set)) return set;
    *out = owner.release();
    return S_OK;
  });
}

HRESULT Utility::CopyRouteSettings(Mode mode, IRouteSettingsObject** out) const {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CRouteSettingsObject* copy = nullptr;
  HRESULT hr = CRouteSettingsObject::CreateObject(&copy);
  if (FAILED(hr)) return hr;
  copy->Record() = (mode == VirtualMode ? m_virtualRouteSettings : m_gpsRouteSettings)->Record();
  *out = copy;
  return S_OK;
}

// ---- set from the user's objects ------------------------------------------------------

HRESULT Utility::SetSystemSettings(ISystemSettingsObject* s, bool* mapsChanged) {
  if (mapsChanged != nullptr) *mapsChanged = false;
  if (s == nullptr) return E_POINTER;
  return com::Guarded([&] {
    vov::SystemSettings next = m_systemSettings->Record();
    std::u16string settingsDirectory;
    VARIANT_BOOL checkForNewMaps = VARIANT_FALSE;
    HRESULT hr = s->GetHeadingMode(&next.headingMode);
    if (SUCCEEDED(hr)) hr = ReadText(s, &ISystemSettingsObject::GetMapPOIDirectory, next.mapPOIDirectory);
    if (SUCCEEDED(hr)) hr = ReadText(s, &ISystemSettingsObject::GetSettingsDirectory, settingsDirectory);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &ISystemSettingsObject::GetStreetNamesDetailed, next.streetNamesDetailed);
    if (SUCCEEDED(hr)) hr = s->GetUnits(&next.units);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &ISystemSettingsObject::GetIncludeSpellDecorators, next.includeSpellDecorators);
    if (SUCCEEDED(hr)) hr = s->GetArrivalDistance(Imperial, &next.arrivalDistanceFeet);
    if (SUCCEEDED(hr)) hr = s->GetArrivedNearThreshold(Imperial, &next.arrivedNearThresholdFeet);
    if (SUCCEEDED(hr)) hr = s->GetDefaultCompassDescriptions(&next.defaultCompassDescriptions);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &ISystemSettingsObject::GetSearchOtherMapDirectories, next.searchOtherMapDirectories);
    if (SUCCEEDED(hr)) hr = ReadText(s, &ISystemSettingsObject::GetPOIAuthor, next.poiAuthor);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &ISystemSettingsObject::GetVirtualSideOfStreetTracking, next.virtualSideOfStreetTracking);
    if (SUCCEEDED(hr)) hr = s->ShouldCheckForNewMaps(&checkForNewMaps);
    if (FAILED(hr)) return hr;
    const bool changed = next.mapPOIDirectory != m_systemSettings->Record().mapPOIDirectory || checkForNewMaps != 0;
    // An empty folder, or one outside the device root, is never used: the
    // settings stay where they were.
    std::u16string folder =
        IsUsableSettingsFolder(settingsDirectory) ? settingsDirectory : m_systemSettings->SettingsDirectory();
    m_systemSettings->SetSettingsFolder(folder);
    m_systemSettings->Record() = std::move(next);
    SaveSystemSettings();
    if (mapsChanged != nullptr) *mapsChanged = changed;
    return S_OK;
  });
}

HRESULT Utility::SetGPSSettings(IGPSSettingsObject* s, bool* sourceChanged, bool* reopen) {
  if (sourceChanged != nullptr) *sourceChanged = false;
  if (reopen != nullptr) *reopen = false;
  if (s == nullptr) return E_POINTER;
  return com::Guarded([&] {
    vov::GPSSettings next;
    HRESULT hr = s->GetGPSBaudRate(&next.baudRate);
    if (SUCCEEDED(hr)) hr = ReadText(s, &IGPSSettingsObject::GetGPSPortName, next.portName);
    if (SUCCEEDED(hr)) hr = s->GetGPSPortNumber(&next.portNumber);
    if (SUCCEEDED(hr)) hr = s->GetGPSReceiverType(&next.receiverType);
    if (SUCCEEDED(hr)) hr = ReadText(s, &IGPSSettingsObject::GetSimulatedGPSFile, next.simulatedGPSFile);
    if (SUCCEEDED(hr)) hr = ReadText(s, &IGPSSettingsObject::GetGPSReceiverName, next.receiverName);
    if (SUCCEEDED(hr)) hr = s->GetGPSLastLatitude(&next.lastLatitude);
    if (SUCCEEDED(hr)) hr = s->GetGPSLastLongitude(&next.lastLongitude);
    if (SUCCEEDED(hr)) hr = s->GetHeadingAveragingMode(&next.headingAveragingMode);
    if (SUCCEEDED(hr)) hr = s->GetPedestrianHeadingAveragingSeconds(&next.pedestrianHeadingAveragingSeconds);
    if (SUCCEEDED(hr)) hr = s->GetInertialReceiverUserHeight(&next.inertialReceiverUserHeight);
    if (FAILED(hr)) return hr;
    const vov::GPSSettings& held = m_receiverSettings->Record();
    const bool source = next.receiverType != held.receiverType || next.simulatedGPSFile != held.simulatedGPSFile ||
                        next.receiverName != held.receiverName;
    const bool averaging = next.pedestrianHeadingAveragingSeconds != held.pedestrianHeadingAveragingSeconds ||
                           next.headingAveragingMode != held.headingAveragingMode;
    // A port opened at another rate or on another name must be reopened even
    // when the averaging changed with it.
    const bool port = next.baudRate != held.baudRate || next.portName != held.portName ||
                      next.portNumber != held.portNumber;
    m_receiverSettings->Record() = std::move(next);
    SaveGPSSettings();
    if (sourceChanged != nullptr) *sourceChanged = source;
    if (reopen != nullptr) *reopen = source || port || !averaging;
    return S_OK;
  });
}

HRESULT Utility::SetLookaroundSettings(ILookaroundSettingsObject* s) {
  if (s == nullptr) return E_POINTER;
  return com::Guarded([&] {
    vov::LookaroundSettings next;
    IPOICategoryObject* category = nullptr;
    IPOISubCategoryObject* subCategory = nullptr;
    HRESULT hr = s->GetCommercialCategoryToScanFor(&category);
    std::unique_ptr<IPOICategoryObject, com::Releaser> categoryOwner(category);
    if (SUCCEEDED(hr)) hr = s->GetCommercialSubCategoryToScanFor(&subCategory);
    std::unique_ptr<IPOISubCategoryObject, com::Releaser> subCategoryOwner(subCategory);
    if (SUCCEEDED(hr) && (category == nullptr || subCategory == nullptr)) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = ReadText(category, &IPOICategoryObject::GetCategoryName, next.categoryName);
    if (SUCCEEDED(hr)) hr = category->GetCategoryNumber(&next.categoryNumber);
    if (SUCCEEDED(hr)) hr = ReadText(subCategory, &IPOISubCategoryObject::GetSubCategoryName, next.subCategoryName);
    if (SUCCEEDED(hr)) hr = subCategory->GetMainCategoryNumber(&next.subCategoryMainNumber);
    if (SUCCEEDED(hr)) hr = subCategory->GetSubCategoryNumber(&next.subCategoryNumber);
    using L = ILookaroundSettingsObject;
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsCommercialPOIsEnabled, next.commercialPOIsEnabled);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsIntersectionsEnabled, next.intersectionsEnabled);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsLookaroundEnabled, next.lookaroundEnabled);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsUserPrivatePOIsEnabled, next.userPrivatePOIsEnabled);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsTalkingLightsEnabled, next.talkingLightsEnabled);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsStreetChangesEnabled, next.streetChangesEnabled);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsCityChangesEnabled, next.cityChangesEnabled);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::IsMapChangesEnabled, next.mapChangesEnabled);
    if (SUCCEEDED(hr)) hr = s->GetStartDelayForLookaroundEvents(&next.startDelayForLookaroundEvents);
    if (SUCCEEDED(hr)) hr = s->GetPOISearchDirection(&next.poiSearchDirection);
    if (SUCCEEDED(hr)) hr = s->GetIntersectionMaxSpeedForReporting(&next.intersectionMaxSpeedForReporting);
    if (SUCCEEDED(hr)) hr = s->GetLookaroundReportingInterval(&next.lookaroundReportingInterval);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::GetPOIIncludeTags, next.poiIncludeTags);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &L::GetPOIIncludeDistanceDirection, next.poiIncludeDistanceDirection);
    if (SUCCEEDED(hr)) hr = s->GetRouteOptions(&next.routeOptions);
    if (FAILED(hr)) return hr;
    hr = m_lookaroundSettings->SetRecord(next);
    if (FAILED(hr)) return hr;
    SaveLookaroundSettings();
    return S_OK;
  });
}

HRESULT Utility::SetRouteSettings(Mode mode, IRouteSettingsObject* s) {
  if (s == nullptr) return E_POINTER;
  return com::Guarded([&] {
    vov::RouteSettings next;
    using R = IRouteSettingsObject;
    HRESULT hr = s->GetWaypointMode(&next.waypointMode);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &R::IsAutoIncrementWaypointsWhenReachedOn, next.autoIncrementWaypointsWhenReached);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &R::IsForceSequentialRouteFollowingOn, next.forceSequentialRouteFollowing);
    if (SUCCEEDED(hr)) hr = ReadFlag(s, &R::IsWaypointNumberingOn, next.waypointNumbering);
    if (SUCCEEDED(hr)) hr = s->GetNumberingDescriptions(&next.numberingDescriptions);
    if (FAILED(hr)) return hr;
    RouteSettings(mode).Record() = next;
    SaveRouteSettings();
    return S_OK;
  });
}

}  // namespace vov
