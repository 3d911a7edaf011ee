#include "crashlog/send_report.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "crashlog/client_socket.h"
#include "crashlog/module_options.h"
#include "crashlog/mx_record.h"
#include "crashlog/send_progress.h"
#include "crashlog/trace_log.h"
#include "platform/base/paths.h"
#include "platform/base/text.h"

extern char** environ;

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBoundary = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";
constexpr uint32_t kSMTPTimeout = 30000;
constexpr uint32_t kQuitTimeout = 2000;
constexpr size_t kBase64LineBytes = 57;  // 76 characters, MIME's limit
constexpr auto kSendmailWait = 60s;
// How long the mail handler may take to hand the link on or show its window; a handler that
// stays (the mail program itself) counts as started.
constexpr auto kShellWait = 12s;
// How long the window of what the handler started may take to show after the handler ended.
constexpr auto kHandlerWindowWait = 2s;

// Texts of the progress display.
constexpr int kTextCaption = 53;
constexpr int kTextResolving = 55;
constexpr int kTextConnecting = 56;
constexpr int kTextConnected = 57;
constexpr int kTextSending = 58;

struct ProgramsState {
  std::mutex lock;
  TMailPrograms programs;
};
ProgramsState& Programs() {
  static ProgramsState* state = new ProgramsState;  // used from the report at any time
  return *state;
}

// Header values are one line whatever the options hold.
std::string HeaderValue(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// An 8-bit subject travels as an encoded word.
std::string EncodedHeader(std::string_view s) {
  const std::string value = HeaderValue(s);
  if (IsAscii(value)) return value;
  return "=?UTF-8?B?" + MailBase64Encode(ToUtf8Auto(value)) + "?=";
}

// Every line end becomes CR LF.
std::string CrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Lf(std::string_view text) {
  std::string out = CrLf(text);
  return StringReplace(out, "\r\n", "\n", rfReplaceAll);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  out.clear();
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return n == 0;
    }
    out.append(buffer, size_t(n));
  }
}

std::string AttachmentName(const std::string& path) {
  std::string name = HeaderValue(ExtractFileName(path));
  std::erase(name, '"');
  return name;
}

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, 250) != 0) return "localhost";
  name[250] = '\0';
  return name;
}

std::string Text(const TOstrelModuleOptions* options, int index) {
  return options != nullptr ? options->Texts(index) : DefaultOstrelTexts()[size_t(index)];
}

std::string PercentEncode(std::string_view s, std::string_view keep) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (std::isalnum(b) || c == '-' || c == '.' || c == '_' || c == '~' ||
        keep.find(c) != std::string_view::npos) {
      out += c;
    } else {
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
  return out;
}

