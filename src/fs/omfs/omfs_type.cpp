// The OMFS type record.
#include "fs/omfs/omfs.h"

#include "fs/omfs/omfs_data.h"
#include "fs/omfs/omfs_internal.h"
#include "fs/omfs/omfs_nodes.h"

Result OmfsAttr(FsRequest* request, FsHandle* handle, uint32_t id, const void* value,
                uint32_t value_length, void* out, uint32_t out_size);
void OmfsFillCosts(FsCostFn* costs);

namespace {

FsType MakeType() {
  FsType type = {};
  type.version = 1;
  type.name[0] = 'O';
  type.name[1] = 'M';
  type.name[2] = 'F';
  type.name[3] = 'S';
  type.get_root = OmfsGetRoot;
  type.lookup = OmfsLookup;
  type.open_node = OmfsOpenNode;
  type.close_node = OmfsCloseNode;
  type.create_file = OmfsCreateFile;
  type.create_dir = OmfsCreateDir;
  type.rename = OmfsRename;
  type.set_label = OmfsSetLabel;
  type.remove = OmfsRemove;
  type.read = OmfsRead;
  type.write = OmfsWrite;
  type.pop = OmfsPop;
  type.read_dir = OmfsReadDir;
  type.rewind_dir = OmfsRewindDir;
  type.attr = OmfsAttr;
  type.flush_file = OmfsFlushFile;
  type.sync_volume = OmfsSyncVolume;
  type.mount = OmfsMount;
  type.release_node = OmfsReleaseNode;
  type.unmount = OmfsUnmount;
  type.format = [](FsRequest* request, uint32_t block_size, BlockDevice* device, uint64_t start,
                   uint64_t length, const void* parameters, uint32_t parameter_length,
                   const char* label, const void* description) {
    return OmfsFormat(request, block_size, device, start, length, parameters, parameter_length,
                      label, description);
  };
  type.read_format = OmfsReadFormat;
  type.resize = OmfsResize;
  type.debug = OmfsDebug;
  OmfsFillCosts(type.costs);
  type.rename_replacing = OmfsRenameReplacing;
  return type;
}

}  // namespace

const FsType kOmfsType = MakeType();
