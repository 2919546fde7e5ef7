#include "media/tag_reader_factory.h"

#include <cctype>

#include "media/asf_tag_reader.h"
#include "media/flac_tag_reader.h"
#include "media/mp3_tag_reader.h"
#include "media/ogg_tag_reader.h"
#include "media/wav_tag_reader.h"

namespace {

const TagReaderRow kTagReaders[] = {
    {"mp2", CreateMp3TagReader},
    {"mp3", CreateMp3TagReader},
    {"asf", CreateAsfTagReader},
    {"wma", CreateAsfTagReader},
    {"wav", CreateWavTagReader},
    {"ogg", CreateOggTagReader},
    {"fla", CreateFlacTagReader},
    {"flac", CreateFlacTagReader},
    {nullptr, nullptr},
};

bool EqualNoCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return a[i] == '\0' && i == b.size();
}

}  // namespace

const TagReaderRow* TagReaderTable() { return kTagReaders; }

Result TagReaderFactory(const TagReaderRow* table, const std::string& path,
                        const std::string& extension, std::unique_ptr<TagReader>* reader) {
  const std::string wanted = extension.empty() ? FileExtension(path) : extension;
  for (const TagReaderRow* row = table; row->extension != nullptr; ++row) {
    if (EqualNoCase(row->extension, wanted)) return row->create(path, reader);
  }
  return rc::kNoTagHandler;
}

Result TagReaderFactory(const std::string& path, const std::string& extension,
                        std::unique_ptr<TagReader>* reader) {
  return TagReaderFactory(kTagReaders, path, extension, reader);
}
