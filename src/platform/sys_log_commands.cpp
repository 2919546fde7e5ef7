// The shell commands "syslog" and "rlog" of the system log.
#include <atomic>
#include <string>

#include "platform/control_bits.h"
#include "platform/option_parser.h"
#include "platform/platform_codes.h"
#include "platform/shell_output.h"
#include "platform/sys_log.h"

// The shell print flags (sys_log.cpp).
extern std::atomic<bool> syslog_print_event;
extern std::atomic<bool> syslog_print_group;
extern std::atomic<bool> syslog_print_time_stamp;

namespace {

void PrintSyslogHelp() {
  static const char* const kLines[] = {
      "usage: syslog [-f] [-s] [-d] [-o] name [bits]\n",
      "          -f     = to file\n",
      "          -s     = to shell\n",
      "          -d     = to default (as specified in source)\n",
      "          -o     = off (disable log)\n",
      "   or: syslog [-eE] [-gG] [-kK] [-v] [-l] [-D]\n",
      "          -e/-E  = print / don't print event\n",
      "          -g/-G  = print / don't print group (control name)\n",
      "          -k/-K  = print / don't print timestamp\n",
      "          -v     = verbose (same as -egk)\n",
      "          -l     = list all names\n",
      "          -D     = all names to default\n",
  };
  for (const char* line : kLines) ShellPrint("%s", line);
}

bool EndsWith(const std::string& text, const char* suffix) {
  return text.size() > 2 && text.compare(text.size() - 2, 2, suffix) == 0;
}

// A switch given on (+1) or off (-1) or not at all (0); both is inconsistent.
struct Switch {
  int state = 0;
  bool conflict = false;
  void Set(int value) {
    if (state != 0 && state != value) conflict = true;
    state = value;
  }
};

}  // namespace

// Routing of a group's bits, as "syslog" sets it on the group's control names:
//   to file: G:c, G:f set, G:s cleared;  to shell: G:c, G:s set, G:f cleared;
//   both: all three set;  off: G:c set, G:f and G:s cleared;  default: all three cleared.
Result ISysLog::SyslogCommand(int argc, char** argv) {
  if (!control_bits_) return prc::kOk;
  OptionParser options(argc, argv, "dDeEfgGkKlosv");
  options.index = 1;
  bool to_file = false, to_shell = false, to_default = false, off = false;
  bool list = false, all_default = false, help = false;
  Switch event, group, stamp;
  while (int letter = options.NextOption(nullptr)) {
    switch (letter) {
      case 'f': to_file = true; break;
      case 's': to_shell = true; break;
      case 'd': to_default = true; break;
      case 'o': off = true; break;
      case 'e': event.Set(1); break;
      case 'E': event.Set(-1); break;
      case 'g': group.Set(1); break;
      case 'G': group.Set(-1); break;
      case 'k': stamp.Set(1); break;
      case 'K': stamp.Set(-1); break;
      case 'v': event.Set(1); group.Set(1); stamp.Set(1); break;
      case 'l': list = true; break;
      case 'D': all_default = true; break;
      default: help = true; break;
    }
  }
  int rest = argc - options.index;
  char** names = argv + options.index;
  bool routing = to_file || to_shell || to_default || off;
  if (help || rest > 2 || (routing && rest == 0)) {
    PrintSyslogHelp();
    return prc::kOk;
  }
  if (event.conflict || group.conflict || stamp.conflict ||
      (to_default && (to_file || to_shell || off)) || (off && (to_file || to_shell))) {
    ShellPrint("Inconsistent flags\n");
    return prc::kOk;
  }
  if (event.state) syslog_print_event = event.state > 0;
  if (group.state) syslog_print_group = group.state > 0;
  if (stamp.state) syslog_print_time_stamp = stamp.state > 0;
  if (all_default) {
    ControlNameList* all = nullptr;
    control_bits_->OpenNames(&all);
    while (const char* name = all->Next()) {
      std::string text = name;
      if (EndsWith(text, ":c") || EndsWith(text, ":f") || EndsWith(text, ":s"))
        control_bits_->Remove(name);
    }
    control_bits_->CloseNames(all);
  }
  if (rest > 0) {
    uint64_t bits = rest == 2 ? ParseNumber(names[1], nullptr, 16) : ~uint64_t{0};
    char c[64], f[64], s[64];
    ControlName(c, names[0], 0);
    ControlName(f, names[0], 1);
    ControlName(s, names[0], 2);
    if (to_default) {
      control_bits_->ClearBits(c, bits);
      control_bits_->ClearBits(f, bits);
      control_bits_->ClearBits(s, bits);
    } else if (routing) {
      control_bits_->SetBits(c, bits);
      control_bits_->SetBits(f, to_file ? bits : 0);
      control_bits_->SetBits(s, to_shell ? bits : 0);
      if (!to_file) control_bits_->ClearBits(f, bits);
      if (!to_shell) control_bits_->ClearBits(s, bits);
    }
  }
  if (list || (rest > 0 && !routing)) ListRouting(rest > 0 && !list ? names[0] : nullptr);
  if (argc <= 1) {
    ShellPrint("Events     %s\n", syslog_print_event ? "ON" : "off");
    ShellPrint("Time stamp %s\n", syslog_print_time_stamp ? "ON" : "off");
    ShellPrint("Ctrl name  %s\n", syslog_print_group ? "ON" : "off");
    ShellPrint("\"syslog -?\" for help\n");
  }
  return prc::kOk;
}

