// Memory running out inside the map engine's COM methods. A sweep fails each
// allocation of a call in turn (this program's operator new, and the BSTR and
// SAFEARRAY allocators of the platform through their test hook) and checks
// the answer, the out-parameters, the object afterwards and that nothing is
// left behind: live COM objects, heap blocks of operator new and open
// descriptors here, every heap block through LeakSanitizer in the sanitizer
// build.
//
// This program replaces the global operator new, so it is a program of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/ResultObjects.h"
#include "platform/com/owners.h"
#include "platform/os/device.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/live_objects.h"
#include "tests/support/temp_folder.h"
#include "tools/rmfbuild/RmfBuilder.h"

// ---- the failing allocator ------------------------------------------------------

namespace {

std::atomic<long> g_failAt{0};  // the allocation to fail, counted from 1; 0 while disarmed
std::atomic<long> g_asked{0};   // allocations asked for since arming
std::atomic<bool> g_fired{false};
std::atomic<long> g_liveBlocks{0};  // blocks of operator new not yet deleted

bool NextAllocationFails() {
  const long failAt = g_failAt.load();
  if (failAt == 0) return false;
  if (g_asked.fetch_add(1) + 1 != failAt) return false;
  g_fired = true;
  return true;
}

void* Allocate(std::size_t size) noexcept {
  if (NextAllocationFails()) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) ++g_liveBlocks;
  return block;
}

void Free(void* block) noexcept {
  if (block == nullptr) return;
  --g_liveBlocks;
  std::free(block);
}

}  // namespace

// Every form of new and delete of this program is malloc and free underneath,
// so a block is freed by the family that made it whichever form frees it.
void* operator new(std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }

namespace {

// Fails the n-th allocation (counted from 1) asked for while it is armed;
// only that one, as memory that runs out and comes back.
class FailNthAllocation {
 public:
  explicit FailNthAllocation(long n) {
    g_asked = 0;
    g_fired = false;
    g_failAt = n;
    com::SetValueAllocationFaultForTest(&NextAllocationFails);
  }
  ~FailNthAllocation() { Disarm(); }
  FailNthAllocation(const FailNthAllocation&) = delete;
  FailNthAllocation& operator=(const FailNthAllocation&) = delete;

  // Stops failing; true when the n-th allocation was asked for and failed.
  bool Disarm() {
    g_failAt = 0;
    com::SetValueAllocationFaultForTest(nullptr);
    return g_fired;
  }
};

// A call that asks for more allocations than this is running away.
constexpr long kMostAllocations = 100000;

// Makes `call` once with its first allocation failing, once with its second
// failing, and so on, until a call asks for fewer allocations than the one
// to fail (and so completes with none failing). `check(hr, failed)` sees each
// answer once failing is over, and may put things back for the next call.
// Stops at the first call whose check fails, and names it. Returns how many
// calls had an allocation fail. (No SCOPED_TRACE: its text would be heap
// blocks of its own while the checks count them.)
template <class Call, class Check>
long SweepAllocationFailures(Call&& call, Check&& check) {
  for (long n = 1; n <= kMostAllocations; ++n) {
    FailNthAllocation fault(n);
    const HRESULT hr = call();
    const bool failed = fault.Disarm();
    check(hr, failed);
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "the failures above came with allocation " << n
                    << (failed ? " failing" : " not asked for (nothing failed)");
      return n - 1;
    }
    if (!failed) return n - 1;
  }
  ADD_FAILURE() << "still allocating after " << kMostAllocations << " allocations";
  return kMostAllocations;
}

com::Bstr Text(std::u16string_view text) {
  com::Bstr b;
  EXPECT_TRUE(b.Assign(text));
  return b;
}

std::u16string TextOf(BSTR b) { return std::u16string(BstrView(b)); }

