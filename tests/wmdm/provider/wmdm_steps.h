// The steps a WMDM application takes with a listed device: find it by name, walk its root
// storage, upload a file in WMDM's 8 KiB writes, delete a track.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "wmdm/storage_test_player.h"
#include "wmdm/wmdm_interfaces.h"

// The device whose display name is `name`; fails the test when there is none.
IMDSPDevice* DeviceNamed(const std::vector<IMDSPDevice*>& devices, const std::wstring& name);
// The device's root storage; null when it cannot be had.
ComRef<IMDSPStorage> Root(IMDSPDevice* device);
// The display names of the tracks below the root, in the order they are listed.
std::vector<std::wstring> TrackNames(IMDSPDevice* device);
// The track of that display name on the device; null when there is none.
ComRef<IMDSPStorage> Track(IMDSPDevice* device, const std::wstring& name);

// Creates, opens, writes in WMDM's 8 KiB blocks and closes an upload. The first failure of
// Open or Write stops the writing; Close runs whenever Open succeeded. Returns the first
// failure, else Close's result; *close_result (optional) gets Close's own.
HRESULT Upload(IMDSPDevice* device, const std::wstring& name, const std::string& bytes,
               HRESULT* close_result = nullptr);
// Deletes the track of that display name; E_FAIL when it is not listed.
HRESULT Delete(IMDSPDevice* device, const std::wstring& name);
