#include "devices/harddisk/tar_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devices/harddisk/tree_copy.h"
#include "memory_file_system.h"
#include "devices/harddisk/tar_index.h"
#include "support/memory_stream.h"
#include "tar_archives.inc"
#include "tar_file_lists.inc"
#include "tar_long_names.inc"

namespace {

// A ustar header with the GNU magic; the checksum is left out (it is not checked).
std::string Header(const std::string& name, uint64_t size, char type = '0') {
  std::string h(512, '\0');
  name.copy(&h[0], std::min<size_t>(name.size(), 100));
  std::snprintf(&h[100], 8, "%07o", 0644);
  std::snprintf(&h[124], 12, "%011llo", static_cast<unsigned long long>(size));
  std::snprintf(&h[136], 12, "%011o", 1600000000u);
  h[156] = type;
  std::memcpy(&h[257], "ustar  ", 8);
  return h;
}

std::string Member(const std::string& name, const std::string& data, char type = '0') {
  std::string m = Header(name, data.size(), type) + data;
  m.resize((m.size() + 511) / 512 * 512, '\0');
  return m;
}

std::unique_ptr<FileSystem> Mount(const std::string& image) {
  std::unique_ptr<FileSystem> fs;
  EXPECT_EQ(TarFileSystem::Create(reinterpret_cast<const uint8_t*>(image.data()), image.size(),
                                  &fs),
            rc::kOk);
  return fs;
}

std::string ReadAll(FileSystem* fs, const std::string& path, Result* last = nullptr) {
  std::unique_ptr<FsFileHandle> file;
  EXPECT_EQ(fs->OpenFile(path, kFsRead, &file), rc::kOk) << path;
  if (!file) return "";
  std::string out;
  for (;;) {
    char buffer[100];
    uint32_t done = 0;
    Result r = file->Read(buffer, sizeof buffer, &done);
    out.append(buffer, done);
    if (r != rc::kOk) {
      if (last) *last = r;
      break;
    }
  }
  return out;
}

std::vector<std::string> Names(FileSystem* fs, const std::string& path) {
  std::unique_ptr<FsDirHandle> dir;
  EXPECT_EQ(fs->OpenDir(path, kFsRead, &dir), rc::kOk) << path;
  std::vector<std::string> names;
  DirEntryName entry;
  while (dir && rc::Succeeded(dir->ReadNext(&entry))) names.push_back(entry.name);
  return names;
}

const std::string kGnuImage(reinterpret_cast<const char*>(kGnuTarImage), kGnuTarImageSize);

TEST(TarFileSystemTest, ReadsWhatGnuTarListsAndWrote) {
  MemoryStream stream(kGnuImage);
  EXPECT_TRUE(TarFileSystem::IsTarStream(&stream));
  uint32_t position = 1;
  ASSERT_EQ(stream.GetPosition(&position), rc::kOk);
  EXPECT_EQ(position, 0u);

  auto fs = Mount(kGnuImage);
  for (const TarListing& row : kGnuTarListing) {
    // tar lists "./music/" where the archive's own path is music.
    std::string path = row.path;
    if (path.compare(0, 2, "./") == 0) path.erase(0, 2);
    if (!path.empty() && path.back() == '/') path.pop_back();
    std::unique_ptr<FsNodeHandle> handle;
    ASSERT_EQ(fs->Open(path, &handle), rc::kOk) << row.path;
    FsStat stat;
    ASSERT_EQ(handle->Stat(&stat), rc::kOk);
    EXPECT_EQ(stat.kind, row.kind == 'd' ? kFsDirectory : kFsFile) << row.path;
    EXPECT_EQ(stat.size, row.size) << row.path;
    EXPECT_EQ(stat.mtime, 1600000000u) << row.path;
  }
  EXPECT_EQ(ReadAll(fs.get(), "readme.txt"), "firmware\n");
  const std::string mp3 = ReadAll(fs.get(), "/music/a.mp3");
  ASSERT_EQ(mp3.size(), 1300u);
  EXPECT_EQ(static_cast<uint8_t>(mp3[1299]), (1299 * 31 + 7) & 0xFF);
  EXPECT_EQ(ReadAll(fs.get(), "music\\a.mp3"), mp3);
  EXPECT_EQ(Names(fs.get(), "/"), (std::vector<std::string>{"empty", "music", "readme.txt", "zero"}));
  EXPECT_EQ(Names(fs.get(), "music"), (std::vector<std::string>{"a.mp3", "deep"}));
}

TEST(TarFileSystemTest, KindsAndFlagsAreChecked) {
  auto fs = Mount(kGnuImage);
  std::unique_ptr<FsFileHandle> file;
  std::unique_ptr<FsDirHandle> dir;
  EXPECT_EQ(fs->OpenFile("music", kFsRead, &file), rc::kWrongNodeKind);
  EXPECT_EQ(fs->OpenDir("readme.txt", kFsRead, &dir), rc::kWrongNodeKind);
  EXPECT_EQ(fs->OpenFile("readme.txt", kFsRead | kFsWrite, &file), rc::kNotImplemented);
  EXPECT_EQ(fs->OpenFile("readme.txt", kFsRead | kFsReplace, &file), rc::kNotImplemented);
  EXPECT_EQ(fs->OpenFile("readme.txt", 0, &file), rc::kNotImplemented);
  EXPECT_EQ(fs->OpenFile("missing", kFsRead, &file), rc::kNotFound);
  EXPECT_EQ(fs->Remove("readme.txt"), rc::kNotImplemented);
  FsSpace space;
  EXPECT_EQ(fs->GetSpace(&space), rc::kNotImplemented);
  std::unique_ptr<SeekableStream> stream;
  EXPECT_EQ(OpenFileSystemStream(fs.get(), "readme.txt", 0, &stream), rc::kBadOpenFlags);
  EXPECT_EQ(OpenFileSystemStream(fs.get(), "readme.txt", 16, &stream), rc::kBadOpenFlags);
}

TEST(TarFileSystemTest, SeekStaysInsideTheFile) {
  const std::string image = Member("f", std::string(100, 'x'));
  auto fs = Mount(image);
  std::unique_ptr<FsFileHandle> file;
  ASSERT_EQ(fs->OpenFile("f", kFsRead, &file), rc::kOk);
  struct Case {
    int64_t from, offset;
    int whence;
    uint64_t expected;
  } cases[] = {{0, 500, 0, 100}, {10, -20, 1, 0}, {10, 30, 1, 40}, {10, -5, 0, 0},
               {10, 7, 2, 100},  {50, 1000, 1, 100}};
  for (const Case& c : cases) {
    ASSERT_EQ(file->Seek(c.from, 0), rc::kOk);
    ASSERT_EQ(file->Seek(c.offset, c.whence), rc::kOk);
    uint64_t at = 0;
    ASSERT_EQ(file->Tell(&at), rc::kOk);
    EXPECT_EQ(at, c.expected) << c.from << " " << c.offset << " " << c.whence;
  }
  EXPECT_EQ(file->Seek(0, 3), rc::kBadIndex);
}

TEST(TarFileSystemTest, LayoutEdgeCases) {
  // "./" gives the root its fields, zero blocks between members are passed over, a member
  // listed before its directory stays in it when the directory's entry comes (GNU tar extracts
  // both into it).
  const std::string image = Member("./", "", '5') + std::string(1024, '\0') +
                            Member("dir/early", "e") + Member("dir/", "", '5') +
                            Member("dir/late", "l") + Member("./music/a.mp3", "abc");
  auto fs = Mount(image);
  EXPECT_EQ(ReadAll(fs.get(), "dir/early"), "e");
  EXPECT_EQ(Names(fs.get(), "dir"), (std::vector<std::string>{"early", "late"}));
  EXPECT_EQ(ReadAll(fs.get(), "/music/a.mp3"), "abc");
  EXPECT_EQ(Names(fs.get(), "/"), (std::vector<std::string>{"dir", "music"}));
  std::unique_ptr<FsNodeHandle> root;
  ASSERT_EQ(fs->Open("/", &root), rc::kOk);
  FsStat stat;
  ASSERT_EQ(root->Stat(&stat), rc::kOk);
  EXPECT_EQ(stat.mtime, 1600000000u);
}

// Every folder and file below `path`, as (kind, path) rows, walked by listing each folder.
void Walk(FileSystem* fs, const std::string& path, std::vector<std::pair<char, std::string>>* out) {
  for (const std::string& name : Names(fs, path)) {
    const std::string child = path.empty() ? name : path + "/" + name;
    std::unique_ptr<FsNodeHandle> handle;
    ASSERT_EQ(fs->Open(child, &handle), rc::kOk) << child;
    FsStat stat;
    ASSERT_EQ(handle->Stat(&stat), rc::kOk);
    out->emplace_back(stat.kind == kFsDirectory ? 'd' : '-', child);
    if (stat.kind == kFsDirectory) Walk(fs, child, out);
  }
}

// Packages that GNU tar made from lists of files (folders without a member of their own, or
// with one after their files, GNU long names below them, a member appended twice): the tree
// listed and copied is the tree GNU tar extracts, each node once.
TEST(TarFileSystemTest, PackagesFromFileListsShowTheTreeGnuTarExtracts) {
  for (const FileListPackage& package : kFileListPackages) {
    SCOPED_TRACE(package.name);
    std::unique_ptr<FileSystem> fs;
    ASSERT_EQ(TarFileSystem::Create(package.image, package.size, &fs), rc::kOk);
    std::vector<std::pair<char, std::string>> expected, walked;
    MemoryFileSystem copy;
    ASSERT_EQ(TreeCopy::Copy(fs.get(), "/", &copy, "/", nullptr), rc::kOk);
    for (uint32_t i = 0; i < package.count; ++i) {
      const ExtractedNode& node = package.nodes[i];
      expected.emplace_back(node.kind, node.path);
      if (node.kind == 'd') {
        EXPECT_TRUE(copy.dirs.count(node.path)) << node.path;
        continue;
      }
      const std::string content(node.content, node.size);
      EXPECT_EQ(ReadAll(fs.get(), node.path), content) << node.path;
      EXPECT_EQ(copy.files[node.path], content) << node.path;
    }
    Walk(fs.get(), "", &walked);
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(copy.files.size() + copy.dirs.size(), package.count + 1);  // and the root
  }
}

TEST(TarFileSystemTest, FoldersAreMadeForMembersBelowThem) {
  // Doubled slashes and "." steps name the folders the system would make of them.
  const std::string image = Member("a//b/./c", "c") + Member("a/b/d", "d") + Member("./e/f/", "", '5');
  auto fs = Mount(image);
  EXPECT_EQ(Names(fs.get(), "/"), (std::vector<std::string>{"a", "e"}));
  EXPECT_EQ(Names(fs.get(), "a"), std::vector<std::string>{"b"});
  EXPECT_EQ(Names(fs.get(), "a/b"), (std::vector<std::string>{"c", "d"}));
  EXPECT_EQ(Names(fs.get(), "e"), std::vector<std::string>{"f"});
  EXPECT_EQ(ReadAll(fs.get(), "a/b/c"), "c");
  // A made folder takes the owner and time of the member that needed it.
  std::unique_ptr<FsNodeHandle> folder;
  ASSERT_EQ(fs->Open("a/b", &folder), rc::kOk);
  FsStat stat;
  ASSERT_EQ(folder->Stat(&stat), rc::kOk);
  EXPECT_EQ(stat.kind, kFsDirectory);
  EXPECT_EQ(stat.mtime, 1600000000u);
  TarIndex index;
  ASSERT_EQ(index.Parse(reinterpret_cast<const uint8_t*>(image.data()), image.size()), rc::kOk);
  EXPECT_EQ(index.Find("a/b")->mode, 0755u);
  EXPECT_EQ(index.Find("a/b")->parent, "a");
}

// Deep names with no folder entries would make folders whose paths add up to many times the
// archive: the image is refused instead of filling memory.
TEST(TarFileSystemTest, FoldersMadeForDeepNamesAreBoundedByTheImage) {
  std::string deep;
  for (int i = 0; i < 1500; ++i) deep += "d/";
  std::string image;
  for (int member = 0; member < 100; ++member) {
    const std::string name = std::to_string(member) + "/" + deep + "f";
    image += Member("././@LongLink", name, 'L') + Member(name.substr(0, 99), "x");
  }
  std::unique_ptr<FileSystem> fs;
  EXPECT_EQ(TarFileSystem::Create(reinterpret_cast<const uint8_t*>(image.data()), image.size(),
                                  &fs),
            rc::kBadData);
  EXPECT_EQ(TarFileSystem::CheckWhole(reinterpret_cast<const uint8_t*>(image.data()),
                                      image.size()),
            rc::kBadData);
  // The same depth once is an ordinary archive.
  const std::string once = image.substr(0, image.size() / 100);
  auto one = Mount(once);
  ASSERT_TRUE(one);
  EXPECT_EQ(ReadAll(one.get(), "0/" + deep + "f"), "x");
}

TEST(TarFileSystemTest, DamagedImagesEndTheWalkSafely) {
  struct Case {
    const char* name;
    std::string image;
    const char* present;
    const char* absent;
  } cases[] = {
      // A header cut short at the end is not read.
      {"partial header", Member("a", "1") + Header("b", 1).substr(0, 300), "a", "b"},
      // A size whose block count overflows 32 (or 64) bits does not move the walk back.
      {"huge size", Header("big", 077777777777ull) + Member("after", "x"), "big", "after"},
      // A size past the end: the entry is kept, its reads stop at the image's end.
      {"size past end", Header("long", 5000) + std::string(512, 'q'), "long", "other"},
  };
  for (const Case& c : cases) {
    auto fs = Mount(c.image);
    ASSERT_TRUE(fs) << c.name;
    std::unique_ptr<FsNodeHandle> handle;
    EXPECT_EQ(fs->Open(c.present, &handle), rc::kOk) << c.name;
    EXPECT_EQ(fs->Open(c.absent, &handle), rc::kNotFound) << c.name;
  }
  auto fs = Mount(Header("long", 5000) + std::string(512, 'q'));
  Result last = rc::kOk;
  EXPECT_EQ(ReadAll(fs.get(), "long", &last), std::string(512, 'q'));
  EXPECT_TRUE(rc::Failed(last));
}

// Members whose paths pass 100 bytes, written by GNU tar and by Python's tarfile (GNU long
// name and long link records, the ustar prefix), are found under the paths both tools list.
TEST(TarFileSystemTest, LongPathsAreJoinedAsGnuTarJoinsThem) {
  for (const LongNameArchive& archive : kLongNameArchives) {
    SCOPED_TRACE(archive.name);
    std::unique_ptr<FileSystem> fs;
    ASSERT_EQ(TarFileSystem::Create(archive.image, archive.size, &fs), rc::kOk);
    TarIndex index;
    ASSERT_EQ(index.Parse(archive.image, archive.size), rc::kOk);
    std::vector<std::string> top;
    for (uint32_t i = 0; i < archive.count; ++i) {
      const LongNameMember& member = archive.members[i];
      std::string windows = member.path;
      std::replace(windows.begin(), windows.end(), '/', '\\');
      for (const std::string& path : {std::string(member.path), "/" + std::string(member.path),
                                      windows}) {
        std::unique_ptr<FsNodeHandle> handle;
        ASSERT_EQ(fs->Open(path, &handle), rc::kOk) << path;
        FsStat stat;
        ASSERT_EQ(handle->Stat(&stat), rc::kOk);
        EXPECT_EQ(stat.kind, member.kind == 'd'   ? kFsDirectory
                             : member.kind == 'l' ? kFsSymbolicLink
                                                  : kFsFile)
            << path;
        EXPECT_EQ(stat.size, member.size) << path;
      }
      if (member.kind == '-') {
        EXPECT_EQ(ReadAll(fs.get(), member.path), member.content);
      }
      const TarEntry* entry = index.Find(member.path);
      ASSERT_NE(entry, nullptr) << member.path;
      EXPECT_EQ(entry->link_name, member.link);
      if (!entry->path.empty() && entry->parent.empty()) top.push_back(entry->leaf);
    }
    // The long name records are no members of their own.
    EXPECT_EQ(Names(fs.get(), "/"), top);
  }
}

TEST(TarFileSystemTest, ArchiveNamesAndAskedPathsAreNormalisedAlike) {
  const std::string image = Member("/abs/", "", '5') + Member("/abs/file", "a") +
                            Member("./dot//", "", '5') + Member("./dot/x", "b");
  auto fs = Mount(image);
  for (const char* path : {"abs/file", "/abs/file", "\\abs\\file", "./abs/file"})
    EXPECT_EQ(ReadAll(fs.get(), path), "a") << path;
  for (const char* path : {"dot/x", "/dot/x", "./dot/x"}) EXPECT_EQ(ReadAll(fs.get(), path), "b");
  EXPECT_EQ(Names(fs.get(), "/"), (std::vector<std::string>{"abs", "dot"}));
  EXPECT_EQ(Names(fs.get(), "abs/"), std::vector<std::string>{"file"});
}

TEST(TarFileSystemTest, LongNameRecordsCutOrAloneAddNoMember) {
  const std::string long_name(150, 'n');
  struct Case {
    const char* what;
    std::string image;
    std::vector<std::string> names;
  } cases[] = {
      {"a record at the end", Member("a", "1") + Member("././@LongLink", long_name, 'L'), {"a"}},
      {"a record cut short", Member("a", "1") + Header("././@LongLink", 5000, 'L') + long_name,
       {"a"}},
      {"a record without NUL names the next member",
       Member("././@LongLink", long_name, 'L') + Member("short", "x"), {long_name}},
      {"a link record leaves the name alone",
       Member("././@LongLink", long_name, 'K') + Member("link", "", '2'), {"link"}},
  };
  for (const Case& c : cases) {
    auto fs = Mount(c.image);
    EXPECT_EQ(Names(fs.get(), "/"), c.names) << c.what;
  }
}

// A package must be whole before anything of it is installed: GNU tar fails on each of these
// cuts ("Unexpected EOF in archive").
TEST(TarFileSystemTest, CheckWholeRefusesACutInAMemberARecordOrAHeader) {
  const std::string long_name(150, 'n');
  const std::string whole =
      Member("a", "1") + Member("././@LongLink", long_name, 'L') + Member("b", std::string(700, 'b'));
  const size_t record = Member("a", "1").size();
  const size_t last_header = record + Member("././@LongLink", long_name, 'L').size();
  const struct {
    const char* what;
    size_t length;
    Result result;
  } cases[] = {
      {"the whole archive", whole.size(), rc::kOk},
      {"a cut inside the last member", last_header + 512 + 600, rc::kShortTransfer},
      {"a cut inside the long-name record", record + 512 + 50, rc::kShortTransfer},
      {"a cut inside a header", last_header + 100, rc::kShortTransfer},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TarFileSystem::CheckWhole(reinterpret_cast<const uint8_t*>(whole.data()), c.length),
              c.result)
        << c.what;
  }
}

