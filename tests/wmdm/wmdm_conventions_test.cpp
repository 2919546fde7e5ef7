#include "wmdm/wmdm_conventions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "wmdm/wmdm_types.h"

namespace {

constexpr HRESULT H(uint32_t value) { return static_cast<HRESULT>(value); }

TEST(MapDeviceStatus, Table) {
  const struct {
    HRESULT first;
    HRESULT second;
    HRESULT expected;
  } cases[] = {
      {E_INVALIDARG, H(0xC0049002), E_INVALIDARG},  // an earlier failure wins
      {H(0xC0040002), S_OK, H(0xC0040002)},
      {S_OK, H(0xC0049002), H(0x80070070)},  // player full: disk full
      {S_FALSE, H(0xC0049002), H(0x80070070)},
      {S_OK, H(0xC0049028), H(0x80045001)},  // generation changed: interface dead
      {S_OK, H(0xC0040002), H(0xC0040002)},
      {S_OK, H(0xC0049026), H(0xC0049026)},
      {S_OK, S_OK, S_OK},
      {S_OK, S_FALSE, S_FALSE},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MapDeviceStatus(c.first, c.second), c.expected)
        << std::hex << c.first << " " << c.second;
}

TEST(HResultFromWin32, Table) {
  EXPECT_EQ(HResultFromWin32(5), H(0x80070005));
  EXPECT_EQ(HResultFromWin32(ERROR_DISK_FULL), H(0x80070070));
  EXPECT_EQ(HResultFromWin32(0x12345), H(0x80072345));  // low 16 bits only
  EXPECT_EQ(HResultFromWin32(0), S_OK);
  EXPECT_EQ(HResultFromWin32(0x80070057), E_INVALIDARG);  // already an HRESULT
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TEST(FileTimeFromUnix, Table) {
  EXPECT_EQ(Ticks(FileTimeFromUnix(0)), 116444736000000000ull);
  EXPECT_EQ(Ticks(FileTimeFromUnix(1)), 116444736010000000ull);
  EXPECT_EQ(Ticks(FileTimeFromUnix(-1)), 116444735990000000ull);
  EXPECT_EQ(Ticks(FileTimeFromUnix(0xFFFFFFFFll)), (0xFFFFFFFFull + 11644473600ull) * 10000000);
  // Out of FILETIME's range: clamped instead of wrapped.
  EXPECT_EQ(Ticks(FileTimeFromUnix(-11644473600ll - 5)), 0u);
  EXPECT_EQ(Ticks(FileTimeFromUnix(INT64_MAX)), UINT64_MAX);
}

TEST(FileTimeFromUnix, AgreesWithTheSystemCalendar) {
  const FILETIME time = FileTimeFromUnix(951782400);  // 2000-02-29 00:00:00
  SYSTEMTIME system;
  ASSERT_TRUE(FileTimeToSystemTime(&time, &system));
  EXPECT_EQ(system.wYear, 2000);
  EXPECT_EQ(system.wMonth, 2);
  EXPECT_EQ(system.wDay, 29);
  EXPECT_EQ(system.wHour, 0);
}

TEST(WideToAnsiBuffer, ConvertsWithTerminator) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(WideToAnsiBuffer(buffer, L"Caf\u00e9", sizeof(buffer)), S_OK);
  EXPECT_STREQ(buffer, "Caf\xe9");  // code page 1252
  EXPECT_EQ(buffer[6], 'x');
}

TEST(WideToAnsiBuffer, ExactFitAndCut) {
  char buffer[8];
  EXPECT_EQ(WideToAnsiBuffer(buffer, L"abc", 4), S_OK);
  EXPECT_STREQ(buffer, "abc");
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(WideToAnsiBuffer(buffer, L"abcdef", 4), WMDM_E_BUFFERTOOSMALL);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], 'x');  // nothing written past the buffer
}

TEST(WideToAnsiBuffer, EmptyOrNullTextLeavesBufferUntouched) {
  char buffer[4] = {'k', 'e', 'e', 'p'};
  EXPECT_EQ(WideToAnsiBuffer(buffer, L"", sizeof(buffer)), S_OK);
  EXPECT_EQ(WideToAnsiBuffer(buffer, nullptr, sizeof(buffer)), S_OK);
  EXPECT_EQ(std::memcmp(buffer, "keep", 4), 0);
}

TEST(WideToAnsiBuffer, BadBuffers) {
  char buffer[2] = {'k', 'k'};
  EXPECT_EQ(WideToAnsiBuffer(nullptr, L"a", 10), E_INVALIDARG);
  EXPECT_EQ(WideToAnsiBuffer(buffer, L"a", 0), WMDM_E_BUFFERTOOSMALL);
  EXPECT_EQ(buffer[0], 'k');
  EXPECT_EQ(WideToAnsiBuffer(buffer, L"ab", 1), WMDM_E_BUFFERTOOSMALL);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'k');
}

}  // namespace
