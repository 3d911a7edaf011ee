// The logger's own blocking socket client, a thin SMTP command layer on it and the
// mail-exchanger lookup. The logger sends reports without the program's socket layer,
// from whatever thread runs the report, so everything here blocks, with every wait
// bounded by `Timeout`. A socket object belongs to one thread and one conversation.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/base/exception.h"

namespace qv {

class EOstrelSocketError : public Exception {
 public:
  using Exception::Exception;
};

class TOstrelClientSocket {
 public:
  // `stream`: TCP, else UDP. `timeout` in milliseconds bounds every wait.
  TOstrelClientSocket(std::string host, uint32_t timeout, bool stream, uint16_t port);
  TOstrelClientSocket(const TOstrelClientSocket&) = delete;
  TOstrelClientSocket& operator=(const TOstrelClientSocket&) = delete;
  virtual ~TOstrelClientSocket();

  // Resolves `Host` (IPv4) and connects within `Timeout`. A name that does not resolve,
  // and the wildcard address 0.0.0.0, are connection errors.
  virtual void Connect();
  // Closes the socket and clears `LastReply`; a failing close is not raised.
  virtual void Disconnect();

  // Sends all `count` bytes (waiting up to `Timeout` whenever the peer is slow); answers
  // `count`.
  int SendBuffer(const void* buffer, int count);
  // Sends in pieces of at most 1024 bytes, reporting progress after each.
  int SendString(std::string_view text);
  // With a count of -1 the number of bytes waiting, without reading; else one read of
  // what is waiting (0 when nothing is). A stream closed by the peer is an error.
  int ReceiveBuffer(void* buffer, int count);
  // Everything waiting now, at most `limit` bytes (a datagram socket: the waiting
  // datagrams), appended to `LastReply` as well; "" when nothing is waiting.
  std::string ReceiveString(size_t limit = 65536);
  // Waits until something arrives; "Socket timeout." after `Timeout` ms.
  std::string ReceiveWithTimeout();
  // Reads one complete reply (the final line of a multi-line reply included, all of it
  // within `Timeout`; a reply over 64 KiB or with a line over 4 KiB is an error) and answers
  // whether its leading code is one of `codes`. The reply is kept in Reply().
  bool CheckReply(std::initializer_list<int> codes);
  // Sends `command` + CR LF and checks the reply; an unaccepted reply is raised with its
  // text as the message.
  void SendCommand(std::string_view command, std::initializer_list<int> codes);

  [[nodiscard]] bool Connected() const { return connected_; }
  // The reply CheckReply read last.
  [[nodiscard]] const std::string& Reply() const { return reply_; }

  std::string Host;
  uint16_t Port = 0;
  uint32_t Timeout = 0;
  // Every byte received since the connection was opened, after the connect line.
  std::string LastReply;
  // Called with the message before any error is raised.
  std::function<void(const std::string& message)> OnError;
  // Called by SendString with the bytes sent so far and the total.
  std::function<void(size_t sent, size_t total)> OnProgress;
  // Errors raise the silent EAbort instead of EOstrelSocketError.
  bool Silent = false;

 protected:
  [[noreturn]] void Error(const std::string& message);
  // Waits until the socket is readable (or writable), at most until `deadline`; false
  // on time-out.
  bool WaitFor(short events, std::chrono::steady_clock::time_point deadline);
  [[nodiscard]] std::chrono::steady_clock::time_point Deadline() const;

 private:
  [[noreturn]] void SystemError(const char* call, int error);

  int type_;
  int fd_ = -1;
  bool connected_ = false;
  std::string reply_;
};

// Connect also reads the server's greeting, which must be 220.
class TOstrelClientSMTP : public TOstrelClientSocket {
 public:
  TOstrelClientSMTP(std::string host, uint32_t timeout, uint16_t port)
      : TOstrelClientSocket(std::move(host), timeout, true, port) {}
  void Connect() override;
};

}  // namespace qv
