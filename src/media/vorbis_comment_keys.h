// Vorbis comment field names against the system's property keys, shared by the FLAC and Ogg
// Vorbis readers and writers. Keys that are the system's own bookkeeping ("rid", "duration",
// "fid_generation" ...) have no field: they are neither read from comments nor written as ones.
#pragma once

#include <string>

class TagSink;

// The key for a field name (exact): the table's key, empty for a reserved key, else the name.
std::string VorbisNameToKey(const std::string& name);
// The field name for a key (exact): the table's field (empty when reserved), else the key.
std::string KeyToVorbisName(const std::string& key);
// Delivers one "NAME=value" comment entry: the name is lowercased and turned into a key; an
// entry without '=' or with a reserved key gives nothing.
void DeliverVorbisComment(const char* entry, size_t length, TagSink* sink);
