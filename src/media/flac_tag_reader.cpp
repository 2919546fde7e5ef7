#include "media/flac_tag_reader.h"

#include <FLAC/stream_decoder.h>

#include "media/bitrate_text.h"
#include "media/content_fingerprint.h"
#include "media/create_for_path.h"
#include "media/mp3_tag_reader.h"
#include "media/vorbis_comment_keys.h"
#include "support/format_string.h"
#include "support/stream.h"

namespace {

struct DecoderContext {
  SeekableStream* stream;
  TagSink* sink;
  bool deliver_comments;
  uint32_t size;
  Result failure;
};

DecoderContext* Context(void* data) { return static_cast<DecoderContext*>(data); }

FLAC__StreamDecoderReadStatus ReadCallback(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                           size_t* bytes, void* data) {
  DecoderContext* context = Context(data);
  uint32_t count = 0;
  const Result r = context->stream->Read(buffer, static_cast<uint32_t>(*bytes), &count);
  *bytes = count;
  if (rc::Failed(r)) {
    if (context->failure == rc::kOk) context->failure = r;
    return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
  }
  if (count == 0) return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
  return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus SeekCallback(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                           void* data) {
  DecoderContext* context = Context(data);
  const Result r = offset > UINT32_MAX ? rc::kBadData
                                       : context->stream->Seek(static_cast<uint32_t>(offset));
  if (rc::Failed(r)) {
    if (context->failure == rc::kOk) context->failure = r;
    return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  }
  return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus TellCallback(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                           void* data) {
  uint32_t position = 0;
  if (rc::Failed(Context(data)->stream->GetPosition(&position))) {
    return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
  }
  *offset = position;
  return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus LengthCallback(const FLAC__StreamDecoder*, FLAC__uint64* length,
                                               void* data) {
  *length = Context(data)->size;
  return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool EofCallback(const FLAC__StreamDecoder*, void* data) {
  uint32_t position = 0;
  DecoderContext* context = Context(data);
  return rc::Failed(context->stream->GetPosition(&position)) || position >= context->size;
}

FLAC__StreamDecoderWriteStatus WriteCallback(const FLAC__StreamDecoder*, const FLAC__Frame*,
                                             const FLAC__int32* const[], void*) {
  return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;  // no audio is decoded
}

void DeliverStreamInfo(const FLAC__StreamMetadata_StreamInfo& info, DecoderContext* context) {
  TagSink* sink = context->sink;
  sink->SetInt("samplerate", info.sample_rate);
  uint64_t duration = 0;
  if (info.sample_rate != 0) duration = info.total_samples * 1000 / info.sample_rate;
  sink->SetInt("duration", static_cast<uint32_t>(duration));
  sink->SetInt("length", context->size);
  std::string text = "v";
  BitrateText::SetChannels(&text, info.channels);
  if (duration != 0) {
    const uint64_t bits_per_second = uint64_t{context->size} * 8 * 1000 / duration;
    text += FormatString("%llu", static_cast<unsigned long long>(bits_per_second / 1000));
  }
  sink->SetString("bitrate", text.c_str());
}

void MetadataCallback(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                      void* data) {
  DecoderContext* context = Context(data);
  if (context->sink == nullptr) return;
  if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) {
    DeliverStreamInfo(metadata->data.stream_info, context);
  } else if (metadata->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && context->deliver_comments) {
    const FLAC__StreamMetadata_VorbisComment& comments = metadata->data.vorbis_comment;
    for (FLAC__uint32 i = 0; i < comments.num_comments; ++i) {
      const FLAC__StreamMetadata_VorbisComment_Entry& entry = comments.comments[i];
      DeliverVorbisComment(reinterpret_cast<const char*>(entry.entry), entry.length,
                           context->sink);
    }
  }
}

void ErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

}  // namespace

Result RunFlacMetadata(SeekableStream* stream, TagSink* sink, bool deliver_comments,
                       uint32_t* audio_start) {
  DecoderContext context = {stream, sink, deliver_comments, 0, rc::kOk};
  const Result sized = stream->GetSize(&context.size);
  if (rc::Failed(sized)) return sized;
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  if (decoder == nullptr) return rc::kOutOfMemory;
  FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (FLAC__stream_decoder_init_stream(decoder, ReadCallback, SeekCallback, TellCallback,
                                       LengthCallback, EofCallback, WriteCallback,
                                       MetadataCallback, ErrorCallback,
                                       &context) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    FLAC__stream_decoder_delete(decoder);
    return rc::kBadData;
  }
  if (sink != nullptr) sink->SetString("codec", "flac");
  const bool processed = FLAC__stream_decoder_process_until_end_of_metadata(decoder);
  // The decoder stops in front of the first frame; a stream that never reached one (no
  // "fLaC", damaged metadata) has no audio to speak of.
  const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder);
  FLAC__uint64 position = 0;
  const bool located = FLAC__stream_decoder_get_decode_position(decoder, &position);
  FLAC__stream_decoder_finish(decoder);
  FLAC__stream_decoder_delete(decoder);
  if (context.failure != rc::kOk) return context.failure;
  if (!processed || (state != FLAC__STREAM_DECODER_SEARCH_FOR_FRAME_SYNC &&
                     state != FLAC__STREAM_DECODER_END_OF_STREAM)) {
    return rc::kBadData;
  }
  *audio_start = located && position <= context.size ? static_cast<uint32_t>(position)
                                                      : context.size;
  return rc::kOk;
}

Result FlacTagReader::Read(SeekableStream* stream, TagSink* sink) {
  // An ID3v2 tag in front of the stream wins over the Vorbis comments.
  uint32_t id3_end = 0;
  Result r = ReadFrontId3Tags(Path(), stream, sink, &id3_end);
  if (rc::Succeeded(r)) r = stream->Seek(0);
  if (rc::Failed(r)) return r;
  const bool has_id3 = id3_end != 0;
  uint32_t audio_start = 0;
  r = RunFlacMetadata(stream, sink, !has_id3, &audio_start);
  sink->SetString("codec", "flac");
  if (rc::Failed(r) || !ComputesFingerprint()) return r;
  uint32_t size = 0;
  std::string rid;
  r = stream->GetSize(&size);
  if (rc::Succeeded(r)) r = ContentFingerprint(stream, audio_start, size, &rid);
  if (rc::Failed(r)) return r;
  sink->SetString("rid", rid.c_str());
  return rc::kOk;
}

Result FlacTagReader::Fingerprint(SeekableStream* stream, std::string* fingerprint) {
  Result r = stream->Seek(0);
  if (rc::Failed(r)) return r;
  uint32_t audio_start = 0;
  r = RunFlacMetadata(stream, nullptr, false, &audio_start);
  if (rc::Failed(r)) return r;
  uint32_t size = 0;
  r = stream->GetSize(&size);
  if (rc::Failed(r)) return r;
  return ContentFingerprint(stream, audio_start, size, fingerprint);
}

Result CreateFlacTagReader(const std::string& path, std::unique_ptr<TagReader>* out) {
  return CreateForPath<TagReader, FlacTagReader>(path, out);
}
