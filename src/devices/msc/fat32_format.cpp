#include "devices/msc/fat32_format.h"

#include <new>

#include "devices/progress_sink.h"
#include "support/text_convert.h"

namespace {

constexpr DWORD kMediaFlag = 12;
constexpr DWORD kLabelLength = 99;

class SystemFormatterLibrary : public FormatterLibrary {
 public:
  FormatExFunction Load() override {
    module_ = ::LoadLibraryA("fmifs.dll");
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<FormatExFunction>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "FormatEx")));
  }
  void Unload() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  HMODULE module_ = nullptr;
};

// One format in progress on this thread: the formatter's callback has no context argument.
struct FormatJob {
  ProgressSink* progress;
  Result result;
};
thread_local FormatJob* t_format_job = nullptr;

BOOLEAN WINAPI OnFormatEvent(DWORD command, DWORD, PVOID info) {
  FormatJob* job = t_format_job;
  if (job == nullptr || info == nullptr) return TRUE;
  if (command == kFormatProgress) {
    const DWORD percent = *static_cast<const DWORD*>(info);
    // Without a sink a progress report still says the format is under way.
    job->result = job->progress ? job->progress->Report(percent, 100) : rc::kOk;
    if (rc::Succeeded(job->result)) job->result = rc::kOk;
  } else if (command == kFormatDone) {
    if (*static_cast<const BOOLEAN*>(info) == 0) job->result = rc::kFail;
  }
  return TRUE;
}

}  // namespace

Result FormatVolumeFat32(const std::string& root, ProgressSink* progress,
                         FormatterLibrary* library) {
  SystemFormatterLibrary system;
  if (library == nullptr) library = &system;
  FormatExFunction format_ex = library->Load();
  if (format_ex == nullptr) {
    library->Unload();
    return rc::kNotImplemented;
  }
  char label[kLabelLength + 1] = {};
  if (!GetVolumeInformationA(root.c_str(), label, kLabelLength, nullptr, nullptr, nullptr,
                             nullptr, 0)) {
    label[0] = 0;
  }
  std::wstring wide_root = AnsiToWideString(root);
  std::wstring wide_label = AnsiToWideString(label);
  wchar_t file_system[] = L"FAT32";

  FormatJob job{progress, rc::kFail};
  FormatJob* outer = t_format_job;
  t_format_job = &job;
  format_ex(&wide_root[0], kMediaFlag, file_system, &wide_label[0], FALSE, 0, OnFormatEvent);
  t_format_job = outer;
  library->Unload();
  return job.result;
}
