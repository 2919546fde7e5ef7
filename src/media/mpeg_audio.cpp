#include "media/mpeg_audio.h"

#include "support/buffered_reader.h"

namespace {

// kbit/s by bit-rate index 0..14 (index 15 is forbidden).
const uint16_t kMpeg1Layer1[15] = {0,   32,  64,  96,  128, 160, 192, 224,
                                   256, 288, 320, 352, 384, 416, 448};
const uint16_t kMpeg1Layer2[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                   128, 160, 192, 224, 256, 320, 384};
const uint16_t kMpeg1Layer3[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                   112, 128, 160, 192, 224, 256, 320};
const uint16_t kMpeg2Layer1[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                   128, 144, 160, 176, 192, 224, 256};
const uint16_t kMpeg2Layer23[15] = {0,  8,  16, 24,  32,  40,  48, 56,
                                    64, 80, 96, 112, 128, 144, 160};

const int32_t kMpeg1Rates[3] = {44100, 48000, 32000};

constexpr uint32_t kSyncMask = 0xFFE00000;
constexpr uint8_t kMpeg1 = 3;
constexpr uint8_t kLayer1 = 3;
constexpr uint8_t kLayer2 = 2;
constexpr uint8_t kLayer3 = 1;

constexpr uint32_t kVbrTagSearch = 64;
constexpr uint32_t kXingFramesFlag = 0x1;
constexpr uint32_t kXingBytesFlag = 0x2;

uint32_t Tag(const char (&text)[5]) {
  return uint32_t{uint8_t(text[0])} << 24 | uint32_t{uint8_t(text[1])} << 16 |
         uint32_t{uint8_t(text[2])} << 8 | uint8_t(text[3]);
}

// Big-endian field of `size` bytes; what cannot be read counts 0.
uint32_t ReadField(BufferedReader* reader, uint32_t size) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < size; ++i) {
    uint8_t byte = 0;
    if (reader->ReadByte(&byte) != rc::kOk) return 0;
    value = value << 8 | byte;
  }
  return value;
}

}  // namespace

MpegAudioHeader MpegAudioHeader::Decode(uint32_t word) {
  MpegAudioHeader h;
  h.raw = word;
  h.version_id = (word >> 19) & 3;
  h.layer_bits = (word >> 17) & 3;
  h.protection = (word >> 16) & 1;
  h.bitrate_index = (word >> 12) & 15;
  h.sample_rate_index = (word >> 10) & 3;
  h.padding = (word >> 9) & 1;
  h.private_bit = (word >> 8) & 1;
  h.channel_mode = (word >> 6) & 3;
  h.mode_extension = (word >> 4) & 3;
  h.copyright = (word >> 3) & 1;
  h.original = (word >> 2) & 1;
  h.emphasis = word & 3;
  return h;
}

int32_t MpegAudioHeader::BitRate() const {
  if (bitrate_index == 15 || version_id == 1 || layer_bits == 0) return kInvalid;
  const uint16_t* row;
  if (version_id == kMpeg1) {
    row = layer_bits == kLayer1   ? kMpeg1Layer1
          : layer_bits == kLayer2 ? kMpeg1Layer2
                                  : kMpeg1Layer3;
  } else {
    row = layer_bits == kLayer1 ? kMpeg2Layer1 : kMpeg2Layer23;
  }
  return int32_t{row[bitrate_index]} * 1000;
}

int32_t MpegAudioHeader::SampleRate() const {
  if (sample_rate_index == 3 || version_id == 1) return kInvalid;
  const int32_t rate = kMpeg1Rates[sample_rate_index];
  return version_id == kMpeg1 ? rate : version_id == 2 ? rate / 2 : rate / 4;
}

uint32_t MpegAudioHeader::SamplesPerFrame() const {
  switch (layer_bits) {
    case kLayer1: return 384;
    case kLayer2: return 1152;
    case kLayer3: return version_id == kMpeg1 ? 1152 : 576;
    default: return 0;
  }
}

int32_t MpegAudioHeader::FrameLength() const {
  const int32_t bit_rate = BitRate();
  const int32_t sample_rate = SampleRate();
  if (bit_rate < 0 || sample_rate <= 0) return kInvalid;
  if (layer_bits == kLayer1) return (12 * bit_rate / sample_rate + padding) * 4;
  const int32_t slots = layer_bits == kLayer3 && version_id != kMpeg1 ? 72 : 144;
  return slots * bit_rate / sample_rate + padding;
}

bool MpegAudioHeader::IsValid() const {
  if ((raw & kSyncMask) != kSyncMask || version_id == 1) return false;
  if (BitRate() == kInvalid || SampleRate() == kInvalid) return false;
  const int32_t length = FrameLength();
  return length != 1 && length >= 0;
}

Result FindFrameHeader(BufferedReader* reader, uint32_t budget, MpegAudioHeader* header) {
  uint32_t window = 0;
  for (uint32_t i = 0; i < budget; ++i) {
    uint8_t byte = 0;
    const Result read = reader->ReadByte(&byte);
    if (read != rc::kOk) return rc::Failed(read) ? read : rc::kEndOfData;
    window = window << 8 | byte;
    if ((window & kSyncMask) != kSyncMask) continue;
    const MpegAudioHeader candidate = MpegAudioHeader::Decode(window);
    if (candidate.IsValid()) {
      *header = candidate;
      return rc::kOk;
    }
  }
  return rc::kNotFound;
}

Result ProbeVbrHeader(BufferedReader* reader, VbrInfo* info) {
  *info = VbrInfo();
  uint8_t bytes[4];
  uint32_t count = 0;
  if (reader->Read(bytes, 4, &count) != rc::kOk || count != 4) return rc::kNoAudioFrame;
  const uint32_t word = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 |
                        uint32_t{bytes[2]} << 8 | bytes[3];
  const MpegAudioHeader header = MpegAudioHeader::Decode(word);
  if (!header.IsValid()) return rc::kNoAudioFrame;

  uint32_t window = 0;
  for (uint32_t i = 0; i < kVbrTagSearch; ++i) {
    uint8_t byte = 0;
    if (reader->ReadByte(&byte) != rc::kOk) return 1;
    window = window << 8 | byte;
    if (window == Tag("Xing") || window == Tag("Info")) {
      const uint32_t flags = ReadField(reader, 4);
      if (flags & kXingFramesFlag) info->frames = ReadField(reader, 4);
      if (flags & kXingBytesFlag) info->bytes = ReadField(reader, 4);
      // The table of contents, the quality and the encoder extension give no value we deliver.
    } else if (window == Tag("VBRI")) {
      ReadField(reader, 6);  // version, delay, quality
      info->bytes = ReadField(reader, 4);
      info->frames = ReadField(reader, 4);
      // The seek table that follows gives no value we deliver.
    } else {
      continue;
    }
    // Every frame holds at least its 4-byte header, so a larger count is damage and would make
    // a duration of years.
    uint32_t size = 0;
    if (rc::Succeeded(reader->GetSize(&size)) && info->frames > size / 4) {
      *info = VbrInfo();
      return rc::kBadData;
    }
    info->header = header;
    info->total_samples = uint64_t{info->frames} * header.SamplesPerFrame();
    return rc::kOk;
  }
  return 1;
}
