#include "devices/flash/sardane_channel_b.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "devices/block_predictor.h"
#include "devices/flash/database_upload_stream.h"
#include "devices/device_results.h"
#include "devices/flash/fid_tag_mapper.h"
#include "devices/progress_sink.h"
#include "devices/flash/set_text_property.h"
#include "devices/tags_differ.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"
#include "support/stream.h"
#include "support/stream_io.h"

namespace {

constexpr uint32_t kStorageShift = 14;  // a fid's storage index
constexpr int kUnlockTries = 4;

// Chunk time limits of the adaptive send, in milliseconds.
constexpr uint32_t kFastChunkMs = 40;
constexpr uint32_t kQuickChunkMs = 300;
constexpr uint32_t kSlowChunkMs = 900;

uint32_t AdaptChunkSize(uint32_t chunk, uint32_t elapsed_ms) {
  if (elapsed_ms < kFastChunkMs) return std::min(chunk * 8, SardaneChannelB::kMaxChunk);
  if (elapsed_ms < kQuickChunkMs) return std::min(chunk * 2, SardaneChannelB::kMaxChunk);
  if (elapsed_ms > kSlowChunkMs) return std::max(chunk / 2, SardaneChannelB::kMinChunk);
  return chunk;
}

Result CopyInto(PropertySet& from, PropertyHolder& to) {
  RefPtr<PropertySet> set = to.GetSet();
  if (!set) return rc::kOutOfMemory;
  for (int32_t i = 0;; ++i) {
    const std::string name = from.GetColumnName(i);
    if (name.empty()) return rc::kOk;
    Result result = set->SetString(name, from.GetString(i));
    if (rc::Failed(result)) return result;
  }
}

uint32_t FidOf(PropertyHolder& file) {
  RefPtr<PropertySet> set = file.GetSet();
  return set ? static_cast<uint32_t>(set->GetInt("fid")) : 0;
}

// Passes on the rows of one storage.
class StorageRows : public HolderVisitor {
 public:
  StorageRows(uint32_t storage, HolderVisitor* visitor) : storage_(storage), visitor_(visitor) {}
  bool Visit(PropertyHolder& file) override {
    if (FidOf(file) >> kStorageShift != storage_) return true;
    stopped_ = visitor_ != nullptr && !visitor_->Visit(file);
    return !stopped_;
  }
  bool stopped() const { return stopped_; }

 private:
  uint32_t storage_;
  HolderVisitor* visitor_;
  bool stopped_ = false;
};

// An ATA identify string: `words` 16-bit words from `first`, each holding two characters with
// the first in its high byte.
std::string AtaText(const uint8_t* block, uint32_t first, uint32_t words) {
  std::string swapped(words * 2, '\0');
  for (uint32_t i = 0; i < words; ++i) {
    swapped[2 * i] = static_cast<char>(block[2 * (first + i) + 1]);
    swapped[2 * i + 1] = static_cast<char>(block[2 * (first + i)]);
  }
  return FieldText(reinterpret_cast<const uint8_t*>(swapped.data()), words * 2, false);
}

}  // namespace

SardaneChannelB::SardaneChannelB(UsbHardware* transport, uint32_t product_id, Clock* clock)
    : SardaneChannelD(transport, product_id, clock) {}

SardaneChannelB::~SardaneChannelB() {
  // A change whose write failed would otherwise go with the channel: a deleted file would
  // stay listed, a new one unlisted. Callers close the channel right after a failed commit.
  if (!dirty_) return;
  Result result = rc::kOutOfMemory;
  try {
    result = Commit(1);
  } catch (const std::bad_alloc&) {
  }
  if (rc::Failed(result))
    TORVEX_TRACE("The changed database could not be written before closing.\n");
}

// --- the database ----------------------------------------------------------------------------

