// Runs our tag writers on the files that tests/oracle/tag_writer_oracle.py prepares, as its
// command file says, and reports each write's result to a result file.
//
// usage: tag_writer_oracle_tool <commands> <results>
//   write <path>          starts the writer the extension picks ("created <result>")
//   set <key> <value>     one property (UTF-8)
//   finish                writes ("written <result>")
// Fields are separated by tabs; paths are ANSI.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "media/tag_writer_factory.h"
#include "support/format_string.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tag_writer_oracle_tool <commands> <results>\n");
    return 2;
  }
  FILE* commands = std::fopen(argv[1], "rb");
  if (commands == nullptr) return 2;
  std::string results;
  std::unique_ptr<TagWriter> writer;
  char buffer[70000];
  while (std::fgets(buffer, sizeof(buffer), commands) != nullptr) {
    std::string line = buffer;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const size_t tab = line.find('\t');
    const std::string command = line.substr(0, tab);
    const std::string rest = tab == std::string::npos ? "" : line.substr(tab + 1);
    if (command == "write") {
      results += FormatString("created\t%d\n", TagWriterFactory(rest, "", &writer));
    } else if (command == "set" && writer) {
      const size_t split = rest.find('\t');
      writer->SetProperty(rest.substr(0, split).c_str(),
                          split == std::string::npos ? "" : rest.c_str() + split + 1);
    } else if (command == "finish" && writer) {
      results += FormatString("written\t%d\n", writer->Write());
      writer.reset();
    }
  }
  std::fclose(commands);
  FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return 2;
  std::fwrite(results.data(), 1, results.size(), out);
  std::fclose(out);
  return 0;
}
