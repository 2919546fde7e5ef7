// What a synchronisation of the file source tells its caller: every record it scanned,
// progress, and the failures it met. The caller chooses whether a failure stops the pass.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class RecordSet;

class ScanListener {
 public:
  virtual ~ScanListener() = default;
  // The record of a file just scanned: new, changed or unchanged. The result becomes the
  // result of that file's scan; a negative one stops the pass.
  virtual Result OnTrack(RecordSet& record) { return rc::kOk; }
  // Files scanned so far, of `total` expected.
  virtual Result OnProgress(const std::string& path, uint32_t done, uint32_t total) {
    return rc::kOk;
  }
  // Bytes scanned so far, of the expected byte total.
  virtual Result OnByteProgress(const std::string& path, uint64_t done, uint64_t total) {
    return rc::kOk;
  }
  // A file or folder cannot be read: a negative result stops the pass, 0 or more skips it.
  virtual Result OnFileError(const std::string& path, Result error) { return rc::kOk; }
  // The walk of a pass is over; next the pass writes the root list and deletes the records of
  // the files it did not meet. A negative result ends the pass with it, deleting nothing.
  virtual Result OnWalkDone() { return rc::kOk; }
  // A database operation failed: 0 or more lets the scan go on.
  virtual Result OnDatabaseError(const std::string& path, Result error) { return error; }
};
