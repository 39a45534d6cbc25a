// The receiver input: opening the source the receiver settings name (a serial
// port, a recorded trace or a Talking Lights port), polling it once a tick in
// bounded chunks, cutting the bytes into sentences for the dispatcher,
// noticing a receiver that has gone silent, recording what is read into a
// trace file and raising the annotations of a trace being replayed.
//
// Nothing here allocates per sentence or reads without bound: a tick takes at
// most kMaxChunksPerTick chunks of kChunkBytes per source, and a port that
// keeps delivering beyond that has its input discarded instead.
#include <algorithm>
#include <string>
#include <string_view>

#include "engine/core/GPSCore.h"
#include "engine/core/Utility.h"
#include "platform/com/accessors.h"
#include "platform/com/guard.h"
#include "platform/os/clock.h"
#include "platform/os/debug.h"
#include "platform/os/serial.h"
#include "platform/os/text.h"

namespace {

constexpr std::string_view kAnnotationStart = "<Ann>";
constexpr std::string_view kAnnotationEnd = "</Ann>";
// What a trace holds around an annotation's text.
constexpr std::string_view kAnnotationBlockStart = "\n\n<Ann>";
constexpr std::string_view kAnnotationBlockEnd = "</Ann>\n\n";
// The longest annotation text raised: a start tag and its text stay under
// 200 bytes. The recorder writes at most 190 characters, one byte each.
constexpr std::size_t kMaxAnnotationText = 194;
// What is carried from one replayed chunk to the next at most: a start tag,
// the longest text and an end tag cut before its last byte.
constexpr std::size_t kMaxPendingAnnotation = 5 + kMaxAnnotationText + 5;

// Waits after closing a port or a trace, so the driver has let the device go
// before it is opened again, and before the one retry of a port that did not
// open.
constexpr DWORD kCloseWaitMs = 1000;
constexpr DWORD kRetryWaitMs = 2000;

constexpr char16_t kFloodMessage[] = u"Max attempts to read COMM port.  FlushFileBuffers";
constexpr char16_t kSilentMessage[] = u"GPS receiver silent";


bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE; }

// Writes all of `bytes` to the recording; a short or failed write loses the
// rest of this piece of the trace but never the reading.
void AppendToRecording(HANDLE recording, const char* bytes, std::size_t count) {
  if (!IsValid(recording) || count == 0) return;
  DWORD written = 0;
  WriteFile(recording, bytes, static_cast<DWORD>(count), &written, nullptr);
}

}  // namespace

// ---- the source -------------------------------------------------------------------

BOOL GPSCore::StartGPSReceiver(SHORT firstRmcCount) {
  if (m_pGPS == nullptr) {
    CGPSObject* gps = nullptr;
    if (SUCCEEDED(CGPSObject::CreateObject(&gps))) m_pGPS.reset(gps);
  }
  ResetGPSFix();

  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  if (utility == nullptr) {
    CloseGPSHandle(m_hSerial);
    CloseGPSHandle(m_hTalkingLights);
    CloseGPSHandle(m_hTrace);
    return TRUE;
  }
  const BOOL opened = OpenGPSSource(firstRmcCount);
  // The last known position stands in until the receiver gives a fix, also
  // when it could not be opened.
  if (m_pGPS != nullptr) {
    const vov::GPSSettings& settings = utility->GPSSettings().Record();
    std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
    m_pGPS->Location()->SetLatitude(settings.lastLatitude);
    m_pGPS->Location()->SetLongitude(settings.lastLongitude);
    m_pGPS->MarkChanged();
  }
  return opened;
}

BOOL GPSCore::OpenGPSSource(SHORT firstRmcCount) {
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  if (utility == nullptr) return FALSE;
  const vov::GPSSettings& settings = utility->GPSSettings().Record();
  const DWORD baudRate = static_cast<DWORD>(settings.baudRate);
  const std::u16string portName = settings.portName;
  const GPSType type = settings.receiverType;
  SHORT portNumber = settings.portNumber;
  // The parser keeps its own copy of the receiver's kind and heading rules.
  m_eReceiverType = type;
  m_eHeadingAveragingMode = settings.headingAveragingMode;

  if (!EnumerateGPSPorts(portNumber)) return FALSE;
  if (type == GPSTypeTalkingLights) return OpenSerialPort(m_hTalkingLights, portName, portNumber, baudRate);

  if (CloseGPSHandle(m_hSerial)) Sleep(kCloseWaitMs);
  if (CloseGPSHandle(m_hTrace)) Sleep(kCloseWaitMs);

  m_nFirstRmcCountdown = firstRmcCount;
  ClearSentenceState();

  // No receiver: nothing to open, and nothing failed.
  if (type == GPSTypeNone) return TRUE;

  if (type == GPSTypeSimulated) {
    const std::u16string file = settings.simulatedGPSFile;
    m_hTrace = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsValid(m_hTrace) ? TRUE : FALSE;
  }

  if (OpenSerialPort(m_hSerial, portName, portNumber, baudRate)) return TRUE;
  Sleep(kRetryWaitMs);
  return OpenSerialPort(m_hSerial, portName, portNumber, baudRate);
}

