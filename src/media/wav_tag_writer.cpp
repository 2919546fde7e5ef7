#include "media/wav_tag_writer.h"

#include <algorithm>
#include <vector>

#include "media/create_for_path.h"
#include "media/riff.h"
#include "media/tag_reader.h"
#include "support/byte_order.h"
#include "support/file_stream.h"
#include "support/stream_io.h"
#include "support/text_convert.h"

namespace {

constexpr uint32_t kCopyPiece = 4096;

const struct {
  const char* key;
  const char* id;
} kInfoIds[] = {{"artist", "IART"}, {"comment", "ICMT"}, {"year", "ICRD"}, {"genre", "IGNR"},
                {"title", "INAM"},  {"source", "IPRD"},  {"tracknr", "itrk"},
                // The players read "itrk"; exiftool and ffprobe read "ITRK".
                {"tracknr", "ITRK"}};
// Track entries other tools write (ffmpeg "IPRT"); a new track number replaces them too.
const char* const kOtherTrackIds[] = {"IPRT", "TRCK"};

uint32_t IdOf(const char* id) { return bytes::Le32(reinterpret_cast<const uint8_t*>(id)); }

// Whether an old INFO entry gives way to the values being written.
bool IsReplaced(uint32_t id, const std::map<std::string, std::string>& values) {
  for (const auto& row : kInfoIds) {
    if (IdOf(row.id) == id && values.count(row.key) != 0) return true;
  }
  for (const char* other : kOtherTrackIds) {
    if (IdOf(other) == id && values.count("tracknr") != 0) return true;
  }
  return false;
}

// The entries of one INFO list body (behind its type) that stay, each with its pad byte; a
// damaged tail of the list is dropped.
std::string KeptInfoEntries(const std::string& list,
                            const std::map<std::string, std::string>& values) {
  std::string kept;
  size_t at = 0;
  while (list.size() - at >= 8) {
    const uint32_t id = bytes::Le32(reinterpret_cast<const uint8_t*>(list.data() + at));
    const uint32_t size = bytes::Le32(reinterpret_cast<const uint8_t*>(list.data() + at + 4));
    const size_t rest = list.size() - at - 8;
    if (size > rest) break;
    const size_t taken = static_cast<size_t>(std::min<uint64_t>(PaddedSize(size), rest));
    if (!IsReplaced(id, values)) {
      kept += list.substr(at, 8 + size);
      if (size & 1) kept += '\0';
    }
    at += 8 + taken;
  }
  return kept;
}

std::string Le32Bytes(uint32_t value) {
  uint8_t raw[4];
  bytes::PutLe32(raw, value);
  return std::string(reinterpret_cast<char*>(raw), 4);
}

Result Copy(Stream* from, Stream* to, uint64_t length) {
  char buffer[kCopyPiece];
  while (length > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(length, kCopyPiece));
    Result r = ReadExact(from, buffer, piece);
    if (rc::Succeeded(r)) r = WriteExact(to, buffer, piece);
    if (rc::Failed(r)) return r;
    length -= piece;
  }
  return rc::kOk;
}

