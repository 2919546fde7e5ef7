// The file source: the folders of a mass-storage player's drive presented as a music library.
// DirectorySource holds the root folders, the flags and the change listeners and walks folders
// without a database of its own; FileSource adds the SimpleDB of the drive's music files (one
// record per track, playlist or folder), its lock and the write-back of record changes into
// the drive's files (tags, playlist files, pictures; file_source_observer.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/simple_db.h"
#include "devices/msc/msc_file_source.h"
#include "devices/msc/playlist_members.h"
#include "devices/msc/source_key_transforms.h"
#include "support/registered_lock.h"

class FileSourceObserver;
class FolderListingApi;
class FileStream;
class ScanListener;

// Told of the records that change in a source. The source calls every listener in the order
// they were added and ignores what they do.
class SourceChangeListener {
 public:
  virtual ~SourceChangeListener() = default;
  virtual void OnRecordChanged(uint32_t fid) { (void)fid; }
  virtual void OnRecordRemoved(uint32_t fid) { (void)fid; }
  // A record that synchronisation has just created (a new track or folder record).
  virtual void OnRecordAdded(uint32_t fid) { (void)fid; }
  virtual void OnPlaylistChanged(uint32_t fid) { (void)fid; }
};

// Fids: multiples of 16. 0x100 is the root record, a playlist standing for the whole source;
// new fids start at 0x120.
constexpr uint32_t kRootFid = 0x100;
constexpr uint32_t kFirstFreeFid = 0x120;
constexpr uint32_t kFidStep = 16;

// The record database of a source: the source's SimpleDB (none for a DirectorySource) with a
// lookup by fid, and the cached next fid of FileSource::NewFid.
class SourceRecordDatabase : public RecordDatabase {
 public:
  explicit SourceRecordDatabase(SimpleDB* db) : db_(db) {}
  // rc::kNotImplemented without a database.
  Result CreateQuery(RefPtr<RecordQuery>* out) override;
  Result OpenRecordSet(RefPtr<RecordSet>* out) override;
  // The record whose "fid" is `fid`; rc::kNotFound (without a query) for a fid below 0x100 or
  // not a multiple of 16, or when no record holds it.
  Result FindRow(RefPtr<RecordSet>* out, uint32_t fid) override;

  uint32_t cached_next_fid = 0;  // 0: nothing cached

 private:
  SimpleDB* db_;
};

class DirectorySource;

// Opens a track's file by its fid.
class FidFileOpener {
 public:
  explicit FidFileOpener(DirectorySource* source) : source_(source) {}
  virtual ~FidFileOpener() = default;
  // The file of the record with this fid, opened for reading; rc::kNotFound when no record
  // holds it, E_ACCESSDENIED when its path lies outside the source's roots.
  virtual Result OpenFile(uint32_t fid, std::unique_ptr<FileStream>* stream);
  virtual Result Unsupported() { return rc::kNotImplemented; }

 private:
  DirectorySource* source_;
};

class DirectorySource {
 public:
  // Flag bits (the scan reads most of them).
  static constexpr uint32_t kFolderRecords = 0x01;      // folders get a folder playlist
  static constexpr uint32_t kReadPlaylists = 0x02;      // playlist files become playlists
  static constexpr uint32_t kRootTracksInRoot = 0x04;   // tracks in a root join its list
  static constexpr uint32_t kScanWav = 0x08;            // ".wav" files are tracks
  static constexpr uint32_t kTemporaryDatabase = 0x10;  // no database file, rebuilt each open
  static constexpr uint32_t kFolderType = 0x20;         // folder lists may have type "dir"
  static constexpr uint32_t kNoFingerprint = 0x40;      // no "rid" while reading tags
  static constexpr uint32_t kPictures = 0x80;           // album pictures are looked up and placed

  // `db`: the database of a FileSource; none for a plain DirectorySource.
  DirectorySource(uint32_t flags, const std::string& name, SimpleDB* db = nullptr);

