// Small helpers the whole engine shares.
#pragma once

#include <string_view>

#include "platform/os/wintypes.h"

namespace vov {

// The clock-face hour (1..12) at which a bearing lies seen from a heading,
// both in degrees; 0 when the difference is negative (a heading or bearing
// out of range).
INT GetClockFaceDirection(INT heading, INT bearing);

// The receiver's manual-fix state (inertialWithoutSatellites): set while an
// inertial or hand-entered fix (quality 7) comes without satellites, which
// changes some relative-direction words and lets the route and look-around
// checks run as in test mode. The fix-quality update sets and clears it.
bool IsManualFix();
void SetManualFix(bool manual);

// Appends a line to "gpsDebug.txt" in the phone folder `debugFolder`: a
// prefix "<mm dd yyyy hh:mm:ss> " with both flags, "<hh:mm:ss> " with the
// time alone, none without either; then the text as it is and a line end.
// Whether the log is on is decided once per process, at the first call with a
// non-empty folder: on when that folder exists. Calls with an empty folder
// before that write nothing; a file that cannot be opened loses the line.
void WriteDebugLog(std::u16string_view debugFolder, std::u16string_view text, bool withTime, bool withDate);
// Forgets the decision above (for tests that start afresh).
void ResetDebugLogDecision();

}  // namespace vov
