// Decoding of the flash players' fixed blocks (device information, storages, owner record)
// into properties, shared by the channel base and the families.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class PropertyHolder;
class PropertySet;

namespace sardane {

// Lists the player walks for us end at these counts; a player that goes past them is broken.
constexpr uint32_t kMaxStorages = 16;
constexpr uint32_t kMaxFormats = 64;
// Reply words of request 128.
constexpr uint32_t kMaxRead128Words = 32;

uint32_t GetLe32(const uint8_t* p);
void PutLe32(uint8_t* p, uint32_t v);

// Two lower-case hex digits per byte.
std::string HexText(const uint8_t* bytes, uint32_t count);
// Fills `count` bytes from pairs of hex digits; bytes the text does not reach become 0.
void HexToBytes(const std::string& text, uint8_t* bytes, uint32_t count);

// ";"-delimited word lists (";format;firmware;").
void AppendWord(std::string* list, const char* word);
bool ListHasWord(const std::string& list, const std::string& word);
// Words of the capability flags of the device information block, in the list's order.
void AppendFlagCapabilities(uint32_t flags, std::string* list);

// The keys of the 256-byte device information block (identity, versions, serial, texts).
Result PutDeviceInfoKeys(PropertyHolder& info, const uint8_t* block, uint32_t product_id);
// Storage counts of a 256-byte storage block, corrected and scaled to `block_size`.
Result PutStorageKeys(PropertyHolder& props, const uint8_t* block, uint32_t device_unit,
                      uint32_t block_size);

// The eight text fields of the 2048-byte owner record.
Result GetOwnerFields(PropertyHolder& owner, const uint8_t* record, bool utf8);
void PutOwnerFields(uint8_t* record, PropertySet& owner, bool utf8);

}  // namespace sardane
