#include "tools/mkdisc/disc_maker.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/cdrom/cdrom_error.h"

namespace qv {
namespace {

std::uint32_t Hash(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  std::uint64_t x = (std::uint64_t{a} * 0x9E3779B1u) ^ (std::uint64_t{b} << 32) ^ c;
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return static_cast<std::uint32_t>(x);
}

// Triangle wave in [-amplitude, amplitude] with the given period in samples.
int Triangle(std::uint64_t n, std::uint32_t period, int amplitude) {
  const std::uint32_t phase = static_cast<std::uint32_t>(n % period);
  const std::int64_t half = period / 2;
  const std::int64_t up = phase < half ? phase : period - phase;  // 0 .. half
  return static_cast<int>((up * 4 * amplitude) / period - amplitude);
}

void PutSample(std::uint8_t* at, int value) {
  const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint8_t Bcd(unsigned v) {
  return static_cast<std::uint8_t>((v / 10) << 4 | (v % 10));
}

std::string Msf(std::uint32_t frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 75 / 60, frames / 75 % 60,
                frames % 75);
  return text;
}

// A file written under a temporary name and renamed into place by `Commit`; removed otherwise.
class AtomicFile {
 public:
  explicit AtomicFile(const std::filesystem::path& path) : path_(path) {
    std::random_device random;
    temp_ = path.string() + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(random());
    do {
      fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw ECdromError("Cannot create " + temp_ + ": " + std::strerror(errno));
  }
  ~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_.c_str());
  }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void Write(std::span<const std::uint8_t> data) {
    while (!data.empty()) {
      const ssize_t n = ::write(fd_, data.data(), data.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw ECdromError("Cannot write " + temp_ + ": " + std::strerror(errno));
      data = data.subspan(static_cast<std::size_t>(n));
    }
  }

  void Commit() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw ECdromError("Cannot write " + temp_ + ": " + std::strerror(errno));
    if (::rename(temp_.c_str(), path_.c_str()) != 0)
      throw ECdromError("Cannot create " + path_.string() + ": " + std::strerror(errno));
    committed_ = true;
  }

