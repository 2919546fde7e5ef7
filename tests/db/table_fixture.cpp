#include "db/table_fixture.h"

void AddMusicColumns(ColumnTable* table) {
  table->AddColumn("fid", kColumnTypeInt32, kColumnSorted);
  table->AddColumn("title", kColumnTypeString, 0);
  table->AddColumn("artist", kColumnTypeString, 0);
  table->AddColumn("profile", kColumnTypeBlob, 0);
  table->AddColumn("rating", kColumnTypeByte, 0);
  table->AddColumn("year", kColumnTypeInt16, kColumnSorted);
}

uint32_t AddTrack(ColumnTable* table, const TrackValues& track) {
  RefPtr<RecordSet> set;
  table->OpenRecordSet(&set);
  set->AddNew();
  const uint32_t row = table->PeekNextRowNumber() - 1;
  set->SetInt("fid", track.fid);
  set->SetString("title", track.title);
  set->SetString("artist", track.artist);
  set->SetBlob("profile", track.profile.data(), static_cast<uint32_t>(track.profile.size()));
  set->SetInt("rating", track.rating);
  set->SetInt("year", track.year);
  set->Update();
  return row;
}

std::string StreamOf(const ColumnTable& table, uint32_t stamp) {
  MemoryStream stream;
  table.SaveWithStamp(&stream, stamp);
  return stream.Bytes();
}

Result LoadBytes(ColumnTable* table, const std::string& bytes, bool check_format) {
  MemoryStream stream(bytes);
  return table->Load(&stream, check_format);
}

std::vector<std::string> Column(RecordSet* set, const std::string& column) {
  std::vector<std::string> values;
  for (; set && !set->IsEOF(); set->MoveNext()) values.push_back(set->GetString(column));
  return values;
}

std::vector<std::string> ScanColumn(ColumnTable* table, const std::string& column) {
  RefPtr<RecordSet> set;
  table->OpenRecordSet(&set);
  return Column(set.Get(), column);
}

bool IsEmptied(const ColumnTable& table) {
  return table.ColumnCount() == 0 && table.RowCount() == 0 && table.OpenRows().empty() &&
         !table.HasDeletedBitmap() && table.PeekNextRowNumber() == 0;
}

RefPtr<RecordSet> Execute(ColumnTable* table, const char* sort, const char* group) {
  RefPtr<RecordQuery> query;
  table->CreateQuery(&query);
  if (sort) query->AddSortColumn(sort);
  if (group) query->AddGroupColumn(group);
  RefPtr<RecordSet> set;
  query->Execute(&set);
  return set;
}
