#include "msc_com_server.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

MscComServerState state;

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// Reference counting shared by the server's objects.
template <typename Interface>
class Counted : public Interface {
 public:
  Counted() { ++state.live_objects; }
  virtual ~Counted() { --state.live_objects; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG references_ = 1;
};

class DriveEnum : public Counted<IComScsiDriveEnum> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != kIidComScsiDriveEnum) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IComScsiDriveEnum*>(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Next(ComScsiDriveInfo* info) override {
    if (next_ >= state.drives.size()) return S_FALSE;
    *info = state.drives[next_++];
    return S_OK;
  }

 private:
  size_t next_ = 0;
};

class Player : public Counted<IComScsiPlayer> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
    } else if (iid == kIidComScsiPlayer && state.answer_player_interface) {
      *out = static_cast<IComScsiPlayer*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumDrives(IUnknown** drives) override {
    *drives = new DriveEnum;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CheckUnitSerial(BYTE drive) override {
    state.calls.push_back(Format("check %c:", drive));
    for (const ComScsiDriveInfo& info : state.drives) {
      if (info.drive_letter == static_cast<char>(drive)) return S_OK;
    }
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE SetTime(BYTE drive, DWORD first, DWORD second) override {
    state.calls.push_back(Format("time %c: %u %u", drive, first, second));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FlushVolumes(BYTE drive, const BYTE* letters, DWORD count) override {
    state.calls.push_back(Format("flush %c: ", drive) +
                          std::string(reinterpret_cast<const char*>(letters), count));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteFirmwareBlock(BYTE drive, DWORD flags, DWORD block_number,
                                               const BYTE* block, DWORD length) override {
    state.calls.push_back(Format("block %c: %u flags %u", drive, block_number, flags));
    if (state.refuse_firmware) return E_ACCESSDENIED;
    if (length != 8192) return E_INVALIDARG;
    state.firmware.insert(state.firmware.end(), block, block + length);
    return S_OK;
  }
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Player* player = new Player;
    const HRESULT status = player->QueryInterface(iid, out);
    player->Release();
    return status;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != kMscComServerClass) {
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

extern "C" MscComServerState* GetMscComServerState() { return &state; }
