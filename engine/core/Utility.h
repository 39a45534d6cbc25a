// The engine's process-wide Utility: the settings objects the engine holds
// (loaded from and saved to the settings files) and the language library from
// which every engine text is fetched by number.
//
// Lifetime: Instance() makes the one Utility on its first call and it lives
// until Release() (the engine calls it when it stops; tests call it to start
// afresh) or until the process ends. Nothing keeps a pointer to it across a
// Release(). It is used under the engine's COM lock; Instance() and Release()
// themselves are safe to call from any thread.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "engine/core/SettingsObjects.h"
#include "engine/core/VovLib.h"
#include "engine/core/VovResult.h"
#include "platform/com/owners.h"
#include "platform/os/format.h"
#include "platform/os/module.h"

namespace vov {

// True when the text ends in "/" or "\".
bool EndsWithPathSeparator(std::u16string_view text);

class Utility {
 public:
  // Language texts read here.
  static constexpr UINT kOrdinalTh = 23096;
  static constexpr UINT kOrdinalSt = 23097;
  static constexpr UINT kOrdinalNd = 23116;
  static constexpr UINT kOrdinalRd = 23117;
  static constexpr UINT kDefaultCategoryName = 29993;
  static constexpr UINT kDefaultSubCategoryName = 29994;
  // A formatted text longer than this is cut.
  static constexpr std::size_t kMaxFormattedLength = 2000;

  // The one Utility, made with default settings and the default language
  // library on the first call (std::bad_alloc when memory runs out; callers
  // at a COM edge run it through com::Guarded).
  static Utility& Instance();
  // The Utility when one has been made, else null: for code that only reads
  // settings and, before the engine has started, takes their defaults rather
  // than making the Utility (and loading a language) as a side effect.
  static Utility* Existing();
  // Destroys the Utility (settings held and language library freed); the next
  // Instance() makes a new one.
  static void Release();
  // The language library loaded by default: "Lexiforn_EN.so" beside the module
  // that holds the engine. An empty path restores that default. Takes effect
  // for Utilities made afterwards.
  static void SetDefaultLanguageLibrary(std::u16string path);

  Utility(const Utility&) = delete;
  Utility& operator=(const Utility&) = delete;
  ~Utility();

  // ---- language library ----
  // Frees the library in use and loads the one at `path`; false (and no
  // library) when it does not load.
  bool SetResources(std::u16string_view path);
  bool LanguageLoaded() const { return m_language != nullptr; }
  // Text `id`, or "" without a library or without that text.
  std::u16string LoadResourceString(UINT id) const;
  // Text `id` filled from the arguments (see platform/os/format.h for what a
  // text whose placeholders do not fit its arguments gives), at most
  // kMaxFormattedLength characters.
  std::u16string FormatResourceString(UINT id, std::initializer_list<platform::FormatArg> args) const;
  // The ordinal suffix of n ("st", "nd", "rd", "th" in English).
  std::u16string GetOrdinalSuffix(LONG n) const;
  std::u16string DefaultCategoryName() const { return LoadResourceString(kDefaultCategoryName); }
  std::u16string DefaultSubCategoryName() const { return LoadResourceString(kDefaultSubCategoryName); }

  // ---- settings held ----
  CSystemSettingsObject& SystemSettings() { return *m_systemSettings; }
  CGPSSettingsObject& GPSSettings() { return *m_receiverSettings; }
  CLookaroundSettingsObject& LookaroundSettings() { return *m_lookaroundSettings; }
  // The record of `mode`: the virtual mode's for VirtualMode, the receiver
  // mode's otherwise.
  CRouteSettingsObject& RouteSettings(Mode mode) {
    return mode == VirtualMode ? *m_virtualRouteSettings : *m_gpsRouteSettings;
  }
  std::u16string GetPOIAuthor() const { return m_systemSettings->Record().poiAuthor; }

  // New objects with the defaults (each with one reference for the caller).
  HRESULT NewDefaultSystemSettings(CSystemSettingsObject** out) const;
  HRESULT NewDefaultGPSSettings(CGPSSettingsObject** out) const;
  HRESULT NewDefaultLookaroundSettings(CLookaroundSettingsObject** out) const;

  // Loading replaces the held object(s) with what the file gives (defaults for
  // what it cannot give). The system settings come from `folder`, which
  // becomes their SettingsDirectory; the others from that SettingsDirectory.
  // A failed HRESULT (out of memory) keeps the held objects.
  HRESULT LoadSystemSettings(std::u16string_view folder, SettingsReadReport* report = nullptr);
  HRESULT LoadGPSSettings(SettingsReadReport* report = nullptr);
  HRESULT LoadLookaroundSettings(SettingsReadReport* report = nullptr);
  HRESULT LoadRouteSettings(SettingsReadReport* report = nullptr);

  // Writes the held objects to their files in the SettingsDirectory.
  SettingsFileResult SaveSystemSettings();
  SettingsFileResult SaveGPSSettings();
  SettingsFileResult SaveLookaroundSettings();
  SettingsFileResult SaveRouteSettings();

  // Independent copies of the held objects, for the user program.
  HRESULT CopySystemSettings(ISystemSettingsObject** out) const;
  HRESULT CopyGPSSettings(IGPSSettingsObject** out) const;
  HRESULT CopyLookaroundSettings(ILookaroundSettingsObject** out) const;
  HRESULT CopyRouteSettings(Mode mode, IRouteSettingsObject** out) const;

  // Take the user's properties into the held object and save its file. Every
  // property is read before anything changes, so a failing object (its
  // HRESULT is answered) leaves the held settings as they were.
  // *mapsChanged: the map folder changed, or the object asks for a new map
  // search (ShouldCheckForNewMaps).
  HRESULT SetSystemSettings(ISystemSettingsObject* settings, bool* mapsChanged);
  // *sourceChanged: receiver type, trace file or receiver name changed.
  // *reopen: the receiver source should be opened again; false only when
  // nothing but the heading averaging changed.
  HRESULT SetGPSSettings(IGPSSettingsObject* settings, bool* sourceChanged, bool* reopen);
  HRESULT SetLookaroundSettings(ILookaroundSettingsObject* settings);
  HRESULT SetRouteSettings(Mode mode, IRouteSettingsObject* settings);

 private:
  Utility();

  template <class T>
  using Held = std::unique_ptr<T, com::Releaser>;

  platform::ModuleOwner m_language;
  Held<CSystemSettingsObject> m_systemSettings;
  Held<CGPSSettingsObject> m_receiverSettings;
  Held<CLookaroundSettingsObject> m_lookaroundSettings;
  Held<CRouteSettingsObject> m_virtualRouteSettings;
  Held<CRouteSettingsObject> m_gpsRouteSettings;
};

}  // namespace vov
