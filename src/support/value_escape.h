// Escaping of values that travel as quoted text (the network players' request protocol):
// new line as \n, other control bytes, '"' and 0x7F as \xHH, '\' doubled.
#pragma once

#include <string>

std::string EscapeValueText(const std::string& text);
// Undoes EscapeValueText; a '\' that starts no known escape is dropped.
std::string UnescapeValueText(const std::string& text);
// 0-15 for a hexadecimal digit, 0 for any other character.
int HexDigitValue(char c);
