#include "crashlog/web_page.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include "crashlog/trace_log.h"
#include "platform/base/inifile.h"
#include "platform/base/paths.h"

namespace qv {
namespace {

constexpr off_t kMaxWinCgiDataFile = 102400;

std::vector<std::string> CommandLineParameters() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> parameters;
  std::size_t start = 0;
  for (bool program = true; start < all.size(); program = false) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!program) parameters.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return parameters;
}

// The WinCGI output file named by the data file, or "" when this is no WinCGI start.
std::string WinCgiOutputFile(const std::vector<std::string>& parameters) {
  if (parameters.empty()) return {};
  const std::string data_file = NormalizePath(parameters[0]);
  struct stat info {};
  if (data_file.empty() || ::stat(data_file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size > kMaxWinCgiDataFile) {
    return {};
  }
  TMemIniFile ini(data_file);
  if (ini.ReadString("CGI", "Request Method", "").empty()) return {};
  std::string output = parameters.size() >= 3 && !parameters[2].empty()
                           ? parameters[2]
                           : ini.ReadString("System", "Output File", "");
  output = NormalizePath(output);
  // The server makes the output file before it starts the program: without one this is no
  // WinCGI start, only a program given a file that happens to look like a data file.
  if (output.empty() || !FileExists(output)) return {};
  return output;
}

// Writes all of `bytes` to `fd`, going on after interruptions and partial writes. A
// reader that went away must not end the reporting process with SIGPIPE: the signal is
// held back for this thread and a pending one is taken away before it is let through.
bool WriteAll(int fd, std::string_view bytes) {
  sigset_t pipe_only, previous;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
  bool ok = true;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    bytes.remove_prefix(std::size_t(n));
  }
  if (!ok && !sigismember(&previous, SIGPIPE)) {
    const timespec none{};
    while (sigtimedwait(&pipe_only, nullptr, &none) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

bool WriteOutputFile(const std::string& file, std::string_view bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace

TWebHost DetectWebHost(bool console_program, const std::vector<std::string>& parameters) {
  TWebHost host;
  if (console_program) {
    if (std::getenv("REQUEST_METHOD") != nullptr) host.Kind = TWebHostKind::CGI;
    return host;
  }
  host.OutputFile = WinCgiOutputFile(parameters);
  if (!host.OutputFile.empty()) host.Kind = TWebHostKind::WinCGI;
  return host;
}

TWebHost DetectWebHost(bool console_program) {
  return DetectWebHost(console_program, CommandLineParameters());
}

bool IsWebHost(bool console_program) {
  TraceScope trace("IsWebHost", {console_program});
  return trace.Result(DetectWebHost(console_program).Kind != TWebHostKind::None);
}

std::string ChoiceString(bool flag, std::string_view first, std::string_view second) {
  return std::string(flag ? first : second);
}

std::string HtmlEscape(std::string_view text, bool report) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (report && (c == '\r' || c == '\n')) {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "<br>";
      continue;
    }
    switch (c) {
      case ' ':
        out += report ? "&nbsp;" : " ";
        break;
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ErrorPage(std::string_view caption, std::string_view report) {
  return "<html><head><title>" + HtmlEscape(caption, false) + "</title></head><body>" +
         "<p><small><font face=\"Lucida Console,Courier\">" + HtmlEscape(report, true) +
         "</font></small></p></body></html>";
}

std::string ErrorPageHeader(std::size_t page_bytes) {
  return "Status: 500 Error\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(page_bytes) + "\r\nContent:\r\n\r\n";
}

bool WriteErrorPage(const TWebHost& host, std::string_view page) {
  TraceLog("WriteErrorPage", {int(host.Kind), host.OutputFile}, 2);
  bool written = false;
  if (host.Kind != TWebHostKind::None) {
    const bool wincgi = host.Kind == TWebHostKind::WinCGI;
    const std::string answer = ErrorPageHeader(page.size()) + std::string(page);
    if (wincgi) {
      written = WriteOutputFile(host.OutputFile, answer);
    } else {
      // What the program printed before stays in front of the answer.
      written = std::fflush(stdout) == 0 && WriteAll(STDOUT_FILENO, answer);
    }
    if (!written) {
      Warning(eeShowError, ChoiceString(wincgi, "CGI: Cannot write in the ouput file.",
                                        "CGI: Cannot write to the standard output."));
    }
  }
  TraceText(ChoiceString(written, "WriteErrorPage=True", "WriteErrorPage=False"), -2);
  return written;
}

bool ReportToWebHost(bool console_program, std::string_view caption, std::string_view report) {
  TraceScope trace("ReportToWebHost", {console_program});
  const TWebHost host = DetectWebHost(console_program);
  if (host.Kind == TWebHostKind::None) return trace.Result(false);
  return trace.Result(WriteErrorPage(host, ErrorPage(caption, report)));
}

}  // namespace qv
