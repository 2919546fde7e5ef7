#include "media/wma_tag_writer.h"

#include <cstring>
#include <cwchar>

#include "media/create_for_path.h"
#include "media/metadata_editor.h"
#include "support/clock.h"
#include "support/text_convert.h"

namespace {

// The editor's "file in use" code as the callers know it.
constexpr Result kEditorFileBusy = static_cast<Result>(0xC00D0018);
constexpr Result kFileBusy = static_cast<Result>(0x8004100D);

enum class Kind { kText, kNumber, kNumberLessOne };

const struct {
  const char* key;
  const wchar_t* attribute;
  Kind kind;
} kWmaAttributeTable[] = {
    {"title", L"Title", Kind::kText},
    {"artist", L"Author", Kind::kText},
    {"source", L"WM/AlbumTitle", Kind::kText},
    {"composer", L"WM/Composer", Kind::kText},
    {"conductor", L"WM/Conductor", Kind::kText},
    {"mood", L"WM/Mood", Kind::kText},
    {"originalartist", L"WM/OriginalArtist", Kind::kText},
    {"lyricist", L"WM/Writer", Kind::kText},
    {"genre", L"WM/Genre", Kind::kText},
    {"comment", L"Description", Kind::kText},
    {"year", L"WM/Year", Kind::kText},
    {"tracknr", L"WM/Track", Kind::kNumberLessOne},
    {"tracknr", L"WM/TrackNumber", Kind::kText},
};

Result EditorCode(Result r) { return r == kEditorFileBusy ? kFileBusy : r; }

std::string StringBytes(const std::wstring& text) {
  std::string bytes;
  for (const wchar_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>((unit >> 8) & 0xFF);
  }
  return bytes + std::string(2, '\0');
}

std::string DwordBytes(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

}  // namespace

Result WmaTagWriter::SetProperty(const char* key, const char* value) {
  values_[key] = Utf8ToWide(value);
  return rc::kOk;
}

Result WmaTagWriter::Write() {
  std::unique_ptr<MetadataEditor> owned;
  MetadataEditor* editor = editor_;
  if (editor == nullptr) {
    owned = CreateWmMetadataEditor(Clock::System());
    editor = owned.get();
    if (editor == nullptr) return rc::kOutOfMemory;
  }
  Result r = editor->Open(AnsiToWideString(path_));
  if (rc::Failed(r)) return EditorCode(r);
  for (const auto& pair : values_) {
    for (const auto& row : kWmaAttributeTable) {
      if (_stricmp(row.key, pair.first.c_str()) != 0) continue;
      const bool no_track = pair.first == "tracknr" &&
                            (pair.second.empty() || std::wcstol(pair.second.c_str(), nullptr, 0) == 0);
      if (no_track) continue;  // an empty or 0 track number names no track
      if (row.kind == Kind::kText) {
        r = editor->SetAttribute(row.attribute, MetadataType::kString, StringBytes(pair.second));
      } else {
        uint32_t number = static_cast<uint32_t>(std::wcstol(pair.second.c_str(), nullptr, 0));
        if (row.kind == Kind::kNumberLessOne) --number;
        r = editor->SetAttribute(row.attribute, MetadataType::kDword, DwordBytes(number));
      }
      if (rc::Failed(r)) break;
    }
  }
  if (rc::Succeeded(r)) r = editor->Flush();
  editor->Close();
  return EditorCode(r);
}

Result CreateWmaTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out) {
  return CreateForPath<TagWriter, WmaTagWriter>(path, out);
}
