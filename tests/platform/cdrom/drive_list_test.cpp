#include "platform/cdrom/drive_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/platform/cdrom/cdrom_test_support.h"

namespace qv {
namespace {

using qv::testing::TempDir;

TEST(DriveListTest, EmptyRelativeTooManyAndFromTheEnvironment) {
  TempDir dev;
  EXPECT_TRUE(ListDrives("", dev.path()).empty());
  EXPECT_TRUE(ListDrives(";;", "/nonexistent").empty());

  std::vector<DriveInfo> drives = ListDrives("discs/../x.cue", "/nonexistent");
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].Path, (std::filesystem::current_path() / "x.cue").string());

  std::string images;
  for (int i = 0; i < 30; ++i) images += "/d/" + std::to_string(i) + ".cue;";
  drives = ListDrives(images, "/nonexistent");
  ASSERT_EQ(drives.size(), kMaxDrives);
  EXPECT_EQ(drives.back().Letter, 'Z');
  EXPECT_EQ(drives.back().Path, "/d/22.cue");

  ::setenv("QUORVEL_CDROM", "/x/first.cue;/x/second.cue", 1);
  drives = ListDrives();
  ::unsetenv("QUORVEL_CDROM");
  ASSERT_GE(drives.size(), 2u);
  EXPECT_EQ(drives[0].Path, "/x/first.cue");
  EXPECT_EQ(drives[1].Path, "/x/second.cue");
}

}  // namespace
}  // namespace qv
