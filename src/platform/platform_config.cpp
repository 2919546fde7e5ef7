#include "platform/platform_config.h"

#include <cstring>

namespace {

template <size_t N>
void SetText(char (&field)[N], const char* text) {
  strncpy(field, text, N - 1);
  field[N - 1] = '\0';
}

template <size_t N>
void TerminateDirectory(char (&field)[N], size_t limit) {
  size_t length = strnlen(field, N);
  if (length == 0 || length >= limit || field[length - 1] == '/') return;
  field[length] = '/';
  field[length + 1] = '\0';
}

}  // namespace

void FillDefaultConfig(PlatformConfig* config) {
  memset(config, 0, sizeof *config);
  SetText(config->system_directory, "/name/system/sys1/");
  SetText(config->modules_directory, "/name/system/sys1/Modules/");
  SetText(config->storage_directory, "/name/storage/");
  SetText(config->mpeg_directory, "/name/mpeg/");
  SetText(config->user_directory, "/name/system/user/");
  config->limit_value = 999999;
}

void TerminateConfigDirectories(PlatformConfig* config) {
  TerminateDirectory(config->system_directory, 79);
  TerminateDirectory(config->modules_directory, 79);
  TerminateDirectory(config->spare_directory, 79);
  TerminateDirectory(config->storage_directory, 47);
  TerminateDirectory(config->mpeg_directory, 47);
  TerminateDirectory(config->user_directory, 47);
}
