// Serial ports over termios: the port name's device from the registry, the
// exclusive raw non-blocking open, and the port's calls (state, time-outs,
// purging, reading and writing within the time-outs). The handles sit in the
// one handle table of files.cpp.
#include "platform/os/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/os/device.h"
#include "platform/os/handles.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"

namespace {

using platform::detail::OpenHandle;
using Clock = std::chrono::steady_clock;

// Longer names are not ports; real ones have a handful of characters.
constexpr std::size_t kMaxPortNameUnits = 32;
// Longest device path taken from the registry, in UTF-16 units.
constexpr DWORD kMaxDevicePathUnits = 1024;
// A wait longer than this is cut into slices, so that a handle closed by
// another thread stops a read or write that waits without a limit.
constexpr int kWaitSliceMs = 100;

// "<letters><digits>:", ASCII only.
bool IsPortName(std::u16string_view name) {
  if (name.size() > kMaxPortNameUnits || name.size() < 3 || name.back() != u':') return false;
  const std::u16string_view body = name.substr(0, name.size() - 1);
  const auto isLetter = [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
  const auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  std::size_t i = 0;
  while (i < body.size() && isLetter(body[i])) ++i;
  if (i == 0 || i == body.size()) return false;
  return std::all_of(body.begin() + static_cast<std::ptrdiff_t>(i), body.end(), isDigit);
}

// The host path the registry names for a port; nothing when there is none.
std::optional<std::string> DevicePathOf(std::u16string_view portName) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\SerialPorts", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::u16string valueName(portName);
  WCHAR path[kMaxDevicePathUnits];
  DWORD type = REG_NONE;
  DWORD bytes = sizeof path;
  const LONG result =
      RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  std::u16string_view text(path, bytes / sizeof(WCHAR));
  while (!text.empty() && text.back() == u'\0') text.remove_suffix(1);
  if (text.empty() || text.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  return platform::HostPathUtf8(platform::Utf16ToUtf8(text));
}

// Devices open as ports in this process, by device number: a second open is
// refused even under another port name, and also for root, whom TIOCEXCL
// does not stop.
std::mutex g_portsInUseLock;
std::set<dev_t> g_portsInUse;

bool ClaimDevice(dev_t device) {
  std::lock_guard<std::mutex> hold(g_portsInUseLock);
  return g_portsInUse.insert(device).second;
}

void ReleaseDevice(dev_t device) {
  std::lock_guard<std::mutex> hold(g_portsInUseLock);
  g_portsInUse.erase(device);
}

struct BaudRate {
  DWORD bitsPerSecond;
  speed_t speed;
};
constexpr BaudRate kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> SpeedOf(DWORD bitsPerSecond) {
  for (const BaudRate& rate : kBaudRates) {
    if (rate.bitsPerSecond == bitsPerSecond) return rate.speed;
  }
  return std::nullopt;
}

DWORD BitsPerSecondOf(speed_t speed) {
  for (const BaudRate& rate : kBaudRates) {
    if (rate.speed == speed) return rate.bitsPerSecond;
  }
  return 0;
}

// Raw, 8N1, no flow control, modem lines ignored. VMIN 1 with O_NONBLOCK
// makes an empty device answer EAGAIN, so a read of 0 bytes means the device
// hung up.
void MakeRaw(termios& settings) {
  cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
}

int TcSetAttr(int fd, const termios& settings) {
  int result;
  do {
    result = ::tcsetattr(fd, TCSANOW, &settings);
  } while (result != 0 && errno == EINTR);
  return result;
}

enum class Transfer { kDone, kWouldBlock, kFailed };
enum class Wait { kReady, kTimedOut, kClosed };

class OpenPort final : public OpenHandle {
 public:
  OpenPort(int fd, dev_t device) : OpenHandle(fd), device_(device) {}
  ~OpenPort() override {
    ::ioctl(fd(), TIOCNXCL);
    ReleaseDevice(device_);
  }

  BOOL Read(void* buffer, DWORD count, DWORD& done) override {
    std::lock_guard<std::mutex> hold(lock());
    auto* out = static_cast<unsigned char*>(buffer);
    const COMMTIMEOUTS t = timeouts_;
    Transfer step = ReadBuffered(out, count, done);
    if (step == Transfer::kFailed) return FALSE;
    if (done == count) return TRUE;

    if (t.ReadIntervalTimeout == MAXDWORD) {
      // Return with what was buffered; the "wait for the first byte" form
      // waits only when nothing was.
      if (t.ReadTotalTimeoutMultiplier != MAXDWORD || done > 0) return TRUE;
      const Wait w = WaitFor(POLLIN, Clock::now() + std::chrono::milliseconds(t.ReadTotalTimeoutConstant));
      if (w == Wait::kClosed) return FALSE;
      if (w == Wait::kTimedOut) return TRUE;
      return ReadBuffered(out, count, done) == Transfer::kFailed ? FALSE : TRUE;
    }

    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
    const std::optional<Clock::time_point> total =
        totalMs == 0 ? std::nullopt : std::optional(Clock::now() + std::chrono::milliseconds(totalMs));
    while (done < count) {
      std::optional<Clock::time_point> until = total;
      if (t.ReadIntervalTimeout != 0 && done > 0) {
        const Clock::time_point gap = Clock::now() + std::chrono::milliseconds(t.ReadIntervalTimeout);
        until = until ? std::min(*until, gap) : gap;
      }
      const Wait w = WaitFor(POLLIN, until);
      if (w == Wait::kClosed) return FALSE;
      if (w == Wait::kTimedOut) return TRUE;
      if (ReadBuffered(out, count, done) == Transfer::kFailed) return FALSE;
    }
    return TRUE;
  }

  BOOL Write(const void* buffer, DWORD count, DWORD& done) override {
    std::lock_guard<std::mutex> hold(lock());
    const auto* in = static_cast<const unsigned char*>(buffer);
    const std::uint64_t totalMs = static_cast<std::uint64_t>(timeouts_.WriteTotalTimeoutMultiplier) * count +
                                  timeouts_.WriteTotalTimeoutConstant;
    const std::optional<Clock::time_point> total =
        totalMs == 0 ? std::nullopt : std::optional(Clock::now() + std::chrono::milliseconds(totalMs));
    for (;;) {
      if (WriteWhatFits(in, count, done) == Transfer::kFailed) return FALSE;
      if (done == count) return TRUE;
      const Wait w = WaitFor(POLLOUT, total);
      if (w == Wait::kClosed) return FALSE;
      if (w == Wait::kTimedOut) return TRUE;
    }
  }

  BOOL Flush() override { return Purge(TCIFLUSH); }

  void Closing() override { closing_.store(true); }

  BOOL Purge(int queues) {
    std::lock_guard<std::mutex> hold(lock());
    return ::tcflush(fd(), queues) == 0 ? TRUE : FALSE;
  }

  COMMTIMEOUTS timeouts_{};  // guarded by lock()

 private:
  // Takes what the device holds, at most up to `count` in all.
  Transfer ReadBuffered(unsigned char* out, DWORD count, DWORD& done) {
    while (done < count) {
      const ssize_t got = ::read(fd(), out + done, count - done);
      if (got > 0) {
        done += static_cast<DWORD>(got);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Transfer::kWouldBlock;
      return Transfer::kFailed;  // an error, or 0: the device hung up
    }
    return Transfer::kDone;
  }

  Transfer WriteWhatFits(const unsigned char* in, DWORD count, DWORD& done) {
    while (done < count) {
      const ssize_t put = ::write(fd(), in + done, count - done);
      if (put > 0) {
        done += static_cast<DWORD>(put);
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Transfer::kWouldBlock;
      return Transfer::kFailed;
    }
    return Transfer::kDone;
  }

  // Waits until the device is ready for `events` (or reports an error or a
  // hang-up, which the next read or write finds) or `until` passes; without
  // `until`, until the handle is closed.
  Wait WaitFor(short events, std::optional<Clock::time_point> until) {
    for (;;) {
      if (closing_.load()) return Wait::kClosed;
      int sliceMs = kWaitSliceMs;
      if (until) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count();
        if (left <= 0) return Wait::kTimedOut;
        sliceMs = static_cast<int>(std::min<std::int64_t>(left, kWaitSliceMs));
      }
      pollfd watch{fd(), events, 0};
      const int ready = ::poll(&watch, 1, sliceMs);
      if (ready > 0) return Wait::kReady;
      if (ready < 0 && errno != EINTR) return Wait::kReady;  // let the read or write report it
    }
  }

  dev_t device_;
  std::atomic<bool> closing_{false};
};

std::shared_ptr<OpenPort> LookUpPort(HANDLE handle) {
  return std::dynamic_pointer_cast<OpenPort>(platform::detail::LookUpHandle(handle));
}

// Opens and sets up the device; -1 when it is not a terminal that opens.
int OpenDevice(const std::string& path, int accessFlags, dev_t& device) {
  int fd;
  do {
    fd = ::open(path.c_str(), accessFlags | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st {};
  termios settings{};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::tcgetattr(fd, &settings) != 0) {
    ::close(fd);
    return -1;
  }
  device = st.st_rdev;
  return fd;
}

}  // namespace

HANDLE platform::detail::OpenSerialPort(std::u16string_view name, DWORD desiredAccess, DWORD shareMode,
                                        DWORD creationDisposition, DWORD flagsAndAttributes) {
  if (!IsPortName(name)) return INVALID_HANDLE_VALUE;
  if ((desiredAccess & (GENERIC_READ | GENERIC_WRITE)) == 0 ||
      (desiredAccess & ~(GENERIC_READ | GENERIC_WRITE)) != 0 || shareMode != 0 ||
      creationDisposition != OPEN_EXISTING || (flagsAndAttributes & ~FILE_ATTRIBUTE_NORMAL) != 0) {
    return INVALID_HANDLE_VALUE;
  }
  try {
    const std::optional<std::string> path = DevicePathOf(name);
    if (!path) return INVALID_HANDLE_VALUE;
    const int access = desiredAccess == (GENERIC_READ | GENERIC_WRITE) ? O_RDWR
                       : desiredAccess == GENERIC_READ                  ? O_RDONLY
                                                                        : O_WRONLY;
    dev_t device{};
    const int fd = OpenDevice(*path, access, device);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    if (!ClaimDevice(device)) {
      ::close(fd);
      return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<OpenPort> port;
    try {
      port = std::make_shared<OpenPort>(fd, device);  // owns fd and the claim from here on
    } catch (...) {
      ::close(fd);
      ReleaseDevice(device);
      throw;
    }
    termios settings{};
    if (::ioctl(fd, TIOCEXCL) != 0 || ::tcgetattr(fd, &settings) != 0) return INVALID_HANDLE_VALUE;
    MakeRaw(settings);
    if (TcSetAttr(fd, settings) != 0) return INVALID_HANDLE_VALUE;
    return platform::detail::AddHandle(std::move(port));
  } catch (...) {
    return INVALID_HANDLE_VALUE;
  }
}

BOOL GetCommState(HANDLE hFile, DCB* lpDCB) {
  std::shared_ptr<OpenPort> port = LookUpPort(hFile);
  if (port == nullptr || lpDCB == nullptr) return FALSE;
  termios settings{};
  {
    std::lock_guard<std::mutex> hold(port->lock());
    if (::tcgetattr(port->fd(), &settings) != 0) return FALSE;
  }
  std::memset(lpDCB, 0, sizeof *lpDCB);
  lpDCB->DCBlength = sizeof(DCB);
  lpDCB->BaudRate = BitsPerSecondOf(::cfgetospeed(&settings));
  lpDCB->fBinary = 1;
  lpDCB->ByteSize = 8;
  lpDCB->Parity = NOPARITY;
  lpDCB->StopBits = ONESTOPBIT;
  return TRUE;
}

BOOL SetCommState(HANDLE hFile, DCB* lpDCB) {
  std::shared_ptr<OpenPort> port = LookUpPort(hFile);
  if (port == nullptr || lpDCB == nullptr) return FALSE;
  const std::optional<speed_t> speed = SpeedOf(lpDCB->BaudRate);
  if (!speed || lpDCB->ByteSize != 8 || lpDCB->Parity != NOPARITY || lpDCB->StopBits != ONESTOPBIT ||
      lpDCB->fParity != 0 || lpDCB->fOutxCtsFlow != 0 || lpDCB->fOutxDsrFlow != 0 || lpDCB->fOutX != 0 ||
      lpDCB->fInX != 0) {
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(port->lock());
  termios old{};
  if (::tcgetattr(port->fd(), &old) != 0) return FALSE;
  termios wanted = old;
  MakeRaw(wanted);
  if (::cfsetispeed(&wanted, *speed) != 0 || ::cfsetospeed(&wanted, *speed) != 0) return FALSE;
  // tcsetattr succeeds when any part of the change took, so read it back and
  // undo a partial change.
  termios now{};
  if (TcSetAttr(port->fd(), wanted) != 0 || ::tcgetattr(port->fd(), &now) != 0 ||
      ::cfgetospeed(&now) != *speed || ::cfgetispeed(&now) != *speed) {
    (void)TcSetAttr(port->fd(), old);
    return FALSE;
  }
  return TRUE;
}

BOOL GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* lpCommTimeouts) {
  std::shared_ptr<OpenPort> port = LookUpPort(hFile);
  if (port == nullptr || lpCommTimeouts == nullptr) return FALSE;
  std::lock_guard<std::mutex> hold(port->lock());
  *lpCommTimeouts = port->timeouts_;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* lpCommTimeouts) {
  std::shared_ptr<OpenPort> port = LookUpPort(hFile);
  if (port == nullptr || lpCommTimeouts == nullptr) return FALSE;
  const COMMTIMEOUTS& t = *lpCommTimeouts;
  if (t.ReadIntervalTimeout == MAXDWORD) {
    const bool atOnce = t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadTotalTimeoutMultiplier == MAXDWORD && t.ReadTotalTimeoutConstant != 0 &&
                           t.ReadTotalTimeoutConstant != MAXDWORD;
    if (!atOnce && !firstByte) return FALSE;
  }
  std::lock_guard<std::mutex> hold(port->lock());
  port->timeouts_ = t;
  return TRUE;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  std::shared_ptr<OpenPort> port = LookUpPort(hFile);
  if (port == nullptr) return FALSE;
  if ((dwFlags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) return FALSE;
  const bool input = (dwFlags & PURGE_RXCLEAR) != 0;
  const bool output = (dwFlags & PURGE_TXCLEAR) != 0;
  if (!input && !output) return TRUE;
  return port->Purge(input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
}
