// The file source's database: where it lies, its schema, the root record, the rebuild rules.
#include "devices/msc/file_source.h"

#include <cstdlib>

#include "devices/msc/file_source_observer.h"
#include "devices/msc/library_pass_backup.h"
#include "support/debug_trace.h"
#include "support/file_helpers.h"
#include "support/text_convert.h"

namespace {

// The file lies on the player's drive or was given to us: it is checked before use, and a
// damaged one is built anew like an outdated one.
constexpr uint32_t kOpenMode =
    BerkeleyDb::kRead | BerkeleyDb::kWrite | BerkeleyDb::kCreate | BerkeleyDb::kVerify;
constexpr Result kAccessDenied = static_cast<Result>(0x8004100D);
constexpr Result kNoSuchFile = static_cast<Result>(0x80041002);
constexpr Result kNotADatabase = static_cast<Result>(0x80041016);  // EINVAL from the library

struct ColumnSpec {
  const char* name;
  uint32_t type;
};

const ColumnSpec kColumns[] = {
    {"fid", kSimpleNumber},
    {"tracknr", kSimpleNumber},
    {"length", kSimpleNumber},
    {"offset", kSimpleNumber},
    {"duration", kSimpleNumber},
    {"mtime", kSimpleNumber},
    {"ctime", kSimpleNumber},
    {"samplerate", kSimpleNumber},
    {"trailer", kSimpleNumber},
    {"file_id", kSimpleNumber},
    {"options", kSimpleNumber},
    {"bpm", kSimpleNumber},
    {"replay_gain_peak", kSimpleNumber},
    {"replay_gain_radio", kSimpleNumber},
    {"replay_gain_audiophile", kSimpleNumber},
    {"playlist", kSimpleList},
    {"cd_toc", kSimpleList},
    {"type", kSimpleText},
    {"path", kSimpleText},
    {"title", kSimpleText},
    {"artist", kSimpleText},
    {"year", kSimpleText},
    {"genre", kSimpleText},
    {"comment", kSimpleText},
    {"source", kSimpleText},
    {"bitrate", kSimpleText},
    {"codec", kSimpleText},
    {"rid", kSimpleText},
    {"state", kSimpleText},
    {"drm", kSimpleText},
    {"provider", kSimpleText},
    {"mood", kSimpleText},
    {"composer", kSimpleText},
    {"lyricist", kSimpleText},
    {"conductor", kSimpleText},
    {"ensemble", kSimpleText},
    {"remixed", kSimpleText},
    {"originalartist", kSimpleText},
    {"fid_generation", kSimpleNumber},
    {"image_path", kSimpleText},
};

const char* const kPersonColumns[] = {"mood",     "composer", "lyricist",      "conductor",
                                      "ensemble", "remixed",  "originalartist"};

const std::vector<std::vector<std::string>>& Indexes() {
  static const std::vector<std::vector<std::string>> indexes = {
      {"fid"},
      {"artist"},
      {"artist", "title"},
      {"artist", "source"},
      {"artist", "source", "tracknr"},
      {"artist", "tracknr"},
      {"source"},
      {"source", "tracknr"},
      {"source", "artist", "tracknr"},
      {"type", "artist"},
      {"type", "artist", "title"},
      {"type", "artist", "source"},
      {"type", "artist", "source", "tracknr"},
      {"type", "artist", "tracknr"},
      {"type", "source"},
      {"type", "source", "artist"},
      {"type", "source", "artist", "tracknr"},
      {"type", "source", "tracknr"},
      {"type", "source", "title"},
      {"type", "genre", "artist", "title"},
      {"type", "genre", "artist"},
      {"type", "genre", "title"},
      {"type", "genre"},
      {"type", "title"},
      {"type", "year"},
      {"genre"},
      {"genre", "title"},
      {"year"},
      {"year", "title"},
      {"path"},
      {"title"},
      {"rid"},
      {"type"},
  };
  return indexes;
}

// "$HOME/.<root with '/' as '-', without leading and trailing '-'>.db"; false without HOME.
bool HomeDatabasePath(const std::string& root, std::string* path) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return false;
  std::string name = root;
  for (char& c : name) {
    if (c == '/') c = '-';
  }
  const size_t first = name.find_first_not_of('-');
  name = first == std::string::npos ? std::string() : name.substr(first);
  const size_t last = name.find_last_not_of('-');
  name.erase(last == std::string::npos ? 0 : last + 1);
  *path = std::string(home) + "/." + name + ".db";
  return true;
}

}  // namespace

const char FileSource::kRootTitle[] = "All Music";

FileSource::~FileSource() {
  if (db_.Db() == nullptr) return;
  const bool inconsistent = db_.Inconsistent();
  db_.Close();
  if (inconsistent) {
    TORVEX_TRACE("Inconsistency detected, forcing database rebuild\n");
    if (!database_path_.empty()) UnlinkFile(database_path_);
  }
}

bool FileSource::SchemaMatches() const {
  const std::vector<SimpleColumn>& columns = db_.Columns();
  if (columns.size() != sizeof(kColumns) / sizeof(kColumns[0])) return false;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name != kColumns[i].name || columns[i].type != kColumns[i].type) return false;
  }
  for (const std::vector<std::string>& index : Indexes()) {
    if (!db_.HasIndex(index)) return false;
  }
  return true;
}

