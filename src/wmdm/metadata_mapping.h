// Translation between a file's PropertySet (device-library keys, UTF-8 values) and WMDM's
// metadata object (wide tag names, typed values), and the tag sink through which the tag
// readers fill a file's holder during an upload.
//
// Keys mapped by name: title, artist, source, genre, year, duration, tracknr, bitrate. An
// application may also set any other key through a tag "Qel/info_<key>"; those never go back
// to WMDM. "duration" is in milliseconds, WMDM/Duration in 100-nanosecond units.
#pragma once

#include <cstdint>

#include "media/property_holder.h"
#include "media/property_set.h"
#include "media/tag_reader.h"
#include "support/result_codes.h"
#include "wmdm/wmdm_interfaces.h"

// Texts handed to WMDM are cut to this many UTF-16 units (never inside a surrogate pair).
constexpr uint32_t kWmdmTextLimit = 254;

// Adds the mapped items in the order title, artist, source, genre, duration, year, tracknr.
// The first failing AddItem ends it and is the result.
Result MetadataToWmdm(PropertySet* file, IWMDMMetaData* metadata);

// Stores every mapped tag that WMDM holds (absent tags leave their key alone), then every
// "Qel/info_" item. The first failure (a number that does not parse, a failed query of an
// item by index) is the result and ends the walk.
Result MetadataFromWmdm(IWMDMMetaData* metadata, PropertySet* file);

// Tag readers write a file's tags through this. "drm" is never stored: whether a file is
// protected is the player's business, not a tag's.
class HolderTagSink : public TagSink {
 public:
  explicit HolderTagSink(PropertyHolder& file) : file_(file) {}
  void SetInt(const char* key, uint32_t value) override;
  void SetString(const char* key, const char* value) override;
  // The first store that failed (running out of memory included), else 0.
  Result status() const { return status_; }

 private:
  PropertyHolder& file_;
  Result status_ = rc::kOk;
};
