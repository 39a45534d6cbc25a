// Tests of serial ports: a pseudo-terminal pair stands for the receiver, its
// slave registered as the port's device and its master sending NMEA bytes.
// Port names and their devices, the raw exclusive open, baud rates read back
// on the device, time-outs, reads bounded by the caller and by the time-outs,
// discarding a flood, and a receiver that goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/registry.h"
#include "platform/os/serial.h"
#include "platform/os/text.h"
#include "tests/platform/serial_port_names.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kSentence[] = "$GPRMC,123519,A,5333.000,N,01315.000,E,002.1,084.4,230394,003.1,W*6A\r\n";
// The engine reads in chunks of this many bytes.
constexpr DWORD kChunk = 199;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Closes a port handle when it goes, unless the test closed it.
class Port {
 public:
  explicit Port(HANDLE handle) : handle_(handle) {}
  ~Port() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  HANDLE get() const { return handle_; }
  BOOL Close() {
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

HANDLE OpenAsTheEngine(const char16_t* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The engine's set-up of an open port: its baud rate, then reads that return
// at once with what is buffered, or after 1 ms when nothing is.
bool SetUpAsTheEngine(HANDLE port, DWORD baudRate) {
  DCB state{};
  if (!GetCommState(port, &state)) return false;
  state.BaudRate = baudRate;
  if (!SetCommState(port, &state)) return false;
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(port, &timeouts)) return false;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = 1;
  return SetCommTimeouts(port, &timeouts) != FALSE;
}

// Reads chunks until `bytes` came: the pseudo-terminal hands bytes on through
// a kernel worker, so they may come a little late. A minute without them
// only ends a test whose bytes are truly lost.
std::string ReadAtLeast(HANDLE port, std::size_t bytes) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char chunk[kChunk];
  while (got.size() < bytes && MillisecondsSince(start) < 60000) {
    DWORD n = 0;
    if (!ReadFile(port, chunk, sizeof chunk, &n, nullptr)) break;
    got.append(chunk, n);
  }
  return got;
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<std::size_t>(n);
  }
}

// A fresh device root, its registry forgotten before and after, and a
// receiver on a pseudo-terminal registered as "COM4:". The test keeps the
// slave side open too, to look at the device's settings.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    platform::registry::ReloadFromDisk();
    ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    slavePath_ = ::ttyname(slave_);
    MapPort(u"COM4:", slavePath_);
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
    ::close(slave_);
    platform::registry::ReloadFromDisk();
    platform::SetDeviceRoot("");
  }

  static void MapPort(const std::u16string& name, const std::string& device) {
    testing_support::MapSerialPort(name, device);
  }

  // Reads one chunk on a thread of its own and gives the milliseconds it
  // took. A read that should end on its own but is still waiting after a
  // minute waits for bytes without limit: the test fails, and a line sent
  // from the receiver lets that read end.
  struct TimedRead {
    BOOL ok = FALSE;
    DWORD bytes = 0;
    long long ms = 0;
  };
  TimedRead ReadOnce(HANDLE port) {
    auto read = std::async(std::launch::async, [port] {
      char chunk[kChunk];
      TimedRead r;
      const Clock::time_point start = Clock::now();
      r.ok = ReadFile(port, chunk, sizeof chunk, &r.bytes, nullptr);
      r.ms = MillisecondsSince(start);
      return r;
    });
    if (read.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      ADD_FAILURE() << "the read still waits after a minute";
      if (master_ >= 0) WriteAll(master_, kSentence);
    }
    return read.get();
  }

  termios DeviceSettings() const {
    termios settings{};
    EXPECT_EQ(::tcgetattr(slave_, &settings), 0);
    return settings;
  }
  int ExclusiveFlag() const {
    int exclusive = -1;
    EXPECT_EQ(::ioctl(slave_, TIOCGEXCL, &exclusive), 0);
    return exclusive;
  }

  testing_support::TempFolder folder_{"serial"};
  std::string root_;
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

