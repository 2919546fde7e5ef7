// The storage enumerators of a WMDM device: CMDSPEnumStorage yields the device's one root
// storage, CMDSPEnumFiles one file object for each track in the device's file list. Both keep
// a cursor with the rules of the device enumerator (Next/Skip answer S_FALSE when fewer
// remain, Clone copies the cursor).
#pragma once

#include <windows.h>

#include "wmdm/wmdm_interfaces.h"

class CMDSPDevice;

// For CMDSPDevice::EnumStorage: an enumerator over the device's root storage, handed out with
// one reference. The enumerator holds its own reference on the device. E_INVALIDARG for a null
// out pointer, E_FAIL for a null device, E_OUTOFMEMORY.
HRESULT CreateRootStorageEnum(CMDSPDevice* device, IMDSPEnumStorage** out);

// For CMDSPStorage::EnumStorage: an enumerator over the device's file list.
HRESULT CreateFileEnum(CMDSPDevice* device, IMDSPEnumStorage** out);