Result SardaneChannelB::ReadImage(std::vector<uint8_t>* image) {
  ProtocolSession session(transport(), clock());
  uint32_t size = 0;
  Result result = session.Lock();
  if (rc::Succeeded(result)) result = session.GetDatabaseSize(&size);
  if (rc::Failed(result)) return result;

  // Room for one chunk more than the size needs; a player that sends beyond it is not sending
  // the image it announced.
  std::vector<uint8_t> buffer;
  std::vector<uint8_t> chunk;
  try {
    // The size comes from the player: up to qel::kMaxDatabaseSize, more than a 32-bit process
    // may find in one piece.
    buffer.resize(((size / qel::kChunkSize) + 1) * qel::kChunkSize);
    chunk.resize(qel::kChunkSize);
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;  // the session's end aborts the transfer
  }
  size_t filled = 0;
  for (;;) {
    uint32_t got = 0;
    result = session.ReceiveChunk(chunk.data(), &got);
    if (rc::Failed(result) || got == 0) break;
    if (got > buffer.size() - filled) {
      TORVEX_TRACE("The player sends more of its database than the %u bytes announced.\n", size);
      return rc::kBadData;
    }
    memcpy(buffer.data() + filled, chunk.data(), got);
    filled += got;
  }
  if (rc::Failed(result)) return result;
  // Completing an image that ended early with zeros would make a damaged database of it.
  if (filled < size) {
    TORVEX_TRACE("The player sends %u bytes of the %u bytes of database announced.\n",
                 static_cast<unsigned>(filled), size);
    return rc::kBadData;
  }
  buffer.resize(size);
  image->swap(buffer);
  return rc::kOk;
}

Result SardaneChannelB::LoadDatabase() {
  if (database_) return rc::kOk;
  std::vector<uint8_t> image;
  Result result = ReadImage(&image);
  if (result == rc::kNoDatabase) {
    image.clear();
  } else if (rc::Failed(result)) {
    return result;
  }
  // Rebuild writes the image itself: an empty one from Create would only be thrown away.
  std::unique_ptr<PackedTrackDatabase> database(new (std::nothrow) PackedTrackDatabase());
  if (!database) return rc::kOutOfMemory;
  result = database->Rebuild(image.empty() ? nullptr : image.data(),
                             static_cast<uint32_t>(image.size()));
  if (rc::Failed(result)) return result;
  database_ = std::move(database);
  dirty_ = false;
  return rc::kOk;
}

void SardaneChannelB::ForgetDatabase() {
  database_.reset();
  dirty_ = false;
}

Result SardaneChannelB::WriteImage(const uint8_t* image, uint32_t size) {
  ProtocolSession session(transport(), clock());
  Result result = session.Lock();
  // The value holds only the low 16 bits of the size, as the wire format has it; the blocks
  // that follow carry the rest.
  if (rc::Succeeded(result)) result = session.BeginDatabaseWrite(static_cast<uint16_t>(size));
  if (rc::Failed(result)) return result;
  std::vector<uint8_t> block(qel::kChunkSize);
  for (uint32_t at = 0; rc::Succeeded(result) && at < size; at += qel::kChunkSize) {
    const uint32_t n = std::min(size - at, qel::kChunkSize);
    std::fill(block.begin(), block.end(), 0);
    memcpy(block.data(), image + at, n);
    result = session.SendBytes(block.data(), qel::kChunkSize);
  }
  // Closing a broken transfer with "CQELINFO" would make the player take a partial image.
  if (rc::Succeeded(result))
    result = session.FinishInfo();
  else
    session.AbortIfData();
  return result;
}

Result SardaneChannelB::Commit(uint32_t) {
  if (!dirty_ || !database_) return rc::kOk;
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  Result result = database_->GetImage(&image, &size);
  if (rc::Succeeded(result)) result = WriteImage(image, size);
  if (rc::Succeeded(result)) dirty_ = false;
  return result;
}

Result SardaneChannelB::CacheRow(PropertyHolder& file, bool new_row) {
  Result result = LoadDatabase();
  if (rc::Failed(result)) return result;
  result = new_row ? FidTagMapper::StoreNewTrack(database_.get(), file)
                   : FidTagMapper::StoreTrack(database_.get(), file);
  if (rc::Succeeded(result)) dirty_ = true;
  return result;
}

