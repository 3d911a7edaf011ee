#include "platform/cdrom/media_watcher.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/platform/cdrom/cdrom_test_support.h"
#include "tests/platform/cdrom/image_fixture.h"

namespace qv {
namespace {

TEST(MediaWatcherTest, ReportsImagesArrivingLeavingAndBeingReplaced) {
  qv::testing::TempDir dir;
  const std::string a = dir / "a.cue", b = dir / "b.cue";
  (void)WriteDiscImage(qv::testing::AudioDisc(), a);
  ::setenv("QUORVEL_CDROM", (a + ";" + b).c_str(), 1);
  MediaWatcher watcher;
  ::unsetenv("QUORVEL_CDROM");
  ASSERT_GE(watcher.Drives().size(), 2u);

  MediaPoll poll = watcher.Poll();  // the first poll only takes stock
  EXPECT_EQ(poll.Present, std::vector<std::size_t>{0});
  EXPECT_TRUE(poll.Changes.empty());
  EXPECT_TRUE(watcher.Poll().Changes.empty());

  (void)WriteDiscImage(qv::testing::AudioDisc(), b);
  poll = watcher.Poll();
  EXPECT_EQ(poll.Present, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(poll.Changes, (std::vector<MediaChange>{{1, 'E', true}}));

  std::filesystem::remove(a);
  poll = watcher.Poll();
  EXPECT_EQ(poll.Present, std::vector<std::size_t>{1});
  EXPECT_EQ(poll.Changes, (std::vector<MediaChange>{{0, 'D', false}}));

  // Another disc in place of the one there: a removal and an arrival in one poll.
  qv::DiscSpec other = qv::testing::MixedDisc(300);
  (void)WriteDiscImage(other, b);
  poll = watcher.Poll();
  EXPECT_EQ(poll.Changes, (std::vector<MediaChange>{{1, 'E', false}, {1, 'E', true}}));
  EXPECT_TRUE(watcher.Poll().Changes.empty());
}

}  // namespace
}  // namespace qv
