// IControlBits: named 64-bit masks that steer the system log at run time, and the "debug"
// shell command that sets and shows them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform_interface.h"

class IRPlatform;
class ORMutexImpl;

// A snapshot of the names, walked with Next.
class ControlNameList {
 public:
  explicit ControlNameList(std::vector<std::string> names) : names_(std::move(names)) {}
  // The next name, or null after the last.
  virtual const char* Next() {
    return next_ < names_.size() ? names_[next_++].c_str() : nullptr;
  }
  virtual ~ControlNameList() = default;

 private:
  std::vector<std::string> names_;
  size_t next_ = 0;
};

class IControlBits final : public PlatformInterface {
 public:
  static IControlBits* Create();
  // Makes the guarding mutex through the platform; false when it cannot.
  bool Start(IRPlatform* platform);
  void Destroy() override;

  virtual Result SetBits(const char* name, uint64_t bits);  // creates the name when absent
  virtual Result ClearBits(const char* name, uint64_t bits);
  virtual Result Assign(const char* name, uint64_t bits);
  virtual Result Get(const char* name, uint64_t* mask);  // 0 when the name exists
  virtual uint64_t GetOrZero(const char* name);
  virtual Result Remove(const char* name);
  virtual Result OpenNames(ControlNameList** list);
  virtual Result CloseNames(ControlNameList* list);
  // The shell command "debug".
  virtual Result DebugCommand(int argc, char** argv);

 protected:
  IControlBits() = default;
  ~IControlBits();

 private:
  class Hold;
  ORMutexImpl* mutex_ = nullptr;
  std::map<std::string, uint64_t> masks_;
};