Result SardaneChannelB::StoreRow(PropertyHolder& file, bool new_row) {
  const Result result = CacheRow(file, new_row);
  return rc::Succeeded(result) ? Commit(1) : result;
}

Result SardaneChannelB::StoreRow(PropertySet& file, bool new_row) {
  PropertyHolder holder;
  Result result = CopyInto(file, holder);
  return rc::Succeeded(result) ? StoreRow(holder, new_row) : result;
}

Result SardaneChannelB::AddFileRow(PropertyHolder& file) {
  const Result result = CacheRow(file, true);
  if (rc::Failed(result)) return result;
  // Reporting the refusal here would have the caller give the file's fid free while its row
  // waits in the cache, and the next upload would overwrite the file under that fid.
  if (rc::Failed(Commit(1)))
    TORVEX_TRACE("The database write after an upload failed; the next commit retries it.\n");
  return rc::kOk;
}

Result SardaneChannelB::ReloadDatabase(Stream* sink) {
  if (sink == nullptr) return rc::kInvalidArg;
  std::vector<uint8_t> image;
  Result result = ReadImage(&image);
  if (rc::Failed(result) || image.empty()) return result;
  return WriteExact(sink, image.data(), static_cast<uint32_t>(image.size()));
}

// --- files -----------------------------------------------------------------------------------

Result SardaneChannelB::EnumFiles(uint32_t storage, HolderVisitor* visitor) {
  Result result = LoadDatabase();
  if (rc::Failed(result)) return result;
  StorageRows rows(storage, visitor);
  result = FidTagMapper::WalkRecords(*database_, &rows);
  return rc::Succeeded(result) && rows.stopped() ? Result{1} : result;
}

Result SardaneChannelB::DeleteFile(uint32_t storage, PropertyHolder& file) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  Result result = LoadDatabase();
  if (rc::Succeeded(result)) result = FindFileRecord(record.data(), file);
  if (rc::Failed(result)) return result;
  bool no_such_file = false;
  {
    ProtocolSession session(transport(), clock());
    result = session.Lock();
    if (rc::Succeeded(result))
      result = session.DeleteRecord(static_cast<uint16_t>(storage), record.data(), &no_such_file);
  }
  // A row whose file the player no longer holds (its delete went through, the database write
  // did not) lists a track that cannot play and could never be deleted: the row goes.
  if (rc::Failed(result) && !no_such_file) return result;
  const Result deleted = result;
  result = FidTagMapper::RemoveRecord(database_.get(), FidOf(file));
  if (result == rc::kNotFound) {
    TORVEX_TRACE("Deleted fid %u had no row in the database.\n", FidOf(file));
    return deleted;
  }
  if (rc::Failed(result)) return result;
  dirty_ = true;
  return Commit(1);
}

Result SardaneChannelB::RewriteFileInfo(uint32_t storage, PropertySet& file) {
  Result result = LoadDatabase();
  if (rc::Succeeded(result)) result = SardaneChannelD::RewriteFileInfo(storage, file);
  return rc::Succeeded(result) ? StoreRow(file, false) : result;
}

Result SardaneChannelB::MetadataDiffers(PropertySet& old_file, PropertySet& new_file,
                                        bool* differs) {
  return TagsDiffer(old_file, new_file, differs);
}

Result SardaneChannelB::SendFile(uint32_t storage, PropertySet& file, Stream* source,
                                 ProgressSink* progress) {
  // Firmware pieces are files of the player's own, never listed.
  if (storage == kFirmwareStorage) return SardaneChannel::SendFile(storage, file, source, progress);
  Result result = LoadDatabase();
  if (rc::Succeeded(result)) result = SendFileAdaptive(storage, file, source, progress, false);
  return rc::Succeeded(result) ? StoreRow(file, true) : result;
}