BOOL GPSCore::EnumerateGPSPorts(SHORT& portNumber) {
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  if (utility == nullptr) return FALSE;
  vov::GPSSettings& settings = utility->GPSSettings().Record();
  if (settings.receiverType != GPSTypeBlueTooth) return TRUE;

  std::vector<std::unique_ptr<IBluetoothDeviceObject, com::Releaser>> devices;
  FindAvailableBluetoothDevicesInternal(devices);
  if (devices.size() > static_cast<std::size_t>(kMaxBluetoothDevices)) devices.resize(kMaxBluetoothDevices);

  BOOL active = FALSE;
  for (const auto& device : devices) {
    if (device == nullptr) continue;
    com::Bstr name;
    BSTR got = nullptr;
    if (FAILED(device->GetName(&got))) continue;
    name.Reset(got);
    if (com::BstrView(name) != settings.receiverName) continue;
    SHORT devicePort = 0;
    if (SUCCEEDED(device->GetPortNumber(&devicePort)) && devicePort != portNumber) {
      portNumber = devicePort;
      settings.portNumber = devicePort;
      // The receiver stays usable when the file cannot be written; the
      // number is found again at the next start.
      (void)utility->SaveGPSSettings();
    }
    SHORT isActive = 0;
    active = SUCCEEDED(device->IsActive(&isActive)) && isActive != 0 ? TRUE : FALSE;
  }
  return active;
}

BOOL GPSCore::OpenSerialPort(HANDLE& handle, std::u16string_view portName, SHORT portNumber, DWORD baudRate) {
  if (IsValid(handle)) return TRUE;
  // "COM" and 4 give "COM4:", and 10 gives "COM10:".
  const std::u16string device = platform::FormatW(u"%s%d:", {portName, portNumber});
  HANDLE port = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (!IsValid(port)) return FALSE;

  // A port left at another rate reads noise, and one left with its default
  // time-outs would hold the tick until a whole chunk came: either way it is
  // of no use, so it is given back rather than reported open.
  DCB state{};
  COMMTIMEOUTS timeouts{};
  bool ready = GetCommState(port, &state) != FALSE;
  if (ready) {
    state.BaudRate = baudRate;
    ready = SetCommState(port, &state) != FALSE;
  }
  if (ready) ready = GetCommTimeouts(port, &timeouts) != FALSE;
  if (ready) {
    // A read returns at once with what is buffered, or after 1 ms when
    // nothing is, so a tick never waits for the receiver.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 1;
    ready = SetCommTimeouts(port, &timeouts) != FALSE;
  }
  if (!ready) {
    CloseHandle(port);
    return FALSE;
  }
  handle = port;
  return TRUE;
}

BOOL GPSCore::CloseGPSHandle(HANDLE& handle) {
  if (!IsValid(handle)) return FALSE;
  CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
  return TRUE;
}

void GPSCore::InitGPSPortState() {
  CloseGPSHandle(m_hSerial);
  CloseGPSHandle(m_hTalkingLights);
  CloseGPSHandle(m_hTrace);
  CloseGPSHandle(m_hRecording);
  ClearSentenceState();
  m_nFirstRmcCountdown = 2;
}

void GPSCore::ClearSentenceState() {
  m_serialSentence.fill(0);
  m_nSerialPosition = 0;
  m_bSerialInSentence = 0;
  m_traceSentence.fill(0);
  m_nTracePosition = 0;
  m_bTraceInSentence = 0;
  m_nSilenceCounter = 0;
  m_pendingAnnotation.clear();
}

// ---- polling ----------------------------------------------------------------------

