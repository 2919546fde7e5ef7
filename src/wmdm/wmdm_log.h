// Trace lines through WMDM's own logger (source "TORVEX"), and the out-pointer check that
// every COM method of the provider starts with.
#pragma once

#include <windows.h>

struct IWMDMLogger;

// Makes a logger instance. The default creates WMDM's logger in-process through COM; tests
// put a fake in its place.
using WmdmLoggerCreator = HRESULT (*)(IWMDMLogger** logger);

// Replaces the creator (null restores the default) and forgets the cached answer of
// WmdmLogEnabled. Returns the previous creator. Not for use while other threads log.
WmdmLoggerCreator SetWmdmLoggerCreator(WmdmLoggerCreator creator);

// Whether WMDM logging is on. Asked of the logger once per process and cached; a logger that
// cannot be created counts as off.
bool WmdmLogEnabled();

// When logging is on, writes one line through a logger instance made for it: text is a
// printf format with at most one placeholder, which receives value. A negative status marks
// the line as an error, otherwise it is informational. Returns the logger's result (S_OK when
// logging is off).
HRESULT WmdmLog(const char* text, DWORD value, HRESULT status);

// Logs text + " returned 0x%08lx" with status and returns status unchanged; the last line of
// every COM method, its text being "Class::Method".
HRESULT WmdmLogResult(const char* text, HRESULT status);

// For chains of out-pointer checks: a failed status passes through; a null pointer gives
// E_INVALIDARG and the line "NULL input pointer"; otherwise status passes.
HRESULT CheckOutPointer(HRESULT status, const void* pointer);
