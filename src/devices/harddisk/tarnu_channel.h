// The Channel of a hard-disk player. The PC drives the player's disk itself: the channel opens a
// PlayerDisk on the transport, takes the player's bus, mounts the music volume (partition 2) and,
// for firmware work, the system volume (partition 1). Every track is a numbered file on the
// music volume with a property file beside it; the player's music database ("var/smalldb") is
// edited through a copy on the host. Disk, bus, volumes and database are opened on demand and
// dropped by Close; the caller serialises the operations.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/channel.h"
#include "devices/harddisk/file_system.h"
#include "devices/harddisk/player_disk.h"
#include "devices/stream_copy.h"

class ColumnTable;
class MemoryStream;
class TarFileSystem;
class RecordSet;
class TarnuRowCollector;

namespace tarnu_result {
constexpr Result kFidInDatabase = static_cast<Result>(0xC0049022);
constexpr Result kFidNotInDatabase = static_cast<Result>(0xC0049023);
constexpr Result kDatabaseFull = static_cast<Result>(0xC004902C);
constexpr Result kFirmwareNotAllowed = static_cast<Result>(0xC004902D);
constexpr Result kNoPartitionLayout = static_cast<Result>(0xC004A01D);
}  // namespace tarnu_result

// The channel factory's creator for the hard-disk player (takes ownership of the transport).
Result CreateTarnuChannel(UsbHardware* transport, uint32_t product_id, Channel** out);

// Turns a settings text (lines of key, separator, value) into text entries of `set`. Line ends
// inside double quotes do not end a line; quoted values lose their quotes and backslashes.
Result ParseSettingsText(const std::string& text, char separator, char line_end,
                         PropertySet& set);

class TarnuChannel : public Channel {
 public:
  static constexpr uint32_t kProductId = 0x5210;
  static constexpr const char* kStorageName = "Hard disk";
  // Space kept free on the music volume, in bytes.
  static constexpr uint32_t kReserveBytes = 0xA00000;
  // New uploads are refused once the database's data is larger than this.
  static constexpr uint64_t kMaxDatabaseBytes = 0x300000;

  // Owns the transport (closed and deleted by the destructor). Null clock: the system clock.
  TarnuChannel(UsbHardware* transport, uint32_t product_id, Fx2Clock* clock = nullptr);
  ~TarnuChannel() override;
  TarnuChannel(const TarnuChannel&) = delete;
  TarnuChannel& operator=(const TarnuChannel&) = delete;