// Descriptors this process has open (the listing's own among them, each time).
long OpenDescriptors() {
  long count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

class OutOfMemoryTest : public LiveObjectsTest {
 protected:
  void SetUp() override {
    LiveObjectsTest::SetUp();
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    CMap::ClearDebugLogFlag();
    library_ = Text(platform::Utf8ToUtf16(LEXIFORN_EN_PATH));
  }
  void TearDown() override {
    CMap::ClearDebugLogFlag();
    LiveObjectsTest::TearDown();
  }

  void WriteMap(const std::string& name, std::uint32_t seed) {
    std::filesystem::create_directories(root_ + "/CompactFlash/Maps");
    std::string error;
    ASSERT_TRUE(rmfbuild::WriteFile(rmfbuild::GenerateGrid(3, 4, 2, seed), root_ + "/CompactFlash/Maps/" + name, &error))
        << error;
  }
  // Two street maps and a point-of-interest file with its database beside it.
  void WriteMaps() {
    WriteMap("usa_01.rmf", 1);
    WriteMap("berlin.rmf", 2);
    WriteMap("Town_POI_01.rmf", 3);
    std::ofstream(root_ + "/CompactFlash/Maps/Town_POI_01.pdb").flush();
  }

  // A new map engine object with the language library set.
  CMap* NewMap() {
    CMap* map = nullptr;
    EXPECT_EQ(CMap::CreateObject(&map), S_OK);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_EQ(map->SetResources(library_, &loaded), S_OK);
    EXPECT_EQ(loaded, VARIANT_TRUE);
    return map;
  }
  std::u16string Initalize(CMap* map) {
    BSTR result = nullptr;
    EXPECT_EQ(map->Initalize(nullptr, settings_, nullptr, VARIANT_TRUE, &result), S_OK);
    std::u16string text = TextOf(result);
    SysFreeString(result);
    return text;
  }
  // What a complete load of WriteMaps' folder gives.
  static void ExpectEverythingLoaded(CMap* map) {
    EXPECT_EQ(map->m_nMapsLoaded, 2);
    EXPECT_EQ(map->m_nPOIsLoaded, 1);
    EXPECT_EQ(map->GetMapIndexByName(u"berlin.rmf"), 1);
    EXPECT_EQ(map->GetMapIndexByName(u"usa_01.rmf"), 2);
    const int words[5] = {11, 13, 72, 12, 4};
    for (int slot = 0; slot < 5; ++slot) {
      ASSERT_NE(map->m_pWordTables[slot], nullptr);
      EXPECT_EQ(map->m_pWordTables[slot]->Count(), words[slot]) << "word table " << slot + 1;
    }
  }

  testing_support::TempFolder folder_{"out-of-memory"};
  std::string root_;
  com::Bstr library_;
  com::Bstr settings_ = Text(u"\\Settings");
};

// ---- map loading ---------------------------------------------------------------------

TEST_F(OutOfMemoryTest, InitalizeAnswersOutOfMemoryAndTheObjectRecoversThroughCleanUp) {
  WriteMaps();
  // One complete round first, so that what the process sets up once (the
  // platform's caches) is there before blocks are counted.
  CMap* map = NewMap();
  EXPECT_EQ(Initalize(map), u"OK");
  ExpectEverythingLoaded(map);
  map->Release();

  long blocksBefore = g_liveBlocks;
  const long descriptorsBefore = OpenDescriptors();
  map = NewMap();
  BSTR result = nullptr;
  long outOfMemory = 0;
  const long failures = SweepAllocationFailures(
      [&] { return map->Initalize(nullptr, settings_, nullptr, VARIANT_TRUE, &result); },
      [&](HRESULT hr, bool failed) {
        if (hr == E_OUTOFMEMORY) {
          ++outOfMemory;
          EXPECT_EQ(result, nullptr);
        } else {
          ASSERT_EQ(hr, S_OK);
          ASSERT_NE(result, nullptr);
          // Where the platform keeps a failure to itself (a folder search
          // that finds nothing, a log line dropped), the engine answers from
          // what it saw: a result it documents, with tables that agree.
          const std::u16string text = TextOf(result);
          EXPECT_TRUE(text == u"OK" || text == u"NO MAPS FOUND" || text == u"UNABLE TO INITIALIZE MAP ENGINE")
              << platform::Utf16ToUtf8(text);
          EXPECT_EQ(map->m_MapFiles.Count(), map->m_nMapsLoaded);
          if (map->m_pMapNames != nullptr) { EXPECT_EQ(map->m_pMapNames->Count(), map->m_nMapsLoaded); }
          for (int i = 0; i < map->m_MapFiles.Count(); ++i)
            EXPECT_EQ(map->GetMapIndexByName(map->m_MapFiles.At(i)), i + 1);
          if (!failed) {
            EXPECT_EQ(text, u"OK");
            ExpectEverythingLoaded(map);
          }
        }
        SysFreeString(result);
        result = nullptr;

        // The same object goes on: CleanUp undoes whatever the call left (and
        // lets the language library go), and the next start loads everything.
        EXPECT_EQ(map->CleanUp(), S_OK);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        EXPECT_EQ(map->SetResources(library_, &loaded), S_OK);
        EXPECT_EQ(loaded, VARIANT_TRUE);
        EXPECT_EQ(Initalize(map), u"OK");
        ExpectEverythingLoaded(map);
        EXPECT_EQ(map->Release(), 0u);
        EXPECT_EQ(g_liveBlocks, blocksBefore) << "blocks of operator new left behind";
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "files or folders left open";
        blocksBefore = g_liveBlocks;
        map = NewMap();
      });
  map->Release();
  EXPECT_GT(failures, 100);  // the sweep went through the whole load
  EXPECT_GT(outOfMemory, 0);
}

TEST_F(OutOfMemoryTest, FindMatchingMapsAnswersOutOfMemoryWithAnEmptyVariant) {
  WriteMaps();
  CMap* map = NewMap();
  ASSERT_EQ(Initalize(map), u"OK");
  const com::Bstr everything = Text(u"");
  VARIANT list;
  VariantInit(&list);
  const long failures = SweepAllocationFailures(
      [&] { return map->FindMatchingMaps(everything, &list); },
      [&](HRESULT hr, bool failed) {
        if (FAILED(hr)) {
          EXPECT_EQ(hr, E_OUTOFMEMORY);
          EXPECT_EQ(list.vt, VT_EMPTY);
          return;
        }
        ASSERT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
        std::vector<std::u16string> names;
        LONG upper = -1;
        SafeArrayGetUBound(list.parray, 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
          VARIANT item;
          VariantInit(&item);
          ASSERT_EQ(SafeArrayGetElement(list.parray, &i, &item), S_OK);
          names.push_back(TextOf(item.bstrVal));
          VariantClear(&item);
        }
        // A folder search that lost its memory finds no file; otherwise every
        // name is there.
        if (!failed || !names.empty()) { EXPECT_EQ(names, (std::vector<std::u16string>{u"BERLIN.RMF", u"USA"})); }
        VariantClear(&list);
      });
  EXPECT_GT(failures, 0);
  map->Release();
}

// ---- settings and properties -----------------------------------------------------------

// One method of CMap under the sweep: `call` runs it, `check` looks at its
// answer and its effect and puts the object back for the next call.
struct MethodCase {
  const char* name;
  std::function<HRESULT(CMap&)> call;
  std::function<void(CMap&, HRESULT, bool failed)> check;
};

TEST_F(OutOfMemoryTest, SettingsAndPropertiesAnswerOutOfMemoryAndKeepWhatTheyHad) {
  const com::Bstr other = Text(u"\\Other");
  const com::Bstr base = Text(u"\\Base");
  BSTR path = nullptr;
  VARIANT_BOOL loaded = VARIANT_TRUE;
  auto mapPath = [](CMap& map) { return TextOf(map.m_MapPath); };

  const MethodCase cases[] = {
      {"get_MapPath", [&](CMap& map) { return map.get_MapPath(&path); },
       [&](CMap&, HRESULT hr, bool) {
         if (FAILED(hr)) {
           EXPECT_EQ(hr, E_OUTOFMEMORY);
           EXPECT_EQ(path, nullptr);
         } else {
           EXPECT_EQ(TextOf(path), u"\\Maps\\");
         }
         SysFreeString(path);
         path = nullptr;
       }},
      {"put_MapPath", [&](CMap& map) { return map.put_MapPath(other); },
       [&](CMap& map, HRESULT hr, bool) {
         EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY);
         EXPECT_EQ(mapPath(map), hr == S_OK ? u"\\Other\\" : u"\\Maps\\");
         EXPECT_TRUE(map.m_MapPath.Assign(u"\\Maps\\"));
       }},
      {"SetBaseMapPath", [&](CMap& map) { return map.SetBaseMapPath(base); },
       [&](CMap& map, HRESULT hr, bool) {
         EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY);
         EXPECT_EQ(TextOf(map.m_BaseMapPath), hr == S_OK ? u"\\Base" : u"");
         map.m_BaseMapPath.Reset();
       }},
      {"SetDebugDirectory", [&](CMap& map) { return map.SetDebugDirectory(base); },
       [&](CMap& map, HRESULT hr, bool) {
         EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY);
         EXPECT_EQ(TextOf(map.m_DebugDirectory), hr == S_OK ? u"\\Base" : u"");
         map.m_DebugDirectory.Reset();
       }},
      {"SetResources", [&](CMap& map) { return map.SetResources(library_, &loaded); },
       [&](CMap& map, HRESULT hr, bool failed) {
         EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY);
         // Loaded, or not loaded as when the library is missing (the
         // platform's loader answers that when its memory runs out).
         EXPECT_EQ(loaded == VARIANT_TRUE, hr == S_OK && map.m_hResources != nullptr);
         if (!failed) { EXPECT_EQ(loaded, VARIANT_TRUE); }
         // The word tables change all together or not at all.
         const bool built = map.m_pWordTables[0] != nullptr;
         for (const auto& table : map.m_pWordTables) EXPECT_EQ(table != nullptr, built);
         if (loaded == VARIANT_TRUE) { EXPECT_EQ(map.m_pWordTables[2]->Count(), 72); }
       }},
  };
  for (const MethodCase& c : cases) {
    SCOPED_TRACE(c.name);
    CMap* map = nullptr;
    ASSERT_EQ(CMap::CreateObject(&map), S_OK);
    ASSERT_TRUE(map->m_MapPath.Assign(u"\\Maps\\"));
    const long failures = SweepAllocationFailures([&] { return c.call(*map); },
                                                  [&](HRESULT hr, bool failed) { c.check(*map, hr, failed); });
    EXPECT_GT(failures, 0);
    map->Release();
  }
}

