#include "support/token_set.h"

void TokenSetNormalize(std::string* set) {
  if (set->empty()) {
    *set = ";";
    return;
  }
  if (set->front() != ';') set->insert(set->begin(), ';');
  if (set->back() != ';') set->push_back(';');
}

bool TokenSetContains(const std::string& set, const std::string& item) {
  return !set.empty() && set.find(";" + item + ";") != std::string::npos;
}

void TokenSetAdd(std::string* set, const std::string& item) {
  TokenSetNormalize(set);
  if (!TokenSetContains(*set, item)) *set += item + ";";
}

void TokenSetRemove(std::string* set, const std::string& item) {
  TokenSetNormalize(set);
  const size_t at = set->find(";" + item + ";");
  if (at != std::string::npos) set->erase(at, item.size() + 1);
}
