// Playlist records made and changed by the channel.
#include "devices/msc/file_source.h"

Result FileSource::CreatePlaylist(const std::string&, const std::string&,
                                  const std::vector<uint32_t>&, uint32_t* fid) {
  *fid = 0;
  return rc::kNotImplemented;
}

Result FileSource::SetPlaylistMembers(uint32_t, const std::vector<uint32_t>&) {
  return rc::kNotImplemented;
}
