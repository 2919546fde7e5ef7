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

// An upload in WMDM's order: the storage globals' free space, CreateStorage2 with the
// attributes and wave format of an audio insert, SetMetadata, Open, writes in 8 KiB blocks,
// Close. The first failure stops the steps; Close runs whenever Open succeeded. Returns the first
// failure, else Close's result; *close_result (optional) gets Close's own.
HRESULT Upload(IMDSPDevice* device, const std::wstring& name, const std::string& bytes,
               HRESULT* close_result = nullptr);
// Upload's steps up to Open of a file of `size` bytes; on success the open file in *opened.
HRESULT BeginUpload(IMDSPDevice* device, const std::wstring& name, uint64_t size,
                    ComRef<IMDSPObject>* opened);
// Deletes the track of that display name; E_FAIL when it is not listed.
HRESULT Delete(IMDSPDevice* device, const std::wstring& name);
