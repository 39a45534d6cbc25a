// The engine's point-of-interest value objects: the point itself, whose name,
// description and position live in an inner location object, and the category
// and subcategory objects that carry a category's number and spoken name. The
// database server creates points through the registry and fills them from its
// records; the engine builds the category objects and names them.
#pragma once

#include <memory>
#include <string_view>

#include "engine/core/ValueForwarding.h"
#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// A point-of-interest category: a number and a name. The name is read-only
// through the interface; the engine that builds the object sets it.
class CPOICategoryObject : public com::ComClass<CPOICategoryObject, IPOICategoryObject> {
 public:
  VOV_VALUE_PROPERTY(CategoryNumber, SHORT, m_nCategoryNumber)
  // An empty text while no name was set.
  HRESULT STDMETHODCALLTYPE GetCategoryName(BSTR* pVal) override;

  // E_OUTOFMEMORY, with the old name kept, when the copy cannot be made.
  [[nodiscard]] HRESULT SetCategoryName(std::u16string_view name);

 private:
  SHORT m_nCategoryNumber = 0;
  com::Bstr m_bstrCategoryName;
};

// A subcategory: its main category's number, its own number and its name. The
// name is read-only through the interface; the engine sets it.
class CPOISubCategoryObject : public com::ComClass<CPOISubCategoryObject, IPOISubCategoryObject> {
 public:
  VOV_VALUE_PROPERTY(MainCategoryNumber, SHORT, m_nMainCategoryNumber)
  VOV_VALUE_PROPERTY(SubCategoryNumber, SHORT, m_nSubCategoryNumber)
  // An empty text while no name was set.
  HRESULT STDMETHODCALLTYPE GetSubCategoryName(BSTR* pVal) override;

  // E_OUTOFMEMORY, with the old name kept, when the copy cannot be made.
  [[nodiscard]] HRESULT SetSubCategoryName(std::u16string_view name);

 private:
  SHORT m_nMainCategoryNumber = 0;
  SHORT m_nSubCategoryNumber = 0;
  com::Bstr m_bstrSubCategoryName;
};

// A point of interest. A new one is empty: key and found index -1, texts empty,
// numbers 0, flags false, side of street unknown, and an invalid position in
// its own inner location object, to which slots 7 to 24 forward. It always
// holds a category and a subcategory object (new ones start empty).
//
// Every own property is a plain Get/Set pair over one field: the category and
// subcategory numbers are fields of their own, apart from the numbers in the
// held category objects. Null out pointers answer E_POINTER; out parameters
// hold the answer on S_OK. Flags are stored as VARIANT_TRUE/VARIANT_FALSE.
class CPOIObject : public com::ComClass<CPOIObject, IPOIObject> {
 public:
  HRESULT FinalConstruct();

  // Forwarded to the inner location object.
  VOV_FORWARD_LOCATION(m_pLocation)

  VOV_VALUE_PROPERTY(Key, LONG, m_nKey)
  VOV_VALUE_PROPERTY(CategoryNumber, SHORT, m_nCategoryNumber)
  VOV_VALUE_PROPERTY(SubCategoryNumber, SHORT, m_nSubCategoryNumber)
  VOV_TEXT_PROPERTY(Author, m_texts.author)
  VOV_TEXT_PROPERTY(Date, m_texts.date)
  VOV_TEXT_PROPERTY(ThirdPartyId, m_texts.thirdPartyId)
  VOV_TEXT_PROPERTY(Tags, m_texts.tags)
  VOV_TEXT_PROPERTY(HoursOfOperation, m_texts.hoursOfOperation)
  VOV_TEXT_PROPERTY(AddressNumber, m_texts.addressNumber)
  VOV_TEXT_PROPERTY(Street, m_texts.street)
  VOV_TEXT_PROPERTY(City, m_texts.city)
  VOV_TEXT_PROPERTY(State, m_texts.state)
  VOV_TEXT_PROPERTY(Country, m_texts.country)
  VOV_TEXT_PROPERTY(ZipCode, m_texts.zipCode)
  VOV_TEXT_PROPERTY(PhoneNumber, m_texts.phoneNumber)
  VOV_TEXT_PROPERTY(FaxNumber, m_texts.faxNumber)
  VOV_TEXT_PROPERTY(WebAddress, m_texts.webAddress)
  VOV_TEXT_PROPERTY(Email, m_texts.email)
  VOV_TEXT_PROPERTY(MediaFile, m_texts.mediaFile)
  // True while the media file text is not empty.
  HRESULT STDMETHODCALLTYPE HasMediaFile(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE IsUserPOI(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetIsUserPOI(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsPrivate(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetIsPrivate(VARIANT_BOOL newVal) override;
  VOV_VALUE_PROPERTY(LatitudeOffset, double, m_dLatitudeOffset)
  VOV_VALUE_PROPERTY(LongitudeOffset, double, m_dLongitudeOffset)
  // Get hands out an added reference to the held object. Set takes a
  // reference to the new object and gives up the old one; a null object is
  // refused with E_POINTER and the held one is kept, so a point always has one.
  HRESULT STDMETHODCALLTYPE GetCategory(IPOICategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetCategory(IPOICategoryObject* newVal) override;
  HRESULT STDMETHODCALLTYPE GetSubCategory(IPOISubCategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetSubCategory(IPOISubCategoryObject* newVal) override;
  VOV_TEXT_PROPERTY(PDBFile, m_texts.pdbFile)
  VOV_VALUE_PROPERTY(FoundIndex, LONG, m_nFoundIndex)
  HRESULT STDMETHODCALLTYPE CanModifyRMFFields(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCanModifyRMFFields(VARIANT_BOOL newVal) override;
  VOV_VALUE_PROPERTY(SideOfStreet, SideOfStreet, m_eSideOfStreet)

 private:
  // The texts of the point's record besides its name and description.
  struct Texts {
    com::Bstr author;
    com::Bstr date;
    com::Bstr thirdPartyId;
    com::Bstr tags;
    com::Bstr hoursOfOperation;
    com::Bstr addressNumber;
    com::Bstr street;
    com::Bstr city;
    com::Bstr state;
    com::Bstr country;
    com::Bstr zipCode;
    com::Bstr phoneNumber;
    com::Bstr faxNumber;
    com::Bstr webAddress;
    com::Bstr email;
    com::Bstr mediaFile;
    com::Bstr pdbFile;
  };

  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  std::unique_ptr<IPOICategoryObject, com::Releaser> m_pCategory;
  std::unique_ptr<IPOISubCategoryObject, com::Releaser> m_pSubCategory;
  Texts m_texts;
  LONG m_nKey = -1;
  LONG m_nFoundIndex = -1;
  SHORT m_nCategoryNumber = 0;
  SHORT m_nSubCategoryNumber = 0;
  VARIANT_BOOL m_bIsUserPOI = VARIANT_FALSE;
  VARIANT_BOOL m_bIsPrivate = VARIANT_FALSE;
  VARIANT_BOOL m_bCanModifyRMFFields = VARIANT_FALSE;
  double m_dLatitudeOffset = 0.0;
  double m_dLongitudeOffset = 0.0;
  SideOfStreet m_eSideOfStreet = UnknownSide;
};
