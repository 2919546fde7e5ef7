#include "wmdm/qel_device_ptr.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/output_stream.h"
#include "devices/predictor.h"
#include "devices/visitors.h"
#include "support/debug_trace.h"
#include "testlib/fake_channel.h"
#include "testlib/recording_wmdm_logger.h"
#include "wmdm/wmdm_interfaces.h"
#include "wmdm/wmdm_log.h"

namespace {

constexpr Result kInterfaceDead = static_cast<Result>(0x80045001);
constexpr Result kDiskFull = static_cast<Result>(0x80070070);

// What the simulated player holds and what reached it; shared by every channel opened on it.
struct Player {
  Result open_result = rc::kOk;
  int32_t recovery = 0;
  uint32_t generation = 7;
  Result info_result = rc::kOk;
  bool throw_on_info = false;

  Result op_result = rc::kOk;      // answer of the operation under test
  Result commit_result = rc::kOk;
  bool throw_on_op = false;
  uint32_t storages = 2;
  std::vector<std::string> file_types;  // files of every storage, by "type"

  int opens = 0;
  int deletions = 0;
  int info_reads = 0;
  std::vector<std::string> calls;
};

class ScriptedOutputStream : public OutputStream {
 public:
  explicit ScriptedOutputStream(int* deletions) : deletions_(deletions) {}
  ~ScriptedOutputStream() override { ++*deletions_; }
  Result Reserved() override { return rc::kNotImplemented; }
  Result Write(const uint8_t*, uint32_t) override { return rc::kOk; }
  Result Finish(PropertyHolder&) override { return rc::kOk; }
  Result Abort() override { return rc::kOk; }

 private:
  int* deletions_;
};

struct PredictorLog {
  int deletions = 0;
  Result reset_result = rc::kOk;
  Result remove_result = rc::kOk;
  std::vector<std::string> calls;
};

class ScriptedPredictor : public Predictor {
 public:
  explicit ScriptedPredictor(PredictorLog* log) : log_(log) {}
  ~ScriptedPredictor() override { ++log_->deletions; }
  Result Reset(PropertyHolder& storage) override {
    log_->calls.push_back("Reset(" + storage.GetString("storage_index") + ")");
    return log_->reset_result;
  }
  Result AddExistingFile(PropertyHolder& file) override {
    log_->calls.push_back("Add(" + file.GetString("fid") + ")");
    return rc::kOk;
  }
  Result RemoveFile(PropertyHolder& file) override {
    log_->calls.push_back("Remove(" + file.GetString("fid") + ")");
    return log_->remove_result;
  }
  Result AccountNewFile(PropertyHolder&, uint32_t*) override { return rc::kNotImplemented; }
  Result Resize(PropertyHolder&, PropertyHolder&, uint32_t*) override {
    return rc::kNotImplemented;
  }
  Result AccountFile(PropertyHolder&) override { return rc::kNotImplemented; }
  Result WouldOverflow(PropertyHolder&) override { return rc::kNotImplemented; }
  Result GetStorageInfo(PropertyHolder&) override { return rc::kNotImplemented; }
  Result GetCounters(uint32_t[2]) override { return rc::kNotImplemented; }
  uint32_t RoundUp(PropertyHolder&) override { return 0; }

 private:
  PredictorLog* log_;
};

class ScriptedChannel : public FakeChannel {
 public:
  ScriptedChannel(Player* player, PredictorLog* predictors)
      : FakeChannel(kStateReady, &player->deletions), player_(player), predictors_(predictors) {}

