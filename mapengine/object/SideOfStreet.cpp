// Side of street and street orientation at a position. PLACEHOLDER: the
// operations are being written.
#include "mapengine/object/CMap.h"

HRESULT CMap::GetSideOfStreet(double, double, LONG, INT, INT*) { return E_NOTIMPL; }

HRESULT CMap::GetStreetOrientation(double, double, SHORT, SHORT*) { return E_NOTIMPL; }

