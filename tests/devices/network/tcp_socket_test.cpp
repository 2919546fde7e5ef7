// The socket over a scripted Winsock table (start failures, would-block) and over loopback
// (peer closing, connect time-out against a listener that never accepts, refused connect).
#include "devices/network/tcp_socket.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <string>
#include <thread>
#include <vector>

#include "devices/network/network_results.h"
#include "support/stream_io.h"

namespace {

// --- A scripted table ---------------------------------------------------------------------

struct Script {
  int startup_result = 0;
  int startups = 0;
  SOCKET socket_result = 7;
  int last_error = 0;
  int recv_result = -1;
  int send_result = -1;
};
Script* script = nullptr;

int WINAPI ScriptedStartup(WORD, LPWSADATA) {
  ++script->startups;
  return script->startup_result;
}
int WINAPI ScriptedLastError() { return script->last_error; }
SOCKET WINAPI ScriptedSocket(int, int, int) { return script->socket_result; }
int WINAPI ScriptedClose(SOCKET) { return 0; }
int WINAPI ScriptedSelect(int, fd_set*, fd_set*, fd_set*, const timeval*) { return 1; }
int WINAPI ScriptedRecv(SOCKET, char*, int, int) { return script->recv_result; }
int WINAPI ScriptedSend(SOCKET, const char*, int, int) { return script->send_result; }
int WINAPI ScriptedPeer(SOCKET, sockaddr*, int*) { return -1; }

WinsockApi ScriptedApi() {
  WinsockApi api{};
  api.Startup = ScriptedStartup;
  api.LastError = ScriptedLastError;
  api.Socket = ScriptedSocket;
  api.CloseSocket = ScriptedClose;
  api.Select = ScriptedSelect;
  api.Recv = ScriptedRecv;
  api.Send = ScriptedSend;
  api.GetPeerName = ScriptedPeer;
  return api;
}

class ScriptedSocketTest : public ::testing::Test {
 protected:
  void SetUp() override { script = &script_; }
  void TearDown() override { script = nullptr; }
  Script script_;
  WinsockApi api_ = ScriptedApi();
  WinsockBinding binding_{&api_};
};

TEST_F(ScriptedSocketTest, FailedStartIsNotRetried) {
  script_.startup_result = WSASYSNOTREADY;
  TcpSocket first(&binding_), second(&binding_);
  EXPECT_EQ(first.Create(), rc::FromWin32(WSASYSNOTREADY));
  EXPECT_EQ(second.Create(), rc::kSocketsUnavailable);
  EXPECT_EQ(script_.startups, 1);
  EXPECT_FALSE(second.IsOpen());
}

TEST_F(ScriptedSocketTest, SocketFailureGivesTheSocketError) {
  script_.socket_result = INVALID_SOCKET;
  script_.last_error = WSAEMFILE;
  TcpSocket socket(&binding_);
  EXPECT_EQ(socket.Create(), rc::FromWin32(WSAEMFILE));
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.Create(), rc::FromWin32(WSAEMFILE));
  EXPECT_EQ(script_.startups, 1);
}

TEST_F(ScriptedSocketTest, WouldBlockIsASuccessWithoutData) {
  script_.last_error = WSAEWOULDBLOCK;
  TcpSocket socket(&binding_);
  ASSERT_EQ(socket.Create(), rc::kOk);
  uint32_t count = 99;
  char buffer[8];
  EXPECT_EQ(socket.Receive(buffer, sizeof buffer, &count), rc::kWouldBlock);
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_EQ(socket.Send(buffer, sizeof buffer, &count), rc::kWouldBlock);
  EXPECT_EQ(count, 0u);
  script_.last_error = WSAECONNRESET;
  EXPECT_EQ(socket.Read(buffer, sizeof buffer, &count), rc::FromWin32(WSAECONNRESET));
  socket.Close();
  EXPECT_LT(socket.Read(buffer, sizeof buffer, &count), 0);
}

// --- Loopback ------------------------------------------------------------------------------

