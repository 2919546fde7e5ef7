#include "media/ogg_tag_writer.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "media/create_for_path.h"
#include "media/id3_frames.h"
#include "media/id3_tag_writer.h"
#include "media/tag_reader.h"
#include "media/vorbis_comment_keys.h"
#include "support/byte_order.h"
#include "support/file_stream.h"
#include "support/stream_io.h"

namespace {

constexpr uint32_t kReadPiece = 8192;
constexpr int kHeaderPackets = 3;

// Pages of one input file, read as they are needed.
class PageReader {
 public:
  explicit PageReader(Stream* in) : in_(in) { ogg_sync_init(&sync_); }
  ~PageReader() { ogg_sync_clear(&sync_); }

  // 1 with a page, 0 at the clean end of the data; rc::kBadData when the data ends inside a
  // page, or the read's failure.
  Result Next(ogg_page* page) {
    while (true) {
      const int got = ogg_sync_pageout(&sync_, page);
      if (got == 1) return 1;
      if (got < 0) continue;  // bytes that are no page are skipped
      char* buffer = ogg_sync_buffer(&sync_, kReadPiece);
      if (buffer == nullptr) return rc::kOutOfMemory;
      uint32_t count = 0;
      const Result r = ReadUpTo(in_, buffer, kReadPiece, &count);
      if (rc::Failed(r)) return r;
      if (count == 0) return sync_.fill > sync_.returned ? rc::kBadData : 0;
      ogg_sync_wrote(&sync_, static_cast<long>(count));
    }
  }

 private:
  Stream* in_;
  ogg_sync_state sync_;
};

Result WritePage(Stream* out, const ogg_page& page) {
  Result r = WriteExact(out, page.header, static_cast<uint32_t>(page.header_len));
  if (rc::Succeeded(r)) r = WriteExact(out, page.body, static_cast<uint32_t>(page.body_len));
  return r;
}

std::string LowerField(const char* entry) {
  std::string field;
  for (const char* c = entry; *c != '\0' && *c != '='; ++c) {
    field += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  }
  return field;
}

// The Vorbis headers of the first logical stream and the state of their rewrite.
class HeaderRewrite {
 public:
  HeaderRewrite() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&old_comment_);
  }
  ~HeaderRewrite() {
    if (streams_ready_) {
      ogg_stream_clear(&in_);
      ogg_stream_clear(&out_);
    }
    vorbis_comment_clear(&old_comment_);
    vorbis_info_clear(&info_);
  }

  // Reads pages up to the end of the three header packets and writes the new header pages;
  // pages of other streams met on the way are copied as they come.
  Result Run(PageReader* pages, Stream* out, const std::map<std::string, std::string>& values) {
    int packets = 0;
    while (packets < kHeaderPackets) {
      ogg_page page;
      const Result got = pages->Next(&page);
      if (got == 0) return rc::kNoTagHandler;  // the headers never came
      if (rc::Failed(got)) return got;
      if (!streams_ready_) {
        if (!ogg_page_bos(&page)) return rc::kNoTagHandler;
        serial_ = ogg_page_serialno(&page);
        ogg_stream_init(&in_, serial_);
        ogg_stream_init(&out_, serial_);
        streams_ready_ = true;
      }
      if (ogg_page_serialno(&page) != serial_) {
        const Result r = WritePage(out, page);
        if (rc::Failed(r)) return r;
        continue;
      }
      ++input_header_pages_;
      if (ogg_stream_pagein(&in_, &page) != 0) return rc::kBadData;
      ogg_packet packet;
      while (packets < kHeaderPackets && ogg_stream_packetout(&in_, &packet) == 1) {
        // Each packet must be the Vorbis header of its place, else this is no Vorbis stream.
        if (vorbis_synthesis_headerin(&info_, &old_comment_, &packet) != 0) {
          return rc::kNoTagHandler;
        }
        const Result r = Emit(packets, &packet, out, values);
        if (rc::Failed(r)) return r;
        ++packets;
      }
    }
    // Audio begins on a page of its own; a header page that holds more is not rewritten.
    ogg_packet extra;
    if (ogg_stream_packetpeek(&in_, &extra) != 0) return rc::kBadData;
    return Flush(out);
  }

  int serial() const { return serial_; }
  // How far the page numbers of the stream's later pages move.
  long PageShift() const { return output_header_pages_ - input_header_pages_; }

 private:
  Result Emit(int index, ogg_packet* packet, Stream* out,
              const std::map<std::string, std::string>& values) {
    if (index == 1) {
      ogg_packet comment_packet;
      vorbis_comment comment;
      BuildComment(values, &comment);
      const int made = vorbis_commentheader_out(&comment, &comment_packet);
      vorbis_comment_clear(&comment);
      if (made != 0) return rc::kFail;
      ogg_stream_packetin(&out_, &comment_packet);
      ogg_packet_clear(&comment_packet);
      return rc::kOk;
    }
    ogg_stream_packetin(&out_, packet);
    // The identification header has the first page to itself.
    return index == 0 ? Flush(out) : rc::kOk;
  }

  void BuildComment(const std::map<std::string, std::string>& values, vorbis_comment* comment) {
    vorbis_comment_init(comment);
    vorbis_comment_add_tag(comment, "ENCODER", "libvorbis-1.0");
    std::set<std::string> replaced = {"encoder"};
    for (const auto& pair : values) {
      const std::string field = KeyToVorbisName(pair.first);
      if (!field.empty()) replaced.insert(LowerField(field.c_str()));
    }
    // Cover art, disc numbers and every other field nobody asked to change stay.
    for (int i = 0; i < old_comment_.comments; ++i) {
      const char* entry = old_comment_.user_comments[i];
      if (replaced.count(LowerField(entry)) == 0) vorbis_comment_add(comment, entry);
    }
    for (const auto& pair : values) {
      const std::string field = KeyToVorbisName(pair.first);
      if (!field.empty() && !pair.second.empty()) {
        vorbis_comment_add_tag(comment, field.c_str(), pair.second.c_str());
      }
    }
  }

  Result Flush(Stream* out) {
    ogg_page page;
    while (ogg_stream_flush(&out_, &page) != 0) {
      ++output_header_pages_;
      const Result r = WritePage(out, page);
      if (rc::Failed(r)) return r;
    }
    return rc::kOk;
  }

  vorbis_info info_;
  vorbis_comment old_comment_;
  ogg_stream_state in_;
  ogg_stream_state out_;
  bool streams_ready_ = false;
  int serial_ = 0;
  long input_header_pages_ = 0;
  long output_header_pages_ = 0;
};

