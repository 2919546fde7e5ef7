#include "devices/flash/sardane_channel_a.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <vector>

#include "devices/contents_walk.h"
#include "devices/device.h"
#include "devices/device_results.h"
#include "devices/fid_list.h"
#include "devices/flash_predictor.h"
#include "devices/flash/sardane_file_record.h"
#include "devices/flash/sardane_records.h"
#include "devices/flash/set_text_property.h"
#include "devices/flash/type_codes.h"
#include "devices/flash/upload_writer.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"

namespace {

// Database record (256 bytes, Latin-1 text).
namespace db {
constexpr uint32_t kFlags = 0, kFid = 4, kName = 12, kShortNameWidth = 12, kLongNameWidth = 32;
constexpr uint32_t kMarker = 24, kRid = 27, kRidSize = 16, kMarkerEnd = 43;
constexpr uint32_t kTitle = 44, kArtist = 92, kAlbum = 140, kTextWidth = 48;
constexpr uint32_t kGenre = 188, kGenreWidth = 22, kYear = 210, kCtime = 216;
constexpr uint32_t kDuration = 236, kZero = 240, kLength = 244, kTrack = 249, kTypeCode = 252;
}  // namespace db

// Family fields of the 2048-byte file record; the database record sits at kDatabase.
namespace rec {
constexpr uint32_t kGenre = 64, kGenreWidth = 64, kTitle = 128, kTitleWidth = 128;
constexpr uint32_t kArtist = 256, kSource = 352, kPersonWidth = 96;
constexpr uint32_t kDatabase = 512, kName = 768, kNameWidth = 256;
constexpr uint32_t kUtf8Flag = 1u << 24;
}  // namespace rec

constexpr uint32_t kRecordsPerChunk = qel::kChunkSize / sardane::kDatabaseRecordSize;
constexpr uint32_t kLargestTrack = 99;
constexpr uint32_t kUnitBytes = 1024;
constexpr int32_t kStorageType = 6;

bool HasRidMarker(const uint8_t* record) {
  return record[db::kMarker] == 0 && record[db::kMarker + 1] == 0x1D &&
         record[db::kMarker + 2] == 0x1D && record[db::kMarkerEnd] == 0;
}

void PutRidMarker(uint8_t* record) {
  record[db::kMarker] = 0;
  record[db::kMarker + 1] = 0x1D;
  record[db::kMarker + 2] = 0x1D;
  record[db::kMarkerEnd] = 0;
}

// The value of up to four ASCII digits; the first other byte ends the number.
int32_t YearFromDigits(const uint8_t* digits) {
  int32_t year = 0;
  for (int i = 0; i < 4 && isdigit(digits[i]); ++i) year = year * 10 + (digits[i] - '0');
  return year;
}

void PutYearDigits(uint8_t* digits, int32_t year) {
  memset(digits, 0, 4);
  if (year <= 0) return;
  for (int i = 3; i >= 0; --i, year /= 10) digits[i] = static_cast<uint8_t>('0' + year % 10);
}

std::string FlagText(uint32_t flags) {
  std::string words;
  if (flags & sardane::kFlagRecorded) sardane::AppendWord(&words, "recorded");
  if (flags & sardane::kFlagAutosync) sardane::AppendWord(&words, "autosync");
  return words;
}

// The player leaves the code out for some files; their names still tell the two formats.
uint32_t CodeOfExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return 0;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (extension == "mp3") return TypeCode("MPG3");
  if (extension == "wma") return TypeCode("WMA ");
  return 0;
}

void RemoveWord(std::string* list, const char* word) {
  const std::string needle = std::string(";") + word + ";";
  for (size_t at = list->find(needle); at != std::string::npos; at = list->find(needle))
    list->erase(at, needle.size() - 1);
}

Result SetNumber(PropertyHolder& file, const char* name, uint32_t value) {
  return file.SetInt(name, static_cast<int32_t>(value));
}

