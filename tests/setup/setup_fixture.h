// Shared by the installation tool's tests: a temporary Windows folder layout with a program
// folder holding the files to install, a log that keeps its lines, and file helpers.
#pragma once

#include <string>
#include <vector>

#include "setup/install_location.h"
#include "setup/install_log.h"
#include "support/file_helpers.h"

// Z:\... of a path on the host.
std::string HostPath(const std::string& unix_path);

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
void CopyHostFile(const std::string& unix_path, const std::string& destination);

// An INF whose "Version" section holds the given "DriverVer" text.
std::string InfWithDriverVer(const std::string& driver_ver);

class WindowsLayout {
 public:
  WindowsLayout();
  ~WindowsLayout();
  WindowsLayout(const WindowsLayout&) = delete;
  WindowsLayout& operator=(const WindowsLayout&) = delete;

  const SetupFolders& Folders() const { return folders_; }
  std::string Root() const { return root_; }
  std::string Windows(const std::string& name = "") const { return Join(folders_.windows, name); }
  std::string Inf(const std::string& name = "") const { return Join(folders_.windows + "\\INF", name); }
  std::string System(const std::string& name = "") const { return Join(folders_.system, name); }
  std::string Program(const std::string& name = "") const { return Join(folders_.program, name); }

  // The program folder as shipped: MIRRIN.INF, MIRRIN.SYS and TORVEX.DLL (the recorder or the
  // real Torvex.dll of the test build).
  void ShipDriverAndProvider(const std::string& provider_unix_path);

 private:
  static std::string Join(const std::string& folder, const std::string& name) {
    return name.empty() ? folder : folder + "\\" + name;
  }
  std::string root_;
  SetupFolders folders_;
};

class RecordingLog : public InstallLog {
 public:
  void Line(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

// The lines of a file, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// HKEY_LOCAL_MACHINE "Software\Qel\Tessaly\2.0" "path": set, or removed when empty.
void SetDesktopApplicationPath(const std::string& path);
