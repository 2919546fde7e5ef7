// Runs our playlist readers and writers on the files that tests/oracle/playlist_oracle.py
// prepares, as its command file says, and writes what the readers deliver to a result file
// that the script compares with its own reading of the formats.
//
// usage: playlist_oracle_tool <commands> <results>
//   write <playlist>                 starts a writer (by the playlist's extension)
//   entry <path> <title> <artist> <milliseconds>
//   finish                           writes the playlist; "finished <result>" is reported
//   read <playlist>                  "read <result>", then "title <t>" and "entry <path>"
// Fields are separated by tabs; paths are ANSI, titles and artists UTF-8.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "media/playlist_factory.h"
#include "support/format_string.h"
#include "testlib/oracle_tool_io.h"

namespace {

class ReportingSink : public PlaylistEntrySink {
 public:
  explicit ReportingSink(std::string* out) : out_(out) {}
  Result SetTitle(const std::string& title) override {
    *out_ += "title\t" + title + "\n";
    return rc::kOk;
  }
  Result AddEntry(const std::string& path) override {
    *out_ += "entry\t" + path + "\n";
    return rc::kOk;
  }

 private:
  std::string* out_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> lines;
  if (argc != 3 || !ReadCommandLines(argv[1], &lines)) {
    std::fprintf(stderr, "usage: playlist_oracle_tool <commands> <results>\n");
    return 2;
  }
  std::string results;
  std::unique_ptr<PlaylistWriter> writer;
  for (const std::string& line : lines) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f[0] == "write" && f.size() == 2) {
      const Result r = PlaylistWriterFactory(f[1], &writer);
      if (r != 0) results += FormatString("finished\t%d\n", r);
    } else if (f[0] == "entry" && f.size() == 5 && writer) {
      writer->AddEntry(f[1], f[2], f[3], static_cast<uint32_t>(std::strtoul(f[4].c_str(), 0, 10)));
    } else if (f[0] == "finish" && writer) {
      results += FormatString("estimated\t%u\n", writer->EstimatedSize());
      results += FormatString("finished\t%d\n", writer->Finish());
      writer.reset();
    } else if (f[0] == "read" && f.size() == 2) {
      std::unique_ptr<PlaylistReader> reader;
      std::string found;
      Result r = PlaylistReaderFactory(f[1], &reader);
      if (r == 0) {
        ReportingSink sink(&found);
        r = reader->Read(&sink);
      }
      results += FormatString("read\t%d\n", r) + found;
    }
  }
  return WriteResults(argv[2], results) ? 0 : 2;
}
