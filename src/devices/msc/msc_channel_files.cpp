// The mass-storage channel's tracks and playlists: listing, sending, replacing, reading back,
// deleting, and the record update. The file source's database is the only record of what is
// on the drive.
//
// Lock rule, per operation: changes the channel makes to records alone (the autosync mark,
// a playlist's rename, deletes) run inside the file source's lock, so the source does not
// write them back into the drive's files; the record update (RewriteFileInfo, the upload
// commit) and a playlist's members run outside it, so the source writes the tags or the
// playlist file first and a failed write leaves the record as it was.
#include <windows.h>

#include <cerrno>
#include <functional>
#include <map>
#include <new>
#include <set>

#include "devices/device.h"
#include "devices/msc/file_source.h"
#include "devices/msc/msc_channel.h"
#include "devices/msc/msc_fid_list.h"
#include "devices/msc/msc_results.h"
#include "devices/msc/msc_track_records.h"
#include "devices/msc/scan_listener.h"
#include "devices/msc/source_path_compare.h"
#include "devices/msc/source_paths.h"
#include "devices/msc/track_path.h"
#include "devices/stream_copy.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/file_helpers.h"
#include "support/file_stream.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

namespace {

AdaptiveCopySettings CopySettings(bool flush) {
  AdaptiveCopySettings settings;
  settings.ceiling = 0x200000;
  settings.chunk = 0x40000;
  settings.lower_bound_ms = 1000;
  settings.upper_bound_ms = 1500;
  settings.flush_after_write = flush;
  return settings;
}

// Writes the whole source into `file` from its start, and closes it.
Result CopyIntoFile(Stream* source, FileStream* file, bool flush, ProgressSink* progress) {
  SeekableStream* reader = dynamic_cast<SeekableStream*>(source);
  Result result = reader ? rc::kOk : rc::kInvalidArg;  // its size must be known
  uint32_t size = 0;
  if (rc::Succeeded(result)) result = reader->GetSize(&size);
  if (rc::Succeeded(result)) result = file->SetSize(size);
  if (rc::Succeeded(result)) result = file->Seek(0);
  if (rc::Succeeded(result)) {
    AdaptiveCopySettings settings = CopySettings(flush);
    result = AdaptiveStreamCopy::Copy(&settings, reader, file, progress);
    if (result == rc::kEndOfData) result = rc::kOk;
  }
  const Result closed = file->Close();
  return rc::Succeeded(result) ? closed : result;
}

// Attempts at a unique name: each of its hundred forms, once.
constexpr int kUniqueNameAttempts = 100;

// Creates a file that did not exist, at the first free name of `base` + `extension` (the
// unique-name rule of track paths). A name that another writer takes between the choice and
// the create is passed over for the next one. `path` is set only when the file was created.
Result CreateUniqueFile(const std::string& base, const std::string& extension, std::string* path,
                        const std::function<Result(const std::string&)>& create) {
  for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
    std::string candidate;
    Result result = MakeUniqueName(base, extension, &candidate);
    if (rc::Failed(result)) return result;
    result = create(candidate);
    if (rc::Succeeded(result)) {
      *path = candidate;
      return result;
    }
    if (!FileExists(candidate)) return result;
  }
  return rc::FromWin32(ERROR_ALREADY_EXISTS);
}

// A new track's file, open for its bytes.
Result CreateTrackFile(const std::string& base, const std::string& extension, std::string* path,
                       std::unique_ptr<FileStream>* file) {
  return CreateUniqueFile(base, extension, path, [file](const std::string& candidate) {
    return OpenFileStream(candidate.c_str(), OpenWrite | OpenCreate | OpenExclusive, file);
  });
}

// An empty, hidden file that holds a new playlist's name until the playlist's text takes its
// place: a pass that reads playlist files does not take it for an empty playlist meanwhile.
Result CreatePlaylistPlaceholder(const std::string& base, const std::string& extension,
                                 std::string* path) {
  return CreateUniqueFile(base, extension, path, [](const std::string& candidate) {
    HANDLE file = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return rc::FromWin32(GetLastError());
    return CloseHandle(file) ? rc::kOk : rc::FromWin32(GetLastError());
  });
}

