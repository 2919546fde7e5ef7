#include "devices/msc/file_source_observer.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "devices/msc/file_source.h"
#include "devices/msc/playlist_members.h"
#include "devices/msc/track_path.h"
#include "media/playlist_factory.h"
#include "media/tag_writer_factory.h"
#include "support/collation.h"
#include "support/file_helpers.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

namespace {

constexpr uint32_t kPictureBits = 0x3000;
constexpr uint32_t kPictureFileOfItsOwn = 0x2000;
// What a record refers to outside the source's roots is not the source's to change.
constexpr Result kOutsideRoots = static_cast<Result>(0x80070005);  // E_ACCESSDENIED

// Columns that are not handed to a tag writer: "state" is the record's own, and the
// replay-gain values are stored in number columns, which keep only their integer part; handed
// back they would overwrite the file's true values.
bool KeptFromTagWriter(const std::string& column) {
  static const char* const kKept[] = {"state", "replay_gain_peak", "replay_gain_radio",
                                      "replay_gain_audiophile"};
  for (const char* kept : kKept) {
    if (column == kept) return true;
  }
  return false;
}

std::string PathOf(RecordSet* record, const char* column) {
  return Utf8ToLatin1(record->GetString(column));
}

// The size and modification time of the file just written, stored in "length" and "mtime"
// when they can be read: the record still describes the file, so a delete knows it for the
// same file and a pass need not read back the tags it wrote.
void StoreLength(RecordSet* record, const std::string& path) {
  struct _stat64 status;
  if (_stat64(path.c_str(), &status) == 0) {
    record->SetInt("length", static_cast<int32_t>(status.st_size));
    record->SetInt("mtime", static_cast<int32_t>(status.st_mtime));
  }
}

bool SameFolder(const std::string& a, const std::string& b) {
  return ToLowerCopy(DirectoryPart(a).c_str()) == ToLowerCopy(DirectoryPart(b).c_str());
}

}  // namespace

FileSourceObserver::FileSourceObserver(FileSource* source)
    : source_(source),
      picture_placement_((source->Flags() & DirectorySource::kPictures) != 0 ? 1 : 0) {}

Result FileSourceObserver::OnUpdate(RecordSet* record) {
  const std::string type = record->GetString("type");
  const std::vector<SourceChangeListener*>& listeners = source_->ChangeListeners();
  if (!listeners.empty()) {
    const uint32_t fid = static_cast<uint32_t>(record->GetInt("fid"));
    for (SourceChangeListener* listener : listeners) listener->OnRecordChanged(fid);
    if (type == "playlist") {
      for (SourceChangeListener* listener : listeners) listener->OnPlaylistChanged(fid);
    }
  }
  if (!source_->WriteBack()) return rc::kOk;
  if (type == "playlist") return WritePlaylist(record);
  if (type != "tune") return rc::kOk;
  const Result written = WriteTrackTags(record);
  if (rc::Succeeded(written) && picture_placement_) PlacePicture(record);
  return written;
}

Result FileSourceObserver::OnDelete(RecordSet* record) {
  const std::vector<SourceChangeListener*>& listeners = source_->ChangeListeners();
  if (!listeners.empty()) {
    const uint32_t fid = static_cast<uint32_t>(record->GetInt("fid"));
    for (SourceChangeListener* listener : listeners) listener->OnRecordRemoved(fid);
  }
  if (!source_->WriteBack()) return rc::kOk;
  const std::string path = PathOf(record, "path");
  // Only what lies below a root is removed: never a root itself, never a file of the PC.
  if (source_->LiesInsideRoots(path) && FileExists(path)) DeleteTree(path);
  return rc::kOk;
}

Result FileSourceObserver::WriteTrackTags(RecordSet* record) {
  lock_.Enter();
  const std::string path = PathOf(record, "path");
  std::unique_ptr<TagWriter> writer;
  Result status = source_->LiesInsideRoots(path) ? TagWriterFactory(path, std::string(), &writer)
                                                 : kOutsideRoots;
  // A drive with room for a new upload once need not have room for a second copy of it.
  if (rc::Succeeded(status) && source_->IsBeingRecorded(path)) writer->PermitGrowthInPlace();
  for (int32_t i = 0; rc::Succeeded(status); ++i) {
    const std::string column = record->GetColumnName(i);
    if (column.empty()) break;
    if (KeptFromTagWriter(column)) continue;
    status = writer->SetProperty(column.c_str(), record->GetString(i).c_str());
  }
  if (rc::Succeeded(status)) status = writer->Write();
  writer.reset();
  if (rc::Succeeded(status)) StoreLength(record, path);
  lock_.Leave();
  return status;
}

Result FileSourceObserver::PlacePicture(RecordSet* record) {
  if ((static_cast<uint32_t>(record->GetInt("options")) & kPictureBits) != kPictureFileOfItsOwn) {
    return rc::kOk;
  }
  const std::string track = PathOf(record, "path");
  const std::string picture = PathOf(record, "image_path");
  if (picture.empty() || SameFolder(track, picture)) return rc::kOk;
  // Pictures are taken from the drive only, never copied onto it from the PC.
  if (!source_->LiesInsideRoots(picture)) return kOutsideRoots;
  const std::string placed = JoinPath(DirectoryPart(track), BaseName(picture));
  // A file of that name in the track's folder is left as it is, and so is the record.
  if (FileExists(placed)) return rc::kOk;
  const Result copied = CopyFileWithProgress(picture, placed, nullptr);
  if (rc::Succeeded(copied)) {
    record->SetString("image_path", Latin1ToUtf8(placed));
  } else {
    UnlinkFile(placed);
    record->SetString("image_path", "");
    record->SetInt("options", 0);
  }
  return copied;
}

Result FileSourceObserver::WritePlaylist(RecordSet* record) {
  if (static_cast<uint32_t>(record->GetInt("fid")) == kRootFid) return rc::kOk;
  std::string path = PathOf(record, "path");
  if (path.empty()) {
    std::string name = SanitizeFileName(Utf8ToAnsiString(record->GetString("title")));
    if (name.empty()) name = "Playlist";
    // A file of that name that is not this playlist's is never overwritten.
    const Result named = MakeUniqueName(JoinPath(source_->RootPath(), name), ".m3u", &path);
    if (rc::Failed(named)) return named;
    record->SetString("path", Latin1ToUtf8(path));
  }
  if (!source_->LiesInsideRoots(path)) return kOutsideRoots;
  std::unique_ptr<PlaylistWriter> writer;
  Result status = PlaylistWriterFactory(path, &writer);
  if (rc::Failed(status)) return status;
  uint32_t length = 0;
  const uint8_t* bytes = record->GetBlob("playlist", &length);
  const std::vector<PlaylistMember> members = DecodePlaylistMembers(
      bytes ? std::string(reinterpret_cast<const char*>(bytes), length) : std::string());
  for (const PlaylistMember& member : members) {
    RefPtr<RecordSet> track;
    if (rc::Failed(source_->RecordDb().FindRow(&track, member.fid))) continue;
    // A fid given to another file since the member was added is not that member.
    const uint32_t generation = static_cast<uint32_t>(track->GetInt("fid_generation"));
    if (member.generation != 0 && member.generation != generation) continue;
    writer->AddEntry(PathOf(track.Get(), "path"), track->GetString("title"),
                     track->GetString("artist"), static_cast<uint32_t>(track->GetInt("duration")));
  }
  status = writer->Finish();
  writer.reset();
  if (rc::Succeeded(status)) StoreLength(record, path);
  return status;
}