Result SardaneChannelB::SendFileByRequest136(uint32_t storage, PropertySet& file,
                                             Stream* source, ProgressSink* progress) {
  Result result = LoadDatabase();
  if (rc::Succeeded(result)) result = SendFileAdaptive(storage, file, source, progress, true);
  return rc::Succeeded(result) ? StoreRow(file, false) : result;
}

Result SardaneChannelB::SendFileAdaptive(uint32_t storage, PropertySet& file, Stream* source,
                                         ProgressSink* progress, bool use_request136) {
  if (source == nullptr) return rc::kInvalidArg;
  if (storage > 0xFFFF) return rc::kBadIndex;
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  Result result = EncodeFileRecord(record.data(), file);
  if (rc::Failed(result)) return result;
  const uint32_t length = bytes::Le32(record.data() + 8);
  if (auto* seekable = dynamic_cast<SeekableStream*>(source)) {
    uint32_t source_size = 0;
    result = seekable->GetSize(&source_size);
    if (rc::Failed(result)) return result;
    if (source_size != length) return rc::kSizeMismatch;
  }

  ProtocolSession session(transport(), clock());
  result = session.Lock();
  if (rc::Succeeded(result))
    result = use_request136 ? session.BeginSend136(static_cast<uint16_t>(storage))
                            : session.BeginSend(static_cast<uint16_t>(storage));
  if (rc::Failed(result)) return result;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kMaxChunk]);
  if (!buffer) {
    session.AbortIfData();
    return rc::kOutOfMemory;
  }

  uint32_t chunk = progress != nullptr ? std::min(chunk_size_, kMaxChunk) : kMaxChunk;
  uint32_t sent = 0;
  for (;;) {
    if (progress != nullptr) {
      result = progress->Report(sent, length);
      if (rc::Failed(result)) break;
    }
    const uint32_t started = clock()->NowMs();
    uint32_t got = 0;
    result = ReadUpTo(source, buffer.get(), chunk, &got);
    if (rc::Failed(result) || got == 0) break;
    if (got > length - sent) {
      result = rc::kSizeMismatch;
      break;
    }
    const uint32_t padded = (got + kMinChunk - 1) / kMinChunk * kMinChunk;
    memset(buffer.get() + got, 0, padded - got);
    // A chunk the player rejects ("CRCF") is sent again by the session, a bounded number of
    // times.
    result = session.SendTail(buffer.get(), padded);
    if (rc::Failed(result)) break;
    sent += got;
    if (progress != nullptr) chunk = AdaptChunkSize(chunk, clock()->NowMs() - started);
  }
  if (rc::Succeeded(result) && sent != length) result = rc::kSizeMismatch;
  if (progress != nullptr) progress->Report(length, length);
  buffer.reset();
  if (rc::Succeeded(result))
    result = session.SendInfo(record.data());
  else
    session.AbortIfData();
  for (int failures = 0; session.lock_count() > 0 && failures < kUnlockTries;)
    if (rc::Failed(session.Unlock())) ++failures;
  if (rc::Succeeded(result) && progress != nullptr) chunk_size_ = chunk;
  return result;
}

Result SardaneChannelB::CreateNewFile(uint32_t storage, OutputStream** stream) {
  return DatabaseUploadStream::Create(storage, this, transport(), clock(), stream);
}

Result SardaneChannelB::CreatePredictor(uint32_t, Predictor** predictor) {
  return CreateBlockPredictorB(predictor);
}

// --- storage and device ----------------------------------------------------------------------

Result SardaneChannelB::FormatStorage(uint32_t storage, ProgressSink* progress) {
  ForgetDatabase();
  return SardaneChannelD::FormatStorage(storage, progress);
}