bool IsRootOf(const FileSource& source, const std::string& path) {
  return PathIsAny(path, source.Roots()) ||
         (path.size() <= 3 && path.size() >= 2 && path[1] == ':');
}

// Removes `folder` and its parents while they are empty, up to (not including) the roots, or
// up to and including `last` when it is given.
void RemoveEmptyFolders(const FileSource& source, std::string folder,
                        const std::string& last = std::string()) {
  while (!folder.empty() && !IsRootOf(source, folder) &&
         rc::Succeeded(RemoveEmptyDirectory(folder))) {
    if (folder == last) return;
    folder = DirectoryPart(folder);
  }
}

// Deletes the file and every folder it leaves empty.
Result RemoveTrackFile(const FileSource& source, const std::string& path) {
  FileStatus status;
  if (!ReadFileStatus(path, &status)) return rc::FromErrno(errno);
  if (status.is_folder) return rc::kOk;  // a folder is never removed here
  const Result result = UnlinkFile(path);
  if (rc::Succeeded(result)) RemoveEmptyFolders(source, DirectoryPart(path));
  return result;
}

// A time no file has, so that the next scan reads the file again.
Result ForgetModificationTime(FileSource& source, RecordSet& record) {
  Result result = record.SetInt("mtime", -1);
  if (rc::Failed(result)) return result;
  source.Lock();
  result = record.Update();
  source.Unlock();
  return result;
}

// Deletes the record alone: the source does not touch the drive's files for it.
Result DeleteRecord(FileSource& source, RecordSet& record) {
  source.Lock();
  const Result result = record.Delete(0);
  source.Unlock();
  return result;
}

// True while the file is the one the record was made or last refreshed from: its size and
// modification time are the record's. Another application may have deleted it and put a new
// file at the same path since this library last looked.
bool RecordDescribesFile(RecordSet& record, const FileStatus& status) {
  const int32_t mtime = record.GetInt("mtime");
  if (mtime != 0 && mtime != status.mtime) return false;
  return record.GetString("length").empty() ||
         static_cast<uint32_t>(record.GetInt("length")) == static_cast<uint32_t>(status.size);
}

// Reads the file at the record's path again, whatever its modification time.
void RefreshRecord(FileSource& source, RecordSet& record, const std::string& path) {
  if (rc::Failed(ForgetModificationTime(source, record))) return;
  uint32_t fid = 0;
  uint32_t generation = 0;
  source.ScanFile(path, &fid, &generation, nullptr);
}

// Deletes a track's or playlist's file and record. The root record, folders and anything
// outside the source's roots are refused: a stored path must never reach files the player
// does not hold. A file that is no longer the one the record describes is not this record's
// to delete: it stays, the record is read again from it, and the caller learns why.
Result DeleteByFid(FileSource& source, uint32_t fid) {
  if (fid == kRootFid) return rc::kRecordNotDeletable;
  RefPtr<RecordSet> record;
  Result result = source.RecordDb().FindRow(&record, fid);
  if (result == rc::kNotFound) return rc::kOk;
  if (rc::Failed(result)) return result;
  const std::string path = RecordPath(*record);
  FileStatus status;
  const bool exists = ReadFileStatus(path, &status);
  if (IsRootOf(source, path) || !PathBelowAny(path, source.Roots()) ||
      (exists && status.is_folder)) {
    return rc::kRecordNotDeletable;
  }
  if (exists && !RecordDescribesFile(*record, status)) {
    RefreshRecord(source, *record, path);
    return rc::kFileChangedOnDrive;
  }
  result = RemoveTrackFile(source, path);
  if (rc::Failed(result)) return result;
  return DeleteRecord(source, *record);
}

// Step 5 of a send: what the caller learns of the file that landed.
Result ReportSentFile(FileSource& source, PropertySet& file, const std::string& path,
                      uint32_t fid) {
  file.SetString("name", Latin1ToUtf8(path));
  file.SetInt("fid", static_cast<int32_t>(fid));
  FileStatus status;
  if (ReadFileStatus(path, &status)) file.SetInt("length", static_cast<int32_t>(status.size));
  return SetAutosyncMark(source, fid, FlagsHoldAutosync(file.GetString("flags")));
}

