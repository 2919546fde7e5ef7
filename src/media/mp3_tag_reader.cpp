#include "media/mp3_tag_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "media/content_fingerprint.h"
#include "media/id3_genres.h"
#include "media/id3_text.h"
#include "media/id3v1.h"
#include "media/lyrics3.h"
#include "media/mpeg_scanner.h"
#include "support/bounded_stream.h"
#include "support/buffered_reader.h"
#include "support/memory_stream.h"
#include "support/stream.h"
#include "support/text_convert.h"

namespace {

constexpr uint32_t kHasPictureOption = 4096;
// Enough for the picture header of any frame a real writer makes; longer ones are read whole.
constexpr uint32_t kPictureHeaderProbe = 4096;

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 6 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

void Mp3TagReader::ClearContext() {
  values_ = Mp3TagValues();
  has_picture_ = false;
  picture_start_ = 0;
  picture_length_ = 0;
  picture_bytes_.clear();
  picture_decoded_ = false;
}

uint32_t Mp3TagReader::FindTrailer(SeekableStream* stream, uint32_t size, Mp3TagValues* values) {
  if (tags_only_) return 0;
  uint32_t trailer = 0;
  Id3v1Tag tag;
  bool found = false;
  if (ReadId3v1(stream, size, &tag, &found) == rc::kOk && found) {
    trailer = kId3v1Size;
    if (values != nullptr) {
      const std::pair<const char*, const std::string*> fields[] = {{"1TIT", &tag.title},
                                                                   {"1ART", &tag.artist},
                                                                   {"1ALB", &tag.album},
                                                                   {"1YER", &tag.year},
                                                                   {"1COM", &tag.comment}};
      for (const auto& field : fields) {
        if (!field.second->empty()) values->Gather(field.first, *field.second);
      }
      if (tag.track != 0) values->Gather("1TNR", std::to_string(tag.track));
      const std::string genre = GenreName(tag.genre);
      if (!genre.empty()) values->Gather("1CON", genre);
    }
  }
  return ProbeLyrics3(stream, size, trailer);
}

void Mp3TagReader::ReadId3v2(SeekableStream* stream, uint32_t size, bool walk) {
  audio_start_ = 0;
  Id3v2Header header;
  const Result result = ReadId3v2Header(stream, &header);
  if (result != rc::kOk && result != rc::kId3v2Version) return;
  // A damaged size must not place the audio beyond the file.
  audio_start_ = std::min(header.AudioStart(), size);
  if (result == rc::kOk && walk) {
    BufferedReader reader(stream);
    WalkId3v2Frames(&reader, header, size, this);
  }
}

void Mp3TagReader::OnFrame(SeekableStream* stream, const Id3Frame& frame) {
  if (frame.info == nullptr) return;
  const Id3Handler handler = frame.info->handler;
  if (handler == Id3Handler::kPicture) {
    has_picture_ = true;
    // Only the album art needs to know where the picture lies.
    if (pictures_only_) OnPicture(stream, frame);
    return;
  }
  if (pictures_only_ || handler == Id3Handler::kSkip) return;
  std::string body;
  if (ReadId3FrameBody(stream, frame, &body) != rc::kOk) return;
  std::string text;
  if (handler == Id3Handler::kText) {
    text = DecodeId3TextFrame(body);
    // 2.4 may give a genre as a bare number: the same as 2.3's "(n)".
    if (frame.major >= 4 && std::strcmp(frame.id, "TCON") == 0 && IsNumber(text))
      text = "(" + text + ")";
    if (!text.empty()) values_.Gather(frame.id, text);
  } else if (DecodeId3CommentFrame(body, &text)) {
    // The comment is the one without a description; described ones stand in only without it.
    std::string description;
    DecodeId3CommentDescription(body, &description);
    values_.Gather(description.empty() ? kCommentSource : kDescribedCommentSource, text);
  }
}

void Mp3TagReader::OnPicture(SeekableStream* stream, const Id3Frame& frame) {
  picture_bytes_.clear();
  picture_decoded_ = !frame.in_file || frame.unsynchronised;
  // The picture itself is left in the file where it can be; only its header is read.
  Id3Frame probe = frame;
  if (!picture_decoded_) probe.size = std::min(frame.size, kPictureHeaderProbe);
  std::string body;
  size_t offset = std::string::npos;
  if (ReadId3FrameBody(stream, probe, &body) == rc::kOk)
    offset = Id3PictureDataOffset(frame.major, body);
  if (offset == std::string::npos && probe.size < frame.size &&
      ReadId3FrameBody(stream, frame, &body) == rc::kOk)
    offset = Id3PictureDataOffset(frame.major, body);
  if (picture_decoded_) {
    if (offset != std::string::npos) picture_bytes_ = body.substr(offset);
    return;
  }
  // No data found: an empty picture at the frame's end.
  const uint32_t data = offset == std::string::npos ? frame.size : static_cast<uint32_t>(offset);
  picture_start_ = frame.position + data;
  picture_length_ = frame.size - data;
}

Result Mp3TagReader::ComputeFingerprint(SeekableStream* stream, uint32_t size,
                                        std::string* fingerprint) {
  const uint32_t end = size - std::min(trailer_, size);
  return ContentFingerprint(stream, std::min(audio_start_, end), end, fingerprint);
}

Result Mp3TagReader::Read(SeekableStream* stream, TagSink* sink) {
  sink->SetString("codec", "mp3");
  ClearContext();
  pictures_only_ = false;
  // File names are in the ANSI code page; the sink takes UTF-8.
  values_.Gather("0TIT", AnsiToUtf8String(TitleFromFileName(Path())));

  uint32_t size = 0;
  const bool have_size = stream->GetSize(&size) == rc::kOk;
  // Without a size nothing at the end can be found and the tag is bounded by reads alone.
  trailer_ = have_size ? FindTrailer(stream, size, &values_) : 0;
  ReadId3v2(stream, have_size ? size : UINT32_MAX, true);

  sink->SetInt("offset", audio_start_);
  sink->SetInt("trailer", trailer_);
  values_.Deliver(sink);
  if (has_picture_) sink->SetInt("options", kHasPictureOption);

  if (ComputesFingerprint() && have_size) {
    std::string rid;
    const Result result = ComputeFingerprint(stream, size, &rid);
    if (result != rc::kOk) return result;
    sink->SetString("rid", rid.c_str());
  }
  if (tags_only_) return rc::kOk;
  MpegScanner scanner(stream);
  return scanner.Run(audio_start_, sink);
}

Result Mp3TagReader::Fingerprint(SeekableStream* stream, std::string* fingerprint) {
  uint32_t size = 0;
  const Result result = stream->GetSize(&size);
  if (result != rc::kOk) return result;
  trailer_ = FindTrailer(stream, size, nullptr);
  ReadId3v2(stream, size, false);
  return ComputeFingerprint(stream, size, fingerprint);
}

Result Mp3TagReader::GetAlbumArt(SeekableStream* stream, std::unique_ptr<SeekableStream>* picture) {
  picture->reset();
  ClearContext();
  pictures_only_ = true;
  uint32_t size = 0;
  if (stream->GetSize(&size) != rc::kOk) size = UINT32_MAX;  // bounded by reads alone
  ReadId3v2(stream, size, true);
  pictures_only_ = false;
  if (!has_picture_) return rc::kOk;
  if (picture_decoded_)
    picture->reset(new (std::nothrow) MemoryStream(std::move(picture_bytes_)));
  else
    picture->reset(new (std::nothrow) BoundedStream(stream, picture_start_, picture_length_));
  return rc::kOk;
}

Result ReadFrontId3Tags(const std::string& path, SeekableStream* stream, TagSink* sink,
                        uint32_t* audio_start) {
  Mp3TagReader id3(path);
  id3.SetTagsOnly(true);
  // Its fingerprint would cover the other format's headers, which change with every edit.
  id3.SetComputeFingerprint(false);
  const Result r = stream->Seek(0);
  if (rc::Failed(r)) return r;
  id3.Read(stream, sink);
  *audio_start = id3.AudioStart();
  return rc::kOk;
}

Result CreateMp3TagReader(const std::string& path, std::unique_ptr<TagReader>* out) {
  std::unique_ptr<TagReader> reader(new (std::nothrow) Mp3TagReader(path));
  if (!reader) return rc::kOutOfMemory;
  *out = std::move(reader);
  return rc::kOk;
}