TEST_F(SerialPortTest, OpensRawAtTheEnginesRatesAndCarriesBytesBothWays) {
  Port port(OpenAsTheEngine(u"COM4:"));
  ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);

  const termios raw = DeviceSettings();
  EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(raw.c_iflag & (ICRNL | IXON | IXOFF), 0u);
  EXPECT_EQ(raw.c_oflag & OPOST, 0u);
  EXPECT_EQ(raw.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(ExclusiveFlag(), 1);

  const struct {
    DWORD baudRate;
    speed_t speed;
  } rates[] = {{4800, B4800}, {38400, B38400}, {115200, B115200}, {9600, B9600}};
  for (const auto& rate : rates) {
    SCOPED_TRACE(rate.baudRate);
    ASSERT_TRUE(SetUpAsTheEngine(port.get(), rate.baudRate));
    DCB state{};
    ASSERT_TRUE(GetCommState(port.get(), &state));
    EXPECT_EQ(state.DCBlength, sizeof(DCB));
    EXPECT_EQ(state.BaudRate, rate.baudRate);
    EXPECT_EQ(state.ByteSize, 8);
    const termios settings = DeviceSettings();
    EXPECT_EQ(::cfgetispeed(&settings), rate.speed);
    EXPECT_EQ(::cfgetospeed(&settings), rate.speed);
  }
  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(GetCommTimeouts(port.get(), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, MAXDWORD);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);

  // Two sentences, bytes the terminal would otherwise translate among them.
  const std::string sent = std::string(kSentence) + "\x11\x13\x7f\x03" + kSentence;
  WriteAll(master_, sent);
  EXPECT_EQ(ReadAtLeast(port.get(), sent.size()), sent);

  const std::string command = "$PSRF100,1,4800,8,1,0*0E\r\n";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port.get(), command.data(), static_cast<DWORD>(command.size()), &written, nullptr));
  EXPECT_EQ(written, command.size());
  std::string echoed(command.size(), '\0');
  std::size_t got = 0;
  while (got < command.size()) {
    pollfd watch{master_, POLLIN, 0};
    ASSERT_EQ(::poll(&watch, 1, 2000), 1);
    const ssize_t n = ::read(master_, echoed.data() + got, command.size() - got);
    ASSERT_GT(n, 0);
    got += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(echoed, command);
}

