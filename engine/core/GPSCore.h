// The navigation engine object. So far it holds what the engine needs to
// read the receiver: the fix object and the virtual position, the receiver's
// port, trace and recording state, the sentence parser with its heading
// averaging, and the small utilities that work on the current position.
//
// Locks, always taken in this order: m_csCom (every outside call and every
// tick), m_csTick (inside a tick), then the fix object's own lock. The fix's
// lock is never held across a call into the map engine.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/EngineUtilities.h"
#include "engine/core/GPSObject.h"
#include "typelib/VovLib.h"
#include "platform/com/owners.h"
#include "platform/os/files.h"
#include "platform/os/format.h"

struct IMap;
class CVirtualObject;

// The map engine object, shared by every engine object of the process; null
// when it could not be made (every map call is then skipped).
extern IMap* m_pCartovel;

class GPSCore {
 public:
  // ---- receiver input sizes ----
  static constexpr DWORD kSentenceCapacity = 256;  // one NMEA sentence being assembled
  static constexpr DWORD kChunkBytes = 199;        // one read; the buffer holds a terminating zero
  static constexpr int kMaxChunksPerTick = 6;
  static constexpr SHORT kSilencePolls = 7;        // polls without a good sentence before the receiver is silent
  static constexpr int kMaxAnnotationCharacters = 190;  // longer annotations are not recorded
  static constexpr int kMaxBluetoothDevices = 100;
  // The fix keeps its speed in miles per hour; receivers give knots.
  static constexpr double kMphPerKnot = 1.15077945;

  GPSCore();
  ~GPSCore();
  GPSCore(const GPSCore&) = delete;
  GPSCore& operator=(const GPSCore&) = delete;

  // ---- the receiver source ----
  // Makes the fix object when there is none, clears the fix, opens the source
  // the receiver settings name and puts the last known position into the fix.
  BOOL StartGPSReceiver(SHORT firstRmcCount);
  BOOL OpenGPSSource(SHORT firstRmcCount);
  // For a Bluetooth receiver: the port number of the paired device of the
  // receiver's name (saved to the settings when it changed); true for others.
  BOOL EnumerateGPSPorts(SHORT& portNumber);
  BOOL OpenSerialPort(HANDLE& handle, std::u16string_view portName, SHORT portNumber, DWORD baudRate);
  static BOOL CloseGPSHandle(HANDLE& handle);
  void InitGPSPortState();
  // Empties both sentence buffers and the annotation carry and zeroes the
  // silence counter: nothing read from an earlier source lingers.
  void ClearSentenceState();
  // Once a tick: reads what the source has, at most six chunks.
  BOOL PollGPSInput();
  BOOL ReadGPSInput(HANDLE& handle, char* sentenceBuffer, DWORD capacity, DWORD& position, BYTE& inSentence,
                    bool isTrace, CGPSObject* gps);
  // Cuts bytes into sentences and dispatches each; true when one of them was
  // a good $GPRMC.
  BOOL AssembleNMEASentences(const char* bytes, DWORD count, char* sentenceBuffer, DWORD capacity, DWORD& position,
                             BYTE& inSentence, CGPSObject* gps);
  // Raises the annotations met in a replayed chunk.
  void ExtractAnnotation(const char* chunk, DWORD count);

  // ---- outside calls on the input (each takes m_csCom) ----
  HRESULT GPSExternalNmeaDataUpdate(BSTR text);
  HRESULT GPSStartRecording(BSTR fileName);
  HRESULT GPSStopRecording();
  HRESULT GPSInsertAnnotationIntoRecording(BSTR text);

  // ---- sentences and the fix ----
  BOOL DispatchNMEASentence(const char* sentence, CGPSObject* gps);
  void HandleGPRMC(const char* sentence, CGPSObject* gps);
  void HandleGPGGA(const char* sentence, CGPSObject* gps);
  void HandleGPGSA(const char* sentence, CGPSObject* gps);
  void UpdateFixQuality(CGPSObject* gps);
  // Metres, from the fix's HDOP and its differential state.
  double GetEstimatedAccuracy();
  void UpdateHeadingFromFixes(SHORT course, double latitude, double longitude, double speedKnots, CGPSObject* gps);
  void AverageHeadings(SHORT heading, CGPSObject* gps);
  // On the same street for a while (big-city headings): the heading becomes
  // the street's direction nearest the course. The map engine is asked
  // without the fix's lock held; see the definition.
  void SnapHeadingToStreet(SHORT course, double latitude, double longitude, CGPSObject* gps);
  std::u16string GetStreetNameAt(double latitude, double longitude, SHORT heading);
  // Clears the fix in the fix object and the heading state.
  void ResetGPSFix();
  // True in test mode, else when the fix quality is neither 0 nor 1.
  bool IsFixUsable();

