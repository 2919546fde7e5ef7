// Finds a picture file for a track ("<track>.jpg" beside it) or for a folder (the largest
// "AlbumArt*.jpg" in it).
#pragma once

#include <cstdint>
#include <string>

// Row flags; a caller's mask selects the rows whose flags share a bit with it.
constexpr uint32_t kAlbumArtJpeg = 1;

bool FindAlbumArtInFolder(const std::string& folder, uint32_t flags, std::string* path);
bool FindAlbumArtForTrack(const std::string& track, uint32_t flags, std::string* path);
