#include "media/m3u_playlist.h"

#include "support/format_string.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

namespace {

// Lines of more than this many characters are not paths; they are skipped whole.
constexpr size_t kLongestLine = 4095;

}  // namespace

Result M3uPlaylistReader::Read(PlaylistEntrySink* sink) {
  std::string text;
  const Result read = ReadWholeFile(&text, Path());
  if (rc::Failed(read)) return read;
  const bool utf8 = StripUtf8ByteOrderMark(&text);
  const std::string folder = DirectoryPart(Path());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line.size() > kLongestLine) continue;
    const Result added = DeliverPlaylistEntry(sink, folder, line, utf8);
    if (rc::Failed(added)) return added;
  }
  return rc::kOk;
}

void M3uPlaylistWriter::AddEntry(const std::string& path, const std::string& title,
                                 const std::string& artist, uint32_t duration) {
  std::string canonical;
  std::string entry;
  if (!EntryFor(path, &canonical, &entry)) return;
  if (!entry.empty() && entry[0] == '#') entry = "./" + entry;
  if (!started_) {
    started_ = true;
    extended_ = !title.empty() || !artist.empty() || duration != 0;
    if (extended_) body_ = "#EXTM3U\n";
  }
  if (extended_) {
    body_ += FormatString("#EXTINF:%d,%s - %s\n%s\n", static_cast<int>(duration / 1000),
                          title.c_str(), artist.c_str(), entry.c_str());
  } else {
    body_ += entry + "\n";
  }
}

Result M3uPlaylistWriter::Finish() { return WriteFileReplacing(Path(), body_); }
