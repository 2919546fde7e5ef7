// The in-memory track database of the players that keep a packed image (see
// packed_image_reader.h): tracks and the items of the "playlist" and "vund" lists by id, and the
// image last written from them. Every change is followed by Serialize, which writes a new image
// and attaches it to this database's own reader.
//
// Ids are file ids: bits 0 to 3 are 0, and id / 16 is the entry in the image's id table.
// Texts equal by collation (case, accents, punctuation) are one value of an index, as the player
// lists them: every record of that value node reads back the text of its first record.
// No lock: the owner serialises its calls.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/flash/packed_image_reader.h"
#include "support/result_codes.h"

struct PackedTrack {
  std::array<std::string, packed::kTrackFieldCount> text;  // text fields (0 to 3, 7)
  std::array<uint32_t, packed::kTrackFieldCount> number{};  // integer fields (24 bits kept)
  std::array<uint8_t, packed::kRidSize> rid{};              // field 15
};

struct PackedItem {
  std::string name;
  uint32_t length_high = 0;  // item field 2: length / 1048576
  uint32_t length_low = 0;   // item field 3: length % 1048576
};

struct PackedRecords {
  std::map<uint32_t, PackedTrack> tracks;
  std::map<uint32_t, PackedItem> items[2];  // lists 6 ("playlist") and 7 ("vund")
};

class PackedTrackDatabase {
 public:
  // Ids are below 2^24 (they are stored in words) and have bits 0 to 3 clear.
  static constexpr uint32_t kIdLimit = 0x1000000;

  // An empty database with its image written and attached; null when memory ran out.
  static std::unique_ptr<PackedTrackDatabase> Create();

  PackedTrackDatabase() = default;
  PackedTrackDatabase(const PackedTrackDatabase&) = delete;
  PackedTrackDatabase& operator=(const PackedTrackDatabase&) = delete;

  // Replaces the records by those of `image` (null: no records), then serialises and attaches.
  // rc::kFail when the image is damaged or anything fails; the database is then unchanged.
  Result Rebuild(const uint8_t* image, uint32_t byte_size);
  // Removes every listed id (track or item), then serialises and attaches. rc::kFail when an
  // id is found nowhere or anything fails; the database is then unchanged.
  Result BuildFromIds(const uint32_t* ids, uint32_t count);
  // Writes the image of the records and attaches it. rc::kOutOfMemory, or rc::kFail when the
  // image would outgrow its 23-bit positions; the previous image then stays attached.
  Result Serialize();
  // The attached image; valid until the next change is serialised.
  Result GetImage(const uint8_t** bytes, uint32_t* byte_size) const;

  // Record updates; packed::Status answers (kOutOfRange for a bad id or list number). Integers
  // keep their low 24 bits and texts end at their first NUL, as the image will hold them. The
  // caller serialises afterwards.
  int AddTrack(uint32_t id, const PackedTrack& track);      // 3 when the id is present
  int ReplaceTrack(uint32_t id, const PackedTrack& track);  // 4 when no track has the id
  int AddItem(int list, uint32_t id, const PackedItem& item);  // list 6 or 7; 3 when present
  // Name and length; the item stays in its list. 4 when no item has the id.
  int ReplaceItem(uint32_t id, const PackedItem& item);
  int RemoveId(uint32_t id);  // a track or an item; 4 when absent

  const std::map<uint32_t, PackedTrack>& Tracks() const { return records_.tracks; }
  // Items of list 6 or 7.
  const std::map<uint32_t, PackedItem>& Items(int list) const;
  // The reader over the attached image.
  const packed::ImageReader& Reader() const { return reader_; }

 private:
  bool Contains(uint32_t id) const;
  // Writes the image of `records` and, on success, makes both current (records_ may be passed).
  Result Install(PackedRecords* records);

  PackedRecords records_;
  std::vector<uint8_t> image_;
  packed::ImageReader reader_;
};

// Group label of a value of index `index` (text for text indexes, number for integer ones):
// the first ASCII letter or digit upper-cased ("?" when none); for "year" below 9999 its first
// three digits and "0s"; otherwise empty.
std::string PackedGroupLabel(int index, const char* text, uint32_t number);
