// Where the install engine reports each operation it runs, as one line.
#pragma once

#include <string>

class InstallLog {
 public:
  virtual void Line(const std::string& line) = 0;

 protected:
  ~InstallLog() = default;
};
