#include "wmdm/wmdm_log.h"

#include <atomic>
#include <cstring>

#include "wmdm/wmdm_interfaces.h"

namespace {

HRESULT CreateWmdmLogger(IWMDMLogger** logger) {
  return CoCreateInstance(CLSID_WMDMLogger, nullptr, CLSCTX_INPROC_SERVER, IID_IWMDMLogger,
                          reinterpret_cast<void**>(logger));
}

std::atomic<WmdmLoggerCreator> g_creator{CreateWmdmLogger};
// Two words and no lock: a race can only ask the logger twice.
std::atomic<bool> g_checked{false};
std::atomic<bool> g_enabled{false};

char kSource[] = "TORVEX";

}  // namespace

WmdmLoggerCreator SetWmdmLoggerCreator(WmdmLoggerCreator creator) {
  WmdmLoggerCreator previous = g_creator.exchange(creator ? creator : CreateWmdmLogger);
  g_checked = false;
  g_enabled = false;
  return previous;
}

bool WmdmLogEnabled() {
  if (!g_checked.load()) {
    bool enabled = false;
    IWMDMLogger* logger = nullptr;
    if (SUCCEEDED(g_creator.load()(&logger)) && logger) {
      BOOL on = FALSE;
      enabled = SUCCEEDED(logger->IsEnabled(&on)) && on;
      logger->Release();
    }
    g_enabled = enabled;
    g_checked = true;
  }
  return g_enabled.load();
}

HRESULT WmdmLog(const char* text, DWORD value, HRESULT status) {
  if (!WmdmLogEnabled()) return S_OK;
  IWMDMLogger* logger = nullptr;
  HRESULT hr = g_creator.load()(&logger);
  if (FAILED(hr)) return hr;
  if (!logger) return E_FAIL;
  const DWORD flags = status < 0 ? WMDM_LOG_SEV_ERROR : WMDM_LOG_SEV_INFO;
  // The logger takes non-const strings but does not write to them.
  hr = logger->LogDword(flags, kSource, const_cast<char*>(text), value);
  logger->Release();
  return hr;
}

HRESULT WmdmLogResult(const char* text, HRESULT status) {
  static const char kSuffix[] = " returned 0x%08lx";
  constexpr size_t kMaxText = 1024;
  // Every '%' of the text may be doubled; the suffix holds the one real placeholder.
  char line[2 * kMaxText + sizeof(kSuffix)];
  size_t out = 0;
  for (size_t i = 0; text && text[i] && i < kMaxText; ++i) {
    if (text[i] == '%') line[out++] = '%';
    line[out++] = text[i];
  }
  std::memcpy(line + out, kSuffix, sizeof(kSuffix));
  WmdmLog(line, static_cast<DWORD>(status), status);
  return status;
}

HRESULT CheckOutPointer(HRESULT status, const void* pointer) {
  if (FAILED(status)) return status;
  if (!pointer) {
    WmdmLog("NULL input pointer", static_cast<DWORD>(E_INVALIDARG), E_INVALIDARG);
    return E_INVALIDARG;
  }
  return status;
}
