#include "devices/flash/family_b_end_to_end/track_image_decoder.h"

#include <cstring>
#include <stdexcept>

namespace {

constexpr uint32_t kNullWord = 0xFFFFFF;
constexpr uint32_t kItemBit = 0x800000;
enum Kind { kWord, kText, kSixteen };
const Kind kKinds[16] = {kText, kText, kText, kText, kWord, kWord, kWord, kText,
                         kWord, kWord, kWord, kWord, kWord, kWord, kWord, kSixteen};

class Words {
 public:
  explicit Words(const std::string& bytes) : bytes_(bytes) {
    if (bytes.size() % 3 != 0) throw std::runtime_error("size is not whole words");
  }
  uint32_t count() const { return static_cast<uint32_t>(bytes_.size() / 3); }
  uint32_t At(uint32_t position) const {
    if (position >= count()) throw std::runtime_error("word " + std::to_string(position) +
                                                      " beyond the image");
    const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data()) + size_t{position} * 3;
    return p[0] | p[1] << 8 | p[2] << 16;
  }
  // The text at `position` and the words it takes.
  std::string Text(uint32_t position, uint32_t* words) const {
    At(position);
    const size_t start = size_t{position} * 3;
    const size_t nul = bytes_.find('\0', start);
    if (nul == std::string::npos) throw std::runtime_error("text without its NUL");
    const std::string text = bytes_.substr(start, nul - start);
    *words = static_cast<uint32_t>((text.size() + 1 + 2) / 3);
    for (size_t i = nul; i < start + size_t{*words} * 3; ++i)
      if (bytes_[i] != '\0') throw std::runtime_error("text not padded with zeros");
    return text;
  }
  std::array<uint8_t, 16> Sixteen(uint32_t position) const {
    At(position + 5);
    std::array<uint8_t, 16> value;
    std::memcpy(value.data(), bytes_.data() + size_t{position} * 3, 16);
    return value;
  }

 private:
  const std::string& bytes_;
};

// Reads a value of `kind` at `position` into field `f` of `track`; the words it took.
uint32_t ReadValue(const Words& w, uint32_t position, Kind kind, int f, DecodedTrack* track) {
  switch (kind) {
    case kWord:
      track->number[f] = w.At(position);
      return 1;
    case kText: {
      uint32_t words = 0;
      track->text[f] = w.Text(position, &words);
      return words;
    }
    case kSixteen:
      track->rid = w.Sixteen(position);
      return 6;
  }
  return 0;
}

// The value node at `node` must list `id` at `slot`; returns where its value starts.
uint32_t CheckNode(const Words& w, uint32_t node, uint32_t slot, uint32_t id) {
  const uint32_t listed = w.At(node + 2);
  if (slot >= listed) throw std::runtime_error("slot beyond the node's ids");
  if (w.At(node + 3 + slot) != id)
    throw std::runtime_error("node does not list id " + std::to_string(id) + " at its slot");
  return node + 3 + listed;
}

DecodedTrack ReadTrack(const Words& w, uint32_t record, uint32_t id) {
  DecodedTrack track;
  track.id = id;
  for (int f = 0; f < 6; ++f) {
    const uint32_t value = CheckNode(w, w.At(record + 2 * f), w.At(record + 2 * f + 1), id);
    ReadValue(w, value, kKinds[f], f, &track);
  }
  uint32_t at = record + 12;
  for (int f = 6; f < 16; ++f) at += ReadValue(w, at, kKinds[f], f, &track);
  return track;
}

}  // namespace

DecodedImage DecodeTrackImage(const std::string& bytes) {
  DecodedImage image;
  try {
    const Words w(bytes);
    if (w.At(0) != 0x819A55) throw std::runtime_error("no magic");
    if (w.At(1) != 3) throw std::runtime_error("version is not 3");
    const uint32_t table = w.At(2), section = w.At(3);
    const uint32_t entries = w.At(table);
    if (table + entries >= w.count()) throw std::runtime_error("id table beyond the image");
    if (entries > (1u << 20)) throw std::runtime_error("ids of 2^24 and above");
    std::vector<uint32_t> track_records;
    for (uint32_t n = 0; n < entries; ++n) {
      const uint32_t entry = w.At(table + 1 + n);
      if (entry == kNullWord) continue;
      const uint32_t id = n << 4;
      if (entry & kItemBit) {
        // An item: its name's node lists it; field 1 names its list.
        const uint32_t record = entry & ~kItemBit;
        CheckNode(w, w.At(record), w.At(record + 1), id);
        const uint32_t list = w.At(record + 2);
        if (list != 6 && list != 7) throw std::runtime_error("item of no list");
        ++image.items;
        continue;
      }
      image.tracks.push_back(ReadTrack(w, entry, id));
      track_records.push_back(entry);
    }
    // The track section holds the same records, in id order.
    if (w.At(section) != track_records.size())
      throw std::runtime_error("track count differs from the id table");
    for (size_t i = 1; i < track_records.size(); ++i)
      if (track_records[i] <= track_records[i - 1])
        throw std::runtime_error("track records out of id order");
    if (!track_records.empty() && track_records.front() != section + 1)
      throw std::runtime_error("first track record is not at the section's start");
  } catch (const std::exception& e) {
    image.error = e.what();
    image.tracks.clear();
  }
  return image;
}
