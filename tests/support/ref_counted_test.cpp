#include "support/ref_counted.h"

#include <gtest/gtest.h>

namespace {

class Counted : public RefCounted {
 public:
  explicit Counted(int* deletions) : deletions_(deletions) {}
  ~Counted() override { ++*deletions_; }

 private:
  int* deletions_;
};

TEST(RefPtrTest, CountsCopiesAndDeletesOnce) {
  int deletions = 0;
  auto* object = new Counted(&deletions);
  EXPECT_EQ(object->RefCount(), 0);
  {
    RefPtr<Counted> first(object);
    EXPECT_EQ(object->RefCount(), 1);
    RefPtr<Counted> second(first);
    EXPECT_EQ(object->RefCount(), 2);
  }
  EXPECT_EQ(deletions, 1);
}

TEST(RefPtrTest, SelfAndSameObjectAssignmentKeepTheCount) {
  int deletions = 0;
  RefPtr<Counted> first(new Counted(&deletions));
  RefPtr<Counted> second(first);
  RefPtr<Counted>& alias = first;
  first = alias;
  EXPECT_EQ(first->RefCount(), 2);
  first = second;  // another pointer to the same object
  EXPECT_EQ(first->RefCount(), 2);
  first = first.Get();  // the raw object it already holds, whose count may be 1
  second.Reset();
  first = first.Get();
  EXPECT_EQ(first->RefCount(), 1);
  EXPECT_EQ(deletions, 0);
}

TEST(RefPtrTest, NullCopiesAssignsAndResets) {
  RefPtr<Counted> empty;
  RefPtr<Counted> copy(empty);
  copy = empty;
  copy.Reset();
  EXPECT_FALSE(copy);
}

}  // namespace
