#include "devices/flash/fid_tag_mapper.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "devices/flash/packed_track_database.h"
#include "devices/flash/sardane_records.h"
#include "devices/visitors.h"
#include "media/bitrate_text.h"
#include "media/property_holder.h"
#include "support/debug_trace.h"

using namespace packed;

namespace {

constexpr int64_t kLengthUnit = 1048576;
constexpr uint32_t kVariableRate = 0x800000;
constexpr uint32_t kRateMask = kVariableRate - 1;
constexpr int kUnknownTypeCode = 10;
// The tune codecs have codes 0 to 4 (2 is "wma" with "drm"); the other types follow from 5.
const char* const kTypeNames[] = {"tune", "tune", "tune", "tune", "tune",
                                  "i2c",  "binary", "playlist", "vund", "preferences"};
const char* const kTuneCodecs[] = {"mp3", "wma", "wma", "aac", "aclp"};
constexpr int kFirstOtherType = 5;
constexpr int kTypeCodeCount = 10;
constexpr int kDrmWmaCode = 2;

enum Field {
  kTitle = 0, kSource, kArtist, kGenre, kYear, kDate, kTrackNumber, kComment, kLengthHigh,
  kLengthLow, kDuration, kBitrate, kChannels, kTypeCode, kGeneration, kRid
};

Result FromStatus(int status) {
  switch (status) {
    case kOk: return rc::kOk;
    case kOutOfRange: return rc::kInvalidArg;
    case kPresent: return rc::FromWin32(ERROR_ALREADY_EXISTS);
    case kNotFound: return rc::kNotFound;
    default: return rc::kFail;
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Pairs of hex digits as far as they go; the rest of the 16 bytes stays 0.
void ParseRid(const std::string& text, uint8_t* rid) {
  for (size_t n = 0; n < kRidSize && 2 * n + 1 < text.size(); ++n) {
    const int high = HexDigit(text[2 * n]), low = HexDigit(text[2 * n + 1]);
    if (high < 0 || low < 0) break;
    rid[n] = static_cast<uint8_t>(high << 4 | low);
  }
}

void SplitLength(int64_t length, uint32_t* high, uint32_t* low) {
  *high = static_cast<uint32_t>(length / kLengthUnit);
  *low = static_cast<uint32_t>(length % kLengthUnit);
}

PackedTrack TrackFrom(PropertySet* set) {
  PackedTrack track;
  track.text[kTitle] = set->GetString("title");
  track.text[kSource] = set->GetString("source");
  track.text[kArtist] = set->GetString("artist");
  track.text[kGenre] = set->GetString("genre");
  track.text[kComment] = set->GetString("comment");
  track.number[kYear] = static_cast<uint32_t>(set->GetInt("year"));
  track.number[kDate] = static_cast<uint32_t>(set->GetInt64("ctime") / 3600);
  track.number[kTrackNumber] = static_cast<uint32_t>(set->GetInt("tracknr"));
  SplitLength(set->GetInt64("length"), &track.number[kLengthHigh], &track.number[kLengthLow]);
  const int32_t milliseconds = set->GetInt("duration");
  const uint32_t seconds = milliseconds > 0 ? static_cast<uint32_t>(milliseconds) / 1000 : 0;
  TORVEX_TRACE("FID duration is %u\n", seconds);
  track.number[kDuration] = seconds;

  const std::string bitrate = set->GetString("bitrate");
  uint32_t bits_per_second = 0, channels = 0;
  bool variable = false;
  if (rc::Failed(BitrateText::GetBitsPerSecond(bitrate, &bits_per_second))) bits_per_second = 0;
  if (rc::Failed(BitrateText::GetChannels(bitrate, &channels))) channels = 0;
  if (rc::Failed(BitrateText::IsVariable(bitrate, &variable))) variable = false;
  // Rates beyond the field's 23 bits are capped rather than wrapped to a small rate.
  track.number[kBitrate] = std::min(bits_per_second, kRateMask) | (variable ? kVariableRate : 0);
  track.number[kChannels] = channels;

  track.number[kTypeCode] = FidTagMapper::TypeCodeOf(
      set->GetString("type"), set->GetString("codec"), set->GetString("drm"));
  track.number[kGeneration] = static_cast<uint32_t>(set->GetInt("fid_generation"));
  ParseRid(set->GetString("rid"), track.rid.data());
  return track;
}

PackedItem ItemFrom(PropertySet* set) {
  PackedItem item;
  item.name = set->GetString("title");
  SplitLength(set->GetInt64("length"), &item.length_high, &item.length_low);
  return item;
}

// Applies one change to the records and writes the image; on any failure the records are put
// back as they were, so they never differ from the attached image.
template <typename Change>
Result Apply(PackedTrackDatabase* database, uint32_t id, Change change) {
  PackedRecords before;
  try {
    if (database->Tracks().count(id)) before.tracks[id] = database->Tracks().at(id);
    for (int list = 0; list < 2; ++list) {
      const auto& items = database->Items(kPlaylistIndex + list);
      if (items.count(id)) before.items[list][id] = items.at(id);
    }
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  Result result = FromStatus(change());
  if (result != rc::kOk) return result;
  result = database->Serialize();
  if (result == rc::kOk) return result;
  database->RemoveId(id);
  for (const auto& t : before.tracks) database->AddTrack(t.first, t.second);
  for (int list = 0; list < 2; ++list) {
    for (const auto& i : before.items[list]) {
      database->AddItem(kPlaylistIndex + list, i.first, i.second);
    }
  }
  return result;
}

Result Store(PackedTrackDatabase* database, PropertyHolder& file, bool replace) {
  const RefPtr<PropertySet> set = file.GetSet();
  if (!set) return rc::kOutOfMemory;
  const uint32_t id = static_cast<uint32_t>(set->GetInt("fid"));
  if (id >= PackedTrackDatabase::kIdLimit || (id & 0xF) != 0) return rc::kInvalidArg;
  try {
    const std::string type = set->GetString("type");
    if (type == "tune") {
      const PackedTrack track = TrackFrom(set.Get());
      return Apply(database, id, [&] {
        return replace ? database->ReplaceTrack(id, track) : database->AddTrack(id, track);
      });
    }
    const PackedItem item = ItemFrom(set.Get());
    const int list = type == "playlist" ? kPlaylistIndex : kVundIndex;
    return Apply(database, id, [&] {
      return replace ? database->ReplaceItem(id, item) : database->AddItem(list, id, item);
    });
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
}

// Every field of one track record read back into a property set, in the order of the set.
Result ReadTrack(const ImageReader& reader, uint32_t id, PropertyHolder* file) {
  FieldValue v[kTrackFieldCount];
  for (int f = 0; f < kTrackFieldCount; ++f) {
    if (reader.GetField(id, f, &v[f]) != kOk) return rc::kFail;
  }
  file->SetInt("fid", static_cast<int32_t>(id));
  file->SetInt("year", static_cast<int32_t>(v[kYear].integer));
  file->SetInt("tracknr", static_cast<int32_t>(v[kTrackNumber].integer));
  file->SetInt64("ctime", int64_t{v[kDate].integer} * 3600);
  file->SetInt64("duration", int64_t{v[kDuration].integer} * 1000);
  file->SetInt64("length", v[kLengthHigh].integer * kLengthUnit + v[kLengthLow].integer);
  file->SetString("title", v[kTitle].text);
  file->SetString("artist", v[kArtist].text);
  file->SetString("genre", v[kGenre].text);
  file->SetString("source", v[kSource].text);
  file->SetString("comment", v[kComment].text);
  std::string bitrate;
  BitrateText::SetVariable(&bitrate, (v[kBitrate].integer & kVariableRate) != 0);
  BitrateText::SetChannels(&bitrate, v[kChannels].integer);
  BitrateText::SetBitsPerSecond(&bitrate, v[kBitrate].integer & kRateMask);
  file->SetString("bitrate", bitrate);
  std::string type, codec, drm;
  // A code without names leaves the three absent rather than hiding the file.
  if (FidTagMapper::TypeNamesOf(v[kTypeCode].integer, &type, &codec, &drm) == rc::kOk) {
    file->SetString("type", type);
    file->SetString("codec", codec);
    file->SetString("drm", drm);
  }
  file->SetInt("fid_generation", static_cast<int32_t>(v[kGeneration].integer));
  file->SetString("rid", sardane::HexText(v[kRid].bytes, kRidSize));
  return rc::kOk;
}

Result ReadItem(const ImageReader& reader, uint32_t id, const std::string& type,
                PropertyHolder* file) {
  FieldValue name, high, low;
  if (reader.GetField(id, 0, &name) != kOk || reader.GetField(id, 2, &high) != kOk ||
      reader.GetField(id, 3, &low) != kOk) {
    return rc::kFail;
  }
  file->SetInt("fid", static_cast<int32_t>(id));
  file->SetString("title", name.text);
  file->SetString("name", name.text);
  file->SetString("type", type);
  file->SetInt64("length", high.integer * kLengthUnit + low.integer);
  return rc::kOk;
}

// Walks the ids of one index in order; `read` fills a holder per id. 1 when the visitor
// stopped the walk.
template <typename Read>
Result WalkIndex(const ImageReader& reader, int index, HolderVisitor* visitor, Read read) {
  Walk walk;
  int status = reader.First(&walk, 1, index);
  for (; status == kOk; status = reader.Next(&walk)) {
    uint32_t id = 0;
    if (reader.CurrentId(walk, &id) != kOk) return rc::kFail;
    PropertyHolder file;
    if (!file.GetSet()) return rc::kOutOfMemory;
    const Result result = read(id, &file);
    if (result != rc::kOk) return result;
    if (!visitor->Visit(file)) return 1;
  }
  return status == kNotFound ? rc::kOk : rc::kFail;
}

}  // namespace

uint32_t FidTagMapper::TypeCodeOf(const std::string& type, const std::string& codec,
                                  const std::string& drm) {
  if (type == "tune") {
    if (codec == "wma") return drm.empty() ? 1 : kDrmWmaCode;
    for (int code = 0; code < kFirstOtherType; ++code) {
      if (code != kDrmWmaCode && codec == kTuneCodecs[code]) return code;
    }
    return kUnknownTypeCode;
  }
  for (int code = kFirstOtherType; code < kTypeCodeCount; ++code) {
    if (type == kTypeNames[code]) return code;
  }
  return kUnknownTypeCode;
}

Result FidTagMapper::TypeNamesOf(uint32_t code, std::string* type, std::string* codec,
                                 std::string* drm) {
  if (code == kFirstOtherType || code >= kTypeCodeCount) return rc::kFail;
  *type = kTypeNames[code];
  *codec = code < kFirstOtherType ? kTuneCodecs[code] : "";
  *drm = code == kDrmWmaCode ? "msasf" : "";
  return rc::kOk;
}

Result FidTagMapper::StoreNewTrack(PackedTrackDatabase* database, PropertyHolder& file) {
  return Store(database, file, false);
}

Result FidTagMapper::StoreTrack(PackedTrackDatabase* database, PropertyHolder& file) {
  return Store(database, file, true);
}

Result FidTagMapper::RemoveRecord(PackedTrackDatabase* database, uint32_t fid) {
  try {
    return Apply(database, fid, [&] { return database->RemoveId(fid); });
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
}

Result FidTagMapper::WalkRecords(const PackedTrackDatabase& database, HolderVisitor* visitor) {
  const ImageReader& reader = database.Reader();
  try {
    Result result = WalkIndex(reader, 0, visitor, [&](uint32_t id, PropertyHolder* file) {
      return ReadTrack(reader, id, file);
    });
    for (int index = kPlaylistIndex; result == rc::kOk && index <= kVundIndex; ++index) {
      Walk head;
      FieldValue name;
      const bool named = reader.First(&head, 2, index) == kOk &&
                         reader.Current(head, &name) == kOk;
      const std::string type = named ? name.text : "unknown";
      result = WalkIndex(reader, index, visitor, [&](uint32_t id, PropertyHolder* file) {
        return ReadItem(reader, id, type, file);
      });
    }
    return result == 1 ? rc::kOk : result;
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
}
