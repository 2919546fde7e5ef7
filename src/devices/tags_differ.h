// Whether a file's tags changed between two property sets, the rule behind MetadataDiffers of
// the channels that keep tags of their own.
#pragma once

#include "support/result_codes.h"

class PropertySet;

// Compares "artist", "genre", "source", "title", "tracknr" and "year" in that order, skipping
// a key that either set lacks or stores under another type, and stops at the first that
// differs (*differs = true; false when none differs or none could be compared). After a
// difference those keys of `new_file` are copied into `old_file`; a failed copy is returned.
Result TagsDiffer(PropertySet& old_file, PropertySet& new_file, bool* differs);
