#include "crashlog/client_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "crashlog/trace_log.h"

namespace qv {
namespace {

constexpr size_t kSendPiece = 1024;
// A server reply is a few short lines; these bound what a hostile or broken one costs.
constexpr size_t kMaxReplyLine = 4096;
constexpr size_t kMaxReply = 65536;

std::string SystemText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// True when `reply` ends with the last line of an SMTP reply: "NNN text" CR LF (or a
// line that does not follow the "NNN-" continuation form at all).
bool ReplyComplete(std::string_view reply) {
  if (reply.size() < 2 || reply.substr(reply.size() - 2) != "\r\n") return false;
  const std::string_view body = reply.substr(0, reply.size() - 2);
  const size_t start = body.rfind("\r\n");
  const std::string_view line = start == std::string_view::npos ? body : body.substr(start + 2);
  return !(line.size() >= 4 && line[3] == '-');
}

}  // namespace

TOstrelClientSocket::TOstrelClientSocket(std::string host, uint32_t timeout, bool stream,
                                         uint16_t port)
    : Host(std::move(host)),
      Port(port),
      Timeout(timeout),
      type_(stream ? SOCK_STREAM : SOCK_DGRAM) {}

TOstrelClientSocket::~TOstrelClientSocket() {
  if (fd_ >= 0) Disconnect();
}

void TOstrelClientSocket::Error(const std::string& message) {
  if (OnError) OnError(message);
  if (Silent) throw EAbort();
  throw EOstrelSocketError(message);
}

void TOstrelClientSocket::SystemError(const char* call, int error) {
  Disconnect();
  Error("Error into " + Quoted(call) + ": " + Quoted(SystemText(error)));
}

std::chrono::steady_clock::time_point TOstrelClientSocket::Deadline() const {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(Timeout);
}

bool TOstrelClientSocket::WaitFor(short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd_, events, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return true;  // the following call reports the error
  }
}

void TOstrelClientSocket::Connect() {
  TraceScope trace("TOstrelClientSocket.Connect", {Host, int(Port)});
  if (connected_) return;
  fd_ = ::socket(AF_INET, type_ | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) Error("Invalid socket: " + Quoted(SystemText(errno)) + ".");

  // An unresolvable name must not become 0.0.0.0: on Linux that reaches this machine.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = type_;
  addrinfo* found = nullptr;
  const int gai = ::getaddrinfo(Host.c_str(), nullptr, &hints, &found);
  sockaddr_in address{};
  if (gai == 0 && found != nullptr) {
    address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  }
  if (found != nullptr) ::freeaddrinfo(found);
  if (gai != 0 || address.sin_addr.s_addr == htonl(INADDR_ANY)) {
    const std::string text =
        gai != 0 && gai != EAI_SYSTEM ? ::gai_strerror(gai) : SystemText(EADDRNOTAVAIL);
    Disconnect();
    Error("Connection error: " + Quoted(text));
  }
  address.sin_family = AF_INET;
  address.sin_port = htons(Port);

  int rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  int error = rc == 0 ? 0 : errno;
  if (error == EINPROGRESS || error == EINTR) {
    if (!WaitFor(POLLOUT, Deadline())) {
      Disconnect();
      Error("Socket timeout.");
    }
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
  }
  if (error != 0) {
    Disconnect();
    Error("Connection error: " + Quoted(SystemText(error)));
  }
  connected_ = true;
  const auto* a = reinterpret_cast<const unsigned char*>(&address.sin_addr.s_addr);
  char line[64];
  std::snprintf(line, sizeof line, "Connected to %d.%d.%d.%d port %d\r\n", a[0], a[1], a[2], a[3],
                Port);
  LastReply = line;
}

void TOstrelClientSocket::Disconnect() {
  TraceScope trace("TOstrelClientSocket.Disconnect", {});
  if (fd_ >= 0 && ::close(fd_) != 0 && errno != EINTR) {
    TraceText("Cannot close the socket: " + Quoted(SystemText(errno)), 0);
  }
  fd_ = -1;
  connected_ = false;
  LastReply.clear();
}