Result ReadFids(Stream* source, MscFidList* fids) { return fids->ReadFrom(source); }

}  // namespace

// --- listing -----------------------------------------------------------------------------

namespace {

class StorageCallback : public HolderVisitor {
 public:
  explicit StorageCallback(ContentsVisitor* visitor) : visitor_(visitor) {}
  bool Visit(PropertyHolder& storage) override { return visitor_->Storage(storage); }

 private:
  ContentsVisitor* visitor_;
};

// Reports tracks and playlists to the caller's visitor, each fid once, and remembers the
// caller's handle of each. What cannot be read is skipped while the player is there; once it
// is gone the pass ends, so that the records of the tracks not reached stay.
class ContentsReporter : public ScanListener {
 public:
  ContentsReporter(ContentsVisitor* visitor, const std::map<std::string, uint32_t>& storages,
                   MscChannel* channel)
      : visitor_(visitor), storages_(storages), channel_(channel) {}

  Result OnTrack(RecordSet& record) override { return Report(record); }
  Result OnFileError(const std::string&, Result) override { return Presence(); }
  Result OnWalkDone() override { return Presence(); }
  Result OnDatabaseError(const std::string&, Result error) override { return error; }

  Result Report(RecordSet& record) {
    const uint32_t fid = static_cast<uint32_t>(record.GetInt("fid"));
    if (handles_.count(fid)) return rc::kOk;
    PropertyHolder properties;
    bool reportable = false;
    if (rc::Failed(TrackPropertiesOf(record, &properties, &reportable))) return rc::kFail;
    if (!reportable) return rc::kOk;
    uint32_t storage = 0;
    if (!StorageOf(properties.GetString("path"), &storage)) return rc::kOk;
    uint32_t handle = 0;
    if (!visitor_->File(storage, properties, &handle)) return rc::kEnumerationStopped;
    handles_[fid] = handle;
    return rc::kOk;
  }

  bool HandleOf(uint32_t fid, uint32_t* handle) const {
    const auto found = handles_.find(fid);
    if (found == handles_.end()) return false;
    *handle = found->second;
    return true;
  }

 private:
  // The storage whose drive letter begins the path. A path on none of the storages (a
  // playlist not written yet) is not reported: no storage index would be right for it.
  bool StorageOf(const std::string& path, uint32_t* storage) const {
    if (path.empty()) return false;
    for (const auto& root : storages_) {
      if (toupper(static_cast<unsigned char>(root.first[0])) ==
          toupper(static_cast<unsigned char>(path[0]))) {
        *storage = root.second;
        return true;
      }
    }
    return false;
  }

  Result Presence() { return channel_->GetState() != kStateGone ? rc::kOk : rc::kPlayerGone; }

  ContentsVisitor* visitor_;
  const std::map<std::string, uint32_t>& storages_;
  MscChannel* channel_;
  std::map<uint32_t, uint32_t> handles_;  // fid -> the visitor's handle
};

Result ReportPlaylists(FileSource& source, ContentsReporter* reporter, ContentsVisitor* visitor) {
  RefPtr<RecordQuery> query;
  Result result = source.Database()->CreateQuery(&query);
  if (rc::Succeeded(result) && !query) result = rc::kOutOfMemory;
  if (rc::Succeeded(result)) result = query->AddTextCondition("type", kOpEqual, "playlist");
  RefPtr<RecordSet> playlists;
  if (rc::Succeeded(result)) result = query->Execute(&playlists);
  while (rc::Succeeded(result) && playlists && !playlists->IsEOF()) {
    const uint32_t fid = static_cast<uint32_t>(playlists->GetInt("fid"));
    if (fid != kRootFid) {
      const std::vector<PlaylistMember> members = RecordMembers(*playlists);
      result = reporter->Report(*playlists);
      if (rc::Failed(result)) return result;
      uint32_t handle = 0;
      if (reporter->HandleOf(fid, &handle)) {
        std::vector<uint32_t> member_handles;
        for (const PlaylistMember& member : members) {
          uint32_t member_handle = 0;
          if (reporter->HandleOf(member.fid, &member_handle)) {
            member_handles.push_back(member_handle);
          }
        }
        if (!visitor->PlaylistMembers(handle, member_handles)) return rc::kEnumerationStopped;
      }
    }
    result = playlists->MoveNext();
  }
  return result;
}

}  // namespace

