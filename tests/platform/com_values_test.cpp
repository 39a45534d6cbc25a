// Tests of the COM value types: GUID texts, BSTRs, VARIANTs and SAFEARRAYs,
// including what they do with malformed input and that every object reference
// they take is given back.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/atl.h"
#include "platform/com/oleauto.h"
#include "platform/com/runtime.h"
#include "tests/platform/com_test_server.h"
#include "tests/platform/test_counter.h"

namespace {

// ---- helpers ------------------------------------------------------------------------

using comtest::CTestCounter;

// A new counter whose total starts at `total`, as IDispatch, one reference.
IDispatch* MakeCounter(LONG total) {
  CTestCounter* counter = nullptr;
  EXPECT_EQ(CTestCounter::CreateObject(&counter), S_OK);
  LONG ignored = 0;
  counter->Add(total, &ignored);
  IDispatch* dispatch = nullptr;
  EXPECT_EQ(counter->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  counter->Release();
  return dispatch;
}

// The total of a counter reached through any of its interfaces (adds nothing).
LONG TotalOf(IUnknown* object) {
  ITestCounter* counter = nullptr;
  if (object == nullptr || object->QueryInterface(IID_ITestCounter, reinterpret_cast<void**>(&counter)) != S_OK)
    return -1;
  LONG total = -1;
  counter->Add(0, &total);
  counter->Release();
  return total;
}

ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

std::u16string Text(BSTR b) { return b == nullptr ? std::u16string() : std::u16string(b, SysStringLen(b)); }

VARIANT DispatchVariant(IDispatch* object) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = object;
  return v;
}

// ---- GUID ---------------------------------------------------------------------------------

TEST(ComGuid, FormatsUpperCaseAndParsesBack) {
  EXPECT_EQ(FormatGuid(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  const GUID lowerCaseLiteral = MakeGuid("{6f0c2b4e-31a7-4d8e-9b52-0e7d14a3c9f1}");
  EXPECT_EQ(FormatGuid(lowerCaseLiteral), "{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1}");
  EXPECT_EQ(FormatGuidW(lowerCaseLiteral), u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1}");

  const GUID all = MakeGuid("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
  for (const GUID& g : {GUID_NULL, IID_IUnknown, IID_ITestCounter, CLSID_TestCounter, all}) {
    SCOPED_TRACE(FormatGuid(g));
    GUID parsed{};
    EXPECT_TRUE(ParseGuidW(FormatGuidW(g), parsed));
    EXPECT_EQ(parsed, g);

    OLECHAR buffer[39];
    ASSERT_EQ(StringFromGUID2(g, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), FormatGuidW(g));
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(buffer, &clsid), S_OK);
    EXPECT_EQ(clsid, g);
    IID iid{};
    EXPECT_EQ(IIDFromString(buffer, &iid), S_OK);
    EXPECT_EQ(iid, g);
  }
}

TEST(ComGuid, MalformedTextsAreRefusedAndChangeNothing) {
  const std::u16string good = u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1}";
  const struct {
    const char* what;
    std::u16string text;
  } cases[] = {
      {"empty", u""},
      {"braces only", u"{}"},
      {"one digit short", u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F}"},
      {"one digit long", u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F11}"},
      {"no opening brace", u"6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1}"},
      {"no closing brace", u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1"},
      {"parentheses", u"(6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1)"},
      {"non-hex letter", u"{6F0C2B4G-31A7-4D8E-9B52-0E7D14A3C9F1}"},
      {"space for digit", u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9 1}"},
      {"hyphen moved", u"{6F0C2B4-E31A7-4D8E-9B52-0E7D14A3C9F1}"},
      {"hyphen missing", u"{6F0C2B4E031A7-4D8E-9B52-0E7D14A3C9F1}"},
      {"non-ASCII digit", u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F\u0661}"},
      {"wide char narrowing to '1'", u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F\u0131}"},
      {"embedded NUL", std::u16string(u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F\0}", 38)},
  };
  const GUID sentinel = MakeGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GUID g = sentinel;
    EXPECT_FALSE(ParseGuidW(c.text, g));
    EXPECT_EQ(g, sentinel);
    EXPECT_EQ(CLSIDFromString(c.text.c_str(), &g), CO_E_CLASSSTRING);
    EXPECT_EQ(IIDFromString(c.text.c_str(), &g), E_INVALIDARG);
    EXPECT_EQ(g, sentinel);
  }

  // Without braces the text is a GUID to ParseGuidW, but not a CLSID text.
  GUID g = sentinel;
  EXPECT_TRUE(ParseGuidW(good.substr(1, 36), g));
  EXPECT_EQ(g, IID_ITestCounter);
  g = sentinel;
  EXPECT_EQ(CLSIDFromString(good.substr(1, 36).c_str(), &g), CO_E_CLASSSTRING);
  EXPECT_EQ(g, sentinel);

  EXPECT_EQ(CLSIDFromString(nullptr, &g), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(good.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(nullptr, &g), E_INVALIDARG);
}

TEST(ComGuid, UnterminatedTextIsNotReadPastOneExtraCharacter) {
  // Exactly 39 characters on the heap and no NUL: the address checker fails
  // the test if the parser reads a 40th.
  const std::u16string text = u"{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1}X";
  auto heap = std::make_unique<char16_t[]>(text.size());
  std::memcpy(heap.get(), text.data(), text.size() * sizeof(char16_t));
  GUID g{};
  EXPECT_EQ(CLSIDFromString(heap.get(), &g), CO_E_CLASSSTRING);
  EXPECT_EQ(IIDFromString(heap.get(), &g), E_INVALIDARG);
}

TEST(ComGuid, StringFromGuid2NeedsRoomForTheTerminator) {
  OLECHAR buffer[40];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(StringFromGUID2(IID_IUnknown, buffer, 38), 0);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(StringFromGUID2(IID_IUnknown, nullptr, 39), 0);
  EXPECT_EQ(StringFromGUID2(IID_IUnknown, buffer, -1), 0);
  EXPECT_EQ(StringFromGUID2(IID_IUnknown, buffer, 40), 39);
  EXPECT_EQ(buffer[38], u'\0');
  EXPECT_EQ(buffer[39], u'#');
}

// ---- BSTR ---------------------------------------------------------------------------------

TEST(ComBstr, HoldsByteLengthPrefixTextAndTerminator) {
  BSTR b = SysAllocString(u"abc");
  ASSERT_NE(b, nullptr);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);

  BSTR withNuls = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(withNuls), 3u);
  EXPECT_EQ(Text(withNuls), std::u16string(u"a\0b", 3));
  SysFreeString(withNuls);

  BSTR blank = SysAllocStringLen(nullptr, 5);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(SysStringLen(blank), 5u);
  for (int i = 0; i <= 5; ++i) EXPECT_EQ(blank[i], u'\0') << i;
  SysFreeString(blank);
}

TEST(ComBstr, AbsurdLengthsAndNullsAreRefused) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x40000000u), nullptr);
  EXPECT_EQ(SysAllocStringLen(u"x", 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

TEST(ComBstr, ReAllocationMayCopyFromTheOldText) {
  BSTR b = SysAllocString(u"hello");
  ASSERT_TRUE(SysReAllocString(&b, b + 2));
  EXPECT_EQ(Text(b), u"llo");
  ASSERT_TRUE(SysReAllocString(&b, nullptr));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 0u);
  SysFreeString(b);
}

// A null BSTR and an allocated empty one are the same value wherever they go.
TEST(ComBstr, NullAndEmptyBehaveAlike) {
  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  for (BSTR value : {BSTR{nullptr}, empty}) {
    SCOPED_TRACE(value == nullptr ? "null" : "empty");
    EXPECT_EQ(SysStringLen(value), 0u);
    EXPECT_EQ(SysStringByteLen(value), 0u);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = value == nullptr ? nullptr : SysAllocString(u"");
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_EQ(SysStringLen(copy.bstrVal), 0u);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&v), S_OK);

    SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(texts, nullptr);
    LONG index = 1;
    ASSERT_EQ(SafeArrayPutElement(texts, &index, value), S_OK);
    BSTR got = SysAllocString(u"overwritten");
    BSTR old = got;
    ASSERT_EQ(SafeArrayGetElement(texts, &index, &got), S_OK);
    SysFreeString(old);
    EXPECT_EQ(SysStringLen(got), 0u);
    SysFreeString(got);

    SAFEARRAY* copied = nullptr;
    ASSERT_EQ(SafeArrayCopy(texts, &copied), S_OK);
    BSTR fromCopy = nullptr;
    ASSERT_EQ(SafeArrayGetElement(copied, &index, &fromCopy), S_OK);
    EXPECT_EQ(SysStringLen(fromCopy), 0u);
    SysFreeString(fromCopy);
    EXPECT_EQ(SafeArrayDestroy(copied), S_OK);
    EXPECT_EQ(SafeArrayDestroy(texts), S_OK);
  }
  SysFreeString(empty);
}

