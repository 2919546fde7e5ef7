// The upload stream of flash family B: the file goes out in 1 MiB blocks, each one data
// transfer whose length is rounded up to 32768 bytes, and once its record has gone the file is
// entered into the channel's track database. The player stays locked for the whole upload.
#pragma once

#include <cstdint>

#include "devices/block_writer.h"
#include "devices/protocol_session.h"

class SardaneChannelB;

class DatabaseUploadStream : public BlockWriter {
 public:
  static constexpr uint32_t kBlockSize = 0x100000;
  static constexpr uint32_t kLengthUnit = 32768;

  // Loads the channel's database first, then opens the transfer. `channel` and `transport`
  // are not owned and must outlive the stream. Nothing is stored in *out on failure.
  static Result Create(uint32_t storage, SardaneChannelB* channel, UsbHardware* transport,
                       Clock* clock, OutputStream** out);

  DatabaseUploadStream(uint16_t storage, SardaneChannelB* channel, UsbHardware* transport,
                       Clock* clock);
  // Aborts an unfinished file ("CQELABRT") and releases the player.
  ~DatabaseUploadStream() override;

 protected:
  Result Begin() override;
  Result WriteBlock(const uint8_t* block, uint32_t length) override;
  // Sends the record; when the player took it, adds the file to the database.
  Result FinishFile(PropertyHolder& file) override;
  Result Cancel() override;

 private:
  // Aborts a transfer the player still holds and gives up every lock of the stream.
  void Release();

  uint16_t storage_;
  SardaneChannelB* channel_;
  ProtocolSession session_;
};