  // The source's name, and a second text (its description); neither is interpreted here.
  virtual std::string Name() const { return name_; }
  virtual RecordDatabase* Database() { return &database_; }
  virtual const std::string& Description() const { return description_; }
  // True when any of the flags 0x01, 0x02, 0x04 is set.
  virtual bool PlaylistOptions() const;
  // A path for a new playlist file in the first root ("0123456789.m3u"); the playlist's
  // write-back gives the file its real name.
  virtual std::string NewPlaylistPath() const;
  virtual ~DirectorySource();
  virtual void AddChangeListener(SourceChangeListener* listener);
  // Removes every occurrence.
  virtual void RemoveChangeListener(SourceChangeListener* listener);
  virtual void Lock() {}
  virtual void Unlock() {}
  virtual Result SyncDatabase() { return rc::kOk; }
  virtual void SetSyncOnChange(bool sync) { (void)sync; }

  DirectorySource(const DirectorySource&) = delete;
  DirectorySource& operator=(const DirectorySource&) = delete;

  // Roots in the order added; the first is the source's root path.
  void AddRootFolder(const std::string& root) { roots_.push_back(root); }
  const std::vector<std::string>& Roots() const { return roots_; }
  std::string RootPath() const { return roots_.empty() ? std::string() : roots_[0]; }
  uint32_t Flags() const { return flags_; }
  // True when the path lies below one of the roots (a root itself does not); '/' and '\\'
  // and the case of letters do not matter. Paths outside must never be indexed or touched.
  bool LiesInsideRoots(const std::string& path) const;
  // True when the path is one of the roots, in the same sense.
  bool IsRoot(const std::string& path) const;
  const std::vector<SourceChangeListener*>& ChangeListeners() const { return listeners_; }
  SourceRecordDatabase& RecordDb() { return database_; }
  FidFileOpener& FileOpener() { return opener_; }
  void SetOwnerWindow(void* window) { owner_window_ = window; }
  // How the walks read the drive (not owned; the system's functions unless a test sets it).
  void SetFolderListing(FolderListingApi* listing) { listing_ = listing; }
  FolderListingApi* FolderListing() const { return listing_; }

 protected:
  std::vector<std::string> roots_;
  uint32_t flags_;
  void* owner_window_ = nullptr;  // an HWND; only network roots use it
  uint32_t expected_files_ = 0;
  uint64_t expected_bytes_ = 0;
  int32_t newest_time_ = 0;
  std::string folder_picture_;
  std::vector<SourceChangeListener*> listeners_;  // not owned
  FolderListingApi* listing_ = nullptr;           // null: the system's functions

 private:
  std::string name_;
  std::string description_;
  SourceRecordDatabase database_;
  FidFileOpener opener_;
};

// The library of one player. Also the MscFileSource of the mass-storage device and channel.
class FileSource : public DirectorySource, public MscFileSource {
 public:
  static constexpr uint32_t kSchemaVersion = 37;
  // The title of the root record.
  static const char kRootTitle[];

  // `database_path` empty: "/.source.db" under the first root (or a temporary database under
  // flag 0x10). `open` makes the database's B-tree handle (tests wrap its operations).
  FileSource(uint32_t flags, const std::string& database_path, const std::string& first_root,
             BerkeleyDb::OpenFunction open = nullptr);
  ~FileSource() override;

  // The MscFileSourceFactory of the mass-storage device.
  static Result Create(uint32_t flags, const std::string& database_path,
                       const std::string& first_root, std::unique_ptr<MscFileSource>* out);

  // Enters the source lock and turns the write-back off; Unlock turns it on and leaves.
  void Lock() override;
  void Unlock() override;
  Result SyncDatabase() override;
  void SetSyncOnChange(bool sync) override;

  // Opens or creates the database, writes or retitles the root record. `created` (may be
  // null) is 1 when a new database was made.
  Result OpenDatabase(uint8_t* created);

  // A new playlist record with a unique title; the fid is handed back before the record is
  // written, so it is set even when the write fails. `path` may be empty.
  Result CreatePlaylist(const std::string& title, const std::string& path,
                        const std::vector<uint32_t>& member_fids, uint32_t* fid);
  // Replaces a playlist's members by the tracks with these fids (unknown fids left out).
  Result SetPlaylistMembers(uint32_t playlist_fid, const std::vector<uint32_t>& member_fids);
  // 0: no limit.
  void SetMemberLimit(uint32_t limit) { member_limit_ = limit; }
  // Longest title of a new playlist in bytes; 0: no limit.
  void SetTitleLimit(uint32_t limit) { title_limit_ = limit; }

