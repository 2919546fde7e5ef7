#include "media/id3_frames.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "media/id3_text.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "support/stream.h"
#include "support/stream_io.h"

namespace {

constexpr Id3Handler kSkip = Id3Handler::kSkip;
constexpr Id3Handler kText = Id3Handler::kText;

}  // namespace

const Id3FrameInfo kId3FrameTable[] = {
    {"AENC", "CRA", "Audio encryption", kSkip},
    {"APIC", "PIC", "Attached picture", Id3Handler::kPicture},
    {"ASPI", "", "Audio seek point index", kSkip},
    {"COMM", "COM", "Comments", Id3Handler::kComment},
    {"COMR", "", "Commercial frame", kSkip},
    {"ENCR", "", "Encryption method registration", kSkip},
    {"EQUA", "EQU", "Equalization", kSkip},
    {"EQU2", "", "Equalisation (2)", kSkip},
    {"ETCO", "ETC", "Event timing codes", kSkip},
    {"GEOB", "GEO", "General encapsulated object", kSkip},
    {"GRID", "", "Group identification registration", kSkip},
    {"IPLS", "IPL", "Involved people list", kSkip},
    {"LINK", "LNK", "Linked information", kSkip},
    {"MCDI", "MCI", "Music CD identifier", kSkip},
    {"MLLT", "MLL", "MPEG location lookup table", kSkip},
    {"OWNE", "", "Ownership frame", kSkip},
    {"PRIV", "", "Private frame", kSkip},
    {"PCNT", "CNT", "Play counter", kSkip},
    {"POPM", "POP", "Popularimeter", kSkip},
    {"POSS", "", "Position synchronisation frame", kSkip},
    {"RBUF", "BUF", "Recommended buffer size", kSkip},
    {"RVAD", "RVA", "Relative volume adjustment", kSkip},
    {"RVA2", "", "Relative volume adjustment (2)", kSkip},
    {"RVRB", "REV", "Reverb", kSkip},
    {"SEEK", "", "Seek frame", kSkip},
    {"SIGN", "", "Signature frame", kSkip},
    {"SYLT", "SLT", "Synchronised lyric/text", kSkip},
    {"SYTC", "STC", "Synchronised tempo codes", kSkip},
    {"TALB", "TAL", "Album/Movie/Show title", kText},
    {"TBPM", "TBP", "BPM (beats per minute)", kText},
    {"TCOM", "TCM", "Composer", kText},
    {"TCON", "TCO", "Content type", kText},
    {"TCOP", "TCR", "Copyright message", kText},
    {"TDAT", "TDA", "Date", kText},
    {"TDEN", "", "Encoding time", kText},
    {"TDLY", "TDY", "Playlist delay", kText},
    {"TDOR", "", "Original release time", kText},
    {"TDRC", "", "Recording time", kText},
    {"TDRL", "", "Release time", kText},
    {"TDTG", "", "Tagging time", kText},
    {"TENC", "TEN", "Encoded by", kText},
    {"TEXT", "TXT", "Lyricist/Text writer", kText},
    {"TFLT", "TFT", "File type", kText},
    {"TIME", "TIM", "Time", kText},
    {"TIPL", "", "Involved people list", kText},
    {"TIT1", "TT1", "Content group description", kText},
    {"TIT2", "TT2", "Title/songname/content description", kText},
    {"TIT3", "TT3", "Subtitle/Description refinement", kText},
    {"TKEY", "TKE", "Initial key", kText},
    {"TLAN", "TLA", "Language(s)", kText},
    {"TLEN", "TLE", "Length", kText},
    {"TMCL", "", "Musician credits list", kText},
    {"TMED", "TMT", "Media type", kText},
    {"TMOO", "", "Mood", kText},
    {"TOAL", "TOT", "Original album/movie/show title", kText},
    {"TOFN", "TOF", "Original filename", kText},
    {"TOLY", "TOL", "Original lyricist(s)/text writer(s)", kText},
    {"TOPE", "TOA", "Original artist(s)/performer(s)", kText},
    {"TORY", "TOR", "Original release year", kText},
    {"TOWN", "", "File owner/licensee", kText},
    {"TPE1", "TP1", "Lead performer(s)/Soloist(s)", kText},
    {"TPE2", "TP2", "Band/orchestra/accompaniment", kText},
    {"TPE3", "TP3", "Conductor/performer refinement", kText},
    {"TPE4", "TP4", "Interpreted, remixed, or otherwise modified by", kText},
    {"TPOS", "TPA", "Part of a set", kText},
    {"TPRO", "", "Produced notice", kText},
    {"TPUB", "TPB", "Publisher", kText},
    {"TRCK", "TRK", "Track number/Position in set", kText},
    {"TRDA", "TRD", "Recording dates", kText},
    {"TRSN", "", "Internet radio station name", kText},
    {"TRSO", "", "Internet radio station owner", kText},
    {"TSIZ", "TSI", "Size", kText},
    {"TSOA", "", "Album sort order", kText},
    {"TSOP", "", "Performer sort order", kText},
    {"TSOT", "", "Title sort order", kText},
    {"TSRC", "TRC", "ISRC (international standard recording code)", kText},
    {"TSSE", "TSS", "Software/Hardware and settings used for encoding", kText},
    {"TSST", "", "Set subtitle", kText},
    {"TXXX", "TXX", "User defined text information frame", kSkip},
    {"TYER", "TYE", "Year", kText},
    {"UFID", "UFI", "Unique file identifier", kSkip},
    {"USER", "", "Terms of use", kSkip},
    {"USLT", "ULT", "Unsynchronised lyric/text transcription", kSkip},
    {"WCOM", "WCM", "Commercial information", kSkip},
    {"WCOP", "WCP", "Copyright/Legal information", kSkip},
    {"WOAF", "WAF", "Official audio file webpage", kSkip},
    {"WOAR", "WAR", "Official artist/performer webpage", kSkip},
    {"WOAS", "WAS", "Official audio source webpage", kSkip},
    {"WORS", "", "Official Internet radio station homepage", kSkip},
    {"WPAY", "", "Payment", kSkip},
    {"WPUB", "WPB", "Publishers official webpage", kSkip},
    {"WXXX", "WXX", "User defined URL link frame", kSkip},
    {"", "", "", kSkip},
};

