// File finding, attributes and reading of the platform layer, shaped like the
// phone's FindFirstFileW / FindNextFileW / FindClose, GetFileAttributesW and
// CreateFileW / SetFilePointer / ReadFile / CloseHandle, over phone paths (see
// device.h).
//
// The last component of a search may hold the wildcards "*" (any run of
// characters) and "?" (one character); it matches without regard to case, as
// on the phone. "." and ".." are never returned. Results come in name order so
// that runs are repeatable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/os/wintypes.h"

using HANDLE = void*;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr int MAX_PATH = 260;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];  // name only, NUL-terminated; longer names are skipped
};

// INVALID_HANDLE_VALUE when nothing matches or the folder does not exist.
HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData);
BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

namespace platform {
// Owner of a search handle (never INVALID_HANDLE_VALUE): std::unique_ptr<void,
// FindCloser> closes the search when it goes, also when its user throws.
struct FindCloser {
  void operator()(HANDLE hFindFile) const noexcept { FindClose(hFindFile); }
};
using FindOwner = std::unique_ptr<void, FindCloser>;
}  // namespace platform
// INVALID_FILE_ATTRIBUTES when the path does not exist.
DWORD GetFileAttributesW(LPCWSTR lpFileName);

// ---- reading and writing files and serial ports -----------------------------------
//
// The subset the programs use: files opened for reading (the map reader's
// file pool) or for writing (trace recordings, which are appended to), shared
// for reading and writing, positioned and read or written. Other access,
// creation or attribute values are refused (INVALID_HANDLE_VALUE), so a caller
// that needs more finds out at once instead of getting something else. The same calls read and write serial ports, opened by their port names
// ("COM4:"; see serial.h for the names, their devices and the port's own
// calls). Handles are checked before use: a closed or foreign handle gives
// FALSE (or INVALID_SET_FILE_POINTER) rather than a use after free.

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000u;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// dwDesiredAccess is GENERIC_READ, GENERIC_WRITE or both; dwShareMode at most
// FILE_SHARE_READ | FILE_SHARE_WRITE (files are never locked here: the share
// mode is accepted, not enforced); dwCreationDisposition OPEN_EXISTING, or,
// with GENERIC_WRITE, OPEN_ALWAYS (created when missing, kept when present) or
// CREATE_ALWAYS (created or emptied); dwFlagsAndAttributes at most
// FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS. The security attributes and
// the template are ignored. A new file starts at position 0. Folders are not
// opened. INVALID_HANDLE_VALUE when the file does not exist (OPEN_EXISTING),
// its folder does not exist, or it cannot be opened as asked. A port name opens a serial port
// under the rules in serial.h instead.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void* lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Moves the file position (not on a serial port): with lpDistanceToMoveHigh null the distance is the
// signed 32-bit lDistanceToMove, otherwise the signed 64-bit value of both
// words (the high word comes back through the pointer). Returns the low word
// of the new position; INVALID_SET_FILE_POINTER for a bad handle or method or
// a position before the start (the position is unchanged then). Positions past
// the end are allowed; reads there give 0 bytes.
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod);
// Reads up to nNumberOfBytesToRead bytes at the file position and advances
// it. TRUE with *lpNumberOfBytesRead = 0 at the end of the file; FALSE for a
// bad handle, a null buffer with a non-zero count, a non-null lpOverlapped or
// a read error. lpNumberOfBytesRead may be null. On a serial port the read
// takes at most nNumberOfBytesToRead bytes of what the device holds and waits
// only as the port's time-outs say; 0 bytes with TRUE means none came in time.
BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              void* lpOverlapped);
// Writes at the file position and advances it, or to a serial port, waiting
// only as its write time-outs say (TRUE with fewer bytes written when the
// time-out passed first). FALSE for a file opened without GENERIC_WRITE, a bad
// handle, a null buffer with a non-zero count, a non-null lpOverlapped or a
// write error (a full disk: the bytes that fit are counted).
// lpNumberOfBytesWritten may be null.
BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite, DWORD* lpNumberOfBytesWritten,
               void* lpOverlapped);
// On a file: what was written is pushed to the storage (fsync); FALSE when
// that fails. On a serial port it DISCARDS the
// input the device holds (as PurgeComm with PURGE_RXCLEAR) and leaves the
// output alone: the engine calls it when the receiver's input floods faster
// than it is read, to drop the backlog rather than read it without bound, and
// waiting for the output to drain could block on a device that has gone.
BOOL FlushFileBuffers(HANDLE hFile);
// Closes a handle from CreateFileW; FALSE for any other value, also for a
// handle already closed. A read or write still waiting on a port gives up.
BOOL CloseHandle(HANDLE hObject);

// ---- whole files -------------------------------------------------------------------
//
// Small files the programs keep (settings) are read whole and replaced whole.

namespace platform {

enum class WholeFileRead {
  kRead,        // `bytes` holds the whole file
  kMissing,     // no such file
  kTooLarge,    // the file holds more than the bound; `bytes` is empty
  kUnreadable,  // it exists but could not be opened or read (a folder, no access)
};

// Reads the file at a phone path into `bytes`, refusing files larger than
// `maxBytes` without reading them into memory past the bound.
[[nodiscard]] WholeFileRead ReadWholeFile(std::u16string_view phonePath, std::size_t maxBytes, std::string& bytes);

// Replaces the file at a phone path with `bytes`: they go to "<file>.tmp" in
// the same folder, which is flushed and renamed over the file, then the folder
// is flushed. A crash at any point leaves either the old file or the new one,
// never a mix; a leftover "<file>.tmp" is replaced by the next write (made
// anew and exclusively, so a link planted at that name is never followed). False
// (the old file untouched) when the folder does not exist or a step fails.
[[nodiscard]] bool ReplaceWholeFile(std::u16string_view phonePath, std::string_view bytes);

// Test hook: when set, the next ReplaceWholeFile stops the process with
// _exit(9) after this many bytes of the temporary file are written.
void SetReplaceCrashAfterBytesForTest(long bytes);

}  // namespace platform
