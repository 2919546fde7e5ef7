#include "setup/manual_stage.h"

#include "setup/dialog_language.h"

const char kManualStageFileName[] = "INSTALL.TXT";

namespace {

constexpr UINT kStringManualStageSteps = 9;

}  // namespace

std::string ManualStageSteps(LANGID language, const std::string& driver_folder) {
  const std::string text =
      LoadStringIn(GetModuleHandleA(nullptr), language, kStringManualStageSteps);
  std::string steps;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 2, "%1") == 0) {
      steps += driver_folder;
      ++at;
    } else if (text[at] == '\n') {
      steps += "\r\n";
    } else {
      steps += text[at];
    }
  }
  return steps.empty() ? steps : steps + "\r\n";
}

bool ShowManualStageSteps(LANGID language, const std::string& driver_folder,
                          const std::function<bool(const std::string& path)>& show_text_file) {
  const std::string steps = ManualStageSteps(language, driver_folder);
  if (steps.empty() || !show_text_file) return false;
  const std::string path = driver_folder + "\\" + kManualStageFileName;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, steps.data(), static_cast<DWORD>(steps.size()), &written, nullptr);
  const BOOL closed = CloseHandle(file);
  if (!wrote || !closed || written != steps.size()) {
    DeleteFileA(path.c_str());
    return false;
  }
  return show_text_file(path);
}

bool OpenInNotepad(const std::string& path) {
  // Notepad of Windows 9x takes its file name without quotes: the short name has no blanks.
  char short_path[MAX_PATH];
  const DWORD length = GetShortPathNameA(path.c_str(), short_path, MAX_PATH);
  std::string command = "notepad.exe ";
  command += length > 0 && length < MAX_PATH ? std::string(short_path, length)
                                              : "\"" + path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