 private:
  std::filesystem::path path_;
  std::string temp_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace

CdToc LayOutDisc(const DiscSpec& spec) {
  const std::size_t tracks = spec.AudioTracks.size() + (spec.DataSectors > 0 ? 1 : 0);
  if (tracks == 0) throw ECdromError("A disc needs at least one track");
  if (tracks > kCdMaxTracks) throw ECdromError("A disc holds at most 99 tracks");
  CdToc toc;
  std::uint64_t lsn = 0;
  for (std::size_t i = 0; i < spec.AudioTracks.size(); ++i) {
    const TrackSpec& t = spec.AudioTracks[i];
    if (t.Sectors == 0) throw ECdromError("Track " + std::to_string(i + 1) + " is empty");
    std::uint8_t control = 0;
    if (t.PreEmphasis) control |= kCdControlPreEmphasis;
    if (t.CopyPermitted) control |= kCdControlCopyPermitted;
    toc.Tracks.push_back(
        CdTocTrack{static_cast<std::uint8_t>(i + 1), static_cast<std::uint32_t>(lsn), control});
    lsn += t.Sectors;
  }
  if (spec.DataSectors > 0) {
    if (!spec.AudioTracks.empty()) lsn += spec.SessionGap;
    toc.Tracks.push_back(CdTocTrack{static_cast<std::uint8_t>(toc.Tracks.size() + 1),
                                    static_cast<std::uint32_t>(lsn), kCdControlData});
    lsn += spec.DataSectors;
  }
  if (lsn + kCdLeadInFrames > kCdMaxAbsoluteFrame)
    throw ECdromError("The disc is longer than 99:59:74");
  toc.LeadOutLsn = static_cast<std::uint32_t>(lsn);
  ValidateToc(toc);
  return toc;
}

void FillAudioSector(std::uint32_t seed, std::uint8_t track, std::uint32_t sector,
                     std::span<std::uint8_t> out) {
  // About 440 Hz for track 1, a little higher for every further track.
  const std::uint32_t period = 100 - (track % 40);
  for (std::uint32_t i = 0; i < kCdSectorBytes / 4; ++i) {
    const std::uint64_t n = std::uint64_t{sector} * (kCdSectorBytes / 4) + i;
    const std::uint32_t noise = Hash(seed, track, static_cast<std::uint32_t>(n));
    const int left = Triangle(n, period, 6000) + static_cast<int>(noise & 0x7F) - 64;
    const int right =
        Triangle(n + period / 4, period, 6000) + static_cast<int>((noise >> 8) & 0x7F) - 64;
    PutSample(&out[i * 4], left);
    PutSample(&out[i * 4 + 2], right);
  }
}

void FillDataSector(std::uint32_t lsn, std::span<std::uint8_t> out) {
  std::memset(out.data(), 0, kCdSectorBytes);
  std::memset(out.data() + 1, 0xFF, 10);  // sync: 00, ten FF, 00
  const CdMsf at = AbsoluteToMsf(lsn + kCdLeadInFrames);
  out[12] = Bcd(at.Minute);
  out[13] = Bcd(at.Second);
  out[14] = Bcd(at.Frame);
  out[15] = 1;  // mode 1
}

std::string CueSheetText(const CdToc& toc, const DiscSpec& spec, const std::string& binName) {
  std::string cue = "FILE \"" + binName + "\" BINARY\n";
  for (std::size_t i = 0; i < toc.Tracks.size(); ++i) {
    const CdTocTrack& t = toc.Tracks[i];
    char number[4];
    std::snprintf(number, sizeof number, "%02u", t.Number);
    cue += std::string("  TRACK ") + number + (t.IsData() ? " MODE1/2352\n" : " AUDIO\n");
    if (t.Control & (kCdControlPreEmphasis | kCdControlCopyPermitted)) {
      cue += "    FLAGS";
      if (t.Control & kCdControlCopyPermitted) cue += " DCP";
      if (t.Control & kCdControlPreEmphasis) cue += " PRE";
      cue += "\n";
    }
    // The gap before a second session is in the file as the data track's pregap.
    if (t.IsData() && i > 0 && spec.SessionGap > 0)
      cue += "    INDEX 00 " + Msf(t.StartLsn - spec.SessionGap) + "\n";
    cue += "    INDEX 01 " + Msf(t.StartLsn) + "\n";
  }
  return cue;
}

CdToc WriteDiscImage(const DiscSpec& spec, const std::filesystem::path& cuePath) {
  const CdToc toc = LayOutDisc(spec);
  std::filesystem::path binPath = cuePath;
  binPath.replace_extension(".bin");
  if (binPath == cuePath) throw ECdromError("The cue sheet must not end in .bin");
  for (const std::filesystem::path& p : {cuePath, binPath}) {
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) throw ECdromError(p.string() + " is a folder");
  }

  AtomicFile bin(binPath);
  std::vector<std::uint8_t> buffer(75 * kCdSectorBytes);
  std::size_t used = 0;
  auto flush = [&] {
    bin.Write(std::span<const std::uint8_t>(buffer.data(), used));
    used = 0;
  };
  // Sectors before `dataFrom` are audio; from there on the data track, its pregap included.
  const bool hasData = toc.Tracks.back().IsData();
  const std::uint32_t dataFrom =
      !hasData ? toc.LeadOutLsn
               : toc.Tracks.back().StartLsn - (toc.Tracks.size() > 1 ? spec.SessionGap : 0);
  std::size_t track = 0;
  for (std::uint32_t lsn = 0; lsn < toc.LeadOutLsn; ++lsn) {
    std::span<std::uint8_t> sector(buffer.data() + used, kCdSectorBytes);
    if (lsn >= dataFrom) {
      FillDataSector(lsn, sector);
    } else {
      while (track + 1 < toc.Tracks.size() && toc.Tracks[track + 1].StartLsn <= lsn) ++track;
      const CdTocTrack& t = toc.Tracks[track];
      FillAudioSector(spec.Seed, t.Number, lsn - t.StartLsn, sector);
    }
    used += kCdSectorBytes;
    if (used == buffer.size()) flush();
  }
  flush();

