// A player server for the COM back end's tests: an in-process COM class that answers the
// player interface from a state the test sets through the DLL's export "GetMscComServerState".
#pragma once

#include <string>
#include <vector>

#include "devices/msc/com_scsi_server.h"

// {5C0A2E51-7D3B-4C8F-9E11-0B6D4A7F3C29}
constexpr CLSID kMscComServerClass = {
    0x5C0A2E51, 0x7D3B, 0x4C8F, {0x9E, 0x11, 0x0B, 0x6D, 0x4A, 0x7F, 0x3C, 0x29}};

struct MscComServerState {
  std::vector<ComScsiDriveInfo> drives;
  bool answer_player_interface = true;
  bool refuse_firmware = false;  // E_ACCESSDENIED, as when a volume will not lock
  // What the server was asked: "check E:", "time E: 1 2", "flush E: EF", "block E: 0 flags 8".
  std::vector<std::string> calls;
  std::vector<unsigned char> firmware;
  long live_objects = 0;
};

using MscComServerStateFunction = MscComServerState* (*)();