Result MscChannel::EnumContents(ContentsVisitor* visitor) {
  StorageCallback storages(visitor);
  Result result = EnumStorages(&storages);
  if (rc::Failed(result)) return result;
  FileSource* library = file_source_->Library();
  if (library == nullptr) return result;
  std::map<std::string, uint32_t> storage_map;
  for (uint32_t index = 0; index < record_.drive_entries.size(); ++index) {
    storage_map[DriveRoot(record_.drive_entries[index].drive_letter)] = index;
  }
  ContentsReporter reporter(visitor, storage_map, this);
  result = library->Refresh(&reporter, 0);
  if (rc::Succeeded(result)) result = ReportPlaylists(*library, &reporter, visitor);
  return UnlessGone(result);
}

// --- changes -----------------------------------------------------------------------------

Result MscChannel::DeleteFile(uint32_t storage, PropertyHolder& file) {
  if (Entry(storage) == nullptr) return rc::kBadIndex;
  FileSource* library = file_source_->Library();
  if (library == nullptr) return rc::kNotImplemented;
  return UnlessGone(DeleteByFid(*library, static_cast<uint32_t>(file.GetSet()->GetInt("fid"))));
}

Result MscChannel::RewriteFileInfo(uint32_t, PropertySet& file) {
  FileSource* library = file_source_->Library();
  if (library == nullptr) return rc::kNotImplemented;
  return UnlessGone(UpdateTrackRecord(*library, file));
}

Result MscChannel::SendFile(uint32_t storage, PropertySet& file, Stream* source,
                            ProgressSink* progress) {
  const MscDriveEntry* entry = Entry(storage);
  if (entry == nullptr) return rc::kBadIndex;
  FileSource* library = file_source_->Library();
  if (library == nullptr) return rc::kNotImplemented;
  std::string base, extension, first_made;
  Result result = BuildTrackPathParts(file, entry->drive_letter, &base, &extension, &first_made);
  if (rc::Failed(result)) return UnlessGone(result);

  // A failed send removes only a file it created: a name chosen here may be taken by another
  // writer (a second application, Explorer) a moment later.
  std::string path;
  bool created = false;
  uint32_t fid = 0;
  if (file.GetString("type") == "playlist") {
    result = CreatePlaylistPlaceholder(base, extension, &path);
    created = rc::Succeeded(result);
    MscFidList fids;
    if (rc::Succeeded(result)) result = ReadFids(source, &fids);
    if (rc::Succeeded(result)) {
      // The playlist's file is written with its record.
      result = library->CreatePlaylist(file.GetString("title"), path, fids.fids(), &fid);
    }
  } else {
    std::unique_ptr<FileStream> stream;
    result = CreateTrackFile(base, extension, &path, &stream);
    created = rc::Succeeded(result);
    if (created) {
      result = CopyIntoFile(source, stream.get(), entry->not_hot_pluggable != 0, progress);
    }
    uint32_t generation = 0;
    if (rc::Succeeded(result)) result = library->ScanFile(path, &fid, &generation, nullptr);
    // A scan that could not examine or record the file leaves it without a fid.
    if (rc::Succeeded(result) && fid == 0) result = rc::kNotFound;
    if (rc::Succeeded(result)) file.SetInt("fid_generation", static_cast<int32_t>(generation));
  }
  if (rc::Succeeded(result)) result = ReportSentFile(*library, file, path, fid);
  if (rc::Failed(result)) {
    // Nothing of a failed send stays: not its record, its file or the folders it made. What
    // another writer made (a name, a folder) is not its to remove.
    RefPtr<RecordSet> record;
    if (fid != 0 && rc::Succeeded(library->RecordDb().FindRow(&record, fid))) {
      DeleteRecord(*library, *record);
    }
    if (created) UnlinkFile(path);
    if (!first_made.empty()) RemoveEmptyFolders(*library, DirectoryPart(base), first_made);
  }
  return UnlessGone(result);
}

