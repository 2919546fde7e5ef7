#include "wmdm/provider/wmdm_steps.h"

#include <gtest/gtest.h>

#include "wmdm/provider/wmdm_host.h"
#include "wmdm/wmdm_types.h"

namespace {
constexpr DWORD kWmdmBlock = 8192;
}  // namespace

IMDSPDevice* DeviceNamed(const std::vector<IMDSPDevice*>& devices, const std::wstring& name) {
  for (IMDSPDevice* device : devices)
    if (WmdmHost::NameOf(device) == name) return device;
  ADD_FAILURE() << "no device named " << std::string(name.begin(), name.end());
  return nullptr;
}

ComRef<IMDSPStorage> Root(IMDSPDevice* device) {
  ComRef<IMDSPStorage> root;
  ComRef<IMDSPEnumStorage> storages;
  if (!device || FAILED(device->EnumStorage(storages.Out()))) return root;
  ULONG fetched = 0;
  storages->Next(1, root.Out(), &fetched);
  return root;
}

namespace {

// Calls `visit` with each track below the root and its name until it answers false.
template <typename Visit>
void ForEachTrack(IMDSPDevice* device, Visit visit) {
  ComRef<IMDSPStorage> root = Root(device);
  ComRef<IMDSPEnumStorage> files;
  if (!root.Get() || FAILED(root->EnumStorage(files.Out()))) return;
  for (;;) {
    ComRef<IMDSPStorage> track;
    ULONG fetched = 0;
    if (files->Next(1, track.Out(), &fetched) != S_OK || fetched != 1) return;
    wchar_t name[128] = {};
    EXPECT_EQ(S_OK, track->GetName(name, 128));
    if (!visit(track, std::wstring(name))) return;
  }
}

}  // namespace

std::vector<std::wstring> TrackNames(IMDSPDevice* device) {
  std::vector<std::wstring> names;
  ForEachTrack(device, [&](ComRef<IMDSPStorage>&, const std::wstring& name) {
    names.push_back(name);
    return true;
  });
  return names;
}

ComRef<IMDSPStorage> Track(IMDSPDevice* device, const std::wstring& name) {
  ComRef<IMDSPStorage> found;
  ForEachTrack(device, [&](ComRef<IMDSPStorage>& track, const std::wstring& listed) {
    if (listed != name) return true;
    found = std::move(track);
    return false;
  });
  return found;
}

namespace {

// The wave format WMDM passes for an audio file: the format tag of its extension, the rest 0.
WMDM_WAVEFORMATEX FormatOf(const std::wstring& name) {
  WMDM_WAVEFORMATEX format = {};
  const size_t dot = name.rfind(L'.');
  const std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot);
  if (_wcsicmp(extension.c_str(), L".mp3") == 0) format.wFormatTag = 0x55;
  if (_wcsicmp(extension.c_str(), L".wma") == 0) format.wFormatTag = 0x161;
  return format;
}

}  // namespace

HRESULT BeginUpload(IMDSPDevice* device, const std::wstring& name, uint64_t size,
                    ComRef<IMDSPObject>* opened) {
  ComRef<IMDSPStorage> root = Root(device);
  if (!root.Get()) return E_FAIL;
  // WMDM first asks the storage whether the file fits.
  ComRef<IMDSPStorageGlobals> globals;
  HRESULT status = root->GetStorageGlobals(globals.Out());
  if (FAILED(status)) return status;
  DWORD free_low = 0, free_high = 0;
  status = globals->GetTotalFree(&free_low, &free_high);
  if (FAILED(status)) return status;

  ComRef<IMDSPStorage2> root2(root.As<IMDSPStorage2>(IID_IMDSPStorage2));
  if (!root2.Get()) return E_NOINTERFACE;
  WMDM_WAVEFORMATEX format = FormatOf(name);
  std::wstring writable = name;
  ComRef<IMDSPStorage> file;
  status = root2->CreateStorage2(
      WMDM_FILE_ATTR_FILE | WMDM_STORAGECONTROL_INSERTINTO | WMDM_FILE_ATTR_AUDIO, 0, &format,
      nullptr, &writable[0], size, file.Out());
  if (FAILED(status)) return status;
  // The application's metadata follows creation; it gave none here.
  ComRef<IMDSPStorage3> file3(file.As<IMDSPStorage3>(IID_IMDSPStorage3));
  if (!file3.Get()) return E_NOINTERFACE;
  ScriptedMetaData metadata;
  status = file3->SetMetadata(&metadata);
  if (FAILED(status)) return status;

  ComRef<IMDSPObject> object(file.As<IMDSPObject>(IID_IMDSPObject));
  if (!object.Get()) return E_NOINTERFACE;
  status = object->Open(MDSP_WRITE);
  if (SUCCEEDED(status)) *opened = std::move(object);
  return status;
}

HRESULT Upload(IMDSPDevice* device, const std::wstring& name, const std::string& bytes,
               HRESULT* close_result) {
  ComRef<IMDSPObject> object;
  HRESULT status = BeginUpload(device, name, bytes.size(), &object);
  if (FAILED(status)) return status;
  for (size_t at = 0; at < bytes.size() && SUCCEEDED(status); at += kWmdmBlock) {
    std::string block = bytes.substr(at, kWmdmBlock);
    DWORD size = static_cast<DWORD>(block.size());
    status = object->Write(reinterpret_cast<BYTE*>(&block[0]), &size, nullptr);
  }
  const HRESULT closed = object->Close();
  if (close_result) *close_result = closed;
  return FAILED(status) ? status : closed;
}

HRESULT Delete(IMDSPDevice* device, const std::wstring& name) {
  ComRef<IMDSPStorage> track = Track(device, name);
  if (!track.Get()) return E_FAIL;
  ComRef<IMDSPObject> object(track.As<IMDSPObject>(IID_IMDSPObject));
  return object.Get() ? object->Delete(0, nullptr) : E_NOINTERFACE;
}
