#include "tools/cddb/cddb_gendb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <stdexcept>

#include "cddb/localcddb_xmcd.h"

namespace qv {

namespace {

constexpr std::array<const char*, 11> kCategories = {"blues",  "classical", "country",   "data",
                                                     "folk",   "jazz",      "misc",      "newage",
                                                     "reggae", "rock",      "soundtrack"};

void WriteWhole(const std::string& path, const std::string& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) {
      ::close(fd);
      throw std::runtime_error("cannot write " + path);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) throw std::runtime_error("cannot write " + path);
}

void MakeDir(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
    throw std::runtime_error("cannot create " + path);
}

TTOCEntry Msf(int frames, bool audio) {
  return TTOCEntry{static_cast<std::uint8_t>(frames / 4500),
                   static_cast<std::uint8_t>(frames / 75 % 60),
                   static_cast<std::uint8_t>(frames % 75), audio};
}

}  // namespace

std::vector<GeneratedDisc> GenerateDatabase(const std::string& rootPath,
                                            const GenerateOptions& options) {
  const std::string root = rootPath.back() == '/' ? rootPath : rootPath + "/";
  MakeDir(root);
  for (const char* category : kCategories) MakeDir(root + category);

  std::mt19937 rng(options.Seed);
  std::uniform_int_distribution<int> trackCount(1, 25);
  std::uniform_int_distribution<int> category(0, kCategories.size() - 1);
  std::set<std::pair<int, std::string>> used;
  std::map<int, std::map<std::string, std::string>> groups;  // lctWIN: category -> id -> text
  std::vector<GeneratedDisc> kept;
  TEntryArray lines;
  TCDInfo info;
  info.Year = "2000";
  info.Genre = "Generated";

  for (std::size_t n = 0; n < options.Count;) {
    const int tracks = trackCount(rng);
    int at = 150 + std::uniform_int_distribution<int>(0, 300)(rng);
    // Up to 80 minutes a disc, so that every entry fits the length index.
    const int longest = std::clamp(4800 / tracks, 60, 420) * 75;
    info.TOC = TCDTOC{};
    info.TOC.TrackCount = static_cast<std::uint8_t>(tracks);
    for (int t = 0; t < tracks; ++t) {
      info.TOC.Tracks[t] = Msf(at, true);
      at += std::uniform_int_distribution<int>(60 * 75, longest)(rng);
    }
    info.TOC.LeadOut = Msf(at, false);
    info.DiscID = CddbDiscId(info.TOC);
    const int c = category(rng);
    if (!used.emplace(c, info.DiscID).second) continue;  // the same id twice in a category

    info.Category = kCategories[c];
    info.Artist = "Artist " + std::to_string(n);
    info.Title = "Album " + std::to_string(n);
    for (int t = 0; t < tracks; ++t) info.TrackTitles[t] = "Track " + std::to_string(t + 1);
    for (std::string& line : lines) line.clear();
    if (XmcdGenerate(info, "cddb_gendb", lines) != 0) throw std::logic_error("entry too big");
    const std::string text = XmcdJoinLines(lines);
    if (options.Layout == lctUNIX) {
      WriteWhole(root + info.Category + "/" + info.DiscID, text);
    } else {
      groups[c][info.DiscID] = text;
    }
    if (kept.size() < options.Keep) kept.push_back({info.Category, info.TOC});
    ++n;
  }
  for (const auto& [c, entries] : groups) {
    std::string group;
    for (const auto& [id, text] : entries) group += "#FILENAME=" + id + "\n" + text;
    WriteWhole(root + kCategories[c] + "/00toFF", group);
  }
  return kept;
}

}  // namespace qv
