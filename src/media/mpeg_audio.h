// MPEG audio frame headers (layers I-III, MPEG-1, -2 and -2.5), the search for a frame in a
// byte stream, and the Xing/Info/VBRI headers that variable-rate encoders put in the first frame.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

class BufferedReader;

namespace rc {
// No two consecutive frames of one sample rate, or no frame header where one must be.
constexpr Result kNoAudioFrame = static_cast<Result>(0xC0040012);
}  // namespace rc

struct MpegAudioHeader {
  static constexpr int32_t kInvalid = -1;

  // Decodes a header from its 4 bytes taken as one big-endian word.
  static MpegAudioHeader Decode(uint32_t word);

  // Bit/s; 0 for free format, kInvalid for the forbidden index or reserved version/layer.
  int32_t BitRate() const;
  // Hz; kInvalid for the reserved index or version.
  int32_t SampleRate() const;
  uint32_t Channels() const { return channel_mode == 3 ? 1 : 2; }
  // 0 for the reserved layer.
  uint32_t SamplesPerFrame() const;
  // Bytes, header included; kInvalid when a rate is invalid. Free format without padding is 0.
  int32_t FrameLength() const;
  bool IsValid() const;

  uint32_t raw = 0;
  uint8_t version_id = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
  uint8_t layer_bits = 0;  // 3 layer I, 2 layer II, 1 layer III, 0 reserved
  uint8_t protection = 0;
  uint8_t bitrate_index = 0;
  uint8_t sample_rate_index = 0;
  uint8_t padding = 0;
  uint8_t private_bit = 0;
  uint8_t channel_mode = 0;  // 3 single channel
  uint8_t mode_extension = 0;
  uint8_t copyright = 0;
  uint8_t original = 0;
  uint8_t emphasis = 0;
};

// Reads at most `budget` bytes, one at a time, until the last four read form a valid header;
// the reader is then just behind it. rc::kOk when found, rc::kNotFound when the budget ran out,
// rc::kEndOfData at the end of the data, or the failure of a read.
Result FindFrameHeader(BufferedReader* reader, uint32_t budget, MpegAudioHeader* header);

// What a Xing ("Xing" or "Info") or VBRI header says of the whole stream.
struct VbrInfo {
  uint32_t frames = 0;
  uint64_t bytes = 0;
  uint64_t total_samples = 0;  // frames x samples per frame of the carrying frame
  MpegAudioHeader header;      // of the frame that carries it
};

// Probes the frame at the reader's position for a VBR header. rc::kOk when one was found;
// 1 when there is none within 64 bytes behind the frame header; rc::kNoAudioFrame when no
// valid frame header stands there; rc::kBadData when the header claims more frames than the
// stream could hold. Fields that cannot be read count 0.
Result ProbeVbrHeader(BufferedReader* reader, VbrInfo* info);
