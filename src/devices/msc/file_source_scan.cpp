// Scanning and synchronisation of a file source: the walk over its roots, the scan of one
// file, fid allocation.
#include "devices/msc/file_source.h"

#include <windows.h>
#include <winnetwk.h>

#include <algorithm>
#include <memory>
#include <set>

#include "devices/msc/library_pass_backup.h"
#include "devices/msc/msc_results.h"
#include "devices/msc/msc_track_records.h"
#include "devices/msc/scan_listener.h"
#include "devices/msc/scan_visitor.h"
#include "devices/msc/source_paths.h"
#include "devices/msc/source_sinks.h"
#include "media/album_art.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "media/tag_reader_factory.h"
#include "support/file_helpers.h"
#include "support/text_convert.h"

namespace {

constexpr int32_t kOwnPicture = 0x2000;     // "options": a picture file of the track's own
constexpr int32_t kFolderPicture = 0x1000;  // with kOwnPicture: the folder's picture
constexpr uint32_t kLastFid = 0xFFFFFFF0u;

// The synchronisation walks roots with these flags.
constexpr uint32_t kPassWalkFlags = kWalkAnnounceFolder | kWalkSkipHidden;

Result AnswerOrSelf(ScanListener* listener,
                    Result (ScanListener::*call)(const std::string&, Result),
                    const std::string& path, Result error) {
  return listener ? (listener->*call)(path, error) : error;
}

// True when `path` lies under `folder` (both compared with a trailing separator, byte for byte).
bool LiesUnder(const std::string& path, const std::string& folder) {
  std::string prefix = folder;
  if (prefix.empty() || (prefix.back() != '\\' && prefix.back() != '/')) prefix += '\\';
  std::string full = path;
  if (full.empty() || (full.back() != '\\' && full.back() != '/')) full += '\\';
  return full.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// --- one file ----------------------------------------------------------------------------

Result FileSource::ScanFile(const std::string& given_path, uint32_t* fid, uint32_t* fid_generation,
                            ScanListener* listener) {
  *fid = 0;
  *fid_generation = 0;
  std::string path;
  Result result = CanonicalPath(given_path, &path);
  if (rc::Failed(result)) {
    return AnswerOrSelf(listener, &ScanListener::OnFileError, given_path, result);
  }

  RefPtr<RecordSet> record;
  result = FindRecordByPath(Database(), path, &record);
  if (rc::Failed(result) && result != rc::kNotFound) {
    // Without knowing whether the file has a record, a new one could double it: skip it.
    return AnswerOrSelf(listener, &ScanListener::OnDatabaseError, path, result);
  }
  const bool is_new = result == rc::kNotFound;

  FileStatus status;
  if (!ReadFileStatus(path, &status) || status.is_folder) return rc::kOk;

  if (!is_new) {
    *fid = static_cast<uint32_t>(record->GetInt("fid"));
    *fid_generation = static_cast<uint32_t>(record->GetInt("fid_generation"));
    if (record->GetInt("mtime") == status.mtime) {
      return listener ? listener->OnTrack(*record) : rc::kOk;
    }
  }

  RefPtr<PropertySet> tags;
  result = PropertySet::Create(&tags);
  std::unique_ptr<TagReader> reader;
  if (rc::Succeeded(result)) result = TagReaderFactory(path, std::string(), &reader);
  if (rc::Succeeded(result)) {
    if (Flags() & kNoFingerprint) reader->SetComputeFingerprint(false);
    PropertySetTagSink sink(tags.Get());
    result = reader->ReadFile(path, &sink);
  }
  if (rc::Failed(result)) return AnswerOrSelf(listener, &ScanListener::OnFileError, path, result);

  if (is_new) {
    uint32_t new_fid = 0;
    result = NewFid(&new_fid);
    if (rc::Succeeded(result)) result = Database()->OpenRecordSet(&record);
    if (rc::Succeeded(result) && !record) result = rc::kOutOfMemory;
    if (rc::Succeeded(result)) result = record->AddNew();
    if (rc::Succeeded(result)) result = record->SetInt("fid", static_cast<int32_t>(new_fid));
    if (rc::Failed(result)) {
      return AnswerOrSelf(listener, &ScanListener::OnDatabaseError, path, result);
    }
    *fid = new_fid;
  }

  for (int32_t column = 0;; ++column) {
    const std::string name = tags->GetColumnName(column);
    if (name.empty()) break;
    // A file's tags never choose its fid; keys the schema lacks are dropped.
    if (name != "fid") record->SetString(name, tags->GetString(column));
  }
  record->SetString("path", StoredPathForm(path));
  record->SetInt("mtime", status.mtime);
  record->SetInt("ctime", status.ctime);
  record->SetInt("fid_generation", status.ctime);
  record->SetInt("length", static_cast<int32_t>(status.size));
  record->SetString("type", "tune");
  if (Flags() & kPictures) {
    int32_t options = record->GetInt("options");
    if ((options & (kOwnPicture | kFolderPicture)) == 0) {
      std::string picture;
      if (FindAlbumArtForTrack(path, kAlbumArtJpeg, &picture)) {
        options |= kOwnPicture;
      } else if (!folder_picture_.empty()) {
        picture = folder_picture_;
        options |= kOwnPicture | kFolderPicture;
      }
      if (options & (kOwnPicture | kFolderPicture)) {
        record->SetInt("options", options);
        record->SetString("image_path", StoredPathForm(picture));
      }
    }
  }
  record->SetString("state", "");

  Lock();
  result = record->Update();
  Unlock();
  if (rc::Failed(result)) {
    if (is_new) *fid = 0;  // the record was never stored: nothing may refer to its fid
    return AnswerOrSelf(listener, &ScanListener::OnDatabaseError, path, result);
  }
  *fid_generation = static_cast<uint32_t>(status.ctime);
  if (is_new) {
    for (SourceChangeListener* change : ChangeListeners()) change->OnRecordAdded(*fid);
  }
  newest_time_ = std::max({newest_time_, status.mtime, status.ctime});
  return listener ? listener->OnTrack(*record) : rc::kOk;
}

// --- fids --------------------------------------------------------------------------------

Result FileSource::NewFid(uint32_t* fid) {
  *fid = 0;
  source_lock_.Enter();
  uint32_t& cached = RecordDb().cached_next_fid;
  Result result = rc::kOk;
  if (cached != 0) {
    *fid = cached;
    cached = *fid < kLastFid ? *fid + kFidStep : 0;
  } else {
    RefPtr<RecordQuery> query;
    result = Database()->CreateQuery(&query);
    if (rc::Succeeded(result) && !query) result = rc::kOutOfMemory;
    if (rc::Succeeded(result)) result = query->AddSortColumn("fid");
    RefPtr<RecordSet> records;
    if (rc::Succeeded(result)) result = query->Execute(&records);
    uint64_t candidate = kFirstFreeFid;
    bool gap = false;
    while (rc::Succeeded(result) && records && !records->IsEOF()) {
      const uint32_t used = static_cast<uint32_t>(records->GetInt("fid"));
      if (candidate < used) {
        gap = true;
        break;
      }
      // Fids below the first free one (the root record) never pull the candidate down, and
      // a stray fid that is no multiple of 16 moves it to the next one that is.
      candidate = std::max<uint64_t>(candidate, (used & ~(kFidStep - 1)) + uint64_t{kFidStep});
      result = records->MoveNext();
    }
    if (rc::Succeeded(result) && candidate > kLastFid) result = rc::kOutOfMemory;
    if (rc::Succeeded(result)) {
      *fid = static_cast<uint32_t>(candidate);
      cached = (gap || candidate == kLastFid) ? 0 : *fid + kFidStep;
    }
  }
  source_lock_.Leave();
  return result;
}

// --- the pass ----------------------------------------------------------------------------

void FileSource::ConnectNetworkRoots() {
  if (owner_window_ == nullptr) return;
  for (const std::string& root : Roots()) {
    NETRESOURCEA resource = {};
    resource.dwScope = RESOURCE_GLOBALNET;
    resource.dwType = RESOURCETYPE_DISK;
    resource.dwDisplayType = RESOURCEDISPLAYTYPE_SHARE;
    resource.dwUsage = RESOURCEUSAGE_CONNECTABLE;
    resource.lpRemoteName = const_cast<char*>(root.c_str());
    WNetUseConnectionA(static_cast<HWND>(owner_window_), &resource, nullptr, nullptr,
                       CONNECT_INTERACTIVE, nullptr, nullptr, nullptr);
  }
}

Result FileSource::CountFiles(ScanListener* listener) {
  ScanVisitor counter(this, listener, true);
  for (const std::string& root : Roots()) {
    const Result result = scan_directory(&counter, root, kPassWalkFlags, FolderListing());
    if (rc::Failed(result)) return result;
  }
  expected_files_ = counter.files_counted();
  return rc::kOk;
}

Result FileSource::Synchronise(ScanListener* listener, const std::string& sub_path,
                               bool skip_counting) {
  // The index entries that every track shares (its type, a common genre or year) are written
  // once at the end of the pass, not once per track, and the database is synced once. Until
  // then the file on the disk is torn, so a copy taken before the first write stands in for it.
  const bool sync_on_change = db_.SyncOnChange();
  db_.SetSyncOnChange(false);
  PassBackup backup(database_path_, &db_);
  db_.BeginIndexBatch();
  Result result = SynchronisePass(listener, sub_path, skip_counting);
  Result written = db_.EndIndexBatch();
  db_.SetSyncOnChange(sync_on_change);
  if (sync_on_change || backup.Taken()) {
    const Result synced = db_.Sync();
    if (rc::Succeeded(written)) written = synced;
  }
  backup.Finish(written);
  if (rc::Failed(written) && rc::Succeeded(result)) {
    result = AnswerOrSelf(listener, &ScanListener::OnDatabaseError, RootPath(), written);
    if (rc::Succeeded(result)) result = rc::kOk;
  }
  return result;
}

Result FileSource::SynchronisePass(ScanListener* listener, const std::string& sub_path,
                                   bool skip_counting) {
  FinishRemovals();
  for (std::string& root : roots_) {
    std::string canonical;
    const Result result = CanonicalPath(root, &canonical);
    if (rc::Succeeded(result)) {
      root = canonical;
    } else {
      const Result answer = AnswerOrSelf(listener, &ScanListener::OnFileError, root, result);
      if (rc::Failed(answer)) return answer;
    }
  }
  std::vector<std::string> walk = roots_;
  std::string resolved_sub_path;
  if (!sub_path.empty()) {
    Result result = CanonicalPath(sub_path, &resolved_sub_path);
    if (rc::Failed(result)) return result;
    walk.clear();
    for (const std::string& root : roots_) {
      if (root == resolved_sub_path) walk.push_back(resolved_sub_path);
    }
    if (walk.empty()) return rc::kOk;
  }
  ConnectNetworkRoots();
  if (listener && !skip_counting) {
    const Result counted = CountFiles(listener);
    if (rc::Failed(counted)) return counted;
  }

  ScanVisitor visitor(this, listener, false);
  for (const std::string& root : walk) {
    const Result result = scan_directory(&visitor, root, kPassWalkFlags, FolderListing());
    if (rc::Failed(result)) return result;
  }
  if (listener) {
    const Result answer = listener->OnWalkDone();
    if (rc::Failed(answer)) return answer;
  }
  // A part of the drive that could not be read says nothing about its files: keep every
  // record, and the root list as it stands.
  if (visitor.walk_incomplete()) return rc::kOk;
  Result result = UpdateRootMembers(visitor.root_members());
  if (rc::Failed(result)) {
    const Result answer =
        AnswerOrSelf(listener, &ScanListener::OnDatabaseError, RootPath(), result);
    if (rc::Failed(answer)) return answer;
  }
  return DeleteUnmetRecords(listener, resolved_sub_path, visitor.fids_met(), skip_counting);
}

Result FileSource::UpdateRootMembers(const std::vector<PlaylistMember>& members) {
  RefPtr<RecordSet> root;
  Result result = RecordDb().FindRow(&root, kRootFid);
  if (rc::Failed(result) && result != rc::kNotFound) return result;
  if (result == rc::kNotFound) {
    result = Database()->OpenRecordSet(&root);
    if (rc::Succeeded(result) && !root) result = rc::kOutOfMemory;
    if (rc::Succeeded(result)) result = root->AddNew();
    if (rc::Succeeded(result)) result = root->SetInt("fid", static_cast<int32_t>(kRootFid));
    if (rc::Succeeded(result)) {
      result = root->SetString("type", (Flags() & kFolderType) ? "dir" : "playlist");
    }
    if (rc::Succeeded(result)) result = root->SetString("path", StoredPathForm(RootPath()));
    if (rc::Succeeded(result)) result = root->SetString("title", kRootTitle);
    if (rc::Failed(result)) return result;
  } else {
    if (RecordMembers(*root) == members) return rc::kOk;
  }
  result = SetRecordMembers(*root, members);
  if (rc::Failed(result)) return result;
  Lock();
  result = root->Update();
  Unlock();
  return result;
}

Result FileSource::DeleteUnmetRecords(ScanListener* listener, const std::string& sub_path,
                                      const std::set<uint32_t>& met, bool skip_counting) {
  RefPtr<RecordSet> records;
  Result result = Database()->OpenRecordSet(&records);
  if (rc::Succeeded(result) && !records) result = rc::kOutOfMemory;
  if (rc::Succeeded(result)) result = records->MoveFirst();
  std::vector<uint32_t> doomed;
  while (rc::Succeeded(result) && !records->IsEOF()) {
    const uint32_t fid = static_cast<uint32_t>(records->GetInt("fid"));
    if (fid != kRootFid && met.count(fid) == 0 &&
        (sub_path.empty() || LiesUnder(RecordPath(*records), sub_path))) {
      doomed.push_back(fid);
    }
    result = records->MoveNext();
  }
  if (rc::Failed(result)) {
    return AnswerOrSelf(listener, &ScanListener::OnDatabaseError, RootPath(), result);
  }

  SetSyncOnChange(false);
  uint32_t index = 0;
  for (uint32_t fid : doomed) {
    RefPtr<RecordSet> record;
    result = RecordDb().FindRow(&record, fid);
    if (result == rc::kNotFound) {
      result = rc::kOk;
      continue;
    }
    if (rc::Failed(result)) break;
    if (listener && !skip_counting) {
      result =
          listener->OnProgress(RecordPath(*record), index, static_cast<uint32_t>(doomed.size()));
      if (rc::Failed(result)) break;
    }
    Lock();
    result = record->Delete(0);
    Unlock();
    if (rc::Failed(result)) break;
    ++index;
  }
  SetSyncOnChange(true);
  if (index > 0) {
    const Result synced = SyncDatabase();
    if (rc::Succeeded(result)) result = synced;
  }
  return result;
}

Result FileSource::Refresh(ScanListener* listener, uint64_t expected_bytes) {
  expected_bytes_ = expected_bytes;
  return Synchronise(listener, std::string(), true);
}

namespace {

// Hands each track scanned to a listener of the device's interface, once per fid.
class TrackProperties : public ScanListener {
 public:
  explicit TrackProperties(MscScanListener* listener) : listener_(listener) {}
  Result OnFileError(const std::string&, Result) override { return Presence(); }
  Result OnWalkDone() override { return Presence(); }
  Result OnTrack(RecordSet& record) override {
    if (!reported_.insert(static_cast<uint32_t>(record.GetInt("fid"))).second) return rc::kOk;
    PropertyHolder properties;
    bool reportable = false;
    const Result result = TrackPropertiesOf(record, &properties, &reportable);
    if (rc::Failed(result)) return result;
    if (reportable && !listener_->OnTrack(properties)) return rc::kEnumerationStopped;
    return rc::kOk;
  }
  // What could not be read is skipped while the player is there.
  Result Presence() { return listener_->PlayerPresent() ? rc::kOk : rc::kPlayerGone; }

 private:
  MscScanListener* listener_;
  std::set<uint32_t> reported_;
};

}  // namespace

Result FileSource::Refresh(MscScanListener* listener) {
  TrackProperties tracks(listener);
  return Refresh(&tracks, 0);
}

bool FileSource::IsBeingRecorded(const std::string& path) {
  being_recorded_lock_.Enter();
  const bool found = being_recorded_.count(path) != 0;
  being_recorded_lock_.Leave();
  return found;
}

Result FileSource::RecordNewFile(PropertyHolder& file) {
  const std::string path = Utf8ToLatin1(file.GetString("name"));
  uint32_t fid = 0;
  uint32_t generation = 0;
  Result result = ScanFile(path, &fid, &generation, nullptr);
  if (rc::Succeeded(result) && fid == 0) result = rc::kNotFound;  // not examined or recorded
  if (rc::Failed(result)) {
    // A file the library cannot hold (its tags unreadable) would lie on the drive unseen.
    UnlinkFile(path);
    return result;
  }
  file.SetInt("fid", static_cast<int32_t>(fid));
  file.SetInt("fid_generation", static_cast<int32_t>(generation));
  being_recorded_lock_.Enter();
  being_recorded_.insert(path);
  being_recorded_lock_.Leave();
  result = UpdateTrackRecord(*this, *file.GetSet());
  being_recorded_lock_.Enter();
  being_recorded_.erase(path);
  being_recorded_lock_.Leave();
  if (rc::Failed(result)) {
    // The tags could not be written: the upload failed, and neither its record nor its file
    // may stay behind to be uploaded a second time.
    RefPtr<RecordSet> record;
    if (rc::Succeeded(RecordDb().FindRow(&record, fid))) {
      Lock();
      record->Delete(0);
      Unlock();
    }
    // A file that cannot go now (another program holds it) is hidden, so that no pass lists
    // it, and goes at the next chance. A growth of its tags cut short has hidden it already.
    if (rc::Failed(UnlinkFileForce(path)) &&
        (IsHiddenFile(path) || rc::Succeeded(SetHiddenAttribute(path, true)))) {
      being_recorded_lock_.Enter();
      unfinished_removals_.insert(path);
      being_recorded_lock_.Leave();
    }
  }
  return result;
}

void FileSource::FinishRemovals() {
  being_recorded_lock_.Enter();
  for (auto path = unfinished_removals_.begin(); path != unfinished_removals_.end();) {
    // Only while it is still the hidden file: a file put there since is not ours.
    const bool ours = IsHiddenFile(*path);
    if (!ours || rc::Succeeded(UnlinkFileForce(*path))) {
      path = unfinished_removals_.erase(path);
    } else {
      ++path;
    }
  }
  being_recorded_lock_.Leave();
}
