// The values an MP3 file's tags yield, gathered by source id ("TIT2", "1TIT", "0TIT" ...)
// and resolved into the system's keys through a fixed priority table.
#pragma once

#include <map>
#include <string>

class TagSink;

// Source ids of COMM frames: without a description, and with one.
constexpr const char* kCommentSource = "COMM";
constexpr const char* kDescribedCommentSource = "COMM+";

struct Mp3KeySource {
  const char* key;
  const char* sources[6];  // in priority order, ended by null
};

// 26 rows, then an end row with a null key.
extern const Mp3KeySource kMp3KeySourceTable[];

class Mp3TagValues {
 public:
  // The first value of an id stays. "TCON" values that begin with "(n)" become genre n's name
  // and are dropped when empty, and a doubled "((" in front stands for one; "TDRC" gives its year (leading four digits) or nothing;
  // "1YER" is dropped unless it reads as a number of at least 1.
  void Gather(const std::string& id, const std::string& value);
  // The value of an id, or null.
  const std::string* Find(const std::string& id) const;
  // Each key whose sources hold a value, in table order, up to the value's first NUL.
  void Deliver(TagSink* sink) const;

 private:
  std::map<std::string, std::string> values_;
};
