#include "media/mpeg_scanner.h"

#include <algorithm>
#include <cstdio>

#include "media/tag_reader.h"

namespace {

constexpr uint32_t kScanRange = 196608;
constexpr uint32_t kHeaderSearchBudget = 65536;
constexpr uint32_t kHeaderBytes = 4;
// Well above any rate MPEG audio reaches; an average beyond it comes from damaged counts.
constexpr uint64_t kMaxAverageBitRate = 1000000;

char ChannelLetter(const MpegAudioHeader& header) { return header.Channels() == 1 ? 'm' : 's'; }

void DeliverBitrate(TagSink* sink, char kind, const MpegAudioHeader& header, uint64_t bit_rate) {
  char text[32];
  std::snprintf(text, sizeof(text), "%c%c%u", kind, ChannelLetter(header),
                static_cast<unsigned>(bit_rate / 1000));
  sink->SetString("bitrate", text);
}

uint32_t Clamp32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

}  // namespace

MpegScanner::MpegScanner(SeekableStream* stream) : reader_(stream) {}

void MpegScanner::DeliverVbrValues(TagSink* sink) const {
  const MpegAudioHeader& header = vbr_.header;
  const int32_t rate = std::max(header.SampleRate(), 0);
  const uint64_t sample_rate = static_cast<uint32_t>(rate);
  const uint64_t duration = sample_rate ? vbr_.total_samples * 1000 / sample_rate : 0;
  uint64_t bit_rate = static_cast<uint32_t>(std::max(header.BitRate(), 0));
  if (vbr_.bytes > 0 && vbr_.total_samples > 0 && sample_rate > 0) {
    const uint64_t average = vbr_.bytes * 8 * sample_rate / vbr_.total_samples;
    if (average <= kMaxAverageBitRate) bit_rate = average;
  }
  sink->SetInt("duration", Clamp32(duration));
  DeliverBitrate(sink, 'v', header, bit_rate);
  sink->SetInt("samplerate", static_cast<uint32_t>(rate));
}

Result MpegScanner::ScanFirstFrame(TagSink* sink, bool vbr_delivered) {
  if (audio_end_ < kHeaderBytes) return rc::kNoAudioFrame;
  uint32_t position = 0;
  if (rc::Failed(reader_.GetPosition(&position))) return rc::kNoAudioFrame;
  const uint32_t limit = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{position} + kScanRange, audio_end_ - kHeaderBytes));
  MpegAudioHeader second;
  bool confirmed = false;
  while (!confirmed && position < limit) {
    MpegAudioHeader first;
    const Result found = FindFrameHeader(&reader_, kHeaderSearchBudget, &first);
    if (found == rc::kOk) {
      reader_.Skip(-static_cast<int32_t>(kHeaderBytes));
      reader_.GetPosition(&first_frame_);
      // A free-format header without padding has a frame length of 0: "the frame behind it"
      // would be the header itself, so it confirms nothing and the search goes on.
      if (first.FrameLength() <= 0) {
        reader_.Seek(first_frame_ + 1);
        if (rc::Failed(reader_.GetPosition(&position))) return rc::kNoAudioFrame;
        continue;
      }
      reader_.Skip(first.FrameLength());
      const Result next = FindFrameHeader(&reader_, kHeaderBytes, &second);
      if (rc::Failed(next) && next != rc::kNotFound) return next;
      if (next != rc::kOk || second.FrameLength() <= 0) {
        reader_.Seek(first_frame_ + 1);
      } else if (second.SampleRate() == first.SampleRate()) {
        confirmed = true;
      }
    } else if (found == rc::kNotFound) {
      reader_.Skip(-3);  // the last bytes read may begin a header
    } else {
      // At the end of the data nothing more can come, and a failing read would fail again:
      // stepping back and searching once more would never end.
      return rc::Failed(found) ? found : rc::kNoAudioFrame;
    }
    if (rc::Failed(reader_.GetPosition(&position))) return rc::kNoAudioFrame;
  }
  if (!confirmed) return rc::kNoAudioFrame;

  const uint64_t kbits = static_cast<uint32_t>(std::max(second.BitRate(), 0)) / 1000;
  const uint64_t duration = kbits ? (uint64_t{audio_end_} - first_frame_) * 8 / kbits : 0;
  if (!vbr_delivered) {
    DeliverBitrate(sink, 'f', second, kbits * 1000);
    sink->SetInt("samplerate", static_cast<uint32_t>(second.SampleRate()));
    sink->SetInt("duration", Clamp32(duration));
  }
  sink->SetInt("offset", first_frame_);
  sink->SetString("copyright", second.copyright ? "yes" : "no");
  sink->SetString("copy", second.original ? "no" : "yes");
  return rc::kOk;
}

Result MpegScanner::Run(uint32_t audio_start, TagSink* sink) {
  const Result sized = reader_.GetSize(&audio_end_);
  if (rc::Failed(sized)) return sized;

  reader_.Seek(audio_start);
  const bool vbr = ProbeVbrHeader(&reader_, &vbr_) == rc::kOk;
  if (vbr) DeliverVbrValues(sink);

  reader_.Seek(audio_start);
  const Result scanned = ScanFirstFrame(sink, vbr);
  if (rc::Failed(scanned)) return scanned;

  if (!vbr) {
    // The VBR header may sit in the first frame behind leading garbage.
    reader_.Seek(first_frame_);
    if (ProbeVbrHeader(&reader_, &vbr_) == rc::kOk) DeliverVbrValues(sink);
  }
  return rc::kOk;
}
