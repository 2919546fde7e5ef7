// BerkeleyDb: the one B-tree file under a SimpleDB, reached through the 1.85 interface
// (dbopen with DB_BTREE). BerkeleyDbCursor: a position in that tree that survives changes made
// between its moves, because it keeps its own copy of the key it stands on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/result_codes.h"

struct __db;  // the library's handle (DB)

class BerkeleyDb {
 public:
  // Open mode bits.
  static constexpr uint32_t kRead = 1;
  static constexpr uint32_t kWrite = 2;
  static constexpr uint32_t kCreate = 4;
  static constexpr uint32_t kExclusive = 8;
  // An existing file passes Berkeley DB's own verification before it is opened; a file that
  // fails it is refused with rc::kBadData. For files that others may have written or damaged.
  static constexpr uint32_t kVerify = 16;

  // How the handle is made: dbopen(path, flags, mode, DB_BTREE, info) by default. Tests
  // replace it to wrap the handle's operations.
  typedef struct __db* (*OpenFunction)(const char* path, int flags, int mode, const void* info);

  explicit BerkeleyDb(OpenFunction open = nullptr) : open_(open) {}
  ~BerkeleyDb() { Close(); }
  BerkeleyDb(const BerkeleyDb&) = delete;
  BerkeleyDb& operator=(const BerkeleyDb&) = delete;

  // A null path opens a temporary tree without a named file.
  Result Open(const char* path, uint32_t mode);
  // Releases the file and everything the library holds for it, also after the library
  // panicked (on damage it found in the file).
  Result Close();
  bool IsOpen() const { return db_ != nullptr; }

  Result Put(const void* key, uint32_t key_length, const void* value, uint32_t value_length);
  Result Put(const std::string& key, const std::string& value) {
    return Put(key.data(), static_cast<uint32_t>(key.size()), value.data(),
               static_cast<uint32_t>(value.size()));
  }
  // rc::kNotFound when the key is absent.
  Result Get(const void* key, uint32_t key_length, std::string* value);
  Result Get(const std::string& key, std::string* value) {
    return Get(key.data(), static_cast<uint32_t>(key.size()), value);
  }
  // rc::kNotFound when the key is absent.
  Result Delete(const void* key, uint32_t key_length);
  Result Delete(const std::string& key) {
    return Delete(key.data(), static_cast<uint32_t>(key.size()));
  }
  Result Sync();

  // Asked before every Put and Delete until it has once answered success; a failure is that
  // write's answer and the file stays untouched. Null removes it. Kept across Open and Close.
  void SetWriteGate(std::function<Result()> gate) { write_gate_ = std::move(gate); }

  struct __db* Handle() const { return db_; }

 private:
  // The write gate's answer (success once it has opened).
  Result PassWriteGate();

  OpenFunction open_;
  struct __db* db_ = nullptr;
  std::function<Result()> write_gate_;
};

class BerkeleyDbCursor {
 public:
  // A null database gives a cursor that is always at its end.
  explicit BerkeleyDbCursor(BerkeleyDb* db) : db_(db) {}

  // Stands on the first key greater than or equal to `key`; with `exact`, only on that very
  // key, else at the end.
  void Seek(const std::string& key, bool exact);
  // The key after the one the cursor stands on, also when that key was deleted meanwhile.
  void Next();
  bool AtEnd() const { return at_end_; }
  const std::string& Key() const { return key_; }
  // A copy of the value found with the key.
  const std::string& Value() const { return value_; }
  bool operator==(const BerkeleyDbCursor& other) const { return at_end_ && other.at_end_; }

 private:
  // Positions the library's cursor on the first key >= key; false at the end or on an error.
  bool SeekRaw(const std::string& key, std::string* found_key, std::string* found_value);
  void SetEnd();

  BerkeleyDb* db_;
  std::string key_;
  std::string value_;
  bool at_end_ = true;
};