  // --- Channel --------------------------------------------------------------------------
  int32_t GetState() override;
  Result EnumStorages(HolderVisitor* visitor) override;
  Result GetStorageInfo(uint32_t storage, PropertyHolder& info) override;
  Result GetDeviceInfo(PropertyHolder& info) override;
  Result DeleteFile(uint32_t storage, PropertyHolder& file) override;
  Result RewriteFileInfo(uint32_t storage, PropertySet& file) override;
  Result MetadataDiffers(PropertySet& old_file, PropertySet& new_file, bool* differs) override;
  Result SendFile(uint32_t storage, PropertySet& file, Stream* source,
                  ProgressSink* progress) override;
  // The upload that replaces an existing file.
  Result SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                              ProgressSink* progress) override;
  Result ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                     ProgressSink* progress) override;
  // Formats the music volume; "/var/config.ini", "/var/state", "/var/dynamic1" and
  // "/var/dynamic3" are kept.
  Result FormatStorage(uint32_t storage, ProgressSink* progress) override;
  Result GetOwnerInfo(PropertyHolder& owner) override { return rc::kNotImplemented; }
  Result SetOwnerInfo(PropertySet& owner) override { return rc::kNotImplemented; }
  Result SetClock(uint32_t utc_seconds) override;
  Result SetDeviceTime(uint32_t local_seconds, uint32_t utc_seconds) override;
  Result GetDeviceID(uint32_t* product_id) override;
  Result CreateNewFile(uint32_t storage, OutputStream** stream) override;
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override;
  // Saves the database; the flag asks to keep the disk open.
  Result Commit(uint32_t keep_open) override;
  Result HoldStorage(bool hold) override;
  Result GetButtonCounters(PropertyHolder& counters) override;
  Result ReservedOperation(uint32_t argument) override { return rc::kNotImplemented; }
  Result Request119(uint32_t value, uint8_t index) override;
  Result Request128(std::vector<uint32_t>* words) override { return rc::kNotImplemented; }
  Result Request137(uint32_t value, uint32_t index) override { return rc::kNotImplemented; }
  Result GetHardwareInfo(PropertyHolder& info) override { return rc::kNotImplemented; }
  Result GetBatteryInfo(PropertyHolder& battery) override;
  Result Request117(uint32_t value, uint32_t a, uint32_t b) override;
  Result Request142(const std::string& text, uint32_t index) override;
  // The first word of the music volume's information sector; 1 when the volume cannot be had.
  Result Request140(uint32_t* value) override;
  Result Request145(uint32_t value) override { return rc::kNotImplemented; }
  // Resets the player's settings: removes the settings files under "/var".
  Result ListStateFiles() override { return ResetSettings(); }
  Result ConvertFileInfo(PropertyHolder& file, const uint8_t* record,
                         uint32_t length) override {
    return rc::kNotImplemented;
  }
  Result Suspend(bool suspend) override;
  Result Login(const std::string& password) override { return rc::kOk; }
  Result ReloadDatabase(Stream* sink) override { return rc::kNotImplemented; }
  Result Request146(uint16_t value, uint16_t index) override { return rc::kNotImplemented; }

  // Closes everything and asks the player to build its database afresh.
  Result CloseAndRebuildDatabase();

  // --- Disk, bus and volumes --------------------------------------------------------------
  Result OpenDisk();
  // Takes the bus; when it is held already, drops the volumes (saving a dirty database) so
  // that the caller may write raw sectors.
  Result AcquireBus();
  // Gives the bus back; the held flag is cleared when that succeeds.
  Result ReleaseBus();
  Result MountOmfs();
  // Checks the layout (formatting the system volume) and mounts partition 1 for the caller.
  // The music volume is closed first, saving a dirty database (a failed save is returned).
  Result MountSystem(std::unique_ptr<FileSystem>* system);
  // Saves a dirty database, drops it and unmounts the music volume. The save's result.
  Result CloseFileSystems();
  // Closes the file systems, releases the bus and drops the disk. The result of a save that
  // failed on the way (the bus is released all the same), else 0.
  Result Close();

  PlayerDisk* disk() const { return disk_.get(); }
  FileSystem* music_volume() const { return music_volume_.get(); }
  bool bus_held() const { return bus_held_; }
  AdaptiveCopySettings* copy_settings() { return &copy_settings_; }

  // --- Music database ---------------------------------------------------------------------
  Result LoadDatabase();
  Result EnsureDatabase();
  Result SaveDatabase(bool keep_open);
  // The "artist" column sorts without a leading article ("The", "A", ...).
  static void SetArtistCompare(ColumnTable* table);
  ColumnTable* database() const { return database_.get(); }
  bool database_dirty() const { return database_dirty_; }
  const std::string& database_copy_path() const { return database_copy_path_; }

  // --- Tracks ------------------------------------------------------------------------------
  Result SendHostFile(uint32_t storage, PropertySet& file, Stream* source,
                      ProgressSink* progress, bool new_file);
  Result MakeFidDirectory(uint32_t fid);
  // Writes the fid's property file and its database row. The fid must be new to the database
  // (or, for an existing file, already in it) before anything moves. With `content_path` the
  // content waiting there is moved onto the fid first. The row changes only after every file
  // is in place.
  Result StoreTrackProperties(PropertySet& file, const std::string& playlist_bytes,
                              bool new_file, const std::string& content_path = std::string());
  // The whole content of a file on the music volume; empty when it cannot be read.
  std::string ReadDeviceFile(const std::string& path);
  void WriteDeviceFile(const std::string& content, const std::string& path);
  Result ResetSettings();

  // --- Firmware and system update ------------------------------------------------------
  Result UpgradeFirmware(SeekableStream* image, uint32_t flags, ProgressSink* progress) override;
  // Deciphers the package; a tar archive installs its system tree and then its image, anything
  // else is written as the image as it stands. Leaves the bus released and the volumes
  // unmounted, and tells the player that new firmware is in place.
  Result UpdateFirmware(SeekableStream* package, uint32_t flags, ProgressSink* progress);
  Result CheckFirmwareAllowed();
  // Copies the package's "system/" tree onto the system volume, then writes its image.
  Result InstallSystemTree(FileSystem* tar, uint32_t flags, ProgressSink* progress);
  // Flags bit 0: check the music volume afterwards.
  Result WriteFirmwareImage(SeekableStream* image, uint32_t flags, ProgressSink* progress);

  // --- Enumeration and playlists -------------------------------------------------------
  // Every database row as a file's properties.
  Result EnumFiles(uint32_t storage, HolderVisitor* visitor) override;
  // The storage, every row, then every playlist's members.
  Result EnumContents(ContentsVisitor* visitor) override;
  // A new, empty FidEnumerator.
  Result EnumFids(RefPtr<FidList>* list) override;
  Result ForEachRow(TarnuRowCollector* collector, ColumnTable* table);
  // ";autosync;" when bit 0x400 is set, else empty (devices/row_flags.h).
  static std::string FlagsFromOptions(int32_t options);
  static int32_t ApplyFlagsToOptions(PropertySet& file, int32_t options);

 private:
  // Storages are numbered by the low 16 bits of the index.
  static uint16_t StorageIndex(uint32_t storage) { return static_cast<uint16_t>(storage); }
  // Takes the bus when it is not held yet.
  Result HoldBus();
  // Reads or writes the music volume's information sector (the bus must be held).
  Result MusicInfoSector(uint8_t* sector, bool write);
  // The database rows of a fid, positioned on the first; *found tells whether there is one.
  Result FindFidRows(uint32_t fid, RefPtr<RecordSet>* rows, bool* found);
  Result WritePropertyFile(PropertySet& stored, const std::string& path);
  // Copies the stored properties, the playlist list and a 40-byte profile into the row.
  Result WriteRow(RecordSet& row, PropertySet& stored, const std::string& playlist_bytes);

  uint32_t product_id_;
  std::unique_ptr<UsbHardware> transport_;
  Fx2Clock* clock_;
  std::unique_ptr<FileSystem> music_volume_;
  bool database_dirty_ = false;
  bool bus_held_ = false;
  std::unique_ptr<PlayerDisk> disk_;
  AdaptiveCopySettings copy_settings_;
  std::unique_ptr<ColumnTable> database_;
  std::string database_copy_path_;
};
