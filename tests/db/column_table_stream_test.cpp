// The stream form of the column table: a stream assembled by an independent script loads with
// the values it describes and saves back byte for byte; damaged streams are refused with the
// table emptied, and never crash or hang.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "db/column_table.h"
#include "db/table_fixture.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"

namespace {

#include "column_table_streams.inc"

uint32_t Field(const char* name) {
  for (const FixtureField& field : kFixtureFields) {
    if (std::strcmp(field.name, name) == 0) return field.offset;
  }
  ADD_FAILURE() << "no field " << name;
  return 0;
}

std::string WithWord(std::string bytes, uint32_t offset, uint32_t value) {
  bytes::PutLe32(reinterpret_cast<uint8_t*>(&bytes[offset]), value);
  return bytes;
}

uint32_t WordAt(const std::string& bytes, uint32_t offset) {
  return bytes::Le32(reinterpret_cast<const uint8_t*>(bytes.data() + offset));
}

// A stream whose Read moves at most a few bytes and which cannot seek: Load must still read it.
class TrickleStream : public Stream {
 public:
  explicit TrickleStream(std::string bytes) : bytes_(std::move(bytes)) {}
  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    const uint32_t take = std::min<uint32_t>({length, 3, static_cast<uint32_t>(bytes_.size() - at_)});
    std::memcpy(buffer, bytes_.data() + at_, take);
    at_ += take;
    *count = take;
    return take == 0 ? rc::kEndOfData : rc::kOk;
  }
  Result Write(const void*, uint32_t, uint32_t*) override { return rc::kNotImplemented; }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

TEST(ColumnTableStream, FixtureLoadsWithItsColumnsRowsAndOpenRows) {
  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, kFixtureStream, true), rc::kOk);
  ASSERT_EQ(table.ColumnCount(), 6);
  const char* const names[] = {"fid", "title", "artist", "profile", "rating", "year"};
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(table.Column(i).name, names[i]);
  EXPECT_EQ(table.RowCount(), 5u);
  EXPECT_EQ(table.OpenRows().size(), 2u);
  EXPECT_TRUE(table.IsDeleted(2));
  EXPECT_FALSE(table.IsDeleted(3));
  EXPECT_EQ(table.PeekNextRowNumber(), 8u);

  RefPtr<RecordSet> set;
  table.OpenRecordSet(&set);
  size_t i = 0;
  for (; !set->IsEOF(); set->MoveNext(), ++i) {
    ASSERT_LT(i, std::size(kFixtureScan));
    const FixtureRow& expected = kFixtureScan[i];
    SCOPED_TRACE(expected.row);
    EXPECT_EQ(set->GetInt("fid"), expected.fid);
    EXPECT_EQ(set->GetString("title"), expected.title);
    EXPECT_EQ(set->GetString("artist"), expected.artist);
    uint32_t length = 0;
    const uint8_t* blob = set->GetBlob("profile", &length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob), length), expected.profile);
    EXPECT_EQ(set->GetInt("rating"), expected.rating);
    EXPECT_EQ(set->GetInt("year"), expected.year);
  }
  EXPECT_EQ(i, std::size(kFixtureScan));
}

TEST(ColumnTableStream, FixtureSavesBackByteForByte) {
  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, kFixtureStream), rc::kOk);
  EXPECT_EQ(StreamOf(table, kFixtureStamp), kFixtureStream);
}

TEST(ColumnTableStream, StreamWithoutSizeLoadsAsWell) {
  ColumnTable table(8, 3, nullptr);
  TrickleStream stream(kFixtureStream);
  ASSERT_EQ(table.Load(&stream, true), rc::kOk);
  EXPECT_EQ(StreamOf(table, kFixtureStamp), kFixtureStream);
}

