#include "devices/flash/sardane_records.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devices/flash/protocol_session.h"
#include "devices/flash/set_text_property.h"
#include "media/property_holder.h"
#include "media/property_set.h"

namespace sardane {

namespace {

constexpr uint32_t kTextWidth = 64;
constexpr uint32_t kSerialSize = 16;

struct TextField {
  const char* name;
  uint32_t offset;
  uint32_t width;
};

const TextField kOwnerFields[] = {
    {"hello", 64, 64},       {"name", 128, 64},  {"address1", 192, 64},
    {"address2", 256, 64},   {"city_state", 320, 64}, {"phone", 384, 32},
    {"password", 416, 32},   {"email", 448, 64},
};

struct FlagWord {
  uint32_t bit;
  const char* word;
};

const FlagWord kFlagWords[] = {
    {0x800, "read_content"},      {0x2000, "audible"},       {0x4000, "utf8"},
    {0x8000, "rewrite_metadata"}, {0x10000, "file_replace"}, {0x20000, "playlists"},
};

// Each group of products carries its own prefix in front of the firmware version.
const char* PavoPrefix(uint32_t product_id) {
  switch (product_id) {
    case 0x5005:
    case 0x5006:
    case 0x5007:
    case 0x5009:
      return "PVA";
    case 0x500D:
      return "PVB";
    case 0x500E:
    case 0x500F:
    case 0x5220:
    case 0x5221:
      return "PVC";
    default:
      return product_id > 0x500D ? "PVD" : nullptr;
  }
}

int32_t Saturated32(uint64_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX)));
}

Result PutSerial(PropertyHolder& props, const uint8_t* serial) {
  RefPtr<PropertySet> set = props.GetSet();
  if (!set) return rc::kOutOfMemory;
  Result result = set->SetBlob("serial_raw", serial, kSerialSize);
  if (rc::Succeeded(result)) result = props.SetString("serial", HexText(serial, kSerialSize));
  return result;
}

}  // namespace

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string HexText(const uint8_t* bytes, uint32_t count) {
  std::string text;
  char pair[3];
  for (uint32_t i = 0; i < count; ++i) {
    snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

void HexToBytes(const std::string& text, uint8_t* bytes, uint32_t count) {
  memset(bytes, 0, count);
  for (uint32_t i = 0; i < count && 2 * i + 1 < text.size(); ++i) {
    const char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
    bytes[i] = static_cast<uint8_t>(strtoul(pair, nullptr, 16));
  }
}

void AppendWord(std::string* list, const char* word) {
  if (list->empty()) *list = ";";
  *list += word;
  *list += ';';
}

bool ListHasWord(const std::string& list, const std::string& word) {
  return !word.empty() && list.find(";" + word + ";") != std::string::npos;
}

void AppendFlagCapabilities(uint32_t flags, std::string* list) {
  for (const FlagWord& flag : kFlagWords)
    if (flags & flag.bit) AppendWord(list, flag.word);
}

Result PutDeviceInfoKeys(PropertyHolder& info, const uint8_t* block, uint32_t product_id) {
  const uint32_t identity = GetLe32(block + 4);
  const uint32_t firmware = identity & 0xFFFF;
  const auto digit = [firmware](int n) { return static_cast<int>(firmware >> (4 * n) & 0xF); };
  char firmware_text[16];
  snprintf(firmware_text, sizeof firmware_text, "%d.%02d", digit(3) * 10 + digit(2),
           digit(1) * 10 + digit(0));
  const uint32_t boot = GetLe32(block + 16) & 0xFFFF;
  char boot_text[16];
  snprintf(boot_text, sizeof boot_text, "%x.%02x", boot >> 8, boot & 0xFF);

  Result result = info.SetInt("device_id", static_cast<int32_t>(identity >> 16));
  if (rc::Succeeded(result)) result = info.SetInt("firmware_version_bcd", firmware);
  if (rc::Succeeded(result)) result = info.SetString("firmware_version", firmware_text);
  if (rc::Succeeded(result))
    result = info.SetInt("device_generation", static_cast<int32_t>(GetLe32(block + 24) & 0xFFFF));
  if (rc::Succeeded(result)) result = PutSerial(info, block + 96);
  if (rc::Succeeded(result)) result = SetTextProperty(info, "name", block + 128, kTextWidth, true);
  if (rc::Succeeded(result))
    result = SetTextProperty(info, "manufacturer", block + 192, kTextWidth, true);
  const char* prefix = PavoPrefix(product_id);
  if (rc::Succeeded(result) && prefix != nullptr) {
    result = info.SetString("pavo_prefix", prefix);
    if (rc::Succeeded(result))
      result = info.SetString("pavo_version", std::string(prefix) + "-" + firmware_text);
  }
  if (rc::Succeeded(result)) result = info.SetInt("boot_version_bcd", static_cast<int32_t>(boot));
  if (rc::Succeeded(result)) result = info.SetString("boot_version", boot_text);
  if (rc::Succeeded(result))
    result = info.SetInt("build_date", static_cast<int32_t>(GetLe32(block + 12)));
  return result;
}

Result PutStorageKeys(PropertyHolder& props, const uint8_t* block, uint32_t device_unit,
                      uint32_t block_size) {
  if (device_unit == 0 || block_size == 0) return rc::kInvalidArg;
  const uint32_t kind = GetLe32(block + 4);
  // 64-bit sums: a player's counts must not wrap the correction below.
  uint64_t total = GetLe32(block + 16), used = GetLe32(block + 20),
           free = GetLe32(block + 24), bad = GetLe32(block + 28);
  if (used + free + bad > total) {
    if (total < used + bad) {
      free = 0;
      total = used + bad;
    } else {
      free = total - used - bad;
    }
  }
  uint64_t* counts[] = {&total, &used, &free, &bad};
  for (uint64_t* count : counts) {
    if (block_size < device_unit)
      *count *= device_unit / block_size;
    else
      *count /= block_size / device_unit;
  }

  Result result = props.SetInt("storage_type", kind >= 1 && kind <= 3 ? kind : 0);
  if (rc::Succeeded(result)) result = SetTextProperty(props, "name", block + 64, kTextWidth, true);
  if (rc::Succeeded(result)) result = PutSerial(props, block + 128);
  const struct {
    const char* blocks;
    const char* bytes;
    uint64_t count;
  } keys[] = {{"used_in_blocks", "used_in_bytes", used},
              {"free_in_blocks", "free_in_bytes", free},
              {"bad_in_blocks", "bad_in_bytes", bad},
              {"size_in_blocks", "size_in_bytes", total}};
  if (rc::Succeeded(result)) result = props.SetInt("block_size", static_cast<int32_t>(block_size));
  for (const auto& key : keys) {
    if (rc::Succeeded(result)) result = props.SetInt(key.blocks, Saturated32(key.count));
    if (rc::Succeeded(result))
      result = props.SetInt64(key.bytes, static_cast<int64_t>(key.count * block_size));
  }
  return result;
}

Result GetOwnerFields(PropertyHolder& owner, const uint8_t* record, bool utf8) {
  for (const TextField& field : kOwnerFields) {
    Result result = SetTextProperty(owner, field.name, record + field.offset, field.width, utf8);
    if (rc::Failed(result)) return result;
  }
  return rc::kOk;
}

void PutOwnerFields(uint8_t* record, PropertySet& owner, bool utf8) {
  for (const TextField& field : kOwnerFields)
    PutTextField(record + field.offset, field.width, owner.GetString(field.name), utf8);
}

}  // namespace sardane
