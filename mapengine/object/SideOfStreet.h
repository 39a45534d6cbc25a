// Side of street: on which side of the street, as seen along the user's
// heading, the house numbers of one parity lie (CMap::GetSideOfStreet reads
// the numbers at the user's position and asks SideOfStreetForParity).
#pragma once

#include "typelib/CartovelLib.h"
#include "mapengine/object/StreetWalk.h"
#include "platform/os/wintypes.h"

// Values of the parity argument of GetSideOfStreet.
inline constexpr INT kHouseNumberParityUnknown = 0;
inline constexpr INT kHouseNumberParityOdd = 1;
inline constexpr INT kHouseNumberParityEven = 2;

// The side on which numbers of `parity` (odd or even) lie, from the numbers
// of both sides along the heading. The left side decides when it has a
// number, else the right side: numbers of its parity lie on it, the others
// across the street. A side's parity is that of its from number, or of its
// to number when the range starts at 0. Unknown when no side has a positive
// number (all 0, or unknown numbers, -1), where the numbers cannot tell the
// side (both sides of one parity, or a side whose two numbers differ in
// parity), and for any other parity value.
CARTOVELSideOfStreet SideOfStreetForParity(const StreetSegmentNumbers& numbers, INT parity);
