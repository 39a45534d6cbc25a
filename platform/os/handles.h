// The one table of handles that CreateFileW gives out, whatever they stand
// for (a plain file, a serial port). Every call on a HANDLE looks it up here
// first, so a closed or foreign handle gives FALSE instead of a use after
// free; the object lives on while a call that found it is still running.
#pragma once

#include <memory>
#include <mutex>
#include <string_view>

#include "platform/os/files.h"

namespace platform::detail {

// What a HANDLE from CreateFileW points to. Owns the descriptor: it closes
// with the last owner, so a call that looked the handle up before a
// concurrent CloseHandle finishes on an open descriptor.
class OpenHandle {
 public:
  explicit OpenHandle(int fd) : fd_(fd) {}
  virtual ~OpenHandle();
  OpenHandle(const OpenHandle&) = delete;
  OpenHandle& operator=(const OpenHandle&) = delete;

  int fd() const { return fd_; }
  std::mutex& lock() { return lock_; }

  // The calls shared by every kind of handle. `done` starts at 0; it holds
  // the bytes moved even when the call fails part way.
  virtual BOOL Read(void* buffer, DWORD count, DWORD& done) = 0;
  virtual BOOL Write(const void* buffer, DWORD count, DWORD& done) = 0;
  virtual BOOL Flush() = 0;
  // Told once when CloseHandle takes the handle out of the table, so that a
  // call still waiting on it can give up.
  virtual void Closing() {}

 private:
  int fd_;
  std::mutex lock_;
};

// Puts `object` in the table; its address is the handle.
HANDLE AddHandle(std::shared_ptr<OpenHandle> object);
// Null for a handle that is not (or no longer) in the table.
std::shared_ptr<OpenHandle> LookUpHandle(HANDLE handle);

// CreateFileW for a name that ends in a colon (serial.cpp; the rules are in
// serial.h). INVALID_HANDLE_VALUE when it is not a port that opens.
HANDLE OpenSerialPort(std::u16string_view name, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                      DWORD flagsAndAttributes);

}  // namespace platform::detail
