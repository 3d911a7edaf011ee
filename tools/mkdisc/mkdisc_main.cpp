// qv-mkdisc: writes a cue/bin audio-CD image and prints its CDDB disc id and table of contents.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/cdrom/cdrom_error.h"
#include "tools/mkdisc/disc_maker.h"

namespace {

constexpr const char* kUsage =
    "usage: qv-mkdisc [options] OUT.cue LENGTH...\n"
    "  Writes OUT.cue and OUT.bin: one audio track per LENGTH (seconds such as 30 or 2.5,\n"
    "  or sectors such as 1200f), then prints the disc id and table of contents.\n"
    "  --data LENGTH    add a data track after the audio (CD-Extra layout)\n"
    "  --gap SECTORS    sectors between the audio and the data track, kept in the file as the\n"
    "                   data track's pregap (default 11400: a second session; fewer, or 0,\n"
    "                   put the data track in the audio's session)\n"
    "  --pre LIST       audio tracks with pre-emphasis, e.g. 1,3\n"
    "  --copy LIST      audio tracks with digital copy permitted\n"
    "  --seed N         vary the audio\n";

std::vector<std::size_t> ParseTrackList(const std::string& text) {
  std::vector<std::size_t> tracks;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::string item = text.substr(pos, comma - pos);
    if (item.empty() || item.size() > 2 ||
        item.find_first_not_of("0123456789") != std::string::npos)
      throw qv::ECdromError("Invalid track list \"" + text + "\"");
    tracks.push_back(std::stoul(item));
    pos = comma + 1;
  }
  return tracks;
}

std::uint32_t ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    throw qv::ECdromError("Invalid number \"" + text + "\"");
  return static_cast<std::uint32_t>(std::stoul(text));
}

int Run(int argc, char** argv) {
  qv::DiscSpec spec;
  std::vector<std::size_t> pre, copy;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue =
        arg == "--data" || arg == "--gap" || arg == "--pre" || arg == "--copy" || arg == "--seed";
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (takesValue) {
      if (i + 1 >= argc) throw qv::ECdromError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--data") spec.DataSectors = qv::ParseLength(value);
      if (arg == "--gap") spec.SessionGap = ParseCount(value);
      if (arg == "--pre") pre = ParseTrackList(value);
      if (arg == "--copy") copy = ParseTrackList(value);
      if (arg == "--seed") spec.Seed = ParseCount(value);
    } else if (arg.size() > 1 && arg[0] == '-' &&
               arg.find_first_not_of("0123456789.fFsS", 1) != std::string::npos) {
      throw qv::ECdromError("Unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() < 2 && !(positional.size() == 1 && spec.DataSectors > 0)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  for (std::size_t i = 1; i < positional.size(); ++i)
    spec.AudioTracks.push_back(qv::TrackSpec{qv::ParseLength(positional[i])});
  auto mark = [&spec](const std::vector<std::size_t>& list, bool qv::TrackSpec::*flag) {
    for (std::size_t n : list) {
      if (n < 1 || n > spec.AudioTracks.size())
        throw qv::ECdromError("There is no audio track " + std::to_string(n));
      spec.AudioTracks[n - 1].*flag = true;
    }
  };
  mark(pre, &qv::TrackSpec::PreEmphasis);
  mark(copy, &qv::TrackSpec::CopyPermitted);

  const qv::CdToc toc = qv::WriteDiscImage(spec, positional[0]);
  std::fputs(qv::DescribeDisc(toc).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qv-mkdisc: %s\n", e.what());
    return 1;
  }
}
