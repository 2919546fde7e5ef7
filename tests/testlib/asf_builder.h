// Byte builders for ASF (WMA) test files: the Header Object and the objects the tag reader
// handles, extended content descriptors of every value type, and a Data Object behind them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/asf_objects.h"

namespace asftest {

std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
std::string Le64(uint64_t value);
std::string GuidBytes(const AsfGuid& guid);
// UTF-8 text as UTF-16 little endian, with a terminating zero unit unless `terminate` is false.
std::string Utf16(const std::string& text, bool terminate = true);

// GUID, 64-bit size (24 + body, or `size` when given), body.
std::string Object(const AsfGuid& guid, const std::string& body, uint64_t size = 0);
// The 30-byte head (object count as given, or that of `objects`), then the objects.
std::string Header(const std::vector<std::string>& objects, int32_t count = -1);
// The Data Object with its 26-byte head and `payload` behind it.
std::string Data(const std::string& payload);

std::string ContentDescription(const std::string& title, const std::string& author,
                               const std::string& copyright = "",
                               const std::string& description = "", const std::string& rating = "");
std::string FileProperties(uint64_t file_size, uint64_t duration_100ns, uint64_t preroll_ms,
                           uint32_t max_bitrate);
std::string AudioStreamProperties(uint16_t channels, uint32_t sample_rate,
                                  uint32_t bytes_per_second);
std::string ContentEncryption();

// One extended content descriptor; Descriptor takes the value bytes as they stand.
std::string Descriptor(const std::string& name, uint16_t type, const std::string& value);
std::string StringAttribute(const std::string& name, const std::string& value);
std::string BoolAttribute(const std::string& name, bool value);
std::string DwordAttribute(const std::string& name, uint32_t value);
std::string QwordAttribute(const std::string& name, uint64_t value);
std::string WordAttribute(const std::string& name, uint16_t value);
std::string BinaryAttribute(const std::string& name, const std::string& value);
// The object, its count that of `descriptors` unless given.
std::string ExtendedContentDescription(const std::vector<std::string>& descriptors,
                                       int32_t count = -1);

// A header of these objects and a Data Object of `payload`.
std::string File(const std::vector<std::string>& objects, const std::string& payload);

}  // namespace asftest