// The player's records call the album "album"; uploads and the WMDM layer call it "source".
// Both keys are given so that listed tracks show their album and compare with uploads.
Result MirrorAlbumAsSource(PropertyHolder& file) {
  return file.SetString("source", file.GetString("album"));
}

std::string TitleOrName(PropertySet& file) {
  std::string title = file.GetString("title");
  return title.empty() ? file.GetString("name") : title;
}

// The flash upload writer that, once the player has taken the file, gives it the "fid" of the
// position where the player filed it, which need not be the position the host predicted.
class FiledPositionWriter : public FlashUploadWriter {
 public:
  FiledPositionWriter(uint16_t storage, SardaneChannelA* channel, UsbHardware* transport,
                      Clock* clock)
      : FlashUploadWriter(storage, channel, transport, clock), channel_(channel) {}

 protected:
  Result FinishFile(PropertyHolder& file) override {
    Result result = FlashUploadWriter::FinishFile(file);
    RefPtr<PropertySet> props = file.GetSet();
    if (rc::Failed(result) || !props) return rc::Failed(result) ? result : rc::kOutOfMemory;
    std::vector<uint8_t> record(qel::kRecordSize, 0);
    result = channel_->EncodeFileRecord(record.data(), *props);
    uint32_t position = 0;
    if (rc::Succeeded(result)) {
      result = channel_->FindFiledPosition(record.data() + rec::kDatabase,
                                           static_cast<uint32_t>(props->GetInt("fid")), &position);
    }
    if (rc::Failed(result)) {
      TORVEX_TRACE("The player took the file, but its position is unknown: 0x%08x\n",
                   static_cast<unsigned>(result));
      return result;
    }
    return SetNumber(file, "fid", position);
  }

 private:
  SardaneChannelA* channel_;
};

}  // namespace

SardaneChannelA::SardaneChannelA(UsbHardware* transport, uint32_t product_id, Clock* clock)
    : SardaneChannel(transport, product_id, clock) {}

Result CreateSardaneChannelA(UsbHardware* transport, uint32_t product_id, Channel** out) {
  if (out == nullptr) {
    delete transport;
    return rc::kInvalidArg;
  }
  *out = new (std::nothrow) SardaneChannelA(transport, product_id);
  if (*out != nullptr) return rc::kOk;
  delete transport;
  return rc::kOutOfMemory;
}

int32_t SardaneChannelA::GetState() {
  ProtocolSession session(transport(), clock());
  uint32_t word = 0;
  Result result = session.GetStatusWord(&word);
  if (rc::Succeeded(result) && (word & 0xF00) == 0xF00) return kStateNotUsable;
  uint32_t value = 0;
  if (rc::Succeeded(result)) result = session.ValueRequest(118, 0, 0, &value);
  if (result == rc::kPlayerGone) return kStateGone;
  if (rc::Failed(result)) return kStateError;
  return (value & 0x08) == 0 && (value & 0x22) != 0 ? kStateReady : kStateNotUsable;
}

// --- listing ---------------------------------------------------------------------------------

Result SardaneChannelA::EnumFiles(uint32_t storage, HolderVisitor* visitor) {
  if (storage != 0) return rc::kNoSuchStorage;
  bool handing = visitor != nullptr;
  const Result result = WalkDatabase([&](uint32_t position, uint8_t* record) {
    // A file's id is the position of its record in the whole database.
    bytes::PutLe32(record + db::kFid, position);
    PropertyHolder file;
    if (rc::Failed(DecodeDatabaseRecord(file, record))) return false;
    if (handing) handing = visitor->Visit(file);
    return true;
  });
  // A new or just formatted player has no database yet: it holds no files, and must still be
  // listed so that files can be sent to it.
  return result == rc::kNoDatabase ? rc::kOk : result;
}

