#include "devices/msc/msc_fid_list.h"

#include <memory>
#include <new>

#include "media/property_holder.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "support/stream_io.h"

Result MscFidList::Add(PropertyHolder& file) {
  RefPtr<PropertySet> set = file.GetSet();
  if (!set) return rc::kOutOfMemory;
  try {
    fids_.push_back(static_cast<uint32_t>(set->GetInt("fid")));
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}

Result MscFidList::Serialize(SeekableStream** stream_out) {
  *stream_out = nullptr;
  std::unique_ptr<MemoryStream> stream(new (std::nothrow) MemoryStream);
  if (!stream) return rc::kOutOfMemory;
  for (uint32_t fid : fids_) {
    uint8_t word[4];
    bytes::PutLe32(word, fid);
    const Result status = WriteExact(stream.get(), word, sizeof word);
    if (rc::Failed(status)) return status;
  }
  stream->Seek(0);
  *stream_out = stream.release();
  return rc::kOk;
}

Result MscFidList::NewList(RefPtr<FidList>* list_out) {
  RefPtr<MscFidList> copy(new (std::nothrow) MscFidList);
  if (!copy) return rc::kOutOfMemory;
  try {
    copy->fids_ = fids_;
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  *list_out = copy;
  return rc::kOk;
}

Result MscFidList::ReadFrom(Stream* stream) {
  fids_.clear();
  for (;;) {
    uint8_t word[4];
    uint32_t got = 0;
    const Result status = ReadUpTo(stream, word, sizeof word, &got);
    if (rc::Failed(status)) return status;
    if (got < sizeof word) return rc::kOk;  // a partial last word is no fid
    try {
      fids_.push_back(bytes::Le32(word));
    } catch (const std::bad_alloc&) {
      return rc::kOutOfMemory;
    }
  }
}
