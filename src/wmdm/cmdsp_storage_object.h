// What the root storage and the file objects share: COM identity (IMDSPStorage3, IMDSPObject,
// IMDSPObjectInfo), a reference on their device, the trace line that ends every method, and
// the answers of everything an object of this provider does not support. Subclasses override
// what they do support.
#pragma once

#include <windows.h>

#include <string>

#include "wmdm/module_lock.h"
#include "wmdm/wmdm_interfaces.h"

class CMDSPDevice;

class StorageObject : public IMDSPStorage3, public IMDSPObject, public IMDSPObjectInfo {
 public:
  // --- IUnknown ---
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // --- IMDSPStorage ---
  HRESULT STDMETHODCALLTYPE SetAttributes(DWORD attributes, WMDM_WAVEFORMATEX* format) override;
  HRESULT STDMETHODCALLTYPE GetStorageGlobals(IMDSPStorageGlobals** globals) override;
  HRESULT STDMETHODCALLTYPE GetAttributes(DWORD* attributes, WMDM_WAVEFORMATEX* format) override;
  HRESULT STDMETHODCALLTYPE GetDate(WMDMDATETIME* date) override;
  HRESULT STDMETHODCALLTYPE GetRights(WMDMRIGHTS** rights, UINT* count, BYTE* mac) override;
  HRESULT STDMETHODCALLTYPE CreateStorage(DWORD attributes, WMDM_WAVEFORMATEX* format,
                                          LPWSTR name, IMDSPStorage** storage) override;
  HRESULT STDMETHODCALLTYPE EnumStorage(IMDSPEnumStorage** enumerator) override;
  HRESULT STDMETHODCALLTYPE SendOpaqueCommand(OPAQUECOMMAND* command) override;

  // --- IMDSPStorage2 ---
  HRESULT STDMETHODCALLTYPE GetStorage(LPCWSTR name, IMDSPStorage** storage) override;
  HRESULT STDMETHODCALLTYPE CreateStorage2(DWORD attributes, DWORD attributes_ex,
                                           WMDM_WAVEFORMATEX* audio_format,
                                           WMDM_VIDEOINFOHEADER* video_format, LPWSTR name,
                                           ULONGLONG size, IMDSPStorage** storage) override;
  HRESULT STDMETHODCALLTYPE SetAttributes2(DWORD attributes, DWORD attributes_ex,
                                           WMDM_WAVEFORMATEX* audio_format,
                                           WMDM_VIDEOINFOHEADER* video_format) override;
  HRESULT STDMETHODCALLTYPE GetAttributes2(DWORD* attributes, DWORD* attributes_ex,
                                           WMDM_WAVEFORMATEX* audio_format,
                                           WMDM_VIDEOINFOHEADER* video_format) override;

  // --- IMDSPStorage3 ---
  HRESULT STDMETHODCALLTYPE GetMetadata(IWMDMMetaData* metadata) override;
  HRESULT STDMETHODCALLTYPE SetMetadata(IWMDMMetaData* metadata) override;

  // --- IMDSPObject ---
  HRESULT STDMETHODCALLTYPE Open(UINT mode) override;
  HRESULT STDMETHODCALLTYPE Read(BYTE* data, DWORD* size, BYTE* mac) override;
  HRESULT STDMETHODCALLTYPE Write(BYTE* data, DWORD* size, BYTE* mac) override;
  HRESULT STDMETHODCALLTYPE Delete(UINT mode, IWMDMProgress* progress) override;
  HRESULT STDMETHODCALLTYPE Seek(UINT flags, DWORD offset) override;
  HRESULT STDMETHODCALLTYPE Rename(LPWSTR name, IWMDMProgress* progress) override;
  HRESULT STDMETHODCALLTYPE Move(UINT mode, IWMDMProgress* progress,
                                 IMDSPStorage* target) override;
  HRESULT STDMETHODCALLTYPE Close() override;

  // --- IMDSPObjectInfo ---
  HRESULT STDMETHODCALLTYPE GetPlayLength(DWORD* length) override;
  HRESULT STDMETHODCALLTYPE SetPlayLength(DWORD length) override;
  HRESULT STDMETHODCALLTYPE GetPlayOffset(DWORD* offset) override;
  HRESULT STDMETHODCALLTYPE SetPlayOffset(DWORD offset) override;
  HRESULT STDMETHODCALLTYPE GetTotalLength(DWORD* length) override;
  HRESULT STDMETHODCALLTYPE GetLastPlayPosition(DWORD* position) override;
  HRESULT STDMETHODCALLTYPE GetLongestPlayPosition(DWORD* position) override;

  CMDSPDevice* device() const { return device_; }

 protected:
  // class_name starts every trace line ("CMDSPFile" gives "CMDSPFile::Open returned ...").
  StorageObject(const char* class_name, CMDSPDevice* device);
  virtual ~StorageObject();
  StorageObject(const StorageObject&) = delete;
  StorageObject& operator=(const StorageObject&) = delete;

  // The final trace line of a method; returns status.
  HRESULT Trace(const char* method, HRESULT status) const;
  // The answer of an operation this object does not offer, once its argument checks passed.
  HRESULT TraceUnsupported(const char* method, HRESULT checks) const;
  // Every method starts with this: a file that failed to close answers WMDM_E_INTERFACEDEAD.
  virtual HRESULT Usable() const { return S_OK; }
  // The WMDM_FILE_ATTR_* bits of GetAttributes.
  virtual DWORD Attributes() const = 0;

 private:
  const char* class_name_;
  CMDSPDevice* device_;  // one reference, or null
  LONG refs_ = 0;
  ModuleReference module_;
};

// Copies text into a caller's buffer of max_chars wide characters, terminated. A cut text
// fills the buffer as far as it goes and answers WMDM_E_BUFFERTOOSMALL; a null buffer or a
// length of 0 gives E_INVALIDARG and writes nothing.
HRESULT CopyWideName(const std::wstring& text, LPWSTR buffer, UINT max_chars);
