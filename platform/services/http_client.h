// The class library's HTTP client as the cover-art search uses it: a GET that blocks the
// caller until the answer is in, into a text or a stream, with the stored request headers,
// cookies kept between requests, and the proxy settings. Unlike a plain blocking call it
// keeps the calling thread's message queue served while the transfer runs (the transfer
// itself runs on a worker thread), so the window stays responsive, and every transfer is
// bounded: connect, stall and overall time-outs and a size limit. HTTP status codes are
// answers, not failures; transport failures, time-outs, a refused URL and the size limit
// raise EHTTPClientError. One client belongs to one thread and runs one request at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/exception.h"

namespace qv {

class TStream;

class EHTTPClientError : public Exception {
 public:
  using Exception::Exception;
};

struct THTTPProxy {
  std::string Server;  // host name or address; empty: no proxy
  int Port = 0;        // 0: the scheme's default proxy port (1080 in libcurl)
  std::string Username;
  std::string Password;
};

class THTTPClient {
 public:
  THTTPClient();
  ~THTTPClient();
  THTTPClient(const THTTPClient&) = delete;
  THTTPClient& operator=(const THTTPClient&) = delete;

  // Stored request headers; an empty value is not sent.
  std::string ContentType = "text/html";
  std::string Accept = "text/html, */*";
  std::string UserAgent = "Mozilla/3.0 (compatible; HTTP Library)";
  bool AllowCookies = true;
  THTTPProxy Proxy;

  // Bounds of one request. `ReadTimeout` ends a transfer that receives nothing for that
  // long (whole seconds, at least one); `TotalTimeout` bounds the whole request.
  std::chrono::milliseconds ConnectTimeout{10000};
  std::chrono::milliseconds ReadTimeout{15000};
  std::chrono::milliseconds TotalTimeout{30000};
  std::int64_t MaxSize = std::int64_t(16) << 20;  // bytes of body; more raises
  int MaxRedirects = 5;                           // followed Location answers
  // Serve the calling thread's message queue while waiting (off: just wait).
  bool ProcessMessages = true;

  // GET `url` (http or https only). The body replaces `dest`'s content from position 0
  // (the stream is emptied first); the text form returns it.
  std::string Get(const std::string& url);
  void Get(const std::string& url, TStream& dest);

  // The last answer: status code (0 before any) and the Content-Type header as sent.
  [[nodiscard]] int ResponseCode() const { return responseCode_; }
  [[nodiscard]] const std::string& ResponseContentType() const { return contentType_; }
  [[nodiscard]] bool Busy() const { return busy_; }

  // Ends the running request (from a handler that runs while it waits): Get then raises
  // "Operation aborted". Does nothing when no request runs.
  void Abort();

 private:
  std::string Perform(const std::string& url);

  void* share_ = nullptr;  // CURLSH: the cookies kept between requests
  int responseCode_ = 0;
  std::string contentType_;
  bool busy_ = false;
  std::shared_ptr<std::atomic<bool>> abort_;  // of the running request
};

}  // namespace qv
