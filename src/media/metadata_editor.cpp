#include "media/metadata_editor.h"

#include <windows.h>
// After windows.h, which it needs.
#include <unknwn.h>

#include <new>
#include <vector>

#include "support/clock.h"
#include "support/text_convert.h"

namespace {

// The leading methods of WMVCore's interfaces, in their vtable order; the rest are not called.
struct WmHeaderInfoApi : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD stream, WORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD index, WORD* stream, WCHAR* name,
                                                        WORD* name_units, DWORD* type, BYTE* value,
                                                        WORD* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* stream, const WCHAR* name, DWORD* type,
                                                       BYTE* value, WORD* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream, const WCHAR* name, DWORD type,
                                                 const BYTE* value, WORD length) = 0;
};

struct WmMetadataEditorApi : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Open(const WCHAR* path) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
};

// IWMHeaderInfo.
const GUID kHeaderInfoIid = {
    0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};

typedef HRESULT(STDMETHODCALLTYPE* CreateEditorFunction)(WmMetadataEditorApi** editor);

class WmMetadataEditor : public MetadataEditor {
 public:
  explicit WmMetadataEditor(Clock* clock) : clock_(clock) {
    module_ = LoadLibraryA("wmvcore.dll");
    if (module_ != nullptr) {
      create_ = reinterpret_cast<CreateEditorFunction>(
          reinterpret_cast<void*>(GetProcAddress(module_, "WMCreateEditor")));
    }
  }
  ~WmMetadataEditor() override {
    Close();
    if (module_ != nullptr) FreeLibrary(module_);
  }

  Result Open(const std::wstring& path) override {
    Close();
    if (module_ == nullptr) return rc::FromWin32(ERROR_MOD_NOT_FOUND);
    if (create_ == nullptr) return rc::FromWin32(ERROR_PROC_NOT_FOUND);
    HRESULT hr = create_(&editor_);
    if (FAILED(hr) || editor_ == nullptr) {
      editor_ = nullptr;
      return FAILED(hr) ? static_cast<Result>(hr) : rc::kFail;
    }
    hr = editor_->Open(path.c_str());
    if (SUCCEEDED(hr)) {
      hr = editor_->QueryInterface(kHeaderInfoIid, reinterpret_cast<void**>(&header_));
      if (SUCCEEDED(hr) && header_ == nullptr) hr = E_NOINTERFACE;
    }
    if (FAILED(hr)) {
      header_ = nullptr;
      Close();
      return static_cast<Result>(hr);
    }
    return rc::kOk;
  }

  Result GetAttributeByName(const std::wstring& name, MetadataAttribute* attribute) override {
    if (header_ == nullptr) return rc::kFail;
    WORD stream = 0;
    DWORD type = 0;
    WORD length = 0;
    HRESULT hr = header_->GetAttributeByName(&stream, name.c_str(), &type, nullptr, &length);
    if (FAILED(hr)) return NotFoundOr(hr);
    std::vector<BYTE> value(length);
    hr = header_->GetAttributeByName(&stream, name.c_str(), &type, value.data(), &length);
    if (FAILED(hr)) return NotFoundOr(hr);
    Store(name, type, value, length, attribute);
    return rc::kOk;
  }

  Result SetAttribute(const std::wstring& name, MetadataType type,
                      const std::string& value) override {
    if (header_ == nullptr) return rc::kFail;
    if (value.size() > 0xFFFF) return rc::kInvalidArg;
    const HRESULT hr = header_->SetAttribute(0, name.c_str(), static_cast<DWORD>(type),
                                             reinterpret_cast<const BYTE*>(value.data()),
                                             static_cast<WORD>(value.size()));
    return static_cast<Result>(hr);
  }

  Result Flush() override {
    if (editor_ == nullptr) return rc::kFail;
    return static_cast<Result>(editor_->Flush());
  }

  Result GetAttributeCount(uint16_t* count) override {
    if (header_ == nullptr) return rc::kFail;
    WORD value = 0;
    const HRESULT hr = header_->GetAttributeCount(0, &value);
    if (FAILED(hr)) return static_cast<Result>(hr);
    *count = value;
    return rc::kOk;
  }

  Result GetAttributeByIndex(uint16_t index, MetadataAttribute* attribute) override {
    if (header_ == nullptr) return rc::kFail;
    WORD stream = 0;
    WORD name_units = 0;
    DWORD type = 0;
    WORD length = 0;
    HRESULT hr =
        header_->GetAttributeByIndex(index, &stream, nullptr, &name_units, &type, nullptr, &length);
    if (FAILED(hr)) return static_cast<Result>(hr);
    std::vector<WCHAR> name(name_units + 1u, 0);
    std::vector<BYTE> value(length);
    hr = header_->GetAttributeByIndex(index, &stream, name.data(), &name_units, &type, value.data(),
                                      &length);
    if (FAILED(hr)) return static_cast<Result>(hr);
    name.back() = 0;
    Store(name.data(), type, value, length, attribute);
    return rc::kOk;
  }

  void Close() override {
    if (header_ != nullptr) header_->Release();
    header_ = nullptr;
    if (editor_ == nullptr) return;
    editor_->Close();
    // The editor's own threads still touch the file for a moment after Close.
    clock_->SleepMs(100);
    editor_->Release();
    editor_ = nullptr;
  }

 private:
  // ASF_E_NOTFOUND and the like: the attribute is not there.
  static Result NotFoundOr(HRESULT hr) {
    return hr == static_cast<HRESULT>(0xC00D07F0) ? rc::kNotFound : static_cast<Result>(hr);
  }
  static void Store(const std::wstring& name, DWORD type, const std::vector<BYTE>& value,
                    WORD length, MetadataAttribute* attribute) {
    attribute->name = name;
    attribute->type = static_cast<MetadataType>(type);
    const size_t kept = length < value.size() ? length : value.size();
    attribute->value.assign(reinterpret_cast<const char*>(value.data()), kept);
  }

  Clock* clock_;
  HMODULE module_ = nullptr;
  CreateEditorFunction create_ = nullptr;
  WmMetadataEditorApi* editor_ = nullptr;
  WmHeaderInfoApi* header_ = nullptr;
};

uint64_t LittleEndian(const std::string& bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[i]);
  return value;
}

}  // namespace

std::unique_ptr<MetadataEditor> CreateWmMetadataEditor(Clock* clock) {
  return std::unique_ptr<MetadataEditor>(new (std::nothrow) WmMetadataEditor(clock));
}

std::wstring MetadataString(MetadataEditor* editor, const std::wstring& name) {
  MetadataAttribute attribute;
  if (editor->GetAttributeByName(name, &attribute) != rc::kOk ||
      attribute.type != MetadataType::kString) {
    return std::wstring();
  }
  return WideFromCountedBuffer(attribute.value.data(), attribute.value.size() / 2);
}

uint64_t MetadataQword(MetadataEditor* editor, const std::wstring& name) {
  MetadataAttribute attribute;
  if (editor->GetAttributeByName(name, &attribute) != rc::kOk) return 0;
  if (attribute.type == MetadataType::kQword && attribute.value.size() >= 8)
    return LittleEndian(attribute.value, 8);
  if (attribute.type == MetadataType::kDword && attribute.value.size() >= 4)
    return LittleEndian(attribute.value, 4);
  return 0;
}
