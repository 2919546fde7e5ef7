#include "devices/msc/scan_visitor.h"

#include <ctime>
#include <memory>

#include "devices/msc/file_source.h"
#include "devices/msc/scan_listener.h"
#include "devices/msc/source_paths.h"
#include "devices/msc/source_sinks.h"
#include "media/album_art.h"
#include "media/playlist_factory.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

namespace {

const char* const kTrackExtensions[] = {"mp2", "mp3", "asf", "wma", "wav", "ogg", "fla", "flac"};

bool IsTrackExtension(const std::string& extension) {
  for (const char* known : kTrackExtensions) {
    if (extension == known) return true;
  }
  return false;
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

ScanVisitor::ScanVisitor(FileSource* source, ScanListener* listener, bool count_only)
    : source_(source), listener_(listener), count_only_(count_only) {}

Result ScanVisitor::OnError(const std::string& path, const std::string&, Result error) {
  walk_incomplete_ = true;
  if (!folders_.empty() && folders_.back().path == path) folders_.back().listing_failed = true;
  // Without a listener nobody can choose to go on past a part of the drive that was not read.
  return listener_ ? listener_->OnFileError(path, error) : error;
}

Result ScanVisitor::OnFile(const std::string& given_path, const std::string& name) {
  std::string path;
  if (rc::Failed(CanonicalPath(given_path, &path))) path = given_path;

  if (source_->expected_bytes_ != 0) {
    FileStatus status;
    if (ReadFileStatus(path, &status)) {
      bytes_scanned_ += status.size;
      if (listener_) {
        const Result answer =
            listener_->OnByteProgress(path, bytes_scanned_, source_->expected_bytes_);
        if (rc::Failed(answer)) return answer;
      }
    }
  }

  if (source_->Flags() & DirectorySource::kReadPlaylists) {
    std::unique_ptr<PlaylistReader> reader;
    if (rc::Succeeded(PlaylistReaderFactory(path, &reader))) {
      // Counting does not read playlists: they hold no files of their own to count.
      return count_only_ ? rc::kOk : ImportPlaylist(path, name);
    }
  }

  const std::string extension = LowerCase(FileExtension(name));
  if (!IsTrackExtension(extension)) return rc::kOk;
  if (extension == "wav" && (source_->Flags() & DirectorySource::kScanWav) == 0) return rc::kOk;

  ++files_counted_;
  if (count_only_) return rc::kOk;

  uint32_t fid = 0;
  uint32_t generation = 0;
  Result result = source_->ScanFile(path, &fid, &generation, listener_);
  if (rc::Failed(result)) return result;

  if (source_->expected_bytes_ == 0 && listener_) {
    uint32_t total = source_->expected_files_;
    if (total <= files_counted_) total = files_counted_ + 1;
    const Result answer = listener_->OnProgress(path, files_counted_, total);
    if (rc::Failed(answer)) return answer;
  }

  // A file that was skipped (unreadable, or its record could not be written) has no fid.
  if (fid == 0) return result;
  fids_met_.insert(fid);
  const PlaylistMember member{fid, generation};
  if (folders_.size() > 1) {
    folders_.back().members.push_back(member);
  } else if (source_->Flags() & DirectorySource::kRootTracksInRoot) {
    (folders_.empty() ? root_members_ : folders_.back().members).push_back(member);
  }
  return result;
}

Result ScanVisitor::ImportPlaylist(const std::string& path, const std::string& name) {
  Result result = OnEnterDirectory(path, name);
  if (rc::Failed(result)) return result;
  std::unique_ptr<PlaylistReader> reader;
  result = PlaylistReaderFactory(path, &reader);
  if (rc::Failed(result)) {
    folders_.pop_back();
    return listener_ ? listener_->OnFileError(path, result) : rc::kOk;
  }
  PlaylistImportSink sink(source_->Roots(), OpenFolderPaths(), [this](const std::string& entry) {
    return scan_directory(this, entry, kWalkSkipHidden, source_->FolderListing());
  });
  result = reader->Read(&sink);
  if (rc::Failed(result)) {
    folders_.pop_back();
    return listener_ ? listener_->OnFileError(path, result) : rc::kOk;
  }
  std::string title = Utf8ToAnsiString(sink.Title());
  if (title.empty()) title = name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
  return OnLeaveDirectory(path, title);
}

std::vector<std::string> ScanVisitor::OpenFolderPaths() const {
  std::vector<std::string> paths;
  for (const OpenFolder& folder : folders_) paths.push_back(folder.path);
  return paths;
}

Result ScanVisitor::OnEnterDirectory(const std::string& path, const std::string&) {
  folders_.push_back({path, {}});
  source_->folder_picture_.clear();
  if (source_->Flags() & DirectorySource::kPictures) {
    std::string picture;
    if (FindAlbumArtInFolder(path, kAlbumArtJpeg, &picture)) source_->folder_picture_ = picture;
  }
  return rc::kOk;
}

Result ScanVisitor::OnLeaveDirectory(const std::string& path, const std::string& name) {
  if (folders_.empty()) return rc::kOk;
  const OpenFolder folder = folders_.back();
  Result result = rc::kOk;
  if (folders_.size() == 1) {
    // A root: what it collected goes to the root record.
    root_members_.insert(root_members_.end(), folder.members.begin(), folder.members.end());
  }
  if (!count_only_ && !folder.listing_failed) result = WriteFolderRecord(path, name, folder);
  folders_.pop_back();
  return result;
}

Result ScanVisitor::WriteFolderRecord(const std::string& given_path, const std::string& name,
                                      const OpenFolder& folder) {
  std::string path;
  FileStatus status;
  if (rc::Failed(CanonicalPath(given_path, &path)) || !ReadFileStatus(path, &status)) {
    return rc::kOk;
  }
  const uint32_t flags = source_->Flags();
  const bool may_create = status.is_folder ? (flags & DirectorySource::kFolderRecords) != 0
                                           : (flags & DirectorySource::kReadPlaylists) != 0;
  RefPtr<RecordSet> record;
  Result found = FindRecordByPath(source_->Database(), path, &record);
  bool is_new = false;
  if (rc::Succeeded(found)) {
    fids_met_.insert(static_cast<uint32_t>(record->GetInt("fid")));
  } else if (found == rc::kNotFound && may_create) {
    uint32_t fid = 0;
    Result made = source_->NewFid(&fid);
    if (rc::Succeeded(made)) made = source_->Database()->OpenRecordSet(&record);
    if (rc::Succeeded(made) && !record) made = rc::kOutOfMemory;
    if (rc::Succeeded(made)) made = record->AddNew();
    if (rc::Succeeded(made)) made = record->SetInt("fid", static_cast<int32_t>(fid));
    if (rc::Succeeded(made)) made = record->SetInt("fid_generation", status.ctime);
    if (rc::Succeeded(made)) made = record->SetString("path", StoredPathForm(path));
    if (rc::Failed(made)) {
      return listener_ ? listener_->OnDatabaseError(path, made) : made;
    }
    fids_met_.insert(fid);
    is_new = true;
  } else {
    if (found != rc::kNotFound && listener_) return listener_->OnDatabaseError(path, found);
    return found == rc::kNotFound ? rc::kOk : found;
  }

  if (folders_.size() <= 1) return rc::kOk;  // roots keep their list in the root record
  const char* type =
      (status.is_folder && (flags & DirectorySource::kFolderType)) ? "dir" : "playlist";
  if (!is_new && RecordMembers(*record) == folder.members && record->GetString("type") == type) {
    return rc::kOk;
  }
  Result result = SetRecordMembers(*record, folder.members);
  if (rc::Succeeded(result)) result = record->SetString("title", AnsiToUtf8String(name));
  if (rc::Succeeded(result)) result = record->SetString("type", type);
  if (rc::Succeeded(result)) result = record->SetString("state", "");
  if (rc::Succeeded(result)) {
    source_->Lock();
    result = record->Update();
    source_->Unlock();
  }
  if (rc::Failed(result)) return result;
  if (is_new) {
    const uint32_t fid = static_cast<uint32_t>(record->GetInt("fid"));
    for (SourceChangeListener* listener : source_->ChangeListeners()) listener->OnRecordAdded(fid);
  }
  return rc::kOk;
}