  // ---- utilities on the current position ----
  static bool MatchNameInsensitive(std::u16string_view needle, std::u16string_view text);
  SHORT GetHeadingDegreesForMode(Mode mode);
  // The virtual object's or the fix object's own location (no reference
  // added) and heading.
  void GetCurrentLocationAndHeading(Mode mode, ILocationObject** location, SHORT* heading);
  bool IsNearCurrentLocation(Mode mode, ILocationObject* location);
  static LONG GetBearingDegreesBetween(ILocationObject* from, ILocationObject* to);
  LONG GetIntersectionSearchDistance();
  void SetLastDescription(UINT textId, std::initializer_list<platform::FormatArg> args);
  std::u16string GetLastDescription() const;
  HRESULT GPSGetTimeInternal(IGPSTimeObject** time);
  HRESULT GPSGetStatusInternal(IGPSStatusObject** status);
  // Appends the paired Bluetooth devices (at most kMaxBluetoothDevices) to
  // `devices`.
  void FindAvailableBluetoothDevicesInternal(
      std::vector<std::unique_ptr<IBluetoothDeviceObject, com::Releaser>>& devices);

  // ---- pedometer ----
  // While the fix is usable and the user moves faster than the heading
  // averaging's minimum speed, adds the distance from the last sample to the
  // fix (every sixth call; `force` samples at once) to the receiver-mode
  // total, and keeps a copy of the fix's position as the next last sample.
  void UpdatePedometer(bool force);
  // The walked distance of `mode` in words (the receiver mode's brought up to
  // date first), in the units of the system settings.
  std::u16string GetPedometerDescription(Mode mode);

  // ---- events of the input ----
  // A replayed trace reached an annotation. Until automatic events are
  // delivered to the user program, the text goes to the observer below.
  void SimulationAnnotationReached(const std::u16string& text);
  std::function<void(const std::u16string&)> m_annotationObserver;

  // The engine's log line: written to the debug log of the system settings'
  // debug folder with date and time.
  void Log(std::u16string_view text) const;

  // ---- members ----
  std::recursive_mutex m_csCom;
  std::recursive_mutex m_csTick;

  std::unique_ptr<CGPSObject, com::Releaser> m_pGPS;
  std::unique_ptr<CVirtualObject, com::Releaser> m_pVirtual;
  Mode m_eMode = GPSMode;
  bool m_bTestMode = false;
  com::Bstr m_bstrLastDescription;

  // Receiver input.
  HANDLE m_hSerial = INVALID_HANDLE_VALUE;
  HANDLE m_hTalkingLights = INVALID_HANDLE_VALUE;
  HANDLE m_hTrace = INVALID_HANDLE_VALUE;
  HANDLE m_hRecording = INVALID_HANDLE_VALUE;
  std::u16string m_recordingFileName;
  std::array<char, kSentenceCapacity> m_serialSentence{};
  DWORD m_nSerialPosition = 0;
  BYTE m_bSerialInSentence = 0;
  std::array<char, kSentenceCapacity> m_traceSentence{};
  DWORD m_nTracePosition = 0;
  BYTE m_bTraceInSentence = 0;
  std::array<char, kChunkBytes + 1> m_readBuffer{};
  SHORT m_nSilenceCounter = 0;
  SHORT m_nFirstRmcCountdown = 2;
  // The fix's position came from an RMC read while the countdown ran.
  bool m_bUntrustedPosition = false;
  std::string m_pendingAnnotation;

  // Heading state.
  std::array<SHORT, 5> m_headingHistory{-1, -1, -1, -1, -1};
  GPSType m_eReceiverType = GPSTypeNone;
  HeadingAveraging m_eHeadingAveragingMode = AutomaticHeadings;
  SHORT m_nPedestrianAveragingSeconds = 5;
  double m_dMinSpeedForHeadingAveraging = 0.8;  // knots
  SHORT m_nSampleCounter = 0;
  SHORT m_nBigCityCounter = 0;
  double m_dP1Latitude = 0.0, m_dP1Longitude = 0.0;  // radians
  double m_dP2Latitude = 0.0, m_dP2Longitude = 0.0;
  std::u16string m_currentStreet;
  std::u16string m_previousStreet;

  // Pedometer. The totals are kept in metres whatever the units the user
  // hears, so a change of units never mixes feet into metres.
  double m_dPedometerMetres = 0.0;         // receiver mode
  double m_dPedometerVirtualMetres = 0.0;  // virtual mode
  std::unique_ptr<ILocationObject, com::Releaser> m_pPedometerLast;  // own copy, never the fix's location
  LONG m_nPedometerCountdown = 0;
};
