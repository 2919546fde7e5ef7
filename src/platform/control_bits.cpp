#include "platform/control_bits.h"

#include "platform/option_parser.h"
#include "platform/or_mutex.h"
#include "platform/platform.h"
#include "platform/platform_codes.h"
#include "platform/shell_output.h"

class IControlBits::Hold {
 public:
  explicit Hold(ORMutexImpl* mutex) : mutex_(mutex) {
    if (mutex_) mutex_->Lock();
  }
  ~Hold() {
    if (mutex_) mutex_->Unlock();
  }

 private:
  ORMutexImpl* mutex_;
};

IControlBits* IControlBits::Create() { return new IControlBits; }

bool IControlBits::Start(IRPlatform* platform) {
  mutex_ = platform->CreateMutex();
  return mutex_ != nullptr;
}

IControlBits::~IControlBits() {
  if (mutex_) mutex_->Destroy();
}

void IControlBits::Destroy() { delete this; }

Result IControlBits::SetBits(const char* name, uint64_t bits) {
  Hold hold(mutex_);
  masks_[name] |= bits;
  return prc::kOk;
}

Result IControlBits::ClearBits(const char* name, uint64_t bits) {
  Hold hold(mutex_);
  auto found = masks_.find(name);
  if (found != masks_.end()) found->second &= ~bits;
  return prc::kOk;
}

Result IControlBits::Assign(const char* name, uint64_t bits) {
  Hold hold(mutex_);
  masks_[name] = bits;
  return prc::kOk;
}

Result IControlBits::Get(const char* name, uint64_t* mask) {
  Hold hold(mutex_);
  auto found = masks_.find(name);
  if (found == masks_.end()) return rc::kNotFound;
  if (mask) *mask = found->second;
  return prc::kOk;
}

uint64_t IControlBits::GetOrZero(const char* name) {
  uint64_t mask = 0;
  return Get(name, &mask) == prc::kOk ? mask : 0;
}

Result IControlBits::Remove(const char* name) {
  Hold hold(mutex_);
  masks_.erase(name);
  return prc::kOk;
}

Result IControlBits::OpenNames(ControlNameList** list) {
  std::vector<std::string> names;
  names.reserve(512);
  {
    Hold hold(mutex_);
    for (const auto& entry : masks_) names.push_back(entry.first);
  }
  *list = new ControlNameList(std::move(names));
  return prc::kOk;
}

Result IControlBits::CloseNames(ControlNameList* list) {
  delete list;
  return prc::kOk;
}

Result IControlBits::DebugCommand(int argc, char** argv) {
  OptionParser options(argc, argv, "cl");
  options.index = 1;
  bool clear = false, list = false, usage = false;
  while (int letter = options.NextOption(nullptr)) {
    if (letter == 'c') clear = true;
    else if (letter == 'l') list = true;
    else usage = true;
  }
  int rest = argc - options.index;
  char** names = argv + options.index;
  if (usage || (list && (clear || rest != 0)) || (clear && rest != 1) ||
      (!list && !clear && (rest < 1 || rest > 2))) {
    ShellPrint("usage: debug name [bitmask]\n");
    ShellPrint("       debug -c name\n");
    ShellPrint("       debug -l\n");
    return prc::kOk;
  }
  if (list) {
    ControlNameList* all = nullptr;
    OpenNames(&all);
    while (const char* name = all->Next()) {
      ShellPrint("%-14s ", name);
      uint64_t mask = 0;
      Result got = Get(name, &mask);
      if (got == prc::kOk) ShellPrint("%-16llx\n", static_cast<unsigned long long>(mask));
      else ShellPrint("(err %lx)\n", static_cast<unsigned long>(got));
    }
    CloseNames(all);
  } else if (clear) {
    Remove(names[0]);
  } else if (rest == 1) {
    uint64_t mask = 0;
    if (Get(names[0], &mask) == prc::kOk)
      ShellPrint("0x%llx\n", static_cast<unsigned long long>(mask));
    else
      ShellPrint("debug %s not set\n", names[0]);
  } else {
    SetBits(names[0], ParseNumber(names[1], nullptr, 16));
  }
  return prc::kOk;
}
