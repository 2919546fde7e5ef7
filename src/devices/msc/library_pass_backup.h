// A synchronisation pass writes the library file in one batch, with the sync at its end: until
// then the B-tree's pages reach the disk in whatever order its cache evicts them, so a process
// killed part-way would leave a torn file. Before the pass's first write, PassBackup copies
// the file as it stands, synced, to "<library>.bak" and holds that copy open; the copy is
// removed once the pass's changes are written and synced. The copy on the disk is the mark
// that a pass is writing: an open of the library that finds it and nobody holding it puts it
// back in place of the file, so the library is as it was before the pass that was cut short
// (every record and fid of it), and the next pass does that pass's work again.
#pragma once

#include <string>

#include "support/result_codes.h"

class SimpleDB;

class PassBackup {
 public:
  // `library`: the database file's path; empty for a temporary database, which needs no copy.
  // From here on the first write to `db` takes the copy; a copy that fails is the answer of
  // every write of the pass.
  PassBackup(const std::string& library, SimpleDB* db);
  // Removes the gate; a copy not dropped by Finish stays on the disk for the next open.
  ~PassBackup();
  PassBackup(const PassBackup&) = delete;
  PassBackup& operator=(const PassBackup&) = delete;

  // True once the copy was taken.
  bool Taken() const { return hold_ != nullptr; }
  // The pass's end: with its changes written and synced, the copy goes; else it stays and the
  // database is marked inconsistent, so that closing it drops the torn file. A database marked
  // inconsistent already keeps the copy too.
  void Finish(Result written_and_synced);

  // Called before the library is opened: puts back the copy of a pass that was cut short.
  static void RestoreInterruptedPass(const std::string& library);
  static std::string CopyPath(const std::string& library) { return library + ".bak"; }

 private:
  // The write gate: syncs the database and copies its file (or holds the copy there is).
  Result TakeCopy();
  // rc::kNotFound when there is no copy.
  Result HoldExistingCopy(const std::string& copy);
  void RemoveGate();

  std::string library_;
  SimpleDB* db_;
  void* hold_ = nullptr;  // the copy, opened without sharing its deletion
  Result copy_failure_ = rc::kOk;
};
