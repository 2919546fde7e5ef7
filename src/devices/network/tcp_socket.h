// An IPv4 TCP client socket, the byte stream under a network player's request protocol.
// Read and Write wait at most the I/O time-out (20 s unless a test shortens it) for the socket
// to become ready, so a silent peer ends a transfer with rc::kTimeout instead of holding the
// caller. One socket per channel, used on the caller's thread.
#pragma once

#include <cstdint>
#include <string>

#include "devices/network/net_address.h"
#include "devices/network/winsock_api.h"
#include "support/stream.h"
#include "support/time_val.h"

class TcpSocket : public Stream {
 public:
  static constexpr uint32_t kDefaultIoTimeoutMs = 20000;

  // winsock: null for the process's binding; must outlive the socket.
  explicit TcpSocket(WinsockBinding* winsock = nullptr);
  ~TcpSocket() override;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Starts the process's sockets once (WinsockBinding::Start).
  static Result StartWinsock();

  // A new AF_INET stream socket (closing one that is open); starts the binding first.
  Result Create();
  Result SetNonBlocking(bool non_blocking);
  // 0 when connected; rc::kWouldBlock while a non-blocking connect is under way.
  Result Connect(const NetAddress& peer);
  // Connect, then for a pending connect a wait of at most `ms` for the outcome: rc::kTimeout
  // when nothing happened in time; the connect's own error when the peer refused it.
  Result ConnectWithTimeout(const NetAddress& peer, uint32_t ms);
  Result SetNoDelay(bool no_delay);

  // One recv: 0 with bytes, 1 with none when the peer has closed, rc::kWouldBlock (no bytes)
  // on a non-blocking socket with nothing to read, else the socket error.
  Result Receive(void* buffer, uint32_t length, uint32_t* received);
  // One send: 0 with the bytes taken, rc::kWouldBlock (none taken), else the socket error.
  Result Send(const void* buffer, uint32_t length, uint32_t* sent);

  // Stream: wait for the socket to be ready (the I/O time-out), then one Receive or Send.
  // Write first puts the socket in non-blocking mode (it stays so): a blocking send would hold
  // the caller until the peer took every byte, so each send takes only what the socket's
  // buffer has room for, and a peer that stops reading ends the write with rc::kTimeout.
  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;

  // Closes the socket when it is open; later transfers fail. The peer's dotted address is
  // kept for the trace.
  void Close();
  bool IsOpen() const { return socket_ != INVALID_SOCKET; }
  const std::string& last_peer() const { return last_peer_; }

  uint32_t io_timeout_ms() const { return io_timeout_ms_; }
  void set_io_timeout_ms(uint32_t ms) { io_timeout_ms_ = ms; }

  // When any socket of the process last moved bytes (every receive with bytes, every send).
  static TimeVal LastTraffic();

 private:
  enum class Readiness { kReadable, kWritable, kConnected };
  // Waits up to `ms` for the socket; rc::kTimeout when it did not become ready.
  Result Wait(Readiness readiness, uint32_t ms);
  Result NotOpen() const;
  // Waits for `readiness` and runs `transfer` until it moves bytes or fails; a transfer that
  // would block after all is tried again while the I/O time-out lasts.
  template <typename Transfer>
  Result WhenReady(Readiness readiness, Transfer transfer);

  WinsockBinding* winsock_;
  SOCKET socket_ = INVALID_SOCKET;
  uint32_t io_timeout_ms_ = kDefaultIoTimeoutMs;
  bool non_blocking_ = false;
  std::string last_peer_;
};
