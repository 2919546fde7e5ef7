// Two writers on one player's drive, each with a file source of its own (two applications),
// sending the same album at the same moment: both choose the same track name, and neither may
// lose or remove the other's upload.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devices/msc/file_source.h"
#include "devices/msc/msc_channel.h"
#include "m_drive_player.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "msc_audio_fixtures.h"
#include "sim/msc/sim_msc_player.h"
#include "support/file_helpers.h"
#include "support/memory_stream.h"
#include "support/text_convert.h"

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Upload {
  Result result = rc::kFail;
  std::string path;
};

// One application's view of the player on M:.
class Writer {
 public:
  Writer(SimVolumeIo* io, const MscDriveRecord& record)
      : source_(MscFileSource::kFlagsWithoutHostDatabase, "", "M:\\") {
    EXPECT_EQ(source_.OpenDatabase(nullptr), rc::kOk);
    MscEnvironment environment;
    environment.volume_io = io;
    channel_.reset(new MscChannel(record, &source_, environment));
  }

  Upload Send(const std::string& bytes) {
    PropertyHolder file;
    file.SetString("type", "tune");
    file.SetString("codec", "mp3");
    file.SetString("source", "Harbour Lights");
    file.SetInt("tracknr", 1);
    file.SetString("title", "Early Light");
    MemoryStream stream(bytes);
    Upload upload;
    upload.result = channel_->SendFile(0, *file.GetSet(), &stream, nullptr);
    upload.path = Utf8ToLatin1(file.GetString("name"));
    return upload;
  }

 private:
  FileSource source_;
  std::unique_ptr<MscChannel> channel_;
};

TEST(MscUploadRaceTest, TwoWritersOfTheSameTrackNameKeepEachOthersUploads) {
  ASSERT_EQ(GetDriveTypeA("M:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
  DeleteTree("M:\\Music");
  SimVolumeIo io;
  PutPlayerOnDriveM(&io, std::make_shared<SimMscPlayer>());
  MscDriveRecord record;
  record.drive_letter = 'M';
  record.drive_entries.resize(1);
  record.drive_entries[0].drive_letter = 'M';
  record.drive_entries[0].not_hot_pluggable = 0;
  Writer first(&io, record);
  Writer second(&io, record);
  const std::string bytes = AudioFixture("mp3").Bytes();

  // Each round both writers choose among the same names; the hundred forms of the name
  // hold every round's two uploads.
  std::vector<Upload> uploads;
  for (int round = 0; round < 45; ++round) {
    // Both writers start together, so that both choose the name before either creates it.
    Upload a, b;
    std::atomic<int> waiting{2};
    auto send = [&](Writer& writer, Upload* upload) {
      --waiting;
      while (waiting.load() > 0) {
      }
      *upload = writer.Send(bytes);
    };
    std::thread other(send, std::ref(second), &b);
    send(first, &a);
    other.join();
    EXPECT_EQ(a.result, rc::kOk) << "round " << round;
    EXPECT_EQ(b.result, rc::kOk) << "round " << round;
    EXPECT_NE(a.path, b.path) << "round " << round;
    uploads.push_back(a);
    uploads.push_back(b);
  }
  // Every upload reported is on the drive with its bytes, after every later one.
  for (const Upload& upload : uploads) {
    if (rc::Succeeded(upload.result)) {
      EXPECT_EQ(ReadBytes(upload.path), bytes) << upload.path;
    }
  }
  DeleteTree("M:\\Music");
}

}  // namespace
