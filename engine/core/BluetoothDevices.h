// The paired Bluetooth devices the user can choose a receiver from: the
// device object handed to the user program and to the receiver settings, and
// how the names the phone's Bluetooth stack leaves in the registry become a
// device name, a port name and a port number. The registry search itself is
// GPSCore::FindAvailableBluetoothDevicesInternal (BluetoothDevices.cpp).
#pragma once

#include <string>
#include <string_view>

#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// One paired device: its name, the serial port it is reached on ("COM" and 6
// for "COM6:") and whether the stack has it switched on.
class CBluetoothDeviceObject : public com::ComClass<CBluetoothDeviceObject, IBluetoothDeviceObject> {
 public:
  // Copies of the texts (empty, never null, when not set); E_POINTER for a
  // null out pointer.
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetPortName(BSTR* pVal) override;
  // -1 when the port number is not known.
  HRESULT STDMETHODCALLTYPE GetPortNumber(SHORT* pVal) override;
  // Non-zero when the device is active.
  HRESULT STDMETHODCALLTYPE IsActive(SHORT* pVal) override;

  // Filled by the engine when it finds the device.
  com::Bstr m_bstrName;
  com::Bstr m_bstrPortName;
  SHORT m_nPortNumber = -1;
  SHORT m_nActive = 0;
};

namespace vov {

// Splits a port name as the Bluetooth stack stores it: the digits just
// before the last ":" are the port number and what comes before them is the
// port ("COM6:" gives "COM" and 6, "COM10:" gives "COM" and 10). Without
// digits there the number is -1, as it is when the digits do not fit a
// 16-bit number. False, with `port` and `number` untouched, when the text
// holds no ":".
bool SplitPortName(std::u16string_view text, std::u16string& port, SHORT& number);

// A device name as it is offered to the user: cut before the first " ("
// ("Holux GR-231 (Serial)" gives "Holux GR-231").
std::u16string CutDeviceName(std::u16string_view name);

}  // namespace vov
