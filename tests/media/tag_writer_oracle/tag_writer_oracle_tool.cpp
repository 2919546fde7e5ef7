// Runs our tag writers on the files that tests/oracle/tag_writer_oracle.py prepares, as its
// command file says, and reports each write's result to a result file.
//
// usage: tag_writer_oracle_tool <commands> <results>
//   write <path>          starts the writer the extension picks ("created <result>")
//   set <key> <value>     one property (UTF-8)
//   grow                  permits the writer to grow the file in place
//   finish                writes ("written <result>")
// Fields are separated by tabs; paths are ANSI.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "media/tag_writer_factory.h"
#include "support/format_string.h"
#include "testlib/oracle_tool_io.h"

int main(int argc, char** argv) {
  std::vector<std::string> lines;
  if (argc != 3 || !ReadCommandLines(argv[1], &lines)) {
    std::fprintf(stderr, "usage: tag_writer_oracle_tool <commands> <results>\n");
    return 2;
  }
  std::string results;
  std::unique_ptr<TagWriter> writer;
  for (const std::string& line : lines) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f[0] == "write" && f.size() == 2) {
      results += FormatString("created\t%d\n", TagWriterFactory(f[1], "", &writer));
    } else if (f[0] == "set" && f.size() == 3 && writer) {
      writer->SetProperty(f[1].c_str(), f[2].c_str());
    } else if (f[0] == "grow" && writer) {
      writer->PermitGrowthInPlace();
    } else if (f[0] == "finish" && writer) {
      results += FormatString("written\t%d\n", writer->Write());
      writer.reset();
    }
  }
  return WriteResults(argv[2], results) ? 0 : 2;
}
