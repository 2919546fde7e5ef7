#include "media/flac_tag_writer.h"

#include <FLAC/metadata.h>

#include <cstdio>
#include <cstring>

#include "media/create_for_path.h"
#include "media/id3_tag_writer.h"
#include "media/tag_reader.h"
#include "media/vorbis_comment_keys.h"
#include "support/file_helpers.h"
#include "support/file_stream.h"
#include "support/stream_io.h"

namespace {

// A stream behind libFLAC's stdio-like callbacks, with the first failure kept for the caller.
struct IoHandle {
  FileStream* stream;
  Result failure = rc::kOk;
  bool at_end = false;

  void Fail(Result r) {
    if (failure == rc::kOk) failure = r;
  }
};

IoHandle* HandleOf(FLAC__IOHandle handle) { return static_cast<IoHandle*>(handle); }

size_t ReadCallback(void* ptr, size_t size, size_t count, FLAC__IOHandle handle) {
  IoHandle* io = HandleOf(handle);
  const uint64_t wanted = uint64_t{size} * count;
  if (size == 0 || wanted > UINT32_MAX) return 0;
  uint32_t got = 0;
  const Result r = ReadUpTo(io->stream, ptr, static_cast<uint32_t>(wanted), &got);
  if (rc::Failed(r)) io->Fail(r);
  io->at_end = got < wanted;
  return got / size;
}

size_t WriteCallback(const void* ptr, size_t size, size_t count, FLAC__IOHandle handle) {
  IoHandle* io = HandleOf(handle);
  const uint64_t wanted = uint64_t{size} * count;
  if (size == 0 || wanted > UINT32_MAX) return 0;
  const Result r = WriteExact(io->stream, ptr, static_cast<uint32_t>(wanted));
  if (rc::Failed(r)) {
    io->Fail(r);
    return 0;
  }
  return count;
}

int SeekCallback(FLAC__IOHandle handle, FLAC__int64 offset, int whence) {
  IoHandle* io = HandleOf(handle);
  int64_t target = offset;
  uint32_t base = 0;
  Result r = rc::kOk;
  if (whence == SEEK_CUR) r = io->stream->GetPosition(&base);
  if (whence == SEEK_END) r = io->stream->GetSize(&base);
  target += base;
  if (rc::Succeeded(r) && (target < 0 || target > UINT32_MAX)) r = rc::kBadData;
  if (rc::Succeeded(r)) r = io->stream->Seek(static_cast<uint32_t>(target));
  if (rc::Failed(r)) {
    io->Fail(r);
    return -1;
  }
  io->at_end = false;
  return 0;
}

FLAC__int64 TellCallback(FLAC__IOHandle handle) {
  uint32_t position = 0;
  if (rc::Failed(HandleOf(handle)->stream->GetPosition(&position))) return -1;
  return position;
}

int EofCallback(FLAC__IOHandle handle) { return HandleOf(handle)->at_end ? 1 : 0; }

int CloseCallback(FLAC__IOHandle) { return 0; }

const FLAC__IOCallbacks kCallbacks = {ReadCallback,  WriteCallback, SeekCallback,
                                      TellCallback,  EofCallback,   CloseCallback};

Result ChainFailure(FLAC__Metadata_Chain* chain, const IoHandle& a, const IoHandle& b) {
  if (a.failure != rc::kOk) return a.failure;
  if (b.failure != rc::kOk) return b.failure;
  switch (FLAC__metadata_chain_status(chain)) {
    case FLAC__METADATA_CHAIN_STATUS_NOT_A_FLAC_FILE: return rc::kNoTagHandler;
    case FLAC__METADATA_CHAIN_STATUS_MEMORY_ALLOCATION_ERROR: return rc::kOutOfMemory;
    default: return rc::kBadData;
  }
}

// The chain's VORBIS_COMMENT block, inserted behind the last block when there is none.
FLAC__StreamMetadata* CommentBlock(FLAC__Metadata_Chain* chain) {
  FLAC__Metadata_Iterator* iterator = FLAC__metadata_iterator_new();
  if (iterator == nullptr) return nullptr;
  FLAC__metadata_iterator_init(iterator, chain);
  FLAC__StreamMetadata* block = nullptr;
  do {
    if (FLAC__metadata_iterator_get_block_type(iterator) == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
      block = FLAC__metadata_iterator_get_block(iterator);
      break;
    }
  } while (FLAC__metadata_iterator_next(iterator));
  if (block == nullptr) {
    block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (block != nullptr && !FLAC__metadata_iterator_insert_block_after(iterator, block)) {
      FLAC__metadata_object_delete(block);
      block = nullptr;
    }
  }
  FLAC__metadata_iterator_delete(iterator);
  return block;
}

bool ApplyValues(FLAC__StreamMetadata* block, const std::map<std::string, std::string>& values) {
  for (const auto& pair : values) {
    const std::string field = KeyToVorbisName(pair.first);
    if (field.empty()) continue;
    if (FLAC__metadata_object_vorbiscomment_remove_entries_matching(block, field.c_str()) < 0) {
      return false;
    }
    if (pair.second.empty()) continue;
    const std::string text = field + "=" + pair.second;
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    entry.length = static_cast<FLAC__uint32>(text.size());
    entry.entry = reinterpret_cast<FLAC__byte*>(const_cast<char*>(text.c_str()));
    if (!FLAC__metadata_object_vorbiscomment_insert_comment(block, 0, entry, true)) return false;
  }
  return true;
}

// Owns the files of one rewrite: the copy that libFLAC edits (the file itself when it is
// edited in place) and, when the metadata outgrows its room, the file libFLAC writes anew;
// whichever is left unused is deleted, never the file itself.
class FlacRewrite {
 public:
  FlacRewrite(const std::string& path, bool in_place)
      : in_place_(in_place),
        copy_name_(in_place ? path : path + ".new"),
        temp_name_(path + ".new.tmp") {}
  ~FlacRewrite() {
    if (copy_) copy_->Close();
    if (temp_) temp_->Close();
    for (const std::string* name : {&copy_name_, &temp_name_}) {
      if (in_place_ && name == &copy_name_) continue;
      if (*name != kept_ && FileExists(*name)) UnlinkFile(*name);
    }
  }
  Result OpenCopy(const std::string& original) {
    Result r = in_place_ ? rc::kOk : CopyFileWithProgress(original, copy_name_, nullptr);
    if (rc::Succeeded(r)) r = OpenFileStream(copy_name_.c_str(), OpenRead | OpenWrite, &copy_);
    copy_io_.stream = copy_.get();
    return r;
  }
  Result OpenTemp() {
    const Result r = OpenFileStream(temp_name_.c_str(),
                                    OpenRead | OpenWrite | OpenCreate | OpenTruncate, &temp_);
    temp_io_.stream = temp_.get();
    return r;
  }
  // Closes both and puts the finished file (the temporary one when `rewritten`) in place.
  Result Replace(const std::string& original, bool rewritten) {
    Result r = copy_->Close();
    if (temp_ && rc::Succeeded(r)) r = temp_->Close();
    if (rc::Failed(r)) return r;
    if (in_place_ && !rewritten) return rc::kOk;
    const std::string& finished = rewritten ? temp_name_ : copy_name_;
    r = ReplaceFileWith(finished, original);
    if (rc::Succeeded(r)) kept_ = finished;
    return r;
  }
  IoHandle* copy_io() { return &copy_io_; }
  IoHandle* temp_io() { return &temp_io_; }

