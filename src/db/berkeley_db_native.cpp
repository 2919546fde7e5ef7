#include "db/berkeley_db_native.h"

#include <db.h>

#include "support/debug_trace.h"

namespace {

// The check keeps a record of every page it has seen; a cache that holds them spares it
// temporary files for large libraries.
constexpr u_int32_t kVerifyCacheBytes = 4 * 1024 * 1024;

}  // namespace

namespace berkeley_native {

Result VerifyFile(const char* path) {
  DB* db = nullptr;
  int status = db_create(&db, nullptr, 0);
  if (status != 0) return status > 0 ? rc::FromErrno(status) : rc::kFail;
  db->set_cachesize(db, 0, kVerifyCacheBytes, 1);
  // The handle is gone after verify, whatever it answers.
  status = db->verify(db, path, nullptr, nullptr, 0);
  if (status == 0) return rc::kOk;
  if (status == DB_VERIFY_BAD) {
    TORVEX_TRACE("Database %s failed its verification\n", path);
    return rc::kBadData;
  }
  // The library's own codes are negative; a positive one is the C library's.
  return status > 0 ? rc::FromErrno(status) : rc::kBadData;
}

void LetCloseThroughAPanic(void* native_handle) {
  DB* db = static_cast<DB*>(native_handle);
  if (db == nullptr) return;
  DB_ENV* environment = db->get_env(db);
  // Has an effect only on an environment that panicked.
  if (environment != nullptr) environment->set_flags(environment, DB_NOPANIC, 1);
}

}  // namespace berkeley_native
