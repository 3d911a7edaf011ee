#include "cddb/localcddb.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <mutex>
#include <system_error>
#include <thread>

#include "cddb/localcddb_xmcd.h"
#include "cddb/tblockfile.h"
#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"

namespace qv {

namespace {

constexpr const char* kCategoryIndex = "Cat.idx";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

int HexValue(std::string_view digits) {
  int value = 0;
  for (const char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return -1;
    value = value * 16 + d;
  }
  return digits.empty() ? -1 : value;
}

std::string Hex(int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*x", width, value);
  return text;
}

std::string TrackIndexName(int tracks) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d.idx", tracks);
  return text;
}

long RoundHalfEven(double value) {
  return std::lrint(value);
}  // default mode: to nearest even

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Calls `visit(name, isDirectory)` for each name in `dir` but "." and "..". Symbolic links
// are not followed, so a category never leads outside the root.
template <typename Visit>
void ForEachEntry(const std::string& dir, Visit&& visit) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    bool isDir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st {};
      isDir = ::lstat((dir + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    visit(name, isDir);
  }
  ::closedir(d);
}

// `name` as it exists in `dir`: an exact match wins, else the first name equal without regard
// to case (file systems here are case-sensitive; databases copied from elsewhere may not be).
// Empty when there is none.
std::string ResolveName(const std::string& dir, const std::string& name) {
  if (Exists(dir + name)) return name;
  std::string best;
  ForEachEntry(dir, [&](std::string_view entry, bool) {
    if (entry.size() == name.size() && ::strncasecmp(entry.data(), name.data(), name.size()) == 0 &&
        (best.empty() || entry < best))
      best = std::string(entry);
  });
  return best;
}

enum class ReadResult { Read, Unreadable, TooLarge };

// The whole of a regular file of at most `limit` bytes. A named pipe or a device where a
// database file should be is refused without waiting in the open.
ReadResult ReadWholeFile(const std::string& path, std::string& data, std::int64_t limit) {
  data.clear();
  int fd;
  try {
    fd = OpenRegularFile(path);
  } catch (const Exception&) {
    return ReadResult::Unreadable;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return ReadResult::Unreadable;
  }
  if (st.st_size > limit) {
    ::close(fd);
    return ReadResult::TooLarge;
  }
  data.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  ReadResult result = ReadResult::Read;
  for (;;) {
    if (got == data.size()) {  // the file may have grown
      if (static_cast<std::int64_t>(got) >= limit) {
        // One byte more tells whether it really is too large.
        char extra;
        ssize_t n;
        while ((n = ::read(fd, &extra, 1)) < 0 && errno == EINTR) {
        }
        if (n != 0) result = n > 0 ? ReadResult::TooLarge : ReadResult::Unreadable;
        break;
      }
      data.resize(static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(data.size()) + 4096, limit)));
    }
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = ReadResult::Unreadable;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  data.resize(got);
  if (result == ReadResult::Read && got < static_cast<std::size_t>(st.st_size))
    result = ReadResult::Unreadable;
  if (result != ReadResult::Read) data.clear();
  return result;
}

