// The base folders files are installed into, and how a location and a name make a path.
#pragma once

#include <string>

enum class InstallLocation {
  kWindows = 0,        // the Windows folder
  kSystem = 1,         // the System folder
  kSystemDrivers = 2,  // the System folder plus "\DRIVERS"
  kWindowsInf = 3,     // the Windows folder plus "\INF"
  kNone = 4,           // the name is used as given
};

// The folders the install works in. The program fills them from Windows; tests give a
// temporary layout.
struct SetupFolders {
  std::string windows;
  std::string system;
  std::string program;  // the folder holding the running program: the files to install

  static SetupFolders OfThisProcess();
};

// Keeps the name's own drive and folder and takes what it lacks from `folder`.
std::string CompletePath(const std::string& folder, const std::string& name);

std::string LocationFolder(const SetupFolders& folders, InstallLocation location);
std::string LocationPath(const SetupFolders& folders, InstallLocation location,
                         const std::string& name);
