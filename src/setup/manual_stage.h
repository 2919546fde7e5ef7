// The manual stage of the install on Windows 9x, where the driver is installed by the person
// at the machine through the hardware wizard: the steps, with the real path of the folder that
// holds the driver files, go to a text file in that folder, which Notepad shows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The file the steps are written to, in the driver folder.
extern const char kManualStageFileName[];

// The steps in `language` (0: the one Windows picks) with `driver_folder` in them, lines ended
// by "\r\n" as Notepad wants them; empty when the program has no such text.
std::string ManualStageSteps(LANGID language, const std::string& driver_folder);

// Writes the steps into the driver folder and has `show_text_file` show the file. False, and
// the person not yet told, when the file cannot be written or shown.
bool ShowManualStageSteps(LANGID language, const std::string& driver_folder,
                          const std::function<bool(const std::string& path)>& show_text_file);

// Starts Notepad on `path`; false when it does not start.
bool OpenInNotepad(const std::string& path);
