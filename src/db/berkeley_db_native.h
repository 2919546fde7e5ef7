// What the 1.85 interface of Berkeley DB does not offer, made through the library's own
// interface: its verification of a file, and a close that still releases everything after the
// library has panicked. Kept apart from berkeley_db.cpp because the two interfaces' headers
// cannot be included together.
#pragma once

#include "support/result_codes.h"

namespace berkeley_native {

// Berkeley DB's own check of a B-tree file, as db5.3_verify makes it: every page, the tree's
// structure and the order of its keys. rc::kOk for a sound file, rc::kBadData when the check
// finds damage; any other failure (the file cannot be read) is returned as it is.
Result VerifyFile(const char* path);

// The library refuses every call once it has panicked, its close among them, and would keep
// the file's handle and its private environment for good. Called with the native handle under
// a 1.85 handle right before that handle is closed, it lets the close go through.
void LetCloseThroughAPanic(void* native_handle);

}  // namespace berkeley_native
