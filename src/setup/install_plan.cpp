#include "setup/install_plan.h"

#include <cstring>

#include "setup/registry_key.h"
#include "setup/setup_codes.h"

const char* const kSupersededFiles[6] = {"MSQEL.INF", "MSQEL8.INF", "MSTAVIK.INF",
                                         "MSQEL.PNF", "MSQEL8.PNF", "MSTAVIK.PNF"};

namespace {

constexpr uint16_t kPlayersVendorId = 0x0E21;

}  // namespace

const UsbHardwareId kPlayerHardwareIds[] = {
    {kPlayersVendorId, 0x5001}, {kPlayersVendorId, 0x5002}, {kPlayersVendorId, 0x5008},
    {kPlayersVendorId, 0x5003}, {kPlayersVendorId, 0x5005}, {kPlayersVendorId, 0x5010},
    {kPlayersVendorId, 0x5009}, {kPlayersVendorId, 0x5007}, {kPlayersVendorId, 0x5006},
    {kPlayersVendorId, 0x5202}, {kPlayersVendorId, 0x500C}, {kPlayersVendorId, 0x500D},
    {kPlayersVendorId, 0x500E}, {kPlayersVendorId, 0x500F}, {kPlayersVendorId, 0x5210},
    {kPlayersVendorId, 0x5220}, {kPlayersVendorId, 0x5221}, {kPlayersVendorId, 0x501C},
    {kPlayersVendorId, 0x501D}, {kPlayersVendorId, 0x501E}, {kPlayersVendorId, 0x501F},
    {0, 0}};

const char* const kArrivalEvents[17] = {
    "QelSornArrival",  "QelTullArrival",  "QelUrvaArrival",    "QelTavikArrival",
    "QelPirnArrival",  "QelNempArrival",  "QelMavoArrival",    "QelLurnArrival",
    "QelKelmArrival",  "QelJaskArrival",  "QelHultArrival",    "QelGavoArrival",
    "QelFennArrival",  "QelDulseArrival", "QelCorranArrival",  "QelBoskArrival",
    "QelArvelArrival"};

