// A point-of-interest database file (*.pdb) of the database server: the
// points of one map's point-of-interest file, or the user's own points, each
// under the key the map's point names it by, with its name, category,
// position, address and phone. Each file is an SQLite database holding one
// table of records; its header carries an application id that marks it as
// a point-of-interest database and a schema version, so that a foreign or
// newer file is refused instead of misread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "outside/dorvanta/DorvantaResult.h"

struct sqlite3;
struct sqlite3_stmt;

namespace dorvanta {

// Categories 1..17 are the map's points, 18 the user's own.
inline constexpr std::int16_t kPoiCategoryFirst = 1;
inline constexpr std::int16_t kPoiCategoryLast = 18;

// One point. Texts are UTF-8; an empty text is a field the point has not.
struct PoiRecord {
  std::uint32_t key = 0;
  std::string name;
  std::int16_t category = 0;     // 1..18
  std::int16_t subcategory = 0;  // 0 (none of the category's named ones) or above
  double latitude = 0.0;         // degrees, -90..90
  double longitude = 0.0;        // degrees, -180..180
  std::string houseNumber;
  std::string street;
  std::string city;
  std::string postalCode;
  std::string country;
  std::string phone;

  bool operator==(const PoiRecord&) const = default;
};

// kOk when a record may be stored: category 1..18, subcategory not
// negative, a finite position on the earth, texts valid UTF-8 without NUL.
[[nodiscard]] DorvantaResult CheckPoiRecord(const PoiRecord& record);

// One open database file. Calls may come from several threads; they are
// taken one at a time. Every call leaves the file as it was when it fails:
// a bulk write is one transaction and is stored whole or not at all.
class PoiStore {
 public:
  enum class Access { kReadOnly, kReadWrite };

  // Opens `path`. kReadOnly needs an existing point-of-interest database;
  // kReadWrite also creates the file, or sets up an empty one (no bytes, or
  // an SQLite database without tables). Every other file is refused with
  // what it is (kNotADatabase, kNotPoiDatabase, kNewerVersion, kDamaged);
  // the open check reads the whole file once, so a truncated or corrupt
  // file is refused here rather than partly read later. On failure `out`
  // is empty and the file is untouched.
  [[nodiscard]] static DorvantaResult Open(const std::string& path, Access access, std::unique_ptr<PoiStore>& out);

  ~PoiStore();
  PoiStore(const PoiStore&) = delete;
  PoiStore& operator=(const PoiStore&) = delete;

  // Stores a record, replacing the one under the same key.
  [[nodiscard]] DorvantaResult Put(const PoiRecord& record);
  // Stores all records in one transaction: when one is invalid or the write
  // fails, none is stored. A key given twice keeps the later record.
  [[nodiscard]] DorvantaResult PutAll(std::span<const PoiRecord> records);
  // The record under `key`; kNotFound when there is none.
  [[nodiscard]] DorvantaResult Get(std::uint32_t key, PoiRecord& out);
  // Removes the record under `key`; kNotFound when there is none.
  [[nodiscard]] DorvantaResult Remove(std::uint32_t key);
  [[nodiscard]] DorvantaResult Count(std::uint64_t& out);
  // Hands every record to `visit` in ascending key order until it returns
  // false. `visit` must not call back into this store.
  [[nodiscard]] DorvantaResult ForEach(const std::function<bool(const PoiRecord&)>& visit);

  const std::string& path() const { return path_; }

 private:
  PoiStore(sqlite3* db, std::string path, bool writable);
  DorvantaResult Prepare();
  DorvantaResult PutLocked(const PoiRecord& record);

  sqlite3* db_ = nullptr;
  std::string path_;
  bool writable_ = false;
  std::mutex mutex_;
  sqlite3_stmt* put_ = nullptr;
  sqlite3_stmt* get_ = nullptr;
  sqlite3_stmt* remove_ = nullptr;
  sqlite3_stmt* count_ = nullptr;
  sqlite3_stmt* all_ = nullptr;
};

}  // namespace dorvanta
