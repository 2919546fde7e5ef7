#include "host_oracle.h"

#include <windows.h>

#include <fstream>

#include "support/file_helpers.h"

namespace {

std::string WindowsFormOfUnixPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

}  // namespace

std::string UnixPathOf(const std::string& windows_path) {
  typedef char*(CDECL * UnixName)(LPCWSTR);
  auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return std::string();
  wchar_t wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, windows_path.c_str(), -1, wide, MAX_PATH);
  char* converted = unix_name(wide);
  if (!converted) return std::string();
  std::string result = converted;
  HeapFree(GetProcessHeap(), 0, converted);
  return result;
}

std::vector<std::string> RunHostOracle(const std::string& command, const std::string& path) {
  // The temporary file stays until the answer is read: it keeps its name, and with it the
  // answer's, from every other call while an oracle may still write there.
  std::string reserved;
  if (rc::Failed(TempFileName("ora", &reserved))) return {"error=no temporary file"};
  const std::string result = reserved + ".answer";
  const std::string unix_path = UnixPathOf(path);
  const std::string unix_result = UnixPathOf(result);
  // Wine hands the arguments of a Linux program over as they stand: Linux paths.
  std::string line = WindowsFormOfUnixPath("/usr/bin/python3") + " \"" MSC_ORACLE_SCRIPT "\" " +
                     command + " \"" + unix_path + "\" \"" + unix_result + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    UnlinkFile(reserved);
    return {"error=the oracle did not start"};
  }
  if (process.hProcess) CloseHandle(process.hProcess);
  if (process.hThread) CloseHandle(process.hThread);
  for (int waited = 0; waited < 3000 && !FileExists(result); ++waited) Sleep(100);
  std::ifstream in(result);
  // Without an answer the name stays taken: the oracle may still write it.
  if (!in) return {"error=the oracle gave no answer"};
  std::vector<std::string> lines;
  for (std::string text; std::getline(in, text);) lines.push_back(text);
  in.close();
  UnlinkFile(result);
  UnlinkFile(reserved);
  return lines;
}
