#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/asx_playlist.h"
#include "media/m3u_playlist.h"
#include "media/playlist_factory.h"
#include "media/pls_playlist.h"
#include "media/xml_mini_parser.h"
#include "testlib/temp_dir.h"

namespace {

class RecordingSink : public PlaylistEntrySink {
 public:
  Result SetTitle(const std::string& title) override {
    titles.push_back(title);
    return rc::kOk;
  }
  Result AddEntry(const std::string& path) override {
    entries.push_back(path);
    return entries.size() >= stop_after ? rc::kFail : rc::kOk;
  }
  std::vector<std::string> titles;
  std::vector<std::string> entries;
  size_t stop_after = 1000;
};

std::vector<std::string> ReadAll(const std::string& path, RecordingSink* sink = nullptr,
                                 Result* result = nullptr) {
  RecordingSink own;
  if (sink == nullptr) sink = &own;
  std::unique_ptr<PlaylistReader> reader;
  EXPECT_EQ(PlaylistReaderFactory(path, &reader), 0);
  const Result r = reader->Read(sink);
  if (result != nullptr) *result = r;
  return sink->entries;
}

TEST(PlsPlaylist, ReadsTheFileKeysPresent) {
  TempDir dir;
  const std::string folder = dir.Path();
  struct Case {
    const char* text;
    std::vector<std::string> entries;
  } cases[] = {
      {"[playlist]\r\nNumberOfEntries=2\r\nFile1=a.mp3\r\n", {folder + "\\a.mp3"}},
      {"[playlist]\nVersion=3\nFile1=a.mp3\n", {}},
      {"\xEF\xBB\xBF[Playlist]\nnumberofentries=1\nfile2=sub\\b.mp3\nFILE1=C:\\x.mp3\n",
       {"C:\\x.mp3", folder + "\\sub\\b.mp3"}},
      {"[playlist]\nNumberOfEntries=99999999\nFile1=http://host/s.mp3\nFileX=y\n",
       {"http://host/s.mp3"}},
      {"[other]\nFile1=a.mp3\n", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.WriteFile("p.pls", c.text);
    EXPECT_EQ(ReadAll(path), c.entries) << c.text;
  }
  Result result = 0;
  ReadAll(dir.File("missing.pls"), nullptr, &result);
  EXPECT_EQ(result, rc::FromErrno(ENOENT));
}

TEST(PlsPlaylist, WritesEntriesRelativeToThePlaylist) {
  TempDir dir;
  PlsPlaylistWriter writer(dir.File("pl.pls"));
  writer.AddEntry(dir.Path() + "\\Music\\a.mp3", "Song", "Band", 185500);
  writer.AddEntry(dir.Path() + "\\Music\\..\\b.mp3", "", "Band", 999);
  writer.AddEntry("C:\\" + std::string(300, 'x'), "t", "a", 1);
  ASSERT_EQ(writer.Finish(), 0);
  EXPECT_EQ(TempDir::ReadFile(dir.File("pl.pls")),
            "[playlist]\nVersion=2\nNumberOfEntries=2\n"
            "File1=Music/a.mp3\nTitle1=Band - Song\nLength1=185\n"
            "File2=b.mp3\nTitle2=b\nLength2=0\n");
  EXPECT_EQ(ReadAll(dir.File("pl.pls")),
            (std::vector<std::string>{dir.Path() + "\\Music\\a.mp3", dir.Path() + "\\b.mp3"}));
}

TEST(M3uPlaylist, ReadsLinesAndStopsOnSinkFailure) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("l.m3u",
                    "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:10,A - B\r\na.mp3\r\n\r\n/top.mp3\r\n" +
                        std::string(5000, 'x') + "\nhttp://h/x\nlast");
  EXPECT_EQ(ReadAll(path), (std::vector<std::string>{dir.Path() + "\\a.mp3",
                                                      dir.Path().substr(0, 2) + "/top.mp3",
                                                      "http://h/x", dir.Path() + "\\last"}));
  RecordingSink sink;
  sink.stop_after = 2;
  Result result = 0;
  EXPECT_EQ(ReadAll(path, &sink, &result).size(), 2u);
  EXPECT_EQ(result, rc::kFail);
}

TEST(M3uPlaylist, FirstEntryDecidesTheMode) {
  TempDir dir;
  M3uPlaylistWriter plain(dir.File("p.m3u"));
  plain.AddEntry(dir.Path() + "\\#1.mp3", "", "", 0);
  plain.AddEntry(dir.Path() + "\\x\\b.mp3", "T", "A", 5000);
  ASSERT_EQ(plain.Finish(), 0);
  EXPECT_EQ(TempDir::ReadFile(dir.File("p.m3u")), "./#1.mp3\nx/b.mp3\n");
  EXPECT_EQ(plain.EstimatedSize(), 17u);
  M3uPlaylistWriter extended(dir.File("e.m3u"));
  extended.AddEntry(dir.Path() + "\\a.mp3", "T", "", 0);
  extended.AddEntry(dir.Path() + "\\b.mp3", "", "", 61999);
  ASSERT_EQ(extended.Finish(), 0);
  EXPECT_EQ(TempDir::ReadFile(dir.File("e.m3u")),
            "#EXTM3U\n#EXTINF:0,T - \na.mp3\n#EXTINF:61, - \nb.mp3\n");
  EXPECT_EQ(ReadAll(dir.File("e.m3u")),
            (std::vector<std::string>{dir.Path() + "\\a.mp3", dir.Path() + "\\b.mp3"}));
}

// The file names in a folder, in the order the listing gives them.
std::vector<std::string> FolderFiles(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

TEST(PlaylistFiles, AFailedWriteKeepsTheOldPlaylist) {
  TempDir dir;
  const std::string path = dir.WriteFile("keep.m3u", "old\n");
  M3uPlaylistWriter writer(path);
  writer.AddEntry(dir.Path() + "\\new.mp3", "", "", 0);
  // The old file cannot be replaced while another handle holds it without delete sharing.
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_LT(writer.Finish(), 0);
  CloseHandle(held);
  EXPECT_EQ(TempDir::ReadFile(path), "old\n");
  EXPECT_EQ(FolderFiles(dir.Path()), std::vector<std::string>{"keep.m3u"});  // no temporary left
  ASSERT_EQ(writer.Finish(), 0);
  EXPECT_EQ(TempDir::ReadFile(path), "new.mp3\n");
  EXPECT_EQ(FolderFiles(dir.Path()), std::vector<std::string>{"keep.m3u"});

  // A file that another writer left at the old temporary name is not this writer's to use.
  const std::string other = dir.WriteFile("keep.m3u.tmp", "someone else's\n");
  ASSERT_EQ(writer.Finish(), 0);
  EXPECT_EQ(TempDir::ReadFile(other), "someone else's\n");
  EXPECT_EQ(TempDir::ReadFile(path), "new.mp3\n");
}

TEST(AsxPlaylist, ReadsRootTitleAndEveryRef) {
  TempDir dir;
  const std::string path = dir.WriteFile(
      "x.asx",
      "<ASX version=\"3.0\"><Title>Mix &amp; more</Title>\n"
      "<Entry><Title>Inner</Title><Ref HREF = \"a\\b.wma\"/></Entry>\n"
      "<entry><ref href=\"c.mp3\"></ref><title>Second</title></entry>\n"
      "<ref href='single.mp3'/><ref href=\"outside.mp3\"/><title>Late</title></asx>");
  RecordingSink sink;
  ReadAll(path, &sink);
  EXPECT_EQ(sink.titles, (std::vector<std::string>{"Mix &amp; more", "Late"}));
  EXPECT_EQ(sink.entries,
            (std::vector<std::string>{dir.Path() + "\\a\\b.wma", dir.Path() + "\\c.mp3",
                                      dir.Path() + "\\outside.mp3"}));
}

TEST(AsxPlaylist, WriterOutputReadsBack) {
  TempDir dir;
  const std::string path = dir.File("w.wax");
  AsxPlaylistWriter writer(path);
  writer.AddEntry(dir.Path() + "\\sub\\a.mp3", "Rock & Roll", "<Band>", 3723456);
  writer.AddEntry(dir.Path() + "\\b.mp3", "", "", 0);
  ASSERT_EQ(writer.Finish(), 0);
  EXPECT_EQ(TempDir::ReadFile(path),
            "<asx version=\"3.0\">\n<entry>\n <title>Rock &amp; Roll</title>\n"
            " <author>&lt;Band&gt;</author>\n <duration value=\"01:02:3.456\"/>\n"
            " <ref href=\"sub/a.mp3\"/>\n</entry>\n<entry>\n <ref href=\"b.mp3\"/>\n</entry>\n"
            "</asx>\n");
  RecordingSink sink;
  ReadAll(path, &sink);
  EXPECT_TRUE(sink.titles.empty());  // entry titles are not the playlist's
  EXPECT_EQ(sink.entries, (std::vector<std::string>{dir.Path() + "\\sub\\a.mp3",
                                                     dir.Path() + "\\b.mp3"}));
}

class CountingHandler : public XmlHandler {
 public:
  Result OnText(const std::string&) override { return ++events > 50 ? rc::kFail : rc::kOk; }
  Result OnStart(const std::string&, const XmlAttributes&) override { return OnText(""); }
  Result OnEnd(const std::string&) override { return OnText(""); }
  int events = 0;
};

TEST(XmlMiniParser, MalformedInputEndsCleanly) {
  const XmlElementRow none[] = {{nullptr, nullptr, nullptr}};
  const char* inputs[] = {"<", "</", "<a b", "<a b=", "<a b=\"", "<a b=\"x", "<<<>>>",
                          "<a/b/c/>", "text only", "<a b c=\"1\" d = \"2\" e='3'>"};
  for (const char* input : inputs) {
    CountingHandler handler;
    XmlMiniParser parser(none, &handler);
    EXPECT_EQ(parser.ParseText(input), 0) << input;
  }
  CountingHandler handler;
  XmlMiniParser parser(none, &handler);
  std::string many;
  for (int i = 0; i < 100; ++i) many += "<a>";
  EXPECT_EQ(parser.ParseText(many), rc::kFail);
  EXPECT_EQ(handler.events, 51);
}

TEST(PlaylistFactory, ByExtension) {
  std::unique_ptr<PlaylistReader> reader;
  std::unique_ptr<PlaylistWriter> writer;
  EXPECT_EQ(PlaylistReaderFactory("a.WMX", &reader), 0);
  EXPECT_NE(dynamic_cast<AsxPlaylistReader*>(reader.get()), nullptr);
  EXPECT_EQ(PlaylistWriterFactory("a.Pls", &writer), 0);
  EXPECT_NE(dynamic_cast<PlsPlaylistWriter*>(writer.get()), nullptr);
  EXPECT_EQ(PlaylistWriterFactory("a.m3u8", &writer), rc::kNoTagHandler);
  EXPECT_EQ(PlaylistReaderFactory("dir.pls\\a", &reader), rc::kNoTagHandler);
}

}  // namespace
