#include "devices/flash/packed_track_database.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "support/byte_order.h"
#include "support/collation.h"

using namespace packed;

namespace {

constexpr int kTrackIndexCount = 6;
constexpr uint32_t kWordMask = 0xFFFFFF;
constexpr uint32_t kYearLabelLimit = 9999;
// Parsing copies each shared value into every record that uses it; a damaged image must not
// turn that into unbounded memory.
constexpr size_t kMaxParsedTextBytes = 64u << 20;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The growable word buffer of a new image; words never written read as null.
class ImageWriter {
 public:
  explicit ImageWriter(std::vector<uint8_t>* out) : out_(*out) { out_.clear(); }

  uint32_t Words() const { return static_cast<uint32_t>(out_.size() / 3); }
  // Positions must fit below the item flag of the id table.
  bool Fits() const { return out_.size() / 3 <= kItemFlag; }

  void Grow(uint32_t words) { out_.resize(out_.size() + size_t{words} * 3, 0xFF); }
  void Put(uint32_t position, uint32_t word) {
    bytes::PutLe24(&out_[size_t{position} * 3], word & kWordMask);
  }
  uint32_t Append(uint32_t word) {
    const uint32_t position = Words();
    Grow(1);
    Put(position, word);
    return position;
  }
  void AppendText(const std::string& text) {
    const size_t length = std::strlen(text.c_str());
    const size_t start = out_.size();
    Grow(static_cast<uint32_t>((length + 1 + 2) / 3));
    std::memcpy(&out_[start], text.c_str(), length);
    std::fill(out_.begin() + start + length, out_.end(), 0);
  }
  void AppendBytes16(const uint8_t* data) {
    const size_t start = out_.size();
    Grow(6);  // the two bytes after the value stay 0xFF
    std::memcpy(&out_[start], data, kRidSize);
  }

