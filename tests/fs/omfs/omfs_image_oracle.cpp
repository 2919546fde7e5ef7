#include "omfs_image_oracle.h"

#include <set>

namespace {

uint64_t Be(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

constexpr uint64_t kEnd = ~uint64_t{0};

uint16_t Crc16Xmodem(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<uint16_t>(crc << 1 ^ 0x1021)
                           : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

class Reader {
 public:
  Reader(const std::vector<uint8_t>& image, uint64_t start, OmfsImageView* view)
      : image_(image), start_(start), view_(view) {}

  bool Run() {
    if (start_ + 288 > image_.size()) return Fail("no anchor");
    const uint8_t* anchor = &image_[start_];
    if (Be(anchor + 272, 4) != 0xC2993D87) return Fail("anchor magic");
    view_->block_size = static_cast<uint32_t>(Be(anchor + 276, 4));
    view_->mirrors = static_cast<uint32_t>(Be(anchor + 280, 4));
    view_->metablock_size = static_cast<uint32_t>(Be(anchor + 284, 4));
    if (view_->metablock_size == 0) view_->metablock_size = view_->block_size;
    view_->blocks = Be(anchor + 264, 8);
    const uint64_t super = Be(anchor + 256, 8);
    if (view_->block_size == 0 || view_->mirrors < 1 || view_->mirrors > 8 ||
        view_->metablock_size < 512 || start_ + view_->blocks * view_->block_size > image_.size())
      return Fail("anchor sizes");
    view_->held.assign(view_->blocks, false);
    view_->meta.assign(view_->blocks, false);
    view_->marked.assign(view_->blocks, false);
    const uint8_t* s = Metablock(super, 115);
    if (!s) return Fail("super block");
    const uint64_t root = Be(s + 40, 8), bitmap = Be(s + 48, 8);
    view_->blocks_per_unit = static_cast<uint32_t>(Be(s + 60, 4));
    if (!Hold(0, 1) || !Hold(super, view_->mirrors)) return false;
    const uint64_t bitmap_bytes = BitmapBytes();
    if (!Hold(bitmap, (bitmap_bytes + view_->block_size - 1) / view_->block_size)) return false;
    const uint8_t* bits = &image_[start_ + bitmap * view_->block_size];
    for (uint64_t b = 0; b < view_->blocks; ++b) view_->marked[b] = (bits[b / 8] >> (b % 8)) & 1;
    if (!Hold(root, view_->mirrors)) return false;
    return Directory(root);
  }

 private:
  bool Fail(const std::string& why) {
    if (view_->problem.empty()) view_->problem = why;
    return false;
  }

  uint64_t BitmapBytes() const {
    const uint64_t bytes = (view_->blocks + 7) / 8;
    return bytes % 512 == 0 ? bytes + 512 : (bytes + 511) / 512 * 512;
  }

  // Marks blocks of the tree: file data, or (meta) the volume's own structures.
  bool Hold(uint64_t first, uint64_t count, bool meta = true) {
    if (first >= view_->blocks || count > view_->blocks - first)
      return Fail("range outside the volume");
    for (uint64_t b = first; b < first + count; ++b) {
      if (view_->held[b]) return Fail("block held twice: " + std::to_string(b));
      view_->held[b] = true;
      view_->meta[b] = meta;
    }
    return true;
  }

  // The first copy of metablock `block` that passes every check, or null.
  const uint8_t* Metablock(uint64_t block, uint8_t type) const {
    for (uint32_t copy = 0; copy < view_->mirrors; ++copy) {
      if (block + copy >= view_->blocks) return nullptr;
      const uint8_t* m = &image_[start_ + (block + copy) * view_->block_size];
      uint8_t x = 0;
      for (int i = 0; i < 24; ++i) x ^= m[i];
      const uint64_t crc_length = Be(m + 8, 4);
      if (m[18] != 0xD2 || m[16] != 1 || Be(m, 8) != block || x != 0 ||
          crc_length > view_->metablock_size - 24u || m[17] != type ||
          Crc16Xmodem(m + 24, crc_length) != Be(m + 12, 2))
        continue;
      return m;
    }
    return nullptr;
  }

  bool Extents(const uint8_t* list, uint32_t count, uint32_t capacity) {
    if (count > capacity) return Fail("extent count beyond capacity");
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t first = Be(list + 16 * i, 8), length = Be(list + 16 * i + 8, 8);
      if (first != kEnd && !Hold(first, length, false)) return false;
    }
    return true;
  }

  bool File(const uint8_t* node, uint64_t block) {
    const uint32_t capacity = (view_->metablock_size - 480) / 16;
    if (!Extents(node + 480, static_cast<uint32_t>(Be(node + 472, 4)), capacity)) return false;
    std::set<uint64_t> seen;
    for (uint64_t next = Be(node + 464, 8); next != kEnd;) {
      if (!seen.insert(next).second) return Fail("continuation loop");
      if (!Hold(next, view_->mirrors)) return false;
      const uint8_t* c = Metablock(next, 99);
      if (!c) return Fail("continuation " + std::to_string(next));
      if (Be(c + 24, 8) != block) return Fail("continuation of another node");
      if (!Extents(c + 80, static_cast<uint32_t>(Be(c + 72, 4)),
                   (view_->metablock_size - 80) / 16))
        return false;
      next = Be(c + 64, 8);
    }
    return true;
  }

  bool Directory(uint64_t block) {
    const uint8_t* dir = Metablock(block, 101);
    if (!dir || Be(dir + 80, 4) != 0x44) return Fail("directory " + std::to_string(block));
    const uint32_t buckets = (view_->metablock_size - 440) / 8;
    std::vector<uint64_t> heads;
    for (uint32_t i = 0; i < buckets; ++i) heads.push_back(Be(dir + 440 + 8 * i, 8));
    for (uint64_t child : heads) {
      while (child != kEnd) {
        if (!Hold(child, view_->mirrors)) return false;
        const uint8_t* node = Metablock(child, 101);
        if (!node) return Fail("node " + std::to_string(child));
        ++view_->nodes;
        const uint64_t kind = Be(node + 80, 4), next = Be(node + 32, 8);
        if (kind == 0x44) {
          if (!Directory(child)) return false;
        } else if (kind == 0x46) {
          if (!File(node, child)) return false;
        } else {
          return Fail("node kind");
        }
        child = next;
      }
    }
    return true;
  }

  const std::vector<uint8_t>& image_;
  uint64_t start_;
  OmfsImageView* view_;
};

}  // namespace

uint64_t OmfsImageView::HeldCount() const {
  uint64_t count = 0;
  for (bool h : held) count += h;
  return count;
}

std::vector<uint64_t> OmfsImageView::HeldButFree() const {
  std::vector<uint64_t> blocks_found;
  for (uint64_t b = 0; b < held.size(); ++b)
    if (held[b] && !marked[b]) blocks_found.push_back(b);
  return blocks_found;
}

uint64_t OmfsImageView::Leaked() const {
  uint64_t count = 0;
  for (uint64_t b = 0; b < held.size(); ++b) count += marked[b] && !held[b];
  return count;
}

uint64_t OmfsImageView::FreeUnitBlocks() const {
  if (blocks_per_unit == 0) return 0;
  uint64_t free_units = 0;
  for (uint64_t unit = 0; unit < blocks / blocks_per_unit; ++unit) {
    bool any = false;
    for (uint32_t i = 0; i < blocks_per_unit; ++i) any = any || held[unit * blocks_per_unit + i];
    free_units += !any;
  }
  return free_units * blocks_per_unit;
}

OmfsImageView ReadOmfsImage(const std::vector<uint8_t>& image, uint64_t start) {
  OmfsImageView view;
  Reader(image, start, &view).Run();
  return view;
}
