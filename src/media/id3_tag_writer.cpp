#include "media/id3_tag_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/create_for_path.h"
#include "media/id3_genres.h"
#include "media/id3_text.h"
#include "media/id3v23_frames.h"
#include "support/byte_order.h"
#include "support/file_helpers.h"
#include "support/file_stream.h"
#include "support/stream_io.h"
#include "support/text_convert.h"

namespace {

constexpr const char* kTrace = "id3_writer";
constexpr uint32_t kNewTagPadding = 512;  // room for later edits in a tag that grew
constexpr uint32_t kCopyBlock = 65536;
constexpr uint32_t kId3v1Size = 128;

enum class Encoder { kText, kNumber, kComment };

// Flags of 2.3 frames.
constexpr uint8_t kDiscardOnTagChange23 = 0x80;  // status
constexpr uint8_t kGrouped23 = 0x20;             // format

const struct FrameRow {
  const char* key;
  const char* id;
  Encoder encoder;
} kId3WriterFrames[] = {
    {"artist", "TPE1", Encoder::kText},        {"source", "TALB", Encoder::kText},
    {"title", "TIT2", Encoder::kText},         {"year", "TYER", Encoder::kNumber},
    {"comment", "COMM", Encoder::kComment},    {"genre", "TCON", Encoder::kText},
    {"tracknr", "TRCK", Encoder::kNumber},     {"bpm", "TBPM", Encoder::kNumber},
    {"duration", "TLEN", Encoder::kText},      {"subtitle", "TIT3", Encoder::kText},
    {"composer", "TCOM", Encoder::kText},      {"ensemble", "TPE2", Encoder::kText},
    {"conductor", "TPE3", Encoder::kText},     {"remixed", "TPE4", Encoder::kText},
    {"partofset", "TPOS", Encoder::kText},     {"partname", "TSST", Encoder::kText},
    {"isrc", "TSRC", Encoder::kText},          {"originalartist", "TOPE", Encoder::kText},
    {"lyricist", "TEXT", Encoder::kText},      {"key", "TKEY", Encoder::kText},
    {"language", "TLAN", Encoder::kText},      {"sourcemedia", "TMED", Encoder::kText},
    {"mood", "TMOO", Encoder::kText},          {"sourcesort", "TSOA", Encoder::kText},
    {"artistsort", "TSOP", Encoder::kText},    {"titlesort", "TSOT", Encoder::kText},
};

// ID3v1 fields: offset and length.
constexpr size_t kV1Title = 3, kV1Artist = 33, kV1Album = 63, kV1Year = 93, kV1Comment = 97;
enum : uint8_t {
  kMaskTitle = 0x01, kMaskArtist = 0x02, kMaskAlbum = 0x04, kMaskYear = 0x08,
  kMaskComment = 0x10, kMaskGenre = 0x20, kMaskTrack = 0x40,
};

std::string CommentBody(const std::string& value) {
  const std::string text = Id3TextBody(value);
  if (text.empty()) return "";
  const bool wide = text[0] == 1;
  return std::string(1, text[0]) + "XXX" + std::string(wide ? 2 : 1, '\0') + text.substr(1);
}

std::string EncodeFrame(const FrameRow& row, const std::string& value) {
  if (row.encoder == Encoder::kNumber && value == "0") return "";
  const std::string body = row.encoder == Encoder::kComment ? CommentBody(value)
                                                            : Id3TextBody(value);
  return body.empty() ? "" : Id3v23Frame(row.id, body);
}

void CopyField(uint8_t* field, size_t length, const std::string& text) {
  std::memset(field, 0, length);
  std::memcpy(field, text.data(), std::min(length, text.size()));
}

std::string SyncSafeHeader(uint32_t size) {
  std::string header("ID3\x03\x00\x00", 6);
  for (int shift = 21; shift >= 0; shift -= 7) header += static_cast<char>((size >> shift) & 0x7F);
  return header;
}

// A new tag of `frames` with room for later edits behind them.
std::string PaddedTag(const std::string& frames) {
  const uint32_t tag_size = static_cast<uint32_t>(frames.size()) + kNewTagPadding;
  std::string tag = SyncSafeHeader(tag_size) + frames;
  tag.resize(tag_size + kId3v2HeaderSize, '\0');
  return tag;
}

// The old tag's size and whether it may be rewritten: its size bytes are sync-safe and the
// tag lies within the file. 0 for a file without a tag.
Result OldTagSize(SeekableStream* file, uint32_t file_size, uint32_t* size, bool* valid,
                  Id3v2Header* header) {
  *size = 0;
  *valid = true;
  const Result r = ReadId3v2Header(file, header);
  if (r == rc::kId3v2Missing || r == rc::kId3v2Short) return rc::kOk;
  if (rc::Failed(r)) {
    *valid = false;  // a version we cannot read: its frames would be lost
    return rc::kOk;
  }
  uint8_t raw[4];
  Result read = file->Seek(6);
  if (rc::Succeeded(read)) read = ReadExact(file, raw, 4);
  if (rc::Failed(read)) return read;
  const bool sync_safe = (raw[0] | raw[1] | raw[2] | raw[3]) < 0x80;
  *size = bytes::SyncSafe32(raw) + kId3v2HeaderSize;
  // A 2.4 footer repeats the header behind the tag; it goes with the old tag.
  if (header->major == 4 && (header->flags & 0x10)) *size += kId3v2HeaderSize;
  *valid = sync_safe && *size <= file_size;
  return rc::kOk;
}

}  // namespace

