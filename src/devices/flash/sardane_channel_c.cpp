#include "devices/flash/sardane_channel_c.h"

#include <cstring>
#include <new>

#include "devices/contents_walk.h"
#include "devices/flash/directory_record.h"
#include "devices/fid_list.h"
#include "devices/flash_predictor.h"
#include "devices/flash/sardane_file_record.h"
#include "devices/flash/set_text_property.h"
#include "devices/flash/title_bitmap.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"
#include "support/text_convert.h"

namespace {

const char* ModelName(uint32_t device_id) {
  switch (device_id) {
    case 0x5001:
      return "Qel Sorn";
    case 0x5002:
      return "Qel Tull";
    case 0x5003:
      return "Tavik";
    case 0x5008:
      return "Qel Urva";
    default:
      return nullptr;
  }
}

bool PlainAscii(const std::string& text) { return ClassifyUtf8Text(text) == kTextAscii; }

}  // namespace

Result SardaneChannelC::EnumContents(ContentsVisitor* visitor) {
  return WalkStoragesThenFiles(*this, visitor);
}

Result SardaneChannelC::GetDeviceInfo(PropertyHolder& info) {
  Result result = SardaneChannel::GetDeviceInfo(info);
  if (rc::Failed(result)) return result;
  RefPtr<PropertySet> set = info.GetSet();
  if (!set) return rc::kOutOfMemory;
  const char* name = ModelName(static_cast<uint32_t>(set->GetInt("device_id")));
  return name != nullptr ? info.SetString("name", name) : result;
}

Result SardaneChannelC::CreatePredictor(uint32_t, Predictor** predictor) {
  return CreateFlashPredictor(true, predictor);
}

Result SardaneChannelC::EnumFids(RefPtr<FidList>* list) {
  if (list != nullptr) list->Reset();
  return rc::kNotImplemented;
}

Result SardaneChannelC::Request117(uint32_t, uint32_t, uint32_t) { return rc::kNotImplemented; }

Result SardaneChannelC::MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                                         uint32_t storage) {
  Result result = FillStorageProps(props, block, 1, 512);
  if (rc::Succeeded(result) && storage == 0) {
    result = props.SetString("name", "Internal Memory");
    if (rc::Succeeded(result)) result = props.SetInt("storage_type", 1);
  } else if (rc::Succeeded(result) && storage == 1) {
    const bool mmc = product_id() == 0x5003;
    result = props.SetString("name", mmc ? "MultiMediaCard (MMC)" : "Pellor");
    if (rc::Succeeded(result)) result = props.SetInt("storage_type", mmc ? 2 : 4);
  }
  return rc::Succeeded(result) ? props.SetInt("storage_index", static_cast<int32_t>(storage))
                               : result;
}

Result SardaneChannelC::ReadRecordBlock(uint8_t* record, uint32_t storage, uint32_t fid) {
  if (record == nullptr) return rc::kInvalidArg;
  Result result = ForEachEntry(storage, [record, fid](const uint8_t* entry) {
    if (bytes::Le32(entry) != fid) return rc::kOk;
    memcpy(record, entry, qel::kRecordSize);
    return Result{1};
  });
  // The walk stops with 1 at the entry; running to the end means there was none.
  if (result == 1) return rc::kOk;
  return rc::Succeeded(result) ? rc::kShortTransfer : result;
}

Result SardaneChannelC::FindFileRecord(uint8_t* record, PropertyHolder& file) {
  if (record == nullptr) return rc::kInvalidArg;
  RefPtr<PropertySet> set = file.GetSet();
  if (!set) return rc::kOutOfMemory;
  memset(record, 0, qel::kRecordSize);
  bytes::PutLe32(record + sardane::kFidOffset, static_cast<uint32_t>(set->GetInt("fid")));
  // The name as the upload stored it, so a long name still finds its file.
  sardane::PutFileNameField(record + sardane::kNameOffset, sardane::kTextFieldWidth,
                            set->GetString("name"), false);
  PutTextField(record + sardane::kDirectoryOffset, sardane::kTextFieldWidth,
               set->GetString("directory"), false);
  return rc::kOk;
}

Result SardaneChannelC::UsesUtf8(bool* utf8) {
  if (utf8 == nullptr) return rc::kInvalidArg;
  *utf8 = false;
  return rc::kOk;
}

Result SardaneChannelC::EncodeFileRecord(uint8_t* record, PropertySet& file) {
  Result result = SardaneDirectoryChannel::EncodeFileRecord(record, file);
  if (rc::Failed(result)) return result;

  const std::string title = file.GetString("title");
  // Models without a picture layout are not drawn for.
  if (!PlainAscii(title) && title_bitmap::LayoutFor(static_cast<uint16_t>(product_id())) !=
                                title_bitmap::Layout::kNone) {
    TextBitmapRenderer renderer(static_cast<uint16_t>(product_id()));
    if (renderer.Render(Utf8ToAnsiString(title).c_str()) && renderer.CopyToRecord(record) == 0)
      PutTextField(record + sardane::kTitleOffset, sardane::kTextFieldWidth, title, true);
  }
  if (!PlainAscii(file.GetString("artist"))) record[sardane::kArtistOffset] = 0;
  if (!PlainAscii(file.GetString("source"))) record[sardane::kSourceOffset] = 0;
  return rc::kOk;
}

Result CreateSardaneChannelC(UsbHardware* transport, uint32_t product_id, Channel** out) {
  auto* channel = new (std::nothrow) SardaneChannelC(transport, product_id);
  if (channel == nullptr) {
    delete transport;
    return rc::kOutOfMemory;
  }
  *out = channel;
  return rc::kOk;
}