 private:
  std::vector<uint8_t>& out_;
};

// The sorted text fields (title, source, artist, genre; an item's name in the first) folded
// once per image: folding at every comparison would cost most of the sort.
constexpr int kSortedTextFields = 4;
struct SortKeys {
  std::u16string text[kSortedTextFields];
};

SortKeys KeysOf(const PackedTrack& track) {
  SortKeys keys;
  for (int field = 0; field < kSortedTextFields; ++field) {
    keys.text[field] = CollationKey(track.text[field].c_str());
  }
  return keys;
}

SortKeys KeysOf(const PackedItem& item) {
  SortKeys keys;
  keys.text[0] = CollationKey(item.name.c_str());
  return keys;
}

// What one sorted list entry (a track or an item) offers to the index writer.
struct Entry {
  uint32_t id;
  const PackedTrack* track;  // null for an item
  const PackedItem* item;
  const SortKeys* keys;
  uint32_t node = kNull;  // where the entry ended up in the index being written
  uint32_t slot = 0;
};

const char* TextOf(const Entry& e, int field) {
  return e.track ? e.track->text[field].c_str() : e.item->name.c_str();
}

// Texts compare as CompareFolded does, so texts equal by folding share a value node.
int CompareField(const Entry& a, const Entry& b, int field) {
  if (kTrackFieldKinds[field] == kText) return a.keys->text[field].compare(b.keys->text[field]);
  const int32_t x = static_cast<int32_t>(a.track->number[field] & kWordMask);
  const int32_t y = static_cast<int32_t>(b.track->number[field] & kWordMask);
  return x < y ? -1 : x > y ? 1 : 0;
}

// The record order of an index: its field, then the chain of tie-break fields; equal keys by id
// so that an image is the same each time it is written.
bool Before(const Entry& a, const Entry& b, int index) {
  if (a.item) {
    const int c = CompareField(a, b, 0);
    return c != 0 ? c < 0 : a.id < b.id;
  }
  for (int field = index; field != kNoNextField; field = kTrackFieldNext[field]) {
    const int c = CompareField(a, b, field);
    if (c != 0) return c < 0;
  }
  return a.id < b.id;
}

void WriteNodeValue(ImageWriter* w, const Entry& e, int index) {
  if (IndexKind(index) == kInteger) {
    w->Append(e.track->number[index]);
  } else {
    w->AppendText(e.track ? e.track->text[index] : e.item->name);
  }
}

// Step 1 of an image for one index: the group chain head, then the value nodes in record order
// with a group node before each node whose label starts a new group.
void WriteIndex(ImageWriter* w, int index, std::vector<Entry>* entries) {
  std::vector<Entry*> sorted;
  sorted.reserve(entries->size());
  for (Entry& e : *entries) sorted.push_back(&e);
  std::sort(sorted.begin(), sorted.end(),
            [index](const Entry* a, const Entry* b) { return Before(*a, *b, index); });
  const int field = index < 6 ? index : 0;
  const uint32_t head = w->Append(kNull);
  w->Append(kNull);
  w->AppendText(kIndexNames[index]);
  w->Put(5 + 2 * index, head);

  std::string group_label;
  uint32_t group = head;
  uint32_t previous = kNull;
  for (size_t start = 0; start < sorted.size();) {
    size_t end = start + 1;
    while (end < sorted.size() && CompareField(*sorted[start], *sorted[end], field) == 0) ++end;
    const Entry& first = *sorted[start];
    const std::string label =
        PackedGroupLabel(index, index == 4 || index == 5 ? "" : TextOf(first, field),
                         first.track ? first.track->number[field] : 0);
    if (!label.empty() && label != group_label) {
      const uint32_t node = w->Append(kNull);
      w->Append(group);
      w->AppendText(label);
      w->Put(group, node);
      group = node;
      group_label = label;
    }
    const uint32_t node = w->Append(kNull);
    w->Append(previous);
    w->Append(static_cast<uint32_t>(end - start));
    w->Put(previous == kNull ? 4 + 2 * index : previous, node);
    for (size_t i = start; i < end; ++i) {
      w->Append(sorted[i]->id);
      sorted[i]->node = node;
      sorted[i]->slot = static_cast<uint32_t>(i - start);
    }
    WriteNodeValue(w, first, index);
    previous = node;
    start = end;
  }
}

void WriteTrack(ImageWriter* w, const std::vector<Entry> (&indexes)[kTrackIndexCount], size_t n) {
  for (const auto& index : indexes) {
    w->Append(index[n].node);
    w->Append(index[n].slot);
  }
  const PackedTrack& track = *indexes[0][n].track;
  for (int field = 6; field < kTrackFieldCount; ++field) {
    switch (kTrackFieldKinds[field]) {
      case kInteger: w->Append(track.number[field]); break;
      case kText: w->AppendText(track.text[field]); break;
      case kBytes16: w->AppendBytes16(track.rid.data()); break;
    }
  }
}

// The whole image; false when it would outgrow its positions. Throws std::bad_alloc.
bool WriteImage(const PackedRecords& records, std::vector<uint8_t>* out) {
  ImageWriter w(out);
  w.Grow(kHeaderWords);

  std::vector<SortKeys> track_keys;
  track_keys.reserve(records.tracks.size());
  for (const auto& t : records.tracks) track_keys.push_back(KeysOf(t.second));
  // One copy of the entries per index, each remembering its node and slot there.
  std::vector<Entry> tracks[kTrackIndexCount];
  for (int index = 0; index < kTrackIndexCount; ++index) {
    tracks[index].reserve(records.tracks.size());
    for (const auto& t : records.tracks) {
      tracks[index].push_back({t.first, &t.second, nullptr, &track_keys[tracks[index].size()]});
    }
    WriteIndex(&w, index, &tracks[index]);
  }
  std::vector<SortKeys> item_keys[2];
  std::vector<Entry> items[2];
  for (int list = 0; list < 2; ++list) {
    item_keys[list].reserve(records.items[list].size());
    for (const auto& i : records.items[list]) {
      item_keys[list].push_back(KeysOf(i.second));
      items[list].push_back({i.first, nullptr, &i.second, &item_keys[list].back()});
    }
    WriteIndex(&w, kPlaylistIndex + list, &items[list]);
  }

  std::vector<std::pair<uint32_t, uint32_t>> table;  // id number, entry
  w.Put(3, w.Words());
  w.Append(static_cast<uint32_t>(tracks[0].size()));
  for (size_t n = 0; n < tracks[0].size(); ++n) {
    table.emplace_back(tracks[0][n].id >> 4, w.Words());
    WriteTrack(&w, tracks, n);
  }
  for (int list = 0; list < 2; ++list) {
    w.Append(static_cast<uint32_t>(items[list].size()));
    for (const Entry& e : items[list]) {
      table.emplace_back(e.id >> 4, w.Words() | kItemFlag);
      w.Append(e.node);
      w.Append(e.slot);
      w.Append(static_cast<uint32_t>(kPlaylistIndex + list));
      w.Append(e.item->length_high);
      w.Append(e.item->length_low);
    }
  }

  const uint32_t table_position = w.Words();
  w.Put(2, table_position);
  uint32_t count = 0;
  for (const auto& t : table) count = std::max(count, t.first + 1);
  w.Append(count);
  w.Grow(count);
  if (!w.Fits()) return false;
  for (const auto& t : table) w.Put(table_position + 1 + t.first, t.second);
  w.Put(1, kVersion);
  w.Put(0, kMagic);
  return true;
}

bool ValidId(uint32_t id) { return id < PackedTrackDatabase::kIdLimit && (id & 0xF) == 0; }

bool RemoveFrom(PackedRecords* records, uint32_t id) {
  return records->tracks.erase(id) || records->items[0].erase(id) || records->items[1].erase(id);
}

// A record as the image will read it back.
PackedTrack Stored(PackedTrack track) {
  for (std::string& text : track.text) text.resize(std::strlen(text.c_str()));
  for (uint32_t& number : track.number) number &= kWordMask;
  return track;
}

PackedItem Stored(PackedItem item) {
  item.name.resize(std::strlen(item.name.c_str()));
  item.length_high &= kWordMask;
  item.length_low &= kWordMask;
  return item;
}

// The records of an image from the player, every id table entry that is not null: false when
// the image is not valid or any of its positions, counts or texts leads outside it.
bool ParseImage(const uint8_t* image, uint32_t byte_size, PackedRecords* out) {
  ImageReader reader;
  uint32_t count = 0;
  if (reader.Attach(image, byte_size) != kOk || reader.IdCount(&count) != kOk) return false;
  // Ids are 24-bit: a larger one would be cut when the image is written again, and one track
  // would replace another.
  if (count > PackedTrackDatabase::kIdLimit >> 4) return false;
  FieldValue value;
  size_t text_bytes = 0;
  auto take_text = [&](std::string* to) {
    *to = value.text;
    text_bytes += to->size();
    return text_bytes <= kMaxParsedTextBytes;
  };
  for (uint32_t n = 0; n < count; ++n) {
    const uint32_t id = n << 4;
    const uint32_t entry = reader.Lookup(id);
    if (entry == kNull) continue;
    if (!reader.OwnsRecord(id)) return false;
    if (entry & kItemFlag) {
      PackedItem item;
      uint32_t fields[kItemFieldCount] = {};
      for (int f = 0; f < kItemFieldCount; ++f) {
        if (reader.GetField(id, f, &value) != kOk) return false;
        if (f == 0 && !take_text(&item.name)) return false;
        fields[f] = value.integer;
      }
      if (fields[1] != kPlaylistIndex && fields[1] != kVundIndex) return false;
      item.length_high = fields[2];
      item.length_low = fields[3];
      out->items[fields[1] - kPlaylistIndex][id] = std::move(item);
      continue;
    }
    PackedTrack& track = out->tracks[id];
    for (int f = 0; f < kTrackFieldCount; ++f) {
      if (reader.GetField(id, f, &value) != kOk) return false;
      switch (kTrackFieldKinds[f]) {
        case kInteger: track.number[f] = value.integer; break;
        case kText:
          if (!take_text(&track.text[f])) return false;
          break;
        case kBytes16: std::memcpy(track.rid.data(), value.bytes, kRidSize); break;
      }
    }
  }
  return true;
}

}  // namespace