Result SardaneChannelB::UpgradeFirmware(SeekableStream* image, uint32_t flags,
                                        ProgressSink* progress) {
  if ((flags & kFirmwareAsFile) == 0)
    return SardaneChannelD::UpgradeFirmware(image, flags, progress);
  if (image == nullptr) return rc::kInvalidArg;
  uint32_t size = 0;
  Result result = image->GetSize(&size);
  if (rc::Failed(result)) return result;
  PropertyHolder file;
  RefPtr<PropertySet> props = file.GetSet();
  if (!props) return rc::kOutOfMemory;
  for (const char* name : {"name", "title"})
    if (rc::Succeeded(result)) result = props->SetString(name, "I2C");
  if (rc::Succeeded(result)) result = props->SetString("type", "i2c");
  if (rc::Succeeded(result)) result = props->SetInt64("length", size);
  return rc::Succeeded(result) ? SendFile(kFirmwareStorage, *props, image, progress) : result;
}

Result SardaneChannelB::Suspend(bool suspend) {
  if (suspend) {
    Result result = Commit(1);
    if (rc::Failed(result)) return result;
    ForgetDatabase();
  }
  return SardaneChannelD::Suspend(suspend);
}

Result SardaneChannelB::UsesUtf8(bool* utf8) {
  if (utf8 == nullptr) return rc::kInvalidArg;
  *utf8 = true;
  return rc::kOk;
}

// --- player requests -------------------------------------------------------------------------

Result SardaneChannelB::GetButtonCounters(PropertyHolder& counters) {
  uint8_t block[qel::kSmallBlockSize] = {};
  ProtocolSession session(transport(), clock());
  Result result = session.ReadButtonBlock(block);
  if (rc::Failed(result)) return result;
  const char* const names[] = {"buttons", "rotary_clockwise", "rotary_anticlockwise"};
  for (uint32_t i = 0; i < 3 && rc::Succeeded(result); ++i)
    result = counters.SetInt(names[i], static_cast<int32_t>(bytes::Le32(block + 4 * i)));
  return result;
}

Result SardaneChannelB::Request137(uint32_t value, uint32_t index) {
  if (value > 0xFFFF || index > 0xFFFF) return rc::kBadIndex;
  ProtocolSession session(transport(), clock());
  return session.Request137(static_cast<uint16_t>(value), static_cast<uint16_t>(index));
}

Result SardaneChannelB::GetHardwareInfo(PropertyHolder& info) {
  uint8_t block[qel::kHardwareBlockSize] = {};
  ProtocolSession session(transport(), clock());
  Result result = session.ReadHardwareBlock(block);
  if (rc::Succeeded(result)) result = info.Clear();
  if (rc::Succeeded(result)) result = info.SetString("serial", AtaText(block, 10, 10));
  if (rc::Succeeded(result)) result = info.SetString("firmware_version", AtaText(block, 23, 4));
  if (rc::Succeeded(result)) result = info.SetString("model", AtaText(block, 27, 20));
  if (rc::Succeeded(result)) {
    // Words 60 and 61: the low half first.
    result = info.SetInt64("sector_count", bytes::Le32(block + 2 * 60));
  }
  return result;
}

Result SardaneChannelB::GetBatteryInfo(PropertyHolder& battery) {
  uint8_t block[qel::kSmallBlockSize] = {};
  Result result;
  {
    ProtocolSession session(transport(), clock());
    result = session.ReadBatteryBlock(block);
  }
  // Players without the battery block still know the single battery value.
  if (rc::Failed(result)) return SardaneChannelD::GetBatteryInfo(battery);
  const char* const names[] = {"temperature",
                               "voltage",
                               "instantaneous_current",
                               "integrated_current_accumulator",
                               "charge_current_accumulator",
                               "discharge_current_accumulator"};
  result = battery.Clear();
  for (uint32_t i = 0; i < 6 && rc::Succeeded(result); ++i)
    result = battery.SetInt(names[i], static_cast<int32_t>(bytes::Le32(block + 4 * i)));
  return result;
}

Result CreateSardaneChannelB(UsbHardware* transport, uint32_t product_id, Channel** out) {
  auto* channel = new (std::nothrow) SardaneChannelB(transport, product_id);
  if (channel == nullptr) {
    delete transport;
    return rc::kOutOfMemory;
  }
  *out = channel;
  return rc::kOk;
}
