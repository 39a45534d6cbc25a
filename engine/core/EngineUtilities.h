// Small helpers the whole engine shares.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/owners.h"
#include "platform/os/wintypes.h"

namespace vov {

// ---- folders and file names ----
// Both separators count everywhere: phone paths use "\", and host paths and
// folders typed by users may use "/".

// The folder with "\" appended unless it already ends in "\" or "/".
std::u16string MakeDirectoryPath(std::u16string_view folder);
// The same for a BSTR (null is the empty text); a new text owned by the
// result. std::bad_alloc when memory runs out.
com::Bstr MakeDirectoryPath(BSTR folder);
// The path without one trailing "\" or "/"; an empty path stays empty.
std::u16string StripTrailingSeparator(std::u16string_view path);
// The file name of a path (what follows its last "\" or "/") without its
// extension (from its last "." on): "\Routes\walk.rte" gives "walk". A
// point in a folder name is not an extension: "\My.Folder\file" gives
// "file".
std::u16string GetBaseNameWithoutExtension(std::u16string_view path);
// True when the path (which may end in a pattern such as "*.rmf") finds a
// file or folder.
bool FileExists(std::u16string_view path);

// ---- angles and tags ----

// True when two directions in degrees lie less than `tolerance` apart, either
// way round north: 350 and 10 are 20 degrees apart.
bool IsAngleWithinTolerance(INT a, INT b, INT tolerance);

// The text between the first "<tag>" and the "</tag>" that follows it; empty
// when either is missing.
std::u16string ExtractTagText(std::u16string_view text, std::u16string_view tag);

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
