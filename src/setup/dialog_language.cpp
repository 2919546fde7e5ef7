#include "setup/dialog_language.h"

namespace {

// The resource of `type` and `name` in `language`, or in the language Windows picks when the
// program has none in that one.
const void* LockedResource(HMODULE module, LPCSTR type, LPCSTR name, LANGID language) {
  HRSRC found = FindResourceExA(module, type, name, language);
  if (!found && language != 0) found = FindResourceExA(module, type, name, 0);
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  return loaded ? LockResource(loaded) : nullptr;
}

}  // namespace

std::string LoadStringIn(HMODULE module, LANGID language, UINT id) {
  // String tables are blocks of sixteen texts, each a length word and that many UTF-16 units.
  const auto* unit = static_cast<const WCHAR*>(
      LockedResource(module, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language));
  if (!unit) return std::string();
  for (UINT skip = id % 16; skip > 0; --skip) unit += 1 + *unit;
  const int length = *unit++;
  if (length == 0) return std::string();
  const int bytes = WideCharToMultiByte(CP_ACP, 0, unit, length, nullptr, 0, nullptr, nullptr);
  std::string text(bytes > 0 ? bytes : 0, '\0');
  if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, unit, length, &text[0], bytes, nullptr, nullptr);
  return text;
}

INT_PTR DialogBoxIn(HMODULE module, LANGID language, int dialog_id, HWND parent,
                    DLGPROC procedure, LPARAM parameter) {
  const void* dialog =
      LockedResource(module, RT_DIALOG, MAKEINTRESOURCEA(dialog_id), language);
  if (!dialog) return -1;
  return DialogBoxIndirectParamA(module, static_cast<LPCDLGTEMPLATEA>(dialog), parent, procedure,
                                 parameter);
}
