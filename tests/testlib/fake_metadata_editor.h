// A MetadataEditor whose attributes and failures the test scripts, and which records how it
// was used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/metadata_editor.h"

class FakeMetadataEditor : public MetadataEditor {
 public:
  Result Open(const std::wstring& path) override;
  Result GetAttributeByName(const std::wstring& name, MetadataAttribute* attribute) override;
  Result GetAttributeCount(uint16_t* count) override;
  Result GetAttributeByIndex(uint16_t index, MetadataAttribute* attribute) override;
  Result SetAttribute(const std::wstring& name, MetadataType type,
                      const std::string& value) override;
  Result Flush() override;
  void Close() override;

  void AddString(const std::wstring& name, const std::wstring& value);
  void AddDword(const std::wstring& name, uint32_t value);
  void AddQword(const std::wstring& name, uint64_t value);
  void AddBinary(const std::wstring& name, const std::string& value);

  // Scripted behaviour.
  Result open_result = rc::kOk;
  Result set_result = rc::kOk;  // for every SetAttribute
  Result flush_result = rc::kOk;
  std::vector<MetadataAttribute> attributes;

  // What happened.
  bool is_open = false;
  int opens = 0;
  int closes = 0;
  std::wstring opened_path;
  std::vector<MetadataAttribute> set_attributes;  // in call order
  int flushes = 0;
};
