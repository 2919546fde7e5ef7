// The text shown for a result code: the program's own message table first, then the system's
// messages, then the C library's texts for its range, else the number. The messages are taken
// in `language` where they have it (0: the language Windows picks).
#pragma once

#include <windows.h>

#include <string>

#include "support/result_codes.h"

std::string ErrorText(Result code, LANGID language = 0);