TEST(ColumnTableStream, TableWithColumnsAndNoRowsHasNoColumnBlocks) {
  ColumnTable table(8, 3, nullptr);
  table.AddColumn("fid", kColumnTypeInt32, kColumnSorted);
  table.AddColumn("title", kColumnTypeString, 0);
  const std::string bytes = StreamOf(table, 7);
  const std::string expected = std::string(
      "\x02\0\0\0" "\x07\0\0\0"                          // version, stamp
      "\x08\0\0\0" "\x03\0\0\0" "\x02\0\0\0"             // kind, format, n
      "\0\0\0\0" "\x01\0\0\0" "\x01\0\0\0" "\0\0\0\0"    // (type, flags) x 2
      "\x0a\0\0\0" "fid title "                          // names
      "\0\0\0\0"                                         // no open rows
      "\0\0\0\0" "\0\0\0\0"                              // next row, R
      "\0\0\0\0"                                         // no bitmap
      "\x07\0\0\0", 70);
  EXPECT_EQ(bytes, expected);

  ColumnTable loaded(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&loaded, bytes), rc::kOk);
  EXPECT_EQ(loaded.ColumnCount(), 2);
  EXPECT_EQ(loaded.Column(1).name, "title");
  EXPECT_EQ(loaded.RowCount(), 0u);
  EXPECT_FALSE(loaded.HasDeletedBitmap());
}

TEST(ColumnTableStream, RoundTripOfBuiltTableKeepsRowsBitmapAndOpenRows) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  for (int32_t i = 0; i < 20; ++i)
    AddTrack(&table, {0x100 + i, "Title " + std::to_string(i % 7), "Artist", "", i, 1990 + i});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  EXPECT_EQ(StreamOf(table).substr(StreamOf(table).size() - 8, 4), std::string(4, '\0'));
  table.DeleteRow(4);
  AddTrack(&table, {0x999, "Fresh", "Someone", std::string("\x01\x02", 2), 1, 2});

  const std::string bytes = StreamOf(table);
  ColumnTable loaded(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&loaded, bytes), rc::kOk);
  EXPECT_EQ(StreamOf(loaded), bytes);
  EXPECT_TRUE(loaded.IsDeleted(4));
  EXPECT_EQ(ScanColumn(&loaded, "fid"), ScanColumn(&table, "fid"));
  EXPECT_EQ(ScanColumn(&loaded, "title"), ScanColumn(&table, "title"));
}

TEST(ColumnTableStream, FormatNumberIsCheckedOnlyWhenAsked) {
  ColumnTable strict(8, 5, nullptr);
  EXPECT_EQ(LoadBytes(&strict, kFixtureStream, true), rc::kBadData);
  EXPECT_TRUE(IsEmptied(strict));

  ColumnTable lenient(8, 5, nullptr);
  ASSERT_EQ(LoadBytes(&lenient, kFixtureStream, false), rc::kOk);
  EXPECT_EQ(lenient.FormatNumber(), 3u);
}

TEST(ColumnTableStream, OffsetHighBitsAreIgnoredOnReading) {
  const uint32_t at = Field("title_offsets");
  const std::string bytes = WithWord(kFixtureStream, at, WordAt(kFixtureStream, at) | 0xAB000000u);
  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, bytes), rc::kOk);
  EXPECT_EQ(ScanColumn(&table, "title").front(), "Alpha");
}

TEST(ColumnTableStream, NamesSplitAtEverySpace) {
  // "fid  artist ..." would give an empty name; here two names are swapped for one with a
  // double space, and the columns after it shift.
  std::string bytes = kFixtureStream;
  const uint32_t names = Field("name_length") + 4;
  std::memcpy(&bytes[names], "fid  tle ", 9);  // was "fid title"
  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, bytes), rc::kOk);
  EXPECT_EQ(table.Column(0).name, "fid");
  EXPECT_EQ(table.Column(1).name, "");
  EXPECT_EQ(table.Column(2).name, "tle");
}

struct DamagedStream {
  const char* name;
  const char* field;
  int32_t delta;       // added to the word at the field (when `value` is 0)
  uint32_t value;      // the word put at the field
  Result expected;
};

