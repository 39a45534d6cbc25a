// Names of the database server's result codes.
#include "outside/dorvanta/DorvantaResult.h"

namespace dorvanta {

const char* DorvantaResultName(DorvantaResult result) {
  switch (result) {
    case DorvantaResult::kOk: return "kOk";
    case DorvantaResult::kNotFound: return "kNotFound";
    case DorvantaResult::kCannotOpen: return "kCannotOpen";
    case DorvantaResult::kNotADatabase: return "kNotADatabase";
    case DorvantaResult::kNotPoiDatabase: return "kNotPoiDatabase";
    case DorvantaResult::kNewerVersion: return "kNewerVersion";
    case DorvantaResult::kDamaged: return "kDamaged";
    case DorvantaResult::kReadOnly: return "kReadOnly";
    case DorvantaResult::kInvalidRecord: return "kInvalidRecord";
    case DorvantaResult::kBusy: return "kBusy";
    case DorvantaResult::kIoError: return "kIoError";
  }
  return "unknown DorvantaResult";
}

}  // namespace dorvanta