std::string PackedGroupLabel(int index, const char* text, uint32_t number) {
  if (index == 4) {
    if (number >= kYearLabelLimit) return std::string();
    char digits[8];
    digits[0] = static_cast<char>('0' + number / 1000);
    digits[1] = static_cast<char>('0' + number / 100 % 10);
    digits[2] = static_cast<char>('0' + number / 10 % 10);
    return std::string(digits, 3) + "0s";
  }
  if (index == 3 || index == 5) return std::string();
  for (const char* p = text; *p; ++p) {
    if (IsAsciiAlnum(*p)) {
      return std::string(1, *p >= 'a' && *p <= 'z' ? static_cast<char>(*p - 'a' + 'A') : *p);
    }
  }
  return "?";
}

std::unique_ptr<PackedTrackDatabase> PackedTrackDatabase::Create() {
  std::unique_ptr<PackedTrackDatabase> database(new (std::nothrow) PackedTrackDatabase());
  if (database && database->Serialize() != rc::kOk) database.reset();
  return database;
}

const std::map<uint32_t, PackedItem>& PackedTrackDatabase::Items(int list) const {
  return records_.items[list == kVundIndex ? 1 : 0];
}

bool PackedTrackDatabase::Contains(uint32_t id) const {
  return records_.tracks.count(id) || records_.items[0].count(id) || records_.items[1].count(id);
}