BOOL GPSCore::PollGPSInput() {
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  if (utility == nullptr || utility->GPSSettings().Record().receiverType == GPSTypeNone) return FALSE;

  BOOL read = FALSE;
  if (IsValid(m_hSerial)) {
    if (ReadGPSInput(m_hSerial, m_serialSentence.data(), kSentenceCapacity, m_nSerialPosition, m_bSerialInSentence,
                     false, m_pGPS.get()))
      read = TRUE;
  }
  if (IsValid(m_hTrace)) {
    if (ReadGPSInput(m_hTrace, m_traceSentence.data(), kSentenceCapacity, m_nTracePosition, m_bTraceInSentence, true,
                     m_pGPS.get()))
      read = TRUE;
  }

  // Every good sentence sets the counter back to kSilencePolls; once it has
  // run out the fix is stale and is cleared at every poll until the receiver
  // speaks again. The moment it runs out after sentences were heard is told
  // once, not at every silent poll.
  if (m_nSilenceCounter > 0) {
    --m_nSilenceCounter;
    if (m_nSilenceCounter == 0) {
      OutputDebugStringW(kSilentMessage);
      Log(kSilentMessage);
    }
  } else {
    ResetGPSFix();
  }
  return read;
}

BOOL GPSCore::ReadGPSInput(HANDLE& handle, char* sentenceBuffer, DWORD capacity, DWORD& position, BYTE& inSentence,
                           bool isTrace, CGPSObject* gps) {
  int chunks = 0;
  bool ended = false;
  bool rmcCompleted = false;
  for (int attempt = 0; attempt < kMaxChunksPerTick; ++attempt) {
    // A trace replays one $GPRMC burst a tick, at the pace the receiver
    // would have sent it.
    if (isTrace && rmcCompleted) return TRUE;
    DWORD count = 0;
    if (!ReadFile(handle, m_readBuffer.data(), kChunkBytes, &count, nullptr)) count = 0;  // an error is no data
    if (count == 0) {
      ended = true;
      break;
    }
    count = std::min(count, kChunkBytes);
    ++chunks;
    m_readBuffer[count] = '\0';
    if (AssembleNMEASentences(m_readBuffer.data(), count, sentenceBuffer, capacity, position, inSentence, gps))
      rmcCompleted = true;
    if (isTrace) ExtractAnnotation(m_readBuffer.data(), count);
    AppendToRecording(m_hRecording, m_readBuffer.data(), count);
  }

  if (!isTrace && chunks == kMaxChunksPerTick) {
    // The receiver sends faster than a tick reads: drop the backlog rather
    // than fall further behind, and the sentence it cut through with it.
    OutputDebugStringW(kFloodMessage);
    Log(kFloodMessage);
    FlushFileBuffers(handle);
    if (capacity > 0) sentenceBuffer[0] = '\0';
    position = 0;
    // The next bytes come from the middle of some later sentence; they are
    // dropped up to its end rather than dispatched as one.
    inSentence = 0;
  }
  if (isTrace && ended) CloseGPSHandle(handle);
  return chunks > 0 ? TRUE : FALSE;
}

BOOL GPSCore::AssembleNMEASentences(const char* bytes, DWORD count, char* sentenceBuffer, DWORD capacity,
                                    DWORD& position, BYTE& inSentence, CGPSObject* gps) {
  if (bytes == nullptr || sentenceBuffer == nullptr || capacity == 0) return FALSE;
  if (position >= capacity) {
    position = 0;
    inSentence = 0;
  }
  BOOL rmc = FALSE;
  for (DWORD i = 0; i < count; ++i) {
    const char byte = bytes[i];
    if (byte != '\n') {
      // "$" starts a sentence wherever it comes; "L" (the lines a trace may
      // hold besides NMEA) only outside one, since the talkers of other
      // constellations ($GLRMC) and some sentences ($GPGLL) carry it.
      if (byte == '$' || (byte == 'L' && inSentence == 0)) {
        position = 0;
        inSentence = 1;
      }
    } else if (inSentence) {
      inSentence = 0;
      // The CR before the LF stays in the sentence; the dispatcher expects
      // it after the checksum. A sentence that filled the whole buffer has
      // no room for its terminator and is dropped as overlong.
      if (position < capacity) {
        sentenceBuffer[position] = '\0';
        if (DispatchNMEASentence(sentenceBuffer, gps)) rmc = TRUE;
      }
      position = 0;
    }
    if (position >= capacity) {
      inSentence = 0;
      position = 0;
    }
    // Bytes outside a sentence are kept too; the next start character
    // discards them.
    sentenceBuffer[position++] = byte;
  }
  return rmc;
}

// ---- annotations on replay --------------------------------------------------------

