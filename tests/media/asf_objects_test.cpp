#include "media/asf_objects.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/memory_stream.h"
#include "testlib/asf_builder.h"
#include "testlib/fault_injecting_stream.h"

namespace {

using asftest::Le64;

// Records the objects the walk visits.
class ObjectLog : public AsfObjectVisitor {
 public:
  Result OnAsfObject(SeekableStream* stream, const AsfObjectHead& head) override {
    uint32_t position = 0;
    stream->GetPosition(&position);
    body_positions.push_back(position);
    heads.push_back(head);
    return fail_with;
  }
  std::vector<AsfObjectHead> heads;
  std::vector<uint32_t> body_positions;
  Result fail_with = rc::kOk;
};

struct Walk {
  Result result;
  uint32_t audio_start;
  ObjectLog log;
};

void WalkBytes(const std::string& bytes, Walk* walk) {
  MemoryStream stream(bytes);
  walk->audio_start = 12345;
  walk->result = WalkAsfHeader(&stream, &walk->log, &walk->audio_start);
}

TEST(AsfObjectsTest, GuidsAreInTheFilesByteOrder) {
  // The first bytes of every ASF file.
  EXPECT_EQ(std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16),
            asftest::GuidBytes(asf::kHeaderObject));
  EXPECT_EQ(0x0102u, asf::Le16(reinterpret_cast<const uint8_t*>("\x02\x01")));
  EXPECT_EQ(0x8A01020304050607u,
            asf::Le64(reinterpret_cast<const uint8_t*>("\x07\x06\x05\x04\x03\x02\x01\x8A")));
}

TEST(AsfObjectsTest, VisitsTheHeaderObjectsAndTheDataObjectAtTheirBodies) {
  const std::string description = asftest::ContentDescription("T", "A");
  const std::string properties = asftest::FileProperties(1, 2, 3, 4);
  const std::string file = asftest::File({description, properties}, "audio");
  Walk walk;
  WalkBytes(file, &walk);
  EXPECT_EQ(rc::kOk, walk.result);
  ASSERT_EQ(3u, walk.log.heads.size());
  EXPECT_TRUE(walk.log.heads[0].guid == asf::kContentDescription);
  EXPECT_TRUE(walk.log.heads[1].guid == asf::kFileProperties);
  EXPECT_TRUE(walk.log.heads[2].guid == asf::kDataObject);
  EXPECT_EQ(30u, walk.log.heads[0].position);
  EXPECT_EQ(30u + 24, walk.log.body_positions[0]);
  EXPECT_EQ(properties.size(), walk.log.heads[1].size);
  // The audio begins with the Data Object.
  const uint32_t data_start = static_cast<uint32_t>(30 + description.size() + properties.size());
  EXPECT_EQ(data_start, walk.log.heads[2].position);
  EXPECT_EQ(data_start, walk.audio_start);
}

TEST(AsfObjectsTest, ObjectsBehindTheDataObjectDoNotMoveTheAudioStart) {
  // A header that claims one object more than it holds reaches past the Data Object.
  const std::string data = asftest::Data("audio");
  const std::string index = asftest::Object(asf::kContentEncryption, "ix");
  const std::string file = asftest::Header({asftest::FileProperties(1, 2, 3, 4)}, 2) + data + index;
  Walk walk;
  WalkBytes(file, &walk);
  ASSERT_EQ(3u, walk.log.heads.size());
  EXPECT_EQ(file.size() - data.size() - index.size(), walk.audio_start);
}

TEST(AsfObjectsTest, FilesThatAreNotAsfAreLeftAlone) {
  const std::string good = asftest::File({}, "audio");
  std::string bad_reserved = good;
  bad_reserved[29] = 3;
  std::string bad_guid = good;
  bad_guid[0] = 0x31;
  for (const std::string& bytes : {bad_reserved, bad_guid, std::string("RIFF"), std::string()}) {
    Walk walk;
    WalkBytes(bytes, &walk);
    EXPECT_EQ(rc::kOk, walk.result);
    EXPECT_TRUE(walk.log.heads.empty());
    EXPECT_EQ(12345u, walk.audio_start);
  }
}

// A size of 0 once made the walk visit the same object forever; sizes below the head or
// beyond the file are not to be trusted to find the next object.
TEST(AsfObjectsTest, DamagedSizesEndTheWalkBeforeTheObject) {
  const std::string first = asftest::FileProperties(1, 2, 3, 4);
  const std::string file = asftest::File({first, asftest::ContentDescription("T", "")}, "x");
  const size_t size_field = 30 + first.size() + 16;
  const struct {
    const char* what;
    uint64_t size;
  } cases[] = {
      {"zero", 0},
      {"below the head", 23},
      {"one beyond the file", file.size() - (30 + first.size()) + 1},
      {"beyond 32 bits", 0x100000018ull},
      {"all ones", ~0ull},
  };
  for (const auto& c : cases) {
    std::string bytes = file;
    bytes.replace(size_field, 8, Le64(c.size));
    Walk walk;
    WalkBytes(bytes, &walk);
    EXPECT_EQ(rc::kOk, walk.result) << c.what;
    ASSERT_EQ(1u, walk.log.heads.size()) << c.what;
    EXPECT_EQ(30 + first.size(), walk.audio_start) << c.what;
  }
  // Exactly the head, and exactly up to the end of the file, are sound.
  for (const uint64_t size : {uint64_t{24}, uint64_t{file.size() - (30 + first.size())}}) {
    std::string bytes = file;
    bytes.replace(size_field, 8, Le64(size));
    Walk walk;
    WalkBytes(bytes, &walk);
    EXPECT_EQ(2u, walk.log.heads.size()) << size;
  }
}

TEST(AsfObjectsTest, ObjectCountsBeyondTheFileEndQuietly) {
  const std::string file = asftest::Header({asftest::FileProperties(1, 2, 3, 4)}, 0x7FFFFFFF);
  Walk walk;
  WalkBytes(file, &walk);
  EXPECT_EQ(rc::kOk, walk.result);
  EXPECT_EQ(1u, walk.log.heads.size());
}

TEST(AsfObjectsTest, FailuresOfTheStreamAndTheVisitor) {
  const std::string file = asftest::File({asftest::FileProperties(1, 2, 3, 4)}, "x");
  {
    MemoryStream memory(file);
    FaultInjectingStream stream(&memory);
    stream.FailRead(1, rc::kTimeout);
    ObjectLog log;
    EXPECT_EQ(rc::kTimeout, WalkAsfHeader(&stream, &log, nullptr));
  }
  {
    // Reads of object heads that fail end the walk without a failure.
    MemoryStream memory(file);
    FaultInjectingStream stream(&memory);
    stream.FailRead(2, rc::kTimeout);
    ObjectLog log;
    EXPECT_EQ(rc::kOk, WalkAsfHeader(&stream, &log, nullptr));
    EXPECT_TRUE(log.heads.empty());
  }
  {
    MemoryStream memory(file);
    ObjectLog log;
    log.fail_with = rc::kBadData;
    EXPECT_EQ(rc::kBadData, WalkAsfHeader(&memory, &log, nullptr));
    EXPECT_EQ(1u, log.heads.size());
  }
}

}  // namespace