// A program started without a shell; `input` goes to its standard input. Answers the
// exit status, -1 when it is still running after `wait`, or sets `spawn_error`.
struct RunResult {
  int spawn_error = 0;
  int status = -1;
  pid_t pid = -1;
};
RunResult RunProgram(const std::vector<std::string>& argv, const std::string* input,
                     std::chrono::milliseconds wait) {
  RunResult result;
  int pair[2] = {-1, -1};
  // A socket rather than a pipe: a program that ends early must not raise SIGPIPE here.
  if (input != nullptr && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    result.spawn_error = errno;
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);  // its own process group, as a new program
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  result.spawn_error = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (input != nullptr) ::close(pair[1]);
  if (result.spawn_error == 0) result.pid = pid;
  if (result.spawn_error != 0) {
    if (input != nullptr) ::close(pair[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  const auto left = [&] {
    return int(std::max<int64_t>(
        0, std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
               .count()));
  };
  if (input != nullptr) {
    for (size_t sent = 0; sent < input->size();) {
      const ssize_t n =
          ::send(pair[0], input->data() + sent, input->size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += size_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;  // it stopped reading
      pollfd p{pair[0], POLLOUT, 0};
      if (::poll(&p, 1, left()) == 0) break;
    }
    ::close(pair[0]);
  }
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int rc;
    while ((rc = ::poll(&p, 1, left())) < 0 && errno == EINTR) {
    }
    ::close(pidfd);
    if (rc == 0) return result;  // still running
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// A folder only this process uses, removed with everything in it at the end.
class TAttachmentFolder {
 public:
  TAttachmentFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ostrellog-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TAttachmentFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TAttachmentFolder(const TAttachmentFolder&) = delete;
  TAttachmentFolder& operator=(const TAttachmentFolder&) = delete;

  // Writes a new file; "" when it cannot.
  std::string Write(const std::string& name, std::string_view data) const {
    if (path_.empty() || name.empty()) return {};
    const std::string file = path_ + "/" + name;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += size_t(n);
    }
    const bool ok = ::close(fd) == 0 && done == data.size();
    return ok ? file : std::string();
  }

 private:
  std::string path_;
};

// One SMTP conversation; throws on any failure.
void SendToRecipient(bool direct, const std::string& from, const std::string& host,
                     const std::string& message, const std::string& recipient,
                     const std::string& user, const std::string& password, uint16_t port,
                     const std::string& prefix, const TOstrelModuleOptions* texts,
                     TSendProgress* progress) {
  TraceScope trace("SendToRecipient", {direct, host, recipient, int(port)});
  // Only the connecting step names the recipient and its number; the others read plain.
  const auto status = [&](int text) {
    if (progress != nullptr)
      progress->Status((text == kTextConnecting ? prefix : "") + Text(texts, text));
  };
  std::string server = host;
  if (direct) {
    status(kTextResolving);
    server = ResolveMXRecord(recipient);
  }
  status(kTextConnecting);
  // The bar shows the message going out, not the commands before it.
  if (progress != nullptr) progress->Position(0);
  TOstrelClientSMTP smtp(server, kSMTPTimeout, port);
  smtp.Connect();
  status(kTextConnected);
  if (user.empty() || password.empty()) {
    smtp.SendCommand("HELO " + LocalHostName(), {250});
    smtp.SendCommand("RSET", {250});
  } else {
    smtp.SendCommand("EHLO " + LocalHostName(), {250});
    smtp.SendCommand("RSET", {250});
    smtp.SendCommand("AUTH LOGIN", {334});
    smtp.SendCommand(MailBase64Encode(user), {334});
    smtp.SendCommand(MailBase64Encode(password), {235});
  }
  smtp.SendCommand("MAIL FROM:<" + HeaderValue(from) + ">", {250});
  smtp.SendCommand("RCPT TO:<" + HeaderValue(recipient) + ">", {250, 251});
  smtp.SendCommand("DATA", {354});
  status(kTextSending);
  if (progress != nullptr) {
    smtp.OnProgress = [progress](size_t sent, size_t total) {
      progress->Position(total == 0 ? 100 : int(sent * 100 / total));
    };
  }
  smtp.SendString(SMTPData(message));
  smtp.OnProgress = nullptr;
  if (!smtp.CheckReply({250})) throw EOstrelSocketError(smtp.Reply());
  // The message is delivered; a server that does not answer QUIT changes nothing and
  // must not hold the crashed program for long.
  smtp.Timeout = kQuitTimeout;
  try {
    smtp.SendCommand("QUIT", {221});
  } catch (const Exception&) {
  }
}

// "%NAME%" replaced by the variable's value; an unset name stays as it is.
std::string ExpandEnvironmentVariables(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
    const char* value =
        end == std::string::npos ? nullptr : std::getenv(text.substr(i + 1, end - i - 1).c_str());
    if (end == std::string::npos || end == i + 1 || value == nullptr) {
      out += text[i++];
      continue;
    }
    out += value;
    i = end + 1;
  }
  return out;
}

// A command line split at blanks outside double quotes; the quotes go.
std::vector<std::string> SplitCommandLine(const std::string& command) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false, any = false;
  for (const char c : command) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) out.push_back(std::move(current));
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) out.push_back(std::move(current));
  return out;
}

}  // namespace

void SetMailPrograms(TMailPrograms programs) {
  std::lock_guard lock(Programs().lock);
  Programs().programs = std::move(programs);
}

TMailPrograms MailPrograms() {
  std::lock_guard lock(Programs().lock);
  return Programs().programs;
}

std::vector<std::string> SplitRecipients(std::string_view recipients) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= recipients.size()) {
    size_t end = recipients.find_first_of(",;", start);
    if (end == std::string_view::npos) end = recipients.size();
    std::string item = Trim(recipients.substr(start, end - start));
    if (!item.empty()) out.push_back(std::move(item));
    start = end + 1;
  }
  return out;
}