// Every count and offset pushed out of its range, and the wrong version, kind and stamps.
const DamagedStream kDamagedStreams[] = {
    {"version 3", "version", 0, 3, rc::kBadData},
    {"version 0", "version", 0, 0xFFFFFFFFu, rc::kBadData},
    {"table kind", "kind", 1, 0, rc::kBadData},
    {"end stamp", "end_stamp", 1, 0, rc::kBadData},
    {"start stamp", "stamp", -1, 0, rc::kBadData},
    {"column count", "column_count", 0, 0x20000000u, rc::kShortTransfer},
    {"column count max", "column_count", 0, 0xFFFFFFFFu, rc::kShortTransfer},
    {"name length", "name_length", 0, 0x7FFFFFFFu, rc::kShortTransfer},
    {"open row count", "open_count", 0, 0x10000000u, rc::kShortTransfer},
    {"open row length", "open_length_0", 0, 0xFFFFFFF0u, rc::kShortTransfer},
    {"open row cut short", "open_length_0", -12, 0, rc::kBadData},
    {"open row number max", "open_row_1", 0, 0xFFFFFFFFu, rc::kBadData},
    {"row count", "row_count", 0, 0x40000000u, rc::kShortTransfer},
    {"row count max", "row_count", 0, 0xFFFFFFFFu, rc::kShortTransfer},
    {"column type", "type_4", 0, 9, rc::kBadData},
    {"pool size", "title_pool_size", 0, 0xFFFFFF00u, rc::kShortTransfer},
    {"string offset at the pool end", "title_offsets", 0, 17, rc::kBadData},
    {"string offset past the pool", "artist_offsets", 0, 0x00FFFFFFu, rc::kBadData},
    {"blob offset going back", "profile_offsets", 0, 4, rc::kBadData},
    {"blob area past the stream", "profile_area_size", 0, 0x7FFFFFFFu, rc::kShortTransfer},
    {"bitmap above the limit", "bitmap_size", 0, 100001, rc::kBadData},
    {"bitmap past the stream", "bitmap_size", 0, 5000, rc::kShortTransfer},
};

TEST(ColumnTableStream, DamagedStreamsAreRefusedWithTheTableEmptied) {
  for (const DamagedStream& c : kDamagedStreams) {
    SCOPED_TRACE(c.name);
    const uint32_t at = Field(c.field);
    const uint32_t word = c.value != 0 ? c.value : WordAt(kFixtureStream, at) + c.delta;
    ColumnTable table(8, 3, nullptr);
    table.AddColumn("stale", kColumnTypeInt32, 0);
    EXPECT_EQ(LoadBytes(&table, WithWord(kFixtureStream, at, word)), c.expected);
    EXPECT_TRUE(IsEmptied(table));
  }
}

TEST(ColumnTableStream, BlobOffsetsMustEndAtTheArea) {
  // The last offset gives the area's size; a middle one beyond it goes back at the end.
  const uint32_t at = Field("profile_offsets") + 4 * 3;
  ColumnTable table(8, 3, nullptr);
  EXPECT_EQ(LoadBytes(&table, WithWord(kFixtureStream, at, 11)), rc::kBadData);
  EXPECT_TRUE(IsEmptied(table));
}

TEST(ColumnTableStream, PoolWithoutItsFinalZeroIsRefused) {
  for (const char* field : {"title_pool_end", "artist_pool_end"}) {
    SCOPED_TRACE(field);
    std::string bytes = kFixtureStream;
    bytes[Field(field)] = 'x';
    ColumnTable table(8, 3, nullptr);
    EXPECT_EQ(LoadBytes(&table, bytes), rc::kBadData);
    EXPECT_TRUE(IsEmptied(table));
  }
}

TEST(ColumnTableStream, PackedRowsMustHoldEveryValue) {
  // Blob length word of open row 0 (after fid 4, "Ga\0" 3, "Abba\0" 5 = 12 bytes).
  const uint32_t blob_length = Field("open_packed_0") + 12;
  for (uint32_t length : {120001u, 0x80000000u, 9u}) {
    SCOPED_TRACE(length);
    ColumnTable table(8, 3, nullptr);
    EXPECT_EQ(LoadBytes(&table, WithWord(kFixtureStream, blob_length, length)), rc::kBadData);
    EXPECT_TRUE(IsEmptied(table));
  }
  // A text without its zero byte inside the row.
  std::string bytes = kFixtureStream;
  std::memset(&bytes[Field("open_packed_1") + 4], 'x', 32);
  ColumnTable table(8, 3, nullptr);
  EXPECT_EQ(LoadBytes(&table, bytes), rc::kBadData);
}

TEST(ColumnTableStream, EveryTruncationIsRefused) {
  for (size_t size = 0; size < kFixtureStream.size(); ++size) {
    ColumnTable table(8, 3, nullptr);
    const Result result = LoadBytes(&table, kFixtureStream.substr(0, size));
    ASSERT_TRUE(result == rc::kShortTransfer || result == rc::kBadData) << size;
    ASSERT_TRUE(IsEmptied(table)) << size;
  }
}

