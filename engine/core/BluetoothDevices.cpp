// The paired Bluetooth devices: the device object, the port-name rules and
// the search of the registry where the phone's Bluetooth stacks list what is
// paired.
#include "engine/core/BluetoothDevices.h"

#include <cstddef>

#include "engine/core/BoundedStringArray.h"
#include "engine/core/GPSCore.h"
#include "platform/com/accessors.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"

// ---- CBluetoothDeviceObject -----------------------------------------------------------------

HRESULT CBluetoothDeviceObject::GetName(BSTR* pVal) { return com::TextOut(pVal, m_bstrName); }
HRESULT CBluetoothDeviceObject::GetPortName(BSTR* pVal) { return com::TextOut(pVal, m_bstrPortName); }
HRESULT CBluetoothDeviceObject::GetPortNumber(SHORT* pVal) { return com::ValueOut(pVal, m_nPortNumber); }
HRESULT CBluetoothDeviceObject::IsActive(SHORT* pVal) { return com::ValueOut(pVal, m_nActive); }

// ---- port and device names ------------------------------------------------------------------

namespace vov {

// All the digits count: reading only the one character before the colon
// would make "COM10:" port "COM1" number 0.
bool SplitPortName(std::u16string_view text, std::u16string& port, SHORT& number) {
  const std::size_t colon = text.rfind(u':');
  if (colon == std::u16string_view::npos) return false;
  std::size_t start = colon;
  while (start > 0 && text[start - 1] >= u'0' && text[start - 1] <= u'9') --start;
  LONG value = start < colon ? 0 : -1;
  for (std::size_t i = start; i < colon && value >= 0; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 0x7FFF) value = -1;
  }
  port.assign(text.substr(0, start));
  number = static_cast<SHORT>(value);
  return true;
}

std::u16string CutDeviceName(std::u16string_view name) {
  return std::u16string(name.substr(0, name.find(u" (")));
}

}  // namespace vov

// ---- the registry search --------------------------------------------------------------------

namespace {

constexpr char16_t kActiveSyncDevicesKey[] = u"SOFTWARE\\Microsoft\\Bluetooth\\device\\activesync";
constexpr char16_t kDevicesKey[] = u"SOFTWARE\\Microsoft\\Bluetooth\\device";
constexpr char16_t kModemDevicesKey[] = u"SOFTWARE\\Microsoft\\Bluetooth\\device\\modem";

// The stacks keep names short; a longer value is unreadable and gives an
// empty text.
constexpr DWORD kStringValueBytes = 255;
// Subkeys looked at under one key. More than the devices kept, since the
// device key also holds the stacks' own subkeys ("activesync", "modem") and
// devices without a name.
constexpr INT kMaxSubKeys = 256;
// A registry key name is at most 255 characters.
constexpr DWORD kMaxKeyNameCharacters = 256;

// An open registry key, closed when it goes.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() { Close(); }

  // Opens `path` below HKEY_LOCAL_MACHINE for reading.
  bool Open(std::u16string_view path) {
    Close();
    const std::u16string terminated(path);
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, terminated.c_str(), 0, KEY_READ, &key_) == ERROR_SUCCESS;
  }
  void Close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// A string value; empty when it is missing, not a string or longer than
// the buffer.
std::u16string ReadString(const OpenKey& key, const char16_t* name) {
  char16_t buffer[kStringValueBytes / sizeof(char16_t) + 1] = {};
  DWORD type = REG_NONE;
  DWORD bytes = kStringValueBytes;
  if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  const std::size_t characters = bytes / sizeof(char16_t);
  return std::u16string(buffer, platform::BoundedLength(buffer, characters));
}

// A DWORD value; false (value untouched) when it is missing or of another type.
bool ReadDword(const OpenKey& key, const char16_t* name, DWORD& value) {
  DWORD type = REG_NONE;
  DWORD read = 0;
  DWORD bytes = sizeof(read);
  if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof(read)) {
    return false;
  }
  value = read;
  return true;
}

// Adds the full path ("<path>\<name>") of every subkey of the key at `path`,
// in the registry's order, while `paths` has room.
void ListSubKeyPaths(std::u16string_view path, vov::BoundedStringArray& paths) {
  OpenKey key;
  if (!key.Open(path)) return;
  for (DWORD index = 0;; ++index) {
    char16_t name[kMaxKeyNameCharacters] = {};
    DWORD length = kMaxKeyNameCharacters;
    const LONG result = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return;
    std::u16string full(path);
    full.push_back(u'\\');
    full.append(name, length);
    if (!paths.Add(full)) return;
  }
}

}  // namespace