TEST_F(SerialPortTest, RefusesStatesItCannotSetAndKeepsTheOldOne) {
  Port port(OpenAsTheEngine(u"COM4:"));
  ASSERT_TRUE(SetUpAsTheEngine(port.get(), 9600));
  DCB good{};
  ASSERT_TRUE(GetCommState(port.get(), &good));

  const struct {
    const char* what;
    void (*change)(DCB&);
  } cases[] = {
      {"rate termios has no constant for", [](DCB& d) { d.BaudRate = 12345; }},
      {"rate 0", [](DCB& d) { d.BaudRate = 0; }},
      {"7 data bits", [](DCB& d) { d.ByteSize = 7; }},
      {"even parity", [](DCB& d) { d.Parity = 2; }},
      {"two stop bits", [](DCB& d) { d.StopBits = 2; }},
      {"hardware flow control", [](DCB& d) { d.fOutxCtsFlow = 1; }},
      {"software flow control", [](DCB& d) { d.fInX = 1; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DCB bad = good;
    bad.BaudRate = 4800;
    c.change(bad);
    EXPECT_FALSE(SetCommState(port.get(), &bad));
    DCB now{};
    ASSERT_TRUE(GetCommState(port.get(), &now));
    EXPECT_EQ(now.BaudRate, 9600u);
    const termios settings = DeviceSettings();
    EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B9600));
  }

  COMMTIMEOUTS engine{};
  ASSERT_TRUE(GetCommTimeouts(port.get(), &engine));
  const COMMTIMEOUTS meaningless[] = {
      {MAXDWORD, 5, 0, 0, 0},
      {MAXDWORD, 0, 7, 0, 0},
      {MAXDWORD, MAXDWORD, 0, 0, 0},
      {MAXDWORD, MAXDWORD, MAXDWORD, 0, 0},
  };
  for (COMMTIMEOUTS t : meaningless) {
    SCOPED_TRACE(testing::Message() << t.ReadTotalTimeoutMultiplier << "/" << t.ReadTotalTimeoutConstant);
    EXPECT_FALSE(SetCommTimeouts(port.get(), &t));
    COMMTIMEOUTS now{};
    ASSERT_TRUE(GetCommTimeouts(port.get(), &now));
    EXPECT_EQ(now.ReadTotalTimeoutMultiplier, engine.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(now.ReadTotalTimeoutConstant, engine.ReadTotalTimeoutConstant);
  }
}

// With nothing pending a read gives 0 bytes when its time-out says, never
// sooner; one that should end at once does not wait for bytes.
TEST_F(SerialPortTest, AReadWithNothingPendingEndsWithItsTimeout) {
  Port port(OpenAsTheEngine(u"COM4:"));
  ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
  const struct {
    const char* what;
    COMMTIMEOUTS timeouts;
    long long atLeastMs;
  } cases[] = {
      {"the engine's: at once, or after 1 ms", {MAXDWORD, MAXDWORD, 1, 0, 0}, 0},
      {"at once", {MAXDWORD, 0, 0, 0, 0}, 0},
      {"a total of 120 ms", {0, 0, 120, 0, 0}, 120},
      {"a total of 1 ms a byte and 10 ms", {0, 1, 10, 0, 0}, 10 + kChunk},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(SetCommTimeouts(port.get(), &c.timeouts));
    for (int round = 0; round < 2; ++round) {
      const TimedRead read = ReadOnce(port.get());
      EXPECT_TRUE(read.ok);
      EXPECT_EQ(read.bytes, 0u);
      EXPECT_GE(read.ms, c.atLeastMs);
    }
  }
}

// A flood is read in chunks no larger than asked for, and what is left is
// dropped by either call the engine may use; the port then carries new
// sentences whole.
TEST_F(SerialPortTest, AFloodIsReadInBoundedChunksAndItsRestDiscarded) {
  const struct {
    const char* what;
    BOOL (*discard)(HANDLE);
  } ways[] = {
      {"PurgeComm", [](HANDLE h) { return PurgeComm(h, PURGE_RXCLEAR | PURGE_RXABORT); }},
      {"FlushFileBuffers", [](HANDLE h) { return FlushFileBuffers(h); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.what);
    Port port(OpenAsTheEngine(u"COM4:"));
    ASSERT_TRUE(SetUpAsTheEngine(port.get(), 4800));
    // The receiver sends more than the device holds: the kernel takes what
    // fits and refuses the rest.
    std::string flood;
    while (flood.size() < 64 * 1024) flood += kSentence;
    ASSERT_EQ(::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK), 0);
    const ssize_t taken = ::write(master_, flood.data(), flood.size());
    ASSERT_GT(taken, static_cast<ssize_t>(6 * kChunk));
    ASSERT_LT(taken, static_cast<ssize_t>(flood.size()));
    ASSERT_EQ(::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) & ~O_NONBLOCK), 0);

    std::string first = ReadAtLeast(port.get(), 1);  // once the kernel has handed the bytes on
    ASSERT_FALSE(first.empty());
    EXPECT_LE(first.size(), kChunk);
    for (int read = 0; read < 5; ++read) {
      char chunk[kChunk + 1];
      DWORD n = 0;
      ASSERT_TRUE(ReadFile(port.get(), chunk, kChunk, &n, nullptr));
      EXPECT_LE(n, kChunk);
    }
    ASSERT_TRUE(way.discard(port.get()));
    char chunk[kChunk];
    DWORD n = 1;
    EXPECT_TRUE(ReadFile(port.get(), chunk, sizeof chunk, &n, nullptr));
    EXPECT_EQ(n, 0u);

    WriteAll(master_, kSentence);
    EXPECT_EQ(ReadAtLeast(port.get(), sizeof kSentence - 1), kSentence);
  }
}

TEST_F(SerialPortTest, OnlyWellFormedMappedNamesOfTerminalsOpen) {
  MapPort(u"COM10:", slavePath_);
  MapPort(u"COM1:", root_ + "/no-such-device");
  MapPort(u"COM7:", root_ + "/registry.txt");  // exists, but is no terminal
  {
    Port port(OpenAsTheEngine(u"COM10:"));
    ASSERT_TRUE(SetUpAsTheEngine(port.get(), 4800));
    WriteAll(master_, kSentence);
    EXPECT_EQ(ReadAtLeast(port.get(), sizeof kSentence - 1), kSentence);
  }
  for (const char16_t* name : {u"COM1:", u"COM5:", u"COM7:", u"COM:", u"COMx:", u"COM4", u"4:", u":", u"COM4::",
                               u"C\u00d6M4:", u"COM-4:", u"\\COM4:"}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(name));
    Port port(OpenAsTheEngine(name));
    EXPECT_EQ(port.get(), INVALID_HANDLE_VALUE);
  }

  const struct {
    const char* what;
    DWORD access, share, disposition, flags;
  } asks[] = {
      {"no access", 0, 0, OPEN_EXISTING, 0},
      {"shared", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0},
      {"created", GENERIC_READ | GENERIC_WRITE, 0, 2, 0},
      {"random access", GENERIC_READ, 0, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS},
  };
  for (const auto& ask : asks) {
    SCOPED_TRACE(ask.what);
    Port port(CreateFileW(u"COM4:", ask.access, ask.share, nullptr, ask.disposition, ask.flags, nullptr));
    EXPECT_EQ(port.get(), INVALID_HANDLE_VALUE);
  }
}

