// A B-tree file damaged on the disk: refused when it is opened with a check, never a crash,
// and every handle given back, also when the library panicked on the damage it met.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "db/berkeley_db.h"
#include "db/simple_db.h"
#include "testlib/btree_file_damage.h"
#include "testlib/temp_dir.h"

namespace {

constexpr uint32_t kReadWrite = BerkeleyDb::kRead | BerkeleyDb::kWrite;

const BtreeDamage kDamages[] = {BtreeDamage::kItemOffsetAtPageEnd,
                                BtreeDamage::kItemOffsetPastPage,
                                BtreeDamage::kUnknownLeafPageType, BtreeDamage::kZeroPageSize};

// A file of three records as our code writes it, with `damage` made to it.
std::string ThreeRecordFile(const TempDir& dir, const char* name) {
  const std::string path = dir.File(name);
  DeleteFileA(path.c_str());
  BerkeleyDb db;
  EXPECT_EQ(db.Open(path.c_str(), kReadWrite | BerkeleyDb::kCreate), rc::kOk);
  for (const char* key : {"alpha", "bravo", "charlie"}) {
    EXPECT_EQ(db.Put(key, std::string("value of ") + key), rc::kOk);
  }
  EXPECT_EQ(db.Close(), rc::kOk);
  return path;
}

std::string DamagedFile(const TempDir& dir, const char* name, BtreeDamage damage) {
  const std::string path = ThreeRecordFile(dir, name);
  std::string bytes = TempDir::ReadFile(path);
  EXPECT_TRUE(DamageBtreeFile(&bytes, damage)) << BtreeDamageName(damage);
  dir.WriteFile(name, bytes);
  return path;
}

TEST(BerkeleyDbDamageTest, ACheckedOpenRefusesEachDamage) {
  TempDir dir;
  for (BtreeDamage damage : kDamages) {
    SCOPED_TRACE(BtreeDamageName(damage));
    const std::string path = DamagedFile(dir, "damaged.db", damage);
    BerkeleyDb db;
    EXPECT_EQ(db.Open(path.c_str(), kReadWrite | BerkeleyDb::kVerify), rc::kBadData);
    EXPECT_FALSE(db.IsOpen());
    SimpleDB simple;
    EXPECT_EQ(simple.Open(path.c_str(), kReadWrite | BerkeleyDb::kVerify), rc::kBadData);
    EXPECT_EQ(simple.Db(), nullptr);
    // The file is left as it was: what to do with it is the caller's choice.
    const std::string damaged_bytes = TempDir::ReadFile(path);
    db.Open(path.c_str(), kReadWrite | BerkeleyDb::kVerify);
    EXPECT_TRUE(TempDir::ReadFile(path) == damaged_bytes);
  }
}

TEST(BerkeleyDbDamageTest, ACheckedOpenTakesSoundAndNewFiles) {
  TempDir dir;
  const std::string path = ThreeRecordFile(dir, "sound.db");
  BerkeleyDb db;
  ASSERT_EQ(db.Open(path.c_str(), kReadWrite | BerkeleyDb::kVerify), rc::kOk);
  std::string value;
  EXPECT_EQ(db.Get("bravo", &value), rc::kOk);
  EXPECT_EQ(value, "value of bravo");
  EXPECT_EQ(db.Close(), rc::kOk);

  // A file that does not exist yet, or exists empty, is made.
  dir.WriteFile("empty.db", "");
  for (const char* name : {"new.db", "empty.db"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(db.Open(dir.File(name).c_str(), kReadWrite | BerkeleyDb::kCreate | BerkeleyDb::kVerify),
              rc::kOk);
    EXPECT_EQ(db.Put("k", "v"), rc::kOk);
    EXPECT_EQ(db.Close(), rc::kOk);
  }
  // A file that cannot be read is not called damaged.
  EXPECT_EQ(db.Open(dir.File("missing.db").c_str(), kReadWrite | BerkeleyDb::kVerify),
            rc::FromErrno(ENOENT));
}

// Opened without the check, the library meets the damage inside a lookup and panics; the
// close after it must still give back the file and the library's private environment.
TEST(BerkeleyDbDamageTest, CloseAfterAPanicGivesBackEveryHandle) {
  TempDir dir;
  const std::string path = DamagedFile(dir, "panic.db", BtreeDamage::kUnknownLeafPageType);
  auto open_look_up_close = [&path] {
    BerkeleyDb db;
    ASSERT_EQ(db.Open(path.c_str(), kReadWrite), rc::kOk);
    std::string value;
    EXPECT_LT(db.Get("bravo", &value), 0);
    EXPECT_LT(db.Put("delta", "d"), 0);  // the library stays refusing
    db.Close();
  };
  open_look_up_close();  // whatever the first round sets up for good
  const uint32_t before = ProcessHandleCount();
  ASSERT_GT(before, 0u);
  for (int round = 0; round < 100; ++round) open_look_up_close();
  EXPECT_LE(ProcessHandleCount(), before + 2);
}

TEST(BerkeleyDbDamageTest, ManyCheckedOpensOfADamagedFileKeepTheHandleCount) {
  TempDir dir;
  for (BtreeDamage damage : kDamages) {
    SCOPED_TRACE(BtreeDamageName(damage));
    const std::string path = DamagedFile(dir, "damaged.db", damage);
    BerkeleyDb db;
    db.Open(path.c_str(), kReadWrite | BerkeleyDb::kVerify);
    const uint32_t before = ProcessHandleCount();
    for (int round = 0; round < 100; ++round) {
      EXPECT_EQ(db.Open(path.c_str(), kReadWrite | BerkeleyDb::kVerify), rc::kBadData);
    }
    EXPECT_LE(ProcessHandleCount(), before + 2);
  }
}

// Bytes changed at random places of a file our code wrote (a fixed seed, so every run makes
// the same files): a checked open either refuses the file or every entry of it can be read.
TEST(BerkeleyDbDamageTest, RandomlyChangedFilesAreRefusedOrReadWhole) {
  TempDir dir;
  const std::string path = dir.File("library.db");
  {
    BerkeleyDb db;
    ASSERT_EQ(db.Open(path.c_str(), kReadWrite | BerkeleyDb::kCreate), rc::kOk);
    for (int i = 0; i < 400; ++i) {
      const std::string key = "key " + std::to_string(i * 7919 % 1000);
      ASSERT_EQ(db.Put(key, std::string(static_cast<size_t>(i % 50) * 40, 'v') + key), rc::kOk);
    }
    ASSERT_EQ(db.Put("large", std::string(20000, 'L')), rc::kOk);  // on overflow pages
  }
  const std::string sound = TempDir::ReadFile(path);
  uint64_t state = 0x6A09E667F3BCC908ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  const uint32_t before = ProcessHandleCount();
  int refused = 0;
  for (int round = 0; round < 150; ++round) {
    std::string bytes = sound;
    const int changes = 1 + static_cast<int>(next() % 4);
    for (int i = 0; i < changes; ++i) {
      const size_t at = static_cast<size_t>(next() % bytes.size());
      bytes[at] = static_cast<char>(next() & 0xFF);
    }
    dir.WriteFile("library.db", bytes);
    BerkeleyDb db;
    if (db.Open(path.c_str(), kReadWrite | BerkeleyDb::kVerify) != rc::kOk) {
      ++refused;
      continue;
    }
    BerkeleyDbCursor cursor(&db);
    int entries = 0;
    for (cursor.Seek(std::string(), false); !cursor.AtEnd(); cursor.Next()) ++entries;
    EXPECT_EQ(entries, 401) << "round " << round;
  }
  EXPECT_GT(refused, 0);
  EXPECT_LE(ProcessHandleCount(), before + 2);
}

}  // namespace
