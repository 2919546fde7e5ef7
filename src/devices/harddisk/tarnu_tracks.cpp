// Tracks and playlists of the hard-disk player: each fid's content and property file on the music
// volume, and its row in the music database. Content and property files are written under
// temporary names and moved into place before the row changes, so the database never names a
// fid whose files are missing or half written.
#include <algorithm>
#include <memory>
#include <new>

#include "db/column_table.h"
#include "devices/device_results.h"
#include "devices/harddisk/fid_path.h"
#include "devices/harddisk/omfs_file_writer.h"
#include "devices/harddisk/tarnu_channel.h"
#include "media/property_copy.h"
#include "media/property_holder.h"
#include "support/debug_trace.h"
#include "support/memory_stream.h"

namespace {

constexpr const char* kUploadPath = "/fids0/newfid0";
constexpr const char* kPropertyFilePath = "/fids0/newfid1";
constexpr uint32_t kProfileLength = 40;
constexpr uint32_t kWriteNew = kFsStreamWrite | kFsStreamCreate | kFsStreamReplace;

uint32_t FidOf(RecordSet& file) { return static_cast<uint32_t>(file.GetInt("fid")); }

// A column the player's database does not have is no failure.
Result UnlessNoColumn(Result result) { return result == rc::kNotFound ? rc::kOk : result; }

// The adaptive copy answers 1 at the end of its reader.
Result CopyDone(Result result) { return result == 1 ? rc::kOk : result; }

}  // namespace

Result TarnuChannel::MakeFidDirectory(uint32_t fid) {
  std::unique_ptr<FsDirHandle> directory;
  return music_volume_->OpenDir(tarnu_fid::FidDirectory(fid), kFsCreate, &directory);
}

Result TarnuChannel::FindFidRows(uint32_t fid, RefPtr<RecordSet>* rows, bool* found) {
  // The table's record sets show nothing while all its rows are new ones: merge them first,
  // or a second file with the same fid would get past the check.
  Result result = rc::kOk;
  if (database_->RowCount() == 0 && !database_->OpenRows().empty()) result = database_->Compact(nullptr);
  RefPtr<RecordQuery> query;
  if (rc::Succeeded(result)) result = database_->CreateQuery(&query);
  if (rc::Succeeded(result) && !query) result = rc::kOutOfMemory;
  if (rc::Succeeded(result)) result = query->AddIntCondition("fid", kOpEqual, fid);
  if (rc::Succeeded(result)) result = query->Execute(rows);
  if (rc::Succeeded(result) && !*rows) result = rc::kOutOfMemory;
  *found = rc::Succeeded(result) && !(*rows)->IsEOF();
  return result;
}

// One line per property, in the set's order: name, "=", value, line feed. Empty values and
// zeros are left out (the set keeps every value as text, so a zero integer is the text "0").
Result TarnuChannel::WritePropertyFile(PropertySet& stored, const std::string& path) {
  std::string text;
  for (int32_t index = 0;; ++index) {
    const std::string name = stored.GetColumnName(index);
    if (name.empty()) break;
    const std::string value = stored.GetString(index);
    if (value.empty() || value == "0") continue;
    text += name + "=" + value + "\n";
  }
  std::unique_ptr<SeekableStream> stream;
  Result result = OpenFileSystemStream(music_volume_.get(), path, kWriteNew, &stream);
  if (rc::Succeeded(result))
    result = WriteAll(stream.get(), reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<uint32_t>(text.size()));
  return result;
}

Result TarnuChannel::WriteRow(RecordSet& row, PropertySet& stored,
                              const std::string& playlist_bytes) {
  Result result = CopyPropertiesIntoRecord(&row, &stored);
  if (rc::Failed(result)) return result;
  result = UnlessNoColumn(row.SetBlob("playlist", playlist_bytes.data(),
                                      static_cast<uint32_t>(playlist_bytes.size())));
  if (rc::Failed(result)) return result;
  uint32_t length = 0;
  const uint8_t* profile = row.GetBlob("profile", &length);
  if (length != kProfileLength) {
    std::string resized(kProfileLength, '\0');
    if (profile) resized.replace(0, std::min(length, kProfileLength),
                                 reinterpret_cast<const char*>(profile),
                                 std::min(length, kProfileLength));
    result = UnlessNoColumn(row.SetBlob("profile", resized.data(), kProfileLength));
  }
  return rc::Failed(result) ? result : row.Update();
}

