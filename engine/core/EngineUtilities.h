// Small helpers the whole engine shares.
#pragma once

#include "platform/os/wintypes.h"

namespace vov {

// The clock-face hour (1..12) at which a bearing lies seen from a heading,
// both in degrees; 0 when the difference is negative (a heading or bearing
// out of range).
INT GetClockFaceDirection(INT heading, INT bearing);

// The receiver's manual-fix state: set while it reports a fix entered by
// hand (quality 7), which changes some relative-direction words.
bool IsManualFix();
void SetManualFix(bool manual);

}  // namespace vov
