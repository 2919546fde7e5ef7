// WMDM's logger as the provider sees it, enabled and keeping every trace line. Installed
// through the logger-creation hook for the life of a RecordedWmdmLog; only for tests that link
// the wmdm library.
#pragma once

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "wmdm/wmdm_interfaces.h"
#include "wmdm/wmdm_log.h"

struct WmdmTraceLine {
  DWORD flags;
  std::string source;
  std::string format;
  DWORD value;
  // The line as the logger prints it: the format filled with the value.
  std::string Text() const {
    char text[2200];
    std::snprintf(text, sizeof text, format.c_str(), static_cast<unsigned long>(value));
    return text;
  }
};

class RecordingWmdmLogger final : public IWMDMLogger {
 public:
  static std::vector<WmdmTraceLine>& Lines() {
    static std::vector<WmdmTraceLine> lines;
    return lines;
  }
  // The provider's format worker logs while the caller's thread does.
  static std::mutex& Guard() {
    static std::mutex guard;
    return guard;
  }
  static HRESULT Create(IWMDMLogger** logger) {
    *logger = new RecordingWmdmLogger;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IWMDMLogger) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }
  HRESULT STDMETHODCALLTYPE IsEnabled(BOOL* enabled) override {
    *enabled = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Enable(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetLogFileName(LPSTR, UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetLogFileName(LPSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LogString(DWORD, LPSTR, LPSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LogDword(DWORD flags, LPSTR source, LPSTR format,
                                     DWORD value) override {
    std::lock_guard<std::mutex> lock(Guard());
    Lines().push_back({flags, source, format, value});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSizeParams(DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSizeParams(DWORD, DWORD) override { return E_NOTIMPL; }

 private:
  ULONG refs_ = 1;
};

// Records WMDM trace lines while it lives; the default logger comes back afterwards.
class RecordedWmdmLog {
 public:
  RecordedWmdmLog() {
    RecordingWmdmLogger::Lines().clear();
    previous_ = SetWmdmLoggerCreator(&RecordingWmdmLogger::Create);
  }
  ~RecordedWmdmLog() { SetWmdmLoggerCreator(previous_); }
  RecordedWmdmLog(const RecordedWmdmLog&) = delete;
  RecordedWmdmLog& operator=(const RecordedWmdmLog&) = delete;

  const std::vector<WmdmTraceLine>& lines() const { return RecordingWmdmLogger::Lines(); }
  void Clear() {
    std::lock_guard<std::mutex> lock(RecordingWmdmLogger::Guard());
    RecordingWmdmLogger::Lines().clear();
  }
  // The printed texts, in order.
  std::vector<std::string> Texts() const {
    std::lock_guard<std::mutex> lock(RecordingWmdmLogger::Guard());
    std::vector<std::string> texts;
    for (const WmdmTraceLine& line : lines()) texts.push_back(line.Text());
    return texts;
  }

 private:
  WmdmLoggerCreator previous_;
};
