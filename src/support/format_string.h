// printf into a string: the helper the whole library formats its texts with.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

// Texts longer than 65536 characters are cut there.
std::string FormatStringV(const char* format, va_list args);
std::string FormatString(const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

std::wstring FormatWideStringV(const wchar_t* format, va_list args);
std::wstring FormatWideString(const wchar_t* format, ...);
