// Small builders for column-table tests: a music table of the players' shape, rows added
// through a record set, and the stream of a table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/column_table.h"
#include "support/memory_stream.h"

// Columns fid (int32, sorted), title, artist (strings), profile (blob), rating (byte), year
// (int16, sorted), as the fixture stream has them.
void AddMusicColumns(ColumnTable* table);

struct TrackValues {
  int32_t fid = 0;
  std::string title;
  std::string artist;
  std::string profile;
  int32_t rating = 0;
  int32_t year = 0;
};

// AddNew, the values, Update; returns the row number it took.
uint32_t AddTrack(ColumnTable* table, const TrackValues& track);

// The table's stream with a fixed stamp.
std::string StreamOf(const ColumnTable& table, uint32_t stamp = 0x11223344);

// Loads bytes into the table; the Load result.
Result LoadBytes(ColumnTable* table, const std::string& bytes, bool check_format = false);

// A query sorted by `sort` or grouped by `group` (either may be null), executed.
RefPtr<RecordSet> Execute(ColumnTable* table, const char* sort, const char* group);

// Reads `column` (by name, as text) of every row a record set shows, in order.
std::vector<std::string> Column(RecordSet* set, const std::string& column);
// The same over a fresh scan of the whole table.
std::vector<std::string> ScanColumn(ColumnTable* table, const std::string& column);

// True when the table has nothing left: no columns, rows, open rows or bitmap.
bool IsEmptied(const ColumnTable& table);