  Result GetDeviceInfo(PropertyHolder& info) override {
    ++player_->info_reads;
    if (player_->throw_on_info) throw std::bad_alloc();
    if (rc::Failed(player_->info_result)) return player_->info_result;
    info.SetInt("recovery", player_->recovery);
    info.SetInt("device_generation", static_cast<int32_t>(player_->generation));
    info.SetString("name", "Player One");
    return rc::kOk;
  }
  Result EnumStorages(HolderVisitor* visitor) override {
    Call("EnumStorages");
    for (uint32_t i = 0; i < player_->storages; ++i) {
      PropertyHolder storage;
      storage.SetInt("storage_index", static_cast<int32_t>(i));
      if (!visitor->Visit(storage)) break;
    }
    return player_->op_result;
  }
  Result EnumFiles(uint32_t storage, HolderVisitor* visitor) override {
    Call("EnumFiles(" + std::to_string(storage) + ")");
    // One holder reused and cleared between files, as the flash channels do.
    PropertyHolder file;
    for (size_t i = 0; i < player_->file_types.size(); ++i) {
      file.Clear();
      file.SetInt("fid", static_cast<int32_t>(16 * (i + 1)));
      file.SetString("type", player_->file_types[i]);
      if (!visitor->Visit(file)) break;
    }
    return player_->op_result;
  }
  Result GetStorageInfo(uint32_t storage, PropertyHolder& info) override {
    Call("GetStorageInfo(" + std::to_string(storage) + ")");
    info.SetInt("storage_index", static_cast<int32_t>(storage));
    return player_->op_result;
  }
  Result GetDeviceID(uint32_t* product_id) override {
    Call("GetDeviceID");
    *product_id = 0x5210;
    return player_->op_result;
  }
  Result ConvertFileInfo(PropertyHolder& file, const uint8_t* record, uint32_t length) override {
    Call("ConvertFileInfo(" + std::string(reinterpret_cast<const char*>(record), length) + ")");
    file.SetString("title", "converted");
    return player_->op_result;
  }
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override {
    Call("CreatePredictor(" + std::to_string(storage) + ")");
    if (rc::Failed(player_->op_result)) return player_->op_result;
    *predictor = new ScriptedPredictor(predictors_);
    return rc::kOk;
  }
  Result FormatStorage(uint32_t storage, ProgressSink* progress) override {
    Call("FormatStorage(" + std::to_string(storage) + (progress ? ",sink)" : ",null)"));
    return player_->op_result;
  }
  Result DeleteFile(uint32_t storage, PropertyHolder& file) override {
    Call("DeleteFile(" + std::to_string(storage) + "," + file.GetString("fid") + ")");
    return player_->op_result;
  }
  Result Commit(uint32_t flags) override {
    Call("Commit(" + std::to_string(flags) + ")");
    return player_->commit_result;
  }
  Result CreateNewFile(uint32_t storage, OutputStream** stream) override {
    Call("CreateNewFile(" + std::to_string(storage) + ")");
    if (rc::Failed(player_->op_result)) return player_->op_result;
    *stream = new ScriptedOutputStream(&stream_deletions);
    return rc::kOk;
  }
  Result SetClock(uint32_t utc_seconds) override {
    Call("SetClock");
    clock_value = utc_seconds;
    return player_->op_result;
  }

  static int stream_deletions;
  static uint32_t clock_value;

 private:
  void Call(const std::string& what) {
    if (player_->throw_on_op) throw std::bad_alloc();
    player_->calls.push_back(what);
  }

  Player* player_;
  PredictorLog* predictors_;
};

int ScriptedChannel::stream_deletions = 0;
uint32_t ScriptedChannel::clock_value = 0;

class ScriptedDevice : public Device {
 public:
  ScriptedDevice(Player* player, PredictorLog* predictors)
      : player_(player), predictors_(predictors) {}
  UsbHardware* GetHardware() override { return nullptr; }
  Result OpenChannel(Channel** channel) override {
    if (rc::Failed(player_->open_result)) return player_->open_result;
    ++player_->opens;
    *channel = new ScriptedChannel(player_, predictors_);
    return rc::kOk;
  }
  Result GetUniqueId(std::string*) override { return rc::kNotImplemented; }
  Result GetCanonicalName(std::string* name) override {
    *name = "\\\\?\\usb#vid_1234&pid_5210";
    return rc::kOk;
  }
  Result GetProperties(RefPtr<PropertySet>*) override { return rc::kNotImplemented; }
  Result GetProductId(uint32_t*) override { return rc::kNotImplemented; }

