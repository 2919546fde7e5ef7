#include "omfs_fixture.h"

#include "platform/platform.h"
#include "platform/platform_file_system.h"

void OmfsFixture::SetUp() {
  InstallPlatformFileSystem();
  IRPlatform* platform = CreatePlatform();
  fs_ = static_cast<IRFileSystem*>(platform->GetInterface("IRFileSystem"));
  ASSERT_NE(nullptr, fs_);
}

void OmfsFixture::TearDown() {
  DestroyPlatform();
  SetFileSystemProvider(nullptr);
}

TestBlockDevice* OmfsFixture::NewDevice(uint32_t number, const OmfsShape& shape,
                                        uint64_t spare_bytes) {
  const uint64_t bytes = kStart + shape.blocks * shape.block_size + spare_bytes;
  return TestBlockDevice::InMemory("OMFS", number, 512, bytes / 512);
}

Result OmfsFixture::Format(TestBlockDevice* device, const OmfsShape& shape, const char* label) {
  OmfsFormatParameters parameters = {uint64_t{shape.blocks_per_unit} * shape.block_size,
                                     shape.mirrors, shape.metablock_size};
  char name[32];
  snprintf(name, sizeof name, "OMFS:%u", device->Number());
  return fs_->Format(shape.block_size, name, "OMFS", kStart,
                     shape.blocks * shape.block_size, &parameters, sizeof parameters, label,
                     "test volume");
}

Result OmfsFixture::Mount(TestBlockDevice* device, const OmfsShape& shape, uint32_t flags) {
  char name[32];
  snprintf(name, sizeof name, "OMFS:%u", device->Number());
  return fs_->Mount(name, kStart, shape.blocks * shape.block_size, flags, nullptr, 0);
}

Result OmfsFixture::Unmount(TestBlockDevice* device) {
  char name[32];
  snprintf(name, sizeof name, "OMFS:%u", device->Number());
  return fs_->Unmount(name, 0, 0);
}

std::string OmfsFixture::Root(TestBlockDevice* device, const OmfsShape& shape) const {
  char name[32], volume[96];
  snprintf(name, sizeof name, "OMFS:%u", device->Number());
  FsFormatVolumeName(volume, sizeof volume, name, kStart, shape.blocks * shape.block_size);
  return std::string("/dev/") + volume + "/";
}

Result OmfsFixture::WriteWhole(const std::string& path, const std::vector<uint8_t>& data,
                               bool create) {
  FsHandle* handle = nullptr;
  Result result = create ? fs_->CreateFile(&handle, path.c_str(), nullptr, 3, nullptr)
                         : fs_->Open(&handle, path.c_str(), nullptr, 3, nullptr);
  if (result != 0) return result;
  size_t done = 0;
  while (result == 0 && done < data.size()) {
    uint32_t piece = static_cast<uint32_t>(std::min<size_t>(data.size() - done, 70000));
    uint32_t written = 0;
    result = fs_->WriteFile(handle, data.data() + done, piece, &written, nullptr);
    if (result == 0 && written != piece) result = -1;
    done += piece;
  }
  Result closed = fs_->Close(handle, nullptr);
  return result != 0 ? result : closed;
}

std::vector<uint8_t> OmfsFixture::ReadWhole(const std::string& path, Result* result) {
  std::vector<uint8_t> data;
  FsHandle* handle = nullptr;
  *result = fs_->Open(&handle, path.c_str(), nullptr, 1, nullptr);
  if (*result != 0) return data;
  uint8_t buffer[50000];
  for (;;) {
    uint32_t count = 0;
    Result read = fs_->ReadFile(handle, buffer, sizeof buffer, &count, nullptr);
    if (read == static_cast<Result>(0x80820017)) break;
    if (read != 0) {
      *result = read;
      break;
    }
    data.insert(data.end(), buffer, buffer + count);
    if (count == 0) break;
  }
  fs_->Close(handle, nullptr);
  return data;
}

Result OmfsFixture::Check(TestBlockDevice* device, const OmfsShape& shape) {
  FsHandle* root = nullptr;
  Result result = fs_->Open(&root, Root(device, shape).c_str(), nullptr, 0, nullptr);
  if (result != 0) return result;
  result = fs_->Debug(root, omfs_debug::kCheck, nullptr, nullptr);
  fs_->Close(root, nullptr);
  return result;
}

std::vector<std::string> OmfsFixture::List(const std::string& path) {
  std::vector<std::string> names;
  FsHandle* directory = nullptr;
  if (fs_->Open(&directory, path.c_str(), nullptr, 0, nullptr) != 0) return {"(cannot open)"};
  char name[300];
  fs_->RewindDir(directory, nullptr);
  while (fs_->ReadDir(directory, name, sizeof name, nullptr) == 0) names.push_back(name);
  fs_->Close(directory, nullptr);
  return names;
}

std::vector<uint8_t> OmfsFixture::Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> data(size);
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = static_cast<uint8_t>(state >> 16);
  }
  return data;
}