Id3TagWriter::Id3TagWriter(std::string path) : path_(std::move(path)) {
  std::memcpy(id3v1_, "TAG", 3);
}

Result Id3TagWriter::SetProperty(const char* key_text, const char* value_text) {
  const std::string key = key_text;
  const std::string value = value_text;
  for (const FrameRow& row : kId3WriterFrames) {
    if (key != row.key) continue;
    replaced_.insert(row.id);
    // A later value for the key replaces the earlier one.
    new_frames_.erase(std::remove_if(new_frames_.begin(), new_frames_.end(),
                                     [&row](const NewFrame& f) { return f.id == row.id; }),
                      new_frames_.end());
    new_frames_.push_back({row.id, EncodeFrame(row, value)});
  }
  const std::string ansi = Utf8ToAnsiString(value);
  if (key == "title") {
    CopyField(id3v1_ + kV1Title, 30, ansi);
    id3v1_mask_ |= kMaskTitle;
  } else if (key == "artist") {
    CopyField(id3v1_ + kV1Artist, 30, ansi);
    id3v1_mask_ |= kMaskArtist;
  } else if (key == "source") {
    CopyField(id3v1_ + kV1Album, 30, ansi);
    id3v1_mask_ |= kMaskAlbum;
  } else if (key == "year") {
    CopyField(id3v1_ + kV1Year, 4, ansi);
    id3v1_mask_ |= kMaskYear;
  } else if (key == "comment") {
    CopyField(id3v1_ + kV1Comment, (id3v1_mask_ & kMaskTrack) ? 28 : 30, ansi);
    id3v1_mask_ |= kMaskComment;
  } else if (key == "tracknr") {
    id3v1_[125] = 0;
    id3v1_[126] = static_cast<uint8_t>(std::atoi(ansi.c_str()));
    id3v1_mask_ |= kMaskTrack;
  } else if (key == "genre") {
    const int32_t genre = GenreNumber(ansi);
    id3v1_[127] = genre < 0 ? 0xFF : static_cast<uint8_t>(genre);
    id3v1_mask_ |= kMaskGenre;
  }
  return rc::kOk;
}

bool Id3TagWriter::Replaces(const std::string& id, const std::string& body) {
  if (replaced_.count(id) == 0) return false;
  if (id != "COMM") return true;
  // Only the comment that readers show goes: the first without a description. Comments of
  // other applications (volume levels, disc ids) stay.
  std::string description;
  if (comment_replaced_ || !DecodeId3CommentDescription(body, &description) ||
      !description.empty())
    return false;
  comment_replaced_ = true;
  return true;
}

void Id3TagWriter::OnFrame(SeekableStream* stream, const Id3Frame& frame) {
  const std::string id(frame.id, 4);
  std::string body;
  if (rc::Failed(ReadId3FrameBody(stream, frame, &body)) || Replaces(id, body)) return;
  if (frame.major == 3) {
    // The grouping byte was read past; the kept body no longer carries it.
    KeepId3v23Frame(frame, frame.format_flags & static_cast<uint8_t>(~kGrouped23), body);
    return;
  }
  // Frames of 2.2 and 2.4 tags in their 2.3 form; a new value replaces what they become.
  for (const Id3v23Part& part : ConvertToId3v23(frame, body)) {
    const bool replaced = part.id != id && replaced_.count(part.id) != 0;
    if (!replaced && !part.body.empty())
      kept_frames_ += Id3v23Frame(part.id.c_str(), part.body, part.status_flags);
  }
}

