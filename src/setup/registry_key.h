// RegistryKey: an open registry key shared by counted copies and closed with the last one.
// Every failing call throws CRegistryException with the Win32 error.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

class CRegistryException {
 public:
  explicit CRegistryException(LONG error) : error_(error) {}
  LONG Error() const { return error_; }

 private:
  LONG error_;
};

class RegistryKey {
 public:
  enum class Open { kExisting, kCreate };

  RegistryKey(HKEY root, const std::string& path, Open how);

  RegistryKey SubKey(const std::string& path, Open how) const;
  void SetNumber(const std::string& name, uint32_t value) const;
  void SetText(const std::string& name, const std::string& value) const;
  // A REG_SZ or REG_EXPAND_SZ value (with its environment variables expanded); `fallback`
  // when the value is absent. A value of another type throws ERROR_FILE_NOT_FOUND.
  std::string Text(const std::string& name, const std::string& fallback) const;
  std::string Text(const std::string& name) const;  // throws when absent
  // A text value of an existing key, or empty when the key or the value is missing.
  static std::string TextOrEmpty(HKEY root, const std::string& path, const std::string& name);

  HKEY Handle() const { return handle_->key; }

 private:
  struct OpenKey {
    explicit OpenKey(HKEY k) : key(k) {}
    ~OpenKey() { RegCloseKey(key); }
    HKEY key;
  };
  explicit RegistryKey(std::shared_ptr<OpenKey> handle) : handle_(std::move(handle)) {}
  static std::shared_ptr<OpenKey> OpenUnder(HKEY root, const std::string& path, Open how);
  bool ReadText(const std::string& name, std::string* value) const;

  std::shared_ptr<OpenKey> handle_;
};