  AtomicFile cue(cuePath);
  const std::string text = CueSheetText(toc, spec, binPath.filename().string());
  cue.Write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                          text.size()));
  bin.Commit();
  try {
    cue.Commit();
  } catch (const ECdromError&) {
    // A BIN file without its sheet is no image; don't leave it behind.
    ::unlink(binPath.c_str());
    throw;
  }
  return toc;
}

std::uint32_t CddbDiscId(const CdToc& toc) {
  std::uint32_t n = 0;
  for (const CdTocTrack& t : toc.Tracks)
    for (std::uint32_t s = (t.StartLsn + kCdLeadInFrames) / kCdFramesPerSecond; s > 0; s /= 10)
      n += s % 10;
  const std::uint32_t first =
      toc.Tracks.empty() ? 0 : (toc.Tracks.front().StartLsn + kCdLeadInFrames) / kCdFramesPerSecond;
  const std::uint32_t seconds = (toc.LeadOutLsn + kCdLeadInFrames) / kCdFramesPerSecond - first;
  return (n % 255) << 24 | seconds << 8 | static_cast<std::uint32_t>(toc.Tracks.size());
}

std::string DescribeDisc(const CdToc& toc) {
  char id[16];
  std::snprintf(id, sizeof id, "%08x", CddbDiscId(toc));
  std::string text = std::string(id) + " " + std::to_string(toc.Tracks.size());
  for (const CdTocTrack& t : toc.Tracks) text += " " + std::to_string(t.StartLsn + kCdLeadInFrames);
  text += " " + std::to_string((toc.LeadOutLsn + kCdLeadInFrames) / kCdFramesPerSecond) + "\n";
  for (std::size_t i = 0; i < toc.Tracks.size(); ++i) {
    const CdTocTrack& t = toc.Tracks[i];
    char line[128];
    std::snprintf(line, sizeof line, "TRACK %02u %-5s LSN %6u MSF %s SECTORS %u%s%s\n", t.Number,
                  t.IsData() ? "DATA" : "AUDIO", t.StartLsn,
                  Msf(t.StartLsn + kCdLeadInFrames).c_str(), toc.TrackSectors(i),
                  (t.Control & kCdControlPreEmphasis) ? " PRE" : "",
                  (t.Control & kCdControlCopyPermitted) ? " COPY" : "");
    text += line;
  }
  text += "LEADOUT        LSN " + std::to_string(toc.LeadOutLsn) + " MSF " +
          Msf(toc.LeadOutLsn + kCdLeadInFrames) + "\n";
  return text;
}

std::uint32_t ParseLength(const std::string& text) {
  const auto bad = [&text]() { return ECdromError("Invalid length \"" + text + "\""); };
  if (text.empty()) throw bad();
  std::string number = text;
  const bool frames = number.back() == 'f' || number.back() == 'F';
  if (frames || number.back() == 's' || number.back() == 'S') number.pop_back();
  if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos ||
      (frames && number.find('.') != std::string::npos) ||
      std::count(number.begin(), number.end(), '.') > 1 || number.size() > 12)
    throw bad();
  const double value = std::strtod(number.c_str(), nullptr);
  const double sectors = frames ? value : std::round(value * kCdFramesPerSecond);
  if (!(sectors >= 1) || sectors > kCdMaxAbsoluteFrame) throw bad();
  return static_cast<std::uint32_t>(sectors);
}

}  // namespace qv
