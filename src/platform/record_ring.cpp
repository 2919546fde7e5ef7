#include "platform/record_ring.h"

#include <cstring>

#include "platform/platform_codes.h"
#include "support/byte_order.h"

void RecordRings::Write(Ring& ring, size_t offset, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) ring.bytes[(offset + i) % kRingSize] = data[i];
}

void RecordRings::DropOldest(Ring& ring) {
  uint8_t length[2] = {ring.bytes[(ring.head + 10) % kRingSize],
                       ring.bytes[(ring.head + 11) % kRingSize]};
  size_t size = RecordSize(bytes::Be16(length));
  ring.head = (ring.head + size) % kRingSize;
  ring.used -= size;
  ring.wrapped = true;
  ++ring.counters.dropped;
}

Result RecordRings::Append(uint32_t code, int64_t wall_ns, const char* text, size_t length) {
  if (length > 0xFFFF || RecordSize(length) > kRingSize) return prc::kRecordTooLarge;
  Ring& ring = rings_[current_];
  size_t size = RecordSize(length);
  while (ring.used + size > kRingSize) DropOldest(ring);
  uint8_t header[kHeaderSize];
  uint64_t milliseconds = static_cast<uint64_t>(wall_ns / 1000000);
  bytes::PutBe32(header, code);
  bytes::PutBe16(header + 4, static_cast<uint16_t>(milliseconds >> 32));
  bytes::PutBe32(header + 6, static_cast<uint32_t>(milliseconds));
  bytes::PutBe16(header + 10, static_cast<uint16_t>(length));
  size_t tail = (ring.head + ring.used) % kRingSize;
  Write(ring, tail, header, kHeaderSize);
  Write(ring, tail + kHeaderSize, reinterpret_cast<const uint8_t*>(text), length);
  const uint8_t padding[3] = {0, 0, 0};
  Write(ring, tail + kHeaderSize + length, padding, size - kHeaderSize - length);
  ring.used += size;
  ++ring.counters.appended;
  return prc::kOk;
}

void RecordRings::Take(RecordSpans* spans, RecordCounters* counters) {
  Ring& ring = rings_[current_];
  size_t first = ring.used < kRingSize - ring.head ? ring.used : kRingSize - ring.head;
  spans->first = ring.bytes + ring.head;
  spans->first_length = first;
  spans->second = ring.bytes;
  spans->second_length = ring.used - first;
  *counters = ring.counters;
  current_ ^= 1;
  Ring& next = rings_[current_];
  next.head = next.used = 0;
  next.wrapped = false;
  next.counters = RecordCounters{0, 0};
}

uint32_t RecordRings::FillLevel() const {
  const Ring& ring = rings_[current_];
  return ring.wrapped ? 100 : static_cast<uint32_t>(ring.used * 100 / kRingSize);
}
