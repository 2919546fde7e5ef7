// Reads the tags of every file of a folder that has a tag reader and compares the time with
// plain sequential reads of as many bytes from the same files, measured in the same run, so the
// ratio does not depend on the machine or on Wine.
//   tag_read_bench <folder> [--rounds N] [--no-fingerprint]
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/tag_reader.h"
#include "media/tag_reader_factory.h"
#include "support/file_stream.h"

namespace {

struct ReadCounts {
  uint64_t reads = 0;
  uint64_t seeks = 0;  // Seek and Skip
  uint64_t bytes = 0;

  ReadCounts& operator+=(const ReadCounts& other) {
    reads += other.reads;
    seeks += other.seeks;
    bytes += other.bytes;
    return *this;
  }
};

// Forwards to a stream and counts what the reader asks of it.
class CountingStream : public SeekableStream {
 public:
  explicit CountingStream(SeekableStream* base) : base_(base) {}

  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    const Result result = base_->Read(buffer, length, count);
    ++counts_.reads;
    counts_.bytes += *count;
    return result;
  }
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override {
    return base_->Write(buffer, length, count);
  }
  Result GetPosition(uint32_t* position) override { return base_->GetPosition(position); }
  Result Seek(uint32_t position) override {
    ++counts_.seeks;
    return base_->Seek(position);
  }
  Result Skip(int32_t delta) override {
    ++counts_.seeks;
    return base_->Skip(delta);
  }
  Result GetSize(uint32_t* size) override { return base_->GetSize(size); }
  Result SetSize(uint32_t size) override { return base_->SetSize(size); }

  const ReadCounts& counts() const { return counts_; }

 private:
  SeekableStream* base_;
  ReadCounts counts_;
};

class CountingSink : public TagSink {
 public:
  void SetInt(const char* /*key*/, uint32_t /*value*/) override { ++values_; }
  void SetString(const char* /*key*/, const char* /*value*/) override { ++values_; }
  uint64_t values() const { return values_; }

 private:
  uint64_t values_ = 0;
};

// Files of one extension and what reading their tags took.
struct FileGroup {
  std::vector<std::string> paths;
  std::vector<uint32_t> bytes_read;  // per file, from the tag pass: the reference reads as many
  uint64_t file_bytes = 0;
  uint64_t values = 0;
  ReadCounts counts;
  uint64_t failures = 0;
  double tag_seconds = 0;
  double plain_seconds = 0;
};

struct Options {
  std::string folder;
  int rounds = 5;
  bool fingerprint = true;
};

using BenchClock = std::chrono::steady_clock;

double SecondsSince(BenchClock::time_point start) {
  return std::chrono::duration<double>(BenchClock::now() - start).count();
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> paths;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return paths;
  do {
    // Names starting with a dot are the corpus maker's stamps, not music.
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && found.cFileName[0] != '.') {
      paths.push_back(folder + "\\" + found.cFileName);
    }
  } while (FindNextFileA(find, &found));
  FindClose(find);
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Opens the file as TagReader::ReadFile does and reads its tags through a counting stream.
// `counts` and `file_size` may be null.
Result ReadTags(const std::string& path, bool fingerprint, CountingSink* sink,
                ReadCounts* counts, uint32_t* file_size) {
  std::unique_ptr<TagReader> reader;
  Result result = TagReaderFactory(path, "", &reader);
  if (rc::Failed(result)) return result;
  reader->SetComputeFingerprint(fingerprint);
  std::unique_ptr<FileStream> file;
  result = OpenFileStream(path.c_str(), OpenRead, &file);
  if (rc::Failed(result)) return result;
  CountingStream stream(file.get());
  result = reader->Read(&stream, sink);
  if (file_size != nullptr) file->GetSize(file_size);
  file->Close();
  if (counts != nullptr) *counts = stream.counts();
  return result;
}

// The reference: `length` bytes read from the start of the file in large sequential pieces,
// starting over at its end, through the same kind of stream.
void ReadPlain(const std::string& path, uint32_t length, std::vector<char>* buffer) {
  std::unique_ptr<FileStream> file;
  if (rc::Failed(OpenFileStream(path.c_str(), OpenRead, &file))) return;
  bool progressed = false;  // since the last start over: an empty file gives nothing
  while (length > 0) {
    uint32_t count = 0;
    const uint32_t piece = std::min<uint32_t>(length, static_cast<uint32_t>(buffer->size()));
    if (rc::Failed(file->Read(buffer->data(), piece, &count))) break;
    length -= count;
    if (count > 0) {
      progressed = true;
      continue;
    }
    if (!progressed || rc::Failed(file->Seek(0))) break;
    progressed = false;
  }
  file->Close();
}

