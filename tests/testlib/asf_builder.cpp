#include "testlib/asf_builder.h"

#include "support/text_convert.h"

namespace asftest {

namespace {

std::string LittleEndian(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

}  // namespace

std::string Le16(uint16_t value) { return LittleEndian(value, 2); }
std::string Le32(uint32_t value) { return LittleEndian(value, 4); }
std::string Le64(uint64_t value) { return LittleEndian(value, 8); }

std::string GuidBytes(const AsfGuid& guid) {
  return std::string(reinterpret_cast<const char*>(guid.bytes), sizeof(guid.bytes));
}

std::string Utf16(const std::string& text, bool terminate) {
  std::string out;
  for (const wchar_t unit : Utf8ToWideString(text)) out += Le16(static_cast<uint16_t>(unit));
  if (terminate) out += Le16(0);
  return out;
}

std::string Object(const AsfGuid& guid, const std::string& body, uint64_t size) {
  return GuidBytes(guid) + Le64(size != 0 ? size : 24 + body.size()) + body;
}

std::string Header(const std::vector<std::string>& objects, int32_t count) {
  std::string body;
  for (const std::string& object : objects) body += object;
  return GuidBytes(asf::kHeaderObject) + Le64(30 + body.size()) +
         Le32(count >= 0 ? static_cast<uint32_t>(count) : static_cast<uint32_t>(objects.size())) +
         "\x01\x02" + body;
}

std::string Data(const std::string& payload) {
  const std::string file_id(16, '\x5A');
  return Object(asf::kDataObject, file_id + Le64(1) + std::string("\x01\x01", 2) + payload);
}

std::string ContentDescription(const std::string& title, const std::string& author,
                               const std::string& copyright, const std::string& description,
                               const std::string& rating) {
  std::string lengths;
  std::string texts;
  for (const std::string* text : {&title, &author, &copyright, &description, &rating}) {
    const std::string bytes = text->empty() ? "" : Utf16(*text);
    lengths += Le16(static_cast<uint16_t>(bytes.size()));
    texts += bytes;
  }
  return Object(asf::kContentDescription, lengths + texts);
}

std::string FileProperties(uint64_t file_size, uint64_t duration_100ns, uint64_t preroll_ms,
                           uint32_t max_bitrate) {
  const std::string file_id(16, '\x11');
  return Object(asf::kFileProperties,
                file_id + Le64(file_size) + Le64(0) /* creation */ + Le64(10) /* packets */ +
                    Le64(duration_100ns) + Le64(duration_100ns) /* send */ + Le64(preroll_ms) +
                    Le32(2) /* seekable */ + Le32(3200) + Le32(3200) + Le32(max_bitrate));
}

std::string AudioStreamProperties(uint16_t channels, uint32_t sample_rate,
                                  uint32_t bytes_per_second) {
  const std::string wave = Le16(0x161) + Le16(channels) + Le32(sample_rate) +
                           Le32(bytes_per_second) + Le16(743) + Le16(16) + Le16(0);
  const AsfGuid no_error_correction =
      MakeAsfGuid(0x20FB5700, 0x5B55, 0x11CF, 0xA8FD, 0x00805F5C442B);
  return Object(asf::kStreamProperties,
                GuidBytes(asf::kAudioMedia) + GuidBytes(no_error_correction) + Le64(0) +
                    Le32(static_cast<uint32_t>(wave.size())) + Le32(0) + Le16(1) + Le32(0) + wave);
}

std::string ContentEncryption() {
  // Secret data, protection type, key id and license URL, each with a 32-bit length.
  std::string body;
  for (const std::string& field : {std::string("12345"), std::string("DRM\0", 4),
                                   std::string("KID\0", 4), std::string("license\0", 8)}) {
    body += Le32(static_cast<uint32_t>(field.size())) + field;
  }
  return Object(asf::kContentEncryption, body);
}

std::string Descriptor(const std::string& name, uint16_t type, const std::string& value) {
  const std::string name_bytes = Utf16(name);
  return Le16(static_cast<uint16_t>(name_bytes.size())) + name_bytes + Le16(type) +
         Le16(static_cast<uint16_t>(value.size())) + value;
}

std::string StringAttribute(const std::string& name, const std::string& value) {
  return Descriptor(name, asf::kString, Utf16(value));
}
std::string BoolAttribute(const std::string& name, bool value) {
  return Descriptor(name, asf::kBool, Le32(value ? 1 : 0));
}
std::string DwordAttribute(const std::string& name, uint32_t value) {
  return Descriptor(name, asf::kDword, Le32(value));
}
std::string QwordAttribute(const std::string& name, uint64_t value) {
  return Descriptor(name, asf::kQword, Le64(value));
}
std::string WordAttribute(const std::string& name, uint16_t value) {
  return Descriptor(name, asf::kWord, Le16(value));
}
std::string BinaryAttribute(const std::string& name, const std::string& value) {
  return Descriptor(name, asf::kBytes, value);
}

std::string ExtendedContentDescription(const std::vector<std::string>& descriptors, int32_t count) {
  std::string body =
      Le16(count >= 0 ? static_cast<uint16_t>(count) : static_cast<uint16_t>(descriptors.size()));
  for (const std::string& descriptor : descriptors) body += descriptor;
  return Object(asf::kExtendedContentDescription, body);
}

std::string File(const std::vector<std::string>& objects, const std::string& payload) {
  return Header(objects) + Data(payload);
}

}  // namespace asftest
