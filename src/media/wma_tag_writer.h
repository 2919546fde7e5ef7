// Writes the attributes of a WMA/ASF file through the platform's metadata editor.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "media/tag_writer.h"

class MetadataEditor;

class WmaTagWriter : public TagWriter {
 public:
  explicit WmaTagWriter(std::string path) : path_(std::move(path)) {}
  Result SetProperty(const char* key, const char* value) override;
  // Without the platform's editor this fails with the editor's code.
  Result Write() override;
  // The editor to use (not owned); without one the platform's is created.
  void UseMetadataEditor(MetadataEditor* editor) { editor_ = editor; }

 private:
  std::string path_;
  std::map<std::string, std::wstring> values_;
  MetadataEditor* editor_ = nullptr;
};

Result CreateWmaTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out);
