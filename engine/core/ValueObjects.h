// The engine's value objects for addresses and streets and its configuration
// objects: the address and its street, the parameters of address and
// point-of-interest searches, what descriptions and waypoint announcements
// include, and the receiver's time. Each holds plain fields; getters answer
// E_POINTER for a null out pointer, texts are copied in and out.
#pragma once

#include <memory>
#include <string_view>

#include "engine/core/ValueForwarding.h"
#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// The map, city, street and postal code of a street: four texts, empty when new.
class CStreetObject : public com::ComClass<CStreetObject, IStreetObject> {
 public:
  VOV_TEXT_PROPERTY(City, m_bstrCity)
  VOV_TEXT_PROPERTY(Map, m_bstrMap)
  VOV_TEXT_PROPERTY(Street, m_bstrStreet)
  VOV_TEXT_PROPERTY(ZipPostalcode, m_bstrZipPostalcode)

 private:
  com::Bstr m_bstrMap;
  com::Bstr m_bstrCity;
  com::Bstr m_bstrStreet;
  com::Bstr m_bstrZipPostalcode;
};

// An address: its text, its name and position in an inner location object
// (slots 12 to 27 forward to it) and its map, city, street and postal code in
// an inner street object, made through the registry like any client would.
// When the street object cannot be made the address still works, without a
// street: the street methods then answer E_UNEXPECTED (getters with a null
// result) and store nothing.
class CAddressObject : public com::ComClass<CAddressObject, IAddressObject> {
 public:
  HRESULT FinalConstruct();