// The second send operation replaces the content of an existing file.
Result MscChannel::SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                                        ProgressSink* progress) {
  const MscDriveEntry* entry = Entry(storage);
  if (entry == nullptr) return rc::kBadIndex;
  FileSource* library = file_source_->Library();
  if (library == nullptr) return rc::kNotImplemented;
  const uint32_t fid = static_cast<uint32_t>(file.GetInt("fid"));
  RefPtr<RecordSet> record;
  Result result = library->RecordDb().FindRow(&record, fid);
  if (rc::Failed(result)) return UnlessGone(result);
  const std::string path = RecordPath(*record);
  if (!PathBelowAny(path, library->Roots())) return rc::kRecordNotDeletable;

  if (file.GetString("type") == "playlist") {
    MscFidList fids;
    result = ReadFids(source, &fids);
    if (rc::Failed(result)) return UnlessGone(result);
    const std::string old_title = record->GetString("title");
    const std::string title = file.GetString("title");
    if (title != old_title) {
      std::string renamed =
          JoinPath(DirectoryPart(path), SanitizeFileName(Utf8ToAnsiString(title)));
      const std::string extension = FileExtension(path);
      if (!extension.empty()) renamed += "." + extension;
      if (renamed != path) {
        if (rc::Failed(RenameFile(path, renamed))) {
          file.SetString("title", old_title);
        } else {
          record->SetString("title", title);
          record->SetString("path", StoredPathForm(renamed));
          library->Lock();
          result = record->Update();
          library->Unlock();
          if (rc::Failed(result)) RenameFile(renamed, path);  // the record still names it
        }
      }
    }
    if (rc::Succeeded(result)) result = library->SetPlaylistMembers(fid, fids.fids());
    if (rc::Succeeded(result)) file.SetString("name", record->GetString("path"));
    return UnlessGone(result);
  }

  // The new content goes to a file beside the old one and takes its place only when it is
  // complete: a failed copy leaves the old track and its record as they were.
  std::string temporary;
  result = CreateSiblingTempFile(path, &temporary);
  if (rc::Succeeded(result)) {
    std::unique_ptr<FileStream> stream;
    result = OpenFileStream(temporary.c_str(), OpenWrite | OpenTruncate, &stream);
    if (rc::Succeeded(result)) {
      result = CopyIntoFile(source, stream.get(), entry->not_hot_pluggable != 0, progress);
    }
    if (rc::Succeeded(result)) result = ReplaceFileWith(temporary, path);
    if (rc::Failed(result)) UnlinkFile(temporary);
  }
  // The new content may carry the old modification time (the same second): the record must
  // not take it for the file it already knows.
  if (rc::Succeeded(result)) result = ForgetModificationTime(*library, *record);
  uint32_t scanned = 0;
  uint32_t generation = 0;
  if (rc::Succeeded(result)) result = library->ScanFile(path, &scanned, &generation, nullptr);
  if (rc::Succeeded(result) && scanned != fid) result = rc::kNotFound;
  if (rc::Succeeded(result)) {
    file.SetInt("fid_generation", static_cast<int32_t>(generation));
    result = ReportSentFile(*library, file, path, fid);
  }
  return UnlessGone(result);
}

Result MscChannel::ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                               ProgressSink* progress) {
  const MscDriveEntry* entry = Entry(storage);
  if (entry == nullptr) return rc::kBadIndex;
  const std::string path = Utf8ToLatin1(file.GetString("name"));
  // Only the player's own files are handed out, never another file of the PC.
  std::string canonical;
  if (rc::Failed(CanonicalPath(path, &canonical)) ||
      !PathBelowAny(canonical, {DriveRoot(entry->drive_letter)})) {
    return rc::kInvalidArg;
  }
  std::unique_ptr<FileStream> reader;
  Result result = OpenFileStream(canonical.c_str(), OpenRead, &reader);
  if (rc::Failed(result)) return UnlessGone(result);
  AdaptiveCopySettings settings = CopySettings(false);
  result = AdaptiveStreamCopy::Copy(&settings, reader.get(), sink, progress);
  if (result == rc::kEndOfData) return rc::kOk;
  return result == rc::kPlayerGone ? result : UnlessGone(result);
}
