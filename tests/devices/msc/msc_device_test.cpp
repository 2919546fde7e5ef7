#include "devices/msc/msc_device.h"

#include <gtest/gtest.h>

#include <fstream>

#include "devices/channel.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "msc_test_player.h"
#include "support/file_helpers.h"
#include "testlib/temp_dir.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A file source that keeps its creation arguments and a list of record paths.
struct FileSourceScript {
  int created = 0;
  int failures_left = 0;  // creations that fail before one succeeds
  uint32_t flags = 0;
  std::string database, first_root;
  std::vector<std::string> roots;
  std::vector<std::string> paths;
};

class ScriptedFileSource : public MscFileSource {
 public:
  explicit ScriptedFileSource(FileSourceScript* script) : script_(script) {}
  Result AddRoot(const std::string& root) override {
    script_->roots.push_back(root);
    return rc::kOk;
  }
  Result Open() override { return rc::kOk; }
  Result Refresh(MscScanListener*) override { return rc::kOk; }
  Result RewritePaths(const std::function<bool(std::string*)>& rewrite) override {
    for (std::string& path : script_->paths) rewrite(&path);
    return rc::kOk;
  }
  Result RecordNewFile(PropertyHolder&) override { return rc::kOk; }

 private:
  FileSourceScript* script_;
};

class MscDeviceTest : public ::testing::Test {
 protected:
  MscTestPlayer sim;
  FileSourceScript script;

  MscEnvironment Environment() {
    MscEnvironment environment = sim.Environment();
    environment.file_sources = [this](uint32_t flags, const std::string& database,
                                      const std::string& root,
                                      std::unique_ptr<MscFileSource>* out) {
      ++script.created;
      script.flags = flags;
      script.database = database;
      script.first_root = root;
      if (script.failures_left > 0) {
        --script.failures_left;
        if (!database.empty()) WriteText(database, "partial");
        return rc::kFail;
      }
      out->reset(new ScriptedFileSource(&script));
      return rc::kOk;
    };
    return environment;
  }
  RefPtr<MscDevice> Device(const std::string& host_folder = std::string()) {
    return RefPtr<MscDevice>(new MscDevice(sim.Record(), Environment(), host_folder));
  }
};

TEST_F(MscDeviceTest, NamesThePlayerByItsIdentification) {
  RefPtr<MscDevice> device = Device();
  std::string text;
  EXPECT_EQ(device->GetUniqueId(&text), rc::kOk);
  EXPECT_EQ(text, "QelDeviceMsc:0123456789ABCDEF");
  EXPECT_EQ(device->GetCanonicalName(&text), rc::kOk);
  EXPECT_EQ(text, "Qel MS 20");
  RefPtr<PropertySet> properties;
  ASSERT_EQ(device->GetProperties(&properties), rc::kOk);
  EXPECT_EQ(properties->GetString("connection_type"), "msc");
  uint32_t id = 0;
  EXPECT_EQ(device->GetProductId(&id), rc::kOk);
  EXPECT_EQ(id, 0x5041u);
  EXPECT_EQ(device->GetHardware(), nullptr);
  EXPECT_EQ(device->SetDescription("x"), rc::kNotImplemented);
}

TEST_F(MscDeviceTest, StateFollowsTheFirstDrive) {
  RefPtr<MscDevice> device = Device();
  EXPECT_EQ(device->GetState(), kStateReady);
  sim.io.drives['E'].gone = true;
  EXPECT_EQ(device->GetState(), kStateGone);
  sim.io.drives['E'].gone = false;
  sim.io.drives['E'].unit_serial.clear();
  EXPECT_EQ(device->GetState(), kStateGone);
}

TEST_F(MscDeviceTest, ChannelsShareOneFileSourceOverEveryDrive) {
  RefPtr<MscDevice> device = Device();
  Channel* first = nullptr;
  Channel* second = nullptr;
  ASSERT_EQ(device->OpenChannel(&first), rc::kOk);
  ASSERT_EQ(device->OpenChannel(&second), rc::kOk);
  EXPECT_EQ(script.created, 1);
  EXPECT_EQ(script.flags, 0x5Au);  // no host folder: no database on the PC
  EXPECT_EQ(script.database, "");
  EXPECT_EQ(script.first_root, "E:\\");
  EXPECT_EQ(script.roots, std::vector<std::string>{"F:\\"});
  EXPECT_EQ(first->GetState(), kStateReady);
  delete first;
  delete second;
}

