#include "devices/network/tcp_socket.h"

#include <atomic>
#include <climits>
#include <cstring>

#include "devices/network/network_results.h"
#include "devices/time_of_day.h"

namespace {

std::atomic<int64_t> last_traffic_us{0};

void NoteTraffic() {
  const TimeVal now = GetTimeOfDay();
  last_traffic_us = int64_t{now.seconds} * 1000000 + now.microseconds;
}

sockaddr_in SocketAddress(const NetAddress& peer) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = peer.address;
  // Network order by hand: htons would bind the library at load time.
  const uint8_t port[2] = {static_cast<uint8_t>(peer.port >> 8), static_cast<uint8_t>(peer.port)};
  std::memcpy(&address.sin_port, port, sizeof port);
  return address;
}

int ClampLength(uint32_t length) {
  return length > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

TcpSocket::TcpSocket(WinsockBinding* winsock)
    : winsock_(winsock ? winsock : &WinsockBinding::System()) {}

TcpSocket::~TcpSocket() { Close(); }

Result TcpSocket::StartWinsock() { return WinsockBinding::System().Start(); }

TimeVal TcpSocket::LastTraffic() {
  const int64_t us = last_traffic_us;
  return TimeVal{static_cast<int32_t>(us / 1000000), static_cast<int32_t>(us % 1000000)};
}

Result TcpSocket::NotOpen() const { return rc::FromWin32(WSAENOTSOCK); }

Result TcpSocket::Create() {
  Close();
  const Result started = winsock_->Start();
  if (rc::Failed(started)) return started;
  socket_ = winsock_->api().Socket(AF_INET, SOCK_STREAM, 0);
  non_blocking_ = false;
  return socket_ == INVALID_SOCKET ? winsock_->LastError() : rc::kOk;
}

Result TcpSocket::SetNonBlocking(bool non_blocking) {
  if (!IsOpen()) return NotOpen();
  u_long argument = non_blocking ? 1 : 0;
  if (winsock_->api().IoctlSocket(socket_, FIONBIO, &argument) != 0) return winsock_->LastError();
  non_blocking_ = non_blocking;
  return rc::kOk;
}

Result TcpSocket::Connect(const NetAddress& peer) {
  if (!IsOpen()) return NotOpen();
  const sockaddr_in address = SocketAddress(peer);
  if (winsock_->api().Connect(socket_, reinterpret_cast<const sockaddr*>(&address),
                              sizeof address) == 0) {
    return rc::kOk;
  }
  const int error = winsock_->api().LastError();
  return error == WSAEWOULDBLOCK ? rc::kWouldBlock : rc::FromWin32(static_cast<uint32_t>(error));
}

Result TcpSocket::ConnectWithTimeout(const NetAddress& peer, uint32_t ms) {
  const Result connected = Connect(peer);
  if (connected != rc::kWouldBlock) return connected;
  return Wait(Readiness::kConnected, ms);
}

Result TcpSocket::SetNoDelay(bool no_delay) {
  if (!IsOpen()) return NotOpen();
  const int32_t value = no_delay ? 1 : 0;
  return winsock_->api().SetSockOpt(socket_, IPPROTO_TCP, TCP_NODELAY,
                                    reinterpret_cast<const char*>(&value), sizeof value) == 0
             ? rc::kOk
             : winsock_->LastError();
}

Result TcpSocket::Wait(Readiness readiness, uint32_t ms) {
  fd_set ready, failed;
  ready.fd_count = failed.fd_count = 1;
  ready.fd_array[0] = failed.fd_array[0] = socket_;
  timeval time_out;
  time_out.tv_sec = static_cast<long>(ms / 1000);
  time_out.tv_usec = static_cast<long>((ms * uint64_t{1000}) % 1000000);
  const bool connecting = readiness == Readiness::kConnected;
  const int count = winsock_->api().Select(0, readiness == Readiness::kReadable ? &ready : nullptr,
                                           readiness == Readiness::kReadable ? nullptr : &ready,
                                           connecting ? &failed : nullptr, &time_out);
  if (count == 0) return rc::kTimeout;
  if (count < 0) return winsock_->LastError();
  // select leaves in each set only the sockets that are ready: a socket in the failure set
  // after a connect was refused, and the reason is the socket's pending error.
  if (connecting && failed.fd_count != 0) {
    int error = 0;
    int length = sizeof error;
    if (winsock_->api().GetSockOpt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                   &length) != 0) {
      return winsock_->LastError();
    }
    return rc::FromWin32(static_cast<uint32_t>(error != 0 ? error : WSAECONNREFUSED));
  }
  return rc::kOk;
}

Result TcpSocket::Receive(void* buffer, uint32_t length, uint32_t* received) {
  *received = 0;
  if (!IsOpen()) return NotOpen();
  if (length == 0) return rc::kOk;  // recv would answer 0, which means the peer closed
  const int got = winsock_->api().Recv(socket_, static_cast<char*>(buffer), ClampLength(length), 0);
  if (got == 0) return rc::kEndOfData;
  if (got < 0) {
    const int error = winsock_->api().LastError();
    return error == WSAEWOULDBLOCK ? rc::kWouldBlock : rc::FromWin32(static_cast<uint32_t>(error));
  }
  *received = static_cast<uint32_t>(got);
  NoteTraffic();
  return rc::kOk;
}

Result TcpSocket::Send(const void* buffer, uint32_t length, uint32_t* sent) {
  *sent = 0;
  if (!IsOpen()) return NotOpen();
  const int put =
      winsock_->api().Send(socket_, static_cast<const char*>(buffer), ClampLength(length), 0);
  NoteTraffic();
  if (put < 0) {
    const int error = winsock_->api().LastError();
    return error == WSAEWOULDBLOCK ? rc::kWouldBlock : rc::FromWin32(static_cast<uint32_t>(error));
  }
  *sent = static_cast<uint32_t>(put);
  return rc::kOk;
}

template <typename Transfer>
Result TcpSocket::WhenReady(Readiness readiness, Transfer transfer) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    if (spent > io_timeout_ms_) return rc::kTimeout;
    const Result ready = Wait(readiness, io_timeout_ms_ - spent);
    if (rc::Failed(ready)) return ready;
    const Result moved = transfer();
    if (moved != rc::kWouldBlock) return moved;
  }
}

Result TcpSocket::Read(void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  if (!IsOpen()) return NotOpen();
  return WhenReady(Readiness::kReadable, [&] { return Receive(buffer, length, count); });
}

Result TcpSocket::Write(const void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  if (!IsOpen()) return NotOpen();
  if (!non_blocking_) {
    const Result switched = SetNonBlocking(true);
    if (rc::Failed(switched)) return switched;
  }
  return WhenReady(Readiness::kWritable, [&] { return Send(buffer, length, count); });
}

void TcpSocket::Close() {
  if (!IsOpen()) return;
  sockaddr_in peer;
  int length = sizeof peer;
  std::memset(&peer, 0, sizeof peer);
  if (winsock_->api().GetPeerName(socket_, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
    last_peer_ = FormatIpAddress(peer.sin_addr.s_addr);
  }
  winsock_->api().CloseSocket(socket_);
  socket_ = INVALID_SOCKET;
}
