// A set of names kept in one text, each enclosed in ';' (";format;firmware;"); ";" is empty.
#pragma once

#include <string>

void TokenSetNormalize(std::string* set);
// Case-sensitive; the set is taken as it stands (";a;b;" holds "a", "a;b" does not).
bool TokenSetContains(const std::string& set, const std::string& item);
void TokenSetAdd(std::string* set, const std::string& item);
void TokenSetRemove(std::string* set, const std::string& item);
