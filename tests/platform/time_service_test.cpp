#include <gtest/gtest.h>

#include <vector>

#include "platform/calendar.h"
#include "platform/ir_time.h"
#include "platform/or_message_queue.h"
#include "platform/platform_codes.h"

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kSecond = 1000000000;

// Ticks delivered by the test, at clock readings it chooses.
class ManualTicks : public TickSource {
 public:
  int RegisterTickCallback(TickCallback callback, void* context, int64_t* period_ns,
                           int64_t* start_ns) override {
    if (!callback) return 0;
    callback_ = callback;
    context_ = context;
    *period_ns = kTickPeriodNs;
    *start_ns = reading_;
    return 1;
  }
  int EnableTicks() override {
    enabled_ = true;
    return 1;
  }
  int DisableTicks() override {
    enabled_ = false;
    return 1;
  }
  // One tick after the given number of milliseconds.
  void After(int64_t ms) {
    reading_ += ms * kMs;
    if (enabled_) callback_(context_, reading_);
  }
  bool enabled() const { return enabled_; }

 private:
  TickCallback callback_ = nullptr;
  void* context_ = nullptr;
  int64_t reading_ = 7 * kSecond;
  bool enabled_ = false;
};

struct Fired {
  int64_t tick, wall, period, previous;
  int32_t kind;
  uint32_t id;
};

class TimeServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    time_ = IRTime::Create();
    ASSERT_TRUE(time_->Start(&ticks_));
    queue_ = new ORMessageQueueImpl;
  }
  void TearDown() override {
    time_->Destroy();
    EXPECT_FALSE(ticks_.enabled()) << "destruction disables the ticks";
    Drain();
    queue_->Destroy();
  }
  int64_t Now() {
    int64_t now = -1;
    time_->Now(&now);
    return now;
  }
  std::vector<Fired> Drain() {
    std::vector<Fired> fired;
    while (QueueMessage* message = queue_->Poll(0)) {
      TimerEvent* event = reinterpret_cast<TimerEvent*>(message->payload);
      fired.push_back({event->TickTime(), event->WallTime(), event->Period(),
                       event->PreviousFiring(), event->Kind(), event->TimerId()});
      event->Destroy();
      queue_->Done(message);
    }
    return fired;
  }

  ManualTicks ticks_;
  IRTime* time_ = nullptr;
  ORMessageQueueImpl* queue_ = nullptr;
};

TEST_F(TimeServiceTest, PlatformTimeAdvancesInWholePeriodsAndCarriesDrift) {
  struct Step {
    int64_t after_ms;
    int64_t expected_ms;
  };
  // 125 ms: +100 with 25 ms of drift; then 25 ms makes a whole period with the drift; 20 ms
  // after that is 30 ms early, then 20 ms more is a whole period early and adds nothing.
  const Step steps[] = {{50, 50}, {125, 150}, {25, 200}, {20, 250}, {20, 250}, {60, 300},
                        {50, 350}};
  for (const Step& step : steps) {
    ticks_.After(step.after_ms);
    EXPECT_EQ(step.expected_ms * kMs, Now()) << "after " << step.after_ms;
  }
  int64_t period = 0;
  time_->TickPeriod(&period);
  EXPECT_EQ(50 * kMs, period);
}

TEST_F(TimeServiceTest, TickWithAnEarlierReadingIsIgnored) {
  ticks_.After(50);
  ticks_.After(-10);
  EXPECT_EQ(50 * kMs, Now());
}

TEST_F(TimeServiceTest, WallTimeIsZeroUntilSetThenFollowsPlatformTime) {
  int64_t wall = -1;
  time_->WallNow(&wall);
  EXPECT_EQ(0, wall);
  ticks_.After(50);
  time_->SetWallTime(1000 * kSecond + 20 * kMs);
  ticks_.After(50);
  time_->WallNow(&wall);
  EXPECT_EQ(1000 * kSecond + 70 * kMs, wall);
}

TEST_F(TimeServiceTest, OneShotTimerFiresOnceOnTheSecondTick) {
  uint32_t id = 0;
  ASSERT_EQ(0, time_->CreateTimer(IRTime::kOneShot, 100 * kMs, queue_, 0x4, &id));
  ticks_.After(50);
  EXPECT_TRUE(Drain().empty());
  ticks_.After(50);
  std::vector<Fired> fired = Drain();
  ASSERT_EQ(1u, fired.size());
  EXPECT_EQ(100 * kMs, fired[0].tick);
  EXPECT_EQ(0, fired[0].previous);
  EXPECT_EQ(IRTime::kOneShot, fired[0].kind);
  EXPECT_EQ(id, fired[0].id);
  ticks_.After(500);
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(prc::kNoSuchTimer, time_->DeleteTimer(id)) << "a one-shot timer is gone";
}

TEST_F(TimeServiceTest, PeriodicTimerFiresEveryPeriodAndCatchesUpAfterALateTick) {
  uint32_t id = 0;
  ASSERT_EQ(0, time_->CreateTimer(1, 100 * kMs, queue_, 0x1, &id));
  for (int i = 0; i < 4; ++i) ticks_.After(50);
  std::vector<Fired> fired = Drain();
  ASSERT_EQ(2u, fired.size());
  EXPECT_EQ(100 * kMs, fired[0].tick);
  EXPECT_EQ(200 * kMs, fired[1].tick);
  EXPECT_EQ(100 * kMs, fired[1].previous);
  // One tick 200 ms late: the catch-up steps fire the timer as time passes its due times.
  ticks_.After(250);
  fired = Drain();
  ASSERT_EQ(2u, fired.size());
  EXPECT_EQ(300 * kMs, fired[0].tick);
  EXPECT_EQ(400 * kMs, fired[1].tick);
  EXPECT_EQ(0, time_->DeleteTimer(id));
  ticks_.After(200);
  EXPECT_TRUE(Drain().empty());
}