int TOstrelClientSocket::SendBuffer(const void* buffer, int count) {
  TraceScope trace("TOstrelClientSocket.SendBuffer", {count});
  const auto* bytes = static_cast<const char*>(buffer);
  int sent = 0;
  const auto deadline = Deadline();
  while (sent < count) {
    // MSG_NOSIGNAL: a peer that went away must not end the reporting process by SIGPIPE.
    const ssize_t n = ::send(fd_, bytes + sent, size_t(count - sent), MSG_NOSIGNAL);
    if (n >= 0) {
      sent += int(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) SystemError("send", errno);
    if (!WaitFor(POLLOUT, deadline)) {
      Disconnect();
      Error("Socket timeout.");
    }
  }
  return trace.Result(sent);
}

int TOstrelClientSocket::SendString(std::string_view text) {
  TraceScope trace("TOstrelClientSocket.SendString", {int(text.size())});
  int total = 0;
  for (size_t pos = 0; pos < text.size();) {
    const size_t piece = std::min(kSendPiece, text.size() - pos);
    total += SendBuffer(text.data() + pos, int(piece));
    pos += piece;
    if (OnProgress) OnProgress(pos, text.size());
  }
  return trace.Result(total);
}

int TOstrelClientSocket::ReceiveBuffer(void* buffer, int count) {
  TraceScope trace("TOstrelClientSocket.ReceiveBuffer", {count});
  if (count == -1) {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) SystemError("recv", errno);
    return trace.Result(waiting);
  }
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, size_t(count), 0);
    if (n > 0) return trace.Result(int(n));
    if (n == 0) {
      // An empty datagram is data; an ended stream is the end of the conversation.
      if (type_ == SOCK_DGRAM || count == 0) return trace.Result(0);
      SystemError("recv", ECONNRESET);
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return trace.Result(0);
    SystemError("recv", errno);
  }
}

std::string TOstrelClientSocket::ReceiveString(size_t limit) {
  TraceScope trace("TOstrelClientSocket.ReceiveString", {});
  std::string result;
  char buffer[4096];
  // A peer that keeps sending must not keep this loop going: at most `limit` bytes a call.
  while (result.size() < limit) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) break;
    // A peer's last words and its hang-up often come together: the words are answered
    // now and the end is reported by the next read.
    if (!result.empty() && type_ == SOCK_STREAM) {
      char probe;
      const ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK);
      if (n == 0) break;
    }
    const int n = ReceiveBuffer(buffer, int(std::min(sizeof buffer, limit - result.size())));
    if (n <= 0) break;
    result.append(buffer, size_t(n));
  }
  LastReply += result;
  return trace.Result(result);
}

std::string TOstrelClientSocket::ReceiveWithTimeout() {
  TraceScope trace("TOstrelClientSocket.ReceiveWithTimeout", {});
  const auto deadline = Deadline();
  for (;;) {
    if (!WaitFor(POLLIN, deadline)) Error("Socket timeout.");
    std::string got = ReceiveString();
    if (!got.empty()) return trace.Result(got);
  }
}

bool TOstrelClientSocket::CheckReply(std::initializer_list<int> codes) {
  TraceScope trace("TOstrelClientSocket.CheckReply", {});
  // A reply may come in pieces; its end is its final line, so a late piece never
  // becomes the start of the next reply. The whole reply shares one time-out, and its
  // lines and its size are bounded: a server that never ends its reply cannot keep the
  // reporting process reading.
  reply_.clear();
  const auto deadline = Deadline();
  size_t line_start = 0;
  while (!ReplyComplete(reply_)) {
    if (!WaitFor(POLLIN, deadline)) Error("Socket timeout.");
    const size_t scanned = reply_.size();
    reply_ += ReceiveString(kMaxReply + 1 - reply_.size());
    for (size_t at = scanned; at < reply_.size(); ++at) {
      if (reply_[at] == '\n') line_start = at + 1;
    }
    if (reply_.size() > kMaxReply || reply_.size() - line_start > kMaxReplyLine) {
      reply_.clear();
      Disconnect();
      Error("The server's reply is too long.");
    }
  }
  size_t digits = 0;
  while (digits < reply_.size() && digits < 9 && reply_[digits] >= '0' && reply_[digits] <= '9') {
    ++digits;
  }
  if (digits == 0) return trace.Result(false);
  const int code = std::stoi(reply_.substr(0, digits));
  return trace.Result(std::find(codes.begin(), codes.end(), code) != codes.end());
}

void TOstrelClientSocket::SendCommand(std::string_view command, std::initializer_list<int> codes) {
  TraceScope trace("TOstrelClientSocket.SendCommand", {});
  SendString(std::string(command) + "\r\n");
  if (!CheckReply(codes)) Error(reply_);
}

void TOstrelClientSMTP::Connect() {
  TraceScope trace("TOstrelClientSMTP.Connect", {Host, int(Port)});
  TOstrelClientSocket::Connect();
  if (!CheckReply({220})) Error(LastReply);
}

}  // namespace qv