void Id3TagWriter::OnSealedFrame(SeekableStream* stream, const Id3Frame& frame) {
  // A sealed comment's description cannot be read: it is none that readers show, and stays.
  const std::string id(frame.id, 4);
  if (id != "COMM" && replaced_.count(id) != 0) return;
  std::string body;
  if (rc::Failed(ReadId3FrameBody(stream, frame, &body))) return;
  if (frame.major == 3) {
    KeepId3v23Frame(frame, frame.format_flags, body);
  } else {
    AppendSealedAsId3v23(frame, body, &kept_frames_);
  }
}

void Id3TagWriter::KeepId3v23Frame(const Id3Frame& frame, uint8_t format_flags,
                                   const std::string& body) {
  // A frame that asks to be dropped when the tag changes is dropped.
  if (frame.status_flags & kDiscardOnTagChange23) return;
  kept_frames_ += Id3v23Frame(frame.id, body, frame.status_flags, format_flags);
}

Result Id3TagWriter::Write() {
  std::unique_ptr<FileStream> file;
  Result r = open_file_ ? open_file_(path_, OpenRead | OpenWrite, &file)
                        : OpenFileStream(path_.c_str(), OpenRead | OpenWrite, &file);
  if (rc::Failed(r)) return r;
  uint32_t file_size = 0;
  r = file->GetSize(&file_size);
  uint32_t old_size = 0;
  bool valid = true;
  Id3v2Header header;
  if (rc::Succeeded(r)) r = OldTagSize(file.get(), file_size, &old_size, &valid, &header);
  if (rc::Failed(r)) return r;
  if (!valid) {
    // A damaged size or an unknown version: writing behind it could bury or lose the audio.
    TraceWriter(kTrace, "Couldn't read old tag of '%s'\n", path_.c_str());
    return rc::kBadData;
  }
  kept_frames_.clear();
  comment_replaced_ = false;
  if (old_size > 0) WalkId3v2Frames(file.get(), header, file_size, this);
  std::string frames;
  for (const NewFrame& frame : new_frames_) frames += frame.bytes;
  frames += kept_frames_;

  if (old_size > 0 && frames.size() + kId3v2HeaderSize <= old_size) {
    std::string tag = SyncSafeHeader(old_size - kId3v2HeaderSize) + frames;
    tag.resize(old_size, '\0');
    r = file->Seek(0);
    if (rc::Succeeded(r)) r = WriteExact(file.get(), tag.data(), static_cast<uint32_t>(tag.size()));
    const Result closed = file->Close();
    if (rc::Succeeded(r)) r = closed;
  } else if (grow_in_place_) {
    r = GrowInPlace(file.get(), file_size, old_size, frames);
  } else {
    r = RewriteThroughSibling(file.get(), old_size, frames);
    file->Close();
    if (rc::Succeeded(r)) {
      std::unique_ptr<FileStream> check;
      r = OpenFileStream(path_.c_str(), OpenRead | OpenWrite, &check);
      if (rc::Failed(r)) TraceWriter(kTrace, "Can't reopen new file (%x)\n", static_cast<unsigned>(r));
    }
  }
  if (rc::Failed(r)) return r;
  return UpdateId3v1InPlace();
}

Result Id3TagWriter::RewriteThroughSibling(FileStream* original, uint32_t old_size,
                                           const std::string& frames) {
  SiblingFile sibling(path_, kTrace);
  Result r = sibling.Open();
  if (rc::Failed(r)) return r;
  const std::string tag = PaddedTag(frames);
  r = WriteExact(sibling.Stream(), tag.data(), static_cast<uint32_t>(tag.size()));
  if (rc::Failed(r)) {
    TraceWriter(kTrace, "Couldn't open new file '%s'\n", sibling.Name().c_str());
    return r;
  }
  r = original->Seek(old_size);
  std::string block(kCopyBlock, '\0');
  while (rc::Succeeded(r)) {
    uint32_t got = 0;
    r = ReadUpTo(original, &block[0], kCopyBlock, &got);
    if (rc::Succeeded(r) && got > 0) r = WriteExact(sibling.Stream(), block.data(), got);
    if (got < kCopyBlock) break;
  }
  if (rc::Failed(r)) {
    TraceWriter(kTrace, "Couldn't copy file (%x)\n", static_cast<unsigned>(r));
    return r;
  }
  original->Close();
  return sibling.Commit();
}