TEST_F(SerialPortTest, APortIsExclusiveUntilClosed) {
  MapPort(u"BSP1:", slavePath_);  // the same device under a second name
  Port first(OpenAsTheEngine(u"COM4:"));
  ASSERT_NE(first.get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ExclusiveFlag(), 1);
  for (const char16_t* name : {u"COM4:", u"com4:", u"BSP1:"}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(name));
    Port second(OpenAsTheEngine(name));
    EXPECT_EQ(second.get(), INVALID_HANDLE_VALUE);
  }
  ASSERT_TRUE(first.Close());
  EXPECT_EQ(ExclusiveFlag(), 0);
  Port again(OpenAsTheEngine(u"BSP1:"));
  EXPECT_NE(again.get(), INVALID_HANDLE_VALUE);
}

// A closed port, and a handle of a plain file, refuse the port's calls
// instead of touching freed or foreign state.
TEST_F(SerialPortTest, HandlesThatAreNoOpenPortAreRefused) {
  std::ofstream(root_ + "/plain.txt") << "text";
  Port file(CreateFileW(u"\\plain.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);
  Port port(OpenAsTheEngine(u"COM4:"));
  ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
  const HANDLE closed = port.get();
  ASSERT_TRUE(port.Close());
  EXPECT_FALSE(CloseHandle(closed));

  for (HANDLE h : {closed, file.get(), INVALID_HANDLE_VALUE}) {
    DCB state{};
    COMMTIMEOUTS timeouts{};
    EXPECT_FALSE(GetCommState(h, &state));
    EXPECT_FALSE(SetCommState(h, &state));
    EXPECT_FALSE(GetCommTimeouts(h, &timeouts));
    EXPECT_FALSE(SetCommTimeouts(h, &timeouts));
    EXPECT_FALSE(PurgeComm(h, PURGE_RXCLEAR));
    EXPECT_FALSE(WriteFile(h, "x", 1, nullptr, nullptr));
  }
  char byte;
  DWORD n = 7;
  EXPECT_FALSE(ReadFile(closed, &byte, 1, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(FlushFileBuffers(closed));
  EXPECT_TRUE(FlushFileBuffers(file.get()));
  Port reopened(OpenAsTheEngine(u"COM4:"));
  ASSERT_NE(reopened.get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(reopened.get(), 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
}

TEST_F(SerialPortTest, AReceiverUnpluggedGivesReadErrorsNotACrash) {
  Port port(OpenAsTheEngine(u"COM4:"));
  ASSERT_TRUE(SetUpAsTheEngine(port.get(), 4800));
  WriteAll(master_, kSentence);
  EXPECT_EQ(ReadAtLeast(port.get(), sizeof kSentence - 1), kSentence);
  WriteAll(master_, "$GPGGA,12");
  ::close(master_);
  master_ = -1;
  for (int round = 0; round < 6; ++round) {
    const TimedRead read = ReadOnce(port.get());
    EXPECT_TRUE(!read.ok || read.bytes <= 9) << read.ok << " " << read.bytes;
  }
  EXPECT_FALSE(WriteFile(port.get(), "x", 1, nullptr, nullptr));
  EXPECT_TRUE(port.Close());
}

// A read told to wait for its whole count gives up when another thread
// closes the handle, instead of keeping the tick thread stuck.
TEST_F(SerialPortTest, ClosingStopsAReadThatWaitsWithoutLimit) {
  const HANDLE port = OpenAsTheEngine(u"COM4:");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS forever{};
  ASSERT_TRUE(SetCommTimeouts(port, &forever));
  auto reader = std::async(std::launch::async, [port] {
    char chunk[kChunk];
    DWORD n = 0;
    return ReadFile(port, chunk, sizeof chunk, &n, nullptr);
  });
  EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
  ASSERT_TRUE(CloseHandle(port));
  // A minute only runs out for a read the close did not stop.
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_FALSE(reader.get());
}

}  // namespace
