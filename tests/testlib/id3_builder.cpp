#include "testlib/id3_builder.h"

namespace id3test {

std::string SyncSafe(uint32_t value) {
  std::string out;
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>(value >> (7 * i) & 0x7F));
  return out;
}

std::string Frame22(const std::string& id, const std::string& body) {
  return id + BigEndian(static_cast<uint32_t>(body.size()), 3) + body;
}

std::string Frame23(const std::string& id, const std::string& body, uint16_t flags) {
  return id + BigEndian(static_cast<uint32_t>(body.size()), 4) + BigEndian(flags, 2) + body;
}

std::string Frame24(const std::string& id, const std::string& body, uint16_t flags) {
  return id + SyncSafe(static_cast<uint32_t>(body.size())) + BigEndian(flags, 2) + body;
}

std::string Text(uint8_t encoding, const std::string& bytes) {
  return std::string(1, static_cast<char>(encoding)) + bytes;
}

std::string Tag(uint8_t major, const std::string& frames, uint8_t flags, uint32_t padding) {
  std::string header = "ID3";
  header.push_back(static_cast<char>(major));
  header.push_back('\0');
  header.push_back(static_cast<char>(flags));
  return header + SyncSafe(static_cast<uint32_t>(frames.size()) + padding) + frames +
         std::string(padding, '\0');
}

namespace {

std::string Field(const std::string& text, size_t length) {
  std::string out = text.substr(0, length);
  out.resize(length, '\0');
  return out;
}

}  // namespace

std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album,
                  const std::string& year, const std::string& comment, int track, uint8_t genre) {
  std::string block = "TAG" + Field(title, 30) + Field(artist, 30) + Field(album, 30) +
                      Field(year, 4) + Field(comment, 30);
  if (track >= 0) {
    block[125] = '\0';
    block[126] = static_cast<char>(track);
  }
  block.push_back(static_cast<char>(genre));
  return block;
}

std::string Lyrics3(const std::string& fields) {
  const std::string body = "LYRICSBEGIN" + fields;
  char size[8];
  snprintf(size, sizeof(size), "%06u", static_cast<unsigned>(body.size()));
  return body + size + "LYRICS200";
}

void RecordingSink::SetInt(const char* key, uint32_t value) {
  values[key] = std::to_string(value);
  order.push_back(key);
}

void RecordingSink::SetString(const char* key, const char* value) {
  values[key] = value;
  order.push_back(key);
}

std::string RecordingSink::Get(const std::string& key) const {
  const auto found = values.find(key);
  return found == values.end() ? "<none>" : found->second;
}

}  // namespace id3test
