#include "wmdm/wmdm_conventions.h"

#include "devices/device_results.h"
#include "wmdm/wmdm_types.h"

HRESULT MapDeviceStatus(HRESULT first, HRESULT second) {
  if (first < 0) return first;
  switch (second) {
    case rc::kPlayerFull:
      return HResultFromWin32(ERROR_DISK_FULL);
    case rc::kGenerationChanged:
      return WMDM_E_INTERFACEDEAD;
    default:
      return second;
  }
}

HRESULT HResultFromWin32(DWORD code) { return rc::FromWin32(code); }

FILETIME FileTimeFromUnix(int64_t seconds) {
  constexpr int64_t kEpochDelta = 11644473600;  // seconds from 1601 to 1970
  constexpr uint64_t kTicksPerSecond = 10000000;
  uint64_t ticks = 0;
  if (seconds > -kEpochDelta) {
    const uint64_t since1601 = static_cast<uint64_t>(seconds) + kEpochDelta;
    ticks = since1601 > UINT64_MAX / kTicksPerSecond ? UINT64_MAX : since1601 * kTicksPerSecond;
  }
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

HRESULT WideToAnsiBuffer(char* buffer, const wchar_t* text, size_t size) {
  if (!text || !*text) return S_OK;
  if (!buffer) return E_INVALIDARG;
  if (size == 0) return WMDM_E_BUFFERTOOSMALL;
  // One character at a time, so a cut never splits a double-byte character or a surrogate
  // pair.
  size_t used = 0;
  HRESULT hr = S_OK;
  for (size_t i = 0; text[i];) {
    const int units = IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1]) ? 2 : 1;
    char bytes[8];
    const int length = WideCharToMultiByte(CP_ACP, 0, text + i, units, bytes, sizeof(bytes),
                                           nullptr, nullptr);
    if (used + length + 1 > size) {
      hr = WMDM_E_BUFFERTOOSMALL;
      break;
    }
    for (int b = 0; b < length; ++b) buffer[used++] = bytes[b];
    i += units;
  }
  buffer[used] = '\0';
  return hr;
}
