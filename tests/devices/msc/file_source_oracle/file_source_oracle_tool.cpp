// Drives a file source for tests/oracle/file_source_oracle.py: opens its database, adds
// records as the scan would (inside the source lock, nothing written back) and changes them as
// the channel would (outside it, written back into the drive's files).
//   file_source_oracle_tool <command file> <result file>
// Commands, fields separated by tabs; each answers "<command>\t<result as 8 hex digits>":
//   open <root> [<database path>]      also answers the created flag
//   tune <fid> <path>                  a track record
//   playlist <fid> <title>             an empty playlist record
//   set <fid> <name=value>...          changed and updated outside the lock
//   members <fid> <fid>,<fid>...       the playlist's members, written back
//   delete <fid>                       deleted outside the lock
//   upload <path> <name=value>...      a new file recorded as an upload records it
//   close
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "devices/msc/file_source.h"
#include "media/property_holder.h"
#include "support/format_string.h"
#include "support/text_convert.h"
#include "testlib/oracle_tool_io.h"

namespace {

uint32_t Number(const std::string& text) {
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

Result AddRecord(FileSource* source, uint32_t fid, const char* type, const char* name,
                 const std::string& value) {
  RefPtr<RecordSet> record;
  Result status = source->Db().OpenRecordSet(&record);
  if (rc::Succeeded(status)) status = record->AddNew();
  if (rc::Failed(status)) return status;
  record->SetInt("fid", static_cast<int32_t>(fid));
  record->SetString("type", type);
  record->SetString(name, value);
  source->Lock();
  status = record->Update();
  source->Unlock();
  return status;
}

Result SetValues(FileSource* source, const std::vector<std::string>& fields) {
  RefPtr<RecordSet> record;
  Result status = source->RecordDb().FindRow(&record, Number(fields[1]));
  for (size_t i = 2; rc::Succeeded(status) && i < fields.size(); ++i) {
    const size_t equals = fields[i].find('=');
    status = record->SetString(fields[i].substr(0, equals), fields[i].substr(equals + 1));
  }
  return rc::Succeeded(status) ? record->Update() : status;
}

std::vector<uint32_t> Fids(const std::string& text) {
  std::vector<uint32_t> fids;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    fids.push_back(Number(text.substr(start, comma - start)));
    start = comma + 1;
  }
  return fids;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::vector<std::string> lines;
  if (!ReadCommandLines(argv[1], &lines)) return 2;
  std::unique_ptr<FileSource> source;
  std::string results;
  for (const std::string& line : lines) {
    const std::vector<std::string> f = SplitTabs(line);
    Result status = rc::kFail;
    std::string extra;
    if (f[0] == "open" && f.size() >= 2) {
      source.reset(new FileSource(MscFileSource::kFlagsWithHostDatabase,
                                  f.size() > 2 ? f[2] : "", f[1]));
      uint8_t created = 0;
      status = source->OpenDatabase(&created);
      extra = FormatString("\t%u", created);
    } else if (f[0] == "close") {
      source.reset();
      status = rc::kOk;
    } else if (!source || f.size() < 2) {
      status = rc::kFail;
    } else if (f[0] == "tune" && f.size() == 3) {
      status = AddRecord(source.get(), Number(f[1]), "tune", "path", Latin1ToUtf8(f[2]));
    } else if (f[0] == "playlist" && f.size() == 3) {
      status = AddRecord(source.get(), Number(f[1]), "playlist", "title", f[2]);
    } else if (f[0] == "set") {
      status = SetValues(source.get(), f);
    } else if (f[0] == "members" && f.size() == 3) {
      status = source->SetPlaylistMembers(Number(f[1]), Fids(f[2]));
    } else if (f[0] == "upload") {
      PropertyHolder file;
      file.SetString("name", Latin1ToUtf8(f[1]));
      for (size_t i = 2; i < f.size(); ++i) {
        const size_t equals = f[i].find('=');
        file.SetString(f[i].substr(0, equals), f[i].substr(equals + 1));
      }
      status = source->RecordNewFile(file);
    } else if (f[0] == "delete") {
      RefPtr<RecordSet> record;
      status = source->RecordDb().FindRow(&record, Number(f[1]));
      if (rc::Succeeded(status)) status = record->Delete(0);
    }
    results += FormatString("%s\t%08x%s\n", f[0].c_str(), static_cast<unsigned>(status),
                            extra.c_str());
  }
  source.reset();
  return WriteResults(argv[2], results) ? 0 : 2;
}
