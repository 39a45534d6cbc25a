// The point-of-interest store on SQLite: opening and checking a file,
// setting up a new one, and reading and writing records through prepared
// statements whose values are always bound, never written into the SQL.
#include "outside/dorvanta/PoiStore.h"

#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

namespace dorvanta {
namespace {

// "PoiD" in the database header's application id: the mark of a
// point-of-interest database, which other SQLite files do not carry.
constexpr int kApplicationId = 0x506F6944;
// The schema this code writes and reads; a file of a higher version was
// written by a newer server and is refused rather than half understood.
constexpr int kSchemaVersion = 1;

constexpr const char* kCreateTable =
    "CREATE TABLE poi ("
    "key INTEGER PRIMARY KEY CHECK (key BETWEEN 0 AND 4294967295), "
    "name TEXT NOT NULL, "
    "category INTEGER NOT NULL, "
    "subcategory INTEGER NOT NULL, "
    "latitude REAL NOT NULL, "
    "longitude REAL NOT NULL, "
    "house_number TEXT NOT NULL, "
    "street TEXT NOT NULL, "
    "city TEXT NOT NULL, "
    "postal_code TEXT NOT NULL, "
    "country TEXT NOT NULL, "
    "phone TEXT NOT NULL)";

// The columns in the order ReadRecord and the put statement use.
#define POI_COLUMNS \
  "key, name, category, subcategory, latitude, longitude, house_number, street, city, postal_code, country, phone"

DorvantaResult FromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return DorvantaResult::kOk;
    case SQLITE_NOTADB: return DorvantaResult::kNotADatabase;
    case SQLITE_CORRUPT: return DorvantaResult::kDamaged;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return DorvantaResult::kBusy;
    case SQLITE_CANTOPEN: return DorvantaResult::kCannotOpen;
    case SQLITE_READONLY: return DorvantaResult::kReadOnly;
    default: return DorvantaResult::kIoError;
  }
}

// Resets a statement and clears its bindings when a call is done with it,
// however the call ends.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  sqlite3_stmt* statement_;
};

// Runs SQL without results (fixed texts only).
int Execute(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// The integer the first row of a one-value query gives.
int QueryInt(sqlite3* db, const char* sql, sqlite3_int64& value) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      value = sqlite3_column_int64(statement, 0);
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(statement);
  return rc;
}

// SQLite's check of the whole file: pages, records and indexes (it leaves
// out only the match of indexes to their tables' contents).
DorvantaResult QuickCheck(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &statement, nullptr);
  DorvantaResult result = FromSqlite(rc);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW) {
      result = rc == SQLITE_DONE ? DorvantaResult::kDamaged : FromSqlite(rc);
    } else {
      const unsigned char* text = sqlite3_column_text(statement, 0);
      const bool ok = text != nullptr && std::string_view(reinterpret_cast<const char*>(text)) == "ok";
      result = ok ? DorvantaResult::kOk : DorvantaResult::kDamaged;
    }
  }
  sqlite3_finalize(statement);
  return result;
}

bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead == 0) return false;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if ((lead & 0xe0) == 0xc0) {
      length = 2, code = lead & 0x1fu, least = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
      length = 3, code = lead & 0x0fu, least = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
      length = 4, code = lead & 0x07u, least = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3fu);
    }
    // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not
    // characters.
    if (code < least || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return false;
    i += length;
  }
  return true;
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

bool ColumnText(sqlite3_stmt* statement, int column, std::string& out) {
  if (sqlite3_column_type(statement, column) != SQLITE_TEXT) return false;
  const unsigned char* text = sqlite3_column_text(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  if (text == nullptr || size < 0) return false;
  out.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
  return true;
}

bool ColumnInt16(sqlite3_stmt* statement, int column, std::int16_t& out) {
  if (sqlite3_column_type(statement, column) != SQLITE_INTEGER) return false;
  const sqlite3_int64 value = sqlite3_column_int64(statement, column);
  if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max()) return false;
  out = static_cast<std::int16_t>(value);
  return true;
}

bool ColumnDouble(sqlite3_stmt* statement, int column, double& out) {
  const int type = sqlite3_column_type(statement, column);
  if (type != SQLITE_FLOAT && type != SQLITE_INTEGER) return false;
  out = sqlite3_column_double(statement, column);
  return true;
}

// The record of the statement's current row; a row that a correct store
// cannot hold (wrong types, values out of range, bad UTF-8) is damage.
DorvantaResult ReadRecord(sqlite3_stmt* statement, PoiRecord& out) {
  PoiRecord r;
  if (sqlite3_column_type(statement, 0) != SQLITE_INTEGER) return DorvantaResult::kDamaged;
  const sqlite3_int64 key = sqlite3_column_int64(statement, 0);
  if (key < 0 || key > std::numeric_limits<std::uint32_t>::max()) return DorvantaResult::kDamaged;
  r.key = static_cast<std::uint32_t>(key);
  const bool typed = ColumnText(statement, 1, r.name) && ColumnInt16(statement, 2, r.category) &&
                     ColumnInt16(statement, 3, r.subcategory) && ColumnDouble(statement, 4, r.latitude) &&
                     ColumnDouble(statement, 5, r.longitude) && ColumnText(statement, 6, r.houseNumber) &&
                     ColumnText(statement, 7, r.street) && ColumnText(statement, 8, r.city) &&
                     ColumnText(statement, 9, r.postalCode) && ColumnText(statement, 10, r.country) &&
                     ColumnText(statement, 11, r.phone);
  if (!typed || CheckPoiRecord(r) != DorvantaResult::kOk) return DorvantaResult::kDamaged;
  out = std::move(r);
  return DorvantaResult::kOk;
}

