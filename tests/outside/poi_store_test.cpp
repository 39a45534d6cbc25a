// The database server's point-of-interest store: records survive a reopen
// as written (UTF-8 names, texts with SQL's quote and separator characters),
// a key is replaced and removed, a bulk write is whole or nothing, invalid
// records and writes on a read-only store are refused, and files that are
// not point-of-interest databases of this version (foreign, damaged,
// truncated, newer) are refused by name and left as they were.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "outside/dorvanta/PoiStore.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using dorvanta::DorvantaResult;
using dorvanta::PoiRecord;
using dorvanta::PoiStore;
using Access = PoiStore::Access;

// So that a failed expectation prints the code's name.
std::string Name(DorvantaResult r) { return dorvanta::DorvantaResultName(r); }

PoiRecord Record(std::uint32_t key, std::string name) {
  PoiRecord r;
  r.key = key;
  r.name = std::move(name);
  r.category = static_cast<std::int16_t>(1 + key % 18);
  r.subcategory = static_cast<std::int16_t>(key % 7);
  r.latitude = 53.5 + (key % 1000) * 1e-6;
  r.longitude = 13.25 - (key % 1000) * 1e-6;
  r.houseNumber = std::to_string(key % 90 + 1) + "a";
  r.street = "Turmstraße";
  r.city = "Neubrandenburg";
  r.postalCode = "17033";
  r.country = "DE";
  r.phone = "+49 395 " + std::to_string(key);
  return r;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Runs fixed SQL on a file with SQLite itself, to make files the store did
// not write.
void RawSql(const fs::path& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

class PoiStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.path();
  }

  fs::path File(const std::string& name) const { return dir_ / name; }

  std::unique_ptr<PoiStore> OpenOk(const fs::path& path, Access access) {
    std::unique_ptr<PoiStore> store;
    const DorvantaResult r = PoiStore::Open(path.string(), access, store);
    EXPECT_EQ(Name(r), "kOk") << path;
    return store;
  }

  // A store of `count` records, closed again.
  fs::path MakeStore(const std::string& name, std::uint32_t count) {
    const fs::path path = File(name);
    std::unique_ptr<PoiStore> store = OpenOk(path, Access::kReadWrite);
    std::vector<PoiRecord> records;
    for (std::uint32_t key = 1; key <= count; ++key) records.push_back(Record(key, "Punkt " + std::to_string(key)));
    if (store) {
      EXPECT_EQ(Name(store->PutAll(records)), "kOk");
    }
    return path;
  }

  std::vector<PoiRecord> All(PoiStore& store) {
    std::vector<PoiRecord> all;
    EXPECT_EQ(Name(store.ForEach([&](const PoiRecord& r) {
                all.push_back(r);
                return true;
              })),
              "kOk");
    return all;
  }

  testing_support::TempFolder folder_{"poi-store"};
  fs::path dir_;
};

TEST_F(PoiStoreTest, RecordsReadBackAsWrittenAfterReopenInKeyOrder) {
  // Texts are kept byte for byte: non-ASCII letters and scripts, and the
  // characters that would end or split an SQL text if it were pasted in.
  std::vector<PoiRecord> written = {
      Record(4000000000u, "Café Größenwahn"),
      Record(7, "Ресторан «Волга» 北京"),
      Record(0, "Joe's \"Bar\"; DROP TABLE poi; --"),
      Record(12, ""),
  };
  written[1].street = "it's; \"quoted\"";
  written[3].phone = "";
  written[3].latitude = -90.0;
  written[3].longitude = 180.0;
  const fs::path path = File("round.pdb");
  {
    std::unique_ptr<PoiStore> store = OpenOk(path, Access::kReadWrite);
    ASSERT_TRUE(store);
    for (const PoiRecord& r : written) ASSERT_EQ(Name(store->Put(r)), "kOk") << r.key;
  }
  std::unique_ptr<PoiStore> store = OpenOk(path, Access::kReadOnly);
  ASSERT_TRUE(store);
  std::uint64_t count = 0;
  ASSERT_EQ(Name(store->Count(count)), "kOk");
  EXPECT_EQ(count, written.size());
  for (const PoiRecord& r : written) {
    PoiRecord read;
    ASSERT_EQ(Name(store->Get(r.key, read)), "kOk") << r.key;
    EXPECT_EQ(read, r) << r.key;
  }
  const std::vector<PoiRecord> all = All(*store);
  ASSERT_EQ(all.size(), written.size());
  EXPECT_EQ(all[0].key, 0u);
  EXPECT_EQ(all[1].key, 7u);
  EXPECT_EQ(all[2].key, 12u);
  EXPECT_EQ(all[3].key, 4000000000u);
  PoiRecord missing;
  EXPECT_EQ(Name(store->Get(8, missing)), "kNotFound");

  // Stopping the walk early stops it.
  int visited = 0;
  EXPECT_EQ(Name(store->ForEach([&](const PoiRecord&) { return ++visited < 2; })), "kOk");
  EXPECT_EQ(visited, 2);
}