TEST_F(MscDeviceTest, FileSourceGetsOneMoreTry) {
  RefPtr<MscDevice> device = Device();
  script.failures_left = 1;
  Channel* channel = nullptr;
  ASSERT_EQ(device->OpenChannel(&channel), rc::kOk);
  EXPECT_EQ(script.created, 2);
  delete channel;

  RefPtr<MscDevice> failing = Device();
  script.failures_left = 2;
  channel = reinterpret_cast<Channel*>(1);
  EXPECT_EQ(failing->OpenChannel(&channel), rc::kFail);
  EXPECT_EQ(channel, nullptr);
  EXPECT_EQ(failing->file_source(), nullptr);
}

TEST_F(MscDeviceTest, HostFolderMovesPathsOfDrivesWhoseLettersChanged) {
  TempDir host;
  const std::string identity = host.Path() + "\\Qel_Qel MS 20_5041_0123456789ABCDEF";
  EXPECT_EQ(Device(host.Path())->HostIdentityPath(), identity);
  // Last time the internal memory was G: and the card F:; now they are E: and F:.
  WriteText(identity + ".lsa", "[DriveInfo]\nUNIT-E=71\nUNIT-F=70\n");
  script.paths = {"G:\\Music\\a.mp3", "F:\\Music\\b.mp3", "g:\\other", "E:\\x"};
  {
    RefPtr<MscDevice> device = Device(host.Path());
    Channel* channel = nullptr;
    ASSERT_EQ(device->OpenChannel(&channel), rc::kOk);
    delete channel;
    EXPECT_EQ(script.flags, 0x0Au);
    EXPECT_EQ(script.database, identity + ".db");
    EXPECT_EQ(script.paths,
              (std::vector<std::string>{"E:\\Music\\a.mp3", "F:\\Music\\b.mp3", "g:\\other",
                                        "E:\\x"}));
  }
  // Going away, the device remembers today's letters.
  EXPECT_EQ(TempDir::ReadFile(identity + ".lsa"), "[DriveInfo]\nUNIT-E=69\nUNIT-F=70\n");
}

TEST_F(MscDeviceTest, DriveNotRememberedMovesNothingThatExists) {
  TempDir host;
  script.paths = {"E:\\Music\\a.mp3"};
  sim.io.drives['E'].unit_serial = std::string("\x01\x02", 2);
  RefPtr<MscDevice> device = Device(host.Path());
  Channel* channel = nullptr;
  ASSERT_EQ(device->OpenChannel(&channel), rc::kOk);
  delete channel;
  EXPECT_EQ(script.paths, std::vector<std::string>{"E:\\Music\\a.mp3"});
  device = nullptr;
  const std::string lsa =
      TempDir::ReadFile(host.Path() + "\\Qel_Qel MS 20_5041_0123456789ABCDEF.lsa");
  EXPECT_NE(lsa.find("0102=69\n"), std::string::npos);  // unprintable serials go as hex
}

TEST_F(MscDeviceTest, FailedFileSourceLeavesNoHostDatabase) {
  TempDir host;
  script.failures_left = 2;
  RefPtr<MscDevice> device = Device(host.Path());
  Channel* channel = nullptr;
  EXPECT_EQ(device->OpenChannel(&channel), rc::kFail);
  EXPECT_FALSE(FileExists(script.database));
}

TEST_F(MscDeviceTest, WithoutHostFolderNothingIsWrittenOnThePc) {
  RefPtr<MscDevice> device = Device();
  EXPECT_EQ(device->HostIdentityPath(), "");
  Channel* channel = nullptr;
  ASSERT_EQ(device->OpenChannel(&channel), rc::kOk);
  delete channel;
  EXPECT_EQ(script.database, "");
}

TEST(MscDeviceListTest, OneDevicePerPlayer) {
  MscTestPlayer sim;
  std::vector<RefPtr<MscDevice>> devices;
  EXPECT_EQ(EnumerateMscDevices(sim.Environment(), &devices), rc::kOk);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]->record().drive_entries.size(), 2u);
  EXPECT_EQ(devices[0]->RefCount(), 1);
}

}  // namespace
