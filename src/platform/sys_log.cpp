#include "platform/sys_log.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/calendar.h"
#include "platform/control_bits.h"
#include "platform/ir_time.h"
#include "platform/platform.h"
#include "platform/platform_codes.h"
#include "platform/shell_output.h"
#include "platform/win32_sync.h"
#include "support/format_string.h"

using namespace win32sync;

std::atomic<bool> syslog_print_event{true};
std::atomic<bool> syslog_print_group{true};
std::atomic<bool> syslog_print_time_stamp{false};

namespace {

// Marks the end of each conversion while the message is rendered; becomes a NUL afterwards.
constexpr char kPieceMark = '\x01';

// The format with a mark after every conversion ("%" up to the first conversion letter).
std::string MarkPieces(const char* format) {
  std::string marked;
  for (const char* p = format; *p; ++p) {
    marked += *p;
    if (*p != '%') continue;
    if (p[1] == '%') {
      marked += *++p;
      continue;
    }
    while (p[1] && !strchr("cCdiouxXeEfgGnPsS", p[1])) marked += *++p;
    if (!p[1]) break;
    marked += *++p;
    marked += kPieceMark;
  }
  return marked;
}

}  // namespace

void ControlName(char (&buffer)[64], const char* group, int which) {
  const char* suffix = which == 1 ? ":f" : which == 2 ? ":s" : ":c";
  snprintf(buffer, sizeof buffer, "%s%s", group, suffix);
}

ISysLog* ISysLog::Create() {
  ISysLog* log = new ISysLog;
  if (!log->records_mutex_) {
    delete log;
    return nullptr;
  }
  return log;
}

ISysLog::ISysLog() : records_mutex_(MutexCreate()) {}

ISysLog::~ISysLog() {
  if (records_mutex_) HandleClose(records_mutex_);
}

void ISysLog::Destroy() { delete this; }

void ISysLog::SetEnvironment(IRPlatform* platform, PlatformInterface* file_system, IRTime* time,
                             IControlBits* control_bits) {
  platform_ = platform;
  file_system_ = file_system;
  time_ = time;
  control_bits_ = control_bits;
}

void ISysLog::SetPrintFlags(bool event, bool group, bool time_stamp) {
  syslog_print_event = event;
  syslog_print_group = group;
  syslog_print_time_stamp = time_stamp;
}

uint32_t ISysLog::Route(const char* group, uint64_t bits, uint32_t destination) {
  if (!group) return destination;
  // Built in a buffer of this call's own: Log runs on any thread.
  char name[64];
  uint64_t mask = 0;
  ControlName(name, group, 0);
  if (control_bits_->Get(name, &mask) != prc::kOk || !(mask & bits)) return destination;
  destination = syslog_dest::kFile | syslog_dest::kShell;
  ControlName(name, group, 1);
  if (control_bits_->Get(name, &mask) == prc::kOk && !(mask & bits))
    destination = syslog_dest::kShell;
  ControlName(name, group, 2);
  if (control_bits_->Get(name, &mask) == prc::kOk) {
    if (mask & bits) destination |= syslog_dest::kShell;
    else destination &= ~syslog_dest::kShell;
  }
  return destination;
}

void ISysLog::Log(const char* group, uint32_t bits_low, uint32_t bits_high, uint32_t destination,
                  uint32_t code, const char* format, va_list args) {
  if (!platform_ || !time_ || !control_bits_ || !format) return;
  int64_t wall = 0;
  time_->WallNow(&wall);
  uint64_t bits = uint64_t{bits_high} << 32 | bits_low;
  destination = Route(group, bits, destination);
  if (destination & syslog_dest::kFile) {
    bool pieces = (destination & syslog_dest::kPieces) ||
                  (code != 0 && !(destination & syslog_dest::kNoPieces));
    va_list copy;
    va_copy(copy, args);
    std::string text = FormatStringV(pieces ? MarkPieces(format).c_str() : format, copy);
    va_end(copy);
    if (pieces)
      for (char& c : text)
        if (c == kPieceMark) c = '\0';
    MutexHold hold(records_mutex_);
    rings_.Append(code, wall, text.data(), text.size());
  }
  if (destination & syslog_dest::kShell)
    PrintToShell(group, code, wall, format, FormatStringV(format, args).c_str());
}

void ISysLog::LogF(const char* group, uint32_t bits_low, uint32_t bits_high,
                   uint32_t destination, uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Log(group, bits_low, bits_high, destination, code, format, args);
  va_end(args);
}

void ISysLog::PrintToShell(const char* group, uint32_t code, int64_t wall, const char* format,
                           const char* message) {
  std::string line;
  char piece[64];
  if (syslog_print_time_stamp) {
    CalendarTime when{};
    NanosecondsToCalendar(wall, &when);
    snprintf(piece, sizeof piece, "%2d/%02d %2d:%02d:%02d.%03d ", when.month, when.day, when.hour,
             when.minute, when.second, when.millisecond);
    line += piece;
  }
  if (syslog_print_event) {
    if (code == 0) {
      line += "          ";
    } else {
      snprintf(piece, sizeof piece, "%08lx  ", static_cast<unsigned long>(code));
      line += piece;
    }
  }
  if (syslog_print_group && group) line += "[" + std::string(group) + "] ";
  line += message;
  if (!strchr(format, '\n')) line += "\n";
  ShellPrint("%s", line.c_str());
}

Result ISysLog::TakeRecords(RecordSpans* spans, RecordCounters* counters) {
  MutexHold hold(records_mutex_);
  rings_.Take(spans, counters);
  return prc::kOk;
}

uint32_t ISysLog::FillLevel() {
  MutexHold hold(records_mutex_);
  return rings_.FillLevel();
}

// ---- free functions -------------------------------------------------------------------------

void SysLogWrite(const char* group, uint32_t bits_low, uint32_t bits_high, uint32_t destination,
                 uint32_t code, const char* format, va_list args) {
  // Looked up on every call, so that a platform made again is never missed.
  IRPlatform* platform = CurrentPlatform();
  if (!platform) return;
  ISysLog* log = static_cast<ISysLog*>(platform->GetInterface("ISysLog"));
  if (log) log->Log(group, bits_low, bits_high, destination, code, format, args);
}

void SysLogPrintf(const char* group, uint32_t bits_low, uint32_t bits_high, uint32_t destination,
                  uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  SysLogWrite(group, bits_low, bits_high, destination, code, format, args);
  va_end(args);
}

void SysLogSimple(uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  SysLogWrite(nullptr, 0, 0, syslog_dest::kFile, code, format, args);
  va_end(args);
}