// ---- result objects and object creation ------------------------------------------------

TEST_F(OutOfMemoryTest, ResultObjectTextsAnswerOutOfMemoryAndKeepTheirValue) {
  CLocationDetails* details = nullptr;
  CWayPoint* step = nullptr;
  CCrossStreet* street = nullptr;
  CAddressDetails* address = nullptr;
  ASSERT_EQ(CLocationDetails::CreateObject(&details), S_OK);
  ASSERT_EQ(CWayPoint::CreateObject(&step), S_OK);
  ASSERT_EQ(CCrossStreet::CreateObject(&street), S_OK);
  ASSERT_EQ(CAddressDetails::CreateObject(&address), S_OK);
  ASSERT_TRUE(AssignBstr(details->m_bstrCity, u"Neubrandenburg"));
  ASSERT_TRUE(AssignBstr(step->m_bstrName, u"Turm"));
  ASSERT_TRUE(AssignBstr(street->m_bstrName, u"Friedrich-Engels-Ring"));
  ASSERT_TRUE(AssignBstr(address->m_bstrMap, u"berlin.rmf"));

  const struct {
    const char* name;
    std::function<HRESULT(BSTR*)> get;
    const char16_t* text;
  } getters[] = {
      {"LocationDetails::GetCity", [&](BSTR* out) { return static_cast<ILocationDetails*>(details)->GetCity(out); },
       u"Neubrandenburg"},
      {"WayPoint::GetName", [&](BSTR* out) { return static_cast<IWayPoint*>(step)->GetName(out); }, u"Turm"},
      {"CrossStreet::GetName", [&](BSTR* out) { return static_cast<ICrossStreet*>(street)->GetName(out); },
       u"Friedrich-Engels-Ring"},
      {"AddressDetails::GetMap", [&](BSTR* out) { return static_cast<IAddressDetails*>(address)->GetMap(out); },
       u"berlin.rmf"},
  };
  for (const auto& g : getters) {
    SCOPED_TRACE(g.name);
    BSTR out = nullptr;
    const long failures = SweepAllocationFailures([&] { return g.get(&out); }, [&](HRESULT hr, bool) {
      if (hr == S_OK) {
        EXPECT_EQ(TextOf(out), g.text);
      } else {
        EXPECT_EQ(hr, E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
      }
      SysFreeString(out);
      out = nullptr;
    });
    EXPECT_EQ(failures, 1);
  }

  const com::Bstr name = Text(u"Marktplatz");
  const long failures = SweepAllocationFailures([&] { return step->PutName(name); }, [&](HRESULT hr, bool) {
    EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY);
    EXPECT_EQ(TextOf(step->m_bstrName), hr == S_OK ? u"Marktplatz" : u"Turm");
    ASSERT_TRUE(AssignBstr(step->m_bstrName, u"Turm"));
  });
  EXPECT_EQ(failures, 1);

  details->Release();
  step->Release();
  street->Release();
  address->Release();
}

