// A simulated player for the storage, file and upload tests: a channel (from FakeChannel)
// with one storage and a scripted track list, an output stream that records every byte and
// the metadata it finishes the file with, and a predictor that records its accounting. The
// script is shared by every channel opened on the player and outlives them.
#pragma once

#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "devices/output_stream.h"
#include "devices/predictor.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "testlib/fake_channel.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/wmdm_interfaces.h"

using Properties = std::map<std::string, std::string>;

inline Properties PropertiesOf(const PropertyHolder& holder) {
  Properties values;
  RefPtr<PropertySet> set = holder.GetSet();
  for (int32_t i = 0; set && !set->GetColumnName(i).empty(); ++i) {
    values[set->GetColumnName(i)] = set->GetString(i);
  }
  return values;
}

struct PlayerScript {
  std::string storage_name = "Internal";
  int64_t storage_size = 0x123456789LL;
  std::vector<Properties> files;  // as the player lists them

  Result create_result = rc::kOk;
  Result write_result = rc::kOk;
  Result finish_result = rc::kOk;
  Result commit_result = rc::kOk;
  Result account_result = rc::kOk;
  Result convert_result = rc::kOk;
  Result delete_result = rc::kOk;

  bool throw_on_write = false;  // std::bad_alloc from the stream
  bool throw_on_finish = false;

  int channels_alive = 0;
  int streams_alive = 0;
  int commits = 0;
  int aborts = 0;
  std::string written;                  // every byte the stream received
  std::unique_ptr<Properties> finished;  // the metadata the file was finished with
  std::vector<std::string> predictor_calls;
  std::vector<uint8_t> converted_record;
  std::vector<std::string> deleted_fids;
};

class ScriptedOutputStream : public OutputStream {
 public:
  explicit ScriptedOutputStream(PlayerScript& script) : script_(script) {
    ++script_.streams_alive;
  }
  ~ScriptedOutputStream() override { --script_.streams_alive; }
  Result Reserved() override { return rc::kNotImplemented; }
  Result Write(const uint8_t* data, uint32_t length) override {
    if (script_.throw_on_write) throw std::bad_alloc();
    if (rc::Failed(script_.write_result)) return script_.write_result;
    script_.written.append(reinterpret_cast<const char*>(data), length);
    return rc::kOk;
  }
  Result Finish(PropertyHolder& file) override {
    if (script_.throw_on_finish) throw std::bad_alloc();
    if (rc::Failed(script_.finish_result)) return script_.finish_result;
    script_.finished.reset(new Properties(PropertiesOf(file)));
    return rc::kOk;
  }
  Result Abort() override {
    ++script_.aborts;
    return rc::kOk;
  }

 private:
  PlayerScript& script_;
};

class ScriptedPredictor : public Predictor {
 public:
  explicit ScriptedPredictor(PlayerScript& script) : script_(script) {}
  Result Reset(PropertyHolder&) override { return Log("Reset", rc::kOk); }
  Result AddExistingFile(PropertyHolder& file) override {
    return Log("Add " + file.GetString("fid"), rc::kOk);
  }
  Result RemoveFile(PropertyHolder& file) override {
    return Log("Remove " + file.GetString("fid"), rc::kOk);
  }
  Result AccountNewFile(PropertyHolder& file, uint32_t* blocks) override {
    if (blocks) *blocks = 0;
    if (rc::Succeeded(script_.account_result)) file.SetInt("fid", 0x7000);
    return Log("AccountNew " + file.GetString("length"), script_.account_result);
  }
  Result Resize(PropertyHolder&, PropertyHolder&, uint32_t*) override { return rc::kOk; }
  Result AccountFile(PropertyHolder&) override { return rc::kOk; }
  Result WouldOverflow(PropertyHolder&) override { return 0; }
  Result GetStorageInfo(PropertyHolder&) override { return rc::kOk; }
  Result GetCounters(uint32_t counters[2]) override {
    counters[0] = counters[1] = 0;
    return rc::kOk;
  }
  uint32_t RoundUp(PropertyHolder&) override { return 0; }

 private:
  Result Log(const std::string& call, Result result) {
    script_.predictor_calls.push_back(call);
    return result;
  }
  PlayerScript& script_;
};

class ScriptedChannel : public FakeChannel {
 public:
  explicit ScriptedChannel(PlayerScript& script) : script_(script) { ++script_.channels_alive; }
  ~ScriptedChannel() override { --script_.channels_alive; }