// Copies every chunk but the INFO lists, whose bodies behind the list type go to `info_lists`
// one list each; rc::kNoTagHandler when a chunk runs past the RIFF size.
Result CopyChunks(SeekableStream* in, Stream* out, uint32_t riff_size,
                  std::vector<std::string>* info_lists) {
  uint64_t rest = riff_size >= 4 ? riff_size - 4 : 0;
  while (rest >= 8) {
    uint32_t id = 0;
    uint32_t size = 0;
    Result r = ReadLe32(in, &id);
    if (rc::Succeeded(r)) r = ReadLe32(in, &size);
    if (rc::Failed(r)) return r;
    if (size > rest - 8) return rc::kNoTagHandler;
    // The pad byte goes with its chunk; a last chunk without one gets it in the copy.
    const bool pad_in_file = (size & 1) && rest - 8 - size >= 1;
    rest -= 8 + size + (pad_in_file ? 1 : 0);
    if (id == FourCc("LIST") && size >= 4) {
      uint32_t type = 0;
      r = ReadLe32(in, &type);
      if (rc::Failed(r)) return r;
      if (type == FourCc("INFO")) {
        // The list is held whole, so its size must be in the file, not only in the RIFF size.
        uint32_t at = 0;
        uint32_t file_size = 0;
        r = in->GetPosition(&at);
        if (rc::Succeeded(r)) r = in->GetSize(&file_size);
        if (rc::Succeeded(r) && (at > file_size || size - 4 > file_size - at))
          r = rc::kNoTagHandler;
        if (rc::Failed(r)) return r;
        info_lists->emplace_back(size - 4, '\0');
        r = ReadExact(in, &info_lists->back()[0], size - 4);
        if (rc::Succeeded(r) && pad_in_file) r = SkipForward(in, 1);
        if (rc::Failed(r)) return r;
        continue;
      }
      r = WriteExact(out, (Le32Bytes(id) + Le32Bytes(size) + Le32Bytes(type)).data(), 12);
      if (rc::Succeeded(r)) r = Copy(in, out, size - 4);
    } else {
      r = WriteExact(out, (Le32Bytes(id) + Le32Bytes(size)).data(), 8);
      if (rc::Succeeded(r)) r = Copy(in, out, size);
    }
    if (rc::Succeeded(r) && (size & 1)) {
      if (pad_in_file) r = SkipForward(in, 1);
      if (rc::Succeeded(r)) r = WriteExact(out, "", 1);
    }
    if (rc::Failed(r)) return r;
  }
  return rc::kOk;
}

}  // namespace

std::string BuildInfoList(const std::map<std::string, std::string>& values,
                          const std::vector<std::string>& old_lists) {
  std::string data = "INFO";
  for (const auto& row : kInfoIds) {
    const auto value = values.find(row.key);
    if (value == values.end() || value->second.empty()) continue;
    const std::string key = row.key;
    if ((key == "year" || key == "tracknr") && value->second == "0") continue;
    std::string body = value->second + '\0';
    if (body.size() & 1) body += '\0';
    data += std::string(row.id, 4) + Le32Bytes(static_cast<uint32_t>(body.size())) + body;
  }
  // Each old list is walked on its own: a damaged end of one costs nothing of the next.
  for (const std::string& list : old_lists) data += KeptInfoEntries(list, values);
  return "LIST" + Le32Bytes(static_cast<uint32_t>(data.size())) + data;
}

Result WavTagWriter::SetProperty(const char* key, const char* value) {
  values_[key] = Utf8ToAnsi(value);
  return rc::kOk;
}

Result WavTagWriter::Write() {
  std::unique_ptr<FileStream> in;
  Result r = OpenFileStream(path_.c_str(), OpenRead, &in);
  if (rc::Failed(r)) return r;
  SiblingFile sibling(path_, "wav_writer");
  r = sibling.Open();
  if (rc::Failed(r)) return r;
  Stream* out = sibling.Stream();
  uint32_t riff = 0;
  uint32_t riff_size = 0;
  uint32_t form = 0;
  r = ReadLe32(in.get(), &riff);
  if (rc::Succeeded(r)) r = ReadLe32(in.get(), &riff_size);
  if (rc::Succeeded(r)) r = ReadLe32(in.get(), &form);
  if (rc::Failed(r)) return r;
  if (riff != FourCc("RIFF") || form != FourCc("WAVE")) return rc::kNoTagHandler;
  r = WriteExact(out, (std::string("RIFF") + Le32Bytes(0) + "WAVE").data(), 12);
  std::vector<std::string> old_lists;
  if (rc::Succeeded(r)) r = CopyChunks(in.get(), out, riff_size, &old_lists);
  in->Close();
  const std::string list = BuildInfoList(values_, old_lists);
  if (rc::Succeeded(r)) r = WriteExact(out, list.data(), static_cast<uint32_t>(list.size()));
  uint32_t end = 0;
  if (rc::Succeeded(r)) r = sibling.Stream()->GetPosition(&end);
  if (rc::Succeeded(r)) r = sibling.Stream()->Seek(4);
  if (rc::Succeeded(r)) r = WriteExact(out, Le32Bytes(end - 8).data(), 4);
  if (rc::Failed(r)) return r;
  return sibling.Commit();
}

Result CreateWavTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out) {
  return CreateForPath<TagWriter, WavTagWriter>(path, out);
}