// The replayed bytes are searched as one stream: what a chunk ends with that
// may still become an annotation (a start tag and the text after it, or the
// first bytes of a start tag) is carried into the next chunk, so every block
// is told once wherever the chunk borders cut it. The carry is bounded: a
// start whose end tag has not come within the longest text is given up.
void GPSCore::ExtractAnnotation(const char* chunk, DWORD count) {
  if (chunk == nullptr) return;
  // Only a carried start is joined to the chunk; most chunks carry nothing
  // and are searched where they lie, without a copy.
  std::string data;
  data.swap(m_pendingAnnotation);
  std::string_view rest(chunk, count);
  if (!data.empty()) {
    data.append(chunk, count);
    rest = data;
  }
  for (;;) {
    const std::size_t start = rest.find(kAnnotationStart);
    if (start == std::string_view::npos) {
      // Keep the longest tail that could grow into a start tag ("<", "<A",
      // "<An", "<Ann").
      for (std::size_t keep = std::min(kAnnotationStart.size() - 1, rest.size()); keep > 0; --keep) {
        if (kAnnotationStart.starts_with(rest.substr(rest.size() - keep))) {
          m_pendingAnnotation.assign(rest.substr(rest.size() - keep));
          break;
        }
      }
      return;
    }
    const std::size_t textStart = start + kAnnotationStart.size();
    const std::size_t end = rest.find(kAnnotationEnd, textStart);
    if (end == std::string_view::npos) {
      if (rest.size() - start <= kMaxPendingAnnotation) {
        m_pendingAnnotation.assign(rest.substr(start));
        return;
      }
      // No end tag within reach: this start is given up, and the search goes
      // on after it.
      rest.remove_prefix(textStart);
      continue;
    }
    const std::size_t length = end - textStart;
    if (length > 0 && length <= kMaxAnnotationText)
      SimulationAnnotationReached(platform::Cp1252ToUtf16(rest.substr(textStart, length)));
    rest.remove_prefix(end + kAnnotationEnd.size());
  }
}

// ---- outside calls ----------------------------------------------------------------

HRESULT GPSCore::GPSExternalNmeaDataUpdate(BSTR text) {
  std::lock_guard<std::recursive_mutex> com(m_csCom);
  return com::Guarded([&] {
    const std::string bytes = platform::Utf16ToCp1252(com::BstrView(text));
    AppendToRecording(m_hRecording, bytes.data(), bytes.size());
    // Each call is cut on its own, with a sentence state of its own: a
    // sentence must lie whole inside one call, and a call never disturbs a
    // sentence the serial port is half-way through.
    std::array<char, kSentenceCapacity> sentence{};
    DWORD position = 0;
    BYTE inSentence = 0;
    AssembleNMEASentences(bytes.data(), static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD)),
                          sentence.data(), kSentenceCapacity, position, inSentence, m_pGPS.get());
    return S_OK;
  });
}

HRESULT GPSCore::GPSStartRecording(BSTR fileName) {
  std::lock_guard<std::recursive_mutex> com(m_csCom);
  return com::Guarded([&]() -> HRESULT {
    std::u16string name(com::BstrView(fileName));
    // Only a dot in the file's own name is an extension, not one in a folder.
    const std::size_t folderEnd = name.find_last_of(u"\\/");
    const std::size_t ownName = folderEnd == std::u16string::npos ? 0 : folderEnd + 1;
    if (name.find(u'.', ownName) == std::u16string::npos) name.append(u".trc");
    m_recordingFileName = name;
    // A recording already running is finished before the next begins, so
    // its handle is not lost.
    GPSStopRecording();
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!IsValid(file)) return E_FAIL;
    // A second recording under the same name goes on after the first.
    if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) {
      CloseHandle(file);
      return E_FAIL;
    }
    m_hRecording = file;
    return S_OK;
  });
}

HRESULT GPSCore::GPSStopRecording() {
  std::lock_guard<std::recursive_mutex> com(m_csCom);
  if (IsValid(m_hRecording)) FlushFileBuffers(m_hRecording);
  CloseGPSHandle(m_hRecording);
  return S_OK;
}

HRESULT GPSCore::GPSInsertAnnotationIntoRecording(BSTR text) {
  std::lock_guard<std::recursive_mutex> com(m_csCom);
  return com::Guarded([&] {
    if (!IsValid(m_hRecording)) return S_OK;
    // One byte per character; a replay raises nothing longer than this.
    const std::string bytes = platform::Utf16ToCp1252(com::BstrView(text));
    if (bytes.size() > static_cast<std::size_t>(kMaxAnnotationCharacters)) return S_OK;
    std::string block;
    block.reserve(kAnnotationBlockStart.size() + bytes.size() + kAnnotationBlockEnd.size());
    block.append(kAnnotationBlockStart).append(bytes).append(kAnnotationBlockEnd);
    AppendToRecording(m_hRecording, block.data(), block.size());
    return S_OK;
  });
}
