// Whole-block transfers over any Stream: loop until every byte has moved.
#pragma once

#include <cstdint>

#include "support/stream.h"

// Reads exactly `length` bytes. A failure is returned at once; a Read answering end of data
// (1) gives rc::kShortTransfer, and the bytes read before it stay in the buffer. A Read that
// moves nothing without reporting the end also gives rc::kShortTransfer, so a stalled stream
// cannot hold the caller forever.
Result ReadExact(Stream* stream, void* buffer, uint32_t length);

// Reads until `size` bytes have come or the stream ends (end of data, or a Read that moves
// nothing); *got receives the bytes read. A failure is returned at once, and rc::kBadData for a
// Read that claims more bytes than it was asked for; otherwise rc::kOk.
Result ReadUpTo(Stream* stream, void* buffer, uint32_t size, uint32_t* got);

// Writes exactly `length` bytes. A failure is returned at once; a Write that moves nothing
// gives rc::kShortTransfer instead of retrying forever.
Result WriteExact(Stream* stream, const void* buffer, uint32_t length);