TEST(ColumnTableStream, StreamFailuresArePassedOnAndEmptyTheTable) {
  for (int nth : {1, 5, 20}) {
    MemoryStream base(kFixtureStream);
    FaultInjectingStream stream(&base);
    stream.CapReads(16);
    stream.FailRead(nth, static_cast<Result>(0x80041005), true);
    ColumnTable table(8, 3, nullptr);
    EXPECT_EQ(table.Load(&stream, false), static_cast<Result>(0x80041005));
    EXPECT_TRUE(IsEmptied(table));
  }
}

TEST(ColumnTableStream, ShortBitmapReadsAsZerosAndSavesPadded) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  for (int32_t i = 0; i < 20; ++i) AddTrack(&table, {i + 1, "t", "a", "", 0, 0});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  table.DeleteRow(3);
  const std::string full = StreamOf(table);
  // Bitmap of 3 bytes (20 rows) cut to its first byte.
  const size_t bitmap = full.size() - 4 - 3;
  ASSERT_EQ(WordAt(full, static_cast<uint32_t>(bitmap - 4)), 3u);
  std::string cut = full.substr(0, bitmap - 4) + std::string("\x01\0\0\0", 4) + full[bitmap] +
                    full.substr(full.size() - 4);

  ColumnTable loaded(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&loaded, cut), rc::kOk);
  EXPECT_TRUE(loaded.IsDeleted(3));
  EXPECT_FALSE(loaded.IsDeleted(19));
  loaded.MarkDeleted(19);
  EXPECT_TRUE(loaded.IsDeleted(19));
  loaded.Undelete(19);
  EXPECT_EQ(StreamOf(loaded), full);
}

TEST(ColumnTableStream, StoredNextRowNumberIsRaisedAboveEveryRow) {
  for (uint32_t stored : {0u, 3u, 5u, 7u}) {
    SCOPED_TRACE(stored);
    ColumnTable table(8, 3, nullptr);
    ASSERT_EQ(LoadBytes(&table, WithWord(kFixtureStream, Field("next_row"), stored)), rc::kOk);
    EXPECT_EQ(table.PeekNextRowNumber(), 8u);  // above open row 7
    // A new track takes a number of its own and leaves every row as it was.
    const std::vector<std::string> before = ScanColumn(&table, "fid");
    AddTrack(&table, {0x99, "new", "x", "", 0, 0});
    std::vector<std::string> after = ScanColumn(&table, "fid");
    ASSERT_EQ(after.size(), before.size() + 1);
    after.pop_back();
    EXPECT_EQ(after, before);
  }
  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, WithWord(kFixtureStream, Field("next_row"), 1000)), rc::kOk);
  EXPECT_EQ(table.PeekNextRowNumber(), 1000u);  // a larger number is kept
}

TEST(ColumnTableStream, NextRowNumberThatWouldWrapIsRefused) {
  ColumnTable table(8, 3, nullptr);
  EXPECT_EQ(LoadBytes(&table, WithWord(kFixtureStream, Field("next_row"), 0xFFFFFFFFu)),
            rc::kBadData);
  EXPECT_TRUE(IsEmptied(table));
  // An open row whose successor could not be stored.
  for (uint32_t row : {0xFFFFFFFEu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(LoadBytes(&table, WithWord(kFixtureStream, Field("open_row_1"), row)), rc::kBadData);
  }
}

TEST(ColumnTableStream, LastRowNumbersAreHandedOutOnceAndTheTableStillLoads) {
  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, WithWord(kFixtureStream, Field("next_row"), 0xFFFFFFFDu)), rc::kOk);
  const std::vector<std::string> before = ScanColumn(&table, "title");
  RefPtr<RecordSet> set;
  table.OpenRecordSet(&set);
  ASSERT_EQ(set->AddNew(), rc::kOk);
  ASSERT_EQ(set->SetString("title", "last"), rc::kOk);
  ASSERT_EQ(set->Update(), rc::kOk);
  EXPECT_EQ(set->AddNew(), rc::kBadIndex) << "no number is left";
  EXPECT_EQ(set->SetString("title", "wrapped"), rc::kShortTransfer);
  std::vector<std::string> expected = before;
  expected.push_back("last");
  EXPECT_EQ(ScanColumn(&table, "title"), expected);

  ColumnTable loaded(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&loaded, StreamOf(table)), rc::kOk);
  EXPECT_EQ(ScanColumn(&loaded, "title"), expected);
  RefPtr<RecordSet> again;
  loaded.OpenRecordSet(&again);
  EXPECT_EQ(again->AddNew(), rc::kBadIndex);
}