Result Id3TagWriter::GrowInPlace(FileStream* file, uint32_t file_size, uint32_t old_size,
                                 const std::string& frames) {
  const std::string tag = PaddedTag(frames);
  const uint32_t growth = static_cast<uint32_t>(tag.size()) - old_size;
  if (file_size > UINT32_MAX - growth) return rc::kBadData;
  // The file is hidden while its audio moves, and a pass skips hidden files: a growth cut
  // short (the drive pulled) leaves a damaged file that no library lists as a track. It is
  // shown again only when it is whole.
  Result r = SetHiddenAttribute(path_, true);
  if (rc::Failed(r)) {
    file->Close();
    return r;
  }
  r = file->SetSize(file_size + growth);
  if (rc::Failed(r)) {
    // The zeros of a part-way growth go again, and with them the damage.
    const bool whole = rc::Succeeded(file->SetSize(file_size));
    TraceWriter(kTrace, "Couldn't grow '%s' (%x)\n", path_.c_str(), static_cast<unsigned>(r));
    if (rc::Succeeded(file->Close()) && whole) SetHiddenAttribute(path_, false);
    return r;
  }
  std::string block(kCopyBlock, '\0');
  for (uint32_t end = file_size; rc::Succeeded(r) && end > old_size;) {
    const uint32_t length = std::min(kCopyBlock, end - old_size);
    end -= length;
    r = file->Seek(end);
    if (rc::Succeeded(r)) r = ReadExact(file, &block[0], length);
    if (rc::Succeeded(r)) r = file->Seek(end + growth);
    if (rc::Succeeded(r)) r = WriteExact(file, block.data(), length);
  }
  if (rc::Succeeded(r)) r = file->Seek(0);
  if (rc::Succeeded(r)) r = WriteExact(file, tag.data(), static_cast<uint32_t>(tag.size()));
  const Result closed = file->Close();
  if (rc::Succeeded(r)) r = closed;
  if (rc::Succeeded(r)) r = SetHiddenAttribute(path_, false);
  if (rc::Failed(r)) {
    TraceWriter(kTrace, "Growth of '%s' cut short (%x)\n", path_.c_str(),
                static_cast<unsigned>(r));
  }
  return r;
}

Result Id3TagWriter::UpdateId3v1InPlace() {
  std::unique_ptr<FileStream> file;
  Result r = OpenFileStream(path_.c_str(), OpenRead | OpenWrite, &file);
  if (rc::Failed(r)) return r;
  uint32_t size = 0;
  r = file->GetSize(&size);
  uint8_t old[kId3v1Size];
  if (rc::Succeeded(r) && size >= kId3v1Size) {
    r = file->Seek(size - kId3v1Size);
    if (rc::Succeeded(r)) r = ReadExact(file.get(), old, kId3v1Size);
    if (rc::Succeeded(r) && std::memcmp(old, "TAG", 3) == 0) {
      const struct {
        uint8_t mask;
        size_t offset;
        size_t length;
      } fields[] = {{kMaskTitle, kV1Title, 30}, {kMaskArtist, kV1Artist, 30},
                    {kMaskAlbum, kV1Album, 30}, {kMaskYear, kV1Year, 4}, {kMaskGenre, 127, 1}};
      for (const auto& f : fields) {
        if (id3v1_mask_ & f.mask) std::memcpy(old + f.offset, id3v1_ + f.offset, f.length);
      }
      if (id3v1_mask_ & kMaskComment) {
        std::memcpy(old + kV1Comment, id3v1_ + kV1Comment, old[125] == 0 ? 28 : 30);
      }
      if (id3v1_mask_ & kMaskTrack) {
        old[125] = 0;
        old[126] = id3v1_[126];
      }
      r = file->Seek(size - kId3v1Size + 3);
      if (rc::Succeeded(r)) r = WriteExact(file.get(), old + 3, kId3v1Size - 3);
    }
  }
  const Result closed = file->Close();
  return rc::Succeeded(r) ? closed : r;
}

Result CreateId3TagWriter(const std::string& path, std::unique_ptr<TagWriter>* out) {
  return CreateForPath<TagWriter, Id3TagWriter>(path, out);
}
