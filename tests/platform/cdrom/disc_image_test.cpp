#include "platform/cdrom/disc_image.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/cdrom/cdrom_error.h"
#include "tests/platform/cdrom/cdrom_test_support.h"
#include "tests/platform/cdrom/image_fixture.h"

namespace qv {
namespace {

using qv::testing::TempDir;

struct CdInfoTrack {
  int Number = 0;
  std::string Msf;
  std::uint32_t Lsn = 0;
  std::string Type;
  std::string Copy;
  std::string PreEmphasis;
};

// The track list and disc mode as libcdio's cd-info prints them.
std::vector<CdInfoTrack> RunCdInfo(const std::string& cue, std::string& mode) {
  const auto result = qv::testing::RunCommand(
      "cd-info --no-header --no-device-info --no-cddb --cue-file '" + cue + "' 2>&1");
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
  std::vector<CdInfoTrack> tracks;
  std::istringstream in(result.Output);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Disc mode is listed as: ", 0) == 0) mode = line.substr(24);
    std::istringstream words(line);
    std::string number;
    words >> number;
    if (number.size() < 2 || number.back() != ':' ||
        number.find_first_not_of("0123456789:") != std::string::npos)
      continue;
    CdInfoTrack t;
    t.Number = std::stoi(number);
    std::string green, channels;
    words >> t.Msf >> t.Lsn >> t.Type >> green >> t.Copy >> channels >> t.PreEmphasis;
    tracks.push_back(t);
  }
  return tracks;
}

std::string Msf(std::uint32_t lsn) {
  const CdMsf m = AbsoluteToMsf(lsn + kCdLeadInFrames);
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", m.Minute, m.Second, m.Frame);
  return text;
}

TEST(DiscImageTest, TocAndFormatsAgreeWithCdInfo) {
  TempDir dir;
  const struct {
    const char* name;
    DiscSpec spec;
    const char* mode;
  } discs[] = {{"CD-Extra", qv::testing::MixedDisc(), "CD-ROM Mixed"},
               {"audio", qv::testing::AudioDisc(), "CD-DA"}};
  for (const auto& disc : discs) {
    SCOPED_TRACE(disc.name);
    const std::string cue = dir / (std::string(disc.name) + ".cue");
    const CdToc made = WriteDiscImage(disc.spec, cue);
    const CdToc toc = DiscImage::Open(cue)->Toc();
    EXPECT_EQ(toc, made);

    std::string mode;
    const std::vector<CdInfoTrack> info = RunCdInfo(cue, mode);
    EXPECT_EQ(mode, disc.mode);
    ASSERT_EQ(info.size(), toc.Tracks.size() + 1);
    for (std::size_t i = 0; i < toc.Tracks.size(); ++i) {
      SCOPED_TRACE(i);
      const CdTocTrack& t = toc.Tracks[i];
      EXPECT_EQ(info[i].Number, t.Number);
      EXPECT_EQ(info[i].Lsn, t.StartLsn);
      EXPECT_EQ(info[i].Msf, Msf(t.StartLsn));
      EXPECT_EQ(info[i].Type, t.IsData() ? "data" : "audio");
      EXPECT_EQ(info[i].Copy, (t.Control & kCdControlCopyPermitted) ? "yes" : "no");
      if (!t.IsData()) {
        EXPECT_EQ(info[i].PreEmphasis, (t.Control & kCdControlPreEmphasis) ? "yes" : "no");
      }
    }
    EXPECT_EQ(info.back().Number, 170);
    EXPECT_EQ(info.back().Type, "leadout");
    EXPECT_EQ(info.back().Lsn, toc.LeadOutLsn);
  }
}

TEST(DiscImageTest, RefusesReadsOutsideTheDisc) {
  TempDir dir;
  const std::string cue = dir / "disc.cue";
  const CdToc toc = WriteDiscImage(qv::testing::AudioDisc(), cue);
  const auto image = DiscImage::Open(cue);
  std::vector<std::uint8_t> buffer(4 * kCdSectorBytes);
  const std::uint32_t end = toc.LeadOutLsn;
  EXPECT_NO_THROW(image->ReadSectors(end - 1, 1, buffer));
  EXPECT_THROW(image->ReadSectors(end, 1, buffer), ECdromError);
  EXPECT_THROW(image->ReadSectors(end - 1, 2, buffer), ECdromError);
  EXPECT_THROW(image->ReadSectors(0xFFFFFFFFu, 2, buffer), ECdromError);
  EXPECT_THROW(image->ReadSectors(0, 5, buffer), ECdromError);  // buffer too small
}

TEST(DiscImageTest, ReportsABinFileThatShrankAfterOpening) {
  TempDir dir;
  const std::string cue = dir / "disc.cue";
  const CdToc toc = WriteDiscImage(qv::testing::AudioDisc(), cue);
  const auto image = DiscImage::Open(cue);
  std::filesystem::resize_file(dir / "disc.bin", std::uintmax_t{100} * kCdSectorBytes);
  std::vector<std::uint8_t> buffer(kCdSectorBytes);
  EXPECT_NO_THROW(image->ReadSectors(99, 1, buffer));
  EXPECT_THROW(image->ReadSectors(100, 1, buffer), ECdromError);
  EXPECT_THROW(image->ReadSectors(toc.LeadOutLsn - 1, 1, buffer), ECdromError);
  std::filesystem::remove(dir / "disc.bin");
  EXPECT_THROW(image->ReadSectors(0, 1, buffer), ECdromError);
}

// A BIN file that shrinks while reads are under way (another program rewriting it): every
// read either fails or delivers the whole of what was asked, never half a buffer passed off
// as audio.
TEST(DiscImageTest, ReadCutShortByAShrinkingFileIsAnError) {
  TempDir dir;
  const std::string cue = dir / "disc.cue";
  DiscSpec spec;
  spec.AudioTracks = {{1500}};
  const CdToc toc = WriteDiscImage(spec, cue);
  const auto image = DiscImage::Open(cue);
  const std::string bin = dir / "disc.bin";
  const std::uint32_t half = toc.LeadOutLsn / 2, count = 75;
  const std::size_t bytes = std::size_t{count} * kCdSectorBytes;
  std::vector<std::uint8_t> expected(bytes);
  image->ReadSectors(toc.LeadOutLsn - count, count, expected);
  std::vector<std::uint8_t> tail((toc.LeadOutLsn - half) * std::size_t{kCdSectorBytes});
  {
    std::ifstream in(bin, std::ios::binary);
    in.seekg(std::streamoff(half) * kCdSectorBytes);
    in.read(reinterpret_cast<char*>(tail.data()), std::streamsize(tail.size()));
    ASSERT_TRUE(in);
  }

  // The other program cuts the file in half and writes the rest back, again and again.
  std::atomic<bool> stop{false};
  std::thread other([&] {
    const int fd = ::open(bin.c_str(), O_WRONLY | O_CLOEXEC);
    while (!stop) {
      (void)::ftruncate(fd, off_t(half) * kCdSectorBytes);
      (void)::pwrite(fd, tail.data(), tail.size(), off_t(half) * kCdSectorBytes);
    }
    ::close(fd);
  });
  int whole = 0, refused = 0, cut = 0;
  std::vector<std::uint8_t> buffer(bytes);
  for (int round = 0; round < 20000 && cut == 0; ++round) {
    std::fill(buffer.begin(), buffer.end(), 0x5A);
    try {
      image->ReadSectors(toc.LeadOutLsn - count, count, buffer);
      if (buffer == expected)
        ++whole;
      else
        ++cut;
    } catch (const ECdromError&) {
      ++refused;
    }
  }
  stop = true;
  other.join();
  EXPECT_EQ(cut, 0) << whole << " whole reads, " << refused << " refused";
}

TEST(DiscImageTest, RejectsBrokenImagesWithAClearMessage) {
  TempDir dir;
  const std::string good = dir / "good.cue";
  const CdToc toc = WriteDiscImage(qv::testing::AudioDisc(), good);
  const std::string goodBin = dir / "good.bin";
  const std::uintmax_t binSize = std::filesystem::file_size(goodBin);
  std::filesystem::create_directory(dir / "folder.cue");
  std::filesystem::copy_file(goodBin, dir / "odd.bin");
  std::filesystem::resize_file(dir / "odd.bin", binSize - 1);
  std::filesystem::copy_file(goodBin, dir / "short.bin");
  std::filesystem::resize_file(dir / "short.bin",
                               std::uintmax_t{toc.Tracks[2].StartLsn} * kCdSectorBytes);

  const std::string tracks = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  const struct {
    const char* name;
    std::string cue;  // empty: the path itself is the case
    const char* path;
    const char* message;
  } cases[] = {
      {"missing cue", "", "absent.cue", "cannot be opened"},
      {"cue is a folder", "", "folder.cue", "is not a file"},
      {"missing BIN", "FILE \"absent.bin\" BINARY\n" + tracks, "a.cue",
       "absent.bin cannot be opened"},
      {"BIN not whole sectors", "FILE \"odd.bin\" BINARY\n" + tracks, "b.cue", "truncated"},
      {"BIN ends before the last track",
       "FILE \"short.bin\" BINARY\n" + tracks +
           "  TRACK 02 AUDIO\n    INDEX 01 00:02:50\n  TRACK 03 AUDIO\n    INDEX 01 00:02:51\n",
       "c.cue", "ends before track 3"},
      {"malformed", "FILE \"good.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00\n", "e.cue",
       "malformed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.cue.empty()) qv::testing::WriteText(dir / c.path, c.cue);
    try {
      (void)DiscImage::Open(dir / c.path);
      ADD_FAILURE() << "opened";
    } catch (const ECdromError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

// The sheet and the BIN file swapped back and forth for named pipes while images are opened
// (the checks and the opens racing the swaps): every open ends, with the image or an error,
// and none waits on a pipe. Run in a child process that its alarm ends should it hang.
TEST(DiscImageTest, FilesSwappedForPipesNeverStopAnOpen) {
  TempDir dir;
  (void)WriteDiscImage(qv::testing::AudioDisc(), dir / "disc.cue");
  std::filesystem::copy_file(dir / "disc.cue", dir / "sheet");
  ASSERT_EQ(::link((dir / "disc.bin").c_str(), (dir / "audio").c_str()), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(120);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      const auto swap = [&](const char* name, const char* real) {
        const std::string to = dir / name, tmp = dir / (std::string(name) + ".new");
        (void)::link((dir / real).c_str(), tmp.c_str());
        (void)::rename(tmp.c_str(), to.c_str());
        (void)::mkfifo(tmp.c_str(), 0600);
        (void)::rename(tmp.c_str(), to.c_str());
      };
      while (!stop) {
        swap("disc.cue", "sheet");
        swap("disc.bin", "audio");
      }
    });
    for (int i = 0; i < 400; ++i) {
      try {
        (void)DiscImage::Open(dir / "disc.cue");
      } catch (const ECdromError&) {
      }
    }
    stop = true;
    swapper.join();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an open waited on a named pipe";
}

TEST(DiscImageTest, ReadsTheFileTheSheetNamesWhateverTheSheetIsCalled) {
  TempDir dir;
  const CdToc toc = WriteDiscImage(qv::testing::AudioDisc(), dir / "disc.cue");
  // A decoy named after the new sheet: the sheet's own FILE line must win.
  DiscSpec decoy = qv::testing::AudioDisc();
  decoy.Seed = 99;
  (void)WriteDiscImage(decoy, dir / "Other Name.cue");
  std::filesystem::copy_file(dir / "disc.cue", dir / "Other Name.cue",
                             std::filesystem::copy_options::overwrite_existing);
  const auto image = DiscImage::Open(dir / "Other Name.cue");
  EXPECT_EQ(image->Toc(), toc);
  EXPECT_EQ(image->BinPath(), dir / "disc.bin");
  const std::vector<unsigned char> bin = qv::testing::ReadBytes(dir / "disc.bin");
  std::vector<std::uint8_t> sector(kCdSectorBytes);
  for (const std::uint32_t lsn : {0u, toc.LeadOutLsn - 1}) {
    image->ReadSectors(lsn, 1, sector);
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(),
                           bin.begin() + std::ptrdiff_t{lsn} * kCdSectorBytes));
  }
}

}  // namespace
}  // namespace qv
