// Paired Bluetooth devices: the device object, the port-name rules, and the
// search of the three places in the registry where the phone's Bluetooth
// stacks list their devices, with the engine's log of it.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/BluetoothDevices.h"
#include "engine/core/GPSCore.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/engine/core/device_root.h"
#include "tests/engine/core/engine_objects.h"

namespace {

std::string Narrow(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

std::u16string Take(BSTR text) {
  std::u16string copy(text == nullptr ? u"" : text, SysStringLen(text));
  SysFreeString(text);
  return copy;
}

TEST(BluetoothDeviceObject, StartsEmptyAndHandsOutCopies) {
  auto device = Make<CBluetoothDeviceObject>();
  BSTR text = nullptr;
  ASSERT_EQ(device->GetName(&text), S_OK);
  EXPECT_NE(text, nullptr);
  EXPECT_EQ(Take(text), u"");
  SHORT value = 0;
  EXPECT_EQ(device->GetPortNumber(&value), S_OK);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(device->IsActive(&value), S_OK);
  EXPECT_EQ(value, 0);

  ASSERT_TRUE(device->m_bstrName.Assign(u"Holux GR-231"));
  ASSERT_TRUE(device->m_bstrPortName.Assign(u"COM"));
  BSTR first = nullptr;
  BSTR second = nullptr;
  ASSERT_EQ(device->GetName(&first), S_OK);
  ASSERT_EQ(device->GetName(&second), S_OK);
  EXPECT_NE(first, second);
  EXPECT_NE(first, static_cast<BSTR>(device->m_bstrName));
  EXPECT_EQ(Take(first), u"Holux GR-231");
  EXPECT_EQ(Take(second), u"Holux GR-231");
  ASSERT_EQ(device->GetPortName(&text), S_OK);
  EXPECT_EQ(Take(text), u"COM");

  EXPECT_EQ(device->GetName(nullptr), E_POINTER);
  EXPECT_EQ(device->GetPortName(nullptr), E_POINTER);
  EXPECT_EQ(device->GetPortNumber(nullptr), E_POINTER);
  EXPECT_EQ(device->IsActive(nullptr), E_POINTER);
}

// Every digit before the last colon belongs to the number.
TEST(BluetoothPortNames, DigitsBeforeTheLastColonAreThePortNumber) {
  struct Row {
    const char16_t* text;
    bool split;
    const char16_t* port;
    SHORT number;
  };
  const Row rows[] = {
      {u"COM6:", true, u"COM", 6},
      {u"COM10:", true, u"COM", 10},
      {u"BSP1:", true, u"BSP", 1},
      {u"COM06:", true, u"COM", 6},
      {u"COM32767:", true, u"COM", 32767},
      {u"COM32768:", true, u"COM", -1},
      {u"COM99999999999:", true, u"COM", -1},
      {u"COM:", true, u"COM", -1},
      {u":", true, u"", -1},
      {u"7:", true, u"", 7},
      {u"COM6:x:", true, u"COM6:x", -1},
      {u"COM5:extra", true, u"COM", 5},
      {u"COM7", false, u"unchanged", 99},
      {u"", false, u"unchanged", 99},
  };
  for (const Row& row : rows) {
    std::u16string port = u"unchanged";
    SHORT number = 99;
    EXPECT_EQ(vov::SplitPortName(row.text, port, number), row.split) << Narrow(row.text);
    EXPECT_EQ(port, row.port) << Narrow(row.text);
    EXPECT_EQ(number, row.number) << Narrow(row.text);
  }
}

TEST(BluetoothPortNames, DeviceNameEndsBeforeTheFirstParenthesis) {
  struct Row {
    const char16_t* name;
    const char16_t* cut;
  };
  const Row rows[] = {
      {u"Holux GR-231 (Serial)", u"Holux GR-231"},
      {u"Qstarz (BT) (2)", u"Qstarz"},
      {u"GPS(1)", u"GPS(1)"},
      {u"Plain", u"Plain"},
      {u" (only)", u""},
  };
  for (const Row& row : rows) EXPECT_EQ(vov::CutDeviceName(row.name), row.cut) << Narrow(row.name);
}

// ---- the registry search ----------------------------------------------------------------------

constexpr char16_t kActiveSync[] = u"SOFTWARE\\Microsoft\\Bluetooth\\device\\activesync";
constexpr char16_t kDevices[] = u"SOFTWARE\\Microsoft\\Bluetooth\\device";
constexpr char16_t kModem[] = u"SOFTWARE\\Microsoft\\Bluetooth\\device\\modem";

// What a found device says about itself.
struct Found {
  std::u16string name;
  std::u16string port;
  SHORT number;
  SHORT active;
  bool operator==(const Found&) const = default;
};

void PrintTo(const Found& found, std::ostream* out) {
  *out << '{' << Narrow(found.name) << ", " << Narrow(found.port) << ", " << found.number << ", " << found.active
       << '}';
}

using DeviceList = std::vector<std::unique_ptr<IBluetoothDeviceObject, com::Releaser>>;

std::vector<Found> Describe(const DeviceList& devices) {
  std::vector<Found> found;
  for (const auto& device : devices) {
    Found one{};
    BSTR text = nullptr;
    EXPECT_EQ(device->GetName(&text), S_OK);
    one.name = Take(text);
    text = nullptr;
    EXPECT_EQ(device->GetPortName(&text), S_OK);
    one.port = Take(text);
    EXPECT_EQ(device->GetPortNumber(&one.number), S_OK);
    EXPECT_EQ(device->IsActive(&one.active), S_OK);
    found.push_back(one);
  }
  return found;
}

// The engine with its settings and debug folder, and a registry the test
// fills as each Bluetooth stack would.
class BluetoothSearch : public DeviceRootTest {
 protected:
  void SetUp() override {
    DeviceRootTest::SetUp();
    StartUtility(true);
  }

  static std::u16string Path(std::u16string_view key, std::u16string_view sub) {
    std::u16string path(key);
    if (!sub.empty()) path.append(u"\\").append(sub);
    return path;
  }
  static void MakeKey(const std::u16string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void SetString(const std::u16string& path, const char16_t* name, std::u16string_view value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string terminated(value);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(terminated.c_str()),
                             static_cast<DWORD>((terminated.size() + 1) * sizeof(char16_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void SetDword(const std::u16string& path, const char16_t* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // A device of the ActiveSync stack.
  static void ActiveSyncDevice(std::u16string_view key, std::u16string_view name, std::u16string_view port,
                               DWORD active) {
    const std::u16string path = Path(kActiveSync, key);
    SetString(path, u"name", name);
    SetString(path, u"port_name", port);
    SetDword(path, u"active", active);
  }
  // A device of the Microsoft stack with its services (enabled, channel).
  static void MicrosoftDevice(std::u16string_view key, std::u16string_view name,
                              std::vector<std::pair<DWORD, DWORD>> services) {
    const std::u16string path = Path(kDevices, key);
    MakeKey(path);
    if (!name.empty()) SetString(path, u"name", name);
    int n = 0;
    for (const auto& [enabled, channel] : services) {
      const std::u16string service = path + u"\\Services\\{0000110" + static_cast<char16_t>(u'1' + n++) + u"}";
      SetDword(service, u"enabled", enabled);
      SetDword(service, u"channel", channel);
    }
  }
  // A device of the Windows Mobile 6 list.
  static void ModemDevice(std::u16string_view key, std::u16string_view name, std::u16string_view port, DWORD active) {
    const std::u16string path = Path(kModem, key);
    SetString(path, u"devicename", name);
    SetString(path, u"port_name", port);
    SetDword(path, u"active", active);
  }

  std::vector<Found> Search(DeviceList* keep = nullptr) {
    DeviceList devices;
    core_.FindAvailableBluetoothDevicesInternal(devices);
    std::vector<Found> found = Describe(devices);
    if (keep != nullptr) *keep = std::move(devices);
    return found;
  }

  // The log's lines without their date and time.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadLog());
    const std::string prefix = "<05 03 2024 08:05:09> ";
    for (std::string line; std::getline(in, line);) {
      EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
      lines.push_back(line.substr(prefix.size()));
    }
    return lines;
  }

  GPSCore core_;
};

const std::vector<std::string> kClosingLines = {
    "\tDeleting Helper", "\tHelper = NULL", "\tkeys = NullIAndDeleteItems",
    "GPSCore::FindAvailableBluetoothDevicesInternal exited"};

std::vector<std::string> Lines(std::vector<std::string> body) {
  std::vector<std::string> lines{"GPSCore::FindAvailableBluetoothDevicesInternal entered"};
  lines.insert(lines.end(), body.begin(), body.end());
  lines.insert(lines.end(), kClosingLines.begin(), kClosingLines.end());
  return lines;
}

// The ActiveSync list wins: the other two are not looked at once it gives a
// device. Names lose what follows " (", port names split into port and
// number, and the active value is taken as it is.
TEST_F(BluetoothSearch, ActiveSyncDevicesComeFirst) {
  ActiveSyncDevice(u"0001", u"Holux GR-231 (Serial Port)", u"COM6:", 1);
  ActiveSyncDevice(u"0002", u"Qstarz BT-Q818", u"COM10:", 0);
  ActiveSyncDevice(u"0003", u"", u"COM4:", 1);                // no name: not a device
  ActiveSyncDevice(u"0004", u"Old receiver", u"BSP", 1);      // no colon: the port as it is, no number
  ActiveSyncDevice(u"0005", u"Odd active", u"COM3:", 2);
  MicrosoftDevice(u"00aa", u"Not looked at", {{1, 4}});
  ModemDevice(u"00bb", u"Not looked at either", u"COM9:", 1);

  EXPECT_EQ(Search(), (std::vector<Found>{{u"Holux GR-231", u"COM", 6, 1},
                                          {u"Qstarz BT-Q818", u"COM", 10, 0},
                                          {u"Old receiver", u"BSP", -1, 1},
                                          {u"Odd active", u"COM", 3, 2}}));
  EXPECT_EQ(LogLines(), Lines({"\tactivesync key found"}));
}

// With nothing usable under "activesync", each device key of the Microsoft
// stack is opened; only a named device with exactly one service is taken,
// on port "COM" and that service's channel.
TEST_F(BluetoothSearch, MicrosoftDevicesWithOneServiceComeNext) {
  ActiveSyncDevice(u"0001", u"", u"COM6:", 1);  // the key is there but names no device
  MicrosoftDevice(u"0002", u"GPS One", {{1, 4}});
  MicrosoftDevice(u"0003", u"Phone", {{1, 2}, {1, 3}});
  MicrosoftDevice(u"0004", u"", {{1, 5}});
  MicrosoftDevice(u"0005", u"GPS Two (BT)", {{0, 7}});
  MicrosoftDevice(u"0006", u"No services", {});

  EXPECT_EQ(Search(), (std::vector<Found>{{u"GPS One", u"COM", 4, -1}, {u"GPS Two (BT)", u"COM", 7, 0}}));

  const std::vector<std::string> oneService = {"\t\tservicesize =1",
                                               "\t\t\tservice key opened",
                                               "\t\t\tactive DWORD loaded",
                                               "\t\t\tchannel DWORD loaded",
                                               "\t\t\tserviceKey key closed",
                                               "\t\t\tAdding to Bluetooth Devices",
                                               "\t\t\tFinished Adding"};
  std::vector<std::string> body = {"\tactivesync key found"};
  // The "activesync" key is itself a subkey of the device key, created first.
  for (int key = 0; key < 6; ++key) {
    body.push_back("\tMicrosoft Bluetooth device found, opening key");
    body.push_back("\t\tdeviceKey Valid");
    const bool named = key != 0 && key != 3;
    const bool single = key == 1 || key == 4;
    if (single) body.insert(body.end(), oneService.begin(), oneService.end());
    if (named) body.push_back("\tDeleting Servicekeys");
    body.push_back("\t\tdeviceKey closed");
  }
  EXPECT_EQ(LogLines(), Lines(body));
}

// Last, the Windows Mobile 6 list: a device needs a name and a port with a
// colon; "active" 1 is the only value that makes it active.
TEST_F(BluetoothSearch, ModemDevicesComeLast) {
  ModemDevice(u"0001", u"BT-GPS 10", u"COM10:", 1);
  ModemDevice(u"0002", u"No port", u"COM", 1);
  ModemDevice(u"0003", u"Switched off (x)", u"COM8:", 2);
  ModemDevice(u"0004", u"", u"COM5:", 1);

  EXPECT_EQ(Search(), (std::vector<Found>{{u"BT-GPS 10", u"COM", 10, -1}, {u"Switched off (x)", u"COM", 8, 0}}));

  // The Microsoft pass meets "modem" as a device key without a name.
  std::vector<std::string> body = {"\tMicrosoft Bluetooth device found, opening key", "\t\tdeviceKey Valid",
                                   "\t\tdeviceKey closed"};
  for (const char* name : {"BT-GPS 10", "No port", "Switched off (x)", ""}) {
    body.push_back("\t\tWM6 deviceKey Valid");
    if (*name != '\0') body.push_back(name);
    body.push_back("\t\tWM6 deviceKey closed");
  }
  EXPECT_EQ(LogLines(), Lines(body));
}

TEST_F(BluetoothSearch, NoBluetoothStackFindsNothing) {
  EXPECT_TRUE(Search().empty());
  EXPECT_EQ(LogLines(), Lines({}));
}

// Values that cannot be read count as missing: a name too long for the
// 255-byte buffer, a name stored as a number, an "active" stored as text.
TEST_F(BluetoothSearch, UnreadableValuesAreEmpty) {
  ActiveSyncDevice(u"0001", std::u16string(127, u'n'), u"COM1:", 1);  // 254 bytes and the NUL do not fit
  ActiveSyncDevice(u"0002", std::u16string(126, u'm'), u"COM2:", 1);  // 252 bytes and the NUL fit
  SetDword(Path(kActiveSync, u"0003"), u"name", 5);
  SetString(Path(kActiveSync, u"0003"), u"port_name", u"COM3:");
  ActiveSyncDevice(u"0004", u"Text active", u"COM4:", 1);
  SetString(Path(kActiveSync, u"0004"), u"active", u"1");

  EXPECT_EQ(Search(), (std::vector<Found>{{std::u16string(126, u'm'), u"COM", 2, 1},
                                          {u"Text active", u"COM", 4, 0}}));
}

// At most 100 devices, counting those the caller's list already holds.
TEST_F(BluetoothSearch, StopsAtOneHundredDevices) {
  for (int i = 0; i < 105; ++i) {
    std::u16string key = platform::Utf8ToUtf16(std::to_string(1000 + i));
    ActiveSyncDevice(key, u"GPS " + key, u"COM" + platform::Utf8ToUtf16(std::to_string(i % 20)) + u":", 1);
  }
  DeviceList devices;
  const std::vector<Found> found = Search(&devices);
  ASSERT_EQ(found.size(), 100u);
  EXPECT_EQ(found.front().name, u"GPS 1000");
  EXPECT_EQ(found.back().name, u"GPS 1099");

  core_.FindAvailableBluetoothDevicesInternal(devices);
  EXPECT_EQ(devices.size(), 100u);
  devices.resize(98);
  core_.FindAvailableBluetoothDevicesInternal(devices);
  ASSERT_EQ(devices.size(), 100u);
  EXPECT_EQ(Describe(devices)[99].name, u"GPS 1001");
}

}  // namespace
