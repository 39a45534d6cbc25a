// The device root and the mapping of the phone's paths onto it.
//
// The phone's folders ("\CompactFlash\Maps", "\Storage Card\...",
// "\Program Files\...") live below one host folder, the device root: taken from
// SetDeviceRoot, else the TIRVANE_ROOT environment variable, else "./device".
// "\A\b" becomes "<root>/A/b". Path rules:
//   - a path starting with '\' is a phone path, below the device root;
//   - a path starting with '/' is already a host path and is used as it is;
//   - any other path is taken relative to the device root.
// Both '\' and '/' separate components. Each component is matched without
// regard to case against what exists on disk, as the phone's file system
// ignores case; components that do not exist keep the case given. "." and
// ".." are taken lexically, and a phone or relative path never climbs above
// the device root ("\..\x" is "<root>/x").
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A relative folder is taken from the current directory; an empty one goes
// back to the default (TIRVANE_ROOT, else "./device").
void SetDeviceRoot(const std::string& hostFolder);
// The device root as an absolute host path without a trailing slash.
std::string DeviceRoot();

// Host path for a phone path (UTF-16 or UTF-8), resolved as described above.
std::string HostPath(std::u16string_view phonePath);
std::string HostPathUtf8(std::string_view phonePath);

}  // namespace platform
