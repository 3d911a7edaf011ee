// The local database's files as another program (or a damaged disk) may leave them: the
// input's NUL-separated parts are the category index "Cat.idx", the length index of
// three-track discs "03.idx" and the entry file stored under every category folder. A
// lookup reads the indexes, compares the candidates it names and reads the matches; it must
// answer with matches that name a usable category, and read them or refuse them.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "cddb/cddb_types.h"
#include "cddb/localcddb.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string root = qv::fuzz::ScratchDir() + "cddb/";
  static qv::TCDTOC toc = [] {
    ::mkdir(root.c_str(), 0777);
    qv::TCDTOC t;
    t.TrackCount = 3;
    t.Tracks[0] = {0, 2, 0, true};
    t.Tracks[1] = {3, 0, 0, true};
    t.Tracks[2] = {6, 30, 0, true};
    t.LeadOut = {10, 0, 0, false};
    return t;
  }();
  static const std::string id = qv::CddbDiscId(toc);
  static const char* const kCategories[] = {"rock", "misc", "jazz"};
  static const bool folders = [] {
    for (const char* c : kCategories) ::mkdir((root + c).c_str(), 0777);
    return true;
  }();
  (void)folders;

  const auto parts = qv::fuzz::Parts(data, size, 3);
  qv::fuzz::WriteFile(root + "Cat.idx", parts[0]);
  qv::fuzz::WriteFile(root + "03.idx", parts[1]);
  for (const char* c : kCategories) qv::fuzz::WriteFile(root + c + "/" + id, parts[2]);

  qv::TLocalCDDB db;
  db.SetRoot(root);
  qv::TCDInfo info;
  info.TOC = toc;
  info.DiscID = id;
  qv::TLocalMatchArray matches;
  const int result = db.Query(info, matches);
  if (result < -2 || result > 1) std::abort();
  for (const qv::TMatch& m : matches) {
    if (m.DiscID.empty()) break;
    if (!qv::IsValidCategory(m.Category) || !qv::IsValidDiscId(m.DiscID)) std::abort();
    qv::TCDInfo entry;
    entry.TOC = toc;
    entry.Category = m.Category;
    entry.DiscID = m.DiscID;
    const int read = db.ReadEntry(entry);
    if (read != 0 && read != -3 && read != -4) std::abort();
  }
  return 0;
}
