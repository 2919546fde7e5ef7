// Callbacks through which channels hand out storages, files and playlists one by one.
#pragma once

#include <cstdint>
#include <vector>

class PropertyHolder;

// Receives each storage (EnumStorages) or file (EnumFiles); false stops the walk.
class HolderVisitor {
 public:
  virtual ~HolderVisitor() = default;
  virtual bool Visit(PropertyHolder& item) = 0;
};

// The walk of Channel::EnumContents: every storage, then every file of each storage, then the
// playlists of families that keep them. Each item answers true to go on.
class ContentsVisitor {
 public:
  virtual ~ContentsVisitor() = default;
  virtual bool Storage(PropertyHolder& storage) = 0;
  // *handle names the file for later PlaylistMembers calls.
  virtual bool File(uint32_t storage_index, PropertyHolder& file, uint32_t* handle) = 0;
  virtual bool RootPlaylist(uint32_t storage_index, PropertyHolder& playlist, uint32_t* handle) = 0;
  virtual bool PlaylistMembers(uint32_t playlist_handle, const std::vector<uint32_t>& members) = 0;
};