// ---- VARIANT ------------------------------------------------------------------------------

TEST(ComVariant, UnknownTypesAreRefusedAndNothingIsFreed) {
  const VARTYPE badTypes[] = {
      VT_VARIANT,                       // only meaningful by reference
      14,                               // a type this layer does not offer
      VT_BYREF | VT_EMPTY,
      VT_BYREF | VT_NULL,
      VT_ARRAY | VT_R4,                 // not an element type of SAFEARRAY
      VT_ARRAY | VT_EMPTY,
      VT_BYREF | VT_ARRAY | VT_R4,
      0x1000 | VT_I4,                   // vector flag
      0x8000,
      0xFFFF,
  };
  // What the garbage variants point at lives on the stack: freeing it would
  // be reported by the address checker.
  OLECHAR notAHeapText[4] = {0, 0, 0, 0};
  for (VARTYPE vt : badTypes) {
    SCOPED_TRACE(vt);
    VARIANT garbage;
    VariantInit(&garbage);
    garbage.vt = vt;
    garbage.bstrVal = notAHeapText + 2;
    EXPECT_EQ(VariantClear(&garbage), DISP_E_BADVARTYPE);
    EXPECT_EQ(garbage.vt, vt);
    EXPECT_EQ(garbage.bstrVal, notAHeapText + 2);

    // A copy from it fails and leaves the destination empty, its text freed.
    VARIANT dest;
    VariantInit(&dest);
    dest.vt = VT_BSTR;
    dest.bstrVal = SysAllocString(u"freed on failure");
    EXPECT_EQ(VariantCopy(&dest, &garbage), DISP_E_BADVARTYPE);
    EXPECT_EQ(dest.vt, VT_EMPTY);

    // A garbage destination cannot be cleared: the copy fails and leaves it.
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"source");
    EXPECT_EQ(VariantCopy(&garbage, &text), DISP_E_BADVARTYPE);
    EXPECT_EQ(garbage.vt, vt);
    EXPECT_EQ(VariantClear(&text), S_OK);
  }
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(VariantCopy(nullptr, &v), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(&v, nullptr), E_INVALIDARG);
}