Result FileSource::OpenAt(const std::string& path) {
  PassBackup::RestoreInterruptedPass(path);
  return db_.Open(path.empty() ? nullptr : path.c_str(), kOpenMode);
}

// Deletes the database file and makes a new, empty one in its place.
Result FileSource::RecreateDatabase() {
  db_.Close();
  // A file that stays would be opened again as it was, outdated or damaged.
  const Result removed = UnlinkFile(database_path_);
  if (rc::Failed(removed) && removed != kNoSuchFile) return removed;
  return OpenAt(database_path_);
}

Result FileSource::OpenDatabase(uint8_t* created) {
  if (created) *created = 0;
  const bool temporary = (flags_ & kTemporaryDatabase) != 0;
  const bool default_path = !temporary && database_path_.empty();
  if (temporary) {
    database_path_.clear();
  } else if (default_path) {
    database_path_ = RootPath() + "/.source.db";
  }
  Result status = OpenAt(database_path_);
  if (default_path && (status == kAccessDenied || status == kNoSuchFile)) {
    std::string fallback;
    if (HomeDatabasePath(RootPath(), &fallback)) {
      database_path_ = fallback;
      db_.Close();
      status = OpenAt(database_path_);
    }
  }
  if (!temporary && (status == rc::kBadData || status == kNotADatabase)) {
    // Not a B-tree, or its schema or index list is damaged: build it anew like an outdated
    // one, or the player could never be opened again.
    status = RecreateDatabase();
  }
  if (rc::Failed(status)) return status;
  if (!temporary) {
    uint32_t version = 0;
    const bool current = rc::Succeeded(db_.GetVersion(&version)) && version == kSchemaVersion;
    if (!current || (!db_.SchemaEmpty() && !SchemaMatches())) {
      status = RecreateDatabase();
      if (rc::Failed(status)) return status;
    }
  }
  if (!db_.SchemaEmpty()) {
    RetitleRootRecord();
    BindTransforms();
    RegisterObserver();
    return rc::kOk;
  }
  status = BuildSchema();
  if (rc::Failed(status)) return status;
  status = WriteRootRecord();
  if (rc::Succeeded(status) && created) *created = 1;
  return status;
}

void FileSource::BindTransforms() {
  db_.SetColumnTransform("artist", &artist_transform_);
  db_.SetColumnTransform("path", &path_transform_);
  for (const char* column : kPersonColumns) db_.SetColumnTransform(column, &person_transform_);
}

void FileSource::RegisterObserver() {
  for (RecordObserver* observer : db_.Observers()) {
    if (observer == observer_.get()) return;  // opened before
  }
  db_.AddObserver(observer_.get());
}

Result FileSource::BuildSchema() {
  for (const ColumnSpec& column : kColumns) db_.AddColumn(column.name, column.type);
  BindTransforms();
  RegisterObserver();
  for (const std::vector<std::string>& index : Indexes()) {
    const Result status = db_.AddIndex(index);
    if (rc::Failed(status)) return status;
  }
  db_.SetVersion(kSchemaVersion);
  // The stamp is written last: reading it back proves the schema reached the file.
  uint32_t version = 0;
  const Result status = db_.GetVersion(&version);
  if (rc::Failed(status)) return status;
  return version == kSchemaVersion ? rc::kOk : rc::kBadData;
}

Result FileSource::WriteRootRecord() {
  RefPtr<RecordSet> record;
  Result status = db_.OpenRecordSet(&record);
  if (rc::Succeeded(status) && !record) status = rc::kOutOfMemory;
  if (rc::Succeeded(status)) status = record->AddNew();
  if (rc::Failed(status)) return status;
  record->SetInt("fid", kRootFid);
  record->SetString("type", "playlist");
  record->SetString("path", Latin1ToUtf8(RootPath()));
  record->SetString("title", kRootTitle);
  record->SetString("state", "");
  Lock();
  status = record->Update();
  Unlock();
  return status;
}

Result FileSource::RetitleRootRecord() {
  RefPtr<RecordSet> root;
  Result status = RecordDb().FindRow(&root, kRootFid);
  if (rc::Failed(status)) return status;
  root->SetString("title", kRootTitle);
  Lock();
  status = root->Update();
  Unlock();
  return status;
}

Result FileSource::RewritePaths(const std::function<bool(std::string* path)>& rewrite) {
  RefPtr<RecordSet> record;
  Result status = db_.OpenRecordSet(&record);
  if (rc::Succeeded(status) && !record) status = rc::kOutOfMemory;
  if (rc::Succeeded(status)) status = record->MoveFirst();
  for (; rc::Succeeded(status) && !record->IsEOF(); status = record->MoveNext()) {
    std::string path = Utf8ToLatin1(record->GetString("path"));
    if (!rewrite(&path)) continue;
    record->SetString("path", Latin1ToUtf8(path));
    Lock();
    status = record->Update();
    Unlock();
    if (rc::Failed(status)) return status;
  }
  return rc::Failed(status) ? status : rc::kOk;
}