const com::ClassEntry kClasses[] = {
    {&CLSID_Map, u"Cartovel.Map", u"Map Class", u"Free", &CMap::CreateInstance},
    {&CLSID_WayPoint, u"Cartovel.WayPoint", u"WayPoint Class", u"Free", &CWayPoint::CreateInstance},
};

TEST_F(OutOfMemoryTest, CreationAnswersOutOfMemoryAndLeavesNothingAlive) {
  const long moduleLocks = com::ModuleLockCount();
  const struct {
    const char* name;
    const CLSID* clsid;
    const IID* iid;
  } classes[] = {{"Map", &CLSID_Map, &IID_IMap}, {"WayPoint", &CLSID_WayPoint, &IID_IWayPoint}};
  for (const auto& c : classes) {
    SCOPED_TRACE(c.name);
    void* object = nullptr;
    // Through the class object, as CoCreateInstance does: making the factory
    // and making the object may each run out.
    const long failures = SweepAllocationFailures(
        [&] {
          IClassFactory* factory = nullptr;
          HRESULT hr = com::ModuleGetClassObject(kClasses, 2, *c.clsid, IID_IClassFactory,
                                                 reinterpret_cast<void**>(&factory));
          if (FAILED(hr)) return hr;
          hr = factory->CreateInstance(nullptr, *c.iid, &object);
          factory->Release();
          return hr;
        },
        [&](HRESULT hr, bool) {
          if (hr == S_OK) {
            ASSERT_NE(object, nullptr);
            static_cast<IUnknown*>(object)->Release();
            object = nullptr;
          } else {
            EXPECT_EQ(hr, E_OUTOFMEMORY);
            EXPECT_EQ(object, nullptr);
          }
          EXPECT_EQ(com::LiveObjectCount(), liveAtStart_);
          EXPECT_EQ(com::ModuleLockCount(), moduleLocks);
        });
    EXPECT_GT(failures, 1);
  }
}

}  // namespace
