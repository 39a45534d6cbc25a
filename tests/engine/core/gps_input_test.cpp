// Tests of the receiver input: sentences cut from the byte stream, a receiver
// on a pseudo-terminal at the settings' port and rate, a flood that is
// purged, a receiver that goes silent, traces recorded and replayed with
// their annotations, and the source opened as the receiver settings say.
//
// Which sentences were dispatched is seen through the dispatcher itself: a
// sentence with a bad checksum comes back whole in its "CSUM ERROR" line on
// the debug output, and a good one sets the silence counter. Tests that rely
// on it skip while the dispatcher is not there yet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/EngineUtilities.h"
#include "engine/core/GPSCore.h"
#include "engine/core/Utility.h"
#include "platform/com/owners.h"
#include "platform/os/clock.h"
#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/platform/serial_port_names.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

// "$" + body + "*" + checksum + CR LF; `corrupt` gives a wrong checksum.
std::string Nmea(const std::string& body, bool corrupt = false) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  if (corrupt) sum ^= 0x5A;
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

// A burst as a receiver sends it once a second: position fix then time and
// place, at hh:mm:ss. The minutes of latitude carry the second so that every
// burst is a different place.
std::string Burst(int second) {
  char rmc[128];
  std::snprintf(rmc, sizeof rmc, "GPRMC,1205%02d.000,A,4807.%03d,N,01131.000,E,001.0,090.0,110326,,", second,
                100 + second);
  return Nmea("GPGGA,1205" + std::to_string(10 + second) + ".000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
         Nmea(rmc);
}

const std::string kGoodRmc = Nmea("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");

std::u16string CsumLine(const std::string& sentenceWithoutLf) {
  return u"\nCSUM ERROR:" + platform::Utf8ToUtf16(sentenceWithoutLf) + u"\n";
}

struct FixSnapshot {
  int hasFix = 0;
  int quality = 0;
  int hour = 0, minute = 0, second = 0;
  double latitude = 0.0, longitude = 0.0;
  bool operator==(const FixSnapshot&) const = default;
};

// A device root of its own with a settings folder and its debug folder, a
// fresh Utility with the receiver settings the test sets, a virtual clock,
// the debug output and raised annotations collected, and one engine object.
class ReceiverInput : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    platform::registry::ReloadFromDisk();
    fs::create_directories(root_ + "/CompactFlash/settings/Debug");
    vov::Utility::Release();
    vov::Utility::Instance()->SystemSettings().SetSettingsFolder(u"\\CompactFlash\\settings");
    vov::ResetDebugLogDecision();
    platform::SetClock(&clock_);
    platform::SetDebugOutputSink([this](const std::u16string& line) { debug_.push_back(line); });
    core_ = std::make_unique<GPSCore>();
    core_->m_annotationObserver = [this](const std::u16string& text) { annotations_.push_back(text); };
  }
  void TearDown() override {
    core_.reset();
    platform::SetDebugOutputSink({});
    platform::SetClock(nullptr);
    vov::Utility::Release();
    vov::ResetDebugLogDecision();
    platform::registry::ReloadFromDisk();
    platform::SetDeviceRoot("");
  }

  static vov::GPSSettings& Settings() { return vov::Utility::Instance()->GPSSettings().Record(); }

  int DebugCount(std::u16string_view text) const {
    int n = 0;
    for (const auto& line : debug_)
      if (line.find(text) != std::u16string::npos) ++n;
    return n;
  }
  std::vector<std::u16string> CsumLines() const {
    std::vector<std::u16string> lines;
    for (const auto& line : debug_)
      if (line.starts_with(u"\nCSUM ERROR:")) lines.push_back(line);
    return lines;
  }
  std::string LogText() const { return ReadHostFile("CompactFlash/settings/Debug/gpsDebug.txt"); }
  static int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  std::string ReadHostFile(const std::string& name) const {
    std::ifstream in(root_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteHostFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(root_ + "/" + name, std::ios::binary);
    out << bytes;
  }

  FixSnapshot Fix() const {
    FixSnapshot fix;
    if (core_->m_pGPS == nullptr) return fix;
    std::lock_guard<std::recursive_mutex> hold(core_->m_pGPS->Lock());
    const vov::GPSFix& f = core_->m_pGPS->Fix();
    fix.hasFix = f.hasFix;
    fix.quality = f.fixQuality;
    fix.hour = f.hour;
    fix.minute = f.minute;
    fix.second = f.second;
    core_->m_pGPS->Location()->GetLatitude(&fix.latitude);
    core_->m_pGPS->Location()->GetLongitude(&fix.longitude);
    return fix;
  }

  HRESULT External(const std::u16string& text) {
    com::Bstr bstr;
    bstr.Reset(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    return core_->GPSExternalNmeaDataUpdate(bstr);
  }
  HRESULT StartRecording(const std::u16string& name) {
    com::Bstr bstr;
    bstr.Reset(SysAllocStringLen(name.data(), static_cast<UINT>(name.size())));
    return core_->GPSStartRecording(bstr);
  }
  HRESULT Annotate(const std::u16string& text) {
    com::Bstr bstr;
    bstr.Reset(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    return core_->GPSInsertAnnotationIntoRecording(bstr);
  }

  // Feeds chunks through the assembler with the serial buffer, as a poll
  // would; true when some call reported a good $GPRMC.
  bool Assemble(const std::vector<std::string>& chunks) {
    bool rmc = false;
    for (const std::string& chunk : chunks)
      if (core_->AssembleNMEASentences(chunk.data(), static_cast<DWORD>(chunk.size()), core_->m_serialSentence.data(),
                                       GPSCore::kSentenceCapacity, core_->m_nSerialPosition,
                                       core_->m_bSerialInSentence, core_->m_pGPS.get()))
        rmc = true;
    return rmc;
  }

  testing_support::TempFolder folder_{"gps-input"};
  std::string root_;
  platform::VirtualClock clock_{SYSTEMTIME{2026, 3, 3, 11, 12, 0, 0, 0}};
  std::vector<std::u16string> debug_;
  std::vector<std::u16string> annotations_;
  std::unique_ptr<GPSCore> core_;
};

// ---- sentence assembly ------------------------------------------------------------

// Which sentences come out of a byte stream cut into chunks. Bad checksums
// make each dispatched sentence visible whole (with its CR) in the log.
TEST_F(ReceiverInput, SentencesAreCutFromTheStreamWhateverTheChunks) {
  const std::string a = Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", true);
  const std::string b = Nmea("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", true);
  const std::string aCr = a.substr(0, a.size() - 1);
  const std::string bCr = b.substr(0, b.size() - 1);
  // The talker of another constellation and a sentence with an "L" field.
  const std::string c = Nmea("GLGSA,A,3,65,66,,,,,,,,,,,2.5,1.3,2.1", true);
  const std::string d = Nmea("GPGLL,4807.038,N,01131.000,E", true);
  const std::string cCr = c.substr(0, c.size() - 1);
  const std::string dCr = d.substr(0, d.size() - 1);
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    std::vector<std::string> dispatched;
  };
  const Case cases[] = {
      {"two sentences in one chunk", {a + b}, {aCr, bCr}},
      {"split over two chunks", {a.substr(0, 20), a.substr(20) + b}, {aCr, bCr}},
      {"split before the LF", {a.substr(0, a.size() - 1), "\n"}, {aCr}},
      {"one byte at a time", {}, {aCr}},
      {"noise before the start is dropped", {"garbage,*12\r\n" + a}, {aCr}},
      {"a start inside a sentence restarts it", {"$GPGSA,A,3,0" + a}, {aCr}},
      {"L starts a sentence at the start of a line", {"xyz\nL1234*00\r\n"}, {"L1234*00\r"}},
      {"L inside a sentence is part of it", {c + d}, {cCr, dCr}},
      {"L after noise on a line starts a sentence", {"xyzL1234*00\r\n"}, {"L1234*00\r"}},
      {"an LF outside a sentence dispatches nothing", {"\r\n\n,,*00\r\n"}, {}},
      {"a sentence without its LF waits", {a.substr(0, a.size() - 1)}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    debug_.clear();
    core_->m_nSerialPosition = 0;
    core_->m_bSerialInSentence = 0;
    std::vector<std::string> chunks = c.chunks;
    if (chunks.empty())
      for (char byte : a) chunks.emplace_back(1, byte);
    EXPECT_FALSE(Assemble(chunks));
    std::vector<std::u16string> expected;
    for (const std::string& s : c.dispatched) expected.push_back(CsumLine(s));
    EXPECT_EQ(CsumLines(), expected);
  }
}

// A sentence fills at most the buffer less its terminator; a longer one is
// dropped, and the buffer is never written past its end (the buffer here is
// exactly its capacity, so the sanitizer sees one byte too many).
TEST_F(ReceiverInput, OverlongSentencesAreDroppedWithinTheBuffer) {
  const struct {
    std::size_t bytesBeforeLf;  // "$", filler, "*FF\r"
    bool dispatched;
  } cases[] = {{255, true}, {256, false}, {257, false}, {600, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytesBeforeLf);
    debug_.clear();
    const std::string sentence = "$" + std::string(c.bytesBeforeLf - 5, 'A') + "*FF\r";  // a bad checksum
    const std::string after = Nmea("GPGSA,A,1", true);
    const std::string stream = sentence + "\n" + after;
    auto buffer = std::make_unique<char[]>(GPSCore::kSentenceCapacity);
    DWORD position = 0;
    BYTE inSentence = 0;
    EXPECT_FALSE(core_->AssembleNMEASentences(stream.data(), static_cast<DWORD>(stream.size()), buffer.get(),
                                              GPSCore::kSentenceCapacity, position, inSentence, nullptr));
    std::vector<std::u16string> expected;
    if (c.dispatched) expected.push_back(CsumLine(sentence));
    expected.push_back(CsumLine(after.substr(0, after.size() - 1)));  // the next sentence is whole
    EXPECT_EQ(CsumLines(), expected);
  }
}

// Only a good $GPRMC counts; the silence counter is set by every good
// sentence and by nothing else.
TEST_F(ReceiverInput, AGoodRmcIsReportedAndGoodSentencesKeepTheReceiverAlive) {
  const struct {
    std::string stream;
    bool rmc;
    SHORT silence;
  } cases[] = {
      {kGoodRmc, true, 7},
      {Nmea("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), false, 7},
      {Nmea("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", true), false, 0},
      {kGoodRmc.substr(0, kGoodRmc.size() - 1), false, 0},  // no LF yet
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stream);
    core_->m_nSilenceCounter = 0;
    core_->m_nSerialPosition = 0;
    core_->m_bSerialInSentence = 0;
    EXPECT_EQ(Assemble({c.stream}), c.rmc);
    EXPECT_EQ(core_->m_nSilenceCounter, c.silence);
  }
}

// A sentence given whole in one call is dispatched; halves given in two calls
// are lost, and a call leaves the serial port's sentence alone.
TEST_F(ReceiverInput, ExternalTextIsCutPerCall) {
  const std::string bad = Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", true);
  const std::u16string wide = platform::Utf8ToUtf16(bad);

  EXPECT_EQ(External(wide), S_OK);
  EXPECT_EQ(CsumLines(), std::vector<std::u16string>{CsumLine(bad.substr(0, bad.size() - 1))});

  debug_.clear();
  EXPECT_EQ(External(wide.substr(0, 15)), S_OK);
  EXPECT_EQ(External(wide.substr(15)), S_OK);
  EXPECT_TRUE(CsumLines().empty());

  // The serial port is half-way through a sentence when text comes in.
  debug_.clear();
  ASSERT_FALSE(Assemble({bad.substr(0, 12)}));
  EXPECT_EQ(External(wide), S_OK);
  ASSERT_FALSE(Assemble({bad.substr(12)}));
  EXPECT_EQ(CsumLines().size(), 2u);

  core_->m_nSilenceCounter = 0;
  EXPECT_EQ(External(platform::Utf8ToUtf16(kGoodRmc)), S_OK);
  EXPECT_EQ(core_->m_nSilenceCounter, 7);
  EXPECT_EQ(core_->GPSExternalNmeaDataUpdate(nullptr), S_OK);
}

// ---- annotations on replay --------------------------------------------------------

// Annotations found in replayed chunks, whole or cut at a chunk border: each
// is told once wherever the border falls, and what is carried between chunks
// stays bounded.
TEST_F(ReceiverInput, AnnotationsAreRaisedOnceWhereverChunkBordersCutThem) {
  const std::string x100(100, 'x');
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    std::vector<std::u16string> raised;
  };
  const Case cases[] = {
      {"whole in one chunk", {"$GP*00\r\n\n\n<Ann>Turn left</Ann>\n\n$GP"}, {u"Turn left"}},
      {"cut inside the text", {"\n\n<Ann>Turn", " left</Ann>\n\n"}, {u"Turn left"}},
      {"cut right after the start tag", {"\n\n<Ann>", "Turn left</Ann>\n\n"}, {u"Turn left"}},
      {"cut after <", {"$GP*00\r\n\n\n<", "Ann>Turn left</Ann>"}, {u"Turn left"}},
      {"cut after <A", {"\n\n<A", "nn>Turn left</Ann>"}, {u"Turn left"}},
      {"cut after <An", {"\n\n<An", "n>Turn left</Ann>"}, {u"Turn left"}},
      {"cut after <Ann", {"\n\n<Ann", ">Turn left</Ann>"}, {u"Turn left"}},
      {"cut inside the end tag", {"<Ann>Turn left</An", "n>\n\n"}, {u"Turn left"}},
      {"over three chunks", {"<Ann>Turn ", "left at the", " corner</Ann>"}, {u"Turn left at the corner"}},
      {"an earlier < before a cut tag", {"a<b\n\n<A", "nn>Turn left</Ann>"}, {u"Turn left"}},
      {"an end without a start", {"left</Ann>\n\n"}, {}},
      {"empty", {"<Ann></Ann>", "<Ann>", "</Ann>"}, {}},
      {"joined 199 bytes", {"<Ann>" + x100, std::string(94, 'x') + "</Ann>"}, {std::u16string(194, u'x')}},
      {"joined 200 bytes", {"<Ann>" + x100, std::string(95, 'x') + "</Ann>"}, {}},
      {"raised once", {"<Ann>Turn", " left</Ann>", "</Ann>", "no tags"}, {u"Turn left"}},
      {"two in turn", {"<Ann>one</Ann>", "<Ann>tw", "o</Ann>", "<Ann>three</Ann>"}, {u"one", u"two", u"three"}},
      {"Windows-1252 text", {"<Ann>Caf\xE9 \x80 5</Ann>"}, {u"Caf\u00E9 \u20AC 5"}},
      {"two in one chunk", {"<Ann>one</Ann>\n\n$GP\n\n<Ann>two</Ann>"}, {u"one", u"two"}},
      {"a start without an end is given up", {"<Ann>" + x100, x100 + x100, "<Ann>next</Ann>"}, {u"next"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    annotations_.clear();
    core_->m_pendingAnnotation.clear();
    for (const std::string& chunk : c.chunks) core_->ExtractAnnotation(chunk.c_str(), static_cast<DWORD>(chunk.size()));
    EXPECT_EQ(annotations_, c.raised);
    EXPECT_LE(core_->m_pendingAnnotation.size(), 204u);
  }
}

// ---- the source -------------------------------------------------------------------

TEST_F(ReceiverInput, SourcesOpenAsTheSettingsSay) {
  WriteHostFile("walk.TRC", Burst(1));
  struct Case {
    const char* what;
    GPSType type;
    std::u16string file;
    BOOL opened;
    bool trace;
    DWORD waitedMs;  // on the virtual clock
  };
  const Case cases[] = {
      {"no receiver", GPSTypeNone, u"", TRUE, false, 0},
      {"a trace", GPSTypeSimulated, u"\\walk.trc", TRUE, true, 0},
      {"a missing trace", GPSTypeSimulated, u"\\gone.trc", FALSE, false, 0},
      {"a port with no device: one retry", GPSTypeSerial, u"", FALSE, false, 2000},
      {"another port type", GPSTypeCompactFlash, u"", FALSE, false, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    core_->InitGPSPortState();
    Settings().receiverType = c.type;
    Settings().simulatedGPSFile = c.file;
    Settings().portName = u"COM";
    Settings().portNumber = 7;
    Settings().lastLatitude = 48.5;
    Settings().lastLongitude = -11.25;
    const DWORD before = GetTickCount();
    EXPECT_EQ(core_->StartGPSReceiver(2), c.opened);
    EXPECT_EQ(GetTickCount() - before, c.waitedMs);
    EXPECT_EQ(core_->m_hTrace != INVALID_HANDLE_VALUE, c.trace);
    EXPECT_EQ(core_->m_hSerial, INVALID_HANDLE_VALUE);
    EXPECT_EQ(core_->m_nFirstRmcCountdown, 2);
    // The last known position, whatever the outcome.
    ASSERT_NE(core_->m_pGPS, nullptr);
    EXPECT_EQ(Fix().latitude, 48.5);
    EXPECT_EQ(Fix().longitude, -11.25);
    // The parser follows the receiver's kind.
    EXPECT_EQ(core_->m_eReceiverType, c.type);
  }

  // Opening again closes the trace first and gives it a second to go; the
  // heading rule of the settings comes with it.
  Settings().headingAveragingMode = BigCityHeadings;
  Settings().receiverType = GPSTypeSimulated;
  Settings().simulatedGPSFile = u"walk.trc";
  ASSERT_TRUE(core_->OpenGPSSource(0));
  core_->m_nSilenceCounter = 5;
  core_->m_nTracePosition = 9;
  const DWORD before = GetTickCount();
  EXPECT_TRUE(core_->OpenGPSSource(0));
  EXPECT_EQ(GetTickCount() - before, 1000u);
  EXPECT_EQ(core_->m_nFirstRmcCountdown, 0);
  EXPECT_EQ(core_->m_nSilenceCounter, 0);
  EXPECT_EQ(core_->m_nTracePosition, 0u);
  EXPECT_EQ(core_->m_eHeadingAveragingMode, BigCityHeadings);

  // Without receiver settings nothing is opened and the handles close.
  vov::Utility::Release();
  EXPECT_TRUE(core_->StartGPSReceiver(2));
  EXPECT_EQ(core_->m_hTrace, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(core_->OpenGPSSource(2));
  EXPECT_FALSE(core_->PollGPSInput());
}

// A Bluetooth receiver is found by its paired device's name; with none of
// that name nothing is opened and nothing already open is closed.
TEST_F(ReceiverInput, ABluetoothReceiverWithoutItsDeviceOpensNothing) {
  WriteHostFile("walk.trc", Burst(1));
  Settings().receiverType = GPSTypeSimulated;
  Settings().simulatedGPSFile = u"walk.trc";
  ASSERT_TRUE(core_->StartGPSReceiver(2));
  const HANDLE trace = core_->m_hTrace;
  Settings().receiverType = GPSTypeBlueTooth;
  Settings().receiverName = u"No Such Receiver 12";
  const DWORD before = GetTickCount();
  EXPECT_FALSE(core_->OpenGPSSource(0));
  EXPECT_EQ(core_->m_hTrace, trace);
  EXPECT_EQ(core_->m_nFirstRmcCountdown, 2);
  EXPECT_EQ(GetTickCount(), before);
  SHORT port = 3;
  EXPECT_FALSE(core_->EnumerateGPSPorts(port));
  EXPECT_EQ(port, 3);
}

TEST_F(ReceiverInput, HandlesCloseOnce) {
  WriteHostFile("walk.trc", "x");
  HANDLE handle = CreateFileW(u"walk.trc", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(GPSCore::CloseGPSHandle(handle));
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(GPSCore::CloseGPSHandle(handle));
}

// ---- silence ------------------------------------------------------------------------

// The fix stands for six polls after the last good sentence and is cleared
// at the seventh and every poll after; the silence is told once.
TEST_F(ReceiverInput, ASilentReceiverLosesItsFixAtTheSeventhPollAndIsToldOnce) {
  WriteHostFile("empty.trc", "");
  Settings().receiverType = GPSTypeSimulated;
  Settings().simulatedGPSFile = u"empty.trc";
  ASSERT_TRUE(core_->StartGPSReceiver(2));
  auto giveFix = [this] {
    std::lock_guard<std::recursive_mutex> hold(core_->m_pGPS->Lock());
    core_->m_pGPS->Fix().hasFix = 1;
    core_->m_pGPS->Fix().fixQuality = GPSQualityGood;
  };

  // Never heard: the fix is cleared at every poll, and nothing is told.
  giveFix();
  EXPECT_FALSE(core_->PollGPSInput());
  EXPECT_EQ(Fix().hasFix, 0);
  EXPECT_EQ(core_->m_hTrace, INVALID_HANDLE_VALUE);  // the empty trace has ended

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    // The poll that read the last good sentence.
    core_->m_nSilenceCounter = GPSCore::kSilencePolls;
    giveFix();
    core_->PollGPSInput();
    for (int poll = 1; poll <= 6; ++poll) {
      core_->PollGPSInput();
      EXPECT_EQ(Fix().hasFix, 1) << poll;
      EXPECT_EQ(DebugCount(u"GPS receiver silent"), poll < 6 ? round - 1 : round) << poll;
    }
    core_->PollGPSInput();
    EXPECT_EQ(Fix().hasFix, 0);
    EXPECT_EQ(Fix().quality, GPSQualityNoGPS);
    for (int poll = 8; poll <= 12; ++poll) {
      giveFix();
      core_->PollGPSInput();
      EXPECT_EQ(Fix().hasFix, 0);
    }
    EXPECT_EQ(DebugCount(u"GPS receiver silent"), round);
    EXPECT_EQ(Occurrences(LogText(), "GPS receiver silent\n"), round);
  }

  // No receiver: the counter is not touched.
  Settings().receiverType = GPSTypeNone;
  core_->m_nSilenceCounter = 3;
  EXPECT_FALSE(core_->PollGPSInput());
  EXPECT_EQ(core_->m_nSilenceCounter, 3);
}

// ---- a receiver on a serial port ----------------------------------------------------

class ReceiverOnPort : public ReceiverInput {
 protected:
  void SetUp() override {
    ReceiverInput::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    MapPort(u"COM4:", ::ttyname(slave_));
    MapPort(u"COM10:", ::ttyname(slave_));
    MapPort(u"COM1:", root_ + "/no-such-device");
  }
  void TearDown() override {
    core_.reset();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    ReceiverInput::TearDown();
  }

  static void MapPort(const std::u16string& name, const std::string& device) {
    testing_support::MapSerialPort(name, device);
  }

  void UsePort(SHORT number, LONG baudRate) {
    Settings().receiverType = GPSTypeSerial;
    Settings().portName = u"COM";
    Settings().portNumber = number;
    Settings().baudRate = baudRate;
  }

  // Sends bytes from the receiver and waits (in real time: the kernel hands
  // them on) until the port holds at least `held` bytes. The wait is bounded
  // by a minute, which only a port that lost the bytes runs out of.
  void Send(const std::string& bytes, std::size_t held) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
    const auto start = std::chrono::steady_clock::now();
    int pending = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
      ASSERT_EQ(::ioctl(slave_, FIONREAD, &pending), 0);
      if (static_cast<std::size_t>(pending) >= held) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FAIL() << "the port holds " << pending << " bytes";
  }
  void Send(const std::string& bytes) { Send(bytes, bytes.size()); }

  int master_ = -1;
  int slave_ = -1;
};

// The port named by the settings opens at their baud rate; what it delivers
// is read in one poll, dispatched and recorded.
TEST_F(ReceiverOnPort, AReceiverIsReadAtTheSettingsPortAndRate) {
  const struct {
    SHORT port;
    LONG baud;
    speed_t speed;
  } cases[] = {{4, 4800, B4800}, {10, 38400, B38400}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    core_->InitGPSPortState();
    core_->m_pGPS.reset();
    UsePort(c.port, c.baud);
    ASSERT_TRUE(core_->StartGPSReceiver(2));
    ASSERT_NE(core_->m_hSerial, INVALID_HANDLE_VALUE);
    termios settings{};
    ASSERT_EQ(::tcgetattr(slave_, &settings), 0);
    EXPECT_EQ(::cfgetispeed(&settings), c.speed);
    EXPECT_EQ(::cfgetospeed(&settings), c.speed);

    ASSERT_EQ(StartRecording(u"port" + std::u16string(1, static_cast<char16_t>(u'0' + c.port % 10))), S_OK);
    const std::string sent = Burst(7) + Burst(8);
    Send(sent);
    EXPECT_TRUE(core_->PollGPSInput());
    EXPECT_EQ(core_->m_nSilenceCounter, 6);  // set by the sentences, then one poll
    EXPECT_EQ(Fix().second, 8);
    EXPECT_EQ(core_->m_nFirstRmcCountdown, 0);
    EXPECT_FALSE(core_->PollGPSInput());  // nothing more came
    EXPECT_EQ(core_->GPSStopRecording(), S_OK);
    EXPECT_EQ(ReadHostFile("port" + std::to_string(c.port % 10) + ".trc"), sent);
  }
}

// The port "COM1:" exists but has no device: "COM10:" is not taken for it.
TEST_F(ReceiverOnPort, PortTenIsItsOwnPort) {
  UsePort(1, 4800);
  EXPECT_FALSE(core_->StartGPSReceiver(2));
  UsePort(10, 4800);
  EXPECT_TRUE(core_->StartGPSReceiver(2));
  EXPECT_NE(core_->m_hSerial, INVALID_HANDLE_VALUE);
  // An open port is kept as it is when opened again.
  const HANDLE port = core_->m_hSerial;
  EXPECT_TRUE(core_->OpenSerialPort(core_->m_hSerial, u"COM", 1, 4800));
  EXPECT_EQ(core_->m_hSerial, port);
}

// A rate the port cannot take leaves it closed rather than reading noise.
TEST_F(ReceiverOnPort, ARateThePortCannotTakeOpensNothing) {
  UsePort(4, 4801);
  const DWORD before = GetTickCount();
  EXPECT_FALSE(core_->StartGPSReceiver(2));
  EXPECT_EQ(core_->m_hSerial, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetTickCount() - before, 2000u);
  // The device was given back: it opens again at once.
  UsePort(4, 9600);
  EXPECT_TRUE(core_->StartGPSReceiver(2));
}

// The Talking Lights port is opened by itself and not polled.
TEST_F(ReceiverOnPort, TheTalkingLightsPortOpensAlone) {
  UsePort(4, 4800);
  Settings().receiverType = GPSTypeTalkingLights;
  core_->m_nSilenceCounter = 4;
  EXPECT_TRUE(core_->StartGPSReceiver(0));
  EXPECT_NE(core_->m_hTalkingLights, INVALID_HANDLE_VALUE);
  EXPECT_EQ(core_->m_hSerial, INVALID_HANDLE_VALUE);
  EXPECT_EQ(core_->m_nSilenceCounter, 4);
  Send(kGoodRmc);
  EXPECT_FALSE(core_->PollGPSInput());
}

// Six chunks in one poll: the rest of the input is discarded with the
// sentence it cut through; what the receiver sends next is read whole. Then
// the receiver falls silent: its fix goes at the seventh poll, told once. At
// both rates receivers of today use.
TEST_F(ReceiverOnPort, AFloodIsPurgedAndASilenceClearsTheFix) {
  for (const LONG baud : {4800L, 38400L}) {
    SCOPED_TRACE(baud);
    debug_.clear();
    core_ = std::make_unique<GPSCore>();
    UsePort(4, baud);
    ASSERT_TRUE(core_->StartGPSReceiver(0));
    const std::string bad = Nmea("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", true);
    std::string flood;
    while (flood.size() < 3000) flood += bad;
    const std::size_t read = 6 * GPSCore::kChunkBytes;
    Send(flood, read + 1);
    EXPECT_TRUE(core_->PollGPSInput());
    EXPECT_EQ(DebugCount(u"Max attempts to read COMM port.  FlushFileBuffers"), 1);
    EXPECT_EQ(core_->m_nSerialPosition, 0u);
    const std::size_t whole = read / bad.size();  // sentences complete in what was read
    EXPECT_EQ(CsumLines().size(), whole);

    // Purged: the next poll finds nothing, though far more was sent.
    EXPECT_FALSE(core_->PollGPSInput());

    // The rest of the sentence that was cut comes first; it is not a sentence.
    debug_.clear();
    core_->m_nSilenceCounter = 0;
    Send(bad.substr(20) + kGoodRmc);
    EXPECT_TRUE(core_->PollGPSInput());
    EXPECT_EQ(DebugCount(u"Max attempts"), 0);
    EXPECT_TRUE(CsumLines().empty());
    EXPECT_EQ(core_->m_nSilenceCounter, 6);
    EXPECT_EQ(Fix().hasFix, 1);

    // Silence: nothing more comes. The fix holds six polls and goes at the
    // seventh after the poll that read the last sentence.
    for (int poll = 1; poll <= 6; ++poll) {
      EXPECT_FALSE(core_->PollGPSInput());
      EXPECT_EQ(Fix().hasFix, 1) << poll;
    }
    EXPECT_FALSE(core_->PollGPSInput());
    EXPECT_EQ(Fix().hasFix, 0);
    EXPECT_EQ(Fix().quality, GPSQualityNoGPS);
    EXPECT_FALSE(core_->PollGPSInput());
    EXPECT_EQ(DebugCount(u"GPS receiver silent"), 1);
  }
  EXPECT_EQ(Occurrences(LogText(), "Max attempts to read COMM port.  FlushFileBuffers\n"), 2);
}

// A receiver that only sends bad checksums is as good as silent.
TEST_F(ReceiverOnPort, BadChecksumsCountAsSilence) {
  UsePort(4, 4800);
  ASSERT_TRUE(core_->StartGPSReceiver(0));
  Send(kGoodRmc);
  core_->PollGPSInput();
  ASSERT_EQ(Fix().hasFix, 1);
  for (int poll = 1; poll <= 6; ++poll) {
    Send(Nmea("GPRMC,123520,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", true));
    EXPECT_TRUE(core_->PollGPSInput());
    EXPECT_EQ(Fix().hasFix, 1) << poll;
  }
  Send(Nmea("GPRMC,123521,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", true));
  core_->PollGPSInput();
  EXPECT_EQ(Fix().hasFix, 0);
  EXPECT_EQ(DebugCount(u"GPS receiver silent"), 1);
}

// ---- recording and replay -----------------------------------------------------------

TEST_F(ReceiverInput, RecordingsAreNamedAndAppended) {
  fs::create_directories(root_ + "/Storage Card");
  fs::create_directories(root_ + "/Trips.2024");
  // A name without an extension of its own gets ".trc"; a dot in a folder
  // of the path is no extension.
  const struct {
    std::u16string name;
    std::u16string recorded;
    std::string file;
  } cases[] = {
      {u"walk", u"walk.trc", "walk.trc"},
      {u"route.TRC", u"route.TRC", "route.TRC"},
      {u"home.", u"home.", "home."},
      {u"\\Storage Card\\to work", u"\\Storage Card\\to work.trc", "Storage Card/to work.trc"},
      {u"\\Trips.2024\\walk", u"\\Trips.2024\\walk.trc", "Trips.2024/walk.trc"},
      {u"\\Trips.2024\\walk.nmea", u"\\Trips.2024\\walk.nmea", "Trips.2024/walk.nmea"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    for (const char* text : {"first\n", "second\n"}) {
      ASSERT_EQ(StartRecording(c.name), S_OK);
      EXPECT_EQ(core_->m_recordingFileName, c.recorded);
      ASSERT_EQ(External(platform::Utf8ToUtf16(text)), S_OK);
      ASSERT_EQ(core_->GPSStopRecording(), S_OK);
    }
    EXPECT_EQ(ReadHostFile(c.file), "first\nsecond\n");
  }

  EXPECT_EQ(StartRecording(u"\\No Such Folder\\walk"), E_FAIL);
  EXPECT_EQ(core_->m_hRecording, INVALID_HANDLE_VALUE);
  EXPECT_EQ(core_->GPSStopRecording(), S_OK);

  // Starting again while recording finishes the first file.
  ASSERT_EQ(StartRecording(u"one"), S_OK);
  ASSERT_EQ(External(u"a"), S_OK);
  ASSERT_EQ(StartRecording(u"two"), S_OK);
  ASSERT_EQ(External(u"b"), S_OK);
  ASSERT_EQ(core_->GPSStopRecording(), S_OK);
  EXPECT_EQ(ReadHostFile("one.trc"), "a");
  EXPECT_EQ(ReadHostFile("two.trc"), "b");
}

TEST_F(ReceiverInput, AnnotationsAreWrittenAsBlocksOfAtMost190Characters) {
  EXPECT_EQ(Annotate(u"not recording"), S_OK);
  ASSERT_EQ(StartRecording(u"notes"), S_OK);
  const std::u16string limit(190, u'a');
  const struct {
    std::u16string text;
    std::string written;
  } cases[] = {
      {u"Turn left", "\n\n<Ann>Turn left</Ann>\n\n"},
      {u"Caf\u00E9 \u20AC \u4E2D \U0001F600", "\n\n<Ann>Caf\xE9 \x80 ? ?</Ann>\n\n"},
      {limit, "\n\n<Ann>" + std::string(190, 'a') + "</Ann>\n\n"},
      {limit + u"a", ""},
      {u"", "\n\n<Ann></Ann>\n\n"},
  };
  std::string expected;
  for (const auto& c : cases) {
    EXPECT_EQ(Annotate(c.text), S_OK);
    expected += c.written;
  }
  ASSERT_EQ(core_->GPSStopRecording(), S_OK);
  EXPECT_EQ(ReadHostFile("notes.trc"), expected);
}

// What is recorded replays as it came: the same bytes when the replay is
// recorded in turn, the same annotations in order, and the same fixes. The
// replay reads one $GPRMC burst a poll and the trace closes at its end.
TEST_F(ReceiverInput, ARecordingReplaysAsItWasRecorded) {
  ASSERT_EQ(StartRecording(u"walk"), S_OK);
  std::vector<FixSnapshot> recordedFixes;
  std::vector<std::u16string> notes;
  core_->m_pGPS.reset();
  Settings().receiverType = GPSTypeExternal;
  Settings().portNumber = 99;  // no port: the fix object is made all the same
  ASSERT_FALSE(core_->StartGPSReceiver(0));
  ASSERT_NE(core_->m_pGPS, nullptr);
  for (int second = 0; second < 12; ++second) {
    ASSERT_EQ(External(platform::Utf8ToUtf16(Burst(second))), S_OK);
    recordedFixes.push_back(Fix());
    if (second % 3 == 1) {
      // Lengths chosen so that two of the four blocks are cut inside their
      // text by a chunk border (checked below), which still raises them.
      std::u16string note = u"Note " + platform::Utf8ToUtf16(std::to_string(second)) +
                            std::u16string(static_cast<std::size_t>(second * 9), u'-') + u" near the caf\u00E9";
      ASSERT_EQ(Annotate(note), S_OK);
      notes.push_back(note);
    }
  }
  ASSERT_EQ(core_->GPSStopRecording(), S_OK);
  const std::string recorded = ReadHostFile("walk.trc");
  int cut = 0;
  for (std::size_t at = recorded.find("<Ann>"); at != std::string::npos; at = recorded.find("<Ann>", at + 1)) {
    const std::size_t end = recorded.find("</Ann>", at);
    if (at / GPSCore::kChunkBytes != (end + 5) / GPSCore::kChunkBytes) ++cut;
  }
  ASSERT_EQ(cut, 2);

  Settings().receiverType = GPSTypeSimulated;
  Settings().simulatedGPSFile = u"walk.trc";
  ASSERT_TRUE(core_->StartGPSReceiver(0));
  ASSERT_EQ(StartRecording(u"again"), S_OK);
  std::vector<FixSnapshot> replayedFixes;
  int polls = 0;
  while (core_->m_hTrace != INVALID_HANDLE_VALUE && polls < 100) {
    core_->PollGPSInput();
    ++polls;
    if (core_->m_hTrace != INVALID_HANDLE_VALUE) replayedFixes.push_back(Fix());
  }
  ASSERT_EQ(core_->GPSStopRecording(), S_OK);
  EXPECT_EQ(ReadHostFile("again.trc"), recorded);
  EXPECT_EQ(annotations_, notes);
  const std::size_t chunks = (recorded.size() + GPSCore::kChunkBytes - 1) / GPSCore::kChunkBytes;
  // One burst a poll: each poll stops after the chunk that completed a
  // $GPRMC, so the fix moves on by one burst (or two, when one chunk held
  // the ends of two) and never skips back.
  ASSERT_FALSE(replayedFixes.empty());
  EXPECT_EQ(replayedFixes.back(), recordedFixes.back());
  std::size_t at = 0;
  for (const FixSnapshot& fix : replayedFixes) {
    while (at < recordedFixes.size() && !(recordedFixes[at] == fix)) ++at;
    EXPECT_LT(at, recordedFixes.size()) << "a replayed fix that was never recorded";
  }
  EXPECT_GE(replayedFixes.size(), recordedFixes.size() / 2);
  // The polls a replay takes, counted from where the $GPRMC lines end: a
  // poll reads until a chunk completes one, six chunks, or the end.
  std::vector<bool> completesRmc(chunks + 1, false);
  for (std::size_t at = recorded.find("$GPRMC"); at != std::string::npos; at = recorded.find("$GPRMC", at + 1))
    completesRmc[recorded.find('\n', at) / GPSCore::kChunkBytes] = true;
  int expectedPolls = 0;
  std::size_t chunk = 0;  // reads in turn; read number `chunks` finds the end
  while (chunk <= chunks) {
    ++expectedPolls;
    for (int read = 0; read < GPSCore::kMaxChunksPerTick && chunk <= chunks; ++read)
      if (completesRmc[chunk++]) break;
  }
  EXPECT_EQ(polls, expectedPolls);
  EXPECT_GT(polls, static_cast<int>((chunks + 1 + 5) / 6));
}

// ---- the engine's lock --------------------------------------------------------------

// The outside calls wait for the engine's lock, so they never run inside a
// tick.
TEST_F(ReceiverInput, OutsideCallsTakeTheEnginesLock) {
  const struct {
    const char* what;
    std::function<HRESULT()> call;
  } calls[] = {
      {"external", [this] { return External(u"$GPGSA\r\n"); }},
      {"start", [this] { return StartRecording(u"locked"); }},
      {"annotate", [this] { return Annotate(u"x"); }},
      {"stop", [this] { return core_->GPSStopRecording(); }},
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(c.what);
    std::unique_lock<std::recursive_mutex> tick(core_->m_csCom);
    auto done = std::async(std::launch::async, c.call);
    EXPECT_EQ(done.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    tick.unlock();
    EXPECT_EQ(done.get(), S_OK);
  }
}

}  // namespace
