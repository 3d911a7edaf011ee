// Any bytes as a module's stored exception log (the .olf file): loading must keep only whole
// reports, in file order, each starting "OstrelLog " at the file's start or after a line end
// and ending with the report end, and call the log intact exactly when nothing but line ends
// lies around them; the duplicate test may read any of them; a report added and the log saved
// must load again as the old reports plus the new one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crashlog/log_report.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const std::string kEnd = "\r\n\r\n\r\n";
const std::string kNewReport = "OstrelLog 4.5.4\r\n\r\n  2.2 Address : 00401000";

void Fail(const char* what, std::size_t index) {
  std::fprintf(stderr, "%s (report %zu)\n", what, index);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = qv::fuzz::ScratchDir() + "Quorvel.olf";
  const std::string_view bytes = qv::fuzz::Text(data, size);
  qv::fuzz::WriteFile(path, bytes);

  qv::TLogFile log(path);
  log.Load();
  const auto reports = log.Reports();
  const auto only_line_ends = [&bytes](std::size_t from, std::size_t to) {
    return bytes.substr(from, to - from).find_first_not_of("\r\n") == std::string_view::npos;
  };
  bool intact = true;
  std::size_t from = 0;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const std::string& r = reports[i];
    if (r.compare(0, 10, "OstrelLog ") != 0) Fail("a report that does not start as one", i);
    if (r.size() < 10 + kEnd.size() || r.compare(r.size() - kEnd.size(), kEnd.size(), kEnd) != 0)
      Fail("a report without its end", i);
    // The same text may stand earlier where no report starts (in the middle of a line) or
    // ends (no report end behind it).
    const auto starts_here = [&](std::size_t at) {
      return (at == 0 || (at >= 2 && bytes.substr(at - 2, 2) == "\r\n")) &&
             bytes.substr(at + r.size(), 2) == "\r\n";
    };
    std::size_t at = bytes.find(r, from);
    while (at != std::string_view::npos && !starts_here(at)) at = bytes.find(r, at + 1);
    if (at == std::string_view::npos) Fail("a report that is not in the file at a line start", i);
    intact = intact && only_line_ends(from, at);
    from = at + r.size();
  }
  intact = intact && only_line_ends(from, bytes.size());
  if (log.Intact() != intact)
    Fail(intact ? "a whole log taken as damaged" : "text lost unnoticed", 0);

  // The duplicate test reads the fields of every stored report.
  (void)log.IsDuplicate("00401000", "Quorvel", "EAccessViolation", "x");

  // Keep the newest three and add one: saved and loaded again, the log is exactly that.
  log.Append(kNewReport, 4);
  log.Save();
  qv::TLogFile again(path);
  again.Load();
  const std::size_t kept = std::min<std::size_t>(reports.size(), 3);
  if (again.Reports().size() != kept + 1) Fail("a saved log that loads with another count", kept);
  for (std::size_t i = 0; i < kept; ++i)
    if (again.Reports()[i] != reports[reports.size() - kept + i]) Fail("a report changed", i);
  if (again.Reports().back() != kNewReport + kEnd) Fail("the added report changed", kept);
  return 0;
}