std::string RFC822Date(std::time_t when) {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  ::localtime_r(&when, &t);
  // The offset in force at that moment, minutes included (+0530 stays +0530).
  const long offset = t.tm_gmtoff / 60;
  const long magnitude = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", days[t.tm_wday],
                t.tm_mday, months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec,
                offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

std::string MailBase64Encode(std::string_view bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                       uint8_t(bytes[i + 2]);
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v =
        uint32_t(uint8_t(bytes[i])) << 16 | (two ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0);
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += two ? alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string BuildMailMessage(const std::string& from, const std::string& to,
                             const std::string& subject, const std::string& body,
                             const std::vector<std::string>& attachments, std::time_t when) {
  const std::string boundary = std::string("--") + kBoundary;
  const std::string text = ToUtf8Auto(body);
  std::string m;
  m += "Date: " + RFC822Date(when) + "\r\n";
  // Without a sender the header is left out: "From: <>" names no mailbox, and servers that
  // check the header refuse such a message.
  if (!from.empty()) m += "From: <" + HeaderValue(from) + ">\r\n";
  m += "Subject: " + EncodedHeader(subject) + "\r\n";
  m += "To: " + HeaderValue(to) + "\r\n";
  m += "Content-Type: multipart/mixed; boundary=\"" + std::string(kBoundary) + "\";\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += "X-Priority: 1\r\n";
  m += "X-Library: OstrelLog 4.5.4\r\n";
  m += "\r\nThis is a multi-part message in MIME format\r\n\r\n";
  m += boundary + "\r\n";
  // Reports carry UTF-8 (paths, window texts); 7bit stays for plain ASCII.
  m += IsAscii(text) ? "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n"
                     : "Content-Type: text/plain; charset=utf-8\r\n"
                       "Content-Transfer-Encoding: 8bit\r\n";
  m += "\r\n" + CrLf(text);
  for (const std::string& file : attachments) {
    std::string data;
    if (Trim(file).empty() || !ReadWholeFile(file, data)) continue;
    const std::string name = AttachmentName(file);
    const bool png = UpperCase(ExtractFileExt(file)) == ".PNG";
    m += "\r\n" + boundary + "\r\n";
    m += std::string("Content-Type: ") + (png ? "image/png" : "application/octet-stream") + ";\r\n";
    m += "        name=\"" + name + "\"\r\n";
    m += "Content-Transfer-Encoding: base64\r\n";
    m += "Content-Disposition: attachment;\r\n";
    m += "        filename=\"" + name + "\"\r\n\r\n";
    for (size_t pos = 0; pos < data.size(); pos += kBase64LineBytes) {
      m += MailBase64Encode(std::string_view(data).substr(pos, kBase64LineBytes)) + "\r\n";
    }
  }
  m += "\r\n" + boundary + "--\r\n";
  return m;
}

std::string SMTPData(std::string_view message) {
  const std::string text = CrLf(message);
  std::string out;
  out.reserve(text.size() + 16);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    end = end == std::string::npos ? text.size() : end + 2;
    // A line that starts with "." gets another one, so no line of the message can end
    // the data early.
    if (text[start] == '.') out += '.';
    out.append(text, start, end - start);
    start = end;
  }
  if (!out.empty() && !out.ends_with("\r\n")) out += "\r\n";
  out += ".\r\n";
  return out;
}

std::string MailToLink(const std::string& recipients, const std::string& subject,
                       const std::string& body) {
  std::string to;
  for (const std::string& r : SplitRecipients(recipients)) {
    if (!to.empty()) to += ',';
    to += PercentEncode(r, "@");
  }
  return "mailto:" + to + "?Subject=" + PercentEncode(subject, "") +
         "&Body=" + PercentEncode(CrLf(body), "");
}

bool SendBySMTP(bool direct, const std::string& from, const std::string& host,
                const std::vector<std::string>& attachments, const std::string& body,
                const std::string& subject, const std::string& recipients, const std::string& user,
                const std::string& password, uint16_t port, const TOstrelModuleOptions* texts,
                TSendProgress* progress) {
  TraceScope trace("SendBySMTP", {direct, host, recipients, int(port)});
  const std::vector<std::string> list = SplitRecipients(recipients);
  const std::time_t now = std::time(nullptr);
  int served = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string prefix =
        list[i] + " " + std::to_string(i + 1) + "/" + std::to_string(list.size()) + ": ";
    const std::string message =
        BuildMailMessage(from, "<" + list[i] + ">", subject, body, attachments, now);
    try {
      SendToRecipient(direct, from, host, message, list[i], user, password, port, prefix, texts,
                      progress);
      ++served;
    } catch (const Exception& e) {
      if (progress != nullptr) progress->Status(prefix + e.what());
      Warning(eeEmailSMTPError, e.what());
    }
  }
  return trace.Result(served > 0);
}