 private:
  Player* player_;
  PredictorLog* predictors_;
};

class CapturedTrace : public TraceSink {
 public:
  CapturedTrace() { DebugTrace::SetSink(this); }
  ~CapturedTrace() override { DebugTrace::SetSink(nullptr); }
  void Write(const char* text) override { text_ += text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

class QelDevicePtrExTest : public ::testing::Test {
 protected:
  QelDevicePtrExTest() : handle_(RefPtr<Device>(new ScriptedDevice(&player_, &predictors_))) {
    ScriptedChannel::stream_deletions = 0;
  }

  // Every open was matched by a close and every channel deleted.
  void ExpectClosed() {
    EXPECT_EQ(handle_.open_count(), 0u);
    EXPECT_EQ(player_.deletions, player_.opens);
  }

  Player player_;
  PredictorLog predictors_;
  QelDevicePtrEx handle_;
};

TEST_F(QelDevicePtrExTest, NestedOpensShareOneChannelUntilTheLastClose) {
  Channel* first = nullptr;
  Channel* second = nullptr;
  ASSERT_EQ(handle_.OpenChannel(&first), rc::kOk);
  ASSERT_EQ(handle_.OpenChannel(&second), rc::kOk);
  EXPECT_EQ(first, second);
  EXPECT_EQ(player_.opens, 1);
  EXPECT_EQ(handle_.open_count(), 2u);

  EXPECT_EQ(handle_.CloseChannel(&second), rc::kOk);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(player_.deletions, 0);
  const int reads_before_last_close = player_.info_reads;

  EXPECT_EQ(handle_.CloseChannel(), rc::kOk);
  EXPECT_EQ(player_.deletions, 1);
  EXPECT_EQ(player_.info_reads, reads_before_last_close + 1);  // "device_generation" learnt
  EXPECT_EQ(handle_.CloseChannel(), rc::kFail);  // no open left: changes nothing
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, OpenOrCloseHoldsTheChannelAcrossWrappers) {
  ASSERT_EQ(handle_.OpenOrCloseChannel(true), rc::kOk);
  uint32_t id = 0;
  PropertyHolder info;
  EXPECT_EQ(handle_.GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(handle_.GetStorageInfo(1, &info), rc::kOk);
  EXPECT_EQ(player_.opens, 1);
  EXPECT_EQ(player_.deletions, 0);
  EXPECT_EQ(handle_.OpenOrCloseChannel(false), rc::kOk);
  EXPECT_EQ(handle_.OpenOrCloseChannel(false), rc::kFail);
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, FirstUseNeverFailsOnTheGeneration) {
  player_.generation = 12345;
  uint32_t id = 0;
  EXPECT_EQ(handle_.GetDeviceID(&id), rc::kOk);
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, GenerationChangedBetweenUsesMakesTheInterfaceDead) {
  uint32_t id = 0;
  ASSERT_EQ(handle_.GetDeviceID(&id), rc::kOk);  // learns generation 7 at the close
  player_.generation = 8;                          // someone else changed the player

  EXPECT_EQ(handle_.OpenChannel(), rc::kGenerationChanged);
  PropertyHolder info;
  EXPECT_EQ(handle_.GetDeviceInfo(&info), kInterfaceDead);
  EXPECT_EQ(info.GetString("name"), "");
  ExpectClosed();  // each failed open deleted its new channel
}

TEST_F(QelDevicePtrExTest, UnchangedGenerationOpensAgain) {
  uint32_t id = 0;
  ASSERT_EQ(handle_.GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(handle_.GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(player_.opens, 2);
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, OpenFailuresLeaveNoChannelBehind) {
  struct Case {
    const char* name;
    std::function<void(Player&)> script;
    Result raw;      // OpenChannel
    Result wrapped;  // what a wrapper returns
  };
  const Case cases[] = {
      {"recovery", [](Player& p) { p.recovery = 1; }, rc::kNoDeviceDescriptor,
       rc::kNoDeviceDescriptor},
      {"device info fails", [](Player& p) { p.info_result = rc::kTimeout; }, rc::kTimeout,
       rc::kTimeout},
      {"device info throws", [](Player& p) { p.throw_on_info = true; }, rc::kOutOfMemory,
       rc::kOutOfMemory},
      {"player busy", [](Player& p) { p.open_result = rc::kPlayerBusy; }, rc::kPlayerBusy,
       rc::kPlayerBusy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Player player;
    PredictorLog predictors;
    c.script(player);
    QelDevicePtrEx handle(RefPtr<Device>(new ScriptedDevice(&player, &predictors)));
    Channel* channel = nullptr;
    EXPECT_EQ(handle.OpenChannel(&channel), c.raw);
    EXPECT_EQ(channel, nullptr);
    uint32_t id = 0;
    EXPECT_EQ(handle.GetDeviceID(&id), c.wrapped);
    EXPECT_EQ(handle.open_count(), 0u);
    EXPECT_EQ(player.deletions, player.opens);
    EXPECT_TRUE(player.calls.empty());
  }
}

// Each wrapper opens, forwards its arguments to one channel operation, closes, and maps the
// channel's status: a full player reaches WMDM as "disk full".
TEST_F(QelDevicePtrExTest, WrappersForwardTheirArgumentsAndMapAFullPlayer) {
  PropertyHolder holder;
  holder.SetInt("fid", 48);
  uint32_t number = 0;
  const uint8_t record[] = {'r', 'e', 'c'};
  struct Case {
    const char* call;
    std::function<Result()> invoke;
  };
  const Case cases[] = {
      {"GetStorageInfo(3)", [&] { return handle_.GetStorageInfo(3, &holder); }},
      {"GetDeviceID", [&] { return handle_.GetDeviceID(&number); }},
      {"ConvertFileInfo(rec)", [&] { return handle_.ConvertFileInfo(&holder, record, 3); }},
      {"CreatePredictor(1)", [&] { return handle_.CreatePredictor(1); }},
      {"FormatStorage(2,null)", [&] { return handle_.FormatStorage(2); }},
      {"DeleteFile(1,48)", [&] { return handle_.DeleteFile(1, holder); }},
      {"EnumStorages", [&] { return handle_.EnumStorages(&number); }},
  };
  for (const Result channel_status : {rc::kOk, rc::kPlayerFull, rc::kTimeout}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.call) + " answering " + std::to_string(channel_status));
      player_.calls.clear();
      player_.op_result = channel_status;
      const Result expected = channel_status == rc::kPlayerFull ? kDiskFull : channel_status;
      EXPECT_EQ(c.invoke(), expected);
      ASSERT_FALSE(player_.calls.empty());
      EXPECT_EQ(player_.calls.front(), c.call);
      ExpectClosed();
    }
  }
}

TEST_F(QelDevicePtrExTest, WrappersHandOutWhatTheChannelGave) {
  PropertyHolder info;
  EXPECT_EQ(handle_.GetDeviceInfo(&info), rc::kOk);
  EXPECT_EQ(info.GetString("name"), "Player One");

  PropertyHolder storage;
  EXPECT_EQ(handle_.GetStorageInfo(1, &storage), rc::kOk);
  EXPECT_EQ(storage.GetString("storage_index"), "1");

  uint32_t id = 0;
  EXPECT_EQ(handle_.GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(id, 0x5210u);

  std::string name;
  EXPECT_EQ(handle_.GetCanonicalName(&name), rc::kOk);
  EXPECT_EQ(name, "\\\\?\\usb#vid_1234&pid_5210");
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, StorageCountIsStoredOnlyOnSuccess) {
  uint32_t count = 99;
  player_.storages = 3;
  EXPECT_EQ(handle_.EnumStorages(&count), rc::kOk);
  EXPECT_EQ(count, 3u);

  count = 99;
  player_.op_result = rc::kTimeout;
  EXPECT_EQ(handle_.EnumStorages(&count), rc::kTimeout);
  EXPECT_EQ(count, 99u);

  player_.op_result = rc::kOk;
  player_.storages = 2;
  RefPtr<Device> other(new ScriptedDevice(&player_, &predictors_));
  EXPECT_EQ(QelDevicePtrEx::CountStorages(other, &count), rc::kOk);
  EXPECT_EQ(count, 2u);
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, FailedOpenForListingIsReported) {
  player_.open_result = rc::kPlayerBusy;
  CapturedTrace trace;
  uint32_t count = 0;
  EXPECT_EQ(handle_.EnumStorages(&count), rc::kPlayerBusy);
  EXPECT_NE(trace.text().find("Failed to open channel, status=0xc0004007\n"), std::string::npos)
      << trace.text();
}

TEST_F(QelDevicePtrExTest, NullOutPointersAreRefusedWithoutAskingThePlayer) {
  const std::function<Result()> calls[] = {
      [&] { return handle_.GetCanonicalName(nullptr); },
      [&] { return handle_.GetDeviceInfo(nullptr); },
      [&] {
        PropertyHolder storage;
        return handle_.EnumFiles(storage, nullptr);
      },
      [&] { return handle_.EnumStorages(nullptr); },
      [&] { return handle_.GetDeviceID(nullptr); },
      [&] { return handle_.GetStorageInfo(0, nullptr); },
      [&] { return handle_.ConvertFileInfo(nullptr, nullptr, 0); },
      [&] {
        PropertyHolder file;
        return handle_.ConvertFileInfo(&file, nullptr, 4);  // a record that is not there
      },
      [&] { return handle_.CreateNewFile(0, nullptr); },
      [&] { return QelDevicePtrEx::CountStorages(handle_.GetDevice(), nullptr); },
  };
  for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i](), rc::kInvalidArg);
  }
  EXPECT_EQ(player_.opens, 0);
}

class EnumFilesTest : public QelDevicePtrExTest {
 protected:
  EnumFilesTest() {
    storage_.SetInt("storage_index", 1);
    EXPECT_EQ(handle_.CreatePredictor(1), rc::kOk);
    predictors_.calls.clear();
  }
  PropertyHolder storage_;
  FileHolderList files_;
};

TEST_F(EnumFilesTest, ListsTunesAndAccountsEveryFile) {
  player_.file_types = {"tune", "binary", "tune", "Tune"};
  ASSERT_EQ(handle_.EnumFiles(storage_, &files_), rc::kOk);
  EXPECT_EQ(player_.calls.back(), "EnumFiles(1)");
  EXPECT_EQ(predictors_.calls,
            (std::vector<std::string>{"Reset(1)", "Add(16)", "Add(32)", "Add(48)", "Add(64)"}));
  ASSERT_EQ(files_.size(), 2u);
  // Each entry keeps its own copy although the channel reused one holder.
  EXPECT_EQ(files_[0]->GetString("fid"), "16");
  EXPECT_EQ(files_[1]->GetString("fid"), "48");
  ExpectClosed();
}

TEST_F(EnumFilesTest, OnlyBinaryFilesGiveAnEmptyList) {
  player_.file_types = {"binary", "binary"};
  files_.emplace_back(new PropertyHolder);
  ASSERT_EQ(handle_.EnumFiles(storage_, &files_), rc::kOk);
  EXPECT_TRUE(files_.empty());
  EXPECT_EQ(predictors_.calls, (std::vector<std::string>{"Reset(1)", "Add(16)", "Add(32)"}));
}

TEST_F(EnumFilesTest, FailureLeavesTheCallersList) {
  player_.file_types = {"tune"};
  files_.emplace_back(new PropertyHolder);
  player_.op_result = rc::kPlayerFull;
  EXPECT_EQ(handle_.EnumFiles(storage_, &files_), kDiskFull);
  EXPECT_EQ(files_.size(), 1u);

  player_.op_result = rc::kOk;
  predictors_.reset_result = rc::kBadData;
  player_.calls.clear();
  EXPECT_EQ(handle_.EnumFiles(storage_, &files_), rc::kBadData);
  EXPECT_TRUE(player_.calls.empty());  // no listing after a failed reset
  EXPECT_EQ(files_.size(), 1u);
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, EnumFilesWithoutPredictorFailsInsteadOfCrashing) {
  PropertyHolder storage;
  FileHolderList files;
  player_.file_types = {"tune"};
  EXPECT_EQ(handle_.EnumFiles(storage, &files), rc::kFail);
  EXPECT_TRUE(files.empty());
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, CreatePredictorReplacesTheOldOne) {
  ASSERT_EQ(handle_.CreatePredictor(0), rc::kOk);
  Predictor* first = handle_.GetPredictor();
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(handle_.CreatePredictor(0), rc::kOk);
  EXPECT_NE(handle_.GetPredictor(), first);
  EXPECT_EQ(predictors_.deletions, 1);

  player_.op_result = rc::kTimeout;
  Predictor* second = handle_.GetPredictor();
  EXPECT_EQ(handle_.CreatePredictor(0), rc::kTimeout);
  EXPECT_EQ(handle_.GetPredictor(), second);  // a failed creation keeps what there was
}

TEST_F(QelDevicePtrExTest, DeleteFileRemovesFromThePredictorAndCommits) {
  ASSERT_EQ(handle_.CreatePredictor(0), rc::kOk);
  PropertyHolder file;
  file.SetInt("fid", 32);
  player_.calls.clear();
  EXPECT_EQ(handle_.DeleteFile(0, file), rc::kOk);
  EXPECT_EQ(player_.calls, (std::vector<std::string>{"DeleteFile(0,32)", "Commit(1)"}));
  EXPECT_EQ(predictors_.calls, (std::vector<std::string>{"Remove(32)"}));

  // The commit's status is the result; a full player is mapped.
  player_.commit_result = rc::kPlayerFull;
  EXPECT_EQ(handle_.DeleteFile(0, file), kDiskFull);

  // A failing predictor wins over the commit, which still runs.
  player_.calls.clear();
  predictors_.remove_result = rc::kBadIndex;
  EXPECT_EQ(handle_.DeleteFile(0, file), rc::kBadIndex);
  EXPECT_EQ(player_.calls.back(), "Commit(1)");

  // A failed delete neither accounts nor commits.
  player_.calls.clear();
  predictors_.calls.clear();
  player_.op_result = rc::kNotFound;
  EXPECT_EQ(handle_.DeleteFile(0, file), rc::kNotFound);
  EXPECT_EQ(player_.calls, (std::vector<std::string>{"DeleteFile(0,32)"}));
  EXPECT_TRUE(predictors_.calls.empty());
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, DeleteFileWithoutPredictorStillDeletesAndCommits) {
  PropertyHolder file;
  file.SetInt("fid", 32);
  EXPECT_EQ(handle_.DeleteFile(0, file), rc::kFail);
  EXPECT_EQ(player_.calls, (std::vector<std::string>{"DeleteFile(0,32)", "Commit(1)"}));
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, UploadKeepsOneChannelOpenUntilCommit) {
  OutputStream* stream = nullptr;
  ASSERT_EQ(handle_.CreateNewFile(2, &stream), rc::kOk);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(handle_.open_count(), 1u);
  EXPECT_EQ(player_.deletions, 0);

  uint32_t id = 0;  // other calls during the upload use the same channel
  EXPECT_EQ(handle_.GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(player_.opens, 1);

  player_.commit_result = rc::kPlayerFull;
  EXPECT_EQ(handle_.CommitNewFile(stream), kDiskFull);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(ScriptedChannel::stream_deletions, 1);
  EXPECT_EQ(player_.calls,
            (std::vector<std::string>{"CreateNewFile(2)", "GetDeviceID", "Commit(1)"}));
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, FailedCreateNewFileClosesAgain) {
  OutputStream* stream = nullptr;
  player_.op_result = rc::kPlayerFull;
  EXPECT_EQ(handle_.CreateNewFile(0, &stream), kDiskFull);
  EXPECT_EQ(stream, nullptr);
  ExpectClosed();

  player_.op_result = rc::kOk;
  player_.recovery = 1;
  EXPECT_EQ(handle_.CreateNewFile(0, &stream), rc::kNoDeviceDescriptor);
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, CommitWithoutUploadFails) {
  int deletions = 0;
  OutputStream* stream = new ScriptedOutputStream(&deletions);
  EXPECT_EQ(handle_.CommitNewFile(stream), rc::kFail);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(player_.opens, 0);
}

TEST_F(QelDevicePtrExTest, SetClockSendsTheCurrentTimeUnmapped) {
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  EXPECT_EQ(handle_.SetClock(), rc::kOk);
  const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  EXPECT_GE(ScriptedChannel::clock_value, before);
  EXPECT_LE(ScriptedChannel::clock_value, after);

  player_.op_result = rc::kPlayerFull;  // not mapped
  EXPECT_EQ(handle_.SetClock(), rc::kPlayerFull);
  ExpectClosed();
}

TEST_F(QelDevicePtrExTest, ExceptionsFromTheChannelBecomeCodesAndClose) {
  player_.throw_on_op = true;
  uint32_t id = 0;
  EXPECT_EQ(handle_.GetDeviceID(&id), rc::kOutOfMemory);
  OutputStream* stream = nullptr;
  EXPECT_EQ(handle_.CreateNewFile(0, &stream), rc::kOutOfMemory);
  EXPECT_EQ(stream, nullptr);
  ExpectClosed();
}

class QelDevicePtrExTraceTest : public QelDevicePtrExTest {
 protected:
  // Each line as "flags|source|format|value".
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const WmdmTraceLine& line : log_.lines()) {
      char value[16];
      std::snprintf(value, sizeof value, "%08lx", static_cast<unsigned long>(line.value));
      out.push_back(std::to_string(line.flags) + "|" + line.source + "|" + line.format + "|" +
                    value);
    }
    return out;
  }