Result SardaneChannelA::WalkDatabase(
    const std::function<bool(uint32_t position, uint8_t* record)>& visit) {
  ProtocolSession session(transport(), clock());
  uint32_t size = 0;
  Result result = session.Lock();
  if (rc::Succeeded(result)) result = session.GetDatabaseSize(&size);
  if (rc::Failed(result)) return result;

  // The player announced the image's size; chunks beyond it would never end a broken listing.
  const uint32_t most_chunks = size / qel::kChunkSize + (size % qel::kChunkSize != 0);
  std::vector<uint8_t> chunk(qel::kChunkSize);
  for (uint32_t index = 0;; ++index) {
    uint32_t got = 0;
    result = session.ReceiveChunk(chunk.data(), &got);
    if (result != rc::kOk || got == 0) return result;
    if (index >= most_chunks) {
      TORVEX_TRACE("The player sends more of its database than the %u bytes announced.\n", size);
      return rc::kBadData;
    }
    for (uint32_t slot = 0; slot < kRecordsPerChunk; ++slot) {
      uint8_t* record = chunk.data() + slot * sardane::kDatabaseRecordSize;
      if (bytes::Le32(record + db::kFlags) == 0) continue;
      if (!visit(index * kRecordsPerChunk + slot, record)) break;
    }
  }
}

Result SardaneChannelA::FindFiledPosition(const uint8_t* record, uint32_t predicted,
                                          uint32_t* position) {
  constexpr uint32_t kComparedFrom = db::kFid + 4;
  bool found = false, predicted_found = false;
  const Result result = WalkDatabase([&](uint32_t at, uint8_t* filed) {
    if (memcmp(filed + kComparedFrom, record + kComparedFrom,
               sardane::kDatabaseRecordSize - kComparedFrom) == 0) {
      found = true;
      predicted_found = predicted_found || at == predicted;
      *position = at;
    }
    return true;
  });
  if (rc::Failed(result)) return result;
  if (predicted_found) *position = predicted;
  return found ? rc::kOk : rc::kNotFound;
}

Result SardaneChannelA::EnumContents(ContentsVisitor* visitor) {
  return WalkStoragesThenFiles(*this, visitor);
}

Result SardaneChannelA::DecodeDatabaseRecord(PropertyHolder& file, const uint8_t* record) {
  if (record == nullptr) return rc::kInvalidArg;
  const bool rid = HasRidMarker(record);
  const std::string name =
      FieldText(record + db::kName, rid ? db::kShortNameWidth : db::kLongNameWidth, false);
  uint32_t code = bytes::Le32(record + db::kTypeCode);
  if (code == 0) code = CodeOfExtension(name);
  std::string type, codec;
  DescribeTypeCode(code, &type, &codec);
  // Milliseconds in 31 bits; a longer duration is the player's nonsense, kept at the limit.
  const uint64_t duration = uint64_t{bytes::Le32(record + db::kDuration)} * 1000;

  Result result = SetNumber(file, "fid", bytes::Le32(record + db::kFid));
  if (rc::Succeeded(result)) result = SetNumber(file, "length", bytes::Le32(record + db::kLength));
  if (rc::Succeeded(result))
    result = file.SetString("flags", FlagText(bytes::Le32(record + db::kFlags) | 0x800));
  if (rc::Succeeded(result)) result = file.SetString("name", name);
  if (rc::Succeeded(result) && rid)
    result = file.SetString("rid", sardane::HexText(record + db::kRid, db::kRidSize));
  if (rc::Succeeded(result))
    result = SetTextProperty(file, "title", record + db::kTitle, db::kTextWidth, false);
  if (rc::Succeeded(result))
    result = SetTextProperty(file, "artist", record + db::kArtist, db::kTextWidth, false);
  if (rc::Succeeded(result))
    result = SetTextProperty(file, "album", record + db::kAlbum, db::kTextWidth, false);
  if (rc::Succeeded(result)) result = MirrorAlbumAsSource(file);
  if (rc::Succeeded(result))
    result = SetTextProperty(file, "genre", record + db::kGenre, db::kGenreWidth, false);
  if (rc::Succeeded(result)) result = file.SetInt("year", YearFromDigits(record + db::kYear));
  if (rc::Succeeded(result)) result = file.SetString("type", type);
  if (rc::Succeeded(result)) result = file.SetString("codec", codec);
  if (rc::Succeeded(result)) result = SetNumber(file, "ctime", bytes::Le32(record + db::kCtime));
  if (rc::Succeeded(result))
    result = file.SetInt("duration", static_cast<int32_t>(std::min<uint64_t>(duration, INT32_MAX)));
  if (rc::Succeeded(result)) result = file.SetInt("tracknr", record[db::kTrack]);
  return result;
}

