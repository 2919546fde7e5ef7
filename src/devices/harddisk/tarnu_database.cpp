// The hard-disk player's music database: loaded from "var/smalldb" into memory through a copy
// on the host, edited there, and written back the same way.
#include <memory>

#include "db/column_table.h"
#include "devices/harddisk/tarnu_channel.h"
#include "support/collation.h"
#include "support/debug_trace.h"
#include "support/file_helpers.h"
#include "support/file_stream.h"

namespace {

constexpr uint32_t kTableKind = 8;
constexpr uint32_t kTableFormat = 3;
constexpr uint32_t kCopyChunk = 0x10000;
constexpr const char* kDatabasePath = "var/smalldb";
constexpr const char* kDatabaseSavePath = "var/smalldbtemp";
constexpr const char* kHostCopyPrefix = "velto_mscdb";

Result OpenHostCopy(const std::string& path, bool write, std::unique_ptr<FileStream>* stream) {
  return OpenFileStream(path.c_str(), write ? OpenWrite | OpenCreate | OpenTruncate : OpenRead,
                        stream);
}

}  // namespace

Result TarnuChannel::LoadDatabase() {
  Result result = MountOmfs();
  if (rc::Succeeded(result)) result = TempFileName(kHostCopyPrefix, &database_copy_path_);
  if (rc::Failed(result)) return result;
  {
    std::unique_ptr<SeekableStream> player;
    std::unique_ptr<FileStream> host;
    result = OpenFileSystemStream(music_volume_.get(), kDatabasePath, kFsStreamRead, &player);
    if (rc::Succeeded(result)) result = OpenHostCopy(database_copy_path_, true, &host);
    if (rc::Succeeded(result)) result = CopyStream(player.get(), host.get(), kCopyChunk);
    if (rc::Succeeded(result)) database_dirty_ = false;
  }
  if (rc::Succeeded(result)) {
    std::unique_ptr<ColumnTable> table(new (std::nothrow) ColumnTable(kTableKind, kTableFormat));
    std::unique_ptr<FileStream> host;
    if (!table) result = rc::kOutOfMemory;
    if (rc::Succeeded(result)) result = OpenHostCopy(database_copy_path_, false, &host);
    if (rc::Succeeded(result)) result = table->Load(host.get(), true);
    if (rc::Succeeded(result)) {
      SetArtistCompare(table.get());
      database_ = std::move(table);
    }
  }
  const Result deleted = UnlinkFile(database_copy_path_);
  if (rc::Failed(deleted)) {
    TORVEX_TRACE("Failed to delete temporary database file: 0x%08x\n",
                 static_cast<uint32_t>(deleted));
    if (rc::Succeeded(result)) result = deleted;
  }
  return result;
}

void TarnuChannel::SetArtistCompare(ColumnTable* table) {
  table->SetColumnCompare(table->FindColumn("artist"), ArticleSkippingCompare);
}

Result TarnuChannel::EnsureDatabase() {
  if (database_) return rc::kOk;
  Result result = MountOmfs();
  if (rc::Failed(result)) return result;
  result = LoadDatabase();
  if (rc::Succeeded(result)) return result;

  TORVEX_TRACE("Database not available on disk.\n");
  Close();
  result = OpenDisk();
  if (rc::Succeeded(result)) result = disk_->RequestDatabaseRebuild();
  if (rc::Succeeded(result)) result = MountOmfs();
  if (rc::Succeeded(result)) result = LoadDatabase();
  if (rc::Failed(result)) {
    TORVEX_TRACE("Failed to persuade player to build database for us: 0x%08x\n",
                 static_cast<uint32_t>(result));
  }
  return result;
}

Result TarnuChannel::SaveDatabase(bool keep_open) {
  if (!database_dirty_) return keep_open ? rc::kOk : Close();
  Result result = rc::kOk;
  {
    std::unique_ptr<FileStream> host;
    result = OpenHostCopy(database_copy_path_, true, &host);
    if (rc::Succeeded(result)) result = database_->Compact(nullptr);
    if (rc::Succeeded(result)) result = database_->Save(host.get());
  }
  if (rc::Succeeded(result)) {
    // The copy is complete on the volume before it takes the database's name.
    std::unique_ptr<SeekableStream> player;
    std::unique_ptr<FileStream> host;
    result = OpenFileSystemStream(music_volume_.get(), kDatabaseSavePath,
                                  kFsStreamWrite | kFsStreamCreate | kFsStreamReplace, &player);
    if (rc::Succeeded(result)) result = OpenHostCopy(database_copy_path_, false, &host);
    if (rc::Succeeded(result)) result = CopyStream(host.get(), player.get(), kCopyChunk);
    player.reset();
    if (rc::Succeeded(result)) result = music_volume_->Rename(kDatabasePath, kDatabaseSavePath);
    if (rc::Succeeded(result)) database_dirty_ = false;
  }
  if (rc::Succeeded(result)) result = UnlinkFile(database_copy_path_);
  if (!keep_open) {
    const Result closed = Close();
    if (rc::Succeeded(result)) result = closed;
  }
  return result;
}
