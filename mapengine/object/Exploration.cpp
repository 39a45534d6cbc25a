// Virtual exploration: walking the map street by street without a position
// fix. PLACEHOLDER: the operations are being written.
#include "mapengine/object/CMap.h"

HRESULT CMap::FindInitialHeadingAndCrossStreets(double, double, BSTR, BSTR, BSTR*, VARIANT*, SHORT*) {
  return E_NOTIMPL;
}

HRESULT CMap::MoveToNextCrossStreet(double, double, CARTOVELSideOfStreet, BSTR*, SHORT*, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CMap::CrossThisStreet(double, double, CARTOVELSideOfStreet, BSTR*, SHORT*, VARIANT*) { return E_NOTIMPL; }

HRESULT CMap::MoveDownStreet(double*, double*, SHORT*) { return E_NOTIMPL; }

HRESULT CMap::UpdateCrossStreets(double, double, SHORT, CARTOVELSideOfStreet, VARIANT_BOOL, BSTR*, VARIANT*) {
  return E_NOTIMPL;
}
