#include "devices/contents_walk.h"

#include "devices/channel.h"
#include "devices/visitors.h"
#include "media/property_holder.h"

namespace {

class StorageCounter : public HolderVisitor {
 public:
  explicit StorageCounter(ContentsVisitor* visitor) : visitor_(visitor) {}
  // Always true: the walk needs the number of every storage, wanted or not.
  bool Visit(PropertyHolder& storage) override {
    ++count;
    if (passing_ && visitor_ != nullptr) passing_ = visitor_->Storage(storage);
    return true;
  }
  uint32_t count = 0;

 private:
  ContentsVisitor* visitor_;
  bool passing_ = true;
};

class FilePasser : public HolderVisitor {
 public:
  FilePasser(ContentsVisitor* visitor, uint32_t storage) : visitor_(visitor), storage_(storage) {}
  bool Visit(PropertyHolder& file) override {
    uint32_t handle = 0;
    return visitor_ == nullptr || visitor_->File(storage_, file, &handle);
  }

 private:
  ContentsVisitor* visitor_;
  uint32_t storage_;
};

}  // namespace

Result PassStorages(Channel& channel, ContentsVisitor* visitor, uint32_t* count) {
  StorageCounter storages(visitor);
  const Result result = channel.EnumStorages(&storages);
  *count = storages.count;
  return result;
}

Result WalkStoragesThenFiles(Channel& channel, ContentsVisitor* visitor) {
  uint32_t count = 0;
  Result result = PassStorages(channel, visitor, &count);
  if (rc::Failed(result)) return result;
  // Storage indexes are 16 bits wide on the wire.
  for (uint32_t index = 0; index < count && index <= 0xFFFF; ++index) {
    FilePasser files(visitor, index);
    result = channel.EnumFiles(index, &files);
    if (rc::Failed(result)) return result;
  }
  return result;
}
