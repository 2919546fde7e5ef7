#include "media/ogg_tag_reader.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include "media/content_fingerprint.h"
#include "media/create_for_path.h"
#include "media/id3_frames.h"
#include "media/mp3_tag_reader.h"
#include "media/vorbis_comment_keys.h"
#include "support/format_string.h"
#include "support/stream.h"
#include "support/text_convert.h"

namespace {

constexpr uint32_t kReadPiece = 8192;
constexpr int kVorbisHeaderPackets = 3;

// What vorbisfile sees: the stream from where the audio starts to the file's end, with
// positions relative to that start. Handing it absolute positions behind an ID3v2 tag makes
// its backward page search look for pages where there are none.
struct AudioView {
  SeekableStream* stream;
  uint32_t start;
};

AudioView* ViewOf(void* data) { return static_cast<AudioView*>(data); }

size_t ReadCallback(void* buffer, size_t size, size_t count, void* data) {
  if (size == 0) return 0;
  const uint64_t wanted = uint64_t{size} * count;
  uint32_t got = 0;
  if (wanted > UINT32_MAX ||
      rc::Failed(ViewOf(data)->stream->Read(buffer, static_cast<uint32_t>(wanted), &got))) {
    return 0;
  }
  return got / size;
}

int SeekCallback(void* data, ogg_int64_t offset, int whence) {
  const AudioView* view = ViewOf(data);
  int64_t target = offset;
  if (whence == SEEK_CUR) {
    uint32_t position = 0;
    if (rc::Failed(view->stream->GetPosition(&position))) return -1;
    target += int64_t{position} - view->start;
  } else if (whence == SEEK_END) {
    uint32_t size = 0;
    if (rc::Failed(view->stream->GetSize(&size))) return -1;
    target += int64_t{size} - view->start;
  }
  target += view->start;
  if (target < view->start || target > UINT32_MAX) return -1;
  return rc::Failed(view->stream->Seek(static_cast<uint32_t>(target))) ? -1 : 0;
}

int CloseCallback(void*) { return 0; }

long TellCallback(void* data) {
  const AudioView* view = ViewOf(data);
  uint32_t position = 0;
  if (rc::Failed(view->stream->GetPosition(&position)) || position < view->start) return -1;
  return static_cast<long>(position - view->start);
}

std::string BitrateOf(const vorbis_info* info) {
  const char channels = info->channels < 2 ? 'm' : 's';
  if (info->bitrate_upper == info->bitrate_lower && info->bitrate_upper > 0) {
    return FormatString("f%c%ld", channels, info->bitrate_upper / 1000);
  }
  if (info->bitrate_nominal > 0) {
    return FormatString("v%c%ld", channels, info->bitrate_nominal / 1000);
  }
  if (info->bitrate_upper > 0 && info->bitrate_lower > 0) {
    return FormatString("v%c%ld", channels, (info->bitrate_upper + info->bitrate_lower) / 2000);
  }
  return "";
}

// Where an ID3v2 tag in front ends, or 0.
uint32_t Id3v2End(SeekableStream* stream) {
  Id3v2Header header;
  uint32_t size = 0;
  if (rc::Failed(stream->Seek(0)) || rc::Failed(stream->GetSize(&size))) return 0;
  const Result r = ReadId3v2Header(stream, &header);
  if (r != rc::kOk && r != rc::kId3v2Version) return 0;
  return std::min(header.AudioStart(), size);
}

}  // namespace

Result OggTagReader::Read(SeekableStream* stream, TagSink* sink) {
  uint32_t audio_start = 0;
  Result r = ReadFrontId3Tags(Path(), stream, sink, &audio_start);
  if (rc::Succeeded(r)) r = stream->Seek(audio_start);
  if (rc::Failed(r)) return r;

  const ov_callbacks callbacks = {ReadCallback, SeekCallback, CloseCallback, TellCallback};
  OggVorbis_File file;
  AudioView view{stream, audio_start};
  if (ov_open_callbacks(&view, &file, nullptr, 0, callbacks) != 0) return rc::kNoTagHandler;
  const vorbis_comment* comments = ov_comment(&file, -1);
  if (comments == nullptr || comments->comments == 0) {
    sink->SetString("title", AnsiToUtf8String(TitleFromFileName(Path())).c_str());
  } else if (audio_start == 0) {
    for (int i = 0; i < comments->comments; ++i) {
      DeliverVorbisComment(comments->user_comments[i],
                           static_cast<size_t>(comments->comment_lengths[i]), sink);
    }
  }
  sink->SetString("codec", "vorbis");
  const vorbis_info* info = ov_info(&file, -1);
  if (info != nullptr) {
    sink->SetInt("samplerate", static_cast<uint32_t>(info->rate));
    const std::string bitrate = BitrateOf(info);
    if (!bitrate.empty()) sink->SetString("bitrate", bitrate.c_str());
  }
  const double seconds = ov_time_total(&file, -1);
  sink->SetInt("duration", seconds > 0 ? static_cast<uint32_t>(seconds * 1000.0) : 0);
  ov_clear(&file);

  if (!ComputesFingerprint()) return rc::kOk;
  std::string rid;
  r = Fingerprint(stream, &rid);
  if (rc::Failed(r)) return r;
  sink->SetString("rid", rid.c_str());
  return rc::kOk;
}

Result OggTagReader::Fingerprint(SeekableStream* stream, std::string* fingerprint) {
  // The pages are looked for behind the tag only: its padding may hold bytes that look like one.
  uint32_t audio_start = Id3v2End(stream);
  Result r = stream->Seek(audio_start);
  if (rc::Failed(r)) return r;
  ogg_sync_state sync;
  ogg_stream_state logical;
  ogg_sync_init(&sync);
  bool logical_ready = false;
  int packets = 0;
  r = rc::kOk;
  while (packets < kVorbisHeaderPackets) {
    ogg_page page;
    const int got = ogg_sync_pageout(&sync, &page);
    if (got == 1) {
      audio_start += static_cast<uint32_t>(page.header_len + page.body_len);
      if (!logical_ready) {
        ogg_stream_init(&logical, ogg_page_serialno(&page));
        logical_ready = true;
      }
      ogg_stream_pagein(&logical, &page);
      ogg_packet packet;
      while (packets < kVorbisHeaderPackets && ogg_stream_packetout(&logical, &packet) == 1) {
        ++packets;
      }
      continue;
    }
    if (got < 0) continue;  // bytes skipped before a page are not counted
    char* buffer = ogg_sync_buffer(&sync, kReadPiece);
    uint32_t count = 0;
    r = buffer == nullptr ? rc::kOutOfMemory : stream->Read(buffer, kReadPiece, &count);
    if (rc::Failed(r)) break;
    if (count == 0) {
      r = rc::kBadData;  // the data ended before the three header packets
      break;
    }
    ogg_sync_wrote(&sync, static_cast<long>(count));
    r = rc::kOk;
  }
  if (logical_ready) ogg_stream_clear(&logical);
  ogg_sync_clear(&sync);
  if (rc::Failed(r)) return r;
  uint32_t size = 0;
  r = stream->GetSize(&size);
  if (rc::Failed(r)) return r;
  return ContentFingerprint(stream, audio_start, size, fingerprint);
}

Result CreateOggTagReader(const std::string& path, std::unique_ptr<TagReader>* out) {
  return CreateForPath<TagReader, OggTagReader>(path, out);
}