// Writes `data` to a new file beside `path` and renames it over `path`, so that readers and a
// crash see either the old or the new file. 0, -3 (cannot create), -4 (cannot write it all).
int ReplaceDatabaseFile(const std::string& path, std::string_view data) {
  // An index rebuilt as it was is left alone: no new file, no rename, for each of the hundred.
  if (std::string old;
      ReadWholeFile(path, old, static_cast<std::int64_t>(data.size())) == ReadResult::Read &&
      old == data)
    return 0;
  std::string temp;
  int fd;
  try {
    fd = CreateTempNextTo(path, temp);
  } catch (const Exception&) {
    return -3;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (done < data.size() || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return -4;
  }
  return 0;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// A group file name "XXtoYY": the bounds of the identifier's first byte, or false.
bool GroupRange(std::string_view name, int& lo, int& hi) {
  if (name.size() != 6 || ::strncasecmp(name.data() + 2, "to", 2) != 0) return false;
  lo = HexValue(name.substr(0, 2));
  hi = HexValue(name.substr(4, 2));
  return lo >= 0 && hi >= 0;
}

// The group file in `dir` that takes identifiers starting with byte `first`; empty if none.
std::string FindGroupFile(const std::string& dir, int first) {
  std::string found;
  ForEachEntry(dir, [&](std::string_view name, bool isDir) {
    int lo, hi;
    if (!isDir && GroupRange(name, lo, hi) && lo <= first && first <= hi &&
        (found.empty() || name < found))
      found = std::string(name);
  });
  return found;
}

// Where each "#FILENAME=<id>" line of a group file starts, with its identifier (lower case).
struct GroupEntry {
  std::size_t start;
  std::string id;
};
std::vector<GroupEntry> GroupEntries(std::string_view text) {
  static constexpr std::string_view kMark = "#FILENAME=";
  std::vector<GroupEntry> entries;
  std::size_t at = 0;
  while ((at = text.find(kMark, at)) != std::string_view::npos) {
    if (at == 0 || text[at - 1] == '\n') {
      const std::string id(text.substr(at + kMark.size(), 8));
      if (IsValidDiscId(id)) entries.push_back({at, Lower(id)});
    }
    at += kMark.size();
  }
  return entries;
}

std::string TooLongText(const std::string& id, int length) {
  char text[256];
  std::snprintf(text, sizeof text,
                "ERROR assigning into info string: Couldn't add entry %s into the index. Error "
                "message: '%s'. Disc length = %d seconds\n",
                id.c_str(), "Disc too long to fit any CD specifications", length);
  return text;
}

// A file past its bound is not read, and the category folder's log says which and what became
// of it: an entry is skipped, as a server's answer past the bound would be.
void LogTooLarge(const std::string& categoryDir, const std::string& what, std::int64_t limit,
                 const std::string& outcome = "it is skipped") {
  TLocalCDDB::WriteLog(categoryDir + "index.log",
                       what + " is larger than " + std::to_string(limit) + " bytes; " + outcome);
}
void LogTooLarge(const std::string& categoryDir, const std::string& entry) {
  LogTooLarge(categoryDir, "Entry " + entry, TLocalCDDB::kMaxEntryBytes);
}

// An entry of a track index as one number that sorts in the index's order: the track count,
// the disc length, the category letter, the identifier's first byte.
std::uint64_t IndexKey(std::string_view id, int letter) {
  const auto length = static_cast<std::uint64_t>(HexValue(id.substr(2, 4)));
  const auto tracks = static_cast<std::uint64_t>(HexValue(id.substr(6, 2)));
  return tracks << 32 | length << 13 | static_cast<std::uint64_t>(letter) << 8 |
         static_cast<std::uint64_t>(HexValue(id.substr(0, 2)));
}

// The index keys of the entries in one category folder, sorted; a disc too long to index is
// logged in the folder's own log, in the order the folder lists it. `id` is 8 hexadecimal
// digits in either case.
void ScanCategory(const std::string& categoryDir, int letter, bool windowsLayout,
                  std::vector<std::uint64_t>& keys) {
  const auto add = [&](std::string_view id) {
    const int length = HexValue(id.substr(2, 4));
    const int tracks = HexValue(id.substr(6, 2));
    if (length > TLocalCDDB::kMaxIndexedLength) {
      TLocalCDDB::WriteLog(categoryDir + "index.log", TooLongText(Lower(std::string(id)), length));
    } else if (tracks >= 1 && tracks <= 99) {
      keys.push_back(IndexKey(id, letter));
    }
  };
  ForEachEntry(categoryDir, [&](std::string_view name, bool isDir) {
    if (isDir) return;
    int lo, hi;
    if (!windowsLayout && IsValidDiscId(name)) {
      add(name);
    } else if (windowsLayout && GroupRange(name, lo, hi)) {
      std::string content;
      const std::string path = categoryDir + std::string(name);
      const ReadResult read = ReadWholeFile(path, content, TLocalCDDB::kMaxGroupFileBytes);
      if (read == ReadResult::TooLarge) {
        LogTooLarge(categoryDir, "Group file " + path, TLocalCDDB::kMaxGroupFileBytes);
        return;
      }
      if (read != ReadResult::Read) {
        TLocalCDDB::WriteLog(categoryDir + "index.log",
                             "ERROR: couldn't open file " + std::string(name) + ".\n");
        return;
      }
      for (const GroupEntry& e : GroupEntries(content)) add(e.id);
    }
  });
  std::sort(keys.begin(), keys.end());
}

// One sorted list of sorted lists, merged in pairs.
std::vector<std::uint64_t> MergeSorted(std::vector<std::vector<std::uint64_t>> lists) {
  if (lists.empty()) return {};
  while (lists.size() > 1) {
    std::vector<std::vector<std::uint64_t>> next;
    for (std::size_t k = 0; k + 1 < lists.size(); k += 2) {
      std::vector<std::uint64_t> merged(lists[k].size() + lists[k + 1].size());
      std::merge(lists[k].begin(), lists[k].end(), lists[k + 1].begin(), lists[k + 1].end(),
                 merged.begin());
      next.push_back(std::move(merged));
    }
    if (lists.size() % 2 != 0) next.push_back(std::move(lists.back()));
    lists = std::move(next);
  }
  return std::move(lists.front());
}

// Calls `work(k)` for every k below `count`, on as many threads as there are processors (the
// calling thread among them); the first failure is raised again once all have ended.
template <typename Work>
void ForEachInParallel(std::size_t count, Work&& work) {
  std::atomic<std::size_t> next{0};
  std::mutex lock;
  std::exception_ptr failure;
  const auto run = [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < count;) {
      try {
        work(k);
      } catch (...) {
        std::lock_guard guard(lock);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  const std::size_t threads =
      std::min<std::size_t>(count, std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> helpers;
  for (std::size_t k = 1; k < threads; ++k) {
    try {
      helpers.emplace_back(run);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the others share the work
    }
  }
  run();
  for (std::thread& t : helpers) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void TIDList::Add(const std::string& id) {
  const auto at = std::lower_bound(FItems.begin(), FItems.end(), id);
  if (at != FItems.end() && *at == id) return;
  FItems.insert(at, id);
}

TLocalCDDB::TLocalCDDB() = default;

void TLocalCDDB::SetRoot(const std::string& path) {
  std::string root = path.empty() ? "./" : path;
  std::replace(root.begin(), root.end(), '\\', '/');
  if (root.back() != '/') root += '/';
  FRoot = root;
  FInitialized = ReadCategories();
  // A root that does not exist yet is a database not started yet, which `BuildIndex` and
  // `WriteEntry` create; only a folder without its category index is worth a log line.
  if (!FInitialized && FRoot != "./" && IsDirectory(FRoot)) {
    WriteLog(FRoot + "index.log", "Error => Cannot find the file " + FRoot + kCategoryIndex);
  }
}

std::string TLocalCDDB::CategoryIndexName() const {
  const std::string existing = ResolveName(FRoot, kCategoryIndex);
  return existing.empty() ? "cat.idx" : existing;
}

bool TLocalCDDB::ReadCategories() {
  FCategories = {};
  const std::string name = ResolveName(FRoot, kCategoryIndex);
  std::string text;
  if (name.empty() || ReadWholeFile(FRoot + name, text, kMaxEntryBytes) != ReadResult::Read)
    return false;
  std::size_t letter = 0;
  for (const std::string_view line : SplitLines(text)) {
    if (letter >= FCategories.size()) break;
    // A name that could leave the root leaves its letter unusable instead of shifting others.
    if (IsValidCategory(line)) FCategories[letter] = std::string(line);
    ++letter;
  }
  return true;
}

int TLocalCDDB::ParseEntry(TCDInfo& info, const TEntryArray& lines) const {
  return XmcdParse(info, lines);
}

int TLocalCDDB::GenerateEntry(const TCDInfo& info, TEntryArray& lines) const {
  return XmcdGenerate(info, FClient, lines);
}

int TLocalCDDB::CompareTOC(const TCDTOC& a, const TCDTOC& b) {
  // A stored entry with another number of tracks is another disc (and has no B[i] to match).
  if (a.TrackCount != b.TrackCount || a.TrackCount > a.Tracks.size()) return 0;
  const auto lengths = [](const TCDTOC& toc) {
    std::vector<long> list;
    for (int i = 0; i < toc.TrackCount; ++i) {
      const long offset = FrameOffset(toc.Tracks[i]);
      list.push_back(i == 0 ? offset : offset - FrameOffset(toc.Tracks[i - 1]));
    }
    return list;
  };
  const std::vector<long> la = lengths(a), lb = lengths(b);
  long sumD = 0, sumB = 0;
  for (std::size_t i = 0; i < lb.size(); ++i) {
    const long d = std::labs(la[i] - lb[i]);
    const long allowed = std::max(40L, RoundHalfEven(lb[i] * kTrackTolerance / 100));
    if (d > allowed) return 0;
    sumD += d;
    sumB += lb[i];
  }
  if (sumD > RoundHalfEven(sumB * kTotalTolerance / 100)) return 0;
  return sumD > 0 ? 2 : 1;
}

int TLocalCDDB::ReadEntryText(const std::string& category, const std::string& id,
                              std::string& text) const {
  const std::string categoryName = ResolveName(FRoot, category);
  const std::string dir = FRoot + (categoryName.empty() ? category : categoryName) + "/";
  if (FWindowsLayout) {
    const std::string group = FindGroupFile(dir, HexValue(std::string_view(id).substr(0, 2)));
    if (group.empty()) return -2;
    TSearchFile file;
    file.SetFileName(dir + group);
    if (!file.Open()) return -2;
    try {
      for (const std::string& mark : {"#FILENAME=" + Lower(id), "#FILENAME=" + Upper(id)}) {
        file.Seek(0);
        while (file.Find(mark)) {
          const std::int64_t at = file.FilePos();
          std::string before;
          if (at > 0) {
            file.Seek(at - 1);
            file.Read(1, before);
          }
          std::string line;
          file.ReadLn(line);  // moves past the line, whichever line end it has
          if (!line.empty() && line.back() == '\r') line.pop_back();
          if ((at > 0 && before != "\n") || line != mark) {
            file.Seek(at + 1);
            continue;
          }
          const std::int64_t start = file.FilePos();
          file.Find("#FILENAME=");  // the next entry, or the end of the file
          const std::int64_t end = file.FilePos();
          if (end - start > kMaxEntryBytes) {
            LogTooLarge(dir, dir + group + " (" + id + ")");
            return -3;
          }
          file.Seek(start);
          file.Read(end - start, text);
          return 0;
        }
      }
    } catch (const Exception&) {
      return -3;
    }
    return -3;
  }
  const std::string name = ResolveName(dir, id);
  if (name.empty()) return -3;
  const ReadResult read = ReadWholeFile(dir + name, text, kMaxEntryBytes);
  if (read == ReadResult::TooLarge) LogTooLarge(dir, dir + name);
  return read == ReadResult::Read ? 0 : -3;
}

int TLocalCDDB::ReadEntry(TCDInfo& info) {
  if (!IsValidCategory(info.Category) || !IsValidDiscId(info.DiscID)) return -1;
  const std::string id = Lower(info.DiscID);
  std::string text;
  if (const int code = ReadEntryText(info.Category, id, text); code < 0) return code;
  TEntryArray lines;
  XmcdSplitText(text, lines);  // raw: decoded value by value
  const TCDTOC toc = info.TOC;
  const int result = XmcdParse(info, lines);
  info.TOC = toc;
  info.DiscID = id;
  return result;
}

int TLocalCDDB::ReadCandidate(const std::string& category, const std::string& id,
                              TCDInfo& info) const {
  std::string text;
  if (const int code = ReadEntryText(category, id, text); code < 0) return code;
  TEntryArray lines;
  XmcdSplitText(text, lines);  // raw: decoded value by value
  info.Category = category;
  return XmcdParse(info, lines);
}

void TLocalCDDB::CompareCandidates(const std::array<TIDList, 26>& lists, const TCDTOC& disc,
                                   TExtendedMatches& found) const {
  for (std::size_t letter = 0; letter < lists.size(); ++letter) {
    for (const std::string& id : lists[letter].Items()) {
      TCDInfo candidate;
      // An entry that does not parse has no trustworthy TOC to compare.
      if (ReadCandidate(FCategories[letter], id, candidate) != 0) continue;
      const int result = CompareTOC(candidate.TOC, disc);
      if (result == 0) continue;
      TExtendedMatch match;
      match.Category = FCategories[letter];
      match.DiscID = id;
      match.Exact = result == 1;
      found.push_back(match);
    }
  }
}

int TLocalCDDB::Query(const TCDInfo& info, TLocalMatchArray& matches) {
  matches = {};
  if (!FInitialized) return -2;
  if (!IsValidDiscId(info.DiscID)) return -1;
  const std::string id = Lower(info.DiscID);
  const int length = HexValue(std::string_view(id).substr(2, 4));
  const int tracks = HexValue(std::string_view(id).substr(6, 2));
  const std::string checksum = id.substr(0, 2);
  if (tracks < 1 || tracks > 99) return -1;

  const std::string indexName = ResolveName(FRoot, TrackIndexName(tracks));
  TSearchFile index;
  index.SetFileName(indexName.empty() ? std::string() : FRoot + indexName);
  if (!index.Open()) return -1;

  const auto usable = [&](char letter) {
    return letter >= 'a' && letter <= 'z' && !FCategories[letter - 'a'].empty();
  };
  // Every index line as (length, entries); lines that do not parse are skipped.
  std::vector<std::pair<int, std::string>> lines;
  try {
    std::string line;
    while (!index.Eof()) {
      index.ReadLn(line);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() < 5 || line[0] != 'L') continue;
      const int lineLength = HexValue(std::string_view(line).substr(1, 4));
      if (lineLength >= 0) lines.emplace_back(lineLength, line.substr(5));
    }
  } catch (const Exception&) {
    return -1;
  }

  TExtendedMatches found;
  std::array<TIDList, 26> exactLists;
  bool any = false;
  for (const auto& [lineLength, entries] : lines) {
    if (lineLength != length) continue;
    for (std::size_t k = 0; k + 3 <= entries.size(); k += 3) {
      const char letter = entries[k + 2];
      if (Lower(entries.substr(k, 2)) != checksum || !usable(letter)) continue;
      if (!info.Category.empty() && info.Category != FCategories[letter - 'a']) continue;
      exactLists[letter - 'a'].Add(id);
      any = true;
    }
  }
  if (any) CompareCandidates(exactLists, info.TOC, found);
  std::size_t next = 0;
  for (const TExtendedMatch& m : found) {
    if (m.Exact && next < matches.size()) matches[next++] = m;
  }
  if (next == 1) return 0;
  if (next > 1) return 1;

  // Nothing exact: every entry whose length lies within the neighbourhood is a candidate.
  const int lo = static_cast<int>(RoundHalfEven((1 - kNeighbourhoodTolerance / 100) * length));
  const int hi = static_cast<int>(RoundHalfEven((1 + kNeighbourhoodTolerance / 100) * length));
  std::array<TIDList, 26> nearLists;
  for (const auto& [lineLength, entries] : lines) {
    if (lineLength < lo || lineLength > hi) continue;
    for (std::size_t k = 0; k + 3 <= entries.size(); k += 3) {
      const std::string prefix = Lower(entries.substr(k, 2));
      if (!usable(entries[k + 2]) || HexValue(prefix) < 0) continue;
      nearLists[entries[k + 2] - 'a'].Add(prefix + Hex(lineLength, 4) + Hex(tracks, 2));
    }
  }
  found.clear();
  CompareCandidates(nearLists, info.TOC, found);
  // Exact matches first, so that the first match is the best one.
  std::stable_partition(found.begin(), found.end(), [](const auto& m) { return m.Exact; });
  next = 0;
  for (const TExtendedMatch& m : found) {
    if (next == matches.size()) break;
    matches[next++] = m;
  }
  return next > 0 ? 1 : -1;
}

void TLocalCDDB::AddToIndex(const std::string& categoryDir, const std::string& id, int letter) {
  const int length = HexValue(std::string_view(id).substr(2, 4));
  const int tracks = HexValue(std::string_view(id).substr(6, 2));
  if (length > kMaxIndexedLength) {
    WriteLog(categoryDir + "index.log", TooLongText(id, length));
    return;
  }
  if (tracks < 1 || tracks > 99) return;
  const std::string entry = id.substr(0, 2) + static_cast<char>('a' + letter);
  const std::string existing = ResolveName(FRoot, TrackIndexName(tracks));
  const std::string path = FRoot + (existing.empty() ? TrackIndexName(tracks) : existing);
  const std::string newLine = "L" + Hex(length, 4) + entry + "\n";
  if (existing.empty()) {
    // The index is rebuilt before each lookup anyway; starting one here loses nothing.
    if (ReplaceDatabaseFile(path, newLine) != 0)
      WriteLog(FRoot + "index.log", "Error creating track index file " + path);
    return;
  }
  TSearchFile index;
  index.SetFileName(path);
  if (!index.Open()) {
    WriteLog(FRoot + "index.log", "Error opening track index file " + path);
    return;
  }
  try {
    std::string line;
    while (!index.Eof()) {
      const std::int64_t start = index.FilePos();
      index.ReadLn(line);
      const bool crlf = !line.empty() && line.back() == '\r';
      if (crlf) line.pop_back();
      const int lineLength =
          line.size() >= 5 && line[0] == 'L' ? HexValue(std::string_view(line).substr(1, 4)) : -1;
      const int key = lineLength < 0 ? kMaxIndexedLength + 1 : lineLength;
      if (key < length) continue;
      if (key == length) {
        index.Insert(start + static_cast<std::int64_t>(line.size()), entry, 3);
      } else {
        index.Insert(start, newLine, static_cast<std::int64_t>(newLine.size()));
      }
      return;
    }
    std::string last;
    const std::int64_t size = index.FilePos();
    if (size > 0) {
      index.Seek(size - 1);
      index.Read(1, last);
    }
    const std::string tail = (size > 0 && last != "\n" ? "\n" : "") + newLine;
    index.Insert(size, tail, static_cast<std::int64_t>(tail.size()));
  } catch (const Exception& e) {
    WriteLog(FRoot + "index.log", "Error updating track index file " + path + ": " + e.what());
  }
}

int TLocalCDDB::WriteWindowsEntry(const std::string& categoryDir, const std::string& id,
                                  const std::string& text, bool& existed) const {
  std::string group = FindGroupFile(categoryDir, HexValue(std::string_view(id).substr(0, 2)));
  std::string content;
  if (group.empty()) {
    group = "00toFF";
  } else if (const ReadResult read =
                 ReadWholeFile(categoryDir + group, content, kMaxGroupFileBytes);
             read != ReadResult::Read) {
    // Rewriting a group file that cannot be read whole would lose its other entries.
    if (read == ReadResult::TooLarge)
      LogTooLarge(categoryDir, "Group file " + categoryDir + group, kMaxGroupFileBytes,
                  "the entry " + id + " is not saved into it");
    return -3;
  }
  // The old entry is replaced and the new one placed in identifier order in one rewrite, so
  // the group file is never seen, or left, without it.
  std::vector<GroupEntry> entries = GroupEntries(content);
  existed = false;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (entries[k].id != id) continue;
    const std::size_t end = k + 1 < entries.size() ? entries[k + 1].start : content.size();
    content.erase(entries[k].start, end - entries[k].start);
    existed = true;
    entries = GroupEntries(content);
    break;
  }
  std::size_t insertAt = content.size();
  for (const GroupEntry& e : entries) {
    if (e.id > id) {
      insertAt = e.start;
      break;
    }
  }
  std::string block = "#FILENAME=" + id + "\n" + text;
  if (insertAt == content.size() && !content.empty() && content.back() != '\n')
    block.insert(0, "\n");
  content.insert(insertAt, block);
  const int result = ReplaceDatabaseFile(categoryDir + group, content);
  return result < 0 ? result : static_cast<int>(text.size()) + 19;
}

int TLocalCDDB::WriteEntry(const TCDInfo& info) {
  TEntryArray lines;
  if (XmcdGenerate(info, FClient, lines) != 0) return -1;
  const std::string text = XmcdJoinLines(lines);
  if (!IsValidCategory(info.Category) || !IsValidDiscId(info.DiscID)) return -1;
  const std::string id = Lower(info.DiscID);

  if (!ForceDirectories(FRoot)) return -2;
  const std::string existingCategory = ResolveName(FRoot, info.Category);
  const std::string categoryName = existingCategory.empty() ? info.Category : existingCategory;
  const std::string categoryDir = FRoot + categoryName + "/";
  bool created = false;
  if (!IsDirectory(categoryDir)) {
    if (::mkdir(categoryDir.c_str(), 0777) != 0) return -2;
    created = true;
  }

  bool existed = false;
  int result;
  if (FWindowsLayout) {
    result = WriteWindowsEntry(categoryDir, id, text, existed);
  } else {
    const std::string name = ResolveName(categoryDir, id);
    existed = !name.empty();
    result = ReplaceDatabaseFile(categoryDir + id, text);
    if (result == 0) result = static_cast<int>(text.size());
  }
  if (result < 0 || !FInitialized) return result;

  if (created) {
    const std::string indexPath = FRoot + CategoryIndexName();
    std::string names;
    ReadWholeFile(indexPath, names, kMaxEntryBytes);
    if (!names.empty() && names.back() != '\n') names += '\n';
    names += categoryName + "\n";
    if (ReplaceDatabaseFile(indexPath, names) != 0)
      WriteLog(FRoot + "index.log", "Error creating category index file");
    FInitialized = ReadCategories();
  }
  if (!existed) {
    for (std::size_t letter = 0; letter < FCategories.size(); ++letter) {
      if (FCategories[letter] == categoryName) {
        AddToIndex(categoryDir, id, static_cast<int>(letter));
        break;
      }
    }
  }
  return result;
}

void TLocalCDDB::BuildIndex() {
  if (!ForceDirectories(FRoot)) {
    // Nowhere to log it: one line on standard error instead of a complaint per file.
    std::cerr << "The local CD database folder " << FRoot
              << " cannot be created: " << std::strerror(errno) << "\n";
    return;
  }
  const std::string rootLog = FRoot + "index.log";

  std::vector<std::string> names;
  ForEachEntry(FRoot, [&](std::string_view name, bool isDir) {
    if (!isDir) return;
    if (IsValidCategory(name))
      names.emplace_back(name);
    else
      WriteLog(rootLog,
               "Folder " + std::string(name) + " is not a category name; it is not indexed");
  });
  std::sort(names.begin(), names.end());
  if (names.size() > FCategories.size()) {
    for (std::size_t k = FCategories.size(); k < names.size(); ++k)
      WriteLog(rootLog, "More than 26 categories; " + names[k] + " is not indexed");
    names.resize(FCategories.size());
  }
  std::string catText;
  for (const std::string& name : names) catText += name + "\n";
  if (ReplaceDatabaseFile(FRoot + CategoryIndexName(), catText) != 0)
    WriteLog(rootLog, "Error creating category index file");
  FCategories = {};
  std::copy(names.begin(), names.end(), FCategories.begin());
  FInitialized = ReadCategories();

  // Each category folder is listed on a thread of its own (listing a large folder is most of
  // the work, and folders do not depend on one another); the entries come back as numbers
  // whose order is the index files' order.
  std::vector<std::vector<std::uint64_t>> found(names.size());
  ForEachInParallel(names.size(), [&](std::size_t letter) {
    ScanCategory(FRoot + names[letter] + "/", static_cast<int>(letter), FWindowsLayout,
                 found[letter]);
  });
  const std::vector<std::uint64_t> keys = MergeSorted(std::move(found));

  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t at = 0;
  for (std::uint64_t tracks = 1; tracks <= 99; ++tracks) {
    std::string text;
    std::uint32_t lastLength = ~0u;
    for (; at < keys.size() && keys[at] >> 32 == tracks; ++at) {
      const auto key = static_cast<std::uint32_t>(keys[at]);
      const std::uint32_t length = key >> 13;
      if (length != lastLength) {
        if (lastLength != ~0u) text += '\n';
        const char line[5] = {'L', kHex[length >> 12 & 15], kHex[length >> 8 & 15],
                              kHex[length >> 4 & 15], kHex[length & 15]};
        text.append(line, sizeof line);
        lastLength = length;
      }
      const char entry[3] = {kHex[key >> 4 & 15], kHex[key & 15],
                             static_cast<char>('a' + (key >> 8 & 31))};
      text.append(entry, sizeof entry);
    }
    if (lastLength != ~0u) text += '\n';
    const std::string name = FRoot + TrackIndexName(static_cast<int>(tracks));
    if (ReplaceDatabaseFile(name, text) != 0) {
      WriteLog(rootLog, "Error creating track index file " + name);
      return;
    }
  }
}

void TLocalCDDB::WriteLog(const std::string& file, const std::string& text) {
  std::string line = text;
  if (line.empty() || line.back() != '\n') line += '\n';
  // Not waiting in the open either: a named pipe without a reader would block it for ever.
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0666);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    std::cerr << "Couldn't create log file!\nError message was: '" << text << "'\n";
    return;
  }
  // Another program instance may append at the same time.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done < line.size())
    std::cerr << "Couldn't write into log file!\nError message was: '" << text << "'\n";
  ::close(fd);
}

}  // namespace qv
