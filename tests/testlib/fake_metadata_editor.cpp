#include "testlib/fake_metadata_editor.h"

namespace {

std::string LittleEndian(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

}  // namespace

Result FakeMetadataEditor::Open(const std::wstring& path) {
  ++opens;
  opened_path = path;
  if (rc::Failed(open_result)) return open_result;
  is_open = true;
  return rc::kOk;
}

Result FakeMetadataEditor::GetAttributeByName(const std::wstring& name,
                                              MetadataAttribute* attribute) {
  if (!is_open) return rc::kFail;
  for (const MetadataAttribute& candidate : attributes) {
    if (candidate.name == name) {
      *attribute = candidate;
      return rc::kOk;
    }
  }
  return rc::kNotFound;
}

Result FakeMetadataEditor::GetAttributeCount(uint16_t* count) {
  if (!is_open) return rc::kFail;
  *count = static_cast<uint16_t>(attributes.size());
  return rc::kOk;
}

Result FakeMetadataEditor::GetAttributeByIndex(uint16_t index, MetadataAttribute* attribute) {
  if (!is_open) return rc::kFail;
  if (index >= attributes.size()) return rc::kBadIndex;
  *attribute = attributes[index];
  return rc::kOk;
}

void FakeMetadataEditor::Close() {
  ++closes;
  is_open = false;
}

void FakeMetadataEditor::AddString(const std::wstring& name, const std::wstring& value) {
  std::string bytes;
  for (const wchar_t unit : value) bytes += LittleEndian(static_cast<uint16_t>(unit), 2);
  bytes += LittleEndian(0, 2);
  attributes.push_back({name, MetadataType::kString, bytes});
}

void FakeMetadataEditor::AddDword(const std::wstring& name, uint32_t value) {
  attributes.push_back({name, MetadataType::kDword, LittleEndian(value, 4)});
}

void FakeMetadataEditor::AddQword(const std::wstring& name, uint64_t value) {
  attributes.push_back({name, MetadataType::kQword, LittleEndian(value, 8)});
}

void FakeMetadataEditor::AddBinary(const std::wstring& name, const std::string& value) {
  attributes.push_back({name, MetadataType::kBinary, value});
}

Result FakeMetadataEditor::SetAttribute(const std::wstring& name, MetadataType type,
                                        const std::string& value) {
  if (!is_open) return rc::kFail;
  if (rc::Failed(set_result)) return set_result;
  set_attributes.push_back({name, type, value});
  return rc::kOk;
}

Result FakeMetadataEditor::Flush() {
  if (!is_open) return rc::kFail;
  ++flushes;
  return flush_result;
}
