#include "setup/install_engine.h"

#include <cstdio>

#include "setup/driver_update.h"
#include "setup/setup_codes.h"

std::vector<std::string> HardwareIdTexts(const UsbHardwareId* table) {
  std::vector<std::string> texts;
  for (const UsbHardwareId* id = table; id->vendor != 0; ++id) {
    char text[32];
    std::snprintf(text, sizeof(text), "USB\\Vid_%04hx&Pid_%04hx", id->vendor, id->product);
    texts.push_back(text);
  }
  return texts;
}

InstallEngine::InstallEngine(FileReplacer* replacer, InstallLog* log, SetupFolders folders,
                             const DriverSetupApi* driver_api)
    : replacer_(replacer), log_(log), folders_(std::move(folders)), driver_api_(driver_api) {}

void InstallEngine::Log(const std::string& label, const std::string& first,
                        const std::string& second) {
  std::string line = label + ": " + first;
  if (!second.empty()) line += ", " + second;
  log_->Line(line);
}

Result InstallEngine::RemoveFile(InstallLocation location, const std::string& name) {
  const std::string path = LocationPath(folders_, location, name);
  const std::string removed = path + ".removed";
  Log("RemoveFile", path, removed);
  const Result code = replacer_->Remove(path, removed);
  return code == setup_rc::kFileNotFound ? setup_rc::kNothingToDo : code;
}

Result InstallEngine::CallRegistrationEntry(const std::string& path, const char* entry_name) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) return rc::FromWin32(GetLastError());
  typedef HRESULT(STDAPICALLTYPE * RegistrationEntry)();
  auto entry = reinterpret_cast<RegistrationEntry>(
      reinterpret_cast<void*>(GetProcAddress(module, entry_name)));
  if (!entry) {
    const Result code = rc::FromWin32(GetLastError());
    FreeLibrary(module);
    return code;
  }
  const Result code = entry();
  Sleep(registration_pause_ms_);
  FreeLibrary(module);
  return code;
}

Result InstallEngine::RegisterFile(InstallLocation location, const std::string& name) {
  const std::string path = LocationPath(folders_, location, name);
  Log("RegisterFile", path);
  return CallRegistrationEntry(path, "DllRegisterServer");
}

Result InstallEngine::UnregisterFile(InstallLocation location, const std::string& name) {
  const std::string path = LocationPath(folders_, location, name);
  Log("UnregisterFile", path);
  return CallRegistrationEntry(path, "DllUnregisterServer");
}

Result InstallEngine::CheckInstallRule(const std::string& source, const std::string& destination,
                                       int rule) {
  Log("CheckInstallRule", source, destination);
  FileVersion source_version, destination_version;
  Result code = ReadFileVersion(source, &source_version);
  if (code == 1) return setup_rc::kSourceMissing;
  if (code < 0) return code;
  code = ReadFileVersion(destination, &destination_version);
  if (code < 0) return code;
  const int order = CompareVersions(source_version, destination_version);
  bool install;
  switch (rule) {
    case kRuleNever: install = false; break;
    case kRuleAlways: install = true; break;
    case kRuleNewer: install = order > 0; break;
    case kRuleNotOlder: install = order >= 0; break;
    default: return setup_rc::kUnknownRule;
  }
  return install ? setup_rc::kDone : setup_rc::kNothingToDo;
}

Result InstallEngine::InstallFile(const std::string& source_name, InstallLocation location,
                                  const std::string& destination_name, int rule) {
  const std::string source = CompletePath(folders_.program, source_name);
  const std::string destination = LocationPath(folders_, location, destination_name);
  Log("InstallFile", source, destination);
  const Result code = CheckInstallRule(source, destination, rule);
  if (code != setup_rc::kDone) return code;
  return replacer_->Install(source, destination);
}

Result InstallEngine::InstallDriver(HWND parent, const std::string& inf_path,
                                    const UsbHardwareId* ids) {
  const std::vector<std::string> id_texts = HardwareIdTexts(ids);
  Log("InstallDriver", inf_path);
  if (!driver_api_ || !driver_api_->Complete()) return rc::kNotImplemented;
  const Result code = UpdateDriver(*this, *driver_api_, parent, inf_path, id_texts);
  return code == setup_rc::kInstalledDriverNewer ? setup_rc::kNothingToDo : code;
}

Result InstallEngine::Version(InstallLocation location, const std::string& name,
                              FileVersion* version) const {
  return ReadFileVersion(LocationPath(folders_, location, name), version);
}