Result TarnuChannel::StoreTrackProperties(PropertySet& file, const std::string& playlist_bytes,
                                          bool new_file, const std::string& content_path) {
  const uint32_t fid = FidOf(file);
  if (!tarnu_fid::IsValidFid(fid)) return rc::kInvalidArg;
  Result result = EnsureDatabase();
  if (rc::Failed(result)) return result;

  RefPtr<PropertySet> stored;
  result = PropertySet::Create(&stored);
  if (rc::Succeeded(result)) result = stored->AddNew();
  if (rc::Succeeded(result))
    result = CopyPropertiesExcept(stored, RefPtr<RecordSet>(&file), {"playlist", "flags"});
  if (rc::Succeeded(result))
    result = stored->SetInt("options", ApplyFlagsToOptions(file, stored->GetInt("options")));
  if (rc::Failed(result)) return result;

  // The database decides first whether the fid may be written: nothing moves otherwise.
  RefPtr<RecordSet> rows;
  bool found = false;
  result = FindFidRows(fid, &rows, &found);
  if (rc::Failed(result)) return result;
  if (new_file && found) return tarnu_result::kFidInDatabase;
  if (!new_file && !found && fid != tarnu_fid::kRootPlaylist)
    return tarnu_result::kFidNotInDatabase;

  // The content moves last: when a step before it fails, the old track keeps its content and
  // its row. Each rename replaces the old file in one step.
  result = MakeFidDirectory(fid);
  if (rc::Succeeded(result)) result = WritePropertyFile(*stored, kPropertyFilePath);
  if (rc::Succeeded(result))
    result = music_volume_->Rename(tarnu_fid::PropertyPath(fid), kPropertyFilePath);
  if (rc::Succeeded(result) && !content_path.empty())
    result = music_volume_->Rename(tarnu_fid::FidPath(fid), content_path);
  if (rc::Failed(result)) {
    music_volume_->Remove(kPropertyFilePath);
    return result;
  }

  // The root playlist may lack a row: it gets one.
  if (!found) {
    result = database_->OpenRecordSet(&rows);
    if (rc::Succeeded(result) && !rows) result = rc::kOutOfMemory;
    if (rc::Succeeded(result)) result = rows->AddNew();
  }
  if (rc::Succeeded(result)) result = WriteRow(*rows, *stored, playlist_bytes);
  if (rc::Succeeded(result)) {
    database_dirty_ = true;
    rows->MoveNext();
  }
  return result;
}

Result TarnuChannel::CreateNewFile(uint32_t storage, OutputStream** stream) {
  if (storage != 0) return rc::kBadIndex;
  Result result = EnsureDatabase();
  if (rc::Failed(result)) return result;
  std::unique_ptr<OmfsFileWriter> writer;
  result = OmfsFileWriter::Create(this, &writer);
  if (rc::Succeeded(result)) *stream = writer.release();
  return result;
}

Result TarnuChannel::SendFile(uint32_t storage, PropertySet& file, Stream* source,
                              ProgressSink* progress) {
  return SendHostFile(storage, file, source, progress, true);
}

Result TarnuChannel::SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                                          ProgressSink* progress) {
  return SendHostFile(storage, file, source, progress, false);
}

