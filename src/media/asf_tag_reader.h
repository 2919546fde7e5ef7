// The tag reader of WMA and ASF files: the Content Description, File Properties, Stream
// Properties, Content Encryption and Extended Content Description objects of the header. For
// protected files, whose audio bytes do not identify the music, "rid" comes from attributes
// read through the platform's metadata editor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/asf_objects.h"
#include "media/tag_reader.h"

class MetadataEditor;

// The attribute names of the Extended Content Description that become keys (compared
// case-insensitively); null when the name has no key.
const char* AsfContentKey(const std::string& name);

class AsfTagReader : public TagReader, private AsfObjectVisitor {
 public:
  // Objects the handlers read whole; larger ones give rc::kOutOfMemory.
  static constexpr uint32_t kMaxObjectSize = 0x400000;

  explicit AsfTagReader(std::string path) : TagReader(std::move(path)) {}

  // Delivers "codec", the tag keys in file order, "title" from the file name when the file has
  // none, "offset" 0 and "rid". A failing stream or an object too large to read gives its
  // result; a file that is not ASF delivers no tags and answers 0.
  Result Read(SeekableStream* stream, TagSink* sink) override;
  // Over the bytes from the Data Object on (the whole file when the header says nothing).
  Result Fingerprint(SeekableStream* stream, std::string* fingerprint) override;

  // The editor for protected files (not owned; must outlive the reader's Read calls). Without
  // one, each Read that needs it creates the platform's.
  void UseMetadataEditor(MetadataEditor* editor) { editor_ = editor; }

 private:
  Result OnAsfObject(SeekableStream* stream, const AsfObjectHead& head) override;
  // Each gets the object's body (the bytes behind the 24-byte head).
  void OnContentDescription(const uint8_t* body, uint32_t size);
  void OnFileProperties(const uint8_t* body, uint32_t size);
  void OnStreamProperties(const uint8_t* body, uint32_t size);
  void OnContentEncryption(const uint8_t* body, uint32_t size);
  void OnExtendedContentDescription(const uint8_t* body, uint32_t size);
  void OnDescriptor(const std::string& name, uint16_t type, const uint8_t* value, uint16_t length);
  // "WM/TrackNumber" (`number`) or "WM/Track" as a double word or as text.
  void OnTrack(bool number, uint16_t type, const uint8_t* value, uint16_t length);
  void DeliverBitrate();
  // The "rid" of protected content from the editor's attributes; false when there is none.
  bool ProtectedFingerprint(std::string* fingerprint);

  MetadataEditor* editor_ = nullptr;

  // The context of one Read.
  TagSink* sink_ = nullptr;
  bool title_delivered_ = false;
  bool variable_bitrate_ = false;
  uint32_t bitrate_ = 0;
  uint32_t channels_ = 2;
  uint32_t track_precedence_ = 0;
  bool protected_ = false;
};

// The factory's creator for "asf" and "wma": rc::kOutOfMemory (and no reader) when the reader
// cannot be allocated.
Result CreateAsfTagReader(const std::string& path, std::unique_ptr<TagReader>* out);