  Result SetClock(uint32_t) override { return rc::kOk; }
  Result GetDeviceInfo(PropertyHolder& info) override {
    info.SetString("name", "Scripted Player");
    return info.SetInt("device_generation", 1);
  }
  Result GetStorageInfo(uint32_t storage, PropertyHolder& info) override {
    info.SetInt("storage_index", static_cast<int32_t>(storage));
    info.SetString("name", script_.storage_name);
    return info.SetInt64("size_in_bytes", script_.storage_size);
  }
  Result CreatePredictor(uint32_t, Predictor** predictor) override {
    *predictor = new ScriptedPredictor(script_);
    return rc::kOk;
  }
  Result EnumFiles(uint32_t, HolderVisitor* visitor) override {
    for (const Properties& file : script_.files) {
      PropertyHolder holder;
      for (const auto& item : file) holder.SetString(item.first, item.second);
      if (!visitor->Visit(holder)) break;
    }
    return rc::kOk;
  }
  Result CreateNewFile(uint32_t, OutputStream** stream) override {
    if (rc::Failed(script_.create_result)) return script_.create_result;
    *stream = new ScriptedOutputStream(script_);
    return rc::kOk;
  }
  Result Commit(uint32_t) override {
    ++script_.commits;
    return script_.commit_result;
  }
  Result DeleteFile(uint32_t, PropertyHolder& file) override {
    if (rc::Succeeded(script_.delete_result)) script_.deleted_fids.push_back(file.GetString("fid"));
    return script_.delete_result;
  }
  // The player's own record: its bytes are the title.
  Result ConvertFileInfo(PropertyHolder& file, const uint8_t* record, uint32_t length) override {
    script_.converted_record.assign(record, record + length);
    if (rc::Failed(script_.convert_result)) return script_.convert_result;
    file.SetString("title", std::string(reinterpret_cast<const char*>(record), length));
    return file.SetString("type", "tune");
  }

 private:
  PlayerScript& script_;
};

class ScriptedDevice : public Device {
 public:
  explicit ScriptedDevice(PlayerScript& script) : script_(script) {}
  UsbHardware* GetHardware() override { return nullptr; }
  Result OpenChannel(Channel** channel) override {
    *channel = new ScriptedChannel(script_);
    return rc::kOk;
  }
  Result GetUniqueId(std::string*) override { return rc::kNotImplemented; }
  Result GetCanonicalName(std::string*) override { return rc::kNotImplemented; }
  Result GetProperties(RefPtr<PropertySet>*) override { return rc::kNotImplemented; }
  Result GetProductId(uint32_t*) override { return rc::kNotImplemented; }

 private:
  PlayerScript& script_;
};

// Releases a COM pointer at the end of a scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* object) : object_(object) {}
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = other.object_;
      other.object_ = nullptr;
    }
    return *this;
  }
  void Reset() {
    if (object_) object_->Release();
    object_ = nullptr;
  }
  T** Out() {
    Reset();
    return &object_;
  }
  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  // Another interface of the same object.
  template <typename U>
  U* As(REFIID iid) const {
    void* other = nullptr;
    object_->QueryInterface(iid, &other);
    return static_cast<U*>(other);
  }

 private:
  T* object_ = nullptr;
};

// A WMDM device bound to storage 0 of a scripted player, and its root storage.
class ScriptedPlayerTest {
 public:
  explicit ScriptedPlayerTest(PlayerScript& script) {
    device_ = CMDSPDevice::New();
    device_->AddRef();
    init_result_ = device_->Init(RefPtr<Device>(new ScriptedDevice(script)), 0, 1);
  }
  ~ScriptedPlayerTest() { device_->Release(); }
  CMDSPDevice* device() const { return device_; }
  Result init_result() const { return init_result_; }

 private:
  CMDSPDevice* device_ = nullptr;
  Result init_result_ = rc::kOk;
};

// WMDM's metadata object as far as the file objects use it.
class ScriptedMetaData : public IWMDMMetaData {
 public:
  struct Item {
    std::wstring name;
    WMDM_TAG_DATATYPE type;
    std::vector<uint8_t> value;
  };
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE AddItem(WMDM_TAG_DATATYPE type, LPCWSTR name, BYTE* value,
                                    UINT length) override {
    items.push_back({name, type, std::vector<uint8_t>(value, value + length)});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryByName(LPCWSTR name, WMDM_TAG_DATATYPE* type, BYTE** value,
                                        UINT* length) override {
    for (const Item& item : items) {
      if (item.name == name) return HandOut(item, nullptr, type, value, length);
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE QueryByIndex(UINT index, WCHAR** name, WMDM_TAG_DATATYPE* type,
                                         BYTE** value, UINT* length) override {
    if (index >= items.size()) return E_INVALIDARG;
    return HandOut(items[index], name, type, value, length);
  }
  HRESULT STDMETHODCALLTYPE GetItemCount(UINT* count) override {
    *count = static_cast<UINT>(items.size());
    return S_OK;
  }
  void AddString(const std::wstring& name, const std::wstring& text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    items.push_back({name, WMDM_TYPE_STRING,
                     std::vector<uint8_t>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))});
  }
  void AddDword(const std::wstring& name, uint32_t value) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    items.push_back({name, WMDM_TYPE_DWORD, std::vector<uint8_t>(bytes, bytes + 4)});
  }
  std::wstring Text(const std::wstring& name) const {
    for (const Item& item : items) {
      if (item.name == name && item.type == WMDM_TYPE_STRING) {
        return reinterpret_cast<const wchar_t*>(item.value.data());
      }
    }
    return L"";
  }

  std::vector<Item> items;

 private:
  static HRESULT HandOut(const Item& item, WCHAR** name, WMDM_TAG_DATATYPE* type, BYTE** value,
                         UINT* length) {
    *type = item.type;
    *length = static_cast<UINT>(item.value.size());
    *value = static_cast<BYTE*>(CoTaskMemAlloc(item.value.size() + 1));
    std::memcpy(*value, item.value.data(), item.value.size());
    if (name) {
      const size_t bytes = (item.name.size() + 1) * sizeof(wchar_t);
      *name = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
      std::memcpy(*name, item.name.c_str(), bytes);
    }
    return S_OK;
  }
};
