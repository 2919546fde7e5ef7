// Header attributes of a Windows Media file read through the platform's metadata editor
// (WMVCore's WMCreateEditor), which can still read protected files whose audio we cannot.
// Where the platform has no editor, Open fails and nothing can be read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/result_codes.h"

class Clock;

// The platform's attribute types, by their numbers.
enum class MetadataType : uint32_t {
  kDword = 0,
  kString = 1,  // UTF-16 little endian with its terminating zero
  kBinary = 2,
  kBool = 3,
  kQword = 4,
  kWord = 5,
  kGuid = 6,
};

struct MetadataAttribute {
  std::wstring name;
  MetadataType type = MetadataType::kBinary;
  std::string value;  // the bytes as the editor gives them
};

// One file at a time; used by one thread.
class MetadataEditor {
 public:
  virtual ~MetadataEditor() = default;
  // `path` is the file's UTF-16 path. Fails (and leaves the editor closed) when the platform
  // has no editor or the editor cannot read the file.
  virtual Result Open(const std::wstring& path) = 0;
  // The attribute of the whole file (not of one stream): rc::kNotFound when it is missing.
  virtual Result GetAttributeByName(const std::wstring& name, MetadataAttribute* attribute) = 0;
  virtual Result GetAttributeCount(uint16_t* count) = 0;
  virtual Result GetAttributeByIndex(uint16_t index, MetadataAttribute* attribute) = 0;
  // Sets (or replaces) an attribute of the whole file; `value` holds the bytes in the
  // platform's form (UTF-16 with its terminating zero for strings, little-endian numbers).
  virtual Result SetAttribute(const std::wstring& name, MetadataType type,
                              const std::string& value) = 0;
  // Writes the changes into the file.
  virtual Result Flush() = 0;
  // Safe to call when not open.
  virtual void Close() = 0;
};

// The editor of WMVCore, loaded by name; an editor whose Open fails where there is none.
// `clock` (not owned) serves the pause the platform needs between closing and releasing.
std::unique_ptr<MetadataEditor> CreateWmMetadataEditor(Clock* clock);

// A string attribute as UTF-16 up to its first zero unit; empty when missing or of another
// type.
std::wstring MetadataString(MetadataEditor* editor, const std::wstring& name);
// A 64-bit attribute, or a 32-bit one widened; 0 when missing or of another type.
uint64_t MetadataQword(MetadataEditor* editor, const std::wstring& name);
