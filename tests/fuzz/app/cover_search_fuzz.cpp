// The cover search against a service played by the input: the part before the first NUL is
// the search answer (XML, whatever it holds), the rest the body of every picture the answer
// lists. All requests go through a proxy on loopback, so no listed address is ever asked.
// The search must end with only decodable JPEG pictures kept.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "app/cover/advpicture.h"
#include "app/cover/coversearch.h"
#include "platform/gfx/picture.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// A blocking HTTP server on its own thread: the first request of a search gets the answer,
// every later one the picture, each on a connection of its own.
class ServicePeer {
 public:
  ServicePeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        ::listen(listener_, 16) != 0)
      std::abort();
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (int c; (c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) Serve(c);
    });
  }
  ~ServicePeer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  [[nodiscard]] int Port() const { return port_; }
  void Play(std::string_view answer, std::string_view picture) {
    const std::lock_guard lock(mutex_);
    answer_ = answer;
    picture_ = picture;
    requests_ = 0;
  }

 private:
  void Serve(int c) {
    std::string request;
    char buf[4096];
    pollfd p{c, POLLIN, 0};
    while (request.find("\r\n\r\n") == std::string::npos && ::poll(&p, 1, 10000) > 0) {
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, std::size_t(n));
    }
    std::string reply;
    {
      const std::lock_guard lock(mutex_);
      const bool first = requests_++ == 0;
      const std::string& body = first ? answer_ : picture_;
      reply = std::string("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: ") +
              (first ? "text/xml" : "image/jpeg") +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    for (std::size_t sent = 0; sent < reply.size();) {
      const ssize_t n = ::send(c, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += std::size_t(n);
    }
    ::shutdown(c, SHUT_WR);
    while (::poll(&p, 1, 10000) > 0 && ::recv(c, buf, sizeof buf, 0) > 0) {
    }
    ::close(c);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::string answer_, picture_;  // guarded by mutex_
  int requests_ = 0;              // guarded by mutex_
};

class View final : public qv::ICoverSearchView {
 public:
  std::string LangMessage(int) const override { return "m"; }
  void ShowStatus(const std::string&) override {}
  void SetSlideCaption(const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ServicePeer peer;
  const auto parts = qv::fuzz::Parts(data, size, 2);
  peer.Play(parts[0], parts[1]);
  View view;
  qv::TAdvPicture picture(nullptr);
  qv::TCoverSearch search(view, picture);
  search.FSearchURL = "http://covers.test/search?k=#SEARCH#";
  search.MaxCovers = 4;
  search.HTTPClient().Proxy.Server = "127.0.0.1";
  search.HTTPClient().Proxy.Port = peer.Port();
  search.SearchCovers("Album", "Artist");
  for (const auto& cover : search.Covers()) {
    if (qv::DetectPictureFormat(cover) != qv::PictureFormat::Jpeg) std::abort();
  }
  for (int i = 0; i <= search.CoverCount(); ++i) search.SlideClick();
  return 0;
}
