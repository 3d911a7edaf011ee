// Reports for programs that run under a web server: no dialog can be shown there, so the
// report goes back to the web client as an HTML error page. The host is recognised from
// the program's kind, its environment and its command line; a desktop or plain console
// program is no web host, and nothing here writes anything for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class TWebHostKind { None, CGI, WinCGI };

struct TWebHost {
  TWebHostKind Kind = TWebHostKind::None;
  // WinCGI: the file the answer goes into.
  std::string OutputFile;
};

// Recognises the host from the program's kind and its command-line parameters
// (`parameters[0]` is the first parameter, not the program):
// - CGI: a console program whose environment holds REQUEST_METHOD;
// - WinCGI: not a console program; the first parameter names an existing file of at most
//   102400 bytes whose section "CGI" has a non-empty "Request Method", and the output file
//   (the third parameter, else "Output File" of section "System") exists.
[[nodiscard]] TWebHost DetectWebHost(bool console_program,
                                     const std::vector<std::string>& parameters);
// The same for this process, its parameters read from /proc/self/cmdline.
[[nodiscard]] TWebHost DetectWebHost(bool console_program);
[[nodiscard]] bool IsWebHost(bool console_program);

// `first` when the flag is set, else `second`.
[[nodiscard]] std::string ChoiceString(bool flag, std::string_view first,
                                       std::string_view second = {});

// Text for an HTML page: the HTML specials become entities; for a report also each line
// end "<br>" and each space "&nbsp;", so that its columns stay aligned.
[[nodiscard]] std::string HtmlEscape(std::string_view text, bool report);
// The error page for a report, titled with the error caption.
[[nodiscard]] std::string ErrorPage(std::string_view caption, std::string_view report);
// "Status: 500 Error", the content type and the page's length in bytes.
[[nodiscard]] std::string ErrorPageHeader(std::size_t page_bytes);

// Delivers header and page to the host: standard output for CGI, the output file
// (created or replaced) for WinCGI. False with a warning when it could not be written,
// false without one when there is no host.
bool WriteErrorPage(const TWebHost& host, std::string_view page);

// The report pipeline's entry: when this process runs under a web server, answers the
// report as an error page and says whether it was delivered; otherwise writes nothing
// and answers false.
bool ReportToWebHost(bool console_program, std::string_view caption, std::string_view report);

}  // namespace qv