TEST_F(TimeServiceTest, SecondTimersFireOnWholeWallClockSeconds) {
  ticks_.After(50);
  time_->SetWallTime(500 * kSecond + 730 * kMs);  // offset: wall = platform + 500.68 s
  uint32_t id = 0;
  ASSERT_EQ(0, time_->CreateTimer(IRTime::kSecondTimer, 123, queue_, 0x1, &id));
  for (int i = 0; i < 30; ++i) ticks_.After(50);
  std::vector<Fired> fired = Drain();
  ASSERT_FALSE(fired.empty());
  for (const Fired& f : fired) {
    EXPECT_EQ(kSecond, f.period) << "a second timer's period is one second";
    EXPECT_LT(f.wall % kSecond, 50 * kMs) << "fires on the first tick of a wall second";
  }
  EXPECT_EQ(501 * kSecond, fired[0].wall / kSecond * kSecond);
  // Moving the wall clock realigns the timer to the new seconds.
  time_->SetWallTime(900 * kSecond + 410 * kMs);
  for (int i = 0; i < 30; ++i) ticks_.After(50);
  fired = Drain();
  ASSERT_FALSE(fired.empty());
  EXPECT_EQ(901 * kSecond, fired[0].wall / kSecond * kSecond);
  for (const Fired& f : fired) EXPECT_LT(f.wall % kSecond, 50 * kMs);
}

TEST_F(TimeServiceTest, TimersDueAtOneTickAllFire) {
  uint32_t first = 0, second = 0;
  time_->CreateTimer(1, 100 * kMs, queue_, 0x1, &first);
  time_->CreateTimer(IRTime::kOneShot, 100 * kMs, queue_, 0x1, &second);
  EXPECT_NE(first, second);
  ticks_.After(100);
  std::vector<Fired> fired = Drain();
  ASSERT_EQ(2u, fired.size());
  EXPECT_EQ(fired[0].tick, fired[1].tick);
}

TEST_F(TimeServiceTest, CreateTimerRefusesAMissingChannelOrQueue) {
  uint32_t id = 0;
  EXPECT_EQ(prc::kBadTimeValue, time_->CreateTimer(1, kSecond, queue_, 0, &id));
  EXPECT_EQ(prc::kBadTimeValue, time_->CreateTimer(1, kSecond, nullptr, 1, &id));
  EXPECT_EQ(prc::kNoSuchTimer, time_->DeleteTimer(0xFFFFFF));
}

TEST(CalendarTest, ConvertsBothWays) {
  struct Case {
    CalendarTime calendar;
    int64_t seconds;
  };
  const Case cases[] = {
      {{1970, 1, 1, 0, 0, 0, 0}, 0},
      {{2000, 3, 1, 0, 0, 0, 0}, 951868800},
      {{2000, 2, 29, 23, 59, 59, 0}, 951868799},
      {{1999, 12, 31, 12, 30, 15, 0}, 946643415},
      {{2099, 12, 31, 23, 59, 59, 0}, 4102444799},
  };
  for (const Case& c : cases) {
    int64_t ns = -1;
    ASSERT_EQ(0, CalendarToNanoseconds(c.calendar, &ns));
    EXPECT_EQ(c.seconds * kSecond, ns) << c.calendar.year;
    CalendarTime back{};
    ASSERT_EQ(0, NanosecondsToCalendar(ns, &back));
    EXPECT_EQ(0, memcmp(&back, &c.calendar, sizeof back)) << c.calendar.year;
  }
  CalendarTime with_ms{};
  ASSERT_EQ(0, NanosecondsToCalendar(951868800 * kSecond + 5 * kMs, &with_ms));
  EXPECT_EQ(2000, with_ms.year);
  EXPECT_EQ(3, with_ms.month);
  EXPECT_EQ(1, with_ms.day);
  EXPECT_EQ(5, with_ms.millisecond);
}

TEST(CalendarTest, FieldsOutOfRangeAndNegativeTimesAreRefused) {
  int64_t ns = 0;
  const CalendarTime bad[] = {
      {2100, 1, 1, 0, 0, 0, 0}, {1969, 12, 31, 0, 0, 0, 0}, {2000, 0, 1, 0, 0, 0, 0},
      {2000, 13, 1, 0, 0, 0, 0}, {2000, 1, 0, 0, 0, 0, 0},  {2000, 1, 32, 0, 0, 0, 0},
      {2000, 1, 1, 24, 0, 0, 0}, {2000, 1, 1, 0, 60, 0, 0},  {2000, 1, 1, 0, 0, 60, 0},
      {2000, 1, 1, 0, 0, 0, 1000}};
  for (const CalendarTime& c : bad) EXPECT_EQ(prc::kBadTimeValue, CalendarToNanoseconds(c, &ns));
  CalendarTime out{};
  EXPECT_EQ(prc::kBadTimeValue, NanosecondsToCalendar(-1, &out));
}

TEST(CalendarTest, FebruaryThirtyFirstLandsInMarch) {
  int64_t ns = 0;
  CalendarTime out{};
  ASSERT_EQ(0, CalendarToNanoseconds({2001, 2, 31, 0, 0, 0, 0}, &ns));
  NanosecondsToCalendar(ns, &out);
  EXPECT_EQ(3, out.month);
  EXPECT_EQ(3, out.day);
  ASSERT_EQ(0, CalendarToNanoseconds({2000, 2, 31, 0, 0, 0, 0}, &ns));
  NanosecondsToCalendar(ns, &out);
  EXPECT_EQ(3, out.month);
  EXPECT_EQ(2, out.day);
}

}  // namespace
