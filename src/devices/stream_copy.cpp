#include "devices/stream_copy.h"

#include <windows.h>

#include <new>
#include <vector>

namespace {

uint32_t TickClock() { return GetTickCount(); }

bool Allocate(std::vector<uint8_t>* buffer, uint32_t size) {
  try {
    buffer->resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

Result WriteAll(Stream* writer, const uint8_t* data, uint32_t length) {
  for (uint32_t written = 0; written < length;) {
    uint32_t done = 0;
    Result result = writer->Write(data + written, length - written, &done);
    if (rc::Failed(result)) return result;
    if (done == 0) return rc::kShortTransfer;
    written += done;
  }
  return rc::kOk;
}

Result CopyStream(Stream* reader, Stream* writer, uint32_t chunk_size) {
  std::vector<uint8_t> buffer;
  if (!Allocate(&buffer, chunk_size)) return rc::kOutOfMemory;
  for (;;) {
    uint32_t got = 0;
    Result result = reader->Read(buffer.data(), chunk_size, &got);
    if (rc::Failed(result)) return result;
    if (got > chunk_size) got = chunk_size;
    Result written = WriteAll(writer, buffer.data(), got);
    if (rc::Failed(written)) return written;
    if (result == rc::kEndOfData) return rc::kOk;
  }
}

uint32_t AdaptiveStreamCopy::NextChunk(const AdaptiveCopySettings& settings, uint32_t chunk,
                                       uint32_t elapsed_ms) {
  uint64_t next = chunk;
  if (elapsed_ms > settings.upper_bound_ms) {
    next = elapsed_ms > 8ull * settings.upper_bound_ms ? chunk / 8 : chunk / 2;
    if (next < kSmallestChunk) next = kSmallestChunk;
  } else if (elapsed_ms < settings.lower_bound_ms) {
    next = elapsed_ms < settings.lower_bound_ms / 8 ? next * 8 : next * 2;
    if (next > settings.ceiling) next = settings.ceiling;
  }
  return static_cast<uint32_t>(next);
}

Result AdaptiveStreamCopy::Copy(AdaptiveCopySettings* settings, SeekableStream* reader,
                                Stream* writer, ProgressSink* sink, Clock clock) {
  if (!clock) clock = TickClock;
  uint32_t total = 0;
  Result result = reader->GetSize(&total);
  if (rc::Failed(result)) return result;
  std::vector<uint8_t> buffer;
  if (!Allocate(&buffer, settings->ceiling)) return rc::kOutOfMemory;
  uint32_t chunk = sink ? settings->chunk : settings->ceiling;
  if (chunk > settings->ceiling) chunk = settings->ceiling;
  if (chunk == 0) chunk = kSmallestChunk < settings->ceiling ? kSmallestChunk : settings->ceiling;
  uint32_t done_bytes = 0;
  for (;;) {
    const uint32_t started = clock();
    uint32_t got = 0;
    result = reader->Read(buffer.data(), chunk, &got);
    if (rc::Failed(result)) break;
    if (got > chunk) got = chunk;
    Result step = WriteAll(writer, buffer.data(), got);
    if (rc::Succeeded(step) && settings->flush_after_write) step = writer->Flush();
    if (rc::Failed(step)) {
      result = step;
      break;
    }
    done_bytes += got;
    if (sink) {
      Result reported = sink->Report(done_bytes, total);
      if (reported != rc::kOk) result = reported;
    }
    if (result != rc::kOk) break;
    if (sink) chunk = NextChunk(*settings, chunk, clock() - started);
  }
  if (sink && rc::Succeeded(result)) settings->chunk = chunk;
  return result;
}

Result ProgressStepper::Step() {
  position_ += (kTotal - position_) / steps_;
  return sink_ ? sink_->Report(position_, kTotal) : rc::kOk;
}
