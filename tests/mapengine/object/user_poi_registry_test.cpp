// The user point-of-interest registry: search infos registered by database
// file, replaced, deleted and updated by key, with the registry holding
// exactly one reference per stored slot and never taking the caller's list.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/object/CMap.h"
#include "typelib/DorvantaLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"
#include "tests/mapengine/object/map_engine_fixture.h"

namespace {

// A search info of the test's own: a key (or a failing key query) and a count
// of the instances alive.
class TestSearchInfo : public com::ComClass<TestSearchInfo, IPOISearchInfo> {
 public:
  static inline int alive = 0;
  TestSearchInfo() { ++alive; }
  ~TestSearchInfo() override { --alive; }

  HRESULT STDMETHODCALLTYPE get_Key(ULONG* pVal) override {
    if (failKey) return E_UNEXPECTED;
    *pVal = key;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Key(ULONG newVal) override {
    key = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Category(SHORT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Category(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_SubCategory(SHORT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_SubCategory(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Latitude(double*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Latitude(double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Longitude(double*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Longitude(double) override { return E_NOTIMPL; }

  ULONG key = 0;
  bool failKey = false;
};

// A dispatch object that is not a search info.
class PlainDispatch : public com::ComClass<PlainDispatch, IDispatch> {};

using Info = std::unique_ptr<TestSearchInfo, com::Releaser>;

Info MakeInfo(ULONG key) {
  TestSearchInfo* info = nullptr;
  EXPECT_EQ(TestSearchInfo::CreateObject(&info), S_OK);
  info->key = key;
  return Info(info);
}

// References held on `object` by anyone.
ULONG Refs(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

VARIANT DispatchElement(IDispatch* object) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = object;
  return v;
}

// A caller's VARIANT, freed by the caller (this owner) after the call.
class CallerList {
 public:
  CallerList() { VariantInit(&value); }
  ~CallerList() { EXPECT_EQ(VariantClear(&value), S_OK) << "the caller's list was taken from it"; }
  CallerList(const CallerList&) = delete;
  CallerList& operator=(const CallerList&) = delete;

  // An array of variants from `lower` on, each element a copy of one given.
  static std::unique_ptr<CallerList> Variants(LONG lower, const std::vector<VARIANT>& elements) {
    auto list = std::make_unique<CallerList>();
    list->value.vt = VT_ARRAY | VT_VARIANT;
    list->value.parray = SafeArrayCreateVector(VT_VARIANT, lower, static_cast<ULONG>(elements.size()));
    for (std::size_t i = 0; i < elements.size(); ++i) {
      LONG index = lower + static_cast<LONG>(i);
      VARIANT element = elements[i];
      EXPECT_EQ(SafeArrayPutElement(list->value.parray, &index, &element), S_OK);
    }
    return list;
  }
  // A one-element array of `elementType` under the variant type `vt`.
  static std::unique_ptr<CallerList> Typed(VARTYPE vt, VARTYPE elementType) {
    auto list = std::make_unique<CallerList>();
    list->value.vt = vt;
    list->value.parray = SafeArrayCreateVector(elementType, 0, 1);
    return list;
  }

  VARIANT value;
};

class UserPOIRegistryTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    TestSearchInfo::alive = 0;
  }
  void TearDown() override {
    MapEngineTest::TearDown();
    EXPECT_EQ(TestSearchInfo::alive, 0);
  }

  static com::Bstr File(const char16_t* name) {
    com::Bstr file;
    EXPECT_TRUE(file.Assign(name));
    return file;
  }
  void Register(const char16_t* file, IUnknown* info) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(map_->RegisterUserPOI(File(file), info, &ok), S_OK);
    ASSERT_EQ(ok, VARIANT_TRUE);
  }
  // Each registered file with the infos of its list, in the registry's order.
  std::vector<std::pair<std::u16string, std::vector<IPOISearchInfo*>>> Registry() const {
    std::vector<std::pair<std::u16string, std::vector<IPOISearchInfo*>>> files;
    for (const auto& [file, infos] : map_->m_UserPOIRegistry) {
      files.emplace_back(file, std::vector<IPOISearchInfo*>{});
      for (const auto& info : infos) files.back().second.push_back(info.get());
    }
    return files;
  }
  std::vector<IPOISearchInfo*> Slots(const char16_t* file) const {
    auto entry = map_->m_UserPOIRegistry.find(file);
    EXPECT_NE(entry, map_->m_UserPOIRegistry.end()) << "not registered";
    std::vector<IPOISearchInfo*> slots;
    if (entry == map_->m_UserPOIRegistry.end()) return slots;
    for (const auto& info : entry->second) slots.push_back(info.get());
    return slots;
  }
  bool IsRegistered(const char16_t* file) const { return map_->m_UserPOIRegistry.count(file) != 0; }
};

TEST_F(UserPOIRegistryTest, ListReplacesTheFilesInfosHoldingOneReferencePerSlotAndLeavesTheArrayToTheCaller) {
  Info old = MakeInfo(1);
  Info a = MakeInfo(10);
  Info b = MakeInfo(20);
  Register(u"user.pdb", old.get());

  {
    auto list = CallerList::Variants(1, {DispatchElement(a.get()), DispatchElement(b.get()), DispatchElement(a.get())});
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(map_->RegisterUserPOIs(File(u"user.pdb"), &list->value, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(Slots(u"user.pdb"), (std::vector<IPOISearchInfo*>{a.get(), b.get(), a.get()}));
    EXPECT_EQ(Refs(old.get()), 1u) << "the replaced list is given back";
    // Test, one per array element, and one per slot.
    EXPECT_EQ(Refs(a.get()), 5u);
    EXPECT_EQ(Refs(b.get()), 3u);
    // The array is still whole and the caller's.
    LONG lower = 0;
    LONG upper = 0;
    ASSERT_EQ(SafeArrayGetLBound(list->value.parray, 1, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(list->value.parray, 1, &upper), S_OK);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(upper, 3);
  }
  EXPECT_EQ(Refs(a.get()), 3u);
  EXPECT_EQ(Refs(b.get()), 2u);

  // An empty array registers the file with no info.
  auto empty = CallerList::Variants(0, {});
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(map_->RegisterUserPOIs(File(u"user.pdb"), &empty->value, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_TRUE(Slots(u"user.pdb").empty());
  EXPECT_EQ(Refs(a.get()), 1u);
  EXPECT_EQ(Refs(b.get()), 1u);
}

TEST_F(UserPOIRegistryTest, BadListUnregistersTheFileAnswersFalseAndLeavesTheArrayToTheCaller) {
  Info a = MakeInfo(10);
  Info b = MakeInfo(20);
  auto plain = std::unique_ptr<PlainDispatch, com::Releaser>([] {
    PlainDispatch* p = nullptr;
    EXPECT_EQ(PlainDispatch::CreateObject(&p), S_OK);
    return p;
  }());
  VARIANT longElement;
  VariantInit(&longElement);
  longElement.vt = VT_I4;
  longElement.lVal = 7;
  VARIANT unknownElement;
  VariantInit(&unknownElement);
  unknownElement.vt = VT_UNKNOWN;
  unknownElement.punkVal = a.get();
  const VARIANT good = DispatchElement(a.get());

  const struct {
    const char* name;
    std::function<std::unique_ptr<CallerList>()> make;
  } cases[] = {
      {"empty variant", [] { return std::make_unique<CallerList>(); }},
      {"array of longs", [] { return CallerList::Typed(VT_ARRAY | VT_I4, VT_I4); }},
      {"array of doubles", [] { return CallerList::Typed(VT_ARRAY | VT_R8, VT_R8); }},
      {"array of dispatch pointers", [] { return CallerList::Typed(VT_ARRAY | VT_DISPATCH, VT_DISPATCH); }},
      {"variant type says variants, the array holds longs",
       [] { return CallerList::Typed(VT_ARRAY | VT_VARIANT, VT_I4); }},
      {"no array",
       [] {
         auto list = std::make_unique<CallerList>();
         list->value.vt = VT_ARRAY | VT_VARIANT;
         return list;
       }},
      {"lower bound -1", [&] { return CallerList::Variants(-1, {good, good}); }},
      {"an element that is a number", [&] { return CallerList::Variants(0, {good, longElement}); }},
      {"an element that is an unknown pointer", [&] { return CallerList::Variants(0, {good, unknownElement}); }},
      {"an element that is a null dispatch", [&] { return CallerList::Variants(0, {good, DispatchElement(nullptr)}); }},
      {"an element that is no search info", [&] { return CallerList::Variants(0, {good, DispatchElement(plain.get())}); }},
  };
  Register(u"other.pdb", b.get());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Register(u"user.pdb", b.get());
    auto list = c.make();
    const VARTYPE vtBefore = list->value.vt;
    const ULONG aRefsBefore = Refs(a.get());
    VARIANT_BOOL ok = VARIANT_TRUE;
    ASSERT_EQ(map_->RegisterUserPOIs(File(u"user.pdb"), &list->value, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_FALSE(IsRegistered(u"user.pdb"));
    EXPECT_EQ(Slots(u"other.pdb"), (std::vector<IPOISearchInfo*>{b.get()}));
    EXPECT_EQ(Refs(b.get()), 2u) << "the old list is given back, the other file's kept";
    EXPECT_EQ(Refs(a.get()), aRefsBefore) << "nothing read from the list is kept";
    EXPECT_EQ(list->value.vt, vtBefore);
    if (list->value.parray != nullptr) {
      LONG lower = 0;
      EXPECT_EQ(SafeArrayGetLBound(list->value.parray, 1, &lower), S_OK);
    }
  }

  // No list at all is refused the same way.
  Register(u"user.pdb", b.get());
  VARIANT_BOOL ok = VARIANT_TRUE;
  ASSERT_EQ(map_->RegisterUserPOIs(File(u"user.pdb"), nullptr, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_FALSE(IsRegistered(u"user.pdb"));
}

TEST_F(UserPOIRegistryTest, SingleInfosAppendPerFileAndFilesAreInCodeUnitOrder) {
  Info a = MakeInfo(1);
  Info b = MakeInfo(2);
  Info c = MakeInfo(3);
  Register(u"b.pdb", a.get());
  Register(u"B.pdb", b.get());
  Register(u"a.pdb", c.get());
  Register(u"b.pdb", c.get());
  Register(u"b.pdb", a.get());
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(map_->RegisterUserPOI(nullptr, b.get(), &ok), S_OK);  // the empty name is a name too
  EXPECT_EQ(ok, VARIANT_TRUE);

  using Files = std::vector<std::pair<std::u16string, std::vector<IPOISearchInfo*>>>;
  EXPECT_EQ(Registry(), (Files{{u"", {b.get()}},
                               {u"B.pdb", {b.get()}},
                               {u"a.pdb", {c.get()}},
                               {u"b.pdb", {a.get(), c.get(), a.get()}}}));
  EXPECT_EQ(Refs(a.get()), 3u);
  EXPECT_EQ(Refs(b.get()), 3u);
  EXPECT_EQ(Refs(c.get()), 3u);

  // An object that is not a search info registers nothing, not even its file.
  PlainDispatch* plain = nullptr;
  ASSERT_EQ(PlainDispatch::CreateObject(&plain), S_OK);
  ok = VARIANT_TRUE;
  ASSERT_EQ(map_->RegisterUserPOI(File(u"new.pdb"), plain, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_FALSE(IsRegistered(u"new.pdb"));
  EXPECT_EQ(plain->Release(), 0u);
}

TEST_F(UserPOIRegistryTest, NullOutFlagOrInfoAnswersPointerErrorAndChangesNothing) {
  Info a = MakeInfo(1);
  Register(u"user.pdb", a.get());
  auto list = CallerList::Variants(0, {DispatchElement(a.get())});
  const com::Bstr file = File(u"user.pdb");
  VARIANT_BOOL ok = VARIANT_TRUE;

  EXPECT_EQ(map_->RegisterUserPOIs(file, &list->value, nullptr), E_POINTER);
  EXPECT_EQ(map_->RegisterUserPOI(file, a.get(), nullptr), E_POINTER);
  EXPECT_EQ(map_->UpdateRegistrationUserPOI(file, a.get(), nullptr), E_POINTER);
  EXPECT_EQ(map_->RegisterUserPOI(file, nullptr, &ok), E_POINTER);
  EXPECT_EQ(ok, VARIANT_FALSE);
  ok = VARIANT_TRUE;
  EXPECT_EQ(map_->UpdateRegistrationUserPOI(file, nullptr, &ok), E_POINTER);
  EXPECT_EQ(ok, VARIANT_FALSE);

  EXPECT_EQ(Slots(u"user.pdb"), (std::vector<IPOISearchInfo*>{a.get()}));
  EXPECT_EQ(Refs(a.get()), 3u);  // test, array, registry
}

TEST_F(UserPOIRegistryTest, DeleteDropsEveryInfoOfTheKeyKeepingTheOthersInOrder) {
  const struct {
    const char* name;
    std::vector<ULONG> keys;
    LONG deleted;
    std::vector<ULONG> kept;
  } cases[] = {
      {"duplicates and others", {5, 7, 5, 9}, 5, {7, 9}},
      {"the last info", {7}, 7, {}},
      {"keys are unsigned", {0xFFFFFFFFu, 1}, -1, {1}},
      {"no such key", {1, 2}, 3, {1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Info> infos;
    for (ULONG key : c.keys) {
      infos.push_back(MakeInfo(key));
      Register(u"user.pdb", infos.back().get());
    }
    ASSERT_EQ(map_->DeleteRegistrationUserPOI(File(u"user.pdb"), c.deleted), S_OK);

    std::vector<IPOISearchInfo*> expected;
    for (const auto& info : infos) {
      const bool kept = info->key != static_cast<ULONG>(c.deleted);
      if (kept) expected.push_back(info.get());
      EXPECT_EQ(Refs(info.get()), kept ? 2u : 1u) << "key " << info->key;
    }
    // The file stays registered even when no info is left.
    EXPECT_EQ(Slots(u"user.pdb"), expected);
    ASSERT_EQ(map_->UnRegisterUserPOI(File(u"user.pdb")), S_OK);
  }

  // A file that is not registered stays so.
  ASSERT_EQ(map_->DeleteRegistrationUserPOI(File(u"none.pdb"), 1), S_OK);
  EXPECT_TRUE(map_->m_UserPOIRegistry.empty());
}

TEST_F(UserPOIRegistryTest, UpdatePutsTheNewInfoInEverySlotOfItsKeyOrRegistersANewFile) {
  Info a = MakeInfo(5);
  Info b = MakeInfo(7);
  Info c = MakeInfo(5);
  Info fresh = MakeInfo(5);
  for (Info* info : {&a, &b, &c}) Register(u"user.pdb", info->get());

  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(map_->UpdateRegistrationUserPOI(File(u"user.pdb"), fresh.get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(Slots(u"user.pdb"), (std::vector<IPOISearchInfo*>{fresh.get(), b.get(), fresh.get()}));
  EXPECT_EQ(Refs(fresh.get()), 3u) << "one reference per slot";
  EXPECT_EQ(Refs(a.get()), 1u) << "displaced infos are given back";
  EXPECT_EQ(Refs(c.get()), 1u);
  EXPECT_EQ(Refs(b.get()), 2u);

  // No slot of its key: the list stays, the answer is still true.
  Info stranger = MakeInfo(8);
  ok = VARIANT_FALSE;
  ASSERT_EQ(map_->UpdateRegistrationUserPOI(File(u"user.pdb"), stranger.get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(Slots(u"user.pdb"), (std::vector<IPOISearchInfo*>{fresh.get(), b.get(), fresh.get()}));
  EXPECT_EQ(Refs(stranger.get()), 1u);

  // A file not registered yet is registered with the one info.
  ok = VARIANT_FALSE;
  ASSERT_EQ(map_->UpdateRegistrationUserPOI(File(u"new.pdb"), stranger.get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(Slots(u"new.pdb"), (std::vector<IPOISearchInfo*>{stranger.get()}));
  EXPECT_EQ(Refs(stranger.get()), 2u);
}

TEST_F(UserPOIRegistryTest, FailedKeyQueryAnswersItsErrorAndChangesNothing) {
  Info a = MakeInfo(5);
  Info broken = MakeInfo(5);
  Info fresh = MakeInfo(5);
  Register(u"user.pdb", a.get());
  Register(u"user.pdb", broken.get());
  broken->failKey = true;
  const std::vector<IPOISearchInfo*> before{a.get(), broken.get()};

  EXPECT_EQ(map_->DeleteRegistrationUserPOI(File(u"user.pdb"), 5), E_UNEXPECTED);
  EXPECT_EQ(Slots(u"user.pdb"), before);
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(map_->UpdateRegistrationUserPOI(File(u"user.pdb"), fresh.get(), &ok), E_UNEXPECTED);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(Slots(u"user.pdb"), before);
  // The new info's own key cannot be read.
  ok = VARIANT_TRUE;
  EXPECT_EQ(map_->UpdateRegistrationUserPOI(File(u"user.pdb"), broken.get(), &ok), E_UNEXPECTED);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(Slots(u"user.pdb"), before);
  EXPECT_EQ(Refs(a.get()), 2u);
  EXPECT_EQ(Refs(broken.get()), 2u);
  EXPECT_EQ(Refs(fresh.get()), 1u);
}

TEST_F(UserPOIRegistryTest, UnregisteringGivesBackExactlyWhatTheRegistryHolds) {
  Info a = MakeInfo(1);
  Info b = MakeInfo(2);
  Register(u"one.pdb", a.get());
  Register(u"one.pdb", a.get());
  Register(u"two.pdb", b.get());

  ASSERT_EQ(map_->UnRegisterUserPOI(File(u"none.pdb")), S_OK);
  ASSERT_EQ(map_->UnRegisterUserPOI(File(u"one.pdb")), S_OK);
  EXPECT_FALSE(IsRegistered(u"one.pdb"));
  EXPECT_EQ(Refs(a.get()), 1u);
  EXPECT_EQ(Refs(b.get()), 2u);

  // ClearVariables keeps the registry; UnRegisterAllUserPOIs and CleanUp empty it.
  Register(u"one.pdb", a.get());
  ASSERT_EQ(map_->ClearVariables(), S_OK);
  EXPECT_EQ(map_->m_UserPOIRegistry.size(), 2u);
  ASSERT_EQ(map_->UnRegisterAllUserPOIs(), S_OK);
  EXPECT_TRUE(map_->m_UserPOIRegistry.empty());
  EXPECT_EQ(Refs(a.get()), 1u);
  EXPECT_EQ(Refs(b.get()), 1u);

  // CleanUp empties it once maps were loaded (before that it has nothing to do).
  Register(u"one.pdb", a.get());
  Register(u"two.pdb", b.get());
  const std::string grid = root_ + "/grid.rmf";
  std::string error;
  ASSERT_TRUE(rmfbuild::WriteFile(rmfbuild::GenerateGrid(3, 6, 2, 1, rmfbuild::GridOptions{false}), grid, &error))
      << error;
  ASSERT_NO_FATAL_FAILURE(OpenMapFile(grid));
  ASSERT_EQ(map_->CleanUp(), S_OK);
  EXPECT_TRUE(map_->m_UserPOIRegistry.empty());
  EXPECT_EQ(Refs(a.get()), 1u);
  EXPECT_EQ(Refs(b.get()), 1u);

  // The map engine gives back what it still holds when it goes.
  Register(u"one.pdb", a.get());
  map_->Release();
  map_ = nullptr;
  EXPECT_EQ(Refs(a.get()), 1u);
}

}  // namespace
