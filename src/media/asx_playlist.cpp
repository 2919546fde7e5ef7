#include "media/asx_playlist.h"

#include <algorithm>
#include <memory>

#include "media/xml_mini_parser.h"
#include "support/file_stream.h"
#include "support/format_string.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

namespace {

// Follows the nesting so that only the root's own title is the playlist's.
class AsxHandler : public XmlHandler {
 public:
  AsxHandler(PlaylistEntrySink* sink, std::string folder)
      : sink_(sink), folder_(std::move(folder)) {}

  Result OnText(const std::string& text) override {
    if (in_title_ && depth_ == 2) return sink_->SetTitle(text);
    return rc::kOk;
  }
  Result OnStart(const std::string&, const XmlAttributes&) override {
    ++depth_;
    return rc::kOk;
  }
  Result OnEnd(const std::string&) override {
    --depth_;
    return rc::kOk;
  }

  static AsxHandler* Of(XmlHandler* handler) { return static_cast<AsxHandler*>(handler); }

  static Result StartEntry(XmlHandler* h, const std::string& name, const XmlAttributes& a) {
    Of(h)->in_entry_ = true;
    return h->OnStart(name, a);
  }
  static Result EndEntry(XmlHandler* h, const std::string& name) {
    Of(h)->in_entry_ = false;
    return h->OnEnd(name);
  }
  static Result StartTitle(XmlHandler* h, const std::string& name, const XmlAttributes& a) {
    Of(h)->in_title_ = true;
    return h->OnStart(name, a);
  }
  static Result EndTitle(XmlHandler* h, const std::string& name) {
    Of(h)->in_title_ = false;
    return h->OnEnd(name);
  }
  static Result StartNested(XmlHandler* h, const std::string& name, const XmlAttributes& a) {
    return h->OnStart(name, a);
  }
  static Result EndNested(XmlHandler* h, const std::string& name) { return h->OnEnd(name); }
  // A ref counts in the nesting like every other element, so its end balances its start.
  static Result StartRef(XmlHandler* h, const std::string& name, const XmlAttributes& a) {
    Of(h)->DeliverReference(a);
    return h->OnStart(name, a);
  }

 private:
  void DeliverReference(const XmlAttributes& attributes) {
    const auto href = attributes.find("href");
    if (href != attributes.end()) DeliverPlaylistEntry(sink_, folder_, href->second, true);
  }

  PlaylistEntrySink* sink_;
  std::string folder_;
  bool in_entry_ = false;
  bool in_title_ = false;
  int depth_ = 0;
};

const XmlElementRow kAsxElements[] = {
    {"entry", AsxHandler::StartEntry, AsxHandler::EndEntry},
    {"param", AsxHandler::StartNested, AsxHandler::EndNested},
    {"ref", AsxHandler::StartRef, AsxHandler::EndNested},
    {"title", AsxHandler::StartTitle, AsxHandler::EndTitle},
    {nullptr, nullptr, nullptr},
};

}  // namespace

Result AsxPlaylistReader::Read(PlaylistEntrySink* sink) {
  std::unique_ptr<FileStream> file;
  const Result opened = OpenFileStream(Path().c_str(), OpenRead, &file);
  if (rc::Failed(opened)) return opened;
  AsxHandler handler(sink, DirectoryPart(Path()));
  XmlMiniParser parser(kAsxElements, &handler);
  const Result parsed = parser.Parse(file.get());
  file->Close();
  return parsed;
}

void AsxPlaylistWriter::AddEntry(const std::string& path, const std::string& title,
                                 const std::string& artist, uint32_t duration) {
  std::string canonical;
  if (!CanonicalTrackPath(path, &canonical)) return;
  std::string relative = AnsiToUtf8String(RelativePath(Folder(), canonical));
  std::replace(relative.begin(), relative.end(), '\\', '/');
  body_ += "<entry>\n";
  if (!title.empty()) body_ += " <title>" + XmlEscape(title) + "</title>\n";
  if (!artist.empty()) body_ += " <author>" + XmlEscape(artist) + "</author>\n";
  if (duration != 0) {
    body_ += FormatString(" <duration value=\"%02d:%02d:%d.%03d\"/>\n",
                          static_cast<int>(duration / 3600000),
                          static_cast<int>(duration / 60000 % 60),
                          static_cast<int>(duration / 1000 % 60),
                          static_cast<int>(duration % 1000));
  }
  // The href stays as written: our reader takes it back without decoding entities.
  body_ += " <ref href=\"" + relative + "\"/>\n</entry>\n";
}

Result AsxPlaylistWriter::Finish() {
  return WriteFileReplacing(Path(), "<asx version=\"3.0\">\n" + body_ + "</asx>\n");
}