  SimpleDB& Db() { return db_; }
  const std::string& DatabasePath() const { return database_path_; }
  // True unless the calling thread holds the source lock.
  bool WriteBack() const;

  // MscFileSource
  Result AddRoot(const std::string& root) override;
  Result Open() override { return OpenDatabase(nullptr); }
  Result RewritePaths(const std::function<bool(std::string* path)>& rewrite) override;

  // Scanning and synchronisation
  // Brings the record of one file up to date; `fid` and `fid_generation` are set to 0 on
  // entry and to the record's values when it has one.
  Result ScanFile(const std::string& path, uint32_t* fid, uint32_t* fid_generation,
                  ScanListener* listener);
  // A fid that no record uses (under the source lock).
  Result NewFid(uint32_t* fid);
  // One pass over the roots (or the roots equal to `sub_path`).
  Result Synchronise(ScanListener* listener, const std::string& sub_path, bool skip_counting);
  Result Refresh(ScanListener* listener, uint64_t expected_bytes);
  Result CountFiles(ScanListener* listener);
  void ConnectNetworkRoots();
  // Synchronises, handing the properties of each track scanned (once) to the listener.
  Result Refresh(MscScanListener* listener) override;
  // Scans the new file at "name", then stores `file`'s metadata in that file's record alone.
  Result RecordNewFile(PropertyHolder& file) override;
  // True while RecordNewFile writes the tags of the new file at `path` (the same spelling):
  // that file is no one's yet, so its tags may grow in place.
  bool IsBeingRecorded(const std::string& path);
  // Removes the files of failed uploads that could not be removed then (a pass's first step).
  void FinishRemovals();
  FileSource* Library() override { return this; }
  friend class ScanVisitor;  // a pass reads and raises the source's counters

 private:
  // Synchronise without its index batch.
  Result SynchronisePass(ScanListener* listener, const std::string& sub_path, bool skip_counting);
  // The root record's member list becomes `members` (the root record is made when missing).
  Result UpdateRootMembers(const std::vector<PlaylistMember>& members);
  // Deletes the records (under `sub_path`, when given) whose fids the pass did not meet.
  Result DeleteUnmetRecords(ScanListener* listener, const std::string& sub_path,
                            const std::set<uint32_t>& met, bool skip_counting);

 public:
  // End of scanning and synchronisation

 private:
  Result OpenAt(const std::string& path);
  Result RecreateDatabase();
  // True when the open database has this source's 40 columns and 33 indexes.
  bool SchemaMatches() const;
  Result BuildSchema();
  void BindTransforms();
  // Once per source, however often the database is opened.
  void RegisterObserver();
  Result WriteRootRecord();
  Result RetitleRootRecord();
  // The unique title of a new playlist.
  Result UniquePlaylistTitle(const std::string& title, std::string* unique);
  // The members with these fids, as they stand in the database now.
  std::vector<PlaylistMember> MembersOf(const std::vector<uint32_t>& fids);

  std::string database_path_;
  RegisteredLock source_lock_{"FileSource"};
  uint8_t write_back_ = 1;
  uint32_t lock_depth_ = 0;  // nested Lock calls of the owning thread
  std::atomic<uint32_t> lock_owner_{0};  // thread id while locked; read by every thread
  uint32_t member_limit_ = 0;
  uint32_t title_limit_ = 0;
  SimpleDB db_;
  ArtistKeyTransform artist_transform_;
  PersonKeyTransform person_transform_;
  PathKeyTransform path_transform_;
  std::unique_ptr<FileSourceObserver> observer_;
  std::set<std::string> being_recorded_;  // paths of RecordNewFile calls under way
  // Files of failed uploads that could not be removed then; hidden from passes until gone.
  std::set<std::string> unfinished_removals_;
  RegisteredLock being_recorded_lock_{"FileSourceNewFiles"};
};