TEST_F(PoiStoreTest, PutReplacesTheRecordOfItsKeyAndRemoveTakesItOut) {
  std::unique_ptr<PoiStore> store = OpenOk(File("replace.pdb"), Access::kReadWrite);
  ASSERT_TRUE(store);
  ASSERT_EQ(Name(store->Put(Record(5, "Alt"))), "kOk");
  ASSERT_EQ(Name(store->Put(Record(6, "Nachbar"))), "kOk");
  PoiRecord newer = Record(5, "Neu");
  newer.category = 18;
  newer.city = "";
  ASSERT_EQ(Name(store->Put(newer)), "kOk");
  std::uint64_t count = 0;
  ASSERT_EQ(Name(store->Count(count)), "kOk");
  EXPECT_EQ(count, 2u);
  PoiRecord read;
  ASSERT_EQ(Name(store->Get(5, read)), "kOk");
  EXPECT_EQ(read, newer);

  EXPECT_EQ(Name(store->Remove(5)), "kOk");
  EXPECT_EQ(Name(store->Remove(5)), "kNotFound");
  EXPECT_EQ(Name(store->Get(5, read)), "kNotFound");
  ASSERT_EQ(Name(store->Get(6, read)), "kOk");
  EXPECT_EQ(read.name, "Nachbar");
  ASSERT_EQ(Name(store->Count(count)), "kOk");
  EXPECT_EQ(count, 1u);
}

TEST_F(PoiStoreTest, InvalidRecordsAreRefusedAndABulkWriteIsWholeOrNothing) {
  struct Case {
    const char* what;
    void (*spoil)(PoiRecord&);
  };
  const Case cases[] = {
      {"category 0", [](PoiRecord& r) { r.category = 0; }},
      {"category 19", [](PoiRecord& r) { r.category = 19; }},
      {"negative subcategory", [](PoiRecord& r) { r.subcategory = -1; }},
      {"latitude past the pole", [](PoiRecord& r) { r.latitude = 90.5; }},
      {"longitude past the date line", [](PoiRecord& r) { r.longitude = -180.01; }},
      {"latitude not a number", [](PoiRecord& r) { r.latitude = std::nan(""); }},
      {"longitude infinite", [](PoiRecord& r) { r.longitude = std::numeric_limits<double>::infinity(); }},
      {"name cut inside a character", [](PoiRecord& r) { r.name = "Caf\xc3"; }},
      {"overlong form of '/'", [](PoiRecord& r) { r.street = "a\xc0\xaf" "b"; }},
      {"UTF-16 surrogate", [](PoiRecord& r) { r.city = "\xed\xa0\x80"; }},
      {"NUL inside a text", [](PoiRecord& r) { r.phone = std::string("0395\0 1", 7); }},
  };
  std::unique_ptr<PoiStore> store = OpenOk(MakeStore("bulk.pdb", 3), Access::kReadWrite);
  ASSERT_TRUE(store);
  for (const Case& c : cases) {
    PoiRecord bad = Record(2, "Schlecht");
    c.spoil(bad);
    EXPECT_EQ(Name(store->Put(bad)), "kInvalidRecord") << c.what;
    // A bulk write with the bad record among good ones stores none of them.
    const std::vector<PoiRecord> batch = {Record(2, "Geändert"), bad, Record(9, "Neu")};
    EXPECT_EQ(Name(store->PutAll(batch)), "kInvalidRecord") << c.what;
  }
  const std::vector<PoiRecord> all = All(*store);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1], Record(2, "Punkt 2"));

  // A key given twice in one bulk write keeps the later record.
  const std::vector<PoiRecord> twice = {Record(20, "Erst"), Record(20, "Dann")};
  ASSERT_EQ(Name(store->PutAll(twice)), "kOk");
  PoiRecord read;
  ASSERT_EQ(Name(store->Get(20, read)), "kOk");
  EXPECT_EQ(read.name, "Dann");
}

TEST_F(PoiStoreTest, AReadOnlyStoreRefusesWritesAndLeavesTheFileAsItWas) {
  const fs::path path = MakeStore("readonly.pdb", 4);
  const std::string before = Bytes(path);
  {
    std::unique_ptr<PoiStore> store = OpenOk(path, Access::kReadOnly);
    ASSERT_TRUE(store);
    EXPECT_EQ(Name(store->Put(Record(9, "Neu"))), "kReadOnly");
    const std::vector<PoiRecord> batch = {Record(9, "Neu")};
    EXPECT_EQ(Name(store->PutAll(batch)), "kReadOnly");
    EXPECT_EQ(Name(store->Remove(1)), "kReadOnly");
    EXPECT_EQ(All(*store).size(), 4u);
  }
  EXPECT_EQ(Bytes(path), before);
}

