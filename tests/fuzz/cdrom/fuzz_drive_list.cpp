// The QUORVEL_CDROM value as the drive list takes it, and each image it names as a drive: a
// list of any text gives at most 23 drives lettered from D, each a non-empty absolute path,
// and asking such a drive for its disc either answers or throws ECdromError. Relative names
// are taken in a scratch folder holding one small image, "disc.cue".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/cdrom/cdrom_error.h"
#include "platform/cdrom/drive_list.h"
#include "platform/cdrom/image_drive.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    const std::string dir = qv::fuzz::ScratchDir();
    qv::fuzz::WriteFile(dir + "disc.cue",
                        "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                        "  TRACK 02 AUDIO\n    INDEX 01 00:00:30\n");
    const int fd = ::open((dir + "disc.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, 60 * 2352) != 0) std::abort();
    ::close(fd);
    ::mkdir((dir + "dev").c_str(), 0700);  // no real drive joins the list
    return dir;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& dir = Folder();
  // The list is read from the scratch folder; the fuzzer's own files are named from where it
  // was started.
  const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home < 0 || ::chdir(dir.c_str()) != 0) std::abort();
  const auto drives = qv::ListDrives(qv::fuzz::Text(data, size), dir + "dev");
  if (drives.size() > qv::kMaxDrives) __builtin_trap();
  for (std::size_t i = 0; i < drives.size(); ++i) {
    const qv::DriveInfo& d = drives[i];
    if (d.Letter != char('D' + i) || d.Kind != qv::DriveKind::Image) __builtin_trap();
    if (d.Path.empty() || d.Path.front() != '/' || d.Path.find(';') != std::string::npos)
      __builtin_trap();
    // Only names inside the scratch folder are opened: elsewhere the input could name any
    // file of the machine.
    if (d.Path.rfind(dir, 0) != 0) continue;
    qv::ImageDrive drive(d);
    try {
      if (drive.GetMediaStatus().State == qv::MediaState::Present)
        if (drive.ReadToc().Tracks.empty()) __builtin_trap();
    } catch (const qv::ECdromError&) {
    }
  }
  if (::fchdir(home) != 0) std::abort();
  ::close(home);
  return 0;
}
