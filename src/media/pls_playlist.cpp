#include "media/pls_playlist.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "support/dynamic_config_file.h"
#include "support/format_string.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

namespace {

const char kSection[] = "playlist";

// The N of a "FileN" key (any case), or 0.
long FileKeyNumber(const std::string& key) {
  if (key.size() < 5 || _strnicmp(key.c_str(), "file", 4) != 0) return 0;
  for (size_t i = 4; i < key.size(); ++i) {
    if (key[i] < '0' || key[i] > '9') return 0;
  }
  return std::strtol(key.c_str() + 4, nullptr, 10);
}

// The FileN keys of the playlist section in the order of N; a number that occurs twice
// counts once (the file's first answers, as a lookup would).
std::vector<std::string> FileKeys(DynamicConfigFile* config) {
  std::vector<std::pair<long, std::string>> keys;
  bool in_section = false;
  for (const DynamicConfigFile::Line& line : config->Lines()) {
    if (line.kind == DynamicConfigFile::kSection) {
      in_section = _stricmp(line.text.c_str(), "[playlist]") == 0;
    } else if (in_section && line.kind == DynamicConfigFile::kEntry) {
      const std::string key = line.text.substr(0, line.text.find('='));
      const long number = FileKeyNumber(key);
      if (number > 0) keys.emplace_back(number, key);
    }
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> ordered;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (i == 0 || keys[i].first != keys[i - 1].first) ordered.push_back(keys[i].second);
  }
  return ordered;
}

}  // namespace

Result PlsPlaylistReader::Read(PlaylistEntrySink* sink) {
  std::string text;
  const Result read = ReadWholeFile(&text, Path());
  if (rc::Failed(read)) return read;
  const bool utf8 = StripUtf8ByteOrderMark(&text);
  DynamicConfigFile config;
  config.Load(text);
  int32_t version = 0;
  if (config.GetInt(kSection, "Version", &version) && version > 2) return rc::kOk;
  const std::string folder = DirectoryPart(Path());
  for (const std::string& key : FileKeys(&config)) {
    std::string entry;
    if (!config.GetString(kSection, key, &entry)) continue;
    DeliverPlaylistEntry(sink, folder, entry, utf8);  // the sink's answer does not stop PLS
  }
  return rc::kOk;
}

void PlsPlaylistWriter::AddEntry(const std::string& path, const std::string& title,
                                 const std::string& artist, uint32_t duration) {
  std::string canonical;
  std::string entry;
  if (!EntryFor(path, &canonical, &entry)) return;
  std::string name;
  if (title.empty()) {
    name = FileStem(canonical);
  } else {
    name = Utf8ToAnsiString(artist.empty() ? title : artist + " - " + title);
  }
  ++count_;
  body_ += FormatString("File%d=%s\nTitle%d=%s\nLength%d=%d\n", count_, entry.c_str(), count_,
                        name.c_str(), count_, static_cast<int>(duration / 1000));
}

Result PlsPlaylistWriter::Finish() {
  return WriteFileReplacing(
      Path(), FormatString("[playlist]\nVersion=2\nNumberOfEntries=%d\n", count_) + body_);
}
