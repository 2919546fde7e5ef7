#include "devices/msc/source_key_transforms.h"

#include <cctype>
#include <cstdint>

#include "support/collation.h"
#include "support/text_convert.h"

namespace {

// Tested in this order; the first that matches wins.
const char* const kArticles[] = {"a ",   "un ",  "une ", "the ", "le ",  "la ", "l'",
                                 "les ", "der ", "die ", "das ", "ein ", "eine ", "einen "};

size_t ArticleLength(const char* text) {
  for (const char* article : kArticles) {
    size_t i = 0;
    while (article[i] && text[i] &&
           std::tolower(static_cast<unsigned char>(text[i])) == article[i]) {
      ++i;
    }
    if (!article[i]) return i;
  }
  return 0;
}

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code_point >> 6));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | code_point >> 12));
    out->push_back(static_cast<char>(0x80 | (code_point >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18 & 0x07)));
    out->push_back(static_cast<char>(0x80 | (code_point >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace

std::string FoldedKeyText(const char* text) {
  std::string out;
  const char* cursor = text ? text : "";
  for (;;) {
    int32_t code_point = DecodeUtf8Char(cursor);
    if (code_point == 0) break;
    if (code_point < 0 || code_point > 0x10FFFF) continue;  // not text: no key part
    // Units beyond the 16-bit plane have no fold value of their own and stand as they are.
    uint32_t folded =
        code_point > 0xFFFF ? code_point : FoldForCollation(static_cast<uint16_t>(code_point));
    if (folded != 0) AppendUtf8(folded, &out);
  }
  return out;
}

void ArtistKeyTransform::Transform(const char* text, KeyEmitter* emitter) {
  const char* value = text ? text : "";
  emitter->EmitFolded(FoldedKeyText(value + ArticleLength(value)).c_str());
}

void PersonKeyTransform::Transform(const char* text, KeyEmitter* emitter) {
  if (!text || !*text) return;
  emitter->EmitFolded(FoldedKeyText(text).c_str());
}

void PathKeyTransform::Transform(const char* text, KeyEmitter* emitter) {
  std::string key = ToLowerCopy(text ? text : "");
  for (char& c : key) {
    if (c == '\\') c = '/';
  }
  emitter->EmitRaw(key.c_str());
}
