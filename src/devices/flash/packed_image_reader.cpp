#include "devices/flash/packed_image_reader.h"

#include <cstring>

#include "support/byte_order.h"

namespace packed {

const char* const kIndexNames[kIndexCount] = {"title", "source", "artist",   "genre",
                                              "year",  "date",   "playlist", "vund"};

const FieldKind kTrackFieldKinds[kTrackFieldCount] = {
    kText,    kText,    kText,    kText,    kInteger, kInteger, kInteger, kText,
    kInteger, kInteger, kInteger, kInteger, kInteger, kInteger, kInteger, kBytes16};

const int kTrackFieldNext[kTrackFieldCount] = {2,  6,  1,  0,  0,  1,  17, 17,
                                               17, 17, 17, 17, 17, 17, 17, 17};

FieldKind IndexKind(int index) { return index == 4 || index == 5 ? kInteger : kText; }

namespace {

constexpr uint32_t kBytes16Words = 6;
constexpr uint32_t kTrackLinkWords = 12;  // node and slot of fields 0 to 5
constexpr uint32_t kPositionMask = kItemFlag - 1;
constexpr int kModeCount = 3;

}  // namespace

int ImageReader::Attach(const uint8_t* image, uint32_t byte_size) {
  image_ = image;
  words_ = byte_size / 3;
  uint32_t magic = 0, version = 0;
  bool valid = image && words_ >= kHeaderWords && WordAt(0, &magic) && WordAt(1, &version) &&
               magic == kMagic && version == kVersion;
  // The id table and the track section must be inside; chain heads inside or null.
  for (uint32_t w = 2; valid && w < kHeaderWords; ++w) {
    uint32_t position = 0;
    WordAt(w, &position);
    valid = position < words_ || (w >= 4 && position == kNull);
  }
  if (!valid) {
    image_ = nullptr;
    words_ = 0;
    return kNoImage;
  }
  return kOk;
}

int ImageReader::GetImage(const uint8_t** image) const {
  *image = image_;
  return image_ ? kOk : kNoImage;
}

int ImageReader::GetImageSize(uint32_t* byte_size) const {
  *byte_size = words_ * 3;
  return image_ ? kOk : kNoImage;
}

bool ImageReader::WordAt(uint32_t position, uint32_t* word) const {
  if (!image_ || position >= words_) return false;
  *word = bytes::Le24(image_ + size_t{position} * 3);
  return true;
}

bool ImageReader::TextAt(uint32_t position, const char** text, uint32_t* words) const {
  if (!image_ || position >= words_) return false;
  const size_t start = size_t{position} * 3;
  const void* nul = std::memchr(image_ + start, 0, size_t{words_} * 3 - start);
  if (!nul) return false;
  const size_t length = static_cast<const uint8_t*>(nul) - (image_ + start);
  *text = reinterpret_cast<const char*>(image_ + start);
  *words = static_cast<uint32_t>((length + 1 + 2) / 3);
  return true;
}

bool ImageReader::NodeValuePosition(uint32_t node, uint32_t* position) const {
  uint32_t count = 0;
  if (node >= words_ || !WordAt(node + 2, &count)) return false;
  // Both are below 2^24, so the sum cannot wrap.
  *position = node + 3 + count;
  return *position < words_;
}

int ImageReader::ValueAt(uint32_t position, FieldKind kind, FieldValue* out) const {
  *out = FieldValue();
  switch (kind) {
    case kInteger:
      return WordAt(position, &out->integer) ? kOk : kBadImage;
    case kText: {
      uint32_t words = 0;
      return TextAt(position, &out->text, &words) ? kOk : kBadImage;
    }
    case kBytes16:
      if (position >= words_ || words_ - position < kBytes16Words) return kBadImage;
      out->bytes = image_ + size_t{position} * 3;
      return kOk;
  }
  return kBadImage;
}

int ImageReader::InlineField(uint32_t record, int field, FieldValue* out) const {
  uint32_t position = record + kTrackLinkWords;
  for (int f = 6; f < field; ++f) {
    uint32_t words = 1;
    if (kTrackFieldKinds[f] == kText) {
      const char* text = nullptr;
      if (!TextAt(position, &text, &words)) return kBadImage;
    } else if (kTrackFieldKinds[f] == kBytes16) {
      words = kBytes16Words;
    }
    position += words;
  }
  return ValueAt(position, kTrackFieldKinds[field], out);
}

int ImageReader::IdCount(uint32_t* count) const {
  *count = 0;
  if (!image_) return kNoImage;
  uint32_t table = 0, words = 0;
  if (!WordAt(2, &table) || !WordAt(table, &words) || words >= words_ - table) return kBadImage;
  *count = words;
  return kOk;
}

uint32_t ImageReader::Lookup(uint32_t id) const {
  const uint32_t number = id >> 4;
  uint32_t count = 0, table = 0, entry = kNull;
  if (IdCount(&count) != kOk || number >= count) return kNull;
  WordAt(2, &table);
  WordAt(table + 1 + number, &entry);
  return entry;
}

bool ImageReader::OwnsRecord(uint32_t id) const {
  const uint32_t entry = Lookup(id);
  if (entry == kNull) return false;
  // Tracks and items alike begin with their first node and their slot in its id list.
  const uint32_t record = entry & kPositionMask;
  uint32_t node = 0, slot = 0, count = 0, listed = 0;
  return WordAt(record, &node) && WordAt(record + 1, &slot) && WordAt(node + 2, &count) &&
         slot < count && WordAt(node + 3 + slot, &listed) && listed == id;
}

int ImageReader::GetField(uint32_t id, int field, FieldValue* out) const {
  *out = FieldValue();
  if (!image_) return kNoImage;
  const uint32_t entry = Lookup(id);
  if (entry == kNull) return kNotFound;
  const uint32_t record = entry & kPositionMask;
  if (record >= words_) return kBadImage;
  if (entry & kItemFlag) {
    if (field < 0 || field >= kItemFieldCount) return kOutOfRange;
    if (field > 0) return ValueAt(record + 1 + field, kInteger, out);
    uint32_t node = 0, value = 0;
    if (!WordAt(record, &node) || !NodeValuePosition(node, &value)) return kBadImage;
    return ValueAt(value, kText, out);
  }
  if (field < 0 || field >= kTrackFieldCount) return kOutOfRange;
  if (field >= 6) return InlineField(record, field, out);
  uint32_t node = 0, value = 0;
  if (!WordAt(record + 2 * field, &node) || !NodeValuePosition(node, &value)) return kBadImage;
  return ValueAt(value, kTrackFieldKinds[field], out);
}

int ImageReader::Settle(Walk* walk) const {
  walk->slot = 0;
  while (walk->position != kNull) {
    if (walk->position >= words_ || ++walk->steps > words_) return kBadImage;
    if (walk->mode != 1) return kOk;
    uint32_t count = 0;
    if (!WordAt(walk->position + 2, &count)) return kBadImage;
    if (count > 0) return kOk;
    WordAt(walk->position, &walk->position);  // a node without ids has nothing to hand out
  }
  return kNotFound;
}

int ImageReader::First(Walk* walk, int mode, int index) const {
  if (mode < 0 || mode >= kModeCount || index < 0 || index >= kIndexCount) return kOutOfRange;
  if (!image_) return kNoImage;
  *walk = Walk();
  walk->mode = mode;
  walk->index = index;
  WordAt(4 + 2 * index + (mode == 2 ? 1 : 0), &walk->position);
  return Settle(walk);
}

int ImageReader::Next(Walk* walk) const {
  if (!image_) return kNoImage;
  if (walk->position == kNull) return kNotFound;
  if (walk->mode == 1) {
    uint32_t count = 0;
    if (!WordAt(walk->position + 2, &count)) return kBadImage;
    if (walk->slot + 1 < count) {
      // Ids count as steps too: a node on a cycle may claim any number of them.
      if (++walk->steps > words_) return kBadImage;
      ++walk->slot;
      return kOk;
    }
  }
  if (!WordAt(walk->position, &walk->position)) return kBadImage;
  return Settle(walk);
}

int ImageReader::Current(const Walk& walk, FieldValue* out) const {
  *out = FieldValue();
  if (!image_) return kNoImage;
  if (walk.position == kNull) return kNotFound;
  if (walk.mode == 2) return ValueAt(walk.position + 2, kText, out);
  uint32_t value = 0;
  if (!NodeValuePosition(walk.position, &value)) return kBadImage;
  return ValueAt(value, IndexKind(walk.index), out);
}

int ImageReader::CurrentId(const Walk& walk, uint32_t* id) const {
  if (!image_) return kNoImage;
  if (walk.mode != 1) return kNotMulti;
  if (walk.position == kNull) return kNotFound;
  uint32_t count = 0;
  if (!WordAt(walk.position + 2, &count) || walk.slot >= count) return kBadImage;
  return WordAt(walk.position + 3 + walk.slot, id) ? kOk : kBadImage;
}

}  // namespace packed
