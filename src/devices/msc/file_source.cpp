#include "devices/msc/file_source.h"

#include <algorithm>
#include <new>

#include <windows.h>

#include "devices/msc/file_source_observer.h"
#include "devices/msc/source_path_compare.h"
#include "support/file_stream.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

namespace {

constexpr Result kAccessDenied = static_cast<Result>(0x80070005);

}  // namespace

Result SourceRecordDatabase::CreateQuery(RefPtr<RecordQuery>* out) {
  return db_ ? db_->CreateQuery(out) : rc::kNotImplemented;
}

Result SourceRecordDatabase::OpenRecordSet(RefPtr<RecordSet>* out) {
  return db_ ? db_->OpenRecordSet(out) : rc::kNotImplemented;
}

Result SourceRecordDatabase::FindRow(RefPtr<RecordSet>* out, uint32_t fid) {
  if (fid < kRootFid || fid % kFidStep != 0) return rc::kNotFound;
  RefPtr<RecordQuery> query;
  Result status = CreateQuery(&query);
  if (rc::Succeeded(status) && !query) status = rc::kOutOfMemory;
  if (rc::Succeeded(status)) status = query->AddIntCondition("fid", kOpEqual, fid);
  RefPtr<RecordSet> found;
  if (rc::Succeeded(status)) status = query->Execute(&found);
  if (rc::Failed(status)) return status;
  if (!found || found->IsEOF()) return rc::kNotFound;
  *out = found;
  return rc::kOk;
}

Result FidFileOpener::OpenFile(uint32_t fid, std::unique_ptr<FileStream>* stream) {
  RefPtr<RecordSet> record;
  const Result status = source_->RecordDb().FindRow(&record, fid);
  if (rc::Failed(status)) return status;
  const std::string path = Utf8ToLatin1(record->GetString("path"));
  // The database lies on the player: a record naming a file of the PC is not followed.
  if (!source_->LiesInsideRoots(path)) return kAccessDenied;
  return OpenFileStream(path.c_str(), OpenRead, stream);
}

DirectorySource::DirectorySource(uint32_t flags, const std::string& name, SimpleDB* db)
    : flags_(flags), name_(name), database_(db), opener_(this) {}

DirectorySource::~DirectorySource() = default;

bool DirectorySource::PlaylistOptions() const {
  return (flags_ & (kFolderRecords | kReadPlaylists | kRootTracksInRoot)) != 0;
}

std::string DirectorySource::NewPlaylistPath() const {
  return JoinPath(RootPath(), SanitizeFileName("0123456789")) + ".m3u";
}

bool DirectorySource::LiesInsideRoots(const std::string& path) const {
  return PathBelowAny(path, roots_);
}

bool DirectorySource::IsRoot(const std::string& path) const { return PathIsAny(path, roots_); }

void DirectorySource::AddChangeListener(SourceChangeListener* listener) {
  listeners_.push_back(listener);
}

void DirectorySource::RemoveChangeListener(SourceChangeListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener),
                   listeners_.end());
}

FileSource::FileSource(uint32_t flags, const std::string& database_path,
                       const std::string& first_root, BerkeleyDb::OpenFunction open)
    : DirectorySource(flags, first_root, &db_), database_path_(database_path), db_(open) {
  AddRootFolder(first_root);
  observer_.reset(new FileSourceObserver(this));
}

Result FileSource::Create(uint32_t flags, const std::string& database_path,
                          const std::string& first_root, std::unique_ptr<MscFileSource>* out) {
  out->reset(new (std::nothrow) FileSource(flags, database_path, first_root));
  return *out ? rc::kOk : rc::kOutOfMemory;
}

void FileSource::Lock() {
  source_lock_.Enter();
  if (lock_depth_++ == 0) lock_owner_ = GetCurrentThreadId();
  write_back_ = 0;
}

void FileSource::Unlock() {
  if (--lock_depth_ == 0) {
    lock_owner_ = 0;
    write_back_ = 1;
  }
  source_lock_.Leave();
}

bool FileSource::WriteBack() const {
  // The flag speaks only for the thread that holds the lock: another thread's change is
  // written back even while a scan holds the lock.
  return write_back_ != 0 || lock_owner_ != GetCurrentThreadId();
}

Result FileSource::SyncDatabase() { return db_.Sync(); }

void FileSource::SetSyncOnChange(bool sync) { db_.SetSyncOnChange(sync); }

Result FileSource::AddRoot(const std::string& root) {
  AddRootFolder(root);
  return rc::kOk;
}
