// Upload streams of the flash players: each 16384-byte block goes out as one "CQELDATA" chunk
// of a file transfer (request 108); the flash upload writer ends the file with its record.
#pragma once

#include <cstdint>

#include "devices/block_writer.h"
#include "devices/flash/protocol_session.h"

class SardaneChannel;

class ProtocolUploadStream : public BlockWriter {
 public:
  // `transport` is not owned and must outlive the stream. A family whose data transfers are
  // larger than one chunk gives its block size and sends each block itself (WriteBlock).
  ProtocolUploadStream(uint16_t storage, UsbHardware* transport, Clock* clock,
                       uint32_t block_size = qel::kChunkSize);
  // Aborts an unfinished file ("CQELABRT") and releases the player.
  ~ProtocolUploadStream() override;

 protected:
  Result Begin() override;
  Result WriteBlock(const uint8_t* block, uint32_t length) override;
  Result Cancel() override;

  ProtocolSession& session() { return session_; }
  // Aborts a transfer the player still holds, then gives up every lock of the stream, so the
  // next operation finds the player idle.
  void Release();

 private:
  uint16_t storage_;
  ProtocolSession session_;
};

class FlashUploadWriter : public ProtocolUploadStream {
 public:
  // `channel` is not owned and must outlive the writer.
  FlashUploadWriter(uint16_t storage, SardaneChannel* channel, UsbHardware* transport,
                    Clock* clock, uint32_t block_size = qel::kChunkSize);

 protected:
  // Sends the file's 2048-byte record, made by the channel from `file`.
  Result FinishFile(PropertyHolder& file) override;

 private:
  SardaneChannel* channel_;
};

// A new open FlashUploadWriter in *out; nothing is stored on failure.
Result CreateUploadWriter(uint32_t storage, SardaneChannel* channel, UsbHardware* transport,
                          Clock* clock, OutputStream** out);
// Opens `writer` (null: out of memory) and hands it to *out, or deletes it.
Result OpenUploadWriter(FlashUploadWriter* writer, OutputStream** out);
