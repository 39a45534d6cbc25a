// What the engine's value objects are written with: plain Get/Set pairs over
// one field, held object references handed out and replaced, and the location
// methods that a position-carrying object answers through its inner location
// object. Internal to engine/core.
#pragma once

#include <memory>

#include "engine/core/LocationObject.h"
#include "platform/com/accessors.h"
#include "typelib/VovLib.h"
#include "platform/com/owners.h"

namespace vov::detail {

// Hands out an added reference to `held`, which is never null.
template <class I>
HRESULT ObjectOut(I** out, const std::unique_ptr<I, com::Releaser>& held) {
  if (out == nullptr) return E_POINTER;
  held->AddRef();
  *out = held.get();
  return S_OK;
}

// Takes a reference to `object` before giving up the held one, so setting the
// object already held keeps it alive. A null object is refused with E_POINTER
// and the held one is kept.
template <class I>
HRESULT ObjectIn(std::unique_ptr<I, com::Releaser>& held, I* object) {
  if (object == nullptr) return E_POINTER;
  object->AddRef();
  held.reset(object);
  return S_OK;
}

// A new empty location object for a value object to hold; on failure `inner`
// stays as it was and the error is answered.
inline HRESULT CreateInnerLocation(std::unique_ptr<ILocationObject, com::Releaser>& inner) {
  ILocationObject* location = nullptr;
  HRESULT hr = CLocationObject::CreateInstance(&location);
  if (FAILED(hr)) return hr;
  inner.reset(location);
  return S_OK;
}

}  // namespace vov::detail

// The location methods of a position-carrying value object, each calling the
// method of the same name on `inner` (an expression giving the inner
// ILocationObject, never null while the object lives) with the same arguments
// and answering its result. They sit in a class body; the interface fixes
// their slots, not the order in which they are written here.

// The name, the description and copying a whole location in.
#define VOV_FORWARD_LOCATION_TEXTS(inner)                                                                  \
  HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) override { return (inner)->SetDescription(newVal); } \
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override { return (inner)->GetName(pVal); }                 \
  HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) override { return (inner)->SetName(newVal); }              \
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) override { return (inner)->GetDescription(pVal); }   \
  HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) override { return (inner)->SetLocation(other); }

// Setting the coordinates one by one.
#define VOV_FORWARD_LOCATION_COORDINATES(inner)                                                                \
  HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) override { return (inner)->SetLatitude(newVal); }   \
  HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) override { return (inner)->SetLongitude(newVal); }

// The queries that take no heading.
#define VOV_FORWARD_LOCATION_QUERIES(inner)                                                                   \
  HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) override { return (inner)->IsValid(pVal); }          \
  HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) override { return (inner)->GetLocation(pVal); } \
  HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) override { return (inner)->GetLatitude(pVal); }        \
  HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) override { return (inner)->GetLongitude(pVal); }      \
  HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) override {         \
    return (inner)->GetBearing(type, to, pVal);                                                               \
  }                                                                                                           \
  HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) override {                          \
    return (inner)->GetDistance(to, pVal);                                                                    \
  }                                                                                                           \
  HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) override {                   \
    return (inner)->GetBearingDegrees(to, pVal);                                                              \
  }                                                                                                           \
  HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) override {               \
    return (inner)->GetDistanceDescription(to, pVal);                                                         \
  }

// The queries that speak relative to the caller's current heading.
#define VOV_FORWARD_LOCATION_HEADING_QUERIES(inner)                                                               \
  HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) override { \
    return (inner)->GetRelativeHeading(currentHeading, to, pVal);                                                 \
  }                                                                                                               \
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal)         \
      override {                                                                                                  \
    return (inner)->GetDistanceAndHeading(currentHeading, to, pVal);                                              \
  }                                                                                                               \
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,              \
                                                         IDescriptionConfigurationObject* config, BSTR* pVal)     \
      override {                                                                                                  \
    return (inner)->GetDistanceAndHeadingAndName(currentHeading, to, config, pVal);                               \
  }

// The whole location block: texts, coordinates and every query.
#define VOV_FORWARD_LOCATION(inner)         \
  VOV_FORWARD_LOCATION_TEXTS(inner)         \
  VOV_FORWARD_LOCATION_COORDINATES(inner)   \
  VOV_FORWARD_LOCATION_QUERIES(inner)       \
  VOV_FORWARD_LOCATION_HEADING_QUERIES(inner)

// A Get/Set pair over one field, in a class body: Get<name> hands the value out
// (E_POINTER for a null pointer), Set<name> stores it.
#define VOV_VALUE_PROPERTY(name, type, field)                                                     \
  HRESULT STDMETHODCALLTYPE Get##name(type* pVal) override { return com::ValueOut(pVal, field); } \
  HRESULT STDMETHODCALLTYPE Set##name(type newVal) override {                                     \
    field = newVal;                                                                               \
    return S_OK;                                                                                  \
  }

// The same for a flag: any non-zero value written is stored as VARIANT_TRUE.
#define VOV_FLAG_PROPERTY(name, field)                                                                    \
  HRESULT STDMETHODCALLTYPE Get##name(VARIANT_BOOL* pVal) override { return com::ValueOut(pVal, field); } \
  HRESULT STDMETHODCALLTYPE Set##name(VARIANT_BOOL newVal) override {                                     \
    field = com::Flag(newVal);                                                                            \
    return S_OK;                                                                                          \
  }

// The same for a text: copies go in and out; a null text is the empty text.
#define VOV_TEXT_PROPERTY(name, field)                                                           \
  HRESULT STDMETHODCALLTYPE Get##name(BSTR* pVal) override { return com::TextOut(pVal, field); } \
  HRESULT STDMETHODCALLTYPE Set##name(BSTR newVal) override { return com::TextIn(field, newVal); }
