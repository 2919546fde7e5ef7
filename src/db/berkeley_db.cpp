#include "db/berkeley_db.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "db/berkeley_db_native.h"
#include "db/db185_api.h"
#include "support/debug_trace.h"

namespace {

DB* OpenBtree(const char* path, int flags, int mode, const void* info) {
  return dbopen(path, flags, mode, DB_BTREE, info);
}

Result LibraryError() { return rc::FromErrno(errno); }

DBT Bytes(const void* data, uint32_t length) {
  DBT dbt;
  dbt.data = const_cast<void*>(data);
  dbt.size = length;
  return dbt;
}

std::string Copy(const DBT& dbt) {
  return std::string(static_cast<const char*>(dbt.data), dbt.size);
}

}  // namespace

Result BerkeleyDb::Open(const char* path, uint32_t mode) {
  Close();
  BTREEINFO info;
  std::memset(&info, 0, sizeof(info));
  info.cachesize = 1048576;
  info.psize = 4096;
  info.maxkeypage = 0x40000000;
  info.minkeypage = 0;
  info.lorder = 0;
  int flags = (mode & kWrite) ? O_RDWR : O_RDONLY;
  if (mode & kCreate) flags |= O_CREAT;
  if (mode & kExclusive) flags |= O_EXCL;
#ifdef O_BINARY
  flags |= O_BINARY;
#endif
  // The library's 1.85 layer does not pass O_EXCL on; an existing file is refused here.
  struct stat existing;
  const bool exists = path != nullptr && stat(path, &existing) == 0;
  if ((mode & kExclusive) && exists) {
    errno = EEXIST;
  } else {
    if ((mode & kVerify) && exists && existing.st_size > 0) {
      // Damage that the library meets only inside a later call can crash the process there
      // (a page size of 0, an item outside its page): the file is checked whole first.
      const Result verified = berkeley_native::VerifyFile(path);
      if (rc::Failed(verified)) return verified;
    }
    errno = 0;
    db_ = (open_ ? open_ : OpenBtree)(path, flags, 0664, &info);
  }
  if (db_ == nullptr) {
    const int err = errno;
    TORVEX_TRACE("Can't open database, errno=%d\n", err);
    return rc::FromErrno(err);
  }
  return rc::kOk;
}

Result BerkeleyDb::Close() {
  if (db_ == nullptr) return rc::kOk;
  DB* db = db_;
  db_ = nullptr;
  berkeley_native::LetCloseThroughAPanic(db->internal);
  return db->close(db) == 0 ? rc::kOk : LibraryError();
}

Result BerkeleyDb::PassWriteGate() {
  if (!write_gate_) return rc::kOk;
  const Result answer = write_gate_();
  if (rc::Succeeded(answer)) write_gate_ = nullptr;
  return answer;
}

Result BerkeleyDb::Put(const void* key, uint32_t key_length, const void* value,
                       uint32_t value_length) {
  if (db_ == nullptr) return rc::kNotFound;
  const Result gate = PassWriteGate();
  if (rc::Failed(gate)) return gate;
  DBT k = Bytes(key, key_length);
  const DBT v = Bytes(value, value_length);
  return db_->put(db_, &k, &v, 0) == 0 ? rc::kOk : LibraryError();
}

Result BerkeleyDb::Get(const void* key, uint32_t key_length, std::string* value) {
  if (db_ == nullptr) return rc::kNotFound;
  const DBT k = Bytes(key, key_length);
  DBT v = Bytes(nullptr, 0);
  const int status = db_->get(db_, &k, &v, 0);
  if (status < 0) return LibraryError();
  if (status > 0) return rc::kNotFound;
  value->assign(static_cast<const char*>(v.data), v.size);  // keeps the caller's storage
  return rc::kOk;
}

Result BerkeleyDb::Delete(const void* key, uint32_t key_length) {
  if (db_ == nullptr) return rc::kNotFound;
  const Result gate = PassWriteGate();
  if (rc::Failed(gate)) return gate;
  const DBT k = Bytes(key, key_length);
  const int status = db_->del(db_, &k, 0);
  if (status < 0) return LibraryError();
  return status > 0 ? rc::kNotFound : rc::kOk;
}

Result BerkeleyDb::Sync() {
  if (db_ == nullptr) return rc::kNotFound;
  // mingw's pthread.h defines a sync macro; the parentheses keep it away from the member.
  return (db_->sync)(db_, 0) == 0 ? rc::kOk : LibraryError();
}

bool BerkeleyDbCursor::SeekRaw(const std::string& key, std::string* found_key,
                               std::string* found_value) {
  DB* db = db_ ? db_->Handle() : nullptr;
  if (db == nullptr) return false;
  DBT k = Bytes(key.data(), static_cast<uint32_t>(key.size()));
  DBT v = Bytes(nullptr, 0);
  if (db->seq(db, &k, &v, R_CURSOR) != 0) return false;
  *found_key = Copy(k);
  *found_value = Copy(v);
  return true;
}

void BerkeleyDbCursor::SetEnd() {
  at_end_ = true;
  value_.clear();
}

void BerkeleyDbCursor::Seek(const std::string& key, bool exact) {
  std::string found_key, found_value;
  if (!SeekRaw(key, &found_key, &found_value) || (exact && found_key != key)) {
    SetEnd();
    return;
  }
  key_ = std::move(found_key);
  value_ = std::move(found_value);
  at_end_ = false;
}

void BerkeleyDbCursor::Next() {
  if (at_end_) return;
  std::string found_key, found_value;
  if (!SeekRaw(key_, &found_key, &found_value)) {
    SetEnd();
    return;
  }
  if (found_key == key_) {
    // Still there: step past it. Nothing ran on the handle since the seek.
    DB* db = db_->Handle();
    DBT k = Bytes(nullptr, 0);
    DBT v = Bytes(nullptr, 0);
    if (db->seq(db, &k, &v, R_NEXT) != 0) {
      SetEnd();
      return;
    }
    found_key = Copy(k);
    found_value = Copy(v);
  }
  // The tree only moves forward; anything lower over the common length means it wrapped.
  const size_t common = std::min(found_key.size(), key_.size());
  if (std::memcmp(found_key.data(), key_.data(), common) < 0) {
    SetEnd();
    return;
  }
  key_ = std::move(found_key);
  value_ = std::move(found_value);
}