TEST(ComVariant, EveryScalarTypeCopiesAndClears) {
  struct Case {
    VARTYPE vt;
    void (*set)(VARIANT&);
  };
  const Case cases[] = {
      {VT_EMPTY, [](VARIANT&) {}},
      {VT_NULL, [](VARIANT&) {}},
      {VT_I2, [](VARIANT& v) { v.iVal = -12345; }},
      {VT_I4, [](VARIANT& v) { v.lVal = INT32_MIN; }},
      {VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }},
      {VT_R8, [](VARIANT& v) { v.dblVal = -2.25; }},
      {VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }},
      {VT_ERROR, [](VARIANT& v) { v.scode = E_FAIL; }},
      {VT_I1, [](VARIANT& v) { v.cVal = -7; }},
      {VT_UI1, [](VARIANT& v) { v.bVal = 200; }},
      {VT_UI2, [](VARIANT& v) { v.uiVal = 60000; }},
      {VT_UI4, [](VARIANT& v) { v.ulVal = 0xFFFFFFFFu; }},
      {VT_INT, [](VARIANT& v) { v.intVal = -1; }},
      {VT_UINT, [](VARIANT& v) { v.uintVal = 4000000000u; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vt);
    VARIANT v;
    VariantInit(&v);
    v.vt = c.vt;
    c.set(v);
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(std::memcmp(&copy, &v, sizeof(VARIANT)), 0);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
  }
}

