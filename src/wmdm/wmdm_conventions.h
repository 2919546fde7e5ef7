// Conversions at the boundary between the device library and WMDM: result codes, times and
// text.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The status WMDM receives for a device-library operation. A failed first status is returned
// as it is; otherwise second, with "player full" becoming the disk-full HRESULT and "device
// generation changed" WMDM_E_INTERFACEDEAD. Other device-library codes pass unchanged.
HRESULT MapDeviceStatus(HRESULT first, HRESULT second);

// A positive Win32 error as HRESULT (0x80070000 | low 16 bits); 0 and values that are already
// negative HRESULTs pass unchanged.
HRESULT HResultFromWin32(DWORD code);

// Seconds since 1970-01-01 UTC as a FILETIME (100-ns units since 1601-01-01). Times before
// 1601 give 0; times beyond the FILETIME range give its largest value.
FILETIME FileTimeFromUnix(int64_t seconds);

// Converts text into buffer (size bytes) in the ANSI code page, terminator included. Null or
// empty text leaves the buffer untouched (S_OK). Text that does not fit is cut at a character
// boundary and still terminated: WMDM_E_BUFFERTOOSMALL. A null buffer gives E_INVALIDARG.
HRESULT WideToAnsiBuffer(char* buffer, const wchar_t* text, size_t size);
