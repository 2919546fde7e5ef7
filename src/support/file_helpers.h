// Files and folders on the PC: existence, deletion, renaming and replacing, copies with
// progress, folder creation, temporary files and disk space. Paths are narrow text in the ANSI
// code page. Results: 0, C-runtime failures rc::FromErrno, Win32 failures rc::FromWin32.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

// Told how far a copy has come; a negative result cancels the copy.
class CopyProgressSink {
 public:
  virtual ~CopyProgressSink() = default;
  virtual Result OnCopyProgress(uint32_t done, uint32_t total) = 0;
};

// Files and folders alike.
bool FileExists(const std::string& path);
Result UnlinkFile(const std::string& path);
// Clears the read-only and system attributes first.
Result UnlinkFileForce(const std::string& path);
Result RemoveEmptyDirectory(const std::string& path);
// Sets or clears the hidden attribute, keeping the others. Win32 failure code.
Result SetHiddenAttribute(const std::string& path, bool hidden);
// False also when the path does not exist.
bool IsHiddenFile(const std::string& path);
// Fails when `to` exists.
Result RenameFile(const std::string& from, const std::string& to);
// Puts `from` in the place of `to` in one step (an existing `to` is replaced, a copy is made
// across volumes); on failure `to` is as it was. Win32 failure code.
Result ReplaceFileWith(const std::string& from, const std::string& to);
// Creates every folder along the path; folders that exist already are fine. `first_made` (may
// be null) receives the outermost folder this call created, empty when it created none.
Result MakeDirectories(const std::string& path, std::string* first_made = nullptr);
// Deletes a file, or a folder with everything in it, without asking anybody.
Result DeleteTree(const std::string& path);
// Overwrites an existing destination; a cancelled copy fails with the cancellation error.
Result CopyFileWithProgress(const std::string& source, const std::string& destination,
                            CopyProgressSink* sink);
// The copy routine's scaling: both halved together until the total is below 2^29.
void ScaleCopyProgress(uint64_t done, uint64_t total, uint32_t* scaled_done,
                       uint32_t* scaled_total);

// Creates an empty file with a unique name in the temporary folder; `descriptor` (may be
// null) receives a read-write C-runtime descriptor on it, else it is closed.
Result CreateTempFile(const std::string& prefix, int* descriptor, std::string* name);
Result TempFileName(const std::string& prefix, std::string* name);
// Creates an empty file of this call's own in the folder of `path` ("TKMxxxx.TMP"), so that a
// rename can put it in the place of `path`; two writers of one path never share it.
Result CreateSiblingTempFile(const std::string& path, std::string* name);

uint32_t DriveTypeOf(const std::string& path);
// Each out pointer may be null.
Result DiskSpace(const std::string& path, uint64_t* total, uint64_t* available, uint64_t* used);
Result ClusterSize(const std::string& path, uint32_t* bytes);