 private:
  bool in_place_;
  std::string copy_name_;
  std::string temp_name_;
  std::string kept_;
  std::unique_ptr<FileStream> copy_;
  std::unique_ptr<FileStream> temp_;
  IoHandle copy_io_{nullptr};
  IoHandle temp_io_{nullptr};
};

}  // namespace

Result FlacTagWriter::SetProperty(const char* key, const char* value) {
  values_[key] = value;
  return rc::kOk;
}

Result FlacTagWriter::Write() {
  std::unique_ptr<FileStream> file;
  Result r = OpenFileStream(path_.c_str(), OpenRead, &file);
  if (rc::Failed(r)) return r;
  char magic[3] = {};
  uint32_t got = 0;
  r = ReadUpTo(file.get(), magic, sizeof(magic), &got);
  file->Close();
  if (rc::Failed(r)) return r;
  if (got == 3 && std::memcmp(magic, "ID3", 3) == 0) {
    Id3TagWriter id3(path_);
    if (grow_in_place_) id3.PermitGrowthInPlace();
    for (const auto& pair : values_) id3.SetProperty(pair.first.c_str(), pair.second.c_str());
    r = id3.Write();
    if (rc::Failed(r)) return r;
  }
  return WriteComments();
}

Result FlacTagWriter::WriteComments() {
  FlacRewrite rewrite(path_, grow_in_place_);
  Result r = rewrite.OpenCopy(path_);
  if (rc::Failed(r)) return r;
  FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
  if (chain == nullptr) return rc::kOutOfMemory;
  IoHandle* copy = rewrite.copy_io();
  IoHandle* temp = rewrite.temp_io();
  bool rewritten = false;
  if (!FLAC__metadata_chain_read_with_callbacks(chain, copy, kCallbacks)) {
    r = ChainFailure(chain, *copy, *temp);
  } else {
    FLAC__StreamMetadata* block = CommentBlock(chain);
    if (block == nullptr || !ApplyValues(block, values_)) {
      r = rc::kOutOfMemory;
    } else {
      FLAC__metadata_chain_sort_padding(chain);
      rewritten = FLAC__metadata_chain_check_if_tempfile_needed(chain, true);
      if (rewritten) r = rewrite.OpenTemp();
      const bool written =
          rc::Succeeded(r) &&
          (rewritten ? FLAC__metadata_chain_write_with_callbacks_and_tempfile(
                           chain, true, copy, kCallbacks, temp, kCallbacks)
                     : FLAC__metadata_chain_write_with_callbacks(chain, true, copy, kCallbacks));
      if (rc::Succeeded(r) && !written) r = ChainFailure(chain, *copy, *temp);
    }
  }
  FLAC__metadata_chain_delete(chain);
  if (rc::Failed(r)) return r;
  return rewrite.Replace(path_, rewritten);
}

Result CreateFlacTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out) {
  return CreateForPath<TagWriter, FlacTagWriter>(path, out);
}
