#include "devices/network/winsock_api.h"

#include "devices/network/network_results.h"

namespace {

template <typename Function>
bool Bind(HMODULE library, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return *slot != nullptr;
}

}  // namespace

WinsockBinding& WinsockBinding::System() {
  static WinsockBinding* binding = new WinsockBinding();  // never unloaded
  return *binding;
}

WinsockBinding::WinsockBinding(const WinsockApi* api) : api_(api) {}

Result WinsockBinding::Load() {
  // Kept loaded for the life of the process: sockets may be open until it ends.
  HMODULE library = LoadLibraryA("wsock32.dll");
  if (library == nullptr) return rc::FromWin32(GetLastError());
  WinsockApi& t = loaded_;
  const bool complete =
      Bind(library, "WSAStartup", &t.Startup) && Bind(library, "WSAGetLastError", &t.LastError) &&
      Bind(library, "socket", &t.Socket) && Bind(library, "closesocket", &t.CloseSocket) &&
      Bind(library, "ioctlsocket", &t.IoctlSocket) && Bind(library, "connect", &t.Connect) &&
      Bind(library, "select", &t.Select) && Bind(library, "setsockopt", &t.SetSockOpt) &&
      Bind(library, "getsockopt", &t.GetSockOpt) && Bind(library, "recv", &t.Recv) &&
      Bind(library, "send", &t.Send) && Bind(library, "getpeername", &t.GetPeerName);
  if (!complete) return rc::FromWin32(ERROR_PROC_NOT_FOUND);
  api_ = &loaded_;
  return rc::kOk;
}

Result WinsockBinding::Start() {
  ScopedEnter<RegisteredLock> guard(lock_);
  if (state_ == State::kStarted) return rc::kOk;
  if (state_ == State::kFailed) return rc::kSocketsUnavailable;
  Result result = api_ ? rc::kOk : Load();
  if (rc::Succeeded(result)) {
    WSADATA data;
    const int started = api_->Startup(MAKEWORD(2, 0), &data);
    if (started != 0) result = rc::FromWin32(static_cast<uint32_t>(started));
  }
  state_ = rc::Failed(result) ? State::kFailed : State::kStarted;
  return result;
}

Result WinsockBinding::LastError() const {
  return rc::FromWin32(static_cast<uint32_t>(api_->LastError()));
}
