// The engine's value objects that carry a place: a destination, the answer to
// "where am I", the virtual position of map exploration and a Talking Lights
// beacon. Each holds an inner location object, made with it and released with
// it, and answers the location methods of its interface through it.
#pragma once

#include <memory>
#include <string_view>

#include "engine/core/ValueForwarding.h"
#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// A destination: a position and the side of its street (unknown when new).
class CDestinationObject : public com::ComClass<CDestinationObject, IDestinationObject> {
 public:
  HRESULT FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

  VOV_VALUE_PROPERTY(SideOfStreet, SideOfStreet, m_eSideOfStreet)
  VOV_FORWARD_LOCATION(m_pLocation)

 private:
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  SideOfStreet m_eSideOfStreet = UnknownSide;
};

// What the map says about a position. The engine fills the fields (and the
// position, through Location()) and hands the object out; clients only read.
// Texts start empty, the speed limit and number of lanes at -1, the numeric
// address-range ends at -1 (none).
class CWhereAmIObject : public com::ComClass<CWhereAmIObject, IWhereAmIObject> {
 public:
  struct Fields {
    com::Bstr city;
    com::Bstr streetName;
    com::Bstr streetNameShort;
    com::Bstr streetNameDetailed;
    com::Bstr area;
    com::Bstr borough;
    com::Bstr county;
    com::Bstr country;
    com::Bstr roadClassification;
    com::Bstr stateProvince;
    com::Bstr zipPostalcode;
    com::Bstr houseNumber;
    SHORT roadSpeedLimit = -1;
    SHORT numberOfLanes = -1;
    LONG addressLeftFrom = -1;
    LONG addressLeftTo = -1;
    LONG addressRightFrom = -1;
    LONG addressRightTo = -1;
    com::Bstr addressLeftFromAlphanumeric;
    com::Bstr addressLeftToAlphanumeric;
    com::Bstr addressRightFromAlphanumeric;
    com::Bstr addressRightToAlphanumeric;
    com::Bstr map;
    com::Bstr mapNameOnly;
    com::Bstr description;
  };

  HRESULT FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

  HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetNameShort(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetNameDetailed(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetArea(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetBorough(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCounty(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCountry(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRoadClassification(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStateProvince(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetZipPostalcode(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetHouseNumber(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRoadSpeedLimit(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfLanes(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftFrom(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftTo(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightFrom(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightTo(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftFromAlphanumeric(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftToAlphanumeric(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightFromAlphanumeric(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightToAlphanumeric(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetMap(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetMapNameOnly(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) override;
  VOV_FORWARD_LOCATION_QUERIES(m_pLocation)
  VOV_FORWARD_LOCATION_HEADING_QUERIES(m_pLocation)

  Fields& Details() { return m_fields; }
  ILocationObject* Location() const { return m_pLocation.get(); }

 private:
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  Fields m_fields;
};

// The virtual position: where the user explores the map, the street there, the
// heading in whole degrees (-1 for none), the side of the street (unknown when
// new) and whether the next move must cross the street (no when new). The
// heading-relative queries pass the object's own heading on.
class CVirtualObject : public com::ComClass<CVirtualObject, IVirtualObject> {
 public:
  HRESULT FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

  VOV_TEXT_PROPERTY(CurrentStreetName, m_bstrCurrentStreetName)
  // The heading in words: the compass word for HeadingCompass, else the
  // degrees; "direction unknown" without a heading.
  HRESULT STDMETHODCALLTYPE GetHeading(HeadingType type, BSTR* pVal) override;
  // -1 (no heading) is kept as it is; any other value is stored as its
  // magnitude modulo 360, so -30 is 30 and 725 is 5.
  HRESULT STDMETHODCALLTYPE SetHeading(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetHeadingDegrees(SHORT* pVal) override;
  VOV_VALUE_PROPERTY(SideOfStreet, SideOfStreet, m_eSideOfStreet)
  VOV_FLAG_PROPERTY(MustCrossStreet, m_bMustCrossStreet)
  VOV_FORWARD_LOCATION_TEXTS(m_pLocation)
  VOV_FORWARD_LOCATION_QUERIES(m_pLocation)
  HRESULT STDMETHODCALLTYPE GetRelativeHeading(ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(ILocationObject* to, IDescriptionConfigurationObject* config,
                                                         BSTR* pVal) override;

  ILocationObject* Location() const { return m_pLocation.get(); }

 private:
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  com::Bstr m_bstrCurrentStreetName;
  SHORT m_nHeading = -1;
  SideOfStreet m_eSideOfStreet = UnknownSide;
  VARIANT_BOOL m_bMustCrossStreet = VARIANT_FALSE;
};

// A Talking Lights beacon: a position, an id (empty when new) and an
// amplitude (0 when new), and the raw text in which beacons are kept:
// "<TL><id>" id "</id><am>" amplitude in decimal "</am></TL>".
class CTalkingLightObject : public com::ComClass<CTalkingLightObject, ITalkingLightObject> {
 public:
  HRESULT FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

  VOV_FORWARD_LOCATION(m_pLocation)
  VOV_TEXT_PROPERTY(Id, m_bstrId)
  VOV_VALUE_PROPERTY(Amplitude, LONG, m_nAmplitude)
  HRESULT STDMETHODCALLTYPE InternalGetRawData(BSTR* pVal) override;
  // Takes id and amplitude from a raw text. The text must start with "<TL>"
  // and hold "<id>" ... "</id>" followed by "<am>" ... "</am>", the amplitude a
  // decimal number (an optional "-", then digits) that fits in 32 bits.
  // Anything else changes nothing and answers S_FALSE.
  HRESULT STDMETHODCALLTYPE InternalSetFromRawData(BSTR rawData) override;

 private:
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  com::Bstr m_bstrId;
  LONG m_nAmplitude = 0;
};
