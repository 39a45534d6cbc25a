// File finding and attributes of the platform layer, shaped like the phone's
// FindFirstFileW / FindNextFileW / FindClose and GetFileAttributesW, over
// phone paths (see device.h).
//
// The last component of a search may hold the wildcards "*" (any run of
// characters) and "?" (one character); it matches without regard to case, as
// on the phone. "." and ".." are never returned. Results come in name order so
// that runs are repeatable.
#pragma once

#include "platform/com/types.h"

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
// INVALID_FILE_ATTRIBUTES when the path does not exist.
DWORD GetFileAttributesW(LPCWSTR lpFileName);