  HRESULT STDMETHODCALLTYPE GetAddress(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMap(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE SetCity(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE SetZipPostalcode(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE SetStreet(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override { return m_pLocation->GetName(pVal); }
  HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) override { return m_pLocation->SetName(newVal); }
  VOV_FORWARD_LOCATION_COORDINATES(m_pLocation)
  VOV_FORWARD_LOCATION_QUERIES(m_pLocation)
  VOV_FORWARD_LOCATION_HEADING_QUERIES(m_pLocation)
  HRESULT STDMETHODCALLTYPE GetStreetObject(IStreetObject** pVal) override;
  HRESULT STDMETHODCALLTYPE GetZipPostalcode(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreet(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) override;

  // The address text the engine fills in; E_OUTOFMEMORY keeps the old one.
  [[nodiscard]] HRESULT SetAddress(std::u16string_view text);
  bool HasStreet() const { return m_pStreet != nullptr; }

 private:
  HRESULT StreetText(HRESULT (STDMETHODCALLTYPE IStreetObject::*get)(BSTR*), BSTR* pVal);
  HRESULT PutStreetText(HRESULT (STDMETHODCALLTYPE IStreetObject::*set)(BSTR), BSTR newVal);

  com::Bstr m_bstrAddress;
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  std::unique_ptr<IStreetObject, com::Releaser> m_pStreet;
};

// The parameters of an address search, with the defaults of a new search:
// no name, no last index (-1), names starting with the text, no house number,
// results type 0, " - " between the ends of an address range, no limit (-1).
class CAddressSearchConfigurationObject
    : public com::ComClass<CAddressSearchConfigurationObject, IAddressSearchConfigurationObject> {
 public:
  HRESULT FinalConstruct() { return com::TextIn(m_bstrAddressRangeIndicator, std::u16string_view(u" - ")); }

  VOV_TEXT_PROPERTY(SearchName, m_bstrSearchName)
  VOV_VALUE_PROPERTY(LastSearchIndex, LONG, m_nLastSearchIndex)
  VOV_FLAG_PROPERTY(StartsWith, m_bStartsWith)
  VOV_TEXT_PROPERTY(StreetAddressNumber, m_bstrStreetAddressNumber)
  VOV_VALUE_PROPERTY(ResultsType, AddressResults, m_eResultsType)
  VOV_TEXT_PROPERTY(AddressRangeIndicator, m_bstrAddressRangeIndicator)
  VOV_VALUE_PROPERTY(MaxItemsToReturn, LONG, m_nMaxItemsToReturn)

 private:
  com::Bstr m_bstrSearchName;
  LONG m_nLastSearchIndex = -1;
  VARIANT_BOOL m_bStartsWith = VARIANT_TRUE;
  com::Bstr m_bstrStreetAddressNumber;
  AddressResults m_eResultsType{};
  com::Bstr m_bstrAddressRangeIndicator;
  LONG m_nMaxItemsToReturn = -1;
};

// The parameters of a point-of-interest search, with the defaults of a new
// search. The text searched for is put into one of the text fields of the
// search object, a point of its own (a new empty one at first); the category
// objects and numbers are read from and written to that object.
class CPOISearchConfigurationObject
    : public com::ComClass<CPOISearchConfigurationObject, IPOISearchConfigurationObject> {
 public:
  HRESULT FinalConstruct();

  HRESULT STDMETHODCALLTYPE GetMaxSearchResults(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMaxSearchResults(LONG newVal) override;
  // Get hands out an added reference; Set shares the caller's object and
  // refuses a null one with E_POINTER, keeping the one held.
  HRESULT STDMETHODCALLTYPE GetPOISearchObject(IPOIObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetPOISearchObject(IPOIObject* newVal) override;
  HRESULT STDMETHODCALLTYPE GetPOICategory(IPOICategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetPOICategory(IPOICategoryObject* newVal) override;
  HRESULT STDMETHODCALLTYPE GetPOISubCategory(IPOISubCategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetPOISubCategory(IPOISubCategoryObject* newVal) override;
  HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetMaxSearchTime(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMaxSearchTime(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE SetUserPrivateOnly(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetUserPrivateOnly(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetUserPublicOnly(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetUserPublicOnly(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE IsNewSearch(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetNewSearch(VARIANT_BOOL newVal) override;
  VOV_FLAG_PROPERTY(StartsWithSearch, m_bStartsWithSearch)
  HRESULT STDMETHODCALLTYPE SetDistanceStarting(double newVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceStarting(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCurrentHeadingDegrees(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetCurrentHeadingDegrees(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSearchDirection(Directions newVal) override;
  HRESULT STDMETHODCALLTYPE GetSearchDirection(Directions* pVal) override;
  HRESULT STDMETHODCALLTYPE SetIncludeUserPrivateAsWell(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IncludeUserPrivateAsWell(VARIANT_BOOL* pVal) override;
  // The first non-empty text of the search object, in the order name,
  // description, author, tags, the address fields, hours, phone, fax, web
  // address, e-mail, media file, and the field it was found in; an empty text
  // and POI_FIELD_NAME when every one is empty.
  HRESULT STDMETHODCALLTYPE GetMainSearchString(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetMainSearchField(POIFields* pVal) override;
  VOV_FLAG_PROPERTY(WholeWord, m_bWholeWord)

 private:
  // The main search text and its field; the text is left null on failure.
  HRESULT FindMainSearchField(BSTR* text, POIFields* field);

  std::unique_ptr<IPOIObject, com::Releaser> m_pSearchObject;
  LONG m_nMaxSearchResults = 25;
  SHORT m_nMaxSearchTime = 10;
  VARIANT_BOOL m_bNewSearch = VARIANT_TRUE;
  VARIANT_BOOL m_bUserPrivateOnly = VARIANT_FALSE;
  VARIANT_BOOL m_bUserPublicOnly = VARIANT_FALSE;
  VARIANT_BOOL m_bStartsWithSearch = VARIANT_FALSE;
  VARIANT_BOOL m_bWholeWord = VARIANT_FALSE;
  VARIANT_BOOL m_bIncludeUserPrivateAsWell = VARIANT_FALSE;
  double m_dDistanceStarting = -1.0;
  Directions m_eSearchDirection = DirectionAll;
  SHORT m_nCurrentHeadingDegrees = -1;
};

// What a distance-and-heading text includes; all off when new.
class CDescriptionConfigurationObject
    : public com::ComClass<CDescriptionConfigurationObject, IDescriptionConfigurationObject> {
 public:
  VOV_FLAG_PROPERTY(IncludeDescriptionDetails, m_bIncludeDescriptionDetails)
  VOV_FLAG_PROPERTY(IncludeCompassDirection, m_bIncludeCompassDirection)
  VOV_FLAG_PROPERTY(DirectionInformationFirst, m_bDirectionInformationFirst)

 private:
  VARIANT_BOOL m_bIncludeDescriptionDetails = VARIANT_FALSE;
  VARIANT_BOOL m_bIncludeCompassDirection = VARIANT_FALSE;
  VARIANT_BOOL m_bDirectionInformationFirst = VARIANT_FALSE;
};

// What a point-of-interest description includes: dynamic descriptions with
// tags when new, the fixed parts off.
class CPOIDescriptionConfigurationObject
    : public com::ComClass<CPOIDescriptionConfigurationObject, IPOIDescriptionConfigurationObject> {
 public:
  VOV_FLAG_PROPERTY(DescriptionDynamic, m_bDescriptionDynamic)
  VOV_FLAG_PROPERTY(NonDynamicIncludeAddress, m_bNonDynamicIncludeAddress)
  VOV_FLAG_PROPERTY(NonDynamicIncludeCategoryAndSubCategory, m_bNonDynamicIncludeCategoryAndSubCategory)
  VOV_FLAG_PROPERTY(NonDynamicIncludeDistance, m_bNonDynamicIncludeDistance)
  VOV_FLAG_PROPERTY(IncludeTags, m_bIncludeTags)

 private:
  VARIANT_BOOL m_bDescriptionDynamic = VARIANT_TRUE;
  VARIANT_BOOL m_bNonDynamicIncludeAddress = VARIANT_FALSE;
  VARIANT_BOOL m_bNonDynamicIncludeCategoryAndSubCategory = VARIANT_FALSE;
  VARIANT_BOOL m_bNonDynamicIncludeDistance = VARIANT_FALSE;
  VARIANT_BOOL m_bIncludeTags = VARIANT_TRUE;
};

// What a waypoint announcement includes and the movement it is computed for.
// A new object includes everything; its flags then read 1 (true, though not
// VARIANT_TRUE: readers test for non-zero), no heading (-1), no speed (-1),
// GPSMode and no distance to the next waypoint (-1).
class CWaypointConfigurationObject
    : public com::ComClass<CWaypointConfigurationObject, IWaypointConfigurationObject> {
 public:
  VOV_FLAG_PROPERTY(IncludeDistance, m_bIncludeDistance)
  VOV_FLAG_PROPERTY(IncludeETA, m_bIncludeETA)
  VOV_FLAG_PROPERTY(IncludeHeading, m_bIncludeHeading)
  VOV_FLAG_PROPERTY(IncludeTurningInstructions, m_bIncludeTurningInstructions)
  VOV_FLAG_PROPERTY(IncludeUserWaypointDescriptions, m_bIncludeUserWaypointDescriptions)
  VOV_VALUE_PROPERTY(Heading, SHORT, m_nHeading)
  VOV_VALUE_PROPERTY(Speed, double, m_dSpeed)
  VOV_VALUE_PROPERTY(Mode, Mode, m_eMode)
  VOV_VALUE_PROPERTY(DistanceNextWP, double, m_dDistanceNextWP)

 private:
  VARIANT_BOOL m_bIncludeDistance = 1;
  VARIANT_BOOL m_bIncludeETA = 1;
  VARIANT_BOOL m_bIncludeHeading = 1;
  VARIANT_BOOL m_bIncludeTurningInstructions = 1;
  VARIANT_BOOL m_bIncludeUserWaypointDescriptions = 1;
  SHORT m_nHeading = -1;
  double m_dSpeed = -1.0;
  Mode m_eMode = GPSMode;
  double m_dDistanceNextWP = -1.0;
};

// The receiver's date and time of day, all 0 (unknown) when new.
class CGPSTimeObject : public com::ComClass<CGPSTimeObject, IGPSTimeObject> {
 public:
  VOV_VALUE_PROPERTY(Year, SHORT, m_nYear)
  VOV_VALUE_PROPERTY(Month, SHORT, m_nMonth)
  VOV_VALUE_PROPERTY(Day, SHORT, m_nDay)
  VOV_VALUE_PROPERTY(Hour, SHORT, m_nHour)
  VOV_VALUE_PROPERTY(Minutes, SHORT, m_nMinutes)
  VOV_VALUE_PROPERTY(Seconds, SHORT, m_nSeconds)
  // VARIANT_TRUE when any of the six fields is not 0.
  HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) override;

 private:
  SHORT m_nYear = 0;
  SHORT m_nMonth = 0;
  SHORT m_nDay = 0;
  SHORT m_nHour = 0;
  SHORT m_nMinutes = 0;
  SHORT m_nSeconds = 0;
};
