#include "tools/mkdisc/disc_maker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/disc_image.h"
#include "tests/platform/cdrom/cdrom_test_support.h"

namespace qv {
namespace {

using qv::testing::RunCommand;
using qv::testing::TempDir;

TEST(MkDiscTest, AFailedWriteKeepsTheOldImageAndNoTemporaryFiles) {
  TempDir dir;
  const std::string cue = dir / "disc.cue";
  DiscSpec spec;
  spec.AudioTracks = {{75}};
  (void)WriteDiscImage(spec, cue);
  const auto before = qv::testing::ReadBytes(dir / "disc.bin");
  // A sheet or BIN path that is a folder: refused before anything is written.
  std::filesystem::create_directory(dir / "blocked.cue");
  std::filesystem::create_directory(dir / "blocked2.bin");
  EXPECT_THROW((void)WriteDiscImage(spec, dir / "blocked.cue"), ECdromError);
  EXPECT_THROW((void)WriteDiscImage(spec, dir / "blocked2.cue"), ECdromError);
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"blocked.cue", "blocked2.bin", "disc.bin", "disc.cue"}));
  EXPECT_EQ(qv::testing::ReadBytes(dir / "disc.bin"), before);
}

}  // namespace
}  // namespace qv
