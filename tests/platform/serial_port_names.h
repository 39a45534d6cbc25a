// Test support: names a host terminal device as a phone port ("COM4:") in the
// registry of the current device root, as the device's configuration does.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/os/registry.h"
#include "platform/os/text.h"

namespace testing_support {

inline void MapSerialPort(const std::u16string& name, const std::string& device) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\SerialPorts", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string path = platform::Utf8ToUtf16(device);
  const LONG set = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                  static_cast<DWORD>((path.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  ASSERT_EQ(set, ERROR_SUCCESS);
}

}  // namespace testing_support