TEST(ComVariant, CopyIsDeepAndClearGivesEverythingBack) {
  const long start = com::LiveObjectCount();
  {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"Main Street");
    VARIANT textCopy;
    VariantInit(&textCopy);
    ASSERT_EQ(VariantCopy(&textCopy, &text), S_OK);
    EXPECT_NE(textCopy.bstrVal, text.bstrVal);
    EXPECT_EQ(Text(textCopy.bstrVal), u"Main Street");
    EXPECT_EQ(VariantClear(&text), S_OK);
    EXPECT_EQ(Text(textCopy.bstrVal), u"Main Street");  // still its own
    EXPECT_EQ(VariantClear(&textCopy), S_OK);
  }
  {
    IDispatch* counter = MakeCounter(7);
    VARIANT object;
    VariantInit(&object);
    object.vt = VT_UNKNOWN;
    object.punkVal = counter;  // the variant takes our reference
    VARIANT objectCopy;
    VariantInit(&objectCopy);
    ASSERT_EQ(VariantCopy(&objectCopy, &object), S_OK);
    EXPECT_EQ(objectCopy.punkVal, counter);
    EXPECT_EQ(RefCount(counter), 2u);
    EXPECT_EQ(VariantClear(&object), S_OK);
    EXPECT_EQ(com::LiveObjectCount(), start + 1);
    EXPECT_EQ(TotalOf(objectCopy.punkVal), 7);
    EXPECT_EQ(VariantClear(&objectCopy), S_OK);
    EXPECT_EQ(com::LiveObjectCount(), start);
  }
  {
    // By reference: nothing is owned, the pointer is copied as it is.
    BSTR target = SysAllocString(u"kept");
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_BSTR;
    byRef.byref = &target;
    VARIANT byRefCopy;
    VariantInit(&byRefCopy);
    ASSERT_EQ(VariantCopy(&byRefCopy, &byRef), S_OK);
    EXPECT_EQ(byRefCopy.byref, &target);
    EXPECT_EQ(VariantClear(&byRef), S_OK);
    EXPECT_EQ(VariantClear(&byRefCopy), S_OK);
    EXPECT_EQ(Text(target), u"kept");
    SysFreeString(target);
  }
  {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_BSTR;
    self.bstrVal = SysAllocString(u"self");
    EXPECT_EQ(VariantCopy(&self, &self), S_OK);
    EXPECT_EQ(Text(self.bstrVal), u"self");
    EXPECT_EQ(VariantClear(&self), S_OK);
  }
}

