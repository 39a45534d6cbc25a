// Result codes of the database server's libraries: what went wrong with a
// database file or a record, named so that a caller can tell a missing file
// from a foreign one, a damaged one or one written by a newer server.
#pragma once

namespace dorvanta {

enum class DorvantaResult : int {
  kOk = 0,
  kNotFound,         // no record under the key
  kCannotOpen,       // the file does not exist (read-only) or cannot be opened or created
  kNotADatabase,     // the file is not an SQLite database
  kNotPoiDatabase,   // an SQLite database, but not one of points of interest (no or other schema)
  kNewerVersion,     // a point-of-interest database of a newer schema than this server reads
  kDamaged,          // the file or a record in it is corrupt or truncated
  kReadOnly,         // a write on a store opened read-only
  kInvalidRecord,    // a record to write is out of range (category, position) or its texts are not UTF-8
  kBusy,             // another connection holds the file locked
  kIoError,          // reading or writing the file failed (disk full, I/O error)
};

// The code's name ("kDamaged"), for logs and test output.
const char* DorvantaResultName(DorvantaResult result);

}  // namespace dorvanta
