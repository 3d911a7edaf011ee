// The CD database component's side of the local database: the disc record and entry lines
// it owns, the settings the local database takes from it, and the six operations the main
// window calls (rebuild the index, query, read, save, lines <-> record), each reporting its
// outcome as an Integer code and a status text. `TCddb` builds on this class and supplies
// the TOC of the drive through `RefreshTOC`. Main thread only.
#pragma once

#include <string>

#include "cddb/cddb_types.h"
#include "cddb/localcddb.h"

namespace qv {

class TCddbLocal {
 public:
  TCddbLocal() = default;
  virtual ~TCddbLocal() = default;
  TCddbLocal(const TCddbLocal&) = delete;
  TCddbLocal& operator=(const TCddbLocal&) = delete;

  void BuildLocalIndex();
  // 0 / 1: found (the first match's category and identifier are copied into `CDInfo`),
  // -1: none, -2: the database has no category index.
  int QueryLocalCDDB(TLocalMatchArray& matches);
  int ReadFromLocalCDDB();  // >= 0 found; -1 .. -4 with the texts below
  int SaveToLocalCDDB();    // >= 0 written; -1 .. -4
  int ParseEntryLines();    // `EntryLines` -> `CDInfo`, then `RefreshTOC`; 0 or -4
  int EntryToLines();       // `CDInfo` -> `EntryLines`; 0 or -1

  // Takes a freshly read TOC for `CDInfo`: sets the disc identifier (empty when there is no
  // track) and, when the disc is another one, forgets the previous disc's entry, category
  // included, so that it cannot steer the next look-up.
  void AssignTOC(const TCDTOC& toc);

  TCDInfo CDInfo;
  TEntryArray EntryLines;
  std::string LocalCDDBPath = "./";
  TLocalCDDBType LocalCDDBType = lctUNIX;
  std::string ClientName = "Quorvel";
  std::string ClientVersion = "1.0";
  std::string ClientComments;
  TStatusEvent OnStatusMessage;
  TComponent* Sender = nullptr;  // handed to the events: the component this belongs to

 protected:
  // Reads the drive's TOC into `CDInfo` again; false when there is none. Without a drive
  // (this class on its own) the TOC read from the entry stays.
  virtual bool RefreshTOC() { return false; }
  void Status(const std::string& text) const;

 private:
  void Setup(TLocalCDDB& db) const;

  std::string FDiscOfRecord;  // identifier of the disc whose TOC was assigned last
};

}  // namespace qv
