// A library file damaged on the drive (or at the path the source was given) is checked before
// use and built anew, never read into a crash, and opening it over and over leaves no handle
// behind.
#include <gtest/gtest.h>

#include <string>

#include "db/berkeley_db.h"
#include "devices/msc/file_source.h"
#include "devices/msc/file_source_test_support.h"
#include "testlib/btree_file_damage.h"
#include "testlib/temp_dir.h"

namespace {

const BtreeDamage kDamages[] = {BtreeDamage::kItemOffsetAtPageEnd,
                                BtreeDamage::kItemOffsetPastPage,
                                BtreeDamage::kUnknownLeafPageType, BtreeDamage::kZeroPageSize};

// A library with one track record, closed, then damaged on the disk.
void WriteDamagedLibrary(FileSourceFixture* fixture, const std::string& database_path,
                         BtreeDamage damage) {
  ASSERT_NE(fixture->Open(nullptr, database_path), nullptr);
  ASSERT_EQ(fixture->AddRecord(0x120, {{"type", "tune"}, {"title", "Song"}}), rc::kOk);
  const std::string path = fixture->Source()->DatabasePath();
  fixture->Close();
  std::string bytes = TempDir::ReadFile(path);
  ASSERT_TRUE(DamageBtreeFile(&bytes, damage)) << BtreeDamageName(damage);
  ASSERT_EQ(fixture->Dir().WriteFile(path.substr(path.find_last_of('\\') + 1), bytes), path);
}

TEST(FileSourceDamageTest, ADamagedLibraryFileIsBuiltAnew) {
  for (const char* database_name : {"", "given.db"}) {
    for (BtreeDamage damage : kDamages) {
      SCOPED_TRACE(std::string(BtreeDamageName(damage)) + " in " +
                   (*database_name ? database_name : ".source.db"));
      FileSourceFixture fixture;
      const std::string database_path = *database_name ? fixture.Dir().File(database_name) : "";
      WriteDamagedLibrary(&fixture, database_path, damage);
      uint8_t created = 0;
      FileSource* source = fixture.Open(&created, database_path);
      ASSERT_NE(source, nullptr);
      EXPECT_EQ(created, 1);
      EXPECT_FALSE(fixture.Find(0x120));
      EXPECT_TRUE(fixture.Find(kRootFid));
      const std::string path = source->DatabasePath();
      fixture.Close();
      BerkeleyDb check;
      EXPECT_EQ(check.Open(path.c_str(), BerkeleyDb::kRead | BerkeleyDb::kVerify), rc::kOk);
    }
  }
}

TEST(FileSourceDamageTest, ManyOpensOfADamagedFileKeepTheHandleCount) {
  FileSourceFixture fixture;
  WriteDamagedLibrary(&fixture, "", BtreeDamage::kItemOffsetAtPageEnd);
  const std::string damaged = TempDir::ReadFile(fixture.Dir().File(".source.db"));
  auto round = [&fixture, &damaged] {
    fixture.Dir().WriteFile(".source.db", damaged);
    uint8_t created = 0;
    ASSERT_NE(fixture.Open(&created), nullptr);
    EXPECT_EQ(created, 1);
    fixture.Close();
  };
  round();
  const uint32_t before = ProcessHandleCount();
  for (int i = 0; i < 50; ++i) round();
  EXPECT_LE(ProcessHandleCount(), before + 2);
}

}  // namespace
