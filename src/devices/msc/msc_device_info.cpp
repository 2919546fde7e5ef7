// The device and storage properties of a mass-storage player, from its record and its drives.
#include "devices/msc/msc_channel.h"

#include "media/property_holder.h"
#include "support/debug_trace.h"
#include "support/file_helpers.h"
#include "support/format_string.h"
#include "support/text_convert.h"
#include "support/token_set.h"

namespace {

struct NamedBit {
  uint32_t bit;
  const char* name;
};

constexpr NamedBit kImageFormats[] = {{0, "jpg"}, {1, "png"}, {2, "bmp"}, {3, "gif"}, {4, "tiff"}};
constexpr NamedBit kCodecs[] = {{0, "mp3"}, {7, "mp2"},  {8, "mp1"},    {1, "wma"},  {2, "acelp"},
                                {3, "wave-ima-adpcm"},   {4, "wave"},   {5, "vorbis"}, {6, "flac"}};
constexpr NamedBit kCapabilities[] = {{11, "read_content"}, {13, "audible"},      {14, "utf8"},
                                      {15, "rewrite_metadata"}, {16, "file_replace"},
                                      {17, "playlists"},    {19, "tuner_record"},
                                      {18, "voice_record"}, {20, "album_art"}};

// ";a;b;" of the names whose bits are set, in table order.
template <size_t N>
std::string ListOf(uint32_t flags, const NamedBit (&table)[N], std::string list = ";") {
  for (const NamedBit& entry : table) {
    if (flags & (1u << entry.bit)) TokenSetAdd(&list, entry.name);
  }
  return list;
}

// Model codes of the players that do not report their own.
struct PavoRow {
  uint32_t product_id;
  const char* prefix;
  uint32_t number;
};
constexpr PavoRow kPavoTable[] = {{0x503D, "QMA", 7},  {0x503E, "QMB", 8},  {0x503F, "QMB", 8},
                                  {0x5041, "QMC", 14}, {0x5042, "QMD", 13}, {0x5224, "QME", 10}};

std::string BcdVersionText(uint32_t version) {
  return FormatString("%x.%02x", (version >> 8) & 0xFF, version & 0xFF);
}

uint32_t BcdByte(uint32_t byte) { return (byte >> 4 & 0x0F) * 10 + (byte & 0x0F); }

void SetPavo(const MscDriveRecord& record, PropertyHolder& info) {
  std::string prefix = record.pavo_prefix;
  uint32_t number = record.pavo_number;
  if (prefix.empty() || number == 0) {
    for (const PavoRow& row : kPavoTable) {
      if (row.product_id != record.product_id) continue;
      prefix = row.prefix;
      number = row.number;
    }
  }
  if (prefix.empty() || number == 0) {
    TracePrintf({"qel_channel_msc", __LINE__},
                "NO PAVO INFORMATION FOR PLAYER ID %x. THIS IS VERY VERY BAD.\n",
                record.product_id);
    return;
  }
  info.SetString("pavo_prefix", prefix);
  info.SetString("pavo_version",
                 FormatString("8%02u%02u%02u%02u", number,
                              BcdByte(record.firmware_version >> 8 & 0xFF),
                              BcdByte(record.firmware_version & 0xFF), 0u));
}

void SetBlob(PropertyHolder& holder, const char* name, const std::string& bytes) {
  RefPtr<PropertySet> set = holder.GetSet();
  if (set) set->SetBlob(name, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace

Result MscChannel::GetDeviceInfo(PropertyHolder& info) {
  const MscDriveRecord& r = record_;
  if (r.image_format_flags != 0) {
    info.SetString("image_formats", ListOf(r.image_format_flags, kImageFormats));
  }
  const std::string codecs = ListOf(r.codec_flags, kCodecs);
  info.SetString("codecs", codecs == ";" ? std::string() : codecs);
  info.SetInt("device_id", static_cast<int32_t>(r.product_id));
  info.SetString("name", AnsiToUtf8String(r.product));
  info.SetString("manufacturer", AnsiToUtf8String(r.vendor));
  const std::string serial = SerialText(r);
  info.SetString("serial", serial);
  SetBlob(info, "serial_raw", serial);
  info.SetInt("device_generation", 1);
  if (r.recovery_mode()) info.SetInt("recovery", 1);
  info.SetString("capabilities",
                 ListOf(r.capability_flags, kCapabilities, ";firmware;rewrite_metadata;"));
  info.SetInt("max_playlist_name", 260);
  info.SetString("connection_type", "msc");
  info.SetString("boot_version", BcdVersionText(r.boot_version));
  info.SetInt("boot_version_bcd", static_cast<int32_t>(r.boot_version));
  info.SetString("firmware_version", BcdVersionText(r.firmware_version));
  if (r.preferred_image_width != 0 && r.preferred_image_height != 0) {
    info.SetInt("preferred_image_width", static_cast<int32_t>(r.preferred_image_width));
    info.SetInt("preferred_image_height", static_cast<int32_t>(r.preferred_image_height));
  }
  info.SetInt("hwrev", static_cast<int32_t>(r.hardware_revision));
  if (r.vendor_id == kHomeVendorId) SetPavo(r, info);
  return rc::kOk;
}

Result MscChannel::GetStorageInfo(uint32_t storage, PropertyHolder& info) {
  const MscDriveEntry* entry = Entry(storage);
  if (entry == nullptr) return rc::kBadIndex;
  info.SetInt("storage_type", static_cast<int32_t>(entry->drive_id));
  info.SetInt("storage_index", static_cast<int32_t>(static_cast<uint16_t>(storage)));
  info.SetString("serial", AnsiToUtf8String(PrintableUnitSerial(entry->unit_serial)));
  SetBlob(info, "serial_raw", entry->unit_serial);
  info.SetString("name", AnsiToUtf8String(entry->drive_name));
  info.SetInt("drive_letter", static_cast<unsigned char>(entry->drive_letter));

  const std::string root = DriveRoot(entry->drive_letter);
  uint64_t total = 0, free = 0, used = 0;
  uint32_t cluster = 0;
  const bool sized = rc::Succeeded(DiskSpace(root, &total, &free, &used)) &&
                     rc::Succeeded(ClusterSize(root, &cluster)) && cluster != 0;
  if (!sized) {
    total = free = used = 0;
    cluster = 512;
  }
  info.SetInt64("size_in_bytes", static_cast<int64_t>(total));
  info.SetInt64("free_in_bytes", static_cast<int64_t>(free));
  info.SetInt64("used_in_bytes", static_cast<int64_t>(used));
  info.SetInt64("bad_in_bytes", 0);
  info.SetInt("block_size", static_cast<int32_t>(cluster));
  info.SetInt("size_in_blocks", static_cast<int32_t>(total / cluster));
  info.SetInt("free_in_blocks", static_cast<int32_t>(free / cluster));
  info.SetInt("used_in_blocks", static_cast<int32_t>(used / cluster));
  info.SetInt("bad_in_blocks", 0);
  return rc::kOk;
}
