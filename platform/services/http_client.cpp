#include "platform/services/http_client.h"

#include <curl/curl.h>

#include <cassert>
#include <cctype>
#include <mutex>
#include <thread>

#include "platform/base/streams.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"

namespace qv {

namespace {

// What the worker thread fills in. The calling thread reads it only after joining.
struct Transfer {
  std::string body;
  std::int64_t maxSize = 0;
  bool overflow = false;
  CURLcode result = CURLE_OK;
  char error[CURL_ERROR_SIZE] = {};
  std::shared_ptr<std::atomic<bool>> abort;
  std::atomic<bool> done{false};
};

void InitCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (std::int64_t(t->body.size() + n) > t->maxSize) {
    t->overflow = true;
    return 0;  // libcurl ends the transfer with a write error
  }
  t->body.append(data, n);
  return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* t = static_cast<const Transfer*>(user);
  return t->abort->load() ? 1 : 0;
}

bool HttpScheme(const std::string& url) {
  const auto starts = [&](std::string_view p) {
    if (url.size() < p.size()) return false;
    for (std::size_t i = 0; i < p.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(url[i])) != p[i]) return false;
    }
    return true;
  };
  return starts("http://") || starts("https://");
}

// Unlinks the header list however the request ends.
struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
  void Add(const std::string& line) {
    curl_slist* l = curl_slist_append(list, line.c_str());
    if (l == nullptr) throw EHTTPClientError("Out of memory");
    list = l;
  }
};

}  // namespace

THTTPClient::THTTPClient() {
  InitCurl();
  CURLSH* share = curl_share_init();
  if (share == nullptr) throw EHTTPClientError("Could not create the HTTP client");
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  share_ = share;
}

THTTPClient::~THTTPClient() {
  // Destroying the client from a handler that runs while its own request waits would pull
  // the handle from under the worker.
  assert(!busy_ && "THTTPClient destroyed during a request");
  curl_share_cleanup(static_cast<CURLSH*>(share_));
}

void THTTPClient::Abort() {
  if (busy_ && abort_) abort_->store(true);
}

std::string THTTPClient::Get(const std::string& url) {
  return Perform(url);
}

void THTTPClient::Get(const std::string& url, TStream& dest) {
  dest.SetSize(0);
  dest.SetPosition(0);
  const std::string body = Perform(url);
  dest.WriteBuffer(body);
  dest.SetPosition(0);
}

std::string THTTPClient::Perform(const std::string& url) {
  if (busy_) throw EHTTPClientError("A request is already in progress");
  responseCode_ = 0;
  contentType_.clear();
  if (!HttpScheme(url)) throw EHTTPClientError("Unsupported protocol in URL: " + url);

  // A fresh handle per request; the share keeps the cookies.
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
  if (!handle) throw EHTTPClientError("Out of memory");
  CURL* c = handle.get();
  auto t = std::make_shared<Transfer>();
  t->maxSize = MaxSize;
  t->abort = std::make_shared<std::atomic<bool>>(false);

  HeaderList headers;
  if (!Accept.empty()) headers.Add("Accept: " + Accept);
  if (!ContentType.empty()) headers.Add("Content-Type: " + ContentType);
  headers.Add("Expect:");

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, MaxRedirects > 0 ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, long(MaxRedirects));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.list);
  if (!UserAgent.empty()) curl_easy_setopt(c, CURLOPT_USERAGENT, UserAgent.c_str());
  if (AllowCookies) {
    curl_easy_setopt(c, CURLOPT_SHARE, static_cast<CURLSH*>(share_));
    curl_easy_setopt(c, CURLOPT_COOKIEFILE, "");
  }
  // An empty proxy also keeps the environment's proxy variables out.
  std::string proxy;
  if (!Proxy.Server.empty()) {
    proxy = Proxy.Server;
    if (Proxy.Port > 0) proxy += ":" + std::to_string(Proxy.Port);
  }
  curl_easy_setopt(c, CURLOPT_PROXY, proxy.c_str());
  if (!proxy.empty() && !Proxy.Username.empty()) {
    curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, Proxy.Username.c_str());
    curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, Proxy.Password.c_str());
  }
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeout.count()));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long(TotalTimeout.count()));
  if (ReadTimeout.count() > 0) {
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, long((ReadTimeout.count() + 999) / 1000));
  }
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxSize));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, t.get());
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, t.get());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, t->error);

  busy_ = true;
  abort_ = t->abort;
  const auto caller = std::this_thread::get_id();
  const bool pump = ProcessMessages;
  std::thread worker([t, c, caller, pump] {
    t->result = curl_easy_perform(c);
    t->done.store(true);
    if (pump) PostThreadMessage(caller, WM_NULL, 0, 0);
  });
  bool timedOut = false;
  try {
    if (pump) {
      // libcurl keeps its own time-outs; this bound only catches a transfer that ignores them.
      const auto deadline = std::chrono::steady_clock::now() + ConnectTimeout + TotalTimeout +
                            std::chrono::seconds(5);
      const PumpResult r = PumpUntil([&t] { return t->done.load(); }, deadline);
      if (r == PumpResult::TimedOut) timedOut = true;
      if (r != PumpResult::Done) t->abort->store(true);
    }
  } catch (...) {
    t->abort->store(true);
    worker.join();
    busy_ = false;
    throw;
  }
  worker.join();
  busy_ = false;
  abort_.reset();

  if (t->result == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
    responseCode_ = int(code);
    const char* type = nullptr;
    curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type);
    contentType_ = type != nullptr ? type : "";
    return std::move(t->body);
  }
  if (t->overflow || t->result == CURLE_FILESIZE_EXCEEDED) {
    throw EHTTPClientError("The answer is larger than " + std::to_string(MaxSize) + " bytes");
  }
  if (t->result == CURLE_ABORTED_BY_CALLBACK) {
    throw EHTTPClientError(timedOut ? "Operation timed out" : "Operation aborted");
  }
  const std::string detail = t->error[0] != '\0' ? t->error : curl_easy_strerror(t->result);
  if (t->result == CURLE_OPERATION_TIMEDOUT) throw EHTTPClientError("Timed out: " + detail);
  throw EHTTPClientError("HTTP request failed: " + detail);
}

}  // namespace qv
