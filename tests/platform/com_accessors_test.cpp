// Tests of the accessor bodies every server's getters and setters are written
// with, and of the VT_ARRAY|VT_VARIANT lists the servers hand out and read:
// null out pointers, texts with embedded NULs, memory running out at each
// allocation, empty lists, and lists of the wrong shape from a caller.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/accessors.h"
#include "platform/com/runtime.h"
#include "platform/com/variant_array.h"
#include "tests/platform/test_counter.h"

namespace {

using comtest::CTestCounter;

// ---- helpers ------------------------------------------------------------------------

// Fails the n-th value allocation (counted from 1) while it lives, and only that one.
class FailNthValueAllocation {
 public:
  explicit FailNthValueAllocation(int n) {
    asked_ = 0;
    failAt_ = n;
    com::SetValueAllocationFaultForTest(&Fails);
  }
  ~FailNthValueAllocation() { com::SetValueAllocationFaultForTest(nullptr); }
  FailNthValueAllocation(const FailNthValueAllocation&) = delete;
  FailNthValueAllocation& operator=(const FailNthValueAllocation&) = delete;
  static int Asked() { return asked_; }

 private:
  static bool Fails() { return ++asked_ == failAt_; }
  static inline int asked_ = 0;
  static inline int failAt_ = 0;
};

// A new counter whose total is `total`, one reference: an IDispatch, as the
// servers' objects are.
IDispatch* MakeCounter(LONG total) {
  CTestCounter* made = nullptr;
  if (CTestCounter::CreateObject(&made) != S_OK) return nullptr;
  ITestCounter* counter = made;
  LONG ignored = 0;
  counter->Add(total, &ignored);
  return counter;
}

// The total of the counter behind `object`, -1 for anything else.
LONG TotalOf(IUnknown* object) {
  ITestCounter* counter = nullptr;
  LONG total = -1;
  if (object != nullptr && SUCCEEDED(object->QueryInterface(IID_ITestCounter, reinterpret_cast<void**>(&counter)))) {
    counter->Add(0, &total);
    counter->Release();
  }
  return total;
}

std::u16string Text(BSTR b) { return std::u16string(com::BstrView(b)); }

const std::u16string kWithNul(u"ab\0cd", 5);

// ---- BSTR views ---------------------------------------------------------------------

TEST(ComAccessors, BstrViewReadsByStoredLength) {
  EXPECT_TRUE(com::BstrView(nullptr).empty());
  BSTR text = SysAllocStringLen(kWithNul.data(), static_cast<UINT>(kWithNul.size()));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(com::BstrView(text), kWithNul);  // not cut at the NUL
  EXPECT_EQ(com::BstrView(text).data(), text);  // a view, not a copy
  SysFreeString(text);
}

// ---- values and flags -----------------------------------------------------------------

TEST(ComAccessors, ValueOutRefusesNullAndConverts) {
  EXPECT_EQ(com::ValueOut(static_cast<double*>(nullptr), 1.5), E_POINTER);
  double d = 0;
  EXPECT_EQ(com::ValueOut(&d, 1.5), S_OK);
  EXPECT_EQ(d, 1.5);
  // A stored SHORT goes out through a LONG, an enumeration through an INT.
  LONG widened = 0;
  EXPECT_EQ(com::ValueOut(&widened, SHORT{-7}), S_OK);
  EXPECT_EQ(widened, -7);
}

TEST(ComAccessors, FlagMakesEveryNonZeroTrue) {
  const struct {
    VARIANT_BOOL in;
    VARIANT_BOOL out;
  } cases[] = {{0, VARIANT_FALSE}, {1, VARIANT_TRUE}, {-1, VARIANT_TRUE}, {2, VARIANT_TRUE}, {0x7FFF, VARIANT_TRUE}};
  for (const auto& c : cases) EXPECT_EQ(com::Flag(c.in), c.out) << c.in;
}

// ---- text out -------------------------------------------------------------------------

TEST(ComAccessors, TextOutGivesANewCopyNeverNull) {
  com::Bstr owner;
  ASSERT_TRUE(owner.Assign(kWithNul));
  BSTR plain = SysAllocString(u"plain");
  const struct {
    const char* name;
    HRESULT (*call)(BSTR*, const com::Bstr&, BSTR);
    std::u16string expected;
    BSTR notSameAs;
  } cases[] = {
      {"owner with NUL", [](BSTR* o, const com::Bstr& f, BSTR) { return com::TextOut(o, f); }, kWithNul, owner},
      {"plain BSTR", [](BSTR* o, const com::Bstr&, BSTR p) { return com::TextOut(o, p); }, u"plain", plain},
      {"null BSTR", [](BSTR* o, const com::Bstr&, BSTR) { return com::TextOut(o, BSTR{nullptr}); }, u"", nullptr},
      {"empty owner", [](BSTR* o, const com::Bstr&, BSTR) { return com::TextOut(o, com::Bstr()); }, u"", nullptr},
      {"view", [](BSTR* o, const com::Bstr&, BSTR) { return com::TextOut(o, std::u16string_view(u"x\0y", 3)); },
       std::u16string(u"x\0y", 3), nullptr},
      {"empty view", [](BSTR* o, const com::Bstr&, BSTR) { return com::TextOut(o, std::u16string_view()); }, u"",
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BSTR out = nullptr;
    ASSERT_EQ(c.call(&out, owner, plain), S_OK);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(out, c.notSameAs);
    EXPECT_EQ(Text(out), c.expected);
    EXPECT_EQ(SysStringLen(out), c.expected.size());
    SysFreeString(out);
    EXPECT_EQ(c.call(nullptr, owner, plain), E_POINTER);
  }
  SysFreeString(plain);
}

TEST(ComAccessors, TextOutWhenMemoryRunsOutLeavesNull) {
  com::Bstr owner;
  ASSERT_TRUE(owner.Assign(u"name"));
  BSTR out = reinterpret_cast<BSTR>(&owner);  // garbage the getter must overwrite
  {
    FailNthValueAllocation fail(1);
    EXPECT_EQ(com::TextOut(&out, owner), E_OUTOFMEMORY);
  }
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<BSTR>(&owner);
  {
    FailNthValueAllocation fail(1);
    EXPECT_EQ(com::TextOut(&out, std::u16string_view(u"built")), E_OUTOFMEMORY);
  }
  EXPECT_EQ(out, nullptr);
}

// ---- text in ----------------------------------------------------------------------------

TEST(ComAccessors, TextInStoresACopyIntoEitherKindOfField) {
  BSTR caller = SysAllocStringLen(kWithNul.data(), static_cast<UINT>(kWithNul.size()));
  com::Bstr owner;
  BSTR plain = nullptr;
  EXPECT_EQ(com::TextIn(owner, caller), S_OK);
  EXPECT_EQ(com::TextIn(plain, caller), S_OK);
  EXPECT_EQ(Text(owner), kWithNul);
  EXPECT_EQ(Text(plain), kWithNul);
  EXPECT_NE(static_cast<BSTR>(owner), caller);
  EXPECT_NE(plain, caller);
  SysFreeString(caller);

  // A null BSTR is the empty text, stored as a real empty BSTR.
  EXPECT_EQ(com::TextIn(owner, BSTR{nullptr}), S_OK);
  EXPECT_EQ(com::TextIn(plain, BSTR{nullptr}), S_OK);
  EXPECT_EQ(SysStringLen(owner), 0u);
  EXPECT_EQ(SysStringLen(plain), 0u);

  // Storing a field's own text over itself keeps the text.
  ASSERT_EQ(com::TextIn(plain, std::u16string_view(u"same")), S_OK);
  EXPECT_EQ(com::TextIn(plain, plain), S_OK);
  EXPECT_EQ(Text(plain), u"same");
  com::FreeTexts({&plain});
  EXPECT_EQ(plain, nullptr);
}

TEST(ComAccessors, TextInKeepsTheOldTextWhenMemoryRunsOut) {
  com::Bstr owner;
  BSTR plain = nullptr;
  ASSERT_EQ(com::TextIn(owner, std::u16string_view(u"old")), S_OK);
  ASSERT_EQ(com::TextIn(plain, std::u16string_view(u"old")), S_OK);
  const BSTR ownerBefore = owner;
  const BSTR plainBefore = plain;
  {
    FailNthValueAllocation fail(1);
    EXPECT_EQ(com::TextIn(owner, std::u16string_view(u"new")), E_OUTOFMEMORY);
  }
  {
    FailNthValueAllocation fail(1);
    EXPECT_EQ(com::TextIn(plain, std::u16string_view(u"new")), E_OUTOFMEMORY);
  }
  EXPECT_EQ(static_cast<BSTR>(owner), ownerBefore);
  EXPECT_EQ(plain, plainBefore);
  EXPECT_EQ(Text(owner), u"old");
  EXPECT_EQ(Text(plain), u"old");
  com::FreeTexts({&plain});
}

// ---- building lists ---------------------------------------------------------------------

class ComVariantArray : public ::testing::Test {
 protected:
  void SetUp() override {
    start_ = com::LiveObjectCount();
    for (LONG i = 0; i < 3; ++i) {
      objects_.push_back(MakeCounter(10 * (i + 1)));
      ASSERT_NE(objects_.back(), nullptr);
    }
  }
  void TearDown() override {
    for (IDispatch* object : objects_) {
      if (object != nullptr) object->Release();
    }
    EXPECT_EQ(com::LiveObjectCount(), start_);  // every reference an array took came back
  }

  long start_ = 0;
  std::vector<IDispatch*> objects_;
};

TEST_F(ComVariantArray, PacksObjectsEachWithItsOwnReference) {
  com::VariantArray array;
  ASSERT_EQ(com::PackObjects(objects_.size(), [&](std::size_t i) { return objects_[i]; }, array), S_OK);
  VARIANT list;
  VariantInit(&list);
  ASSERT_TRUE(array.MoveTo(&list));
  EXPECT_FALSE(array.HasArray());
  ASSERT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
  LONG lower = -1;
  LONG upper = -1;
  ASSERT_EQ(SafeArrayGetLBound(list.parray, 1, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(list.parray, 1, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 2);

  // The caller's references can go: the list keeps the objects alive.
  for (IDispatch* object : objects_) object->Release();
  objects_.clear();
  EXPECT_EQ(com::LiveObjectCount(), start_ + 3);

  com::VariantArrayView view;
  ASSERT_EQ(view.Open(&list), S_OK);
  ASSERT_EQ(view.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    ITestCounter* counter = nullptr;
    ASSERT_EQ(view.ObjectAt(i, &counter), S_OK);
    EXPECT_EQ(TotalOf(counter), 10 * static_cast<LONG>(i + 1));
    counter->Release();
  }
  EXPECT_EQ(VariantClear(&list), S_OK);
}

TEST_F(ComVariantArray, UnknownObjectsAndTextsGoInAsTheirOwnTypes) {
  IUnknown* unknown = nullptr;
  ASSERT_EQ(objects_[0]->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  com::VariantArray array;
  ASSERT_EQ(array.Create(3), S_OK);
  ASSERT_EQ(array.PutObject(0, unknown), S_OK);
  ASSERT_EQ(array.PutText(1, kWithNul), S_OK);
  ASSERT_EQ(array.PutObject(2, static_cast<IDispatch*>(nullptr)), S_OK);
  unknown->Release();
  VARIANT list;
  VariantInit(&list);
  ASSERT_TRUE(array.MoveTo(&list));
  const auto* elements = static_cast<const VARIANT*>(list.parray->pvData);
  EXPECT_EQ(elements[0].vt, VT_UNKNOWN);
  EXPECT_EQ(TotalOf(elements[0].punkVal), 10);
  EXPECT_EQ(elements[1].vt, VT_BSTR);
  EXPECT_EQ(Text(elements[1].bstrVal), kWithNul);
  EXPECT_EQ(elements[2].vt, VT_DISPATCH);
  EXPECT_EQ(elements[2].pdispVal, nullptr);

  // Read back, only the dispatch objects count as objects.
  com::VariantArrayView view;
  ASSERT_EQ(view.Open(&list), S_OK);
  for (std::size_t i = 0; i < 3; ++i) {
    IDispatch* got = reinterpret_cast<IDispatch*>(&view);
    EXPECT_EQ(view.DispatchAt(i, &got), DISP_E_TYPEMISMATCH) << i;
    EXPECT_EQ(got, nullptr);
  }
  EXPECT_EQ(VariantClear(&list), S_OK);
}

TEST_F(ComVariantArray, AnEmptyListIsAnArrayWithoutElements) {
  com::VariantArray array;
  ASSERT_EQ(com::PackObjects(0, [&](std::size_t i) { return objects_[i]; }, array), S_OK);
  VARIANT list;
  VariantInit(&list);
  ASSERT_TRUE(array.MoveTo(&list));
  ASSERT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_NE(list.parray, nullptr);
  com::VariantArrayView view;
  ASSERT_EQ(view.Open(&list), S_OK);
  EXPECT_EQ(view.size(), 0u);
  IDispatch* got = nullptr;
  EXPECT_EQ(view.DispatchAt(0, &got), DISP_E_BADINDEX);
  EXPECT_EQ(VariantClear(&list), S_OK);
}

TEST_F(ComVariantArray, MisuseOfTheBuilderIsRefused) {
  com::VariantArray array;
  VARIANT list;
  VariantInit(&list);
  list.vt = VT_I4;
  list.lVal = 42;
  EXPECT_EQ(array.PutObject(0, objects_[0]), E_UNEXPECTED);
  EXPECT_EQ(array.PutText(0, u"x"), E_UNEXPECTED);
  EXPECT_FALSE(array.MoveTo(&list));
  EXPECT_EQ(list.vt, VT_I4);  // untouched without an array
  EXPECT_EQ(list.lVal, 42);
  ASSERT_EQ(array.Create(1), S_OK);
  EXPECT_EQ(array.PutObject(1, objects_[0]), DISP_E_BADINDEX);
  EXPECT_EQ(array.PutText(1, u"x"), DISP_E_BADINDEX);
  EXPECT_FALSE(array.MoveTo(nullptr));
  EXPECT_TRUE(array.HasArray());
}

TEST_F(ComVariantArray, EveryFailedAllocationLeavesNothingBehind) {
  // Packing three objects, then a second array with a text: fail each
  // allocation in turn, then one past the last to see the packing through.
  int allocations = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    com::VariantArray array;
    HRESULT hr = S_OK;
    {
      FailNthValueAllocation fail(n);
      hr = com::PackObjects(objects_.size(), [&](std::size_t i) { return objects_[i]; }, array);
      if (SUCCEEDED(hr)) hr = array.Create(1);
      if (SUCCEEDED(hr)) hr = array.PutText(0, u"text");
      allocations = FailNthValueAllocation::Asked();
    }
    if (n > allocations) {
      EXPECT_EQ(hr, S_OK);
      break;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    if (n == 1) {
      EXPECT_FALSE(array.HasArray());  // a failed packing holds nothing
    }
    array.Reset();
    EXPECT_EQ(com::LiveObjectCount(), start_ + 3);
    ASSERT_LT(n, 16) << "the packing asks for more allocations than it should";
  }
  EXPECT_GE(allocations, 3);  // at least the two arrays and the text
}

TEST_F(ComVariantArray, ADroppedBuilderGivesItsReferencesBack) {
  {
    com::VariantArray array;
    ASSERT_EQ(com::PackObjects(objects_.size(), [&](std::size_t i) { return objects_[i]; }, array), S_OK);
    for (IDispatch* object : objects_) object->Release();
    objects_.clear();
    EXPECT_EQ(com::LiveObjectCount(), start_ + 3);
  }
  EXPECT_EQ(com::LiveObjectCount(), start_);
}

// ---- reading a caller's list ----------------------------------------------------------------

TEST_F(ComVariantArray, ListsOfTheWrongShapeAreRefused) {
  struct Case {
    const char* name;
    VARTYPE vt;
    VARTYPE elementType;  // VT_EMPTY: no array
    HRESULT expected;
  };
  const Case cases[] = {
      {"not an array", VT_I4, VT_EMPTY, DISP_E_TYPEMISMATCH},
      {"array of dispatch pointers", VT_ARRAY | VT_DISPATCH, VT_DISPATCH, DISP_E_TYPEMISMATCH},
      {"array of longs", VT_ARRAY | VT_I4, VT_I4, DISP_E_TYPEMISMATCH},
      {"variant type says variants, array holds longs", VT_ARRAY | VT_VARIANT, VT_I4, DISP_E_TYPEMISMATCH},
      {"by reference", VT_BYREF | VT_ARRAY | VT_VARIANT, VT_VARIANT, DISP_E_TYPEMISMATCH},
      {"no array", VT_ARRAY | VT_VARIANT, VT_EMPTY, E_INVALIDARG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VARIANT list;
    VariantInit(&list);
    SAFEARRAY* array = c.elementType != VT_EMPTY ? SafeArrayCreateVector(c.elementType, 0, 2) : nullptr;
    list.vt = c.vt;
    list.parray = array;
    com::VariantArrayView view;
    EXPECT_EQ(view.Open(&list), c.expected);
    EXPECT_EQ(view.size(), 0u);
    IDispatch* got = nullptr;
    EXPECT_EQ(view.DispatchAt(0, &got), DISP_E_BADINDEX);
    if (array != nullptr) {
      EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    }
  }
  com::VariantArrayView view;
  EXPECT_EQ(view.Open(nullptr), E_POINTER);
}

TEST_F(ComVariantArray, AMalformedDescriptorIsRefused) {
  VARIANT list;
  VariantInit(&list);
  list.vt = VT_ARRAY | VT_VARIANT;
  list.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  list.parray->cDims = 2;  // claims a second dimension it does not have
  com::VariantArrayView view;
  EXPECT_EQ(view.Open(&list), E_INVALIDARG);
  list.parray->cDims = 1;
  list.parray->cbElements = 1;  // element size that does not match variants
  EXPECT_EQ(view.Open(&list), E_INVALIDARG);
  list.parray->cbElements = sizeof(VARIANT);
  EXPECT_EQ(VariantClear(&list), S_OK);
}

TEST_F(ComVariantArray, ReadsByPositionWhateverTheLowerBound) {
  VARIANT list;
  VariantInit(&list);
  list.vt = VT_ARRAY | VT_VARIANT;
  list.parray = SafeArrayCreateVector(VT_VARIANT, -5, 3);
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_DISPATCH;
  element.pdispVal = objects_[1];
  LONG index = -3;  // the last element
  ASSERT_EQ(SafeArrayPutElement(list.parray, &index, &element), S_OK);
  element.vt = VT_I4;
  element.lVal = 7;
  index = -5;
  ASSERT_EQ(SafeArrayPutElement(list.parray, &index, &element), S_OK);

  com::VariantArrayView view;
  ASSERT_EQ(view.Open(&list), S_OK);
  EXPECT_EQ(view.lower(), -5);
  ASSERT_EQ(view.size(), 3u);
  ITestCounter* counter = nullptr;
  EXPECT_EQ(view.ObjectAt(0, &counter), DISP_E_TYPEMISMATCH);  // a number
  EXPECT_EQ(view.ObjectAt(1, &counter), DISP_E_TYPEMISMATCH);  // VT_EMPTY
  ASSERT_EQ(view.ObjectAt(2, &counter), S_OK);
  EXPECT_EQ(TotalOf(counter), 20);
  counter->Release();
  EXPECT_EQ(view.ObjectAt(3, &counter), DISP_E_BADINDEX);
  EXPECT_EQ(counter, nullptr);
  EXPECT_EQ(view.ObjectAt<ITestCounter>(2, nullptr), E_POINTER);

  // An object without the interface asked for is refused too.
  IClassFactory* factory = reinterpret_cast<IClassFactory*>(&view);
  EXPECT_EQ(view.ObjectAt(2, &factory), E_NOINTERFACE);
  EXPECT_EQ(factory, nullptr);
  // Reading locked the array only while it read.
  EXPECT_EQ(list.parray->cLocks, 0u);
  EXPECT_EQ(VariantClear(&list), S_OK);
}

}  // namespace