// A listening socket of the test's own on 127.0.0.1.
class Listener {
 public:
  explicit Listener(int backlog) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof local;
    bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    listen(socket_, backlog);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    address_.address = local.sin_addr.s_addr;
    address_.port = ntohs(local.sin_port);
  }
  ~Listener() {
    for (SOCKET s : others_) closesocket(s);
    closesocket(socket_);
    WSACleanup();
  }
  const NetAddress& address() const { return address_; }
  SOCKET Accept() { return accept(socket_, nullptr, nullptr); }
  // Connections that the listener never accepts, until one no longer completes: the queue
  // is then full and further connects go unanswered.
  bool FillQueue() {
    for (int i = 0; i < 16; ++i) {
      SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
      others_.push_back(s);
      u_long non_blocking = 1;
      ioctlsocket(s, FIONBIO, &non_blocking);
      sockaddr_in peer{};
      peer.sin_family = AF_INET;
      peer.sin_addr.s_addr = address_.address;
      peer.sin_port = htons(address_.port);
      connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
      fd_set writable;
      FD_ZERO(&writable);
      FD_SET(s, &writable);
      timeval wait{0, 300000};
      if (select(0, nullptr, &writable, nullptr, &wait) == 0) return true;
    }
    return false;
  }

 private:
  SOCKET socket_;
  NetAddress address_;
  std::vector<SOCKET> others_;
};

TEST(TcpSocketTest, PeerClosingEndsTheData) {
  Listener listener(1);
  TcpSocket socket;
  ASSERT_EQ(socket.Create(), rc::kOk);
  ASSERT_EQ(socket.ConnectWithTimeout(listener.address(), 2000), rc::kOk);
  SOCKET peer = listener.Accept();
  ASSERT_NE(peer, INVALID_SOCKET);
  ASSERT_EQ(send(peer, "abc", 3, 0), 3);
  closesocket(peer);

  char buffer[8];
  uint32_t count = 0;
  EXPECT_EQ(socket.Read(buffer, sizeof buffer, &count), rc::kOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(socket.Read(buffer, sizeof buffer, &count), rc::kEndOfData);
  EXPECT_EQ(count, 0u);
  const TimeVal traffic = TcpSocket::LastTraffic();
  EXPECT_GT(traffic.seconds, 1600000000);
}

// A peer that takes the connection and never reads: once the buffers between are full, a
// write waits no longer than the time-out, whatever the socket's mode was.
TEST(TcpSocketTest, AWriteToAPeerThatNeverReadsEndsAfterTheTimeOut) {
  Listener listener(1);
  TcpSocket socket;
  ASSERT_EQ(socket.Create(), rc::kOk);
  ASSERT_EQ(socket.ConnectWithTimeout(listener.address(), 2000), rc::kOk);  // blocking
  SOCKET peer = listener.Accept();
  ASSERT_NE(peer, INVALID_SOCKET);
  // Should the write hang, the peer gives up after a while, and the write fails otherwise.
  HANDLE written = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread closer([&] {
    WaitForSingleObject(written, 30000);
    closesocket(peer);
  });
  socket.set_io_timeout_ms(300);
  const std::string data(8u << 20, 'x');
  EXPECT_EQ(WriteExact(&socket, data.data(), static_cast<uint32_t>(data.size())), rc::kTimeout);
  SetEvent(written);
  closer.join();
  CloseHandle(written);
}

TEST(TcpSocketTest, ConnectTimesOutAgainstAListenerThatNeverAccepts) {
  Listener listener(0);
  ASSERT_TRUE(listener.FillQueue());
  TcpSocket socket;
  ASSERT_EQ(socket.Create(), rc::kOk);
  ASSERT_EQ(socket.SetNonBlocking(true), rc::kOk);
  EXPECT_EQ(socket.ConnectWithTimeout(listener.address(), 300), rc::kTimeout);
}

TEST(TcpSocketTest, RefusedConnectFails) {
  NetAddress closed;
  {
    Listener listener(1);
    closed = listener.address();
  }
  TcpSocket socket;
  ASSERT_EQ(socket.Create(), rc::kOk);
  ASSERT_EQ(socket.SetNonBlocking(true), rc::kOk);
  EXPECT_EQ(socket.ConnectWithTimeout(closed, 2000), rc::FromWin32(WSAECONNREFUSED));
}

}  // namespace
