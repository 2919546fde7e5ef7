// A simulated network player and a client socket connected to it, for the tests of the
// socket and the request protocol. Every test ends by checking that the player saw no request
// it would reject as malformed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/network/remote_protocol_client.h"
#include "devices/network/tcp_socket.h"
#include "sim/network/sim_network_player.h"

class SimConnectionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    socket_.Close();
    if (!player_) return;
    for (const std::string& violation : player_->violations()) ADD_FAILURE() << violation;
  }

  // Starts the player and connects to it.
  void Connect(const SimNetworkPlayer::Settings& settings = SimNetworkPlayer::Settings()) {
    player_ = std::make_unique<SimNetworkPlayer>(settings);
    ASSERT_EQ(socket_.Create(), rc::kOk);
    ASSERT_EQ(socket_.Connect(player_->address()), rc::kOk);
  }

  // The codes the player received, in order.
  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> codes;
    for (const auto& request : player_->requests()) codes.push_back(request.code);
    return codes;
  }

  SimNetworkPlayer& player() { return *player_; }
  TcpSocket& socket() { return socket_; }
  RemoteProtocolClient& client() { return client_; }

 private:
  std::unique_ptr<SimNetworkPlayer> player_;
  TcpSocket socket_;
  RemoteProtocolClient client_{&socket_};
};
