// Read access to one packed track database image: the player's browse lists and track records
// as 24-bit little-endian words, every cross reference a word position.
//
// Header: magic 0x819A55, version 3, id table position, track section position, then for each
// of the eight indexes the first value node and the head of its group chain. A reader never
// owns the image; each database keeps its own reader, so two players never share one.
//
// Images come from the player: every position, count and text is checked against the image
// before it is followed, and chain walks stop after as many steps as the image has words.
#pragma once

#include <cstdint>

namespace packed {

constexpr uint32_t kMagic = 0x819A55;
constexpr uint32_t kVersion = 3;
constexpr uint32_t kNull = 0xFFFFFF;      // null position and absent value
constexpr uint32_t kItemFlag = 0x800000;  // id table entry of a list item
constexpr uint32_t kHeaderWords = 20;

constexpr int kIndexCount = 8;
constexpr int kPlaylistIndex = 6;
constexpr int kVundIndex = 7;
constexpr int kTrackFieldCount = 16;
constexpr int kItemFieldCount = 4;  // 0 the name, 1 the list index, 2 and 3 the length
constexpr int kNoNextField = 17;
constexpr uint32_t kRidSize = 16;

// Index names, in index order: "title" ... "date", "playlist", "vund".
extern const char* const kIndexNames[kIndexCount];

enum FieldKind { kInteger = 0, kText = 1, kBytes16 = 2 };
// Kind of each track field, and the field compared next when sorting (kNoNextField: none).
extern const FieldKind kTrackFieldKinds[kTrackFieldCount];
extern const int kTrackFieldNext[kTrackFieldCount];
// Index kind: 0 to 3, 6 and 7 hold texts, 4 and 5 integers.
FieldKind IndexKind(int index);

// Reader answers.
enum Status {
  kOk = 0,
  kOutOfRange = 1,  // bad argument (mode, index, field)
  kNotMulti = 2,    // the walk does not step through ids
  kPresent = 3,     // the id is already in the database
  kNotFound = 4,    // absent id, or the walk is at its end
  kBadImage = 5,    // a position, count or text runs outside the image, or a chain never ends
  kNoImage = 6,     // nothing attached, or no magic and version
};

// One field value; only the member of the field's kind is set. `text` is NUL-terminated
// inside the image, `bytes` points at kRidSize bytes inside the image.
struct FieldValue {
  uint32_t integer = 0;
  const char* text = nullptr;
  const uint8_t* bytes = nullptr;
};

// Walk modes: 0 the value nodes, 1 every id of every value node, 2 the group chain (its first
// entry is the head that carries the index name).
struct Walk {
  uint32_t position = kNull;
  uint32_t slot = 0;
  int mode = 0;
  int index = 0;
  uint32_t steps = 0;  // nodes and ids so far: bounds the walk on a cyclic chain
};

class ImageReader {
 public:
  // Makes `image` current (byte_size / 3 words; the caller keeps it alive). kNoImage when it
  // is null, has no magic and version, or its header positions lie outside it; the reader is
  // then empty. Null clears it.
  int Attach(const uint8_t* image, uint32_t byte_size);
  bool Attached() const { return image_ != nullptr; }
  // The current image and 3 x its word count; kNoImage when none is attached.
  int GetImage(const uint8_t** image) const;
  int GetImageSize(uint32_t* byte_size) const;

  // The id table entry of id / 16: a track record position, or an item position with
  // kItemFlag; kNull when the number is not in the table, or the table is damaged.
  uint32_t Lookup(uint32_t id) const;
  // A track field 0..15, or for an item field 0 (its name) .. 3. kNotFound for an absent id.
  int GetField(uint32_t id, int field, FieldValue* out) const;
  // The id table's entry count C; kBadImage when the table runs past the image.
  int IdCount(uint32_t* count) const;
  // Whether the record of `id` is that id's own: the first value node it names lists `id` at
  // the slot it names. A damaged table may point several ids at one record; only one is
  // its owner.
  bool OwnsRecord(uint32_t id) const;

  int First(Walk* walk, int mode, int index) const;
  int Next(Walk* walk) const;
  // The value of the current node: the index's value, or the label (group chain, text).
  int Current(const Walk& walk, FieldValue* out) const;
  // The id at the current slot (mode 1 only).
  int CurrentId(const Walk& walk, uint32_t* id) const;

 private:
  bool WordAt(uint32_t position, uint32_t* word) const;
  // The text at `position`, checked to end inside the image; its length in words.
  bool TextAt(uint32_t position, const char** text, uint32_t* words) const;
  // Where the value of the node at `position` starts (after its id list).
  bool NodeValuePosition(uint32_t node, uint32_t* position) const;
  int ValueAt(uint32_t position, FieldKind kind, FieldValue* out) const;
  // The value of a track field stored inline (6..15), found by skipping the earlier ones.
  int InlineField(uint32_t record, int field, FieldValue* out) const;
  // Sets the slot and steps for a walk standing on a node; kBadImage when the chain loops.
  int Settle(Walk* walk) const;

  const uint8_t* image_ = nullptr;
  uint32_t words_ = 0;
};

}  // namespace packed