bool SendByMAPI(const std::string& recipients, const std::string& subject, const std::string& body,
                const std::vector<std::string>& attachments, const std::string& from) {
  TraceScope trace("SendByMAPI", {recipients, subject});
  std::string to;
  for (const std::string& r : SplitRecipients(recipients))
    to += (to.empty() ? "<" : ", <") + r + ">";
  if (to.empty()) {
    Warning(eeEmailMAPIError, "Cannot send the MAPI message.");
    return trace.Result(false);
  }
  const std::string message =
      Lf(BuildMailMessage(from, to, subject, body, attachments, std::time(nullptr)));
  const RunResult run = RunProgram({MailPrograms().Sendmail, "-t", "-i"}, &message, kSendmailWait);
  if (run.spawn_error != 0) {
    Warning(eeEmailMAPIError, "Cannot open the MAPI dll.");
    return trace.Result(false);
  }
  if (run.status != 0) {
    Warning(eeEmailMAPIError, "Cannot send the MAPI message.");
    return trace.Result(false);
  }
  return trace.Result(true);
}

std::string ReadRegString(HKEY root, const std::string& path, const std::string& name) {
  TraceScope trace("ReadRegString", {path, name});
  try {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(root);
    if (!registry.OpenKeyReadOnly(path.starts_with('\\') ? path.substr(1) : path) ||
        !registry.ValueExists(name))
      return {};
    const TRegDataType type = registry.GetDataType(name);
    if (type == rdString || type == rdExpandString) return trace.Result(registry.ReadString(name));
    std::vector<uint8_t> data = registry.ReadBinaryData(name);
    if (!data.empty()) data.pop_back();
    return trace.Result(std::string(data.begin(), data.end()));
  } catch (const Exception&) {
    return {};  // an unreadable registry file holds no command
  }
}

namespace {

// Whether process `pid` is `started` or was started by it (a bounded walk up the parents).
bool StartedBy(pid_t pid, pid_t started) {
  for (int depth = 0; depth < 32 && pid > 1; ++depth) {
    if (pid == started) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    // "pid (name) state ppid ...": the name may hold anything, so read after its last ")".
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) != 2) return false;
    pid = pid_t(parent);
  }
  return false;
}

// Waits for the mail handler started for a link: one that hands the link on and ends (its
// status tells whether it failed), or the mail program itself, which stays. The window of the
// handler or of what it started is put in front, above the others and maximised, as soon as it
// shows: while the handler runs, or for a while after it ended. Another program's window gives
// no event of ours to wait on, so the display is asked again until the deadline. False when
// the handler failed.
bool AwaitMailHandler(RunResult& run) {
  const char* display = std::getenv("DISPLAY");
  const std::unique_ptr<DisplayBackend> screen =
      display != nullptr && *display != '\0' ? ProgressDisplay() : nullptr;
  const pid_t started = run.pid;
  const auto owned = [started](std::uint32_t pid) { return StartedBy(pid_t(pid), started); };
  auto deadline = std::chrono::steady_clock::now() + kShellWait;
  for (;;) {
    if (run.status < 0) {
      int status = 0;
      pid_t ended;
      while ((ended = ::waitpid(started, &status, WNOHANG)) < 0 && errno == EINTR) {
      }
      if (ended == started) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (run.status > 0) return false;
        if (!screen) return true;
        deadline = std::min(deadline, std::chrono::steady_clock::now() + kHandlerWindowWait);
      }
    }
    if (screen && screen->RaiseProcessWindow(owned)) return true;
    if (std::chrono::steady_clock::now() > deadline) return true;
    std::this_thread::sleep_for(50ms);
  }
}

}  // namespace

