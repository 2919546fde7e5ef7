// Finds the first MPEG audio frame behind the tags, confirms it by the frame that follows, and
// delivers what a player lists: "bitrate", "samplerate", "duration", "offset", "copyright" and
// "copy". A Xing/Info/VBRI header, when present, gives the duration and average rate instead.
#pragma once

#include <cstdint>

#include "media/mpeg_audio.h"
#include "support/buffered_reader.h"

class SeekableStream;
class TagSink;

class MpegScanner {
 public:
  // The stream is not owned; it is read through a window of its own.
  explicit MpegScanner(SeekableStream* stream);

  // Analyses the audio from `audio_start` to the end of the stream. rc::kNoAudioFrame when no
  // two consecutive frames of one sample rate lie within 192 KiB behind `audio_start`; a read
  // failure during the search is returned as it is.
  Result Run(uint32_t audio_start, TagSink* sink);

  uint32_t FirstFramePosition() const { return first_frame_; }
  const VbrInfo& Vbr() const { return vbr_; }

 private:
  // From the reader's position; delivers the fixed-rate values unless `vbr_delivered`, and the
  // frame's offset and copy flags always.
  Result ScanFirstFrame(TagSink* sink, bool vbr_delivered);
  void DeliverVbrValues(TagSink* sink) const;

  BufferedReader reader_;
  uint32_t audio_end_ = 0;
  uint32_t first_frame_ = 0;
  VbrInfo vbr_;
};