TEST(ColumnTableStream, OpenRowWithItsColumnRowLiveReplacesIt) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  for (int32_t i = 1; i <= 3; ++i) AddTrack(&table, {i, "t" + std::to_string(i), "a", "", 0, 0});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  RefPtr<ColumnRow> row = table.GetRow(1, false);
  row->SetText(1, "edited");
  ASSERT_EQ(table.WriteBack(row.Get()), rc::kOk);
  std::string bytes = StreamOf(table);
  const size_t bitmap = bytes.size() - 4 - 1;  // one byte for three rows
  ASSERT_EQ(static_cast<uint8_t>(bytes[bitmap]), 0x02);
  bytes[bitmap] = 0;  // the column copy of row 1 left live

  ColumnTable loaded(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&loaded, bytes), rc::kOk);
  EXPECT_TRUE(loaded.IsDeleted(1));
  EXPECT_EQ(ScanColumn(&loaded, "title"), (std::vector<std::string>{"t1", "edited", "t3"}));
  RefPtr<RecordSet> found;
  ASSERT_EQ(loaded.FindRow(&found, 2), rc::kOk);
  EXPECT_EQ(found->GetString("title"), "edited");
  ASSERT_EQ(loaded.Compact(nullptr), rc::kOk);
  EXPECT_EQ(ScanColumn(&loaded, "title"), (std::vector<std::string>{"t1", "t3", "edited"}));
}

// A stream without columns: version, stamp, kind, format, n = 0, L = 0, P = 0, next row, R,
// B = 0, stamp (44 bytes). Nothing bounds R but the columns, so rows without one are refused.
TEST(ColumnTableStream, RowsWithoutColumnsAreRefused) {
  for (uint32_t rows : {0u, 1u, 100000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(rows);
    std::string bytes;
    for (uint32_t word : {2u, 9u, 8u, 3u, 0u, 0u, 0u, 0u, rows, 0u, 9u}) {
      uint8_t le[4];
      bytes::PutLe32(le, word);
      bytes.append(reinterpret_cast<const char*>(le), 4);
    }
    ASSERT_EQ(bytes.size(), 44u);
    ColumnTable table(8, 3, nullptr);
    EXPECT_EQ(LoadBytes(&table, bytes), rows == 0 ? rc::kOk : rc::kBadData);
    EXPECT_EQ(table.RowCount(), 0u);
    EXPECT_EQ(table.Compact(nullptr), rc::kOk);
  }
}

std::string Words(std::initializer_list<uint32_t> words, const std::string& tail = "") {
  std::string bytes;
  for (uint32_t word : words) {
    uint8_t le[4];
    bytes::PutLe32(le, word);
    bytes.append(reinterpret_cast<const char*>(le), 4);
  }
  return bytes + tail;
}

// Open rows without columns: a stream that holds them is refused as rows without columns are,
// and a table that holds them writes nothing, so Save never writes what Load refuses.
TEST(ColumnTableStream, OpenRowsWithoutColumnsAreNeitherLoadedNorSaved) {
  const struct {
    const char* what;
    std::string bytes;
  } streams[] = {
      // version, stamp, kind, format, n = 0, L = 0, P = 1: row 0 of length 0; next row, R = 0,
      // B = 0, stamp.
      {"an empty open row", Words({2, 9, 8, 3, 0, 0, 1, 0, 0, 1, 0, 0, 9})},
      {"an open row with bytes", Words({2, 9, 8, 3, 0, 0, 1, 7, 4}, "abcd") + Words({8, 0, 0, 9})},
      {"two open rows", Words({2, 9, 8, 3, 0, 0, 2, 0, 0, 3, 0, 4, 0, 0, 9})},
  };
  for (const auto& c : streams) {
    SCOPED_TRACE(c.what);
    ColumnTable table(8, 3, nullptr);
    EXPECT_EQ(LoadBytes(&table, c.bytes), rc::kBadData);
    EXPECT_TRUE(IsEmptied(table));
  }

  ColumnTable table(8, 3, nullptr);
  ASSERT_TRUE(table.GetRow(5, true));
  for (const char* state : {"with an open row", "compacted"}) {
    SCOPED_TRACE(state);
    MemoryStream out;
    EXPECT_EQ(table.Save(&out), rc::kBadData);
    EXPECT_TRUE(out.Bytes().empty());
    ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  }
  // With no rows left it saves, and loads back.
  ColumnTable empty(8, 3, nullptr);
  ColumnTable loaded(8, 3, nullptr);
  EXPECT_EQ(LoadBytes(&loaded, StreamOf(empty)), rc::kOk);
}

// A column of an unknown type has no block that a stream could carry once the table holds rows,
// so a table that took one from a stream without rows would save a stream Load refuses: it is
// refused at once, rows or not.
TEST(ColumnTableStream, ColumnOfUnknownTypeIsRefusedWithoutRowsToo) {
  for (uint32_t type : {5u, 9u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(type);
    // n = 1 (the type, flags 0), L = 2 "x ", P = 0, next row 0, R = 0, B = 0, stamp.
    const std::string bytes = Words({2, 9, 8, 3, 1, type, 0, 2}, "x ") + Words({0, 0, 0, 0, 9});
    ColumnTable table(8, 3, nullptr);
    EXPECT_EQ(LoadBytes(&table, bytes), rc::kBadData);
    EXPECT_TRUE(IsEmptied(table));
  }
}

TEST(ColumnTableStream, SaveReportsShortAndFailedWrites) {
  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, kFixtureStream), rc::kOk);
  {
    MemoryStream base;
    FaultInjectingStream stream(&base);
    stream.FailWrite(1, static_cast<Result>(0x80070070));
    EXPECT_EQ(table.Save(&stream), static_cast<Result>(0x80070070));
  }
  {
    MemoryStream base;
    FaultInjectingStream stream(&base);
    stream.CapWrites(100);
    EXPECT_EQ(table.Save(&stream), rc::kShortTransfer);
  }
}

