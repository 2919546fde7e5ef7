// The text shown for a result code: the program's own message table first, then the system's
// messages, then the C library's texts for its range, else the number.
#pragma once

#include <string>

#include "support/result_codes.h"

std::string ErrorText(Result code);
