// SimpleDB: typed records with a schema, a record counter, multi-column indexes, a version
// stamp and change observers, all kept as key/value pairs in one Berkeley DB B-tree file.
// Its queries and record sets live in simple_query and simple_rs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/berkeley_db.h"
#include "db/record_database.h"
#include "db/simple_index_queue.h"
#include "support/registered_lock.h"

// Column types as the schema entry stores them.
enum SimpleColumnType : uint32_t {
  kSimpleNumber = 0,  // signed 32-bit
  kSimpleText = 1,    // NUL-terminated UTF-8
  kSimpleList = 2,    // bytes with a length
};

// Receives the key values that a KeyTransform makes of one text.
class KeyEmitter {
 public:
  virtual ~KeyEmitter() = default;
  // The key part is the text's folded form.
  virtual void EmitFolded(const char* text) = 0;
  // The key part is the text's bytes as they stand.
  virtual void EmitRaw(const char* text) = 0;
};

// Turns one text column value into zero, one or several index key values.
class KeyTransform {
 public:
  virtual ~KeyTransform() = default;
  virtual void Transform(const char* text, KeyEmitter* emitter) = 0;
};

// Told before a record is written or removed; a negative result vetoes the change.
class RecordObserver {
 public:
  virtual ~RecordObserver() = default;
  virtual Result OnUpdate(RecordSet* record) = 0;
  virtual Result OnDelete(RecordSet* record) = 0;
};

struct SimpleColumn {
  std::string name;
  uint32_t type = kSimpleNumber;
  KeyTransform* transform = nullptr;  // not owned
};

// The values of one record, one cell per schema column.
struct SimpleCell {
  int32_t number = 0;
  std::string bytes;  // text (without its NUL) or list bytes
};
typedef std::vector<SimpleCell> SimpleCells;

class SimpleDB : public RecordDatabase {
 public:
  explicit SimpleDB(BerkeleyDb::OpenFunction open = nullptr);
  ~SimpleDB() override;

  Result CreateQuery(RefPtr<RecordQuery>* out) override;
  // Every record, unfiltered and not yet positioned: call MoveFirst (or AddNew).
  Result OpenRecordSet(RefPtr<RecordSet>* out) override;

  // Mode bits of BerkeleyDb::Open. A schema or index list that does not fit its entry is
  // damage: rc::kBadData, and the file is closed again; so is a file that fails the check
  // that BerkeleyDb::kVerify asks for.
  Result Open(const char* path, uint32_t mode);
  Result Close();
  Result Sync();

  // An existing name is left as it is. Rewrites the schema entry.
  void AddColumn(const std::string& name, uint32_t type);
  // An index over the named columns in this order; rc::kNotFound (nothing added) when a name
  // is not a column. Rewrites the index list entry.
  Result AddIndex(const std::vector<std::string>& columns);
  bool HasIndex(const std::vector<std::string>& columns) const;
  bool HasIndex(const std::vector<uint32_t>& columns) const;
  Result SetColumnTransform(const std::string& name, KeyTransform* transform);
  void SetVersion(uint32_t version);
  // rc::kNotFound when the stamp is missing or was written under another C locale.
  Result GetVersion(uint32_t* version);
  int32_t FindColumn(const std::string& name) const;
  // The next record number, stored in the counter entry before it is handed out.
  Result NextRecordNumber(uint32_t* number);
  void AddObserver(RecordObserver* observer) { observers_.push_back(observer); }
  Result GetColumnKind(int32_t column, ColumnKind* kind) const;

  void SetSyncOnChange(bool sync) { sync_on_change_ = sync; }
  bool SyncOnChange() const { return sync_on_change_; }
  bool SchemaEmpty() const { return schema_empty_; }
  bool Inconsistent() const { return inconsistent_; }
  void MarkInconsistent() { inconsistent_ = true; }

  const std::vector<SimpleColumn>& Columns() const { return columns_; }
  const std::vector<std::vector<uint32_t>>& Indexes() const { return indexes_; }
  const std::vector<RecordObserver*>& Observers() const { return observers_; }
  BerkeleyDb* Db() { return db_.get(); }

  // The database lock; re-entrant for its owning thread.
  void Enter() { lock_.Enter(); }
  void Leave() { lock_.Leave(); }

  // Index batches (a pass over many records): while one is open, changes to index entries
  // are queued (simple_index_queue.h) and made by EndIndexBatch, Sync, Close and any record
  // set that reads their index, each entry once and in key order. The file's bytes come out
  // as without a batch. Batches nest; the outermost end makes every queued change, and
  // answers the first write that failed (the database is then marked inconsistent: records
  // stand without their index entries).
  void BeginIndexBatch();
  Result EndIndexBatch();
  // Makes the queued changes to entries whose keys begin with `prefix` (a record set about
  // to read them).
  void MakeQueuedChanges(const std::string& prefix);

  // Index maintenance of one record. Update passes the values it stored before (null for a
  // new record); Delete passes null as the new values.
  Result MoveInIndexes(uint32_t record, const SimpleCells* before, const SimpleCells* after);

 private:
  Result LoadSchema();
  Result LoadIndexList();
  Result WriteSchema();
  Result WriteIndexList();
  // Changes an entry at once, or in a batch queues the change.
  Result ChangeEntry(const std::string& key, IndexChange change);
  // Makes `changes` in order to the entry as the file holds it, writing it once.
  Result ChangeStoredEntry(const std::string& key, const std::vector<IndexChange>& changes);
  // Makes the queued changes to entries whose keys begin with `prefix`; failures are
  // remembered for EndIndexBatch.
  Result MakeQueued(const std::string& prefix);

  // Sets the index list and the key head of each index.
  void SetIndexes(std::vector<std::vector<uint32_t>> indexes);

  BerkeleyDb::OpenFunction open_function_;
  std::unique_ptr<BerkeleyDb> db_;
  RegisteredLock lock_{"SimpleDB"};
  bool schema_empty_ = true;
  bool sync_on_change_ = true;
  bool inconsistent_ = false;
  std::vector<RecordObserver*> observers_;
  uint32_t counter_ = 0;
  std::vector<SimpleColumn> columns_;
  std::vector<std::vector<uint32_t>> indexes_;
  std::vector<std::string> index_heads_;  // IndexKeyHead of each index
  // Storage used again by each record's index maintenance and each entry change.
  std::vector<std::string> old_keys_, new_keys_;
  std::string entry_value_;
  std::vector<uint32_t> entry_numbers_;
  uint32_t batch_depth_ = 0;
  IndexChangeQueue queued_;
  Result queue_failure_ = rc::kOk;  // the first failed write of queued changes in this batch
};