// --- device and storage ----------------------------------------------------------------------

Result SardaneChannelA::GetDeviceInfo(PropertyHolder& info) {
  Result result = SardaneChannel::GetDeviceInfo(info);
  if (rc::Failed(result)) return result;
  RefPtr<PropertySet> set = info.GetSet();
  if (!set) return rc::kOutOfMemory;
  switch (set->GetInt("device_id")) {
    case 0x5202:
      return info.SetString("name", "Qel Pirn");
    case 0x5801:
      return info.SetString("name", "Qel Wirra");
    default:
      return result;
  }
}

Result SardaneChannelA::MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                                         uint32_t storage) {
  Result result = FillStorageProps(props, block, kUnitBytes, kUnitBytes);
  if (rc::Succeeded(result)) result = props.SetInt("storage_index", static_cast<int32_t>(storage));
  if (rc::Succeeded(result)) result = props.SetInt("storage_type", kStorageType);
  return result;
}

void SardaneChannelA::AddCapabilities(std::string* list) {
  SardaneChannel::AddCapabilities(list);
  RemoveWord(list, "format");
  RemoveWord(list, "read_content");
}

Result SardaneChannelA::UsesUtf8(bool* utf8) {
  if (utf8 == nullptr) return rc::kInvalidArg;
  *utf8 = false;
  return rc::kOk;
}

// --- uploads and accounting ------------------------------------------------------------------

Result SardaneChannelA::CreateNewFile(uint32_t storage, OutputStream** stream) {
  if (stream == nullptr || transport() == nullptr) return rc::kInvalidArg;
  if (storage > 0xFFFF) return rc::kBadIndex;
  return OpenUploadWriter(new (std::nothrow) FiledPositionWriter(static_cast<uint16_t>(storage),
                                                                 this, transport(), clock()),
                          stream);
}

Result SardaneChannelA::CreatePredictor(uint32_t, Predictor** predictor) {
  if (predictor == nullptr) return rc::kInvalidArg;
  return CreateFlashPredictor(false, predictor);
}

Result SardaneChannelA::EnumFids(RefPtr<FidList>* list) {
  if (list != nullptr) list->Reset();
  return rc::kNotImplemented;
}

Result SardaneChannelA::Request117(uint32_t, uint32_t, uint32_t) { return rc::kNotImplemented; }

// --- file records ----------------------------------------------------------------------------

Result SardaneChannelA::ReadRecordBlock(uint8_t* record, uint32_t, uint32_t fid) {
  if (record == nullptr) return rc::kInvalidArg;
  memset(record, 0, qel::kRecordSize);
  bytes::PutLe32(record + rec::kDatabase + db::kFid, fid);
  return rc::kOk;
}

Result SardaneChannelA::FindFileRecord(uint8_t* record, PropertyHolder& file) {
  RefPtr<PropertySet> set = file.GetSet();
  if (!set) return rc::kOutOfMemory;
  return ReadRecordBlock(record, 0, static_cast<uint32_t>(set->GetInt("fid")));
}

