// The database server as the engines meet it: a library found through the
// registry, its classes created by class identifier with the engine's context
// flags, started and asked for their interface, and reached only through
// them. The point-of-interest files the database object reads are written
// with the server's own store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "typelib/VovLib.h"
#include "typelib/DorvantaLib.h"
#include "outside/dorvanta/PoiStore.h"
#include "platform/com/runtime.h"
#include "platform/os/text.h"
#include "tests/support/com_server_fixture.h"

namespace {

// Owns a BSTR made from UTF-16 text for the length of a call.
struct Text {
  explicit Text(const std::u16string& text) : bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Text() { SysFreeString(bstr); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  operator BSTR() const { return bstr; }
  BSTR bstr;
};

std::u16string Utf16(const std::string& text) { return platform::Utf8ToUtf16(text); }

class DorvantaServer : public ComServerTest {
 protected:
  DorvantaServer() : ComServerTest(DORVANTA_LIBRARY_PATH) {}

  void SetUp() override {
    ComServerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  }

  // As the engine makes the server's objects: by class identifier.
  template <class I>
  HRESULT CreateByClsid(REFCLSID clsid, I** out) {
    *out = nullptr;
    IUnknown* unknown = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (FAILED(hr)) return hr;
    hr = OleRun(unknown);
    if (SUCCEEDED(hr)) hr = unknown->QueryInterface(IidOf<I>(), reinterpret_cast<void**>(out));
    unknown->Release();
    return hr;
  }
};

TEST_F(DorvantaServer, EveryClassIsRegisteredAndCreatedByItsClassIdentifier) {
  struct Row {
    const char16_t* progId;
    CLSID clsid;
    IID iid;
  };
  const Row rows[] = {{u"Dorvanta.Database", CLSID_Database, IID_IDatabase},
                      {u"Dorvanta.FoundPOIIndexes", CLSID_FoundPOIIndexes, IID_IFoundPOIIndexes},
                      {u"Dorvanta.POISearchInfo", CLSID_POISearchInfo, IID_IPOISearchInfo}};
  for (const Row& row : rows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.progId));
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(row.progId, &found), S_OK);
    EXPECT_EQ(found, row.clsid);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CoCreateInstance(row.clsid, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(OleRun(unknown), S_OK);
    void* wanted = nullptr;
    EXPECT_EQ(unknown->QueryInterface(row.iid, &wanted), S_OK);
    if (wanted != nullptr) static_cast<IUnknown*>(wanted)->Release();
    void* dispatch = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    if (dispatch != nullptr) static_cast<IUnknown*>(dispatch)->Release();
    void* other = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    unknown->Release();
  }
  EXPECT_EQ(CallEntry("DllCanUnloadNow"), S_OK);
}

