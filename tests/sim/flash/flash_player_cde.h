// The simulated players of flash families C, D and E: files listed by directory entry
// (request 105), each a 2048-byte directory record; family C's player finds the file of a
// download or delete by its name and folder, the others by fid. Playlists are files of type
// "PLS " whose bytes are a FIDLST image.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/flash/flash_player.h"

// Capability flags of the device information block (offset 8).
constexpr uint32_t kSimCapUtf8 = 0x4000;
constexpr uint32_t kSimCapFileReplace = 0x10000;
constexpr uint32_t kSimCapPlaylists = 0x20000;

// Directory record offsets.
constexpr uint32_t kSimDirectoryAt = 128, kSimNameAt = 192, kSimTitleAt = 256,
                   kSimArtistAt = 320, kSimSourceAt = 384, kSimMiscAt = 448, kSimRidAt = 72,
                   kSimGenerationAt = 120, kSimFlagsAt = 20, kSimTypeAt = 24;
constexpr uint32_t kSimFlagUtf8 = 0x01000000, kSimFlagPicture = 0x00400000;

class SimDirectoryPlayer : public SimFlashPlayer {
 public:
  // `by_name`: family C's way of finding files.
  explicit SimDirectoryPlayer(bool by_name, uint16_t device_id = 0x5005);

  // Sets the capability flags word of the device information block.
  void SetCapabilities(uint32_t flags);
  // Adds a file; the record's text fields are copied as given (raw bytes).
  SimFile& AddFile(uint32_t storage, uint32_t fid, const std::string& data,
                   const std::string& name, const std::string& directory = "",
                   uint32_t generation = 0);
  // Adds a playlist whose bytes are the FIDLST image of these {fid, generation} entries.
  SimFile& AddPlaylist(uint32_t storage, uint32_t fid, const std::string& name,
                       const std::vector<std::pair<uint32_t, uint32_t>>& entries,
                       uint32_t generation = 0);

  int finds_by_name = 0;     // downloads and deletes that found their file by name
  bool old_firmware = false;  // request 99 (formats) is unknown
  bool endless_directory = false;  // request 105 never answers with an empty entry

 protected:
  bool OnRequest(uint8_t request, uint16_t value, uint16_t index, uint32_t* word) override;
  SimFile* FindNamedFile(SimStorage& storage, const std::vector<uint8_t>& record) override;

 private:
  bool by_name_;
};

// The text of a fixed record field up to its first NUL.
std::string SimField(const std::vector<uint8_t>& record, uint32_t offset, uint32_t width = 64);
// A FIDLST image: "FIDLST", version 1, two zeros, the 24-bit count, 6 bytes per entry.
std::string SimFidList(const std::vector<std::pair<uint32_t, uint32_t>>& entries);