TEST_F(PoiStoreTest, AnEmptyFileIsSetUpForWritingButNotReadAsADatabase) {
  const fs::path path = File("empty.pdb");
  WriteBytes(path, "");
  std::unique_ptr<PoiStore> store;
  EXPECT_EQ(Name(PoiStore::Open(path.string(), Access::kReadOnly, store)), "kNotPoiDatabase");
  EXPECT_FALSE(store);
  store = OpenOk(path, Access::kReadWrite);
  ASSERT_TRUE(store);
  ASSERT_EQ(Name(store->Put(Record(1, "Erster"))), "kOk");
  store.reset();
  store = OpenOk(path, Access::kReadOnly);
  ASSERT_TRUE(store);
  EXPECT_EQ(All(*store).size(), 1u);
}

TEST_F(PoiStoreTest, FilesThatAreNotPointOfInterestDatabasesOfThisVersionAreRefusedUntouched) {
  // A valid store of many records, so that damage in its middle hits data.
  const fs::path good = MakeStore("good.pdb", 3000);
  const std::string goodBytes = Bytes(good);
  ASSERT_GT(goodBytes.size(), 64u * 1024u);

  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* readOnly;   // what opening it read-only gives
    const char* readWrite;  // ... and for writing
  };
  const Case cases[] = {
      {"missing", [](const fs::path&) {}, "kCannotOpen", nullptr},
      {"a text file",
       [](const fs::path& p) { WriteBytes(p, "name;category\nCafé;2\n" + std::string(2000, 'x')); },
       "kNotADatabase", "kNotADatabase"},
      {"the first 60 bytes", [&](const fs::path& p) { WriteBytes(p, goodBytes.substr(0, 60)); }, "kDamaged",
       "kDamaged"},
      {"cut to half", [&](const fs::path& p) { WriteBytes(p, goodBytes.substr(0, goodBytes.size() / 2)); },
       "kDamaged", "kDamaged"},
      {"pages overwritten in the middle",
       [&](const fs::path& p) {
         std::string bytes = goodBytes;
         for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 8192; ++i) bytes[i] = static_cast<char>(i * 37);
         WriteBytes(p, bytes);
       },
       "kDamaged", "kDamaged"},
      {"another program's database",
       [](const fs::path& p) { RawSql(p, "CREATE TABLE contacts (name TEXT, phone TEXT)"); }, "kNotPoiDatabase",
       "kNotPoiDatabase"},
      {"another program's mark on an empty database",
       [](const fs::path& p) { RawSql(p, "PRAGMA application_id = 1234"); }, "kNotPoiDatabase", "kNotPoiDatabase"},
      {"our mark, the table gone",
       [&](const fs::path& p) {
         WriteBytes(p, goodBytes);
         RawSql(p, "DROP TABLE poi");
       },
       "kNotPoiDatabase", "kNotPoiDatabase"},
      {"our mark, a newer schema",
       [&](const fs::path& p) {
         WriteBytes(p, goodBytes);
         RawSql(p, "PRAGMA user_version = 2; ALTER TABLE poi RENAME TO places");
       },
       "kNewerVersion", "kNewerVersion"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = File(std::string("case-") + std::to_string(&c - cases) + ".pdb");
    c.make(path);
    const bool existed = fs::exists(path);
    const std::string before = existed ? Bytes(path) : std::string();
    std::unique_ptr<PoiStore> store;
    EXPECT_EQ(Name(PoiStore::Open(path.string(), Access::kReadOnly, store)), c.readOnly);
    EXPECT_FALSE(store);
    if (c.readWrite != nullptr) {
      EXPECT_EQ(Name(PoiStore::Open(path.string(), Access::kReadWrite, store)), c.readWrite);
      EXPECT_FALSE(store);
    }
    EXPECT_EQ(fs::exists(path), existed);
    if (existed) {
      EXPECT_EQ(Bytes(path), before);
    }
  }
}

TEST_F(PoiStoreTest, ARecordOutsideWhatTheStoreWritesReadsAsDamage) {
  const fs::path path = MakeStore("rows.pdb", 3);
  RawSql(path, "UPDATE poi SET category = 99 WHERE key = 2; UPDATE poi SET name = X'4142' WHERE key = 3");
  std::unique_ptr<PoiStore> store = OpenOk(path, Access::kReadOnly);
  ASSERT_TRUE(store);
  PoiRecord read;
  EXPECT_EQ(Name(store->Get(1, read)), "kOk");
  EXPECT_EQ(Name(store->Get(2, read)), "kDamaged");
  EXPECT_EQ(Name(store->Get(3, read)), "kDamaged");
  std::size_t visited = 0;
  EXPECT_EQ(Name(store->ForEach([&](const PoiRecord&) { return ++visited > 0; })), "kDamaged");
  EXPECT_EQ(visited, 1u);
}

}  // namespace
