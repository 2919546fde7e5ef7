// Runs one synchronisation pass over a library file, or reopens one and reports what it holds,
// for tests/oracle/library_pass_kill_oracle.py, which kills passes part-way.
//   library_pass_tool pass <root> <library> <result file> [<write that kills>]
//     answers "writes\t<puts, deletes and syncs of the pass>" and "result\t<8 hex digits>";
//     with a write number the process ends itself, at once, instead of making that write
//   library_pass_tool check <root> <library> <result file>
//     answers "open\t<result>", then "record\t<fid>\t<type>\t<path>" for every record and
//     "lost\t<lookup>\t<fid>\t<path>" for every track that a lookup by fid, path or title
//     does not find
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/db185_api.h"
#include "devices/msc/file_source.h"
#include "devices/msc/source_paths.h"
#include "support/format_string.h"

namespace {

DB real_calls;
long writes = 0;
long fatal_write = 0;  // 0: none

void CountWrite() {
  if (++writes == fatal_write) TerminateProcess(GetCurrentProcess(), 77);
}

int CountedPut(const DB* db, DBT* key, const DBT* value, u_int flags) {
  CountWrite();
  return real_calls.put(db, key, value, flags);
}
int CountedDel(const DB* db, const DBT* key, u_int flags) {
  CountWrite();
  return real_calls.del(db, key, flags);
}
int CountedSync(const DB* db, u_int flags) {
  CountWrite();
  return (real_calls.sync)(db, flags);
}

struct __db* CountingOpen(const char* path, int flags, int mode, const void* info) {
  DB* db = dbopen(path, flags, mode, DB_BTREE, info);
  if (db == nullptr) return nullptr;
  real_calls = *db;
  db->put = CountedPut;
  db->del = CountedDel;
  db->sync = CountedSync;
  return db;
}

bool Found(RecordDatabase* database, const char* column, const std::string& value,
           uint32_t fid) {
  RefPtr<RecordQuery> query;
  RefPtr<RecordSet> found;
  if (rc::Failed(database->CreateQuery(&query)) || !query ||
      rc::Failed(query->AddTextCondition(column, kOpEqual, value)) ||
      rc::Failed(query->Execute(&found)) || !found) {
    return false;
  }
  for (; !found->IsEOF(); found->MoveNext()) {
    if (static_cast<uint32_t>(found->GetInt("fid")) == fid) return true;
  }
  return false;
}

std::string Check(FileSource& source) {
  std::string out;
  RefPtr<RecordSet> all;
  source.Database()->OpenRecordSet(&all);
  for (all->MoveFirst(); !all->IsEOF(); all->MoveNext()) {
    const uint32_t fid = static_cast<uint32_t>(all->GetInt("fid"));
    const std::string type = all->GetString("type");
    const std::string path = all->GetString("path");
    out += FormatString("record\t%u\t%s\t%s\n", fid, type.c_str(), path.c_str());
    if (type != "tune") continue;
    RefPtr<RecordSet> by_fid;
    if (rc::Failed(source.RecordDb().FindRow(&by_fid, fid))) {
      out += FormatString("lost\tfid\t%u\t%s\n", fid, path.c_str());
    }
    RefPtr<RecordSet> by_path;
    if (rc::Failed(FindRecordByPath(source.Database(), RecordPath(*all), &by_path)) ||
        static_cast<uint32_t>(by_path->GetInt("fid")) != fid) {
      out += FormatString("lost\tpath\t%u\t%s\n", fid, path.c_str());
    }
    if (!Found(source.Database(), "title", all->GetString("title"), fid)) {
      out += FormatString("lost\ttitle\t%u\t%s\n", fid, path.c_str());
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  const std::string command = argv[1];
  std::string out;
  {
    FileSource source(MscFileSource::kFlagsWithHostDatabase, argv[3], argv[2], CountingOpen);
    const Result opened = source.OpenDatabase(nullptr);
    if (command == "pass") {
      writes = 0;
      if (argc > 5) fatal_write = std::atol(argv[5]);
      const Result result = rc::Succeeded(opened) ? source.Refresh(nullptr, 0) : opened;
      out = FormatString("writes\t%ld\nresult\t%08x\n", writes, static_cast<unsigned>(result));
    } else if (command == "check") {
      out = FormatString("open\t%08x\n", static_cast<unsigned>(opened));
      if (rc::Succeeded(opened)) out += Check(source);
    } else {
      return 2;
    }
  }
  FILE* file = std::fopen(argv[4], "wb");
  if (file == nullptr) return 2;
  std::fwrite(out.data(), 1, out.size(), file);
  std::fclose(file);
  return 0;
}
