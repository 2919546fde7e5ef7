// Flash family B (product ids 0x5220 and 0x5221): the directory records of family D, but the
// file list lives in a packed track database image that the channel reads from the player once,
// edits in memory and writes back whole on commit. Files go out in chunks whose size follows
// the speed of the link, and the player answers button, hardware and battery queries of its
// own. Storage 5 takes firmware as a file and has no database rows.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "devices/flash/packed_track_database.h"
#include "devices/flash/sardane_channel_d.h"

class SardaneChannelB : public SardaneChannelD {
 public:
  static constexpr uint32_t kFirmwareStorage = 5;
  static constexpr uint32_t kMinChunk = 32768;    // chunks are multiples of this
  static constexpr uint32_t kMaxChunk = 2097152;
  // Flag of UpgradeFirmware: the image goes to storage 5 as a file.
  static constexpr uint32_t kFirmwareAsFile = 0x08;

  SardaneChannelB(UsbHardware* transport, uint32_t product_id, Clock* clock = Clock::System());
  // Writes a change that an earlier commit could not.
  ~SardaneChannelB() override;

  // The database rows whose fid belongs to `storage`.
  Result EnumFiles(uint32_t storage, HolderVisitor* visitor) override;
  // The player deletes first; only then does the row go, so a failed delete leaves the
  // database and the player agreeing. A row whose file the player says it does not hold goes
  // as well.
  Result DeleteFile(uint32_t storage, PropertyHolder& file) override;
  Result RewriteFileInfo(uint32_t storage, PropertySet& file) override;
  Result MetadataDiffers(PropertySet& old_file, PropertySet& new_file, bool* differs) override;
  Result SendFile(uint32_t storage, PropertySet& file, Stream* source,
                  ProgressSink* progress) override;
  Result SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                              ProgressSink* progress) override;
  Result FormatStorage(uint32_t storage, ProgressSink* progress) override;
  Result UpgradeFirmware(SeekableStream* image, uint32_t flags, ProgressSink* progress) override;
  Result CreateNewFile(uint32_t storage, OutputStream** stream) override;
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override;
  // Writes the database when it differs from the player's; a failure keeps it marked changed,
  // so the next commit tries again.
  Result Commit(uint32_t flags) override;
  Result GetButtonCounters(PropertyHolder& counters) override;
  // rc::kBadIndex (nothing sent) for a value or index beyond 16 bits.
  Result Request137(uint32_t value, uint32_t index) override;
  Result GetHardwareInfo(PropertyHolder& info) override;
  Result GetBatteryInfo(PropertyHolder& battery) override;
  // Suspending commits first and forgets the database, which may change while others hold
  // the player.
  Result Suspend(bool suspend) override;
  // The player's image as it stands, whatever the channel holds in memory.
  Result ReloadDatabase(Stream* sink) override;
  Result UsesUtf8(bool* utf8) override;

  // Sends a file with request 108 (or 136) in chunks of up to 2 MiB, each padded to a multiple
  // of 32768. With progress the chunk size adapts to how long each chunk took, and a send that
  // succeeds keeps the size for the next one.
  Result SendFileAdaptive(uint32_t storage, PropertySet& file, Stream* source,
                          ProgressSink* progress, bool use_request136);

  // Reads the database from the player unless it is held already; a player without one
  // gives an empty database.
  Result LoadDatabase();
  // Enters a file that has reached the player into the database and commits. Fails only
  // when the row could not be entered: a refused database write leaves the row waiting for
  // the next commit (the one that ends every upload), and the file keeps its fid meanwhile.
  Result AddFileRow(PropertyHolder& file);

  uint32_t transfer_chunk_size() const { return chunk_size_; }
  bool dirty() const { return dirty_; }
  // Null until loaded.
  const PackedTrackDatabase* database() const { return database_.get(); }

 private:
  // Request 130 and the chunks of the image, which is `size` bytes of *image.
  Result ReadImage(std::vector<uint8_t>* image);
  // Request 135 and the image in 16384-byte blocks, closed by "CQELINFO".
  Result WriteImage(const uint8_t* image, uint32_t size);
  // Adds (new_row) or replaces the row of `file` in the cached database.
  Result CacheRow(PropertyHolder& file, bool new_row);
  // CacheRow, then commits.
  Result StoreRow(PropertyHolder& file, bool new_row);
  Result StoreRow(PropertySet& file, bool new_row);
  void ForgetDatabase();

  std::unique_ptr<PackedTrackDatabase> database_;
  bool dirty_ = false;
  uint32_t chunk_size_ = kMinChunk;
};

// Takes the transport (deleted on failure); 0 with *out set, or E_OUTOFMEMORY.
Result CreateSardaneChannelB(UsbHardware* transport, uint32_t product_id, Channel** out);
