#include "media/tag_writer_factory.h"

#include <cstring>

#include "media/flac_tag_writer.h"
#include "media/id3_tag_writer.h"
#include "media/ogg_tag_writer.h"
#include "media/wav_tag_writer.h"
#include "media/wma_tag_writer.h"
#include "support/path_helpers.h"

namespace {

const struct {
  const char* extension;
  Result (*create)(const std::string& path, std::unique_ptr<TagWriter>* out);
} kTagWriterFactories[] = {
    {"mp2", CreateId3TagWriter},  {"mp3", CreateId3TagWriter},
    {"wma", CreateWmaTagWriter},  {"asf", CreateWmaTagWriter},
    {"ogg", CreateOggVorbisTagWriter},
    {"fla", CreateFlacTagWriter}, {"flac", CreateFlacTagWriter},
    {"wav", CreateWavTagWriter},
};

}  // namespace

Result TagWriterFactory(const std::string& path, const std::string& extension,
                        std::unique_ptr<TagWriter>* writer) {
  const std::string wanted = extension.empty() ? FileExtension(path) : extension;
  for (const auto& row : kTagWriterFactories) {
    if (_stricmp(row.extension, wanted.c_str()) == 0) return row.create(path, writer);
  }
  return rc::kNoTagHandler;
}
