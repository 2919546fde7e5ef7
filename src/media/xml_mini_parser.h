// A small XML tokenizer for playlists: elements, double-quoted attributes and text, handed to
// handlers found by element name in a table. Entities, comments and processing instructions get
// no special treatment; malformed markup is skipped, never reported.
#pragma once

#include <map>
#include <string>

#include "support/result_codes.h"

class Stream;

// Attribute names in lower case; values as written (entities not decoded).
typedef std::map<std::string, std::string> XmlAttributes;

// Receives what the tokenizer finds; elements without a table row go to OnStart and OnEnd.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual Result OnText(const std::string& text) = 0;
  virtual Result OnStart(const std::string& name, const XmlAttributes& attributes) = 0;
  virtual Result OnEnd(const std::string& name) = 0;
};

// A row of the element table; a missing handler means the element is ignored.
struct XmlElementRow {
  const char* name;  // nullptr ends the table
  Result (*start)(XmlHandler* handler, const std::string& name, const XmlAttributes& attributes);
  Result (*end)(XmlHandler* handler, const std::string& name);
};

class XmlMiniParser {
 public:
  XmlMiniParser(const XmlElementRow* table, XmlHandler* handler)
      : table_(table), handler_(handler) {}
  // Reads the stream to its end and tokenizes it; a negative handler result ends parsing
  // with that result, as does a failed read.
  Result Parse(Stream* stream);
  // The same over text already in memory.
  Result ParseText(const std::string& text);

 private:
  Result Dispatch(const std::string& name, bool closing, const XmlAttributes& attributes);

  const XmlElementRow* table_;
  XmlHandler* handler_;
};

// '"', '&', '<' and '>' as entities; every other byte as it is.
std::string XmlEscape(const std::string& text);
