// Runs a SimpleDB on files that tests/oracle/simple_db_oracle.py makes or reads with Berkeley
// DB's own tools, as its command file says, and reports what the database did.
//
// usage: simple_db_oracle_tool <commands> <results>
//   open <path> <mode>             "open <result as 8 hex digits>"
//   close
//   column <name> <type>           type 0 number, 1 text, 2 list
//   index <name>[,<name>...]       "index <result>"
//   version <n>
//   insert <name>=<value>...       "insert <result> <record number>"
//   update <record> <name>=<value>...   "update <result>"
//   delete <record>                "delete <result>"
//   scan                           "record <number> <name>=<value>..." for each record
//   lookup <column> <text>         "found <number>" for each record of a text equality
//   group <column>                 "group <text> <count>" for each group
//   batch                          opens an index batch
//   endbatch                       "endbatch <result>"
// Every command that reads records ends with "inconsistent <0|1>". List values are hex.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "db/simple_db.h"
#include "db/simple_rs.h"
#include "testlib/oracle_tool_io.h"

namespace {

std::string HexOf(const uint8_t* bytes, uint32_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (uint32_t i = 0; i < length; ++i) {
    hex.push_back(digits[bytes[i] >> 4]);
    hex.push_back(digits[bytes[i] & 15]);
  }
  return hex;
}

std::string BytesOf(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

std::string Code(Result result) {
  char text[16];
  std::snprintf(text, sizeof(text), "%08x", static_cast<unsigned>(result));
  return text;
}

Result SetValues(SimpleDB& db, RecordSet* set, const std::vector<std::string>& fields,
                 size_t first) {
  for (size_t i = first; i < fields.size(); ++i) {
    const size_t equals = fields[i].find('=');
    const std::string name = fields[i].substr(0, equals);
    const std::string value = fields[i].substr(equals + 1);
    const int32_t column = db.FindColumn(name);
    if (column < 0) return rc::kNotFound;
    Result result;
    if (db.Columns()[column].type == kSimpleList) {
      const std::string bytes = BytesOf(value);
      result = set->SetBlob(column, bytes.data(), static_cast<uint32_t>(bytes.size()));
    } else if (db.Columns()[column].type == kSimpleNumber) {
      result = set->SetInt(column, static_cast<int32_t>(std::strtoll(value.c_str(), nullptr, 10)));
    } else {
      result = set->SetString(column, value);
    }
    if (rc::Failed(result)) return result;
  }
  return rc::kOk;
}

std::string Describe(SimpleDB& db, RecordSet* set) {
  std::string line = "record\t" +
                     std::to_string(static_cast<SimpleRecordSet*>(set)->RecordNumber());
  for (size_t i = 0; i < db.Columns().size(); ++i) {
    const int32_t column = static_cast<int32_t>(i);
    line += "\t" + db.Columns()[i].name + "=";
    if (db.Columns()[i].type == kSimpleList) {
      uint32_t length = 0;
      const uint8_t* bytes = set->GetBlob(column, &length);
      line += HexOf(bytes, length);
    } else if (db.Columns()[i].type == kSimpleNumber) {
      line += std::to_string(set->GetInt(column));
    } else {
      line += set->GetString(column);
    }
  }
  return line + "\n";
}

RefPtr<RecordSet> Find(SimpleDB& db, uint32_t record) {
  RefPtr<RecordSet> set;
  db.OpenRecordSet(&set);
  for (set->MoveFirst(); !set->IsEOF(); set->MoveNext()) {
    if (static_cast<SimpleRecordSet*>(set.Get())->RecordNumber() == record) return set;
  }
  return RefPtr<RecordSet>();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> lines;
  if (argc != 3 || !ReadCommandLines(argv[1], &lines)) {
    std::fprintf(stderr, "usage: simple_db_oracle_tool <commands> <results>\n");
    return 2;
  }
  std::unique_ptr<SimpleDB> db(new SimpleDB);
  std::string out;
  auto consistency = [&] { out += std::string("inconsistent\t") + (db->Inconsistent() ? "1" : "0") + "\n"; };
  for (const std::string& line : lines) {
    const std::vector<std::string> f = SplitTabs(line);
    const std::string& command = f[0];
    if (command == "open") {
      db.reset(new SimpleDB);
      out += "open\t" + Code(db->Open(f[1].c_str(), std::strtoul(f[2].c_str(), nullptr, 10))) + "\n";
    } else if (command == "close") {
      out += "close\t" + Code(db->Close()) + "\n";
    } else if (command == "column") {
      db->AddColumn(f[1], std::strtoul(f[2].c_str(), nullptr, 10));
    } else if (command == "index") {
      std::vector<std::string> names;
      size_t start = 0;
      for (;;) {
        const size_t comma = f[1].find(',', start);
        names.push_back(f[1].substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      out += "index\t" + Code(db->AddIndex(names)) + "\n";
    } else if (command == "batch") {
      db->BeginIndexBatch();
    } else if (command == "endbatch") {
      out += "endbatch\t" + Code(db->EndIndexBatch()) + "\n";
    } else if (command == "version") {
      db->SetVersion(std::strtoul(f[1].c_str(), nullptr, 10));
    } else if (command == "insert") {
      RefPtr<RecordSet> set;
      db->OpenRecordSet(&set);
      set->AddNew();
      Result result = SetValues(*db, set.Get(), f, 1);
      if (rc::Succeeded(result)) result = set->Update();
      out += "insert\t" + Code(result) + "\t" +
             std::to_string(static_cast<SimpleRecordSet*>(set.Get())->RecordNumber()) + "\n";
    } else if (command == "update" || command == "delete") {
      RefPtr<RecordSet> set = Find(*db, std::strtoul(f[1].c_str(), nullptr, 10));
      Result result = set ? rc::kOk : rc::kNotFound;
      if (set && command == "update") {
        result = SetValues(*db, set.Get(), f, 2);
        if (rc::Succeeded(result)) result = set->Update();
      } else if (set) {
        result = set->Delete(0);
      }
      out += command + "\t" + Code(result) + "\n";
    } else if (command == "scan") {
      RefPtr<RecordSet> set;
      db->OpenRecordSet(&set);
      for (set->MoveFirst(); !set->IsEOF(); set->MoveNext()) out += Describe(*db, set.Get());
      consistency();
    } else if (command == "lookup" || command == "group") {
      RefPtr<RecordQuery> query;
      db->CreateQuery(&query);
      if (command == "lookup") {
        query->AddTextCondition(f[1], kOpEqual, f[2]);
      } else {
        query->AddGroupColumn(f[1]);
      }
      RefPtr<RecordSet> set;
      const Result result = query->Execute(&set);
      out += command + "\t" + Code(result) + "\n";
      for (; set && !set->IsEOF(); set->MoveNext()) {
        if (command == "lookup") {
          out += "found\t" +
                 std::to_string(static_cast<SimpleRecordSet*>(set.Get())->RecordNumber()) + "\n";
        } else {
          out += "group\t" + set->GetString(f[1]) + "\t" + set->GetString("count") + "\n";
        }
      }
      consistency();
    }
  }
  db.reset();
  return WriteResults(argv[2], out) ? 0 : 1;
}