class StepSink : public ProgressSink {
 public:
  Result Report(uint32_t done, uint32_t) override {
    reports.push_back(done);
    return rc::kOk;
  }
  std::vector<uint32_t> reports;
};

TEST(TreeCopyTest, CopiesTheGnuTarTreeWithOneStepPerEntry) {
  auto tar = Mount(kGnuImage);
  MemoryFileSystem destination;
  StepSink sink;
  ASSERT_EQ(TreeCopy::Copy(tar.get(), "/", &destination, "/system", &sink), rc::kOk);
  EXPECT_EQ(destination.files.size(), 4u);
  EXPECT_EQ(destination.files["system/readme.txt"], "firmware\n");
  EXPECT_EQ(destination.files["system/music/a.mp3"], ReadAll(tar.get(), "music/a.mp3"));
  EXPECT_EQ(destination.files["system/zero"], "");
  EXPECT_TRUE(destination.dirs.count("system/empty"));
  EXPECT_TRUE(destination.dirs.count("system/music/deep"));
  ASSERT_EQ(sink.reports.size(), 7u);  // every listed entry but the root
  EXPECT_EQ(sink.reports[0], 500000u);
}

TEST(TreeCopyTest, StopsAtLinksAndAtNamesLeavingTheTree) {
  struct Case {
    const char* name;
    std::string image;
    Result expected;
  } cases[] = {
      {"symbolic link", Member("a", "1") + Member("link", "", '2') + Member("z", "2"),
       rc::kNotImplemented},
      {"dot dot", Member("a", "1") + Member("..", "", '5') + Member("../evil", "x"),
       rc::kUnsafeName},
      {"backslash", Member("..\\evil", "x"), rc::kUnsafeName},
  };
  for (const Case& c : cases) {
    auto tar = Mount(c.image);
    MemoryFileSystem destination;
    EXPECT_EQ(TreeCopy::Copy(tar.get(), "/", &destination, "/system", nullptr), c.expected)
        << c.name;
    for (const auto& file : destination.files)
      EXPECT_EQ(file.first.compare(0, 7, "system/"), 0) << c.name << " " << file.first;
  }
}

TEST(TreeCopyTest, JoinsPaths) {
  EXPECT_EQ(TreeCopy::Join("/system", "/"), "/system");
  EXPECT_EQ(TreeCopy::Join("/system/", "/a/b"), "/system/a/b");
  EXPECT_EQ(TreeCopy::Join("/", "a/"), "/a");
}

}  // namespace
