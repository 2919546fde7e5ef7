// The upload stream of flash family B: the file goes out in 1 MiB blocks, each one data
// transfer whose length is rounded up to 32768 bytes, and once its record has gone the file is
// entered into the channel's track database. The player stays locked for the whole upload.
#pragma once

#include <cstdint>

#include "devices/flash/upload_writer.h"

class SardaneChannelB;

class DatabaseUploadStream : public FlashUploadWriter {
 public:
  static constexpr uint32_t kBlockSize = 0x100000;
  static constexpr uint32_t kLengthUnit = 32768;

  // Loads the channel's database first, then opens the transfer. `channel` and `transport`
  // are not owned and must outlive the stream. Nothing is stored in *out on failure.
  static Result Create(uint32_t storage, SardaneChannelB* channel, UsbHardware* transport,
                       Clock* clock, OutputStream** out);

  DatabaseUploadStream(uint16_t storage, SardaneChannelB* channel, UsbHardware* transport,
                       Clock* clock);

 protected:
  Result WriteBlock(const uint8_t* block, uint32_t length) override;
  // Sends the record; when the player took it, adds the file to the database.
  Result FinishFile(PropertyHolder& file) override;

 private:
  SardaneChannelB* channel_b_;  // the same channel, for its database
};
