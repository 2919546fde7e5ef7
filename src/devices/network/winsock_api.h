// The socket functions the network players need, as a table of entry points. The process's
// table is loaded by name from WSOCK32 when the first socket is made (the linker here has no
// delay-load), so a system without sockets still serves every other player; tests hand a
// scripted table instead.
#pragma once

#include <winsock2.h>

#include "support/registered_lock.h"
#include "support/result_codes.h"

struct WinsockApi {
  int(WINAPI* Startup)(WORD version, LPWSADATA data);
  int(WINAPI* LastError)();
  SOCKET(WINAPI* Socket)(int family, int type, int protocol);
  int(WINAPI* CloseSocket)(SOCKET socket);
  int(WINAPI* IoctlSocket)(SOCKET socket, long command, u_long* argument);
  int(WINAPI* Connect)(SOCKET socket, const sockaddr* address, int length);
  int(WINAPI* Select)(int unused, fd_set* readable, fd_set* writable, fd_set* failed,
                      const timeval* time_out);
  int(WINAPI* SetSockOpt)(SOCKET socket, int level, int name, const char* value, int length);
  int(WINAPI* GetSockOpt)(SOCKET socket, int level, int name, char* value, int* length);
  int(WINAPI* Recv)(SOCKET socket, char* buffer, int length, int flags);
  int(WINAPI* Send)(SOCKET socket, const char* buffer, int length, int flags);
  int(WINAPI* GetPeerName)(SOCKET socket, sockaddr* address, int* length);
};

// A table and its start state. The start is tried once: its outcome holds for the life of
// the binding (the process's binding lives as long as the process).
class WinsockBinding {
 public:
  // The process's binding, loaded from WSOCK32 on its first Start.
  static WinsockBinding& System();
  // A binding over a caller's table (which must outlive it).
  explicit WinsockBinding(const WinsockApi* api);

  // 0 once started; the first failure's code when that attempt failed: the library's load
  // failure, or WSAStartup's error as HRESULT_FROM_WIN32. Later calls after a failure answer
  // rc::kSocketsUnavailable without a new attempt.
  Result Start();
  // The table; valid only after Start succeeded.
  const WinsockApi& api() const { return *api_; }
  // WSAGetLastError as HRESULT_FROM_WIN32.
  Result LastError() const;

 private:
  enum class State { kNotStarted, kStarted, kFailed };

  WinsockBinding() = default;
  Result Load();

  RegisteredLock lock_{"WinsockBinding"};
  State state_ = State::kNotStarted;
  const WinsockApi* api_ = nullptr;
  WinsockApi loaded_{};
};
