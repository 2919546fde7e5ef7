#include "wmdm/cmdsp_enum_storage.h"

#include <cstdio>
#include <new>

#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_file.h"
#include "wmdm/cmdsp_storage.h"
#include "wmdm/module_lock.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_log.h"

namespace {

// The cursor and COM identity both enumerators share; subclasses say how many items there
// are and make one.
class StorageEnum : public IMDSPEnumStorage {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IMDSPEnumStorage) return E_NOINTERFACE;
    *object = static_cast<IMDSPEnumStorage*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IMDSPStorage** storages,
                                 ULONG* fetched) override {
    HRESULT status = CheckOutPointer(S_OK, storages);
    // COM lets a caller asking for one item leave out the count.
    if (SUCCEEDED(status) && !fetched && count != 1) status = E_INVALIDARG;
    ULONG given = 0;
    // The list must not change between counting and handing out (a format on another thread).
    auto lock = device() ? device()->LockPlayer() : PlayerLock();
    while (SUCCEEDED(status) && given < count && cursor_ < Count()) {
      status = CallNoThrow([&] { return Item(cursor_, &storages[given]); });
      if (SUCCEEDED(status)) {
        ++given;
        ++cursor_;
      }
    }
    if (FAILED(status)) {
      // Nothing is handed out by a failed call.
      for (ULONG i = 0; i < given; ++i) {
        storages[i]->Release();
        storages[i] = nullptr;
      }
      cursor_ -= given;
      given = 0;
    } else if (given < count) {
      status = S_FALSE;
    }
    if (fetched) *fetched = given;
    return Trace("Next", status);
  }

  HRESULT STDMETHODCALLTYPE Skip(ULONG count, ULONG* skipped) override {
    HRESULT status = CheckOutPointer(S_OK, skipped);
    if (SUCCEEDED(status)) {
      const size_t left = Count() > cursor_ ? Count() - cursor_ : 0;
      if (count <= left) {
        cursor_ += count;
        *skipped = count;
      } else {
        cursor_ += left;
        *skipped = static_cast<ULONG>(left);
        status = S_FALSE;
      }
    }
    return Trace("Skip", status);
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    cursor_ = 0;
    return Trace("Reset", S_OK);
  }

  HRESULT STDMETHODCALLTYPE Clone(IMDSPEnumStorage** enumerator) override {
    HRESULT status = CheckOutPointer(S_OK, enumerator);
    if (SUCCEEDED(status)) {
      *enumerator = nullptr;
      StorageEnum* copy = Copy();
      if (!copy) {
        status = E_OUTOFMEMORY;
      } else {
        copy->cursor_ = cursor_;
        copy->AddRef();
        *enumerator = copy;
      }
    }
    return Trace("Clone", status);
  }

 protected:
  StorageEnum(const char* class_name, CMDSPDevice* device)
      : class_name_(class_name), device_(device) {
    device_->AddRef();
  }
  virtual ~StorageEnum() { device_->Release(); }

  CMDSPDevice* device() const { return device_; }

 private:
  virtual size_t Count() const = 0;
  virtual HRESULT Item(size_t index, IMDSPStorage** storage) = 0;
  // A new enumerator of the same kind over the same device, cursor at 0; null without memory.
  virtual StorageEnum* Copy() const = 0;

  HRESULT Trace(const char* method, HRESULT status) const {
    char line[96];
    std::snprintf(line, sizeof(line), "%s::%s", class_name_, method);
    return WmdmLogResult(line, status);
  }

  const char* class_name_;
  CMDSPDevice* device_;  // one reference
  size_t cursor_ = 0;
  LONG refs_ = 0;
  ModuleReference module_;
};

class CMDSPEnumStorage final : public StorageEnum {
 public:
  explicit CMDSPEnumStorage(CMDSPDevice* device) : StorageEnum("CMDSPEnumStorage", device) {}

 private:
  size_t Count() const override { return 1; }
  HRESULT Item(size_t, IMDSPStorage** storage) override {
    return CreateRootStorage(device(), storage);
  }
  StorageEnum* Copy() const override { return new (std::nothrow) CMDSPEnumStorage(device()); }
};

// Walks the device's list as it is at each call: tracks added by an upload or removed by a
// delete show at once.
class CMDSPEnumFiles final : public StorageEnum {
 public:
  explicit CMDSPEnumFiles(CMDSPDevice* device) : StorageEnum("CMDSPEnumFiles", device) {}

 private:
  size_t Count() const override { return device()->files().size(); }
  HRESULT Item(size_t index, IMDSPStorage** storage) override {
    return CMDSPFile::CreateListed(device(), *device()->files()[index], storage);
  }
  StorageEnum* Copy() const override { return new (std::nothrow) CMDSPEnumFiles(device()); }
};

template <typename Enum>
HRESULT CreateEnum(CMDSPDevice* device, IMDSPEnumStorage** out) {
  const HRESULT status = CheckOutPointer(S_OK, out);
  if (FAILED(status)) return status;
  *out = nullptr;
  if (!device) return E_FAIL;
  Enum* enumerator = new (std::nothrow) Enum(device);
  if (!enumerator) return E_OUTOFMEMORY;
  enumerator->AddRef();
  *out = enumerator;
  return S_OK;
}

}  // namespace

HRESULT CreateRootStorageEnum(CMDSPDevice* device, IMDSPEnumStorage** out) {
  return CreateEnum<CMDSPEnumStorage>(device, out);
}

HRESULT CreateFileEnum(CMDSPDevice* device, IMDSPEnumStorage** out) {
  return CreateEnum<CMDSPEnumFiles>(device, out);
}