static_assert(sizeof(kId3FrameTable) / sizeof(kId3FrameTable[0]) == kId3FrameTableRows + 1,
              "frame rows and the end row");

const Id3FrameInfo* FindId3Frame(const char* id) {
  for (const Id3FrameInfo* row = kId3FrameTable; row->id[0] != '\0'; ++row) {
    if (std::memcmp(row->id, id, 4) == 0) return row;
  }
  return nullptr;
}

const Id3FrameInfo* FindId3Frame22(const char* id22) {
  for (const Id3FrameInfo* row = kId3FrameTable; row->id[0] != '\0'; ++row) {
    if (row->id22[0] != '\0' && std::memcmp(row->id22, id22, 3) == 0) return row;
  }
  return nullptr;
}

namespace {

constexpr uint8_t kTagUnsynchronised = 0x80;
constexpr uint8_t kTagExtendedHeader = 0x40;  // in 2.2 the same bit marks a compressed tag

// Format flags of a frame (second flag byte).
constexpr uint8_t kFrame23Compressed = 0x80;
constexpr uint8_t kFrame23Encrypted = 0x40;
constexpr uint8_t kFrame23Grouped = 0x20;
constexpr uint8_t kFrame24Grouped = 0x40;
constexpr uint8_t kFrame24Compressed = 0x08;
constexpr uint8_t kFrame24Encrypted = 0x04;
constexpr uint8_t kFrame24Unsynchronised = 0x02;
constexpr uint8_t kFrame24DataLength = 0x01;


// Four bytes of 7 bits each; false when a byte has bit 7 set.
bool SyncSafe(const uint8_t* bytes, uint32_t* value) {
  *value = 0;
  for (int i = 0; i < 4; ++i) {
    if (bytes[i] > 0x7F) return false;
    *value = *value << 7 | bytes[i];
  }
  return true;
}

Result ReadAt(SeekableStream* stream, uint64_t position, void* buffer, uint32_t length) {
  const Result seek = stream->Seek(static_cast<uint32_t>(position));
  return rc::Failed(seek) ? seek : ReadExact(stream, buffer, length);
}

// Reads in pieces, so that a size no file backs ends at the file's end instead of
// allocating all of it first.
Result ReadRange(SeekableStream* stream, uint32_t position, uint32_t length, std::string* out) {
  constexpr uint32_t kPiece = 0x10000;
  out->clear();
  Result result = stream->Seek(position);
  while (result == rc::kOk && out->size() < length) {
    const uint32_t piece = std::min<uint32_t>(kPiece, length - static_cast<uint32_t>(out->size()));
    const size_t have = out->size();
    out->resize(have + piece);
    result = ReadExact(stream, &(*out)[have], piece);
  }
  return result;
}

// Narrows the body past the bytes that the format flags put in front of it; false for a
// frame whose body cannot be read (compressed, encrypted, or too short for its flags).
bool ApplyFormatFlags(const Id3v2Header& header, uint8_t format, Id3Frame* frame) {
  uint32_t extra = 0;
  if (header.major == 3) {
    if (format & (kFrame23Compressed | kFrame23Encrypted)) return false;
    if (format & kFrame23Grouped) extra += 1;
  } else if (header.major >= 4) {
    if (format & (kFrame24Compressed | kFrame24Encrypted)) return false;
    if (format & kFrame24Grouped) extra += 1;
    if (format & kFrame24DataLength) extra += 4;
    // In 2.4 the tag flag says that every frame is unsynchronised.
    frame->unsynchronised =
        (format & kFrame24Unsynchronised) != 0 || (header.flags & kTagUnsynchronised) != 0;
  }
  if (frame->size <= extra) return false;
  frame->position += extra;
  frame->size -= extra;
  return true;
}

// Whether `at` is where a frame may follow one that ends there: the tag's end, padding, or a
// frame header whose id is four capital letters or digits.
bool EndsOnFrameBoundary(SeekableStream* tag, uint64_t at, uint64_t tag_end) {
  if (at == tag_end) return true;
  if (at > tag_end) return false;
  uint8_t id[4] = {};
  const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(sizeof(id), tag_end - at));
  if (ReadAt(tag, at, id, length) != rc::kOk) return false;
  if (id[0] == 0) return true;
  if (at + 10 > tag_end) return false;
  return std::all_of(id, id + 4, [](uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// A 2.4 frame's size (`raw` is its header at `position`). 2.4 stores sync-safe sizes, but some
// writers stored plain numbers: where the sync-safe reading does not end on a frame boundary
// and the plain one does, the plain one holds. False when neither reading can be taken.
bool Id3v24FrameSize(SeekableStream* tag, const uint8_t* raw, uint64_t position,
                     uint64_t tag_end, uint32_t* size) {
  const uint32_t plain = bytes::Be32(raw + 4);
  uint32_t sync_safe = 0;
  const bool valid = SyncSafe(raw + 4, &sync_safe);
  const uint64_t body = position + 10;
  if (valid && (sync_safe == plain || EndsOnFrameBoundary(tag, body + sync_safe, tag_end))) {
    *size = sync_safe;
    return true;
  }
  if (EndsOnFrameBoundary(tag, body + plain, tag_end)) {
    *size = plain;
    return true;
  }
  *size = sync_safe;
  return valid;
}

// Position of the first frame header, behind an extended header; false when that is damaged.
bool FirstFramePosition(SeekableStream* tag, const Id3v2Header& header, uint64_t tag_end,
                        uint64_t* position) {
  *position = kId3v2HeaderSize;
  if (header.major < 3 || !(header.flags & kTagExtendedHeader)) return true;
  uint8_t raw[4];
  if (ReadAt(tag, kId3v2HeaderSize, raw, sizeof(raw)) != rc::kOk) return false;
  uint64_t length;
  if (header.major == 3) {
    length = 4 + static_cast<uint64_t>(bytes::Be32(raw));  // the size leaves itself out
  } else {
    uint32_t size;
    if (!SyncSafe(raw, &size) || size < 6) return false;
    length = size;
  }
  *position += length;
  return *position <= tag_end;
}

}  // namespace

Result ReadId3FrameBody(SeekableStream* stream, const Id3Frame& frame, std::string* body) {
  const Result result = ReadRange(stream, frame.position, frame.size, body);
  if (result == rc::kOk && frame.unsynchronised) *body = RemoveUnsynchronisation(*body);
  return result;
}

Result ReadId3v2Header(SeekableStream* stream, Id3v2Header* header) {
  uint8_t raw[kId3v2HeaderSize];
  if (ReadAt(stream, 0, raw, sizeof(raw)) != rc::kOk) return rc::kId3v2Short;
  if (std::memcmp(raw, "ID3", 3) != 0) return rc::kId3v2Missing;
  header->major = raw[3];
  header->revision = raw[4];
  header->flags = raw[5];
  // Bit 7 is not masked: a damaged size stays large and is bounded by the file later.
  header->size = ((raw[6] * 128u + raw[7]) * 128u + raw[8]) * 128u + raw[9];
  return header->major > 4 ? rc::kId3v2Version : rc::kOk;
}

void WalkId3v2Frames(SeekableStream* stream, const Id3v2Header& header, uint32_t file_size,
                     Id3FrameVisitor* visitor) {
  if (header.major > 4) return;
  if (header.major <= 2 && (header.flags & kTagExtendedHeader)) return;  // no scheme defined
  // 64-bit positions: a damaged size must not wrap past the checks below.
  uint64_t tag_end = std::min<uint64_t>(header.AudioStart(), file_size);
  if (tag_end <= kId3v2HeaderSize) return;

  // Before 2.4 unsynchronisation covers the whole tag, frame headers included, so the
  // frames are found in a decoded copy.
  SeekableStream* tag = stream;
  MemoryStream copy;
  const bool in_file = header.major >= 4 || !(header.flags & kTagUnsynchronised);
  if (!in_file) {
    std::string body;
    if (ReadRange(stream, kId3v2HeaderSize, static_cast<uint32_t>(tag_end - kId3v2HeaderSize),
                  &body) != rc::kOk)
      return;
    copy = MemoryStream(std::string(kId3v2HeaderSize, '\0') + RemoveUnsynchronisation(body));
    tag = &copy;
    tag_end = copy.Size();
  }

  uint64_t position;
  if (!FirstFramePosition(tag, header, tag_end, &position)) return;
  const bool short_headers = header.major <= 2;
  const uint32_t header_size = short_headers ? 6 : 10;
  while (position + header_size <= tag_end) {
    uint8_t raw[10];
    if (ReadAt(tag, position, raw, header_size) != rc::kOk || raw[0] == 0) return;
    Id3Frame frame{};
    uint8_t format = 0;
    if (short_headers) {
      const Id3FrameInfo* row = FindId3Frame22(reinterpret_cast<const char*>(raw));
      std::memcpy(frame.id, row != nullptr ? row->id : "TXXX", 4);
      std::memcpy(frame.id22, raw, 3);
      frame.size = bytes::Be24(raw + 3);
    } else {
      std::memcpy(frame.id, raw, 4);
      if (header.major >= 4) {
        if (!Id3v24FrameSize(tag, raw, position, tag_end, &frame.size)) return;
      } else {
        frame.size = bytes::Be32(raw + 4);
      }
      format = raw[9];
      frame.status_flags = raw[8];
      frame.format_flags = raw[9];
    }
    const uint64_t body = position + header_size;
    if (body + frame.size > tag_end) return;
    position = body + frame.size;
    if (frame.size == 0) continue;  // holds nothing; the frames behind it count

    frame.info = FindId3Frame(frame.id);
    frame.major = header.major;
    frame.position = static_cast<uint32_t>(body);
    frame.in_file = in_file;
    if (header.major == 3 && (format & (kFrame23Compressed | kFrame23Encrypted))) {
      visitor->OnSealedFrame(tag, frame);
    } else if (header.major >= 4 && (format & (kFrame24Compressed | kFrame24Encrypted))) {
      frame.unsynchronised =
          (format & kFrame24Unsynchronised) != 0 || (header.flags & kTagUnsynchronised) != 0;
      visitor->OnSealedFrame(tag, frame);
    } else if (ApplyFormatFlags(header, format, &frame)) {
      visitor->OnFrame(tag, frame);
    }
  }
}
