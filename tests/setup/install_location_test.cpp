// How a location and a name make the path a file is installed at.
#include <gtest/gtest.h>

#include "setup/install_location.h"

namespace {

TEST(InstallLocationTest, NamesKeepTheirOwnDriveAndFolder) {
  SetupFolders folders;
  folders.windows = "C:\\WINDOWS";
  folders.system = "C:\\WINDOWS\\SYSTEM32";
  const struct {
    InstallLocation location;
    const char* name;
    const char* path;
  } cases[] = {
      {InstallLocation::kWindows, "WININIT.INI", "C:\\WINDOWS\\WININIT.INI"},
      {InstallLocation::kSystem, "TORVEX.DLL", "C:\\WINDOWS\\SYSTEM32\\TORVEX.DLL"},
      {InstallLocation::kSystemDrivers, "MIRRIN.SYS", "C:\\WINDOWS\\SYSTEM32\\DRIVERS\\MIRRIN.SYS"},
      {InstallLocation::kWindowsInf, "oem3.inf", "C:\\WINDOWS\\INF\\oem3.inf"},
      {InstallLocation::kSystem, "D:\\Other\\X.DLL", "D:\\Other\\X.DLL"},
      {InstallLocation::kSystem, "\\Other\\X.DLL", "C:\\Other\\X.DLL"},
      {InstallLocation::kSystem, "E:X.DLL", "E:\\WINDOWS\\SYSTEM32\\X.DLL"},
      {InstallLocation::kNone, "relative.dll", "relative.dll"},
      {InstallLocation::kNone, "C:\\A\\B.DLL", "C:\\A\\B.DLL"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LocationPath(folders, c.location, c.name), c.path) << c.name;
  }
  EXPECT_EQ(CompletePath("Z:\\ship\\", "MIRRIN.INF"), "Z:\\ship\\MIRRIN.INF");
}

}  // namespace
