#include "platform/services/http_client.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base/streams.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"
#include "tests/fixtures/cover/cover_fixture.h"
#include "tests/peers/peers.h"

namespace qv {
namespace {

using testing::CoverServer;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class HTTPClientTest : public ::testing::Test {
 protected:
  CoverServer server;
  THTTPClient client;
};

TEST_F(HTTPClientTest, StatusCodesAreAnswersAndBinaryBodiesArriveWhole) {
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes.push_back(static_cast<char>(i * 7));
  server.WriteFile("blob.bin", bytes);
  server.SetRoutes(
      "/blob 200 image/jpeg blob.bin\n"
      "/typed 200 image/jpeg;%20charset=x blob.bin\n"
      "/gone 410 text/html -\n");
  TMemoryStream stream;
  stream.WriteBuffer("old content that must go");
  client.Get(server.Url("/blob"), stream);
  EXPECT_EQ(client.ResponseCode(), 200);
  EXPECT_EQ(client.ResponseContentType(), "image/jpeg");
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), bytes);
  EXPECT_EQ(stream.Position(), 0);

  (void)client.Get(server.Url("/typed"));
  EXPECT_EQ(client.ResponseContentType(), "image/jpeg; charset=x");
  EXPECT_EQ(client.Get(server.Url("/gone")), "");
  EXPECT_EQ(client.ResponseCode(), 410);
  (void)client.Get(server.Url("/nowhere"));
  EXPECT_EQ(client.ResponseCode(), 404);
}

TEST_F(HTTPClientTest, RedirectsAreFollowedOnlyToHttp) {
  server.WriteFile("a.txt", "target");
  server.SetRoutes(
      "/a 200 text/plain a.txt\n/moved 302 text/html - redirect:/a\n"
      "/tofile 302 text/html - redirect:file:///etc/passwd\n");
  EXPECT_EQ(client.Get(server.Url("/moved")), "target");
  EXPECT_THROW((void)client.Get(server.Url("/tofile")), EHTTPClientError);
}

TEST_F(HTTPClientTest, StalledAnswerEndsWithTheReadTimeOut) {
  server.WriteFile("half.bin", std::string(1000, 'y'));
  server.SetRoutes("/stall 200 image/jpeg half.bin stall\n/hang 200 text/xml - hang\n");
  client.ReadTimeout = std::chrono::milliseconds(1000);
  client.TotalTimeout = std::chrono::milliseconds(60000);
  EXPECT_THROW((void)client.Get(server.Url("/stall")), EHTTPClientError);
  EXPECT_THROW((void)client.Get(server.Url("/hang")), EHTTPClientError);
  // A transfer that keeps trickling is ended by the overall bound instead.
  client.ReadTimeout = std::chrono::milliseconds(0);
  client.TotalTimeout = std::chrono::milliseconds(1500);
  EXPECT_THROW((void)client.Get(server.Url("/hang")), EHTTPClientError);
  // The client is usable after a time-out.
  EXPECT_EQ(client.Get(server.Url("/echo")).substr(0, 9), "GET /echo");
}

TEST_F(HTTPClientTest, MessagesAreServedWhileWaitingAndCanAbort) {
  server.SetRoutes("/hang 200 text/xml - hang\n");
  client.ReadTimeout = std::chrono::milliseconds(0);
  client.TotalTimeout = std::chrono::milliseconds(120000);
  constexpr UINT kPing = WM_USER + 1;
  int pings = 0;
  bool sawBusy = false;
  const HWND wnd = AllocateHWnd([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == kPing) {
      ++pings;
      sawBusy = client.Busy();
      // A second request from a handler while one runs is refused, not nested.
      EXPECT_THROW((void)client.Get(server.Url("/echo")), EHTTPClientError);
      client.Abort();
    }
    return 0;
  });
  ASSERT_TRUE(PostMessage(wnd, kPing, 0, 0));
  try {
    (void)client.Get(server.Url("/hang"));
    ADD_FAILURE() << "the request was not aborted";
  } catch (const EHTTPClientError& e) {
    EXPECT_EQ(e.Message(), "Operation aborted");
  }
  EXPECT_EQ(pings, 1);
  EXPECT_TRUE(sawBusy);
  EXPECT_FALSE(client.Busy());
  DeallocateHWnd(wnd);
}

TEST(HTTPClientProxyTest, AuthenticatesAtARealProxy) {
  CoverServer server;
  test::Tinyproxy proxy(true);
  ASSERT_TRUE(proxy.Ok()) << proxy.Error();
  THTTPClient client;
  client.Proxy.Server = "127.0.0.1";
  client.Proxy.Port = proxy.Port();
  (void)client.Get(server.Url("/echo"));
  EXPECT_EQ(client.ResponseCode(), 407);
  client.Proxy.Username = "bob";
  client.Proxy.Password = "pw1";
  const std::string body = client.Get(server.Url("/echo"));
  EXPECT_EQ(client.ResponseCode(), 200);
  EXPECT_TRUE(Contains(body, "GET /echo")) << body;
}

}  // namespace
}  // namespace qv