  RecordedWmdmLog log_;
};

TEST_F(QelDevicePtrExTraceTest, EachWrapperEndsWithItsResultLine) {
  PropertyHolder info;
  player_.op_result = rc::kPlayerFull;
  EXPECT_EQ(handle_.GetStorageInfo(0, &info), kDiskFull);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "4|TORVEX|QelDevicePtrEx::GetStorageInfo returned 0x%08lx|80070070"}));
  log_.Clear();
  player_.op_result = rc::kOk;
  EXPECT_EQ(handle_.GetDeviceInfo(&info), rc::kOk);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "1|TORVEX|QelDevicePtrEx::GetDeviceInfo returned 0x%08lx|00000000"}));
}

TEST_F(QelDevicePtrExTraceTest, NullPointerIsTracedBeforeTheResult) {
  EXPECT_EQ(handle_.GetDeviceID(nullptr), rc::kInvalidArg);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "4|TORVEX|NULL input pointer|80070057",
                         "4|TORVEX|QelDevicePtrEx::GetDeviceID returned 0x%08lx|80070057"}));
}

TEST_F(QelDevicePtrExTraceTest, UploadStepsTraceTheirFailures) {
  OutputStream* stream = nullptr;
  player_.open_result = rc::kPlayerBusy;
  EXPECT_EQ(handle_.CreateNewFile(0, &stream), rc::kPlayerBusy);
  player_.open_result = rc::kOk;
  player_.op_result = rc::kPlayerFull;
  EXPECT_EQ(handle_.CreateNewFile(0, &stream), kDiskFull);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "4|TORVEX|Unable to OpenChannel returned 0x%08lx|c0004007",
                         "4|TORVEX|QelDevicePtrEx::CreateNewFile returned 0x%08lx|c0004007",
                         "4|TORVEX|Unable to CreateNewFile returned 0x%08lx|c0049002",
                         "4|TORVEX|QelDevicePtrEx::CreateNewFile returned 0x%08lx|80070070"}));
}

