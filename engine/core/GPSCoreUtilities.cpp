// The engine's utilities on the current position and the receiver's state.
#include "engine/core/GPSCore.h"

// ---- to be written ----
bool GPSCore::MatchNameInsensitive(std::u16string_view, std::u16string_view) { return false; }
SHORT GPSCore::GetHeadingDegreesForMode(Mode) { return -1; }
void GPSCore::GetCurrentLocationAndHeading(Mode, ILocationObject**, SHORT*) {}
bool GPSCore::IsNearCurrentLocation(Mode, ILocationObject*) { return false; }
LONG GPSCore::GetBearingDegreesBetween(ILocationObject*, ILocationObject*) { return -1; }
LONG GPSCore::GetIntersectionSearchDistance() { return 0; }
void GPSCore::SetLastDescription(UINT, std::initializer_list<platform::FormatArg>) {}
std::u16string GPSCore::GetLastDescription() const { return {}; }
HRESULT GPSCore::GPSGetTimeInternal(IGPSTimeObject**) { return E_NOTIMPL; }
HRESULT GPSCore::GPSGetStatusInternal(IGPSStatusObject**) { return E_NOTIMPL; }
void GPSCore::FindAvailableBluetoothDevicesInternal(std::vector<std::unique_ptr<IBluetoothDeviceObject, com::Releaser>>&) {}