// Sets up the table and the header marks of a file that holds nothing yet.
// Inside one write transaction, so that a second writer setting up the same
// file waits, and then finds it set up.
DorvantaResult SetUp(sqlite3* db) {
  int rc = Execute(db, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return FromSqlite(rc);
  sqlite3_int64 objects = 0;
  sqlite3_int64 applicationId = 0;
  rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", objects);
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA application_id", applicationId);
  DorvantaResult result = FromSqlite(rc);
  if (result == DorvantaResult::kOk && objects == 0) {
    rc = Execute(db, kCreateTable);
    // Pragmas take no bound values; both numbers are this file's constants.
    if (rc == SQLITE_OK) {
      const std::string marks = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
      rc = Execute(db, marks.c_str());
    }
    if (rc == SQLITE_OK) rc = Execute(db, "COMMIT");
    result = FromSqlite(rc);
  } else if (result == DorvantaResult::kOk && applicationId != kApplicationId) {
    result = DorvantaResult::kNotPoiDatabase;
  }
  if (sqlite3_get_autocommit(db) == 0) Execute(db, "ROLLBACK");
  return result;
}

// What the file is, read from its header: kOk for a point-of-interest
// database of a version this code reads.
DorvantaResult CheckHeader(sqlite3* db, bool writable) {
  sqlite3_int64 applicationId = 0;
  sqlite3_int64 version = 0;
  sqlite3_int64 objects = 0;
  int rc = QueryInt(db, "PRAGMA application_id", applicationId);
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA user_version", version);
  if (rc == SQLITE_OK) rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", objects);
  if (rc != SQLITE_OK) return FromSqlite(rc);
  if (applicationId != kApplicationId) {
    const bool blank = applicationId == 0 && version == 0 && objects == 0;
    if (!blank || !writable) return DorvantaResult::kNotPoiDatabase;
    return SetUp(db);
  }
  if (version > kSchemaVersion) return DorvantaResult::kNewerVersion;
  if (version < 1) return DorvantaResult::kNotPoiDatabase;
  return DorvantaResult::kOk;
}

}  // namespace

DorvantaResult CheckPoiRecord(const PoiRecord& r) {
  const bool ranges = r.category >= kPoiCategoryFirst && r.category <= kPoiCategoryLast && r.subcategory >= 0 &&
                      std::isfinite(r.latitude) && std::isfinite(r.longitude) && std::fabs(r.latitude) <= 90.0 &&
                      std::fabs(r.longitude) <= 180.0;
  const bool texts = IsUtf8(r.name) && IsUtf8(r.houseNumber) && IsUtf8(r.street) && IsUtf8(r.city) &&
                     IsUtf8(r.postalCode) && IsUtf8(r.country) && IsUtf8(r.phone);
  return ranges && texts ? DorvantaResult::kOk : DorvantaResult::kInvalidRecord;
}