void GPSCore::FindAvailableBluetoothDevicesInternal(
    std::vector<std::unique_ptr<IBluetoothDeviceObject, com::Releaser>>& devices) {
  Log(u"GPSCore::FindAvailableBluetoothDevicesInternal entered");
  const auto hasRoom = [&devices] { return devices.size() < static_cast<std::size_t>(kMaxBluetoothDevices); };
  // Appends a device; false when it could not be made.
  const auto add = [&devices](std::u16string_view name, std::u16string_view portName, SHORT portNumber,
                              SHORT active) {
    CBluetoothDeviceObject* device = nullptr;
    if (FAILED(CBluetoothDeviceObject::CreateObject(&device))) return false;
    std::unique_ptr<IBluetoothDeviceObject, com::Releaser> held(device);
    if (!device->m_bstrName.Assign(name) || !device->m_bstrPortName.Assign(portName)) return false;
    device->m_nPortNumber = portNumber;
    device->m_nActive = active;
    devices.push_back(std::move(held));
    return true;
  };
  bool found = false;

  // The stack that pairs through ActiveSync keeps one key per device with its
  // name and virtual port.
  {
    vov::BoundedStringArray keys(kMaxSubKeys);
    OpenKey root;
    if (root.Open(kActiveSyncDevicesKey)) {
      Log(u"\tactivesync key found");
      root.Close();
      ListSubKeyPaths(kActiveSyncDevicesKey, keys);
    }
    for (INT i = 0; i < keys.Count() && hasRoom(); ++i) {
      OpenKey key;
      if (!key.Open(keys.GetAt(i))) continue;
      const std::u16string name = ReadString(key, u"name");
      std::u16string portName = ReadString(key, u"port_name");
      DWORD active = 0;
      static_cast<void>(ReadDword(key, u"active", active));
      if (name.empty()) continue;
      SHORT portNumber = -1;
      std::u16string port;
      if (vov::SplitPortName(portName, port, portNumber)) portName = port;
      if (add(vov::CutDeviceName(name), portName, portNumber, static_cast<SHORT>(active))) found = true;
    }
  }

  // The Microsoft stack keeps one key per device with its services below it;
  // a device with exactly one service is reached on that service's channel.
  if (!found) {
    vov::BoundedStringArray keys(kMaxSubKeys);
    ListSubKeyPaths(kDevicesKey, keys);
    for (INT i = 0; i < keys.Count() && hasRoom(); ++i) {
      Log(u"\tMicrosoft Bluetooth device found, opening key");
      const std::u16string path = keys.GetAt(i);
      OpenKey key;
      if (!key.Open(path)) continue;
      Log(u"\t\tdeviceKey Valid");
      const std::u16string name = ReadString(key, u"name");
      if (!name.empty()) {
        vov::BoundedStringArray services(kMaxSubKeys);
        ListSubKeyPaths(path + u"\\Services", services);
        OpenKey service;
        if (services.Count() == 1) {
          Log(u"\t\tservicesize =1");
          if (service.Open(services.GetAt(0))) {
            Log(u"\t\t\tservice key opened");
            DWORD enabled = 0;
            DWORD channel = 0;
            if (ReadDword(service, u"enabled", enabled)) Log(u"\t\t\tactive DWORD loaded");
            // Without a channel the port is not known.
            const bool hasChannel = ReadDword(service, u"channel", channel);
            if (hasChannel) Log(u"\t\t\tchannel DWORD loaded");
            service.Close();
            Log(u"\t\t\tserviceKey key closed");
            Log(u"\t\t\tAdding to Bluetooth Devices");
            const SHORT portNumber = hasChannel && channel <= 0x7FFF ? static_cast<SHORT>(channel) : SHORT{-1};
            if (add(name, u"COM", portNumber, enabled != 0 ? SHORT{-1} : SHORT{0})) found = true;
            Log(u"\t\t\tFinished Adding");
          }
        }
        Log(u"\tDeleting Servicekeys");
      }
      key.Close();
      Log(u"\t\tdeviceKey closed");
    }
  }

  // Windows Mobile 6 lists paired serial devices under "modem" with the port
  // they were given; a device without a port cannot be used.
  if (!found) {
    vov::BoundedStringArray keys(kMaxSubKeys);
    ListSubKeyPaths(kModemDevicesKey, keys);
    for (INT i = 0; i < keys.Count() && hasRoom(); ++i) {
      OpenKey key;
      if (!key.Open(keys.GetAt(i))) continue;
      Log(u"\t\tWM6 deviceKey Valid");
      const std::u16string name = ReadString(key, u"devicename");
      const std::u16string portName = ReadString(key, u"port_name");
      DWORD active = 0;
      static_cast<void>(ReadDword(key, u"active", active));
      if (!name.empty()) {
        Log(name);
        std::u16string port;
        SHORT portNumber = -1;
        if (vov::SplitPortName(portName, port, portNumber)) {
          static_cast<void>(add(name, port, portNumber, active == 1 ? SHORT{-1} : SHORT{0}));
        }
      }
      key.Close();
      Log(u"\t\tWM6 deviceKey closed");
    }
  }

  Log(u"\tDeleting Helper");
  Log(u"\tHelper = NULL");
  Log(u"\tkeys = NullIAndDeleteItems");
  Log(u"GPSCore::FindAvailableBluetoothDevicesInternal exited");
}
