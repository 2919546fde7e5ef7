#include "media/tag_reader.h"

#include "support/file_stream.h"

Result TagReader::ReadFile(const std::string& path, TagSink* sink) {
  std::unique_ptr<FileStream> file;
  const Result opened = OpenFileStream(path.c_str(), OpenRead, &file);
  if (rc::Failed(opened)) return opened;
  const Result result = Read(file.get(), sink);
  file->Close();
  return result;
}

Result TagReader::FingerprintFile(const std::string& path, std::string* fingerprint) {
  std::unique_ptr<FileStream> file;
  const Result opened = OpenFileStream(path.c_str(), OpenRead, &file);
  if (rc::Failed(opened)) return opened;
  const Result result = Fingerprint(file.get(), fingerprint);
  file->Close();
  return result;
}

Result TagReader::GetAlbumArt(SeekableStream* /*stream*/,
                              std::unique_ptr<SeekableStream>* picture) {
  picture->reset();
  return rc::kOk;
}