DorvantaResult PoiStore::Open(const std::string& path, Access access, std::unique_ptr<PoiStore>& out) {
  out.reset();
  if (path.empty() || path.find('\0') != std::string::npos) return DorvantaResult::kCannotOpen;
  const bool writable = access == Access::kReadWrite;
  // Calls are serialised by the store's own mutex, so SQLite's is not needed.
  const int flags = (writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                    SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  // The store owns the handle from here, also when opening failed.
  std::unique_ptr<PoiStore> store(new PoiStore(db, path, writable));
  if (rc != SQLITE_OK) return FromSqlite(rc);
  // Another connection writing the same file makes this one wait a little
  // before it gives up with kBusy.
  sqlite3_busy_timeout(db, 2000);
  DorvantaResult result = CheckHeader(db, writable);
  if (result == DorvantaResult::kOk) result = QuickCheck(db);
  // The statements name the table and every column: a file of our mark
  // whose table is missing or altered does not prepare.
  if (result == DorvantaResult::kOk) result = store->Prepare();
  if (result == DorvantaResult::kOk) out = std::move(store);
  return result;
}

PoiStore::PoiStore(sqlite3* db, std::string path, bool writable)
    : db_(db), path_(std::move(path)), writable_(writable) {}

PoiStore::~PoiStore() {
  for (sqlite3_stmt* statement : {put_, get_, remove_, count_, all_}) sqlite3_finalize(statement);
  sqlite3_close_v2(db_);
}

DorvantaResult PoiStore::Prepare() {
  struct {
    sqlite3_stmt** statement;
    const char* sql;
  } const statements[] = {
      {&put_, "INSERT OR REPLACE INTO poi (" POI_COLUMNS ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"},
      {&get_, "SELECT " POI_COLUMNS " FROM poi WHERE key = ?1"},
      {&remove_, "DELETE FROM poi WHERE key = ?1"},
      {&count_, "SELECT count(*) FROM poi"},
      {&all_, "SELECT " POI_COLUMNS " FROM poi ORDER BY key"},
  };
  for (const auto& s : statements) {
    const int rc = sqlite3_prepare_v3(db_, s.sql, -1, SQLITE_PREPARE_PERSISTENT, s.statement, nullptr);
    if (rc != SQLITE_OK) return (rc & 0xff) == SQLITE_ERROR ? DorvantaResult::kNotPoiDatabase : FromSqlite(rc);
  }
  return DorvantaResult::kOk;
}

DorvantaResult PoiStore::PutLocked(const PoiRecord& r) {
  StatementUse use(put_);
  sqlite3_bind_int64(put_, 1, r.key);
  BindText(put_, 2, r.name);
  sqlite3_bind_int(put_, 3, r.category);
  sqlite3_bind_int(put_, 4, r.subcategory);
  sqlite3_bind_double(put_, 5, r.latitude);
  sqlite3_bind_double(put_, 6, r.longitude);
  BindText(put_, 7, r.houseNumber);
  BindText(put_, 8, r.street);
  BindText(put_, 9, r.city);
  BindText(put_, 10, r.postalCode);
  BindText(put_, 11, r.country);
  BindText(put_, 12, r.phone);
  const int rc = sqlite3_step(put_);
  return rc == SQLITE_DONE ? DorvantaResult::kOk : FromSqlite(rc);
}

DorvantaResult PoiStore::Put(const PoiRecord& record) {
  if (!writable_) return DorvantaResult::kReadOnly;
  if (const DorvantaResult checked = CheckPoiRecord(record); checked != DorvantaResult::kOk) return checked;
  std::lock_guard lock(mutex_);
  return PutLocked(record);
}

DorvantaResult PoiStore::PutAll(std::span<const PoiRecord> records) {
  if (!writable_) return DorvantaResult::kReadOnly;
  for (const PoiRecord& record : records) {
    if (const DorvantaResult checked = CheckPoiRecord(record); checked != DorvantaResult::kOk) return checked;
  }
  std::lock_guard lock(mutex_);
  int rc = Execute(db_, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return FromSqlite(rc);
  DorvantaResult result = DorvantaResult::kOk;
  for (const PoiRecord& record : records) {
    result = PutLocked(record);
    if (result != DorvantaResult::kOk) break;
  }
  if (result == DorvantaResult::kOk) {
    rc = Execute(db_, "COMMIT");
    result = FromSqlite(rc);
  }
  // A failed write or commit leaves the transaction open: undo all of it.
  if (sqlite3_get_autocommit(db_) == 0) Execute(db_, "ROLLBACK");
  return result;
}

DorvantaResult PoiStore::Get(std::uint32_t key, PoiRecord& out) {
  std::lock_guard lock(mutex_);
  StatementUse use(get_);
  sqlite3_bind_int64(get_, 1, key);
  const int rc = sqlite3_step(get_);
  if (rc == SQLITE_DONE) return DorvantaResult::kNotFound;
  if (rc != SQLITE_ROW) return FromSqlite(rc);
  return ReadRecord(get_, out);
}

DorvantaResult PoiStore::Remove(std::uint32_t key) {
  if (!writable_) return DorvantaResult::kReadOnly;
  std::lock_guard lock(mutex_);
  StatementUse use(remove_);
  sqlite3_bind_int64(remove_, 1, key);
  const int rc = sqlite3_step(remove_);
  if (rc != SQLITE_DONE) return FromSqlite(rc);
  return sqlite3_changes(db_) == 0 ? DorvantaResult::kNotFound : DorvantaResult::kOk;
}

DorvantaResult PoiStore::Count(std::uint64_t& out) {
  std::lock_guard lock(mutex_);
  StatementUse use(count_);
  const int rc = sqlite3_step(count_);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? DorvantaResult::kDamaged : FromSqlite(rc);
  out = static_cast<std::uint64_t>(sqlite3_column_int64(count_, 0));
  return DorvantaResult::kOk;
}

DorvantaResult PoiStore::ForEach(const std::function<bool(const PoiRecord&)>& visit) {
  std::lock_guard lock(mutex_);
  StatementUse use(all_);
  for (;;) {
    const int rc = sqlite3_step(all_);
    if (rc == SQLITE_DONE) return DorvantaResult::kOk;
    if (rc != SQLITE_ROW) return FromSqlite(rc);
    PoiRecord record;
    if (const DorvantaResult read = ReadRecord(all_, record); read != DorvantaResult::kOk) return read;
    if (!visit(record)) return DorvantaResult::kOk;
  }
}

}  // namespace dorvanta