namespace {

const char kApplicationKey[] = "Software\\Qel\\Tessaly\\2.0";
const char kHandlersKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers\\Handlers";
const char kEventHandlersKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers\\EventHandlers";
const char kOlderProviderServer[] =
    "CLSID\\{14B5891F-E42B-4CD4-ACF7-C2C56CCC4650}\\InProcServer32";

bool EndsWithNoCase(const std::string& text, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return text.size() >= length && _stricmp(text.c_str() + text.size() - length, suffix) == 0;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result RemoveSupersededFiles(InstallEngine& engine) {
  for (const char* name : kSupersededFiles) {
    const Result code = engine.RemoveFile(InstallLocation::kWindowsInf, name);
    if (code < 0) return code;
  }
  return 0;
}

Result InstallDriverPackage(InstallEngine& engine, const InstallPlanOptions& options,
                            const std::string& application_path) {
  const std::string folder =
      DriverPackageFolder(engine.Folders(), options.nt_family, application_path);
  CreateDirectoryA(folder.c_str(), nullptr);
  const int rule = options.replace_same_version ? kRuleNotOlder : kRuleNewer;
  const std::string inf = folder + "\\MIRRIN.INF";
  Result code = engine.InstallFile("MIRRIN.INF", InstallLocation::kNone, inf, rule);
  bool all_copied = code == setup_rc::kDone;
  if (all_copied) {
    code = engine.InstallFile("MIRRIN.SYS", InstallLocation::kNone, folder + "\\MIRRIN.SYS", rule);
    all_copied = code == setup_rc::kDone;
  }
  // No catalogue is shipped until the driver can be signed: then there is none to copy.
  if (all_copied && FileExists(CompletePath(engine.Folders().program, "MIRRIN.CAT"))) {
    code = engine.InstallFile("MIRRIN.CAT", InstallLocation::kNone, folder + "\\MIRRIN.CAT",
                              kRuleAlways);
    all_copied = code == setup_rc::kDone;
  }
  // Windows 9x installs the driver in a manual stage from the folder.
  if (!options.nt_family) return code;
  if (!options.replace_same_version && !all_copied) return code;
  return engine.InstallDriver(options.parent, inf, kPlayerHardwareIds);
}

void RegisterAutoPlayHandler(const std::string& application_path) {
  if (application_path.empty()) return;
  try {
    RegistryKey handler = RegistryKey(HKEY_LOCAL_MACHINE, kHandlersKey, RegistryKey::Open::kCreate)
                              .SubKey("TessalyHandler", RegistryKey::Open::kCreate);
    handler.SetText("Action", "Transfer and manage music");
    handler.SetText("CLSIDforCancel", "{91778246-9BE4-4713-A651-E833B853CC30}");
    handler.SetText("DefaultIcon", application_path + ",0");
    handler.SetText("InitCmdLine", "\"" + application_path + "\"");
    handler.SetText("ProgId", "Shell.HWEventHandlerShellExecute");
    handler.SetText("Provider", "Tessaly");
    RegistryKey events(HKEY_LOCAL_MACHINE, kEventHandlersKey, RegistryKey::Open::kCreate);
    for (const char* event : kArrivalEvents)
      events.SubKey(event, RegistryKey::Open::kCreate).SetText("TessalyHandler", "");
  } catch (const CRegistryException&) {
  }
}

void RegisterPlatformMediaHandler() {
  try {
    RegistryKey(HKEY_LOCAL_MACHINE, kHandlersKey, RegistryKey::Open::kExisting)
        .SubKey("MSWMDMHandler", RegistryKey::Open::kExisting);
    RegistryKey events(HKEY_LOCAL_MACHINE, kEventHandlersKey, RegistryKey::Open::kCreate);
    for (const char* event : kArrivalEvents) {
      try {
        events.SubKey(event, RegistryKey::Open::kCreate).SetText("MSWMDMHandler", "");
      } catch (const CRegistryException&) {
      }
    }
  } catch (const CRegistryException&) {
  }
}

void RemoveOlderServiceProvider(InstallEngine& engine) {
  const std::string path = RegistryKey::TextOrEmpty(HKEY_CLASSES_ROOT, kOlderProviderServer, "");
  if (!path.empty()) {
    engine.UnregisterFile(InstallLocation::kNone, path);
    engine.RemoveFile(InstallLocation::kNone, path);
  }
  engine.UnregisterFile(InstallLocation::kSystem, "MDWMDMSP.DLL");
  engine.RemoveFile(InstallLocation::kSystem, "MDWMDMSP.DLL");
}

Result InstallServiceProvider(InstallEngine& engine) {
  const Result code =
      engine.InstallFile("TORVEX.DLL", InstallLocation::kSystem, "TORVEX.DLL", kRuleNotOlder);
  if (code != setup_rc::kDone) return code;
  return engine.RegisterFile(InstallLocation::kSystem, "TORVEX.DLL");
}

}  // namespace

std::string DesktopApplicationPath() {
  return RegistryKey::TextOrEmpty(HKEY_LOCAL_MACHINE, kApplicationKey, "path");
}

std::string DriverPackageFolder(const SetupFolders& folders, bool nt_family,
                                const std::string& application_path) {
  const std::string fallback = folders.windows + "\\QelDrivers";
  if (!nt_family) return fallback;
  const size_t slash = application_path.find_last_of('\\');
  if (slash == std::string::npos) return fallback;
  std::string folder = application_path.substr(0, slash + 1);
  if (EndsWithNoCase(folder, "\\tessaly\\")) folder.resize(folder.size() - 8);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (folder.size() > 1 && FolderExists(folder)) return folder + "\\Drivers";
  return fallback;
}

Result InstallPlan::Run() {
  const std::string application_path = DesktopApplicationPath();
  Result code = RemoveSupersededFiles(engine_);
  if (code < 0) return code;
  code = InstallDriverPackage(engine_, options_, application_path);
  if (code < 0) return code;
  RegisterAutoPlayHandler(application_path);
  RegisterPlatformMediaHandler();
  RemoveOlderServiceProvider(engine_);
  return InstallServiceProvider(engine_);
}