Result TarnuChannel::SendHostFile(uint32_t storage, PropertySet& file, Stream* source,
                                  ProgressSink* progress, bool new_file) {
  if (storage != 0) {
    TORVEX_TRACE("Invalid storage specified.\n");
    return rc::kBadIndex;
  }
  auto* seekable = dynamic_cast<SeekableStream*>(source);
  if (seekable == nullptr) return rc::kInvalidArg;
  const uint32_t fid = FidOf(file);
  if (!tarnu_fid::IsValidFid(fid)) return rc::kInvalidArg;
  Result result = EnsureDatabase();
  FsSpace space;
  uint32_t size = 0;
  if (rc::Succeeded(result)) result = music_volume_->GetSpace(&space);
  if (rc::Succeeded(result)) result = seekable->GetSize(&size);
  if (rc::Failed(result)) return result;
  if (static_cast<uint32_t>(file.GetInt("length")) != size) return rc::kSizeMismatch;
  const uint64_t block_size = space.block_size ? space.block_size : 1;
  const uint64_t reserve = kReserveBytes / block_size;
  const uint64_t usable = space.free_blocks > reserve ? space.free_blocks - reserve : 0;
  if ((size + block_size - 1) / block_size > usable) return rc::kPlayerFull;
  if (database_->GetDataSize() > kMaxDatabaseBytes) return tarnu_result::kDatabaseFull;

  result = MakeFidDirectory(fid);
  std::unique_ptr<SeekableStream> upload;
  if (rc::Succeeded(result))
    result = OpenFileSystemStream(music_volume_.get(), kUploadPath, kWriteNew, &upload);
  if (rc::Failed(result)) return result;

  std::string playlist_bytes;
  if (file.GetString("type") == "playlist") {
    MemoryStream list;
    result = CopyDone(AdaptiveStreamCopy::Copy(&copy_settings_, seekable, &list, progress));
    playlist_bytes = list.Bytes();
    if (rc::Succeeded(result))
      result = WriteAll(upload.get(), reinterpret_cast<const uint8_t*>(playlist_bytes.data()),
                        static_cast<uint32_t>(playlist_bytes.size()));
  } else {
    result = CopyDone(AdaptiveStreamCopy::Copy(&copy_settings_, seekable, upload.get(), progress));
  }
  uint32_t written = 0;
  if (rc::Succeeded(result)) result = upload->GetSize(&written);
  if (rc::Succeeded(result) && written != size) result = rc::kSizeMismatch;
  upload.reset();
  if (rc::Succeeded(result))
    result = StoreTrackProperties(file, playlist_bytes, new_file, kUploadPath);
  if (rc::Failed(result)) music_volume_->Remove(kUploadPath);
  return result;
}

Result TarnuChannel::RewriteFileInfo(uint32_t storage, PropertySet& file) {
  if (storage != 0) return rc::kBadIndex;
  Result result = EnsureDatabase();
  return rc::Succeeded(result) ? StoreTrackProperties(file, std::string(), false) : result;
}

Result TarnuChannel::DeleteFile(uint32_t storage, PropertyHolder& file) {
  RefPtr<PropertySet> properties = file.GetSet();
  const uint32_t fid = properties ? FidOf(*properties) : 0;
  if (storage != 0) return rc::kFail;
  if (!tarnu_fid::IsValidFid(fid)) return rc::kInvalidArg;
  Result result = EnsureDatabase();
  RefPtr<RecordSet> rows;
  bool found = false;
  if (rc::Succeeded(result)) result = FindFidRows(fid, &rows, &found);
  if (rc::Succeeded(result)) result = rows->Delete(1);
  if (rc::Failed(result)) return result;
  database_dirty_ = true;
  return music_volume_->Remove(tarnu_fid::FidPath(fid));
}

Result TarnuChannel::ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                                 ProgressSink* progress) {
  if (storage != 0) return rc::kBadIndex;
  const uint32_t fid = FidOf(file);
  if (!tarnu_fid::IsValidFid(fid)) return rc::kInvalidArg;
  Result result = EnsureDatabase();
  std::unique_ptr<SeekableStream> content;
  if (rc::Succeeded(result))
    result = OpenFileSystemStream(music_volume_.get(), tarnu_fid::FidPath(fid), kFsStreamRead,
                                  &content);
  if (rc::Failed(result)) return result;
  return CopyDone(AdaptiveStreamCopy::Copy(&copy_settings_, content.get(), sink, progress));
}