int PackedTrackDatabase::AddTrack(uint32_t id, const PackedTrack& track) {
  if (!ValidId(id)) return kOutOfRange;
  if (Contains(id)) return kPresent;
  records_.tracks[id] = Stored(track);
  return kOk;
}

int PackedTrackDatabase::ReplaceTrack(uint32_t id, const PackedTrack& track) {
  const auto found = records_.tracks.find(id);
  if (found == records_.tracks.end()) return kNotFound;
  found->second = Stored(track);
  return kOk;
}

int PackedTrackDatabase::AddItem(int list, uint32_t id, const PackedItem& item) {
  if ((list != kPlaylistIndex && list != kVundIndex) || !ValidId(id)) return kOutOfRange;
  if (Contains(id)) return kPresent;
  records_.items[list - kPlaylistIndex][id] = Stored(item);
  return kOk;
}

int PackedTrackDatabase::ReplaceItem(uint32_t id, const PackedItem& item) {
  for (auto& list : records_.items) {
    const auto found = list.find(id);
    if (found == list.end()) continue;
    found->second = Stored(item);
    return kOk;
  }
  return kNotFound;
}

int PackedTrackDatabase::RemoveId(uint32_t id) {
  return RemoveFrom(&records_, id) ? kOk : kNotFound;
}

Result PackedTrackDatabase::Install(PackedRecords* records) {
  std::vector<uint8_t> image;
  try {
    if (!WriteImage(*records, &image)) return rc::kFail;
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  if (records != &records_) std::swap(records_, *records);
  image_.swap(image);
  reader_.Attach(image_.data(), static_cast<uint32_t>(image_.size()));
  return rc::kOk;
}

Result PackedTrackDatabase::Serialize() { return Install(&records_); }

Result PackedTrackDatabase::GetImage(const uint8_t** bytes, uint32_t* byte_size) const {
  *byte_size = 0;
  if (reader_.GetImage(bytes) != kOk) return rc::kFail;
  reader_.GetImageSize(byte_size);
  return rc::kOk;
}

Result PackedTrackDatabase::Rebuild(const uint8_t* image, uint32_t byte_size) {
  try {
    PackedRecords records;
    if (image && !ParseImage(image, byte_size, &records)) return rc::kFail;
    return Install(&records) == rc::kOk ? rc::kOk : rc::kFail;
  } catch (const std::bad_alloc&) {
    return rc::kFail;
  }
}

Result PackedTrackDatabase::BuildFromIds(const uint32_t* ids, uint32_t count) {
  if (count > 0 && !ids) return rc::kFail;
  try {
    PackedRecords records = records_;
    for (uint32_t n = 0; n < count; ++n) {
      if (!RemoveFrom(&records, ids[n])) return rc::kFail;
    }
    return Install(&records) == rc::kOk ? rc::kOk : rc::kFail;
  } catch (const std::bad_alloc&) {
    return rc::kFail;
  }
}
