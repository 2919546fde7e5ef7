// The version resource that the installation tool compares before it replaces an installed
// Torvex.dll, read back with the system's own version functions from the test build's DLL and
// from the shipped, stripped 32-bit copy in dist/.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string WindowsPath(const std::string& unix_path) {
  std::string path = "Z:" + unix_path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string TestBuildDll() { return WindowsPath(TORVEX_DLL_UNIX_PATH); }
std::string ShippedDll() { return WindowsPath(std::string(TORVEX_DIST_UNIX_DIR) + "/Torvex.dll"); }

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The project version "a.b.c.d" as the two 32-bit halves of VS_FIXEDFILEINFO.
void ExpectedVersion(DWORD* ms, DWORD* ls) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  ASSERT_EQ(std::sscanf(TORVEX_VERSION_DOTS, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
  *ms = (a << 16) | b;
  *ls = (c << 16) | d;
}

std::string StringValue(const std::vector<char>& info, const char* name) {
  const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr)
    return "<missing>";
  return std::string(value, strnlen(value, length));
}

void ExpectVersionResource(const std::string& path) {
  SCOPED_TRACE(path);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_size));
  ASSERT_GE(fixed_size, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  DWORD ms = 0, ls = 0;
  ExpectedVersion(&ms, &ls);
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  EXPECT_EQ(StringValue(info, "FileVersion"), TORVEX_VERSION_DOTS);
  EXPECT_EQ(StringValue(info, "ProductVersion"), TORVEX_VERSION_DOTS);
  EXPECT_EQ(StringValue(info, "OriginalFilename"), "Torvex.dll");
  EXPECT_NE(StringValue(info, "FileDescription"), "<missing>");
}

// The COFF header of a PE file: machine and symbol count.
struct CoffHeader {
  WORD machine = 0;
  DWORD symbol_count = 0;
  bool ok = false;
};

CoffHeader ReadCoffHeader(const std::string& path) {
  CoffHeader header;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return header;
  std::vector<unsigned char> bytes(4096);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  if (bytes.size() < 0x40) return header;
  const size_t pe = bytes[0x3C] | bytes[0x3D] << 8 | bytes[0x3E] << 16 | size_t(bytes[0x3F]) << 24;
  if (pe + 24 > bytes.size() || bytes[pe] != 'P' || bytes[pe + 1] != 'E') return header;
  header.machine = static_cast<WORD>(bytes[pe + 4] | bytes[pe + 5] << 8);
  header.symbol_count = bytes[pe + 16] | bytes[pe + 17] << 8 | bytes[pe + 18] << 16 |
                        DWORD(bytes[pe + 19]) << 24;
  header.ok = true;
  return header;
}

TEST(VersionResourceTest, TestBuildDllCarriesTheProjectVersion) {
  ExpectVersionResource(TestBuildDll());
}

TEST(VersionResourceTest, ShippedDllIsThe32BitBuildStrippedWithItsVersion) {
  const std::string path = ShippedDll();
  if (!FileExists(path)) {
    if (std::getenv("TORVEX_REQUIRE_DIST")) FAIL() << path << " is missing";
    GTEST_SKIP() << "dist/ not installed (scripts/build or scripts/test installs it)";
  }
  ExpectVersionResource(path);
  const CoffHeader header = ReadCoffHeader(path);
  ASSERT_TRUE(header.ok) << "not a PE file";
  EXPECT_EQ(header.machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(header.symbol_count, 0u) << "the shipped DLL still carries its symbols";
}

}  // namespace
