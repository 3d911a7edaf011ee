// The local database's index build over a folder tree another program (or a damaged disk)
// left: the input's first byte picks the layout (one file per entry, or the group files
// "XXtoYY" of the other layout), the rest is cut at NULs into files, each a relative path
// (a category folder and a name, or a name in the root), a line end and the file's bytes.
// The build must index exactly the entries the tree holds (up to 26 categories, discs of 1
// to 99 tracks no longer than the limit), write well-formed indexes, and a lookup over them
// must answer with readable matches.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cddb/cddb_types.h"
#include "cddb/localcddb.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

int Hex(std::string_view s) {
  int v = 0;
  for (const char c : s) {
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

bool Indexable(std::string_view id) {
  if (!qv::IsValidDiscId(id)) return false;
  const int tracks = Hex(id.substr(6, 2));
  return Hex(id.substr(2, 4)) <= qv::TLocalCDDB::kMaxIndexedLength && tracks >= 1 && tracks <= 99;
}

// The entries a group file holds: each "#FILENAME=<id>" at a line start.
int GroupEntryCount(std::string_view text) {
  int n = 0;
  for (std::size_t at = 0; (at = text.find("#FILENAME=", at)) != std::string_view::npos; at += 10)
    if ((at == 0 || text[at - 1] == '\n') && Indexable(text.substr(at + 10, 8))) ++n;
  return n;
}

bool GroupName(std::string_view name) {
  return name.size() == 6 &&
         (name.substr(2, 2) == "to" || name.substr(2, 2) == "TO" || name.substr(2, 2) == "To" ||
          name.substr(2, 2) == "tO") &&
         Hex(name.substr(0, 2)) >= 0 && Hex(name.substr(4, 2)) >= 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool windows = data[0] & 1;
  const std::string root = qv::fuzz::ScratchDir() + "db/";
  std::filesystem::remove_all(root);
  ::mkdir(root.c_str(), 0777);

  // Folder -> name -> bytes; a later file of the same path replaces an earlier one.
  std::map<std::string, std::map<std::string, std::string>> tree;
  for (const std::string_view part : qv::fuzz::Parts(data + 1, size - 1, 24)) {
    const std::size_t eol = part.find('\n');
    if (eol == std::string_view::npos) continue;
    const std::string_view path = part.substr(0, eol);
    const std::size_t slash = path.find('/');
    const std::string folder(slash == std::string_view::npos ? "" : path.substr(0, slash));
    const std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    const auto plain = [](const std::string& s) {
      return s.size() <= 40 && s != "." && s != ".." && s.find_first_of('/') == std::string::npos &&
             s.find('\0') == std::string::npos;
    };
    if (name.empty() || !plain(name) || !plain(folder)) continue;
    // A folder in the place of an index file only stops the build, as it should.
    if (folder.size() >= 4 && ::strcasecmp(folder.c_str() + folder.size() - 4, ".idx") == 0)
      continue;
    if (!folder.empty() && tree[""].count(folder) != 0) continue;  // a file already
    if (folder.empty() && tree.count(name) != 0) continue;         // a folder already
    tree[folder][name] = std::string(part.substr(eol + 1));
  }
  for (const auto& [folder, files] : tree) {
    if (!folder.empty()) ::mkdir((root + folder).c_str(), 0777);
    for (const auto& [name, bytes] : files)
      qv::fuzz::WriteFile(root + (folder.empty() ? "" : folder + "/") + name, bytes);
  }

  // What the build must find: the first 26 category folders by name, and their entries.
  std::vector<std::string> categories;
  for (const auto& [folder, files] : tree)
    if (!folder.empty() && qv::IsValidCategory(folder)) categories.push_back(folder);
  std::sort(categories.begin(), categories.end());
  if (categories.size() > 26) categories.resize(26);
  std::size_t expected = 0;
  for (const std::string& c : categories)
    for (const auto& [name, bytes] : tree[c]) {
      if (!windows && Indexable(name)) ++expected;
      if (windows && GroupName(name)) expected += GroupEntryCount(bytes);
    }

  qv::TLocalCDDB db;
  db.SetRoot(root);
  db.SetLayout(windows ? qv::TLocalCDDBType::lctWIN : qv::TLocalCDDBType::lctUNIX);
  db.BuildIndex();

  // Every track index: lines "L<length>" and entries "<byte><letter>", lengths rising.
  std::size_t indexed = 0;
  for (int tracks = 1; tracks <= 99; ++tracks) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d.idx", tracks);
    std::string text;
    if (FILE* f = std::fopen((root + name).c_str(), "rb")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
      std::fclose(f);
    } else {
      Fail(std::string("no index ") + name);
    }
    int last = -1;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      if (end == std::string::npos) Fail(std::string("an unended line in ") + name);
      const std::string_view line = std::string_view(text).substr(at, end - at);
      const int length = line.size() >= 5 && line[0] == 'L' ? Hex(line.substr(1, 4)) : -1;
      if (length <= last || length > qv::TLocalCDDB::kMaxIndexedLength ||
          (line.size() - 5) % 3 != 0 || line.size() == 5)
        Fail(std::string("a malformed line in ") + name + ": " + std::string(line));
      for (std::size_t e = 5; e < line.size(); e += 3) {
        const char letter = line[e + 2];
        if (Hex(line.substr(e, 2)) < 0 || letter < 'a' ||
            std::size_t(letter - 'a') >= categories.size())
          Fail(std::string("a malformed entry in ") + name + ": " + std::string(line));
        ++indexed;
      }
      last = length;
      at = end + 1;
    }
  }
  if (indexed != expected)
    Fail("indexed " + std::to_string(indexed) + " of " + std::to_string(expected) + " entries");
  for (std::size_t k = 0; k < categories.size(); ++k)
    if (db.Categories()[k] != categories[k]) Fail("category " + categories[k] + " misplaced");

  // A lookup over what was built: a three-track disc of about ten minutes.
  qv::TCDInfo info;
  info.TOC.TrackCount = 3;
  info.TOC.Tracks[0] = {0, 2, 0, true};
  info.TOC.Tracks[1] = {3, 0, 0, true};
  info.TOC.Tracks[2] = {6, 30, 0, true};
  info.TOC.LeadOut = {10, 0, 0, false};
  info.DiscID = qv::CddbDiscId(info.TOC);
  qv::TLocalMatchArray matches;
  const int result = db.Query(info, matches);
  if (result < -2 || result > 1) Fail("lookup answered " + std::to_string(result));
  for (const qv::TMatch& m : matches) {
    if (m.DiscID.empty()) break;
    if (!qv::IsValidCategory(m.Category) || !qv::IsValidDiscId(m.DiscID)) Fail("unusable match");
    qv::TCDInfo entry;
    entry.TOC = info.TOC;
    entry.Category = m.Category;
    entry.DiscID = m.DiscID;
    const int read = db.ReadEntry(entry);
    if (read != 0 && read != -2 && read != -3 && read != -4)
      Fail("reading a match answered " + std::to_string(read));
  }
  return 0;
}