bool SendByShell(const std::string& recipients, const std::string& subject,
                 const std::string& body) {
  TraceScope trace("SendByShell", {recipients, subject});
  const std::string link = MailToLink(recipients, subject, body);
  const std::string command = ExpandEnvironmentVariables(
      ReadRegString(HKEY_CLASSES_ROOT, "\\mailto\\shell\\open\\command", ""));
  std::vector<std::string> handler = SplitCommandLine(command);
  RunResult run;
  if (!handler.empty()) {
    // No shell sees the link: it stays one argument whatever it holds.
    for (std::string& argument : handler)
      argument = StringReplace(argument, "%1", link, rfReplaceAll);
    run = RunProgram(handler, nullptr, 0ms);
  } else {
    const TMailPrograms programs = MailPrograms();
    run = RunProgram({programs.XdgEmail, link}, nullptr, 0ms);
    if (run.spawn_error != 0) run = RunProgram({programs.XdgOpen, link}, nullptr, 0ms);
  }
  if (run.spawn_error != 0) {
    Warning(eeEmailShellError, std::strerror(run.spawn_error));
    return trace.Result(false);
  }
  if (run.status > 0 || !AwaitMailHandler(run)) {
    Warning(eeEmailShellError,
            "The mail handler failed with exit status " + std::to_string(run.status) + ".");
    return trace.Result(false);
  }
  return trace.Result(true);
}

void InstallInternalBugSender() {
  TraceScope trace("InstallInternalBugSender", {});
  SetInternalBugSender(
      [](const std::string& recipient, const std::string& subject, const std::string& body,
         const std::string& file) { return SendByMAPI(recipient, subject, body, {file}); });
}

bool SendReport(const TOstrelModuleOptions& options, const TReportToSend& report) {
  const uint8_t way = options.SendWay();
  if (way == swNone || way > swSMTPServer) return false;
  TraceLog("SendReport", {int(way)}, 2);
  const TAttachmentFolder folder;
  std::vector<std::string> attachments;
  if (!options.AppendLogInBody()) {
    std::string name = AttachmentName(report.LogFileName);
    if (name.empty()) name = "OstrelLog.olf";
    const std::string file = folder.Write(name, report.Report);
    if (!file.empty()) attachments.push_back(file);
  }
  if (!report.ScreenshotFile.empty() && FileExists(report.ScreenshotFile)) {
    attachments.push_back(report.ScreenshotFile);
  }
  bool execute = true;
  if (report.OnActionNotify) report.OnActionNotify(4, execute);
  bool sent = false;
  if (execute) {
    TSendProgress* progress = options.ShowSendProgress() ? report.Progress : nullptr;
    std::unique_ptr<TSMTPThread> window;
    if (progress == nullptr && options.ShowSendProgress() && report.MayShowWindows &&
        (way == swSMTPClient || way == swSMTPServer)) {
      window = TSMTPThread::Start(options.Texts(kTextCaption), ProgressDisplay,
                                  std::chrono::seconds(2), options.CustomDialogLook());
      progress = window.get();
    }
    bool retry = false;
    do {
      const std::string& recipients = options.EMailAddresses();
      const std::string& subject = options.EMailSubject();
      std::string body = options.EMailMessage();
      if (options.AppendLogInBody()) body += "\r\n\r\n\r\n" + report.Report;
      if (way == swSMTPClient || way == swSMTPServer) {
        sent = SendBySMTP(way == swSMTPServer, options.EMailFrom(), options.SMTPHost(), attachments,
                          body, subject, recipients, options.SMTPUserID(), options.SMTPPassword(),
                          options.SMTPPort(), &options, progress);
      } else {
        sent = SendByMAPI(recipients, subject, body, attachments, options.EMailFrom());
        if (!sent) {
          // The link carries no attachment: the report goes into the body, and "&"
          // leaves the configured message as the mail handlers of old needed.
          std::string link_body = options.EMailMessage();
          std::erase(link_body, '&');
          link_body += "\r\n\r\n\r\n" + report.Report;
          if (!report.ReproduceSteps.empty()) link_body += "\r\n\r\n\r\n" + report.ReproduceSteps;
          sent = SendByShell(recipients, subject, link_body);
        }
      }
      retry = false;
      if (!sent && report.OnActionError) report.OnActionError(5, retry);
    } while (!sent && retry);
    if (progress != nullptr) progress->Close();
    if (report.OnActionNotify) report.OnActionNotify(5, execute);
  }
  TraceText("SendReport=" + std::string(sent ? "True" : "False"), -2);
  return sent;
}

}  // namespace qv