// Random damage anywhere in the stream: Load answers, and whatever it keeps can be scanned,
// sorted, grouped, compacted and saved.
TEST(ColumnTableStream, MutatedStreamsNeverCrashOrHang) {
  std::mt19937 random(12345);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = kFixtureStream;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
      const size_t at = random() % bytes.size();
      switch (random() % 3) {
        case 0: bytes[at] = static_cast<char>(random()); break;
        case 1: bytes[at] ^= static_cast<char>(1u << (random() % 8)); break;
        default: bytes.erase(at, 1 + random() % 8); break;
      }
    }
    ColumnTable table(8, 3, nullptr);
    if (LoadBytes(&table, bytes) != rc::kOk) {
      ASSERT_TRUE(IsEmptied(table));
      continue;
    }
    ++loaded;
    for (const char* column : {"fid", "title", "artist", "profile", "year"}) {
      ScanColumn(&table, column);
      RefPtr<RecordQuery> query;
      table.CreateQuery(&query);
      query->AddSortColumn(column);
      RefPtr<RecordSet> sorted;
      query->Execute(&sorted);
      Column(sorted.Get(), column);
      query->Clear();
      query->AddGroupColumn(column);
      RefPtr<RecordSet> groups;
      query->Execute(&groups);
      Column(groups.Get(), "count");
    }
    RefPtr<RecordSet> found;
    table.FindRow(&found, 0x30);
    ASSERT_EQ(table.Compact(nullptr), rc::kOk);
    // What was kept saves as a stream that loads back with the same rows.
    MemoryStream saved;
    ASSERT_EQ(table.SaveWithStamp(&saved, 7), rc::kOk) << round;
    ColumnTable again(8, 3, nullptr);
    ASSERT_EQ(LoadBytes(&again, saved.Bytes()), rc::kOk) << round;
    ASSERT_EQ(again.RowCount(), table.RowCount()) << round;
    for (int32_t i = 0; i < table.ColumnCount(); ++i) {
      const std::string name = table.Column(i).name;
      if (table.FindColumn(name) != i) continue;  // a repeated name reads the first column
      ASSERT_EQ(ScanColumn(&again, name), ScanColumn(&table, name)) << round;
    }
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace
