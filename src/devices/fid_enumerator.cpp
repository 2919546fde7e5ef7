#include "devices/fid_enumerator.h"

#include <memory>
#include <new>
#include <string>

#include "media/property_holder.h"
#include "support/memory_stream.h"
#include "support/stream_io.h"

Result FidEnumerator::Add(PropertyHolder& file) {
  RefPtr<PropertySet> set = file.GetSet();
  if (!set) return rc::kOutOfMemory;
  try {
    pairs_.push_back({static_cast<uint32_t>(set->GetInt("fid")),
                      static_cast<uint32_t>(set->GetInt("fid_generation"))});
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}

Result FidEnumerator::Serialize(SeekableStream** stream_out) {
  *stream_out = nullptr;
  std::unique_ptr<MemoryStream> stream;
  try {
    stream.reset(new MemoryStream(EncodePairedList(pairs_)));
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  *stream_out = stream.release();
  return rc::kOk;
}

Result FidEnumerator::NewList(RefPtr<FidList>* list_out) {
  RefPtr<FidEnumerator> list(new (std::nothrow) FidEnumerator);
  if (!list) return rc::kOutOfMemory;
  *list_out = list;
  return rc::kOk;
}