TEST_F(DorvantaServer, FoundPointListKeepsEntriesInOrderUntilCleared) {
  IFoundPOIIndexes* list = nullptr;
  ASSERT_EQ(CreateByClsid(CLSID_FoundPOIIndexes, &list), S_OK);

  struct Entry {
    std::u16string file;
    ULONG key;
  };
  const std::vector<Entry> entries = {{u"\\Maps\\NAME_POI_01.pdb", 17},
                                      {u"\\Maps\\user.pdb", 0xFFFFFFFFu},
                                      {u"\\Maps\\NAME_POI_01.pdb", 17},  // the list keeps repeats
                                      {u"", 0}};
  for (const Entry& entry : entries) {
    Text file(entry.file);
    ASSERT_EQ(list->Add(entry.file.empty() ? nullptr : file.bstr, entry.key), S_OK);
  }
  LONG count = -1;
  ASSERT_EQ(list->Count(&count), S_OK);
  ASSERT_EQ(count, static_cast<LONG>(entries.size()));
  for (LONG i = 0; i < count; ++i) {
    BSTR file = nullptr;
    ULONG key = 1;
    SHORT flag = 5;
    ASSERT_EQ(list->Get(i, &file, &key, &flag), S_OK);
    EXPECT_EQ(std::u16string(file == nullptr ? u"" : file, SysStringLen(file)), entries[i].file) << i;
    EXPECT_EQ(key, entries[i].key) << i;
    EXPECT_EQ(flag, 0);
    SysFreeString(file);
  }

  // Outside the list: refused, and nothing written.
  for (LONG index : {LONG{-1}, count, LONG{0x7FFFFFFF}}) {
    BSTR file = reinterpret_cast<BSTR>(0x1);
    ULONG key = 77;
    SHORT flag = 9;
    EXPECT_EQ(list->Get(index, &file, &key, &flag), E_INVALIDARG) << index;
    EXPECT_EQ(file, reinterpret_cast<BSTR>(0x1));
    EXPECT_EQ(key, 77u);
    EXPECT_EQ(flag, 9);
  }
  BSTR file = nullptr;
  ULONG key = 0;
  EXPECT_EQ(list->Get(0, nullptr, &key, nullptr), E_POINTER);
  EXPECT_EQ(list->Get(0, &file, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(list->Count(nullptr), E_POINTER);
  EXPECT_EQ(list->Reserved8(), E_NOTIMPL);
  EXPECT_EQ(list->Reserved9(), E_NOTIMPL);

  ASSERT_EQ(list->Clear(), S_OK);
  ASSERT_EQ(list->Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(list->Get(0, &file, &key, nullptr), E_INVALIDARG);
  Text again(u"again.pdb");
  ASSERT_EQ(list->Add(again, 3), S_OK);
  ASSERT_EQ(list->Get(0, &file, &key, nullptr), S_OK);
  EXPECT_EQ(std::u16string(file), u"again.pdb");
  EXPECT_EQ(key, 3u);
  SysFreeString(file);
  list->Release();
}

TEST_F(DorvantaServer, SearchInfoKeepsEachPropertyApart) {
  IPOISearchInfo* info = nullptr;
  ASSERT_EQ(CreateByClsid(CLSID_POISearchInfo, &info), S_OK);
  ULONG key = 1;
  SHORT category = 1, subCategory = 1;
  double latitude = 1, longitude = 1;
  ASSERT_EQ(info->get_Key(&key), S_OK);
  ASSERT_EQ(info->get_Category(&category), S_OK);
  ASSERT_EQ(info->get_SubCategory(&subCategory), S_OK);
  ASSERT_EQ(info->get_Latitude(&latitude), S_OK);
  ASSERT_EQ(info->get_Longitude(&longitude), S_OK);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(category, 0);
  EXPECT_EQ(subCategory, 0);
  EXPECT_EQ(latitude, 0.0);
  EXPECT_EQ(longitude, 0.0);

  ASSERT_EQ(info->put_Key(4000000000u), S_OK);
  ASSERT_EQ(info->put_Category(18), S_OK);
  ASSERT_EQ(info->put_SubCategory(2), S_OK);
  ASSERT_EQ(info->put_Latitude(53.5574), S_OK);
  ASSERT_EQ(info->put_Longitude(-13.2610), S_OK);
  ASSERT_EQ(info->get_Key(&key), S_OK);
  ASSERT_EQ(info->get_Category(&category), S_OK);
  ASSERT_EQ(info->get_SubCategory(&subCategory), S_OK);
  ASSERT_EQ(info->get_Latitude(&latitude), S_OK);
  ASSERT_EQ(info->get_Longitude(&longitude), S_OK);
  EXPECT_EQ(key, 4000000000u);
  EXPECT_EQ(category, 18);
  EXPECT_EQ(subCategory, 2);
  EXPECT_EQ(latitude, 53.5574);
  EXPECT_EQ(longitude, -13.2610);

  EXPECT_EQ(info->get_Key(nullptr), E_POINTER);
  EXPECT_EQ(info->get_Category(nullptr), E_POINTER);
  EXPECT_EQ(info->get_SubCategory(nullptr), E_POINTER);
  EXPECT_EQ(info->get_Latitude(nullptr), E_POINTER);
  EXPECT_EQ(info->get_Longitude(nullptr), E_POINTER);
  info->Release();
}

// A maps folder of the device with two point-of-interest databases, one of
// them empty, a damaged one, and a file of another kind.
class DorvantaDatabase : public DorvantaServer {
 protected:
  void SetUp() override {
    DorvantaServer::SetUp();
    if (HasFatalFailure()) return;
    folder_ = std::filesystem::path(root_) / "Maps";
    std::filesystem::create_directories(folder_);
    points_ = {Record(7, 6, 3, 53.5570, 13.2610), Record(2, 1, 0, 53.5601, 13.2480),
               Record(4000000000u, 18, 1, -33.9, -70.6)};
    Write("NAME_POI_01.pdb", points_);
    Write("Empty.PDB", {});
    std::ofstream(folder_ / "Damaged.pdb") << "not a database, only some text that looks like nothing";
    std::ofstream(folder_ / "notes.txt") << "not a database file";
    ASSERT_EQ(CreateByClsid(CLSID_Database, &db_), S_OK);
  }
  void TearDown() override {
    if (db_ != nullptr) db_->Release();
    if (engine_ != nullptr) FreeLibrary(engine_);
    DorvantaServer::TearDown();
  }

  // Registers the navigation engine's server, whose point-of-interest
  // objects the database fills.
  void RegisterEngine() {
    engine_ = LoadLibraryW(platform::Utf8ToUtf16(VOV_LIBRARY_PATH).c_str());
    ASSERT_NE(engine_, nullptr) << platform::LastModuleError();
    auto registerEngine = reinterpret_cast<HRESULT (*)()>(GetProcAddress(engine_, "DllRegisterServer"));
    ASSERT_NE(registerEngine, nullptr);
    ASSERT_EQ(registerEngine(), S_OK);
  }

  static dorvanta::PoiRecord Record(std::uint32_t key, std::int16_t category, std::int16_t sub, double lat, double lon) {
    dorvanta::PoiRecord record;
    record.key = key;
    record.name = "Point " + std::to_string(key);
    record.category = category;
    record.subcategory = sub;
    record.latitude = lat;
    record.longitude = lon;
    return record;
  }
  void Write(const std::string& name, const std::vector<dorvanta::PoiRecord>& records) {
    std::unique_ptr<dorvanta::PoiStore> store;
    ASSERT_EQ(dorvanta::PoiStore::Open((folder_ / name).string(), dorvanta::PoiStore::Access::kReadWrite, store),
              dorvanta::DorvantaResult::kOk);
    ASSERT_EQ(store->PutAll(records), dorvanta::DorvantaResult::kOk);
  }
  LONG Open(const std::u16string& path) {
    Text text(path);
    LONG count = -1;
    EXPECT_EQ(db_->DbOpen(text, &count), S_OK);
    return count;
  }
  LONG RecordCount(const std::u16string& file) {
    Text text(file);
    LONG count = -1;
    EXPECT_EQ(db_->DbGetRecordCount(text, &count), S_OK);
    return count;
  }
  VARIANT_BOOL Accepts(const std::u16string& file, ULONG key) {
    Text text(file);
    VARIANT_BOOL accepted = 1;
    EXPECT_EQ(db_->DbPOIAcceptFound(text, key, &accepted), S_OK);
    return accepted;
  }

  std::filesystem::path folder_;
  std::vector<dorvanta::PoiRecord> points_;
  IDatabase* db_ = nullptr;
  HMODULE engine_ = nullptr;
};

TEST_F(DorvantaDatabase, OpensTheDatabasesOfAFolderAndCountsTheirRecords) {
  // The damaged file and the text file are left out.
  EXPECT_EQ(Open(u"\\Maps\\"), 2);
  // Opening again, or one of the files by itself, opens nothing twice.
  EXPECT_EQ(Open(u"\\maps"), 2);
  EXPECT_EQ(Open(u"\\Maps\\NAME_POI_01.pdb"), 2);

  const std::u16string hostFile = Utf16((folder_ / "NAME_POI_01.pdb").string());
  struct Row {
    std::u16string file;
    LONG count;
  };
  const Row rows[] = {{u"\\Maps\\NAME_POI_01.pdb", 3},
                      {hostFile, 3},  // the host's spelling of the same file
                      {u"\\MAPS\\name_poi_01.PDB", 3},
                      {u"\\Maps\\Empty.PDB", 0},
                      {u"\\Maps\\Damaged.pdb", 0},
                      {u"\\Maps\\Missing.pdb", 0},
                      {u"", 0}};
  for (const Row& row : rows) EXPECT_EQ(RecordCount(row.file), row.count) << platform::Utf16ToUtf8(row.file);

  LONG count = -1;
  EXPECT_EQ(db_->DbGetRecordCount(nullptr, &count), S_OK);
  EXPECT_EQ(count, 0);
  Text missing(u"\\Nowhere\\x.pdb");
  EXPECT_EQ(db_->DbOpen(missing, &count), S_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(db_->DbOpen(missing, nullptr), E_POINTER);
  EXPECT_EQ(db_->DbGetRecordCount(missing, nullptr), E_POINTER);

  ASSERT_EQ(db_->DbClose(), S_OK);
  EXPECT_EQ(RecordCount(u"\\Maps\\NAME_POI_01.pdb"), 0);
  EXPECT_EQ(Open(u"\\Maps\\NAME_POI_01.pdb"), 1);
  EXPECT_EQ(RecordCount(u"\\Maps\\NAME_POI_01.pdb"), 3);
}

TEST_F(DorvantaDatabase, ListsTheSearchInfosOfAFileInKeyOrder) {
  ASSERT_EQ(Open(u"\\Maps"), 2);
  const long liveBefore = com::LiveObjectCount();

  VARIANT list;
  VariantInit(&list);
  list.vt = VT_BSTR;  // an old value, freed by the call
  list.bstrVal = SysAllocString(u"old");
  VARIANT_BOOL found = 0;
  Text file(u"\\Maps\\NAME_POI_01.pdb");
  ASSERT_EQ(db_->DbPOIListSearchInfos(file, &list, &found), S_OK);
  EXPECT_EQ(found, VARIANT_TRUE);
  ASSERT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
  LONG lower = -1, upper = -1;
  ASSERT_EQ(SafeArrayGetLBound(list.parray, 1, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(list.parray, 1, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  ASSERT_EQ(upper, static_cast<LONG>(points_.size()) - 1);
  EXPECT_EQ(com::LiveObjectCount(), liveBefore + static_cast<long>(points_.size()));

  std::vector<dorvanta::PoiRecord> expected = points_;
  std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
  for (LONG i = 0; i <= upper; ++i) {
    SCOPED_TRACE(i);
    VARIANT element;
    VariantInit(&element);
    ASSERT_EQ(SafeArrayGetElement(list.parray, &i, &element), S_OK);
    ASSERT_EQ(element.vt, VT_DISPATCH);
    IPOISearchInfo* info = nullptr;
    ASSERT_EQ(element.pdispVal->QueryInterface(IID_IPOISearchInfo, reinterpret_cast<void**>(&info)), S_OK);
    ULONG key = 0;
    SHORT category = 0, subCategory = 0;
    double latitude = 0, longitude = 0;
    info->get_Key(&key);
    info->get_Category(&category);
    info->get_SubCategory(&subCategory);
    info->get_Latitude(&latitude);
    info->get_Longitude(&longitude);
    EXPECT_EQ(key, expected[i].key);
    EXPECT_EQ(category, expected[i].category);
    EXPECT_EQ(subCategory, expected[i].subcategory);
    EXPECT_EQ(latitude, expected[i].latitude);
    EXPECT_EQ(longitude, expected[i].longitude);
    info->Release();
    VariantClear(&element);
  }
  // The array holds the only reference to each info.
  ASSERT_EQ(VariantClear(&list), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), liveBefore);

  // Files without points: not found, and the list is emptied.
  for (const char16_t* name : {u"\\Maps\\Empty.PDB", u"\\Maps\\Damaged.pdb", u"\\Maps\\Missing.pdb", u""}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(name));
    Text other(name);
    VariantInit(&list);
    list.vt = VT_I4;
    list.lVal = 5;
    found = VARIANT_TRUE;
    ASSERT_EQ(db_->DbPOIListSearchInfos(other, &list, &found), S_OK);
    EXPECT_EQ(found, VARIANT_FALSE);
    EXPECT_EQ(list.vt, VT_EMPTY);
  }
  EXPECT_EQ(db_->DbPOIListSearchInfos(file, nullptr, &found), E_POINTER);
  EXPECT_EQ(db_->DbPOIListSearchInfos(file, &list, nullptr), E_POINTER);
}

TEST_F(DorvantaDatabase, AcceptsAFoundEntryOnlyWhenItsFileHoldsTheKey) {
  ASSERT_EQ(Open(u"\\Maps"), 2);
  struct Row {
    std::u16string file;
    ULONG key;
    VARIANT_BOOL accepted;
  };
  const Row rows[] = {{u"\\Maps\\NAME_POI_01.pdb", 7, VARIANT_TRUE},
                      {u"\\Maps\\NAME_POI_01.pdb", 2, VARIANT_TRUE},
                      {u"\\maps\\name_poi_01.pdb", 4000000000u, VARIANT_TRUE},
                      {u"\\Maps\\NAME_POI_01.pdb", 3, VARIANT_FALSE},
                      {u"\\Maps\\Empty.PDB", 7, VARIANT_FALSE},
                      {u"\\Maps\\Damaged.pdb", 7, VARIANT_FALSE},
                      {u"\\Maps\\Missing.pdb", 7, VARIANT_FALSE},
                      {u"", 7, VARIANT_FALSE}};
  for (const Row& row : rows) {
    EXPECT_EQ(Accepts(row.file, row.key), row.accepted) << platform::Utf16ToUtf8(row.file) << " " << row.key;
  }
  Text file(u"\\Maps\\NAME_POI_01.pdb");
  EXPECT_EQ(db_->DbPOIAcceptFound(file, 7, nullptr), E_POINTER);
  ASSERT_EQ(db_->DbClose(), S_OK);
  EXPECT_EQ(Accepts(u"\\Maps\\NAME_POI_01.pdb", 7), VARIANT_FALSE);
}

// A text property of a point-of-interest object, as UTF-8.
std::string Property(IPOIObject* poi, HRESULT (STDMETHODCALLTYPE IPOIObject::*get)(BSTR*)) {
  BSTR text = nullptr;
  EXPECT_EQ((poi->*get)(&text), S_OK);
  std::string value = platform::Utf16ToUtf8(std::u16string_view(text == nullptr ? u"" : text, SysStringLen(text)));
  SysFreeString(text);
  return value;
}

TEST_F(DorvantaDatabase, ReadsARecordIntoTheEnginesPointOfInterestObject) {
  dorvanta::PoiRecord shop = Record(9, 13, 2, 53.5561, 13.2608);
  shop.name = "Bäckerei am Markt";
  shop.houseNumber = "12a";
  shop.street = "Treptower Straße";
  shop.city = "Neubrandenburg";
  shop.postalCode = "17033";
  dorvanta::PoiRecord mine = Record(41, 18, 1, 53.5570, 13.2610);
  mine.phone = "+49 395 555 0100";
  mine.country = "Germany";
  Write("Shops.pdb", {shop, mine});
  ASSERT_EQ(Open(u"\\Maps"), 3);

  const auto read = [this](const std::u16string& file, ULONG key, IPOIObject** out) {
    Text text(file);
    IDispatch* object = nullptr;
    VARIANT_BOOL success = 1;
    HRESULT hr = db_->DbPOIGetRecord(text, key, &object, &success);
    *out = nullptr;
    if (object != nullptr) {
      EXPECT_EQ(object->QueryInterface(IID_IPOIObject, reinterpret_cast<void**>(out)), S_OK);
      object->Release();
    }
    EXPECT_EQ(success != 0, *out != nullptr) << "the flag says whether an object came";
    return hr;
  };

  // Without the engine's server there is no object to put a record in.
  IPOIObject* poi = nullptr;
  EXPECT_TRUE(FAILED(read(u"\\Maps\\Shops.pdb", 9, &poi)));
  EXPECT_EQ(poi, nullptr);

  ASSERT_NO_FATAL_FAILURE(RegisterEngine());

  struct Row {
    std::u16string file;
    dorvanta::PoiRecord record;
    bool userPoint;
    bool privatePoint;
  };
  const Row rows[] = {{u"\\Maps\\Shops.pdb", shop, false, false},
                      {u"\\maps\\SHOPS.pdb", mine, true, true},
                      {u"\\Maps\\NAME_POI_01.pdb", points_[2], true, true},
                      {u"\\Maps\\NAME_POI_01.pdb", points_[0], false, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.file) + " " + std::to_string(row.record.key));
    ASSERT_EQ(read(row.file, row.record.key, &poi), S_OK);
    ASSERT_NE(poi, nullptr);
    LONG key = 0;
    SHORT category = 0;
    SHORT subcategory = 0;
    double latitude = 0;
    double longitude = 0;
    VARIANT_BOOL user = 0;
    VARIANT_BOOL privatePoint = 0;
    EXPECT_EQ(poi->GetKey(&key), S_OK);
    EXPECT_EQ(static_cast<ULONG>(key), row.record.key);
    EXPECT_EQ(poi->GetCategoryNumber(&category), S_OK);
    EXPECT_EQ(category, row.record.category);
    EXPECT_EQ(poi->GetSubCategoryNumber(&subcategory), S_OK);
    EXPECT_EQ(subcategory, row.record.subcategory);
    EXPECT_EQ(poi->GetLatitude(&latitude), S_OK);
    EXPECT_EQ(latitude, row.record.latitude);
    EXPECT_EQ(poi->GetLongitude(&longitude), S_OK);
    EXPECT_EQ(longitude, row.record.longitude);
    EXPECT_EQ(Property(poi, &IPOIObject::GetName), row.record.name);
    EXPECT_EQ(Property(poi, &IPOIObject::GetAddressNumber), row.record.houseNumber);
    EXPECT_EQ(Property(poi, &IPOIObject::GetStreet), row.record.street);
    EXPECT_EQ(Property(poi, &IPOIObject::GetCity), row.record.city);
    EXPECT_EQ(Property(poi, &IPOIObject::GetZipCode), row.record.postalCode);
    EXPECT_EQ(Property(poi, &IPOIObject::GetCountry), row.record.country);
    EXPECT_EQ(Property(poi, &IPOIObject::GetPhoneNumber), row.record.phone);
    EXPECT_EQ(Property(poi, &IPOIObject::GetPDBFile), platform::Utf16ToUtf8(row.file));
    EXPECT_EQ(poi->IsUserPOI(&user), S_OK);
    EXPECT_EQ(user, row.userPoint ? VARIANT_TRUE : VARIANT_FALSE);
    EXPECT_EQ(poi->IsPrivate(&privatePoint), S_OK);
    EXPECT_EQ(privatePoint, row.privatePoint ? VARIANT_TRUE : VARIANT_FALSE);
    poi->Release();
  }

  // Keys and files without a record: no object, the flag false, S_OK.
  const std::pair<std::u16string, ULONG> missing[] = {{u"\\Maps\\Shops.pdb", 7},
                                                      {u"\\Maps\\Empty.PDB", 9},
                                                      {u"\\Maps\\Damaged.pdb", 9},
                                                      {u"\\Maps\\Missing.pdb", 9},
                                                      {u"", 9}};
  for (const auto& [file, key] : missing) {
    EXPECT_EQ(read(file, key, &poi), S_OK) << platform::Utf16ToUtf8(file) << " " << key;
    EXPECT_EQ(poi, nullptr);
  }
  Text file(u"\\Maps\\Shops.pdb");
  IDispatch* object = nullptr;
  VARIANT_BOOL success = 0;
  EXPECT_EQ(db_->DbPOIGetRecord(file, 9, nullptr, &success), E_POINTER);
  EXPECT_EQ(db_->DbPOIGetRecord(file, 9, &object, nullptr), E_POINTER);
}

TEST_F(DorvantaDatabase, MethodsNotOfferedYetAnswerNotImplemented) {
  Text file(u"\\Maps\\NAME_POI_01.pdb");
  LONG value = 0;
  VARIANT list;
  VariantInit(&list);
  EXPECT_EQ(db_->DbPOIGetCategories(&list, &value), E_NOTIMPL);
  EXPECT_EQ(db_->DbPOISetCachePages(10), E_NOTIMPL);
  EXPECT_EQ(db_->DbPOINextFreeKey(file, &value), E_NOTIMPL);
  EXPECT_EQ(db_->DbSetDebugFolder(file), E_NOTIMPL);
  EXPECT_EQ(db_->Reserved9(), E_NOTIMPL);
  EXPECT_EQ(db_->Reserved50(), E_NOTIMPL);
}

}  // namespace
