// The local xmcd database: entries kept in category folders under a root, in one file per
// entry (lctUNIX, the layout other CDDB clients use as their cache) or in group files
// "XXtoYY" (lctWIN), with "Cat.idx" naming the categories and "01.idx" .. "99.idx" indexing
// disc lengths per track count. A `TLocalCDDB` is made for one operation and dropped; the
// database lives on disk, and every file it changes is replaced through a temporary file and
// a rename. Main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cddb/cddb_types.h"

namespace qv {

struct TExtendedMatch : TMatch {
  bool Exact = false;
};
using TExtendedMatches = std::vector<TExtendedMatch>;

// The local query's answer: the first entry with an empty `DiscID` ends it.
using TLocalMatchArray = std::array<TMatch, 100>;

// Disc identifiers kept sorted, each once.
class TIDList {
 public:
  void Add(const std::string& id);
  [[nodiscard]] const std::vector<std::string>& Items() const { return FItems; }

 private:
  std::vector<std::string> FItems;
};

class TLocalCDDB final {
 public:
  static constexpr double kTrackTolerance = 2.05;          // percent of each track's length
  static constexpr double kTotalTolerance = 0.85;          // percent of the compared lengths
  static constexpr double kNeighbourhoodTolerance = 0.65;  // percent of the disc length
  static constexpr int kMaxIndexedLength = 5400;           // seconds
  // The most an entry may hold, as much as a server's answer may bring; a real entry is a
  // few kilobytes.
  static constexpr std::int64_t kMaxEntryBytes = std::int64_t(4) << 20;
  // The most a group file is read whole (to index or to save into it): many entries, yet
  // bounded, so that a huge file is skipped rather than exhausting the memory.
  static constexpr std::int64_t kMaxGroupFileBytes = 16 * kMaxEntryBytes;

  TLocalCDDB();  // root: the current folder

  // Root of the database ("\" counts as a separator; a trailing one is added). Reads
  // "Cat.idx"; `Initialized` tells whether that worked.
  void SetRoot(const std::string& path);
  void SetClient(const std::string& text) { FClient = text; }
  void SetLayout(TLocalCDDBType layout) { FWindowsLayout = layout == lctWIN; }

  [[nodiscard]] bool Initialized() const { return FInitialized; }
  [[nodiscard]] const std::string& Root() const { return FRoot; }
  // Category names by letter 'a' + index; an empty name is an unusable letter.
  [[nodiscard]] const std::array<std::string, 26>& Categories() const { return FCategories; }

  // Rewrites "cat.idx" from the category folders and all 99 length indexes from the entries.
  void BuildIndex();
  // 0: one exact match, 1: several or inexact ones, -1: none, -2: no category index.
  int Query(const TCDInfo& info, TLocalMatchArray& matches);
  // Reads the entry `info.Category`/`info.DiscID`; `info.TOC` is kept. 0, -1 (bad arguments),
  // -2 (no group file), -3 (no such entry or unreadable), -4 (corrupt entry).
  int ReadEntry(TCDInfo& info);
  // Stores the entry: bytes written, or -1 (bad arguments), -2 (folder), -3 (create), -4 (write).
  int WriteEntry(const TCDInfo& info);

  int ParseEntry(TCDInfo& info, const TEntryArray& lines) const;
  int GenerateEntry(const TCDInfo& info, TEntryArray& lines) const;

  // 0: different discs, 1: the same offsets, 2: within the tolerances. A is the stored
  // entry's TOC, B the disc's.
  [[nodiscard]] static int CompareTOC(const TCDTOC& a, const TCDTOC& b);
  // Appends `text` (and a line end) to `file`; a failure goes to standard error.
  static void WriteLog(const std::string& file, const std::string& text);

 private:
  bool ReadCategories();
  [[nodiscard]] int ReadEntryText(const std::string& category, const std::string& id,
                                  std::string& text) const;
  [[nodiscard]] int ReadCandidate(const std::string& category, const std::string& id,
                                  TCDInfo& info) const;
  void CompareCandidates(const std::array<TIDList, 26>& lists, const TCDTOC& disc,
                         TExtendedMatches& found) const;
  void AddToIndex(const std::string& categoryDir, const std::string& id, int letter);
  [[nodiscard]] int WriteWindowsEntry(const std::string& categoryDir, const std::string& id,
                                      const std::string& text, bool& existed) const;
  [[nodiscard]] std::string CategoryIndexName() const;

  std::string FRoot = "./";
  std::string FClient = "Quorvel CD database";
  bool FWindowsLayout = false;
  bool FInitialized = false;
  std::array<std::string, 26> FCategories;
};

}  // namespace qv