// Copies the remaining pages; the stream's own pages are renumbered behind the new headers.
Result CopyPages(PageReader* pages, Stream* out, int serial, long shift) {
  while (true) {
    ogg_page page;
    const Result got = pages->Next(&page);
    if (got == 0) return rc::kOk;
    if (rc::Failed(got)) return got;
    if (shift != 0 && ogg_page_serialno(&page) == serial) {
      bytes::PutLe32(page.header + 18, static_cast<uint32_t>(ogg_page_pageno(&page) + shift));
      ogg_page_checksum_set(&page);
    }
    const Result r = WritePage(out, page);
    if (rc::Failed(r)) return r;
  }
}

// Copies an ID3v2 tag in front of the stream (readers step over it) as it is; *tag_end is
// where the stream begins, *id3_readable whether the tag is of a version the ID3 writer takes.
Result CopyFrontId3Tag(SeekableStream* in, Stream* out, uint32_t* tag_end, bool* id3_readable) {
  *tag_end = 0;
  *id3_readable = false;
  uint32_t size = 0;
  Result r = in->GetSize(&size);
  if (rc::Failed(r)) return r;
  Id3v2Header header;
  const Result probe = ReadId3v2Header(in, &header);
  if (probe == rc::kOk || probe == rc::kId3v2Version) {
    *tag_end = std::min(header.AudioStart(), size);
    *id3_readable = probe == rc::kOk;
  }
  r = in->Seek(0);
  std::string block;
  for (uint32_t at = 0; rc::Succeeded(r) && at < *tag_end; at += kReadPiece) {
    const uint32_t length = std::min(kReadPiece, *tag_end - at);
    block.resize(length);
    r = ReadExact(in, &block[0], length);
    if (rc::Succeeded(r)) r = WriteExact(out, block.data(), length);
  }
  return r;
}

}  // namespace

Result OggVorbisTagWriter::SetProperty(const char* key, const char* value) {
  values_[key] = value;
  return rc::kOk;
}

Result OggVorbisTagWriter::Write() {
  std::unique_ptr<FileStream> in;
  Result r = OpenFileStream(path_.c_str(), OpenRead, &in);
  if (rc::Failed(r)) return r;
  SiblingFile sibling(path_, "ogg_writer");
  r = sibling.Open();
  if (rc::Failed(r)) return r;
  uint32_t tag_end = 0;
  bool id3_readable = false;
  r = CopyFrontId3Tag(in.get(), sibling.Stream(), &tag_end, &id3_readable);
  if (rc::Failed(r)) return r;
  {
    PageReader pages(in.get());
    HeaderRewrite headers;
    r = headers.Run(&pages, sibling.Stream(), values_);
    if (rc::Succeeded(r)) r = CopyPages(&pages, sibling.Stream(), headers.serial(), headers.PageShift());
  }
  in->Close();
  if (rc::Failed(r)) return r;
  if (id3_readable) {
    // Readers take the tags of an ID3 tag in front over the comments: it gets the values too,
    // in the new copy, so that a failure leaves the original as it was.
    r = sibling.Stream()->Close();
    if (rc::Succeeded(r)) r = WriteId3Tag(sibling.Name());
    if (rc::Failed(r)) return r;
  }
  return sibling.Commit();
}

Result OggVorbisTagWriter::WriteId3Tag(const std::string& path) const {
  Id3TagWriter id3(path);
  for (const auto& pair : values_) id3.SetProperty(pair.first.c_str(), pair.second.c_str());
  return id3.Write();
}

Result CreateOggVorbisTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out) {
  return CreateForPath<TagWriter, OggVorbisTagWriter>(path, out);
}
