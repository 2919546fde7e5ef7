#include "media/asf_tag_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <new>

#include "media/content_fingerprint.h"
#include "media/metadata_editor.h"
#include "media/record_set.h"
#include "media/utf8_clean.h"
#include "support/clock.h"
#include "support/md5.h"
#include "support/stream.h"
#include "support/stream_io.h"
#include "support/text_convert.h"

namespace {

struct ContentKeyRow {
  const char* name;
  const char* key;
};

const ContentKeyRow kAsfContentKeys[] = {
    {"WM/AlbumTitle", "source"},   {"WM/BeatsPerMinute", "bpm"},
    {"WM/Conductor", "conductor"}, {"WM/ContentDistributor", "provider"},
    {"WM/Composer", "composer"},   {"WM/Genre", "genre"},
    {"WM/Mood", "mood"},           {"WM/OriginalArtist", "originalartist"},
    {"WM/Track", "tracknr"},       {"WM/TrackNumber", "tracknr"},
    {"WM/Writer", "lyricist"},     {"WM/Year", "year"},
};

bool EqualNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

// UTF-16 bytes up to the first zero unit, as UTF-8.
std::string Utf8FromUtf16(const uint8_t* bytes, uint32_t length) {
  return CleanUtf8(WideToUtf8String(WideFromCountedBuffer(bytes, length / 2)));
}

std::string HexDigest(const uint8_t digest[kMd5DigestSize]) {
  char text[2 * kMd5DigestSize + 1];
  for (uint32_t i = 0; i < kMd5DigestSize; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

// Clamped at both ends: a damaged header must not wrap into a plausible value.
uint32_t Clamp32(uint64_t value) {
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

// file_size * 8000 / duration_ms without overflowing the product.
uint32_t AverageBitrate(uint64_t file_size, uint64_t duration_ms) {
  const uint64_t whole = file_size / duration_ms;
  if (whole > UINT32_MAX / 8000) return UINT32_MAX;
  return Clamp32(whole * 8000 + file_size % duration_ms * 8000 / duration_ms);
}

}  // namespace

const char* AsfContentKey(const std::string& name) {
  for (const ContentKeyRow& row : kAsfContentKeys) {
    if (EqualNoCase(name, row.name)) return row.key;
  }
  return nullptr;
}

Result AsfTagReader::OnAsfObject(SeekableStream* stream, const AsfObjectHead& head) {
  typedef void (AsfTagReader::*Handler)(const uint8_t* body, uint32_t size);
  static const struct {
    AsfGuid guid;
    Handler handler;
  } kHandlers[] = {
      {asf::kContentDescription, &AsfTagReader::OnContentDescription},
      {asf::kFileProperties, &AsfTagReader::OnFileProperties},
      {asf::kContentEncryption, &AsfTagReader::OnContentEncryption},
      {asf::kExtendedContentDescription, &AsfTagReader::OnExtendedContentDescription},
      {asf::kStreamProperties, &AsfTagReader::OnStreamProperties},
  };
  for (const auto& row : kHandlers) {
    if (row.guid != head.guid) continue;
    if (head.size > kMaxObjectSize) return rc::kOutOfMemory;
    const uint32_t size = static_cast<uint32_t>(head.size) - asf::kObjectHeadSize;
    std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!body) return rc::kOutOfMemory;
    const Result result = ReadExact(stream, body.get(), size);
    if (rc::Failed(result)) return result;
    (this->*row.handler)(body.get(), size);
    return rc::kOk;
  }
  return rc::kOk;
}

void AsfTagReader::OnContentDescription(const uint8_t* body, uint32_t size) {
  if (size < 10) return;
  std::string texts[5];  // title, author, copyright, description, rating
  uint32_t cursor = 10;
  for (int i = 0; i < 5; ++i) {
    // A length beyond the object takes what the object holds.
    const uint32_t length = std::min<uint32_t>(asf::Le16(body + 2 * i), size - cursor);
    texts[i] = Utf8FromUtf16(body + cursor, length);
    cursor += length;
  }
  // File names are in the ANSI code page; the sink takes UTF-8.
  const std::string title =
      texts[0].empty() ? AnsiToUtf8String(TitleFromFileName(Path())) : texts[0];
  sink_->SetString("title", title.c_str());
  if (!texts[1].empty()) sink_->SetString("artist", texts[1].c_str());
  if (!texts[3].empty()) sink_->SetString("comment", texts[3].c_str());
  title_delivered_ = true;
}

void AsfTagReader::OnFileProperties(const uint8_t* body, uint32_t size) {
  if (size < 80) return;
  const uint64_t file_size = asf::Le64(body + 16);
  const uint64_t duration_ms = asf::Le64(body + 40) / 10000;
  const uint32_t preroll_ms = asf::Le32(body + 56);
  sink_->SetInt("duration", Clamp32(duration_ms > preroll_ms ? duration_ms - preroll_ms : 0));
  if (bitrate_ != 0) return;
  bitrate_ = duration_ms != 0 ? AverageBitrate(file_size, duration_ms) : asf::Le32(body + 76);
  DeliverBitrate();
}

void AsfTagReader::OnStreamProperties(const uint8_t* body, uint32_t size) {
  // The stream type, then the WAVEFORMATEX from body offset 54 up to its average rate.
  if (size < 66) return;
  AsfGuid type;
  std::memcpy(type.bytes, body, sizeof(type.bytes));
  if (type != asf::kAudioMedia) return;
  channels_ = asf::Le16(body + 56);
  sink_->SetInt("samplerate", asf::Le32(body + 58));
  bitrate_ = Clamp32(uint64_t{asf::Le32(body + 62)} * 8);
  DeliverBitrate();
}

void AsfTagReader::OnContentEncryption(const uint8_t* /*body*/, uint32_t /*size*/) {
  sink_->SetString("drm", "msasf");
  protected_ = true;
}

void AsfTagReader::OnExtendedContentDescription(const uint8_t* body, uint32_t size) {
  if (size < 2) return;
  const uint32_t count = asf::Le16(body);
  uint32_t cursor = 2;
  // Every length is checked against what is left of the object; the first descriptor that
  // does not fit ends the list.
  for (uint32_t i = 0; i < count; ++i) {
    if (size - cursor < 2) return;
    const uint16_t name_length = asf::Le16(body + cursor);
    cursor += 2;
    if (size - cursor < name_length + 4u) return;
    const std::string name = Utf8FromUtf16(body + cursor, name_length);
    cursor += name_length;
    const uint16_t type = asf::Le16(body + cursor);
    const uint16_t value_length = asf::Le16(body + cursor + 2);
    cursor += 4;
    if (size - cursor < value_length) return;
    OnDescriptor(name, type, body + cursor, value_length);
    cursor += value_length;
  }
}

void AsfTagReader::OnDescriptor(const std::string& name, uint16_t type, const uint8_t* value,
                                uint16_t length) {
  if (type == asf::kBool) {
    if (name != "IsVBR" || length < 4) return;
    variable_bitrate_ = asf::Le32(value) != 0;
    DeliverBitrate();
    return;
  }
  if (type != asf::kString && type != asf::kDword) return;
  if (type == asf::kDword && length < 4) return;
  const char* key = AsfContentKey(name);
  if (key == nullptr) return;
  if (std::string(key) == "tracknr") {
    OnTrack(EqualNoCase(name, "WM/TrackNumber"), type, value, length);
  } else if (type == asf::kDword) {
    sink_->SetInt(key, asf::Le32(value));
  } else {
    sink_->SetString(key, Utf8FromUtf16(value, length).c_str());
  }
}

// Writers store the track in up to four forms; the later, more exact ones win over the
// earlier, whatever their order in the file.
void AsfTagReader::OnTrack(bool number, uint16_t type, const uint8_t* value, uint16_t length) {
  if (type == asf::kString && number) {
    const std::string text = Utf8FromUtf16(value, length);
    sink_->SetString("tracknr", text.c_str());
    sink_->SetString("file_id", text.c_str());
    track_precedence_ = 3;
    return;
  }
  uint32_t track = 0;
  if (type == asf::kString) {  // "WM/Track" counts from 0
    if (track_precedence_ >= 3) return;
    track = static_cast<uint32_t>(TextToInt32(Utf8FromUtf16(value, length))) + 1;
    track_precedence_ = 2;
  } else if (number) {
    if (track_precedence_ >= 2) return;
    track = asf::Le32(value);
    track_precedence_ = 1;
  } else {  // a double word "WM/Track", counting from 0
    if (track_precedence_ != 0) return;
    track = asf::Le32(value) + 1;
  }
  sink_->SetInt("tracknr", track);
  sink_->SetInt("file_id", track);
}

void AsfTagReader::DeliverBitrate() {
  char text[16];
  std::snprintf(text, sizeof(text), "%c%c%u", variable_bitrate_ ? 'v' : 'f',
                channels_ == 1 ? 'm' : 's',
                static_cast<unsigned>((uint64_t{bitrate_} + 500) / 1000));
  sink_->SetString("bitrate", text);
}

bool AsfTagReader::ProtectedFingerprint(std::string* fingerprint) {
  std::unique_ptr<MetadataEditor> owned;
  MetadataEditor* editor = editor_;
  if (editor == nullptr) {
    owned = CreateWmMetadataEditor(Clock::System());
    editor = owned.get();
    if (editor == nullptr) return false;
  }
  bool found = false;
  uint8_t digest[kMd5DigestSize];
  if (editor->Open(AnsiToWideString(Path())) == rc::kOk) {
    MetadataAttribute cid;
    if (editor->GetAttributeByName(L"DRMHeader.CID", &cid) == rc::kOk) {
      Md5Digest(digest, cid.value.data(), static_cast<int32_t>(cid.value.size()));
      found = true;
    } else {
      const std::wstring album = MetadataString(editor, L"WM/AlbumTitle");
      const std::wstring author = MetadataString(editor, L"Author");
      const std::wstring title = MetadataString(editor, L"Title");
      const uint64_t duration = MetadataQword(editor, L"Duration");
      if (!author.empty() && !title.empty() && duration != 0) {
        char head[17];
        std::snprintf(head, sizeof(head), "%08X%08X", static_cast<unsigned>(duration >> 32),
                      static_cast<unsigned>(duration));
        const std::string text = head + WideToAnsi(album) + WideToAnsi(author) + WideToAnsi(title);
        Md5Digest(digest, text.data(), static_cast<int32_t>(text.size()));
        found = true;
      }
    }
  }
  editor->Close();
  if (found) *fingerprint = HexDigest(digest);
  return found;
}

Result AsfTagReader::Read(SeekableStream* stream, TagSink* sink) {
  sink->SetString("codec", "wma");
  sink_ = sink;
  title_delivered_ = false;
  variable_bitrate_ = false;
  bitrate_ = 0;
  channels_ = 2;
  track_precedence_ = 0;
  protected_ = false;
  const Result walked = WalkAsfHeader(stream, this, nullptr);
  sink_ = nullptr;
  if (rc::Failed(walked)) return walked;

  if (!title_delivered_)
    sink->SetString("title", AnsiToUtf8String(TitleFromFileName(Path())).c_str());
  sink->SetInt("offset", 0);
  if (!ComputesFingerprint()) return rc::kOk;
  std::string rid;
  if (protected_) {
    if (ProtectedFingerprint(&rid)) sink->SetString("rid", rid.c_str());
    return rc::kOk;
  }
  const Result result = Fingerprint(stream, &rid);
  if (rc::Failed(result)) return result;
  sink->SetString("rid", rid.c_str());
  return rc::kOk;
}

Result AsfTagReader::Fingerprint(SeekableStream* stream, std::string* fingerprint) {
  uint32_t audio_start = 0;
  const Result walked = WalkAsfHeader(stream, nullptr, &audio_start);
  if (rc::Failed(walked)) return walked;
  uint32_t size = 0;
  const Result sized = stream->GetSize(&size);
  if (rc::Failed(sized)) return sized;
  return ContentFingerprint(stream, audio_start < size ? audio_start : 0, size, fingerprint);
}

Result CreateAsfTagReader(const std::string& path, std::unique_ptr<TagReader>* out) {
  std::unique_ptr<TagReader> reader(new (std::nothrow) AsfTagReader(path));
  if (!reader) return rc::kOutOfMemory;
  *out = std::move(reader);
  return rc::kOk;
}
