#include "media/xml_mini_parser.h"

#include <cstring>

#include "support/collation.h"
#include "support/stream.h"

namespace {

constexpr uint32_t kReadPiece = 2048;

bool IsNameChar(char c) {
  return c != '\0' &&
         std::strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz.-_:", c) != nullptr;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A cursor over the text; every step checks the end, so no input can run it past the buffer.
class Cursor {
 public:
  explicit Cursor(const std::string& text) : text_(text) {}
  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
  void Next() { ++at_; }
  std::string TakeWhile(bool (*accept)(char)) {
    const size_t from = at_;
    while (!AtEnd() && accept(text_[at_])) ++at_;
    return text_.substr(from, at_ - from);
  }
  std::string TakeUntil(char stop) {
    const size_t from = at_;
    while (!AtEnd() && text_[at_] != stop) ++at_;
    return text_.substr(from, at_ - from);
  }
  void SkipBlanks() { TakeWhile(IsBlank); }

 private:
  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace

Result XmlMiniParser::Parse(Stream* stream) {
  std::string text;
  char piece[kReadPiece];
  while (true) {
    uint32_t count = 0;
    const Result read = stream->Read(piece, kReadPiece, &count);
    if (rc::Failed(read)) return read;
    if (count > kReadPiece) return rc::kBadData;
    text.append(piece, count);
    if (read == rc::kEndOfData || count == 0) break;
  }
  return ParseText(text);
}

Result XmlMiniParser::ParseText(const std::string& input) {
  Cursor cursor(input);
  while (!cursor.AtEnd()) {
    const std::string text = cursor.TakeUntil('<');
    if (!text.empty()) {
      const Result r = handler_->OnText(text);
      if (rc::Failed(r)) return r;
    }
    if (cursor.AtEnd()) break;
    cursor.Next();  // '<'
    XmlAttributes attributes;
    bool closing = false;
    if (cursor.Peek() == '/') {
      closing = true;
      cursor.Next();
    }
    const std::string name = ToLowerCopy(cursor.TakeWhile(IsNameChar).c_str());
    while (!cursor.AtEnd()) {
      const char c = cursor.Peek();
      if (c == '>') {
        cursor.Next();
        const Result r = Dispatch(name, closing, attributes);
        if (rc::Failed(r)) return r;
        break;
      }
      if (c == '/') {
        cursor.Next();
        if (!closing) {
          const Result r = Dispatch(name, false, attributes);
          if (rc::Failed(r)) return r;
          closing = true;
        }
        continue;
      }
      if (!IsNameChar(c)) {
        cursor.Next();
        continue;
      }
      const std::string attribute = ToLowerCopy(cursor.TakeWhile(IsNameChar).c_str());
      cursor.SkipBlanks();
      if (cursor.Peek() != '=') continue;
      cursor.Next();
      cursor.SkipBlanks();
      if (cursor.Peek() != '"') continue;
      cursor.Next();
      attributes[attribute] = cursor.TakeUntil('"');
      if (!cursor.AtEnd()) cursor.Next();
    }
  }
  return rc::kOk;
}

Result XmlMiniParser::Dispatch(const std::string& name, bool closing,
                               const XmlAttributes& attributes) {
  for (const XmlElementRow* row = table_; row != nullptr && row->name != nullptr; ++row) {
    if (_stricmp(row->name, name.c_str()) != 0) continue;
    if (closing) return row->end != nullptr ? row->end(handler_, name) : rc::kOk;
    return row->start != nullptr ? row->start(handler_, name, attributes) : rc::kOk;
  }
  return closing ? handler_->OnEnd(name) : handler_->OnStart(name, attributes);
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}
