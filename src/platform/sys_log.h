// ISysLog: the platform's log. Every entry has a group, a 64-bit mask of control bits, a
// default destination, an event code and a printf-style message; the group's control names
// G:c, G:f and G:s (IControlBits) steer it to the shell and/or the file record buffer.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdint>

#include "platform/platform_interface.h"
#include "platform/record_ring.h"

class IControlBits;
class IRPlatform;
class IRTime;

namespace syslog_dest {
constexpr uint32_t kFile = 1;
constexpr uint32_t kShell = 2;
constexpr uint32_t kNoPieces = 4;  // with an event code: render the message as one text
constexpr uint32_t kPieces = 8;    // keep each converted argument as a piece of its own
}  // namespace syslog_dest

class ISysLog final : public PlatformInterface {
 public:
  static ISysLog* Create();
  void Destroy() override;
  // Nothing is logged until the environment is given.
  void SetEnvironment(IRPlatform* platform, PlatformInterface* file_system, IRTime* time,
                      IControlBits* control_bits);

  virtual void Log(const char* group, uint32_t bits_low, uint32_t bits_high,
                   uint32_t destination, uint32_t code, const char* format, va_list args);
  virtual void LogF(const char* group, uint32_t bits_low, uint32_t bits_high,
                    uint32_t destination, uint32_t code, const char* format, ...)
      __attribute__((format(__MINGW_PRINTF_FORMAT, 7, 8)));
  virtual Result TakeRecords(RecordSpans* spans, RecordCounters* counters);
  virtual uint32_t FillLevel();
  // The shell commands "rlog" and "syslog".
  virtual Result RlogCommand(int argc, char** argv);
  virtual Result SyslogCommand(int argc, char** argv);

  // The shell print flags (process-wide).
  static void SetPrintFlags(bool event, bool group, bool time_stamp);

 protected:
  ISysLog();
  ~ISysLog();

 private:
  uint32_t Route(const char* group, uint64_t bits, uint32_t destination);
  void PrintToShell(const char* group, uint32_t code, int64_t wall, const char* format,
                    const char* message);
  // Lists the routing of every group, or of one.
  void ListRouting(const char* only_group);

  IRPlatform* platform_ = nullptr;
  PlatformInterface* file_system_ = nullptr;
  IRTime* time_ = nullptr;
  IControlBits* control_bits_ = nullptr;
  void* records_mutex_;
  RecordRings rings_;
};

// The suffix of a control name: 1 ":f", 2 ":s", anything else ":c".
void ControlName(char (&buffer)[64], const char* group, int which);

// Free functions for code without a platform pointer (loaded modules, the time service).
void SysLogWrite(const char* group, uint32_t bits_low, uint32_t bits_high, uint32_t destination,
                 uint32_t code, const char* format, va_list args);
void SysLogPrintf(const char* group, uint32_t bits_low, uint32_t bits_high, uint32_t destination,
                  uint32_t code, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 6, 7)));
// No group, no bits, to the file record buffer.
void SysLogSimple(uint32_t code, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
