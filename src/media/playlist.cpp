#include "media/playlist.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "support/file_helpers.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

std::string PlaylistWriter::Folder() const { return DirectoryPart(path_); }

bool PlaylistWriter::EntryFor(const std::string& track, std::string* canonical,
                              std::string* entry) const {
  if (!CanonicalTrackPath(track, canonical)) return false;
  PlaylistEntryPath(entry, Folder(), *canonical);
  return true;
}

Result DeliverPlaylistEntry(PlaylistEntrySink* sink, const std::string& folder,
                            const std::string& entry_text, bool utf8) {
  // An entry ends at a NUL byte, whether it names an absolute or a relative path.
  const std::string entry = entry_text.substr(0, entry_text.find('\0'));
  if (entry.empty()) return rc::kOk;
  std::string absolute;
  if (rc::Failed(MakeAbsolutePath(folder, utf8 ? Utf8ToAnsiString(entry) : entry, &absolute))) {
    return rc::kOk;
  }
  return sink->AddEntry(absolute);
}

Result ReadWholeFile(std::string* text, const std::string& path) {
  text->clear();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return rc::FromErrno(errno);
  char block[4096];
  size_t n = 0;
  while ((n = std::fread(block, 1, sizeof(block), file)) > 0) text->append(block, n);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  return failed ? rc::FromErrno(error) : rc::kOk;
}

Result WriteFileReplacing(const std::string& path, const std::string& text) {
  // The temporary file is this call's own: two writers of one playlist never write into each
  // other's text, and the one that replaces the path last leaves a whole file.
  std::string temporary;
  const Result created = CreateSiblingTempFile(path, &temporary);
  if (rc::Failed(created)) return created;
  const int fd = _open(temporary.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
  if (fd < 0) {
    const Result failure = rc::FromErrno(errno);
    UnlinkFile(temporary);
    return failure;
  }
  size_t written = 0;
  while (written < text.size()) {
    const int n = _write(fd, text.data() + written, static_cast<unsigned>(text.size() - written));
    if (n <= 0) {
      const Result failure = rc::FromErrno(n < 0 ? errno : ENOSPC);
      _close(fd);
      UnlinkFile(temporary);
      return failure;
    }
    written += static_cast<size_t>(n);
  }
  if (_close(fd) != 0) {
    const Result failure = rc::FromErrno(errno);
    UnlinkFile(temporary);
    return failure;
  }
  const Result replaced = ReplaceFileWith(temporary, path);
  if (rc::Failed(replaced)) UnlinkFile(temporary);
  return replaced;
}

bool StripUtf8ByteOrderMark(std::string* text) {
  if (text->compare(0, 3, "\xEF\xBB\xBF") != 0) return false;
  text->erase(0, 3);
  return true;
}

bool CanonicalTrackPath(const std::string& path, std::string* canonical) {
  return rc::Succeeded(NormalizePath(path, canonical));
}

void PlaylistEntryPath(std::string* text, const std::string& base, const std::string& path) {
  bool plain = true;
  for (const char c : path) plain = plain && static_cast<unsigned char>(c) < 0x7F;
  *text = RelativePath(base, plain ? path : ShortPathName(path));
  const size_t keep = text->compare(0, 2, "\\\\") == 0 ? 2 : 0;
  for (size_t i = keep; i < text->size(); ++i) {
    if ((*text)[i] == '\\') (*text)[i] = '/';
  }
}
