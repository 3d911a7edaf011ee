#include "cddb/cddb_local.h"

namespace qv {

void TCddbLocal::Status(const std::string& text) const {
  if (OnStatusMessage) OnStatusMessage(Sender, text);
}

void TCddbLocal::Setup(TLocalCDDB& db) const {
  db.SetLayout(LocalCDDBType);
  db.SetClient(ClientName + " " + ClientVersion + " " + ClientComments);
  db.SetRoot(LocalCDDBPath);
}

void TCddbLocal::BuildLocalIndex() {
  TLocalCDDB db;
  Setup(db);
  db.BuildIndex();
}

int TCddbLocal::QueryLocalCDDB(TLocalMatchArray& matches) {
  TLocalCDDB db;
  Setup(db);
  const int result = db.Query(CDInfo, matches);
  if (result == 0 || result == 1) {
    CDInfo.Category = matches[0].Category;
    CDInfo.DiscID = matches[0].DiscID;
  }
  if (result == 0 || (result == 1 && (matches[1].Category.empty() || matches[1].DiscID.empty())))
    Status("Match(es) found from local CD database");
  else if (result == -1)
    Status("No match(es) found from local CD database");
  return result;
}

int TCddbLocal::ReadFromLocalCDDB() {
  TLocalCDDB db;
  Setup(db);
  const int result = db.ReadEntry(CDInfo);
  switch (result) {
    case -1:
      Status("Invalid arguments");
      return result;
    case -2:
      Status("Couldn't find the file");
      return result;
    case -3:
      Status("Error reading file");
      return result;
    case -4:
      Status("The file is corrupt");
      return result;
    default:
      EntryToLines();
      return result;
  }
}

int TCddbLocal::SaveToLocalCDDB() {
  if (CDInfo.Category.empty()) CDInfo.Category = "misc";
  ++CDInfo.Revision;
  TLocalCDDB db;
  Setup(db);
  const int result = db.WriteEntry(CDInfo);
  switch (result) {
    case -1:
      Status("Invalid arguments");
      break;
    case -2:
      Status("Error creating the directory");
      break;
    case -3:
      Status("Error creating the file");
      break;
    case -4:
      Status("Error writing to file");
      break;
    default:
      break;
  }
  return result;
}

int TCddbLocal::ParseEntryLines() {
  TLocalCDDB db;
  Setup(db);
  const int result = db.ParseEntry(CDInfo, EntryLines);
  if (result == -4) Status("The entry is corrupt");
  RefreshTOC();
  return result;
}

int TCddbLocal::EntryToLines() {
  for (std::string& line : EntryLines) {
    if (line.empty()) break;
    line.clear();
  }
  TLocalCDDB db;
  Setup(db);
  if (db.GenerateEntry(CDInfo, EntryLines) != 0) {
    Status("The buffer is too small");
    return -1;
  }
  return 0;
}

void TCddbLocal::AssignTOC(const TCDTOC& toc) {
  const std::string id = toc.TrackCount == 0 ? std::string() : CddbDiscId(toc);
  // The record may hold an entry read for this disc (under another identifier when the
  // match was inexact); only a different disc clears it.
  if (id.empty() || id != FDiscOfRecord) CDInfo = TCDInfo{};
  FDiscOfRecord = id;
  CDInfo.TOC = toc;
  CDInfo.DiscID = id;
}

}  // namespace qv