TEST(ComVariant, LockedArrayIsNotFreed) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = SafeArrayCreateVector(VT_I4, 0, 3);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(v.parray, &data), S_OK);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);
  ASSERT_EQ(SafeArrayUnaccessData(v.parray), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

// ---- SAFEARRAY --------------------------------------------------------------------------

TEST(ComSafeArray, CreationRefusesBadInput) {
  const struct {
    const char* what;
    VARTYPE vt;
    UINT dims;
    LONG lower;
    ULONG count;
  } cases[] = {
      {"VT_EMPTY", VT_EMPTY, 1, 0, 4},
      {"VT_NULL", VT_NULL, 1, 0, 4},
      {"VT_R4 not offered", VT_R4, 1, 0, 4},
      {"array flag", VT_ARRAY | VT_I4, 1, 0, 4},
      {"byref flag", VT_BYREF | VT_I4, 1, 0, 4},
      {"garbage type", 0xFFFF, 1, 0, 4},
      {"no dimension", VT_I4, 0, 0, 4},
      {"two dimensions", VT_I4, 2, 0, 4},
      {"4G variants", VT_VARIANT, 1, 0, 0xFFFFFFFFu},
      {"4G bytes", VT_UI1, 1, 0, 0xFFFFFFFFu},
      {"just over 1 GiB", VT_UI1, 1, 0, 0x40000001u},
      {"doubles over 1 GiB", VT_R8, 1, 0, 0x08000001u},
      {"upper bound past LONG", VT_I4, 1, INT32_MAX, 2},
      {"small array near the end of LONG", VT_UI1, 1, INT32_MAX - 10, 0x100},
      {"empty below LONG", VT_I4, 1, INT32_MIN, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SAFEARRAYBOUND bounds[2] = {{c.count, c.lower}, {c.count, c.lower}};
    EXPECT_EQ(SafeArrayCreate(c.vt, c.dims, bounds), nullptr);
    if (c.dims == 1) {
      EXPECT_EQ(SafeArrayCreateVector(c.vt, c.lower, c.count), nullptr);
    }
  }
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
}

TEST(ComSafeArray, BoundsAtTheEdgesOfLongWork) {
  const struct {
    LONG lower;
    ULONG count;
  } cases[] = {{INT32_MIN, 1}, {INT32_MAX, 1}, {-5, 5}, {INT32_MIN, 3}, {INT32_MAX - 2, 3}, {0, 0}, {7, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lower);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, c.lower, c.count);
    ASSERT_NE(psa, nullptr);
    LONG lower = 0, upper = 0;
    ASSERT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
    EXPECT_EQ(lower, c.lower);
    EXPECT_EQ(std::int64_t{upper}, std::int64_t{c.lower} + c.count - 1);
    LONG value = 42;
    if (c.count > 0) {
      EXPECT_EQ(SafeArrayPutElement(psa, &lower, &value), S_OK);
      EXPECT_EQ(SafeArrayPutElement(psa, &upper, &value), S_OK);
      LONG got = 0;
      EXPECT_EQ(SafeArrayGetElement(psa, &upper, &got), S_OK);
      EXPECT_EQ(got, 42);
    }
    if (lower != INT32_MIN) {
      LONG below = lower - 1;
      EXPECT_EQ(SafeArrayPutElement(psa, &below, &value), DISP_E_BADINDEX);
    }
    if (upper != INT32_MAX) {
      LONG above = upper + 1;
      EXPECT_EQ(SafeArrayGetElement(psa, &above, &value), DISP_E_BADINDEX);
    }
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  }
}

TEST(ComSafeArray, IndicesOutsideTheBoundsAreRefused) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, -2, 4);  // -2 .. 1
  ASSERT_NE(psa, nullptr);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 5;
  for (LONG index : {INT32_MIN, INT32_MIN + 1, -3, 2, 3, INT32_MAX}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(SafeArrayPutElement(psa, &index, &value), DISP_E_BADINDEX);
    VARIANT got;
    VariantInit(&got);
    EXPECT_EQ(SafeArrayGetElement(psa, &index, &got), DISP_E_BADINDEX);
    EXPECT_EQ(got.vt, VT_EMPTY);
  }
  for (LONG index : {-2, 1}) {
    EXPECT_EQ(SafeArrayPutElement(psa, &index, &value), S_OK);
  }
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(ComSafeArray, NullArgumentsAreRefused) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 2);
  ASSERT_NE(psa, nullptr);
  LONG index = 0;
  LONG value = 1;
  LONG bound = 0;
  void* data = nullptr;
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayDestroy(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(nullptr, &index, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(psa, nullptr, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(psa, &index, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(nullptr, &index, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(psa, nullptr, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(psa, &index, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &bound), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetLBound(psa, 0, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 2, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetVartype(nullptr, &vt), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetVartype(psa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(psa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnaccessData(nullptr), E_INVALIDARG);
  SAFEARRAY* out = psa;
  EXPECT_EQ(SafeArrayCopy(nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(SafeArrayCopy(psa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

// Descriptors made by hand, as a caller with a corrupted pointer would pass
// them: every function refuses them, and none frees what they point at.
TEST(ComSafeArray, MalformedDescriptorsAreRefused) {
  LONG storage[4] = {1, 2, 3, 4};
  auto wellFormed = [&storage] {
    SAFEARRAY sa{};
    sa.cDims = 1;
    sa.fFeatures = FADF_HAVEVARTYPE;
    sa.cbElements = sizeof(LONG);
    sa.pvData = storage;
    sa.rgsabound[0] = {4, 0};
    sa.vt = VT_I4;
    return sa;
  };
  const struct {
    const char* what;
    void (*spoil)(SAFEARRAY&);
  } cases[] = {
      {"two dimensions", [](SAFEARRAY& sa) { sa.cDims = 2; }},
      {"no dimension", [](SAFEARRAY& sa) { sa.cDims = 0; }},
      {"element size", [](SAFEARRAY& sa) { sa.cbElements = 1; }},
      {"unknown type", [](SAFEARRAY& sa) { sa.vt = VT_R4; }},
      {"no storage", [](SAFEARRAY& sa) { sa.pvData = nullptr; }},
      {"absurd count", [](SAFEARRAY& sa) { sa.rgsabound[0].cElements = 0xFFFFFFFFu; }},
      {"upper bound past LONG", [](SAFEARRAY& sa) { sa.rgsabound[0].lLbound = INT32_MAX; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SAFEARRAY sa = wellFormed();
    c.spoil(sa);
    LONG index = 0;
    LONG value = 0;
    void* data = nullptr;
    SAFEARRAY* out = nullptr;
    EXPECT_EQ(SafeArrayGetDim(&sa), 0u);
    EXPECT_EQ(SafeArrayPutElement(&sa, &index, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(&sa, &index, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayAccessData(&sa, &data), E_INVALIDARG);
    EXPECT_EQ(SafeArrayCopy(&sa, &out), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(&sa), E_INVALIDARG);
  }
}

TEST(ComSafeArray, ElementsStartZeroed) {
  const VARTYPE types[] = {VT_UI1, VT_I2, VT_BOOL, VT_I4, VT_R8, VT_BSTR, VT_UNKNOWN, VT_DISPATCH, VT_VARIANT};
  for (VARTYPE vt : types) {
    SCOPED_TRACE(vt);
    SAFEARRAY* psa = SafeArrayCreateVector(vt, 1, 3);
    ASSERT_NE(psa, nullptr);
    VARTYPE stored = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(psa, &stored), S_OK);
    EXPECT_EQ(stored, vt);
    EXPECT_EQ(SafeArrayGetDim(psa), 1u);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    std::vector<unsigned char> zeros(3 * psa->cbElements, 0);
    EXPECT_EQ(std::memcmp(data, zeros.data(), zeros.size()), 0);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  }
}

TEST(ComSafeArray, ScalarElementsRoundTripAndCopy) {
  SAFEARRAY* shorts = SafeArrayCreateVector(VT_I2, 0, 2);
  SAFEARRAY* bools = SafeArrayCreateVector(VT_BOOL, 0, 2);
  SAFEARRAY* doubles = SafeArrayCreateVector(VT_R8, 0, 2);
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 2);
  LONG index = 1;
  SHORT s = -300;
  VARIANT_BOOL b = VARIANT_TRUE;
  double d = 51.5;
  BYTE u = 255;
  ASSERT_EQ(SafeArrayPutElement(shorts, &index, &s), S_OK);
  ASSERT_EQ(SafeArrayPutElement(bools, &index, &b), S_OK);
  ASSERT_EQ(SafeArrayPutElement(doubles, &index, &d), S_OK);
  ASSERT_EQ(SafeArrayPutElement(bytes, &index, &u), S_OK);
  SAFEARRAY* copies[4] = {};
  ASSERT_EQ(SafeArrayCopy(shorts, &copies[0]), S_OK);
  ASSERT_EQ(SafeArrayCopy(bools, &copies[1]), S_OK);
  ASSERT_EQ(SafeArrayCopy(doubles, &copies[2]), S_OK);
  ASSERT_EQ(SafeArrayCopy(bytes, &copies[3]), S_OK);
  SHORT s2 = 0;
  VARIANT_BOOL b2 = 0;
  double d2 = 0;
  BYTE u2 = 0;
  EXPECT_EQ(SafeArrayGetElement(copies[0], &index, &s2), S_OK);
  EXPECT_EQ(SafeArrayGetElement(copies[1], &index, &b2), S_OK);
  EXPECT_EQ(SafeArrayGetElement(copies[2], &index, &d2), S_OK);
  EXPECT_EQ(SafeArrayGetElement(copies[3], &index, &u2), S_OK);
  EXPECT_EQ(s2, -300);
  EXPECT_EQ(b2, VARIANT_TRUE);
  EXPECT_EQ(d2, 51.5);
  EXPECT_EQ(u2, 255);
  for (SAFEARRAY* psa : {shorts, bools, doubles, bytes, copies[0], copies[1], copies[2], copies[3]})
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(ComSafeArray, LocksAreCountedAndBlockDestruction) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(psa, nullptr);
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &first), S_OK);
  ASSERT_EQ(SafeArrayAccessData(psa, &second), S_OK);
  EXPECT_EQ(first, second);
  static_cast<BSTR*>(first)[1] = SysAllocString(u"written through the data");
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  LONG index = 1;
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &got), S_OK);
  EXPECT_EQ(Text(got), u"written through the data");
  SysFreeString(got);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);  // frees the text written above
}

TEST(ComSafeArray, PutReplacesAndFreesTheOldElement) {
  const long start = com::LiveObjectCount();
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 1);
  SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  LONG index = 0;
  BSTR a = SysAllocString(u"first");
  BSTR b = SysAllocString(u"second");
  ASSERT_EQ(SafeArrayPutElement(texts, &index, a), S_OK);
  ASSERT_EQ(SafeArrayPutElement(texts, &index, b), S_OK);
  SysFreeString(a);
  SysFreeString(b);
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(texts, &index, &got), S_OK);
  EXPECT_EQ(Text(got), u"second");
  // Putting an element's own text back must not free it first.
  ASSERT_EQ(SafeArrayPutElement(texts, &index, static_cast<BSTR*>(texts->pvData)[0]), S_OK);
  SysFreeString(got);
  got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(texts, &index, &got), S_OK);
  EXPECT_EQ(Text(got), u"second");
  SysFreeString(got);

  IDispatch* one = MakeCounter(1);
  IDispatch* two = MakeCounter(2);
  ASSERT_EQ(SafeArrayPutElement(objects, &index, one), S_OK);
  EXPECT_EQ(RefCount(one), 2u);
  ASSERT_EQ(SafeArrayPutElement(objects, &index, two), S_OK);
  EXPECT_EQ(RefCount(one), 1u);
  EXPECT_EQ(RefCount(two), 2u);
  ASSERT_EQ(SafeArrayPutElement(objects, &index, nullptr), S_OK);
  EXPECT_EQ(RefCount(two), 1u);
  one->Release();
  two->Release();
  EXPECT_EQ(SafeArrayDestroy(texts), S_OK);
  EXPECT_EQ(SafeArrayDestroy(objects), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start);
}

// The shape the engine hands out lists in: a SAFEARRAY of VARIANTs, each
// holding a dispatch object. Every path that copies or frees it must leave the
// objects' references exactly balanced.
class ComDispatchArray : public ::testing::Test {
 protected:
  static constexpr ULONG kCount = 3;

  void SetUp() override {
    start_ = com::LiveObjectCount();
    array_ = SafeArrayCreateVector(VT_VARIANT, 0, kCount);
    ASSERT_NE(array_, nullptr);
    for (LONG i = 0; i < static_cast<LONG>(kCount); ++i) {
      VARIANT element = DispatchVariant(MakeCounter(10 * (i + 1)));
      ASSERT_EQ(SafeArrayPutElement(array_, &i, &element), S_OK);
      ASSERT_EQ(VariantClear(&element), S_OK);  // the array holds the only reference now
    }
    ASSERT_EQ(com::LiveObjectCount(), start_ + static_cast<long>(kCount));
  }

  // Checks that element i of `psa` is the counter with total 10 * (i + 1).
  static void ExpectCounters(SAFEARRAY* psa) {
    for (LONG i = 0; i < static_cast<LONG>(kCount); ++i) {
      VARIANT got;
      std::memset(&got, 0xCD, sizeof got);  // output only: garbage must not matter
      ASSERT_EQ(SafeArrayGetElement(psa, &i, &got), S_OK);
      EXPECT_EQ(got.vt, VT_DISPATCH);
      EXPECT_EQ(TotalOf(got.pdispVal), 10 * (i + 1));
      EXPECT_EQ(VariantClear(&got), S_OK);
    }
  }

  long start_ = 0;
  SAFEARRAY* array_ = nullptr;
};

TEST_F(ComDispatchArray, ElementsComeBackAsTheSameObjects) {
  ExpectCounters(array_);
  LONG first = 0;
  VARIANT got;
  VariantInit(&got);
  ASSERT_EQ(SafeArrayGetElement(array_, &first, &got), S_OK);
  EXPECT_EQ(got.pdispVal, static_cast<VARIANT*>(array_->pvData)[0].pdispVal);
  EXPECT_EQ(VariantClear(&got), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array_), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start_);
}

TEST_F(ComDispatchArray, VariantCopyOfTheArrayHoldsTheObjectsOnItsOwn) {
  VARIANT list;
  VariantInit(&list);
  list.vt = VT_ARRAY | VT_VARIANT;
  list.parray = array_;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &list), S_OK);
  EXPECT_NE(copy.parray, list.parray);
  EXPECT_EQ(copy.vt, VT_ARRAY | VT_VARIANT);

  EXPECT_EQ(VariantClear(&list), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start_ + static_cast<long>(kCount));
  ExpectCounters(copy.parray);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start_);
}

TEST_F(ComDispatchArray, NestedCopiesAndDestroyReleaseEverything) {
  // The list inside a variant inside another array, copied twice over.
  SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 5, 1);
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_ARRAY | VT_VARIANT;
  inner.parray = array_;
  LONG five = 5;
  ASSERT_EQ(SafeArrayPutElement(outer, &five, &inner), S_OK);
  ASSERT_EQ(VariantClear(&inner), S_OK);  // destroys array_; outer has its own copy
  EXPECT_EQ(com::LiveObjectCount(), start_ + static_cast<long>(kCount));

  SAFEARRAY* outerCopy = nullptr;
  ASSERT_EQ(SafeArrayCopy(outer, &outerCopy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(outer), S_OK);
  VARIANT got;
  VariantInit(&got);
  ASSERT_EQ(SafeArrayGetElement(outerCopy, &five, &got), S_OK);
  ASSERT_EQ(got.vt, VT_ARRAY | VT_VARIANT);
  ExpectCounters(got.parray);
  EXPECT_EQ(VariantClear(&got), S_OK);
  EXPECT_EQ(SafeArrayDestroy(outerCopy), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start_);
}

TEST(ComSafeArray, DispatchElementsAreReleasedOnDestroy) {
  const long start = com::LiveObjectCount();
  SAFEARRAY* psa = SafeArrayCreateVector(VT_DISPATCH, 0, 2);
  IDispatch* counter = MakeCounter(3);
  LONG index = 1;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, counter), S_OK);
  counter->Release();
  IDispatch* got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &got), S_OK);
  EXPECT_EQ(got, counter);
  EXPECT_EQ(TotalOf(got), 3);
  got->Release();
  EXPECT_EQ(com::LiveObjectCount(), start + 1);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start);
}

}  // namespace