// One untimed pass that counts, then the best of `rounds` timed passes of each kind.
void Measure(const Options& options, FileGroup* group) {
  for (const std::string& path : group->paths) {
    CountingSink sink;
    ReadCounts counts;
    uint32_t size = 0;
    if (rc::Failed(ReadTags(path, options.fingerprint, &sink, &counts, &size))) {
      ++group->failures;
    }
    group->bytes_read.push_back(static_cast<uint32_t>(counts.bytes));
    group->file_bytes += size;
    group->values += sink.values();
    group->counts += counts;
  }
  std::vector<char> buffer(64 * 1024);
  group->tag_seconds = group->plain_seconds = 1e30;
  for (int round = 0; round < options.rounds; ++round) {
    BenchClock::time_point start = BenchClock::now();
    for (const std::string& path : group->paths) {
      CountingSink sink;
      ReadTags(path, options.fingerprint, &sink, nullptr, nullptr);
    }
    group->tag_seconds = std::min(group->tag_seconds, SecondsSince(start));
    start = BenchClock::now();
    for (size_t i = 0; i < group->paths.size(); ++i) {
      ReadPlain(group->paths[i], group->bytes_read[i], &buffer);
    }
    group->plain_seconds = std::min(group->plain_seconds, SecondsSince(start));
  }
}

void PrintRow(const char* kind, const FileGroup& group) {
  const double files = static_cast<double>(group.paths.size());
  std::printf("%-5s %6zu %8.1f %8.1f %8.1f %10.0f %10.0f %9.0f %9.2f %9.2f %7.2f %6llu\n", kind,
              group.paths.size(), group.values / files, group.counts.reads / files,
              group.counts.seeks / files, group.counts.bytes / files, group.file_bytes / files,
              files / group.tag_seconds, group.tag_seconds * 1000, group.plain_seconds * 1000,
              group.tag_seconds / group.plain_seconds,
              static_cast<unsigned long long>(group.failures));
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      options->rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--no-fingerprint") == 0) {
      options->fingerprint = false;
    } else if (options->folder.empty() && argv[i][0] != '-') {
      options->folder = argv[i];
    } else {
      return false;
    }
  }
  return !options->folder.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: tag_read_bench <folder> [--rounds N] [--no-fingerprint]\n");
    return 2;
  }
  std::map<std::string, FileGroup> groups;
  std::map<std::string, size_t> skipped;
  for (const std::string& path : ListFiles(options.folder)) {
    std::string extension = FileExtension(path);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::unique_ptr<TagReader> reader;
    if (rc::Failed(TagReaderFactory(path, extension, &reader))) {
      ++skipped[extension];
    } else {
      groups[extension].paths.push_back(path);
    }
  }
  if (groups.empty()) {
    std::fprintf(stderr, "tag_read_bench: no file with a tag reader in %s\n",
                 options.folder.c_str());
    return 1;
  }

  std::printf("tag_read_bench: %s, best of %d rounds, fingerprint %s\n", options.folder.c_str(),
              options.rounds, options.fingerprint ? "on" : "off");
  std::printf("ratio = time of the tag reading / time of plain sequential reads of as many "
              "bytes from the same files\n\n");
  std::printf("%-5s %6s %8s %8s %8s %10s %10s %9s %9s %9s %7s %6s\n", "kind", "files",
              "values/f", "reads/f", "seeks/f", "bytes/f", "size/f", "files/s", "tags ms",
              "plain ms", "ratio", "failed");
  FileGroup all;
  for (auto& entry : groups) {
    FileGroup& group = entry.second;
    Measure(options, &group);
    PrintRow(entry.first.c_str(), group);
    all.paths.insert(all.paths.end(), group.paths.begin(), group.paths.end());
    all.file_bytes += group.file_bytes;
    all.values += group.values;
    all.counts += group.counts;
    all.failures += group.failures;
    all.tag_seconds += group.tag_seconds;
    all.plain_seconds += group.plain_seconds;
  }
  if (groups.size() > 1) PrintRow("all", all);
  for (const auto& entry : skipped) {
    std::printf("skipped: %zu file(s) of kind \"%s\" (no tag reader)\n", entry.second,
                entry.first.c_str());
  }
  return 0;
}