Result SardaneChannelA::EncodeFileRecord(uint8_t* record, PropertySet& file) {
  bool utf8 = false;
  Result result = UsesUtf8(&utf8);
  if (rc::Failed(result)) return result;
  sardane::EncodeCommonFields(record, file);

  const std::string name = file.GetString("name");
  const std::string title = TitleOrName(file);
  const std::string artist = file.GetString("artist");
  const std::string source = file.GetString("source");
  const std::string genre = file.GetString("genre");
  sardane::PutFileNameField(record + rec::kName, rec::kNameWidth, name, utf8);
  PutTextField(record + rec::kTitle, rec::kTitleWidth, title, utf8);
  PutTextField(record + rec::kArtist, rec::kPersonWidth, artist, utf8);
  PutTextField(record + rec::kSource, rec::kPersonWidth, source, utf8);
  PutTextField(record + rec::kGenre, rec::kGenreWidth, genre, utf8);

  // The database record the player files, in its own Latin-1.
  uint8_t* base = record + rec::kDatabase;
  memset(base, 0, sardane::kDatabaseRecordSize);
  memcpy(base + db::kFlags, record + sardane::kFlagsOffset, 4);
  bytes::PutLe32(base + db::kFid, static_cast<uint32_t>(file.GetInt("fid")));
  sardane::PutFileNameField(base + db::kName, db::kShortNameWidth, name, false);
  PutRidMarker(base);
  sardane::HexToBytes(file.GetString("rid"), base + db::kRid, db::kRidSize);
  PutTextField(base + db::kTitle, db::kTextWidth, title, false);
  PutTextField(base + db::kArtist, db::kTextWidth, artist, false);
  PutTextField(base + db::kAlbum, db::kTextWidth, source, false);
  PutTextField(base + db::kGenre, db::kGenreWidth, genre, false);
  PutYearDigits(base + db::kYear, file.GetInt("year"));
  bytes::PutLe32(base + db::kCtime, static_cast<uint32_t>(file.GetInt("ctime")));
  bytes::PutLe32(base + db::kDuration, static_cast<uint32_t>(file.GetInt("duration") / 1000));
  bytes::PutLe32(base + db::kZero, 0);
  bytes::PutLe32(base + db::kLength, static_cast<uint32_t>(file.GetInt("length")));
  const int32_t track = file.GetInt("tracknr");
  base[db::kTrack] = static_cast<uint8_t>(std::min<uint32_t>(track < 0 ? 0 : track, kLargestTrack));
  bytes::PutLe32(base + db::kTypeCode,
                   NamesToTypeCode(file.GetString("type"), file.GetString("codec")));
  return rc::kOk;
}

Result SardaneChannelA::DecodeFileRecord(PropertyHolder& file, const uint8_t* record,
                                         uint32_t length) {
  Result result = sardane::DecodeCommonFields(file, record, length);
  if (rc::Failed(result)) return result;
  const bool utf8 = (bytes::Le32(record + sardane::kFlagsOffset) & rec::kUtf8Flag) != 0;
  const uint8_t* base = record + rec::kDatabase;
  const auto text = [&](const char* key, uint32_t offset, uint32_t width) {
    return SetTextProperty(file, key, record + offset, width, utf8);
  };
  result = text("name", rec::kName, rec::kNameWidth);
  if (rc::Succeeded(result)) result = text("title", rec::kTitle, rec::kTitleWidth);
  if (rc::Succeeded(result)) result = text("artist", rec::kArtist, rec::kPersonWidth);
  if (rc::Succeeded(result)) result = text("album", rec::kSource, rec::kPersonWidth);
  if (rc::Succeeded(result)) result = MirrorAlbumAsSource(file);
  if (rc::Succeeded(result)) result = text("genre", rec::kGenre, rec::kGenreWidth);
  if (rc::Succeeded(result) && HasRidMarker(base))
    result = file.SetString("rid", sardane::HexText(base + db::kRid, db::kRidSize));
  if (rc::Succeeded(result)) result = file.SetInt("year", YearFromDigits(base + db::kYear));
  if (rc::Succeeded(result)) result = SetNumber(file, "ctime", bytes::Le32(base + db::kCtime));
  if (rc::Succeeded(result)) result = file.SetInt("tracknr", base[db::kTrack]);
  return result;
}
