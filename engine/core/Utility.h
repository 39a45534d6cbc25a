// The engine's process-wide Utility: the settings objects the engine holds
// (loaded from and saved to the settings files) and the language library from
// which every engine text is fetched by number.
//
// Lifetime: the Utility is reference counted. Instance() makes the one
// Utility on its first call and hands out a reference to it; Release() (the
// engine calls it when it stops; tests call it to start afresh) drops the
// process's own reference, and the Utility is destroyed when the last holder
// lets go. A caller keeps the reference it got for as long as it uses the
// Utility, so a getter on one thread never reads a Utility another thread
// released. It is used under the engine's COM lock; Instance(), Existing()
// and Release() themselves are safe to call from any thread.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "engine/core/SettingsObjects.h"
#include "typelib/VovLib.h"
#include "engine/core/VovResult.h"
#include "platform/com/owners.h"
#include "platform/os/format.h"
#include "platform/os/module.h"

namespace vov {

// How far and in which direction a place lies: the bearing in whole degrees
// (-1 unknown), the relative-heading words, and the distance in the engine's
// distance unit (metres when the system units are Metric, else feet; -1
// unknown).
struct DistanceHeadingRecord {
  LONG bearing = -1;
  std::u16string relativeHeading;
  LONG distance = -1;
};

// Two positions are one place when their latitudes and longitudes, each
// times 10^10 and truncated to 64-bit integers, are equal.
bool IsSameLocation(double latitude1, double longitude1, double latitude2, double longitude2);
// The same test against a location object's position (false when it cannot
// be read).
bool IsSameLocation(double latitude, double longitude, ILocationObject* location);

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
  static std::shared_ptr<Utility> Instance();
  // The Utility when one has been made, else null: for code that only reads
  // settings and, before the engine has started, takes their defaults rather
  // than making the Utility (and loading a language) as a side effect.
  static std::shared_ptr<Utility> Existing();
  // Drops the process's reference: the Utility (settings held and language
  // library) goes when its last holder lets go; the next Instance() makes a
  // new one.
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

  // ---- description words ----
  // Every text comes from the language library; a missing text gives an
  // empty sentence. Names are spell-decorated ("<<name>>") where the system
  // setting IncludeSpellDecorators asks for it.

  // A distance in words: `distance` in metres when the system units are
  // Metric, else in feet; `rounded` chooses the approximate wording.
  std::u16string DistanceDescription(LONG distance, bool rounded) const;
  // A heading: the compass word with `compass`, else the degrees as digits;
  // -1 gives the "unknown" word.
  std::u16string HeadingDescription(LONG degrees, bool compass) const;
  // The compass word of a bearing in the wording of the system setting
  // DefaultCompassDescriptions.
  std::u16string CompassPointName(LONG degrees) const;
  // Where a bearing lies seen from a heading, in the words of the system
  // setting HeadingMode (clock face, ahead/left, ...); -1.0: no heading.
  std::u16string RelativeHeadingDescription(double heading, LONG bearing, bool turnWords) const;
  // The distance, bearing and relative heading of `to` seen from `from`
  // with `currentHeading` (-1 none), as the from location reports them.
  DistanceHeadingRecord NewDistanceHeadingRecord(ILocationObject* from, ILocationObject* to,
                                                 SHORT currentHeading) const;
  DistanceHeadingRecord NewWaypointDistanceHeadingRecord(ILocationObject* from, IWaypointObject* waypoint,
                                                         SHORT currentHeading) const;
  // True when `distance` (in the system units) is at most the arrived-near
  // threshold of the system settings.
  bool IsWithinArrivedNearThreshold(LONG distance) const;

  // Spell decorators: the marks that tell the screen reader to spell a name.
  std::u16string AddSpellDecorators(std::u16string_view name) const;
  static std::u16string RemoveSpellDecorators(std::u16string_view text);
  std::u16string DecorateName(std::u16string_view name) const;
  std::u16string UndecorateName(std::u16string_view text) const;

  // The template expanders. Each fetches text `templateId` and fills its
  // "$" codes; objects that are absent give empty insertions.
  std::u16string ExpandDescriptionTemplate(UINT templateId, ILocationObject* place,
                                           const DistanceHeadingRecord* record, IWaypointObject* waypoint,
                                           Mode mode, IWaypointObject* otherWaypoint,
                                           std::u16string_view extra) const;
  std::u16string ExpandSimpleTemplate(UINT templateId, std::u16string_view textT, std::u16string_view textF,
                                      std::u16string_view textH) const;
  std::u16string WaypointExploreDescription(UINT templateId, std::u16string_view textd,
                                            std::u16string_view textD, std::u16string_view textW,
                                            std::u16string_view textT, std::u16string_view textE,
                                            std::u16string_view textU) const;
  // The spoken name of a waypoint in `mode`; empty for none.
  std::u16string WaypointNameText(IWaypointObject* waypoint, Mode mode) const;
  // False when the text holds one of the direction keywords (or the heading
  // mode or receiver makes them meaningless); true otherwise.
  bool ContainsKeyword(std::u16string_view text) const;

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
  // the heading averaging changed while neither the source nor the port
  // (baud rate, port name, port number) did.
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
