// The engine's point-of-interest value objects: the point itself, whose name,
// description and position live in an inner location object, and the category
// and subcategory objects that carry a category's number and spoken name. The
// database server creates points through the registry and fills them from its
// records; the engine builds the category objects and names them.
#pragma once

#include <memory>
#include <string_view>

#include "engine/core/ValueForwarding.h"
#include "engine/core/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// A point-of-interest category: a number and a name. The name is read-only
// through the interface; the engine that builds the object sets it.
class CPOICategoryObject : public com::ComClass<CPOICategoryObject, IPOICategoryObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) override;
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
  HRESULT STDMETHODCALLTYPE GetMainCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMainCategoryNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) override;
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

  HRESULT STDMETHODCALLTYPE GetKey(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE SetKey(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetAuthor(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetAuthor(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetDate(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetDate(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetThirdPartyId(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetThirdPartyId(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetTags(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetTags(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetHoursOfOperation(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetHoursOfOperation(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressNumber(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetAddressNumber(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetStreet(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetStreet(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCity(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetState(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetState(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetCountry(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCountry(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetZipCode(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetZipCode(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetPhoneNumber(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetPhoneNumber(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetFaxNumber(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetFaxNumber(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetWebAddress(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetWebAddress(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetEmail(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetEmail(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetMediaFile(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMediaFile(BSTR newVal) override;
  // True while the media file text is not empty.
  HRESULT STDMETHODCALLTYPE HasMediaFile(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE IsUserPOI(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetIsUserPOI(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsPrivate(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetIsPrivate(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetLatitudeOffset(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetLatitudeOffset(double newVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitudeOffset(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetLongitudeOffset(double newVal) override;
  // Get hands out an added reference to the held object. Set takes a
  // reference to the new object and gives up the old one; a null object is
  // refused with E_POINTER and the held one is kept, so a point always has one.
  HRESULT STDMETHODCALLTYPE GetCategory(IPOICategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetCategory(IPOICategoryObject* newVal) override;
  HRESULT STDMETHODCALLTYPE GetSubCategory(IPOISubCategoryObject** pVal) override;
  HRESULT STDMETHODCALLTYPE SetSubCategory(IPOISubCategoryObject* newVal) override;
  HRESULT STDMETHODCALLTYPE GetPDBFile(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetPDBFile(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetFoundIndex(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE SetFoundIndex(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE CanModifyRMFFields(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCanModifyRMFFields(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetSideOfStreet(SideOfStreet* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSideOfStreet(SideOfStreet newVal) override;

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
