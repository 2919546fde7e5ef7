// Shell-style matching of a whole text: "*" any run, "?" one character, "[abc]" one of a set
// (no ranges, no negation), a backslash makes the next character literal. With `fold`,
// characters compare through the C library's lower-case mapping (escaped ones never do).
#pragma once

bool glob_match(const char* text, const char* pattern, bool fold);
