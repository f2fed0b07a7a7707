#include "vynClasses.h"

#include <gtest/gtest.h>

#include <memory>

#include "vynStreams.h"

namespace vyn {
namespace {

class TRecordA : public TPersistent {
public:
  int FValue = 0;
  void Assign(const TPersistent* ASource) override {
    if (auto a = dynamic_cast<const TRecordA*>(ASource)) {
      FValue = a->FValue;
      return;
    }
    TPersistent::Assign(ASource);
  }
};
class TRecordB : public TPersistent {};

TEST(Persistent, AssignAcceptsOwnClassAndNamesBothSidesOtherwise) {
  TRecordA a, b;
  b.FValue = 3;
  a.Assign(&b);
  EXPECT_EQ(a.FValue, 3);
  TRecordB other;
  try {
    a.Assign(&other);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TRecordB to a TRecordA");
  }
  try {
    a.Assign(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a nil to a TRecordA");
  }
}

class TWatcher : public TComponent {
public:
  using TComponent::TComponent;
  std::vector<TComponent*> FRemoved;
  bool* FDestroyed = nullptr;
  ~TWatcher() override {
    if (FDestroyed) *FDestroyed = true;
  }

protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override {
    TComponent::Notification(AComponent, AOperation);
    if (AOperation == opRemove) FRemoved.push_back(AComponent);
  }
};

TEST(Component, OwnerFreesOwnedAndFreeNotificationReachesWatchers) {
  bool childGone = false;
  TWatcher watcher;
  {
    auto owner = std::make_unique<TComponent>();
    auto* child = CreateOwned<TWatcher>(owner.get());
    child->FDestroyed = &childGone;
    EXPECT_EQ(owner->ComponentCount(), 1);
    EXPECT_EQ(child->Owner(), owner.get());
    child->FreeNotification(&watcher);
    owner.reset();
    EXPECT_TRUE(childGone);
    ASSERT_EQ(watcher.FRemoved.size(), 1u);
    EXPECT_EQ(watcher.FRemoved[0], child);
  }
  // A component destroyed on its own leaves its owner's list.
  TComponent owner;
  auto* child = CreateOwned<TComponent>(&owner);
  EXPECT_EQ(owner.ComponentCount(), 1);
  delete child;  // the test plays the owner's part here
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Component, WatcherGoingFirstCancelsTheNotification) {
  TComponent subject;
  {
    TWatcher watcher;
    subject.FreeNotification(&watcher);
  }
  SUCCEED();  // destroying subject must not touch the destroyed watcher (ASan checks)
}

TEST(StringList, TextAndValues) {
  TStringList list;
  list.SetText(u"a=1\r\nb=2\nc\rd=\r\n");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[2], u"c");
  EXPECT_EQ(list.Values(u"B"), u"2");  // names ignore case
  EXPECT_EQ(list.Names(2), u"");
  EXPECT_EQ(list.Values(u"d"), u"");
  list.SetValues(u"a", u"9");
  list.SetValues(u"e", u"5");
  list.SetValues(u"b", u"");
  EXPECT_EQ(list.Text(), u"a=9\r\nc\r\nd=\r\ne=5\r\n");
  EXPECT_EQ(list.IndexOf(u"C"), 1);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf(u"C"), -1);
  EXPECT_THROW(list.Get(10), EListError);
}

TEST(Streams, MemoryStreamReadsWritesSeeks) {
  TMemoryStream s;
  s.WriteBuffer("hello", 5);
  EXPECT_EQ(s.Size(), 5);
  s.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
  s.Seek(-2, soEnd);
  s.WriteBuffer("LLO", 3);
  EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().end()), "helLLO");
}

TEST(Streams, FileStreamFailsWithTheFileName) {
  try {
    TFileStream f(u"/nonexistent-dir/x", fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), u"Cannot open file \"/nonexistent-dir/x\". No such file or directory");
  }
}

}  // namespace
}  // namespace vyn