// For each group that has a G:c name: which of its steered bits go to file, shell, both or
// nowhere.
void ISysLog::ListRouting(const char* only_group) {
  ControlNameList* all = nullptr;
  control_bits_->OpenNames(&all);
  while (const char* name = all->Next()) {
    std::string text = name;
    if (!EndsWith(text, ":c")) continue;
    std::string group = text.substr(0, text.size() - 2);
    if (only_group && group != only_group) continue;
    uint64_t steered = control_bits_->GetOrZero(name);
    uint64_t to[4] = {0, 0, 0, 0};
    for (int bit = 0; bit < 64; ++bit) {
      uint64_t one = uint64_t{1} << bit;
      if (steered & one) to[Route(group.c_str(), one, 0)] |= one;
    }
    ShellPrint("-- %s\n", group.c_str());
    ShellPrint("to file:          %16llx\n", static_cast<unsigned long long>(to[1]));
    ShellPrint("to shell:         %16llx\n", static_cast<unsigned long long>(to[2]));
    ShellPrint("to file & shell:  %16llx\n", static_cast<unsigned long long>(to[3]));
    ShellPrint("to none:          %16llx\n", static_cast<unsigned long long>(to[0]));
  }
  control_bits_->CloseNames(all);
}

// "rlog [-fso] [-e event] [ctrl-name ctrl-bits] msg": without -f or -s the entry goes to the
// file record buffer; -o gives it no destination of its own, so that only its group's
// routing can place it.
Result ISysLog::RlogCommand(int argc, char** argv) {
  OptionParser options(argc, argv, "e:fos");
  options.index = 1;
  uint32_t destination = 0, code = 0;
  bool off = false, usage = false;
  const char* event = nullptr;
  while (int letter = options.NextOption(&event)) {
    switch (letter) {
      case 'f': destination |= syslog_dest::kFile; break;
      case 's': destination |= syslog_dest::kShell; break;
      case 'o': off = true; break;
      case 'e': code = static_cast<uint32_t>(ParseNumber(event, nullptr, 16)); break;
      default: usage = true; break;
    }
  }
  int rest = argc - options.index;
  char** words = argv + options.index;
  if (usage || rest < 1 || (off && destination != 0)) {
    ShellPrint("usage: rlog [-fso] [-e event] [ctrl-name ctrl-bits] msg\n");
    return prc::kOk;
  }
  if (!off && destination == 0) destination = syslog_dest::kFile;
  const char* group = nullptr;
  uint64_t bits = 0;
  if (rest >= 3) {
    group = words[0];
    bits = ParseNumber(words[1], nullptr, 16);
    words += 2;
    rest -= 2;
  }
  std::string message;
  for (int i = 0; i < rest; ++i) {
    if (i) message += ' ';
    message += words[i];
  }
  LogF(group, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32), destination, code,
       "%s", message.c_str());
  return prc::kOk;
}