TEST_F(QelDevicePtrExTraceTest, ClockAndCommitAreNotTraced) {
  player_.op_result = rc::kOk;
  EXPECT_EQ(handle_.SetClock(), rc::kOk);
  int deletions = 0;
  OutputStream* stream = new ScriptedOutputStream(&deletions);
  handle_.CommitNewFile(stream);
  EXPECT_TRUE(lines().empty());
}

TEST(QelDevicePtrExLifetime, DestructionReleasesAChannelLeftOpen) {
  Player player;
  PredictorLog predictors;
  {
    QelDevicePtrEx handle(RefPtr<Device>(new ScriptedDevice(&player, &predictors)));
    ASSERT_EQ(handle.CreatePredictor(0), rc::kOk);
    OutputStream* stream = nullptr;
    ASSERT_EQ(handle.CreateNewFile(0, &stream), rc::kOk);
    delete stream;  // an upload abandoned without its commit
  }
  EXPECT_EQ(player.opens, 2);
  EXPECT_EQ(player.deletions, 2);  // the player's transport is not left held
  EXPECT_EQ(predictors.deletions, 1);
}

TEST(QelDevicePtrExLifetime, HandleHoldsAReferenceOnTheDevice) {
  Player player;
  PredictorLog predictors;
  RefPtr<Device> device(new ScriptedDevice(&player, &predictors));
  {
    QelDevicePtrEx handle(device);
    EXPECT_EQ(device->RefCount(), 2);
  }
  EXPECT_EQ(device->RefCount(), 1);
}

TEST(QelDevicePtrExLifetime, NullDeviceFails) {
  QelDevicePtrEx handle{RefPtr<Device>()};
  uint32_t count = 0;
  std::string name;
  EXPECT_EQ(handle.EnumStorages(&count), rc::kFail);
  EXPECT_EQ(handle.GetCanonicalName(&name), rc::kFail);
}

}  // namespace
