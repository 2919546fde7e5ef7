#include "setup/registry_key.h"

#include <vector>

namespace {

void Check(LONG error) {
  if (error != ERROR_SUCCESS) throw CRegistryException(error);
}

// "%SystemRoot%\..." as the path it stands for; unknown names stay as they are.
std::string Expanded(const std::string& text) {
  const DWORD size = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  if (size == 0) return text;
  std::vector<char> expanded(size + 1, '\0');
  if (ExpandEnvironmentStringsA(text.c_str(), expanded.data(), size + 1) == 0) return text;
  return expanded.data();
}

}  // namespace

std::shared_ptr<RegistryKey::OpenKey> RegistryKey::OpenUnder(HKEY root, const std::string& path,
                                                             Open how) {
  HKEY key = nullptr;
  Check(how == Open::kCreate ? RegCreateKeyA(root, path.c_str(), &key)
                             : RegOpenKeyA(root, path.c_str(), &key));
  return std::make_shared<OpenKey>(key);
}

RegistryKey::RegistryKey(HKEY root, const std::string& path, Open how)
    : handle_(OpenUnder(root, path, how)) {}

RegistryKey RegistryKey::SubKey(const std::string& path, Open how) const {
  return RegistryKey(OpenUnder(handle_->key, path, how));
}

void RegistryKey::SetNumber(const std::string& name, uint32_t value) const {
  const DWORD number = value;
  Check(RegSetValueExA(handle_->key, name.c_str(), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&number), sizeof(number)));
}

void RegistryKey::SetText(const std::string& name, const std::string& value) const {
  Check(RegSetValueExA(handle_->key, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1)));
}

bool RegistryKey::ReadText(const std::string& name, std::string* value) const {
  const char* value_name = name.empty() ? nullptr : name.c_str();
  DWORD type = 0, size = 0;
  LONG error = RegQueryValueExA(handle_->key, value_name, nullptr, &type, nullptr, &size);
  if (error == ERROR_FILE_NOT_FOUND) return false;
  Check(error);
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw CRegistryException(ERROR_FILE_NOT_FOUND);
  // The stored text need not end with a zero; room for one more keeps it terminated.
  std::vector<char> buffer(size + 1, '\0');
  DWORD read = size;
  Check(RegQueryValueExA(handle_->key, value_name, nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &read));
  value->assign(buffer.data(), strnlen(buffer.data(), read < size ? read : size));
  if (type == REG_EXPAND_SZ) *value = Expanded(*value);
  return true;
}

std::string RegistryKey::Text(const std::string& name, const std::string& fallback) const {
  std::string value;
  return ReadText(name, &value) ? value : fallback;
}

std::string RegistryKey::Text(const std::string& name) const {
  std::string value;
  if (!ReadText(name, &value)) throw CRegistryException(ERROR_FILE_NOT_FOUND);
  return value;
}

std::string RegistryKey::TextOrEmpty(HKEY root, const std::string& path, const std::string& name) {
  try {
    return RegistryKey(root, path, Open::kExisting).Text(name, "");
  } catch (const CRegistryException&) {
    return std::string();
  }
}
