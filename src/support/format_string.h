// printf into a narrow string.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

std::string FormatStringV(const char* format, va_list args);
std::string FormatString(const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
