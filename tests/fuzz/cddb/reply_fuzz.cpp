// Any byte string as the document a CDDB query or read brings back, parsed line by line as
// the component does when the request ends. The first byte picks query or read, the second
// the owner's choice among the matches. Whatever the document, the request must end, and a
// chosen match must name a usable category and disc id.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cddb/cddb_protocol.h"

namespace {

class FuzzCddb final : public qv::TCddbProtocol {
 public:
  std::string document;

 protected:
  void StartGet(const std::string&) override {}
  int RequestStatusCode() const override { return 200; }
  std::string RequestReasonPhrase() const override { return "OK"; }
  std::string_view ReceivedDocument() const override { return document; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  FuzzCddb cddb;
  qv::TCDTOC toc;
  toc.TrackCount = 2;
  toc.Tracks[0] = {0, 2, 0, true};
  toc.Tracks[1] = {2, 0, 0, true};
  toc.LeadOut = {5, 0, 0, false};
  cddb.AssignTOC(toc);
  const int choice = static_cast<int>(data[1] % 6) - 1;
  cddb.OnMatch = [choice](qv::TComponent*, const qv::TMatchArray&, int& rightOne) {
    rightOne = choice;
  };
  cddb.document.assign(reinterpret_cast<const char*>(data) + 2, size - 2);
  const bool read = data[0] & 1;
  if (read) {
    cddb.CDInfo.Category = "rock";
    cddb.CDInfo.DiscID = "05012a02";
    cddb.State = qv::cdsMatchFound;
    if (cddb.ReadEntry() != 0) std::abort();
  } else if (cddb.Query() != 0) {
    std::abort();
  }
  cddb.HttpRequestDone(0);
  if (cddb.State == qv::cdsQuerying || cddb.State == qv::cdsReading) std::abort();
  if (!read && cddb.State == qv::cdsMatchFound &&
      (!qv::IsValidCategory(cddb.CDInfo.Category) || !qv::IsValidDiscId(cddb.CDInfo.DiscID)))
    std::abort();
  return 0;
}
