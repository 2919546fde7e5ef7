#include "devices/harddisk/fid_path.h"

#include <gtest/gtest.h>

namespace {

TEST(FidPathTest, ContentPropertyAndDirectoryPaths) {
  struct Case {
    uint32_t fid;
    const char* content;
    const char* properties;
    const char* directory;
  } cases[] = {
      {0x100, "/fids0/_00000/100", "/fids0/_00000/101", "/fids0/_00000"},
      {0x1230, "/fids0/_00001/230", "/fids0/_00001/231", "/fids0/_00001"},
      {0xFFFFFFF0, "/fids0/_fffff/ff0", "/fids0/_fffff/ff1", "/fids0/_fffff"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tarnu_fid::FidPath(c.fid), c.content);
    EXPECT_EQ(tarnu_fid::PropertyPath(c.fid), c.properties);
    EXPECT_EQ(tarnu_fid::FidDirectory(c.fid), c.directory);
  }
}

// An odd fid would make a track's content path another track's property file.
TEST(FidPathTest, OnlyMultiplesOf16FromTheRootPlaylistOnAreFids) {
  EXPECT_TRUE(tarnu_fid::IsValidFid(0x100));
  EXPECT_TRUE(tarnu_fid::IsValidFid(0x110));
  EXPECT_FALSE(tarnu_fid::IsValidFid(0x111));
  EXPECT_EQ(tarnu_fid::FidPath(0x111), tarnu_fid::PropertyPath(0x110));
  EXPECT_FALSE(tarnu_fid::IsValidFid(0x118));
  EXPECT_FALSE(tarnu_fid::IsValidFid(0xF0));
  EXPECT_FALSE(tarnu_fid::IsValidFid(0));
}

}  // namespace
