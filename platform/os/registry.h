// The registry of the platform layer: a tree of keys with DWORD, string and
// binary values under HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and
// HKEY_CLASSES_ROOT, shaped like the phone's registry functions.
//
// The whole tree is kept in one text file under the device root
// ("<root>/registry.txt"). Every change rewrites it atomically: the new tree is
// written to a temporary file beside it, flushed, and renamed over the old one,
// so a process killed while writing leaves the previous file intact. Before each
// call the file is read again when another process has replaced it. Key and
// value names compare without regard to case, as on the phone; names keep the
// case they were created with. A file that cannot be parsed is never trusted
// piecemeal: lines that do not parse are skipped and reported once through
// OutputDebugStringW.
#pragma once

#include <cstdint>

#include "platform/os/wintypes.h"

struct RegistryKey;  // opaque
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// The predefined roots, as the phone numbers them.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

// Result codes (LONG), the phone's numbers.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_CANTWRITE = 1013;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Sub-key paths use backslashes ("Software\\Quellwork\\Tirvane"); an empty or
// null sub-key opens the key itself. Handles must be closed with RegCloseKey;
// a handle to a key that another handle deleted answers ERROR_INVALID_HANDLE.
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, void* lpSecurityAttributes, PHKEY phkResult, DWORD* lpdwDisposition);
LONG RegCloseKey(HKEY hKey);

// Values: a null or empty name is the key's default value. REG_SZ data is
// UTF-16 with its terminating NUL counted in cbData. Queries follow the phone:
// with lpData null only the type and size are given; a buffer too small gives
// ERROR_MORE_DATA and the size needed. REG_DWORD data must be 4 bytes.
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                      DWORD* lpcbData);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// Deletes the sub-key and everything below it.
LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);

// Enumeration in the order names were created. Name lengths are in characters
// without the NUL; too small a buffer gives ERROR_MORE_DATA.
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD* lpReserved, LPWSTR lpClass,
                   DWORD* lpcchClass, void* lpftLastWriteTime);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                   DWORD* lpType, BYTE* lpData, DWORD* lpcbData);

namespace platform::registry {
// Forgets the tree held in memory; the next call reads the file again. Tests
// use it to stand for a restart of the process.
void ReloadFromDisk();
// Test hook: when set, the next write of the registry file stops the process
// with _exit(9) after this many bytes of the temporary file are written.
void SetCrashAfterBytesForTest(long bytes);
}  // namespace platform::registry
