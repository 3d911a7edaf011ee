#include "net/httpprot.h"

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "net/mimeutil.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"

namespace qv {
namespace {

constexpr UINT WM_HTTP_REQUEST_DONE = WM_USER + 1;
constexpr UINT WM_HTTP_SET_READY = WM_USER + 2;
constexpr UINT WM_HTTP_LOGIN = WM_USER + 3;
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;
constexpr int kMaxHeaderLines = 1000;
constexpr const char* kHeaderCut = "Connection closed before the header was complete";

bool HasControl(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

// A request target never carries blanks or control characters: they are escaped, so no
// URL or Location value can add lines to the request.
std::string EncodePath(const std::string& s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c <= 0x20 || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

bool ValidHost(const std::string& h) {
  if (h.empty() || h.size() > 255) return false;
  return std::all_of(h.begin(), h.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
}

bool ValidPort(const std::string& p) {
  if (p.empty() || p.size() > 5) return false;
  if (!std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  const long n = std::stol(p);
  return n > 0 && n <= 65535;
}

// "scheme://" with a scheme made of letters, digits, "+", "-" and ".".
bool SplitScheme(const std::string& url, std::string& scheme) {
  const auto at = url.find("://");
  if (at == std::string::npos || at == 0) return false;
  for (std::size_t i = 0; i < at; ++i) {
    const char c = char(std::tolower(static_cast<unsigned char>(url[i])));
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.')) {
      return false;
    }
  }
  scheme = LowerCase(url.substr(0, at));
  return true;
}

std::string HttpDate(std::chrono::system_clock::time_point t) {
  const std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %2.2d %s %4.4d %2.2d:%2.2d:%2.2d", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return buf;
}

}  // namespace

std::string EncodeStr(int Encoding, const std::string& Value) {
  if (Encoding != 0) return MimeBase64Encode(Value);
  // UU: a length character, then groups of four characters; the value 0 is written "`".
  const auto uu = [](unsigned v) { return v == 0 ? '`' : char(v + 32); };
  std::string out(1, uu(unsigned(Value.size()) & 63));
  for (std::size_t i = 0; i < Value.size(); i += 3) {
    unsigned char b[3] = {};
    for (std::size_t k = 0; k < 3 && i + k < Value.size(); ++k)
      b[k] = static_cast<unsigned char>(Value[i + k]);
    out += uu(b[0] >> 2);
    out += uu(((b[0] & 3) << 4) | (b[1] >> 4));
    out += uu(((b[1] & 15) << 2) | (b[2] >> 6));
    out += uu(b[2] & 63);
  }
  return out;
}

void ParseURL(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path) {
  if (URL.empty()) return;
  if (URL.rfind("./", 0) == 0 || URL.rfind("../", 0) == 0) {
    const auto slash = Path.rfind('/');
    std::string base = slash == std::string::npos ? "/" : Path.substr(0, slash + 1);
    std::string rest = URL;
    if (rest.rfind("./", 0) == 0) {
      rest = rest.substr(2);
    } else {
      while (rest.rfind("../", 0) == 0) {
        rest = rest.substr(3);
        if (base.size() > 1) {
          const auto up = base.rfind('/', base.size() - 2);
          base = up == std::string::npos ? "/" : base.substr(0, up + 1);
        }
      }
    }
    Path = base + rest;
    return;
  }
  std::string rest = URL;
  std::string scheme;
  if (SplitScheme(URL, scheme)) {
    Proto = scheme;
    rest = URL.substr(URL.find("://") + 3);
  } else if (LowerCase(URL.substr(0, 5)) == "http:") {
    Proto = "http";
    if (URL.size() <= 5 || URL[5] != '/') {
      Path = URL.substr(4);
      return;
    }
    rest = URL.substr(5);
  } else if (LowerCase(URL.substr(0, 7)) == "mailto:") {
    Proto = "mailto";
    rest = URL.substr(7);
  } else if (URL[0] == '/') {
    Proto = "http";
    if (URL.rfind("//", 0) != 0) {
      Path = URL;
      return;
    }
    rest = URL.substr(2);
  }
  const auto end = rest.find_first_of("/?");
  const std::string authority = end == std::string::npos ? rest : rest.substr(0, end);
  Path = end == std::string::npos ? std::string() : rest.substr(end);
  const auto c = authority.rfind(':');
  const auto a = authority.rfind('@');
  std::string userPart;
  if (c == std::string::npos && a == std::string::npos) {
    Host = authority;
    return;
  }
  if (c == std::string::npos || (a != std::string::npos && a > c)) {
    Host = authority.substr(a + 1);
    userPart = authority.substr(0, a);
  } else {
    Port = authority.substr(c + 1);
    if (a == std::string::npos) {
      Host = authority.substr(0, c);
      return;
    }
    Host = authority.substr(a + 1, c - a - 1);
    userPart = authority.substr(0, a);
  }
  const auto colon = userPart.find(':');
  User = userPart.substr(0, colon);
  Pass = colon == std::string::npos ? std::string() : userPart.substr(colon + 1);
}

THttpCli::THttpCli(TComponent* AOwner) : TComponent(AOwner) {
  socket_ = CreateSocket();
  handle_ = AllocateHWnd([this](HWND, UINT m, WPARAM w, LPARAM l) { return WndProc(m, w, l); });
  WireSocket();
}

std::unique_ptr<TWSocket> THttpCli::CreateSocket() {
  return std::make_unique<TWSocket>();
}

THttpCli::~THttpCli() {
  DeallocateHWnd(handle_);
  handle_ = 0;
  socket_.reset();
}

HWND THttpCli::AllocateHWnd(qv::WndProc Procedure) {
  return qv::AllocateHWnd(std::move(Procedure));
}

void THttpCli::DeallocateHWnd(HWND Wnd) {
  qv::DeallocateHWnd(Wnd);
}

void THttpCli::WireSocket() {
  TWSocket& s = *socket_;
  s.OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { SocketSessionClosed(e); };
  s.OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { SocketDataAvailable(e); };
  s.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) { SocketSessionConnected(e); };
  s.OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { SocketDataSent(e); };
  s.OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) { SocketDNSLookupDone(e); };
  s.OnSocksError = [this](TCustomWSocket* sock, int e, const std::string& m) {
    socksErrorMsg_ = m;
    if (OnSocksError) OnSocksError(sock, e, m);
  };
  s.OnSocksConnected = [this](TCustomWSocket* sock, std::uint16_t e) {
    if (OnSocksConnected) OnSocksConnected(sock, e);
  };
  s.OnSocksAuthState = [this](TCustomWSocket* sock, TSocksAuthState a) {
    if (OnSocksAuthState) OnSocksAuthState(sock, a);
  };
  s.OnError = [this](TCustomWSocket*) {
    if (OnSocketError) OnSocketError(this);
  };
}

void THttpCli::SetRequestVer(const std::string& Value) {
  if (Value != "1.0" && Value != "1.1") throw EHttpException("Insupported HTTP version", 5);
  requestVer_ = Value;
}

void THttpCli::SetSocksServer(const std::string& V) {
  socket_->SetSocksServer(V);
  if (socket_->SocksServer() == TrimSpaces(V)) socksServer_ = socket_->SocksServer();
}

void THttpCli::SetSocksPort(const std::string& V) {
  socket_->SetSocksPort(V);
  if (socket_->SocksPort() == TrimSpaces(V)) socksPort_ = socket_->SocksPort();
}

void THttpCli::SetSocksLevel(const std::string& V) {
  socket_->SetSocksLevel(V);
  if (socket_->SocksLevel() == V) socksLevel_ = V;
}

void THttpCli::SetMultiThreaded(bool Value) {
  multiThreaded_ = Value;
  socket_->MultiThreaded = Value;
}

LRESULT THttpCli::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
  switch (Msg) {
    case WM_HTTP_REQUEST_DONE: {
      // The request's own type and error travel with the message, so a completion that
      // arrives after a new request started still reports the request it belongs to.
      doneDelivered_ = std::uint32_t(LParam);
      if (OnRequestDone) {
        OnRequestDone(this, THttpRequest(WParam & 0xFF), std::uint16_t(WParam >> 8));
      }
      return 0;
    }
    case WM_HTTP_SET_READY:
      if (std::uint32_t(LParam) == serial_ && state_ != httpReady) SetState(httpReady);
      return 0;
    case WM_HTTP_LOGIN:
      if (std::uint32_t(LParam) == serial_ && state_ != httpReady) Login();
      return 0;
    default:
      return DefWindowProc(handle_, Msg, WParam, LParam);
  }
}

void THttpCli::SetState(THttpState NewState) {
  if (NewState == state_) return;
  state_ = NewState;
  TriggerStateChange();
  if (NewState == httpReady) TriggerRequestDone();
}

void THttpCli::TriggerStateChange() {
  if (OnStateChange) OnStateChange(this);
}

void THttpCli::TriggerCookie(const std::string& Data, bool& Accept) {
  if (OnCookie) OnCookie(this, Data, Accept);
}

void THttpCli::TriggerSessionConnected() {
  if (OnSessionConnected) OnSessionConnected(this);
}

void THttpCli::TriggerSessionClosed() {
  if (OnSessionClosed) OnSessionClosed(this);
}

void THttpCli::TriggerBeforeHeaderSend(const std::string& Method, TStringList& Headers) {
  if (OnBeforeHeaderSend) OnBeforeHeaderSend(this, Method, Headers);
}

void THttpCli::TriggerRequestHeaderBegin() {
  if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
}

void THttpCli::TriggerRequestHeaderEnd() {
  if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
}

void THttpCli::TriggerHeaderBegin() {
  inHeader_ = true;
  if (OnHeaderBegin) OnHeaderBegin(this);
}

void THttpCli::TriggerHeaderEnd() {
  inHeader_ = false;
  if (OnHeaderEnd) OnHeaderEnd(this);
}

void THttpCli::TriggerDocBegin() {
  if (OnDocBegin) OnDocBegin(this);
}

void THttpCli::TriggerDocData(const void* Data, int Len) {
  if (OnDocData) OnDocData(this, Data, Len);
}

void THttpCli::TriggerDocEnd() {
  if (OnDocEnd) OnDocEnd(this);
}

void THttpCli::TriggerSendBegin() {
  if (OnSendBegin) OnSendBegin(this);
}

void THttpCli::TriggerSendData(const void* Data, int Len) {
  if (OnSendData) OnSendData(this, Data, Len);
}

void THttpCli::TriggerSendEnd() {
  if (OnSendEnd) OnSendEnd(this);
}

void THttpCli::TriggerRequestDone() {
  PostMessage(handle_, WM_HTTP_REQUEST_DONE, WPARAM(requestType_) | WPARAM(requestDoneError_) << 8,
              LPARAM(serial_));
}

void THttpCli::SetReady() {
  PostMessage(handle_, WM_HTTP_SET_READY, 0, LPARAM(serial_));
}

void THttpCli::ResetRequest() {
  rcvdHeader_.Clear();
  authenticate_.Clear();
  headerBytes_ = 0;
  requestDoneError_ = 0;
  statusCode_ = 0;
  reasonPhrase_.clear();
  rcvdCount_ = 0;
  sentCount_ = 0;
  headerLineCount_ = 0;
  bodyLineCount_ = 0;
  contentLength_ = -1;
  contentType_.clear();
  transferEncoding_.clear();
  rcvdRangeBegin_.clear();
  rcvdRangeEnd_.clear();
  allowedToSend_ = false;
  location_ = URL;
  closeRequested_ = false;
  closeAfterBuffered_ = false;
  inHeader_ = false;
  nextLine_ = NextLine::None;
}

void THttpCli::Fail(std::uint16_t Error, const std::string& Reason) {
  if (requestDoneError_ != 0) return;
  requestDoneError_ = Error;
  reasonPhrase_ = Reason;
}

void THttpCli::EndRequestLocally(std::uint16_t Error, int Status, const std::string& Reason) {
  requestDoneError_ = Error;
  statusCode_ = Status;
  reasonPhrase_ = Reason;
  SetState(httpReady);
}

void THttpCli::StartRequest(THttpRequest Rq) {
  if (Rq != httpCLOSE && state_ != httpReady) throw EHttpException("HTTP component is busy", 1);
  if ((Rq == httpPOST || Rq == httpPUT) && SendStream == nullptr) {
    throw EHttpException("HTTP component has nothing to post or put", 2);
  }
  // Nothing the caller set may add lines to the request.
  for (const std::string* v :
       {&Sender, &Accept, &Reference, &Connection, &ProxyConnection, &AcceptLanguage,
        &ContentTypePost, &Agent, &Cookie, &Username, &Password, &ProxyUsername, &ProxyPassword,
        &ContentRangeBegin, &ContentRangeEnd, &URL, &Proxy}) {
    if (HasControl(*v)) throw EHttpException("HTTP header value contains CR, LF or NUL", 6);
  }
  ++serial_;
  requestType_ = Rq;
  if (Rq == httpCLOSE) {
    statusCode_ = 200;
    reasonPhrase_ = "OK";
    requestDoneError_ = 0;
    SetState(httpClosing);
    // Its close ends the request through SocketSessionClosed.
    if (!Logout()) SetReady();
    return;
  }
  ResetRequest();
  relocations_ = 0;
  answerBytes_ = 0;
  sendCookie_ = true;
  std::string proto, user, pass, host, port, path;
  ParseURL(URL, proto, user, pass, host, port, path);
  if (proto.empty()) proto = "http";
  // Credentials in the URL are for this request only.
  requestUser_ = user.empty() ? Username : user;
  requestPass_ = user.empty() ? Password : pass;
  proto_ = proto;
  targetHost_ = host;
  const bool tunnel = !Proxy.empty() && proto_ == "https";
  targetPort_ = !port.empty() ? port : tunnel ? "443" : "80";
  urlPath_ = path.empty() ? "/" : (path[0] == '?' ? "/" + path : path);
  if (!ValidHost(targetHost_) || !ValidPort(targetPort_)) throw EHttpException("Invalid URL", 6);
  if (!Proxy.empty()) {
    std::string pp, pu, pw, ph, pport, ppath;
    ParseURL(Proxy, pp, pu, pw, ph, pport, ppath);
    hostName_ = ph;
    port_ = pport.empty() ? ProxyPort : pport;
  } else {
    hostName_ = targetHost_;
    port_ = targetPort_;
  }
  ComputeDocName();
  SetState(httpNotConnected);
  // There is no secure transport: an https request (or any other scheme) is refused
  // rather than sent in clear; through a proxy only after the CONNECT exchange.
  if (proto_ != "http" && !tunnel) {
    EndRequestLocally(httperrUnsupportedScheme, 501, proto_ + " not supported");
    return;
  }
  if (socket_->State() == wsConnected &&
      (hostName_ != curHost_ || port_ != curPort_ || proto_ != curProto_)) {
    socket_->OnSessionClosed = nullptr;
    socket_->Abort();
    connected_ = false;
  }
  tunnelDone_ = false;
  Login();
}

std::string THttpCli::RequestPath() const {
  if (Proxy.empty()) return EncodePath(urlPath_);
  return EncodePath(proto_ + "://" + targetHost_ + (targetPort_ == "80" ? "" : ":" + targetPort_) +
                    urlPath_);
}

std::string THttpCli::HostHeader() const {
  return targetPort_ == "80" ? targetHost_ : targetHost_ + ":" + targetPort_;
}

void THttpCli::ComputeDocName() {
  std::string p = urlPath_.substr(0, urlPath_.find('?'));
  if (p.empty() || p.back() == '/') {
    docName_ = "document.htm";
    return;
  }
  p = p.substr(p.rfind('/') + 1);
  if (p.size() > 255) p.resize(255);
  docName_ = p.substr(0, p.find('?'));
}

void THttpCli::Login() {
  socket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { SocketSessionClosed(e); };
  if (socket_->State() == wsConnected) {
    SocketSessionConnected(0);
    return;
  }
  SetState(httpDnsLookup);
  try {
    socket_->SetLocalAddr(LocalAddr);
    socket_->SetSocksServer(socksServer_);
    socket_->SetSocksPort(socksPort_);
    socket_->SetSocksLevel(socksLevel_);
    if (!socksServer_.empty()) {
      // Through SOCKS the name goes to the SOCKS server unresolved.
      SetState(httpDnsLookupDone);
      DoBeforeConnect();
      socksErrorMsg_.clear();
      socket_->SetAddr(hostName_);
      socket_->Connect();
      return;
    }
    socket_->DnsLookup(hostName_);
  } catch (const std::exception& e) {
    EndRequestLocally(WSAEINVAL, 404, e.what());
  }
}

bool THttpCli::Logout() {
  if (socket_->State() == wsClosed) return false;
  socket_->CloseDelayed();
  return true;
}

void THttpCli::DoBeforeConnect() {
  socket_->SetAddr(socket_->DnsResult());
  socket_->SetLocalAddr(LocalAddr);
  socket_->SetPort(port_);
  socket_->SetProto("tcp");
  curHost_ = hostName_;
  curPort_ = port_;
  curProto_ = proto_;
}

void THttpCli::SocketDNSLookupDone(std::uint16_t Error) {
  if (state_ != httpDnsLookup) return;
  if (Error != 0) {
    requestDoneError_ = Error;
    statusCode_ = 404;
    reasonPhrase_ = "can't resolve hostname to IP address";
    SocketSessionClosed(Error);
    return;
  }
  SetState(httpDnsLookupDone);
  try {
    DoBeforeConnect();
    socket_->Connect();
  } catch (const std::exception& e) {
    EndRequestLocally(WSAEINVAL, 404, e.what());
  }
}

void THttpCli::SocketSessionConnected(std::uint16_t Error) {
  if (state_ == httpReady || state_ == httpAborting) return;
  if (Error != 0) {
    requestDoneError_ = Error;
    statusCode_ = 404;
    // A failed SOCKS handshake says what went wrong better than the error number does.
    const std::string what = socksErrorMsg_.empty() ? WSocketErrorDesc(Error) : socksErrorMsg_;
    socksErrorMsg_.clear();
    reasonPhrase_ = what + " (Error #" + std::to_string(Error) + ")";
    // The socket closes now, and its close ends the request.
    TriggerSessionConnected();
    return;
  }
  relocationPending_ = false;
  connected_ = true;
  SetState(httpConnected);
  TriggerSessionConnected();
  nextLine_ = NextLine::Header;
  rcvLen_ = 0;
  if (proto_ == "https" && !Proxy.empty() && !tunnelDone_) {
    // The proxy's answer goes to OnDataPush line by line.
    SetState(httpWaitingProxyConnect);
    proxyLines_ = 0;
    proxyStatus_ = 0;
    pendingRequest_.clear();
    SendCommand("CONNECT " + targetHost_ + ":" + targetPort_ + " HTTP/" + requestVer_);
    SendCommand("");
    SendComposed();
    return;
  }
  SetState(httpWaitingHeader);
  switch (requestType_) {
    case httpGET:
      SendRequest("GET", requestVer_);
      break;
    case httpHEAD:
      SendRequest("HEAD", requestVer_);
      break;
    case httpPOST:
    case httpPUT:
      SendRequest(requestType_ == httpPOST ? "POST" : "PUT", requestVer_);
      TriggerSendBegin();
      allowedToSend_ = true;
      SocketDataSent(0);
      break;
    default:
      break;
  }
}

void THttpCli::SendCommand(const std::string& Cmd) {
  std::string s = Cmd;
  if (OnCommand) OnCommand(this, s);
  pendingRequest_ += s;
  pendingRequest_ += "\r\n";
}

void THttpCli::SendRequest(const std::string& Method, const std::string& Version) {
  pendingRequest_.clear();
  TriggerRequestHeaderBegin();
  const bool upload = Method == "POST" || Method == "PUT";
  TStringList lines;
  lines.Add(Method + " " + RequestPath() + " HTTP/" + Version);
  const auto add = [&lines](const std::string& name, const std::string& value) {
    if (!value.empty()) lines.Add(name + value);
  };
  add("From: ", Sender);
  add("Accept: ", Accept);
  add("Referer: ", Reference);
  add("Connection: ", Connection);
  add("Proxy-Connection: ", ProxyConnection);
  add("Accept-Language: ", AcceptLanguage);
  if (upload) add("Content-Type: ", ContentTypePost);
  add("User-Agent: ", Agent);
  lines.Add("Host: " + HostHeader());
  if (NoCache) lines.Add("Pragma: no-cache");
  if (upload) {
    // What will actually be read: from the stream's position to its end.
    const std::int64_t size = SendStream->Size() - SendStream->Position();
    lines.Add("Content-Length: " + std::to_string(std::max<std::int64_t>(size, 0)));
  }
  if (ModifiedSince.time_since_epoch().count() != 0) {
    lines.Add("If-Modified-Since: " + HttpDate(ModifiedSince) + " GMT");
  }
  if (!requestUser_.empty()) {
    lines.Add("Authorization: Basic " + EncodeStr(1, requestUser_ + ":" + requestPass_));
  }
  if (!Proxy.empty() && !ProxyUsername.empty()) {
    lines.Add("Proxy-Authorization: Basic " + EncodeStr(1, ProxyUsername + ":" + ProxyPassword));
  }
  if (sendCookie_) add("Cookie: ", Cookie);
  if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
    lines.Add("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
  }
  TriggerBeforeHeaderSend(Method, lines);
  for (int i = 0; i < lines.Count(); ++i) SendCommand(lines[i]);
  TriggerRequestHeaderEnd();
  SendCommand("");
  SendComposed();
}

void THttpCli::SendComposed() {
  const std::string request = std::move(pendingRequest_);
  pendingRequest_.clear();
  socket_->SendStr(request);
}

void THttpCli::SocketDataSent(std::uint16_t Error) {
  if (!allowedToSend_ || SendStream == nullptr) return;
  char block[8193];
  const std::int64_t n = SendStream->Read(block, sizeof block);
  if (n <= 0) {
    allowedToSend_ = false;
    TriggerSendEnd();
    return;
  }
  sentCount_ += n;
  TriggerSendData(block, int(n));
  socket_->Send(block, int(n));
}

void THttpCli::SocketDataAvailable(std::uint16_t Error) {
  // 8192 bytes at most, the NUL behind them included in the buffer's size.
  const std::size_t room = sizeof rcvBuf_ - 2 - rcvLen_;
  if (room == 0) {
    // The socket's background handling aborts the connection; the request then ends
    // with this error rather than as a success.
    Fail(httperrInvalidResponse, "HTTP line too long");
    throw EHttpException("HTTP line too long", 4);
  }
  const int n = socket_->Receive(rcvBuf_ + rcvLen_, int(room));
  if (n <= 0) return;
  if (requestType_ == httpABORT || state_ == httpReady || state_ == httpAborting) return;
  // Whatever follows the proxy's answer to CONNECT would need the secure transport.
  if (state_ == httpWaitingProxyConnect && tunnelDone_) return;
  answerBytes_ += n;
  if (MaxAnswerBytes > 0 && answerBytes_ > MaxAnswerBytes) {
    // An endless or oversized answer ends here instead of filling the memory.
    Fail(httperrAnswerTooLarge, "Answer larger than " + std::to_string(MaxAnswerBytes) + " bytes");
    relocationPending_ = false;
    rcvLen_ = 0;
    socket_->Abort();
    return;
  }
  rcvLen_ += std::size_t(n);
  rcvBuf_[rcvLen_] = '\0';
  while (rcvLen_ > 0) {
    if (state_ == httpWaitingBody) {
      std::size_t len = rcvLen_;
      const bool chunked = LowerCase(TrimSpaces(transferEncoding_)) == "chunked";
      if (!chunked && contentLength_ >= 0) {
        const std::int64_t left = std::max<std::int64_t>(0, contentLength_ - rcvdCount_);
        len = std::size_t(std::min<std::int64_t>(std::int64_t(len), left));
      }
      const std::uint32_t serial = serial_;
      const std::size_t used = GetBodyLineNext(rcvBuf_, len);
      // Aborted (or replaced) from one of its events: the rest of this answer is not its own.
      if (RequestEnded(serial)) {
        if (serial_ == serial) rcvLen_ = 0;
        return;
      }
      std::memmove(rcvBuf_, rcvBuf_ + used, rcvLen_ - used);
      rcvLen_ -= used;
      if (nextLine_ == NextLine::None) {
        AfterDocument();
      } else if (closeAfterBuffered_) {
        closeAfterBuffered_ = false;
        socket_->CloseDelayed();
      }
      return;
    }
    char* lf = static_cast<char*>(std::memchr(rcvBuf_, '\n', rcvLen_));
    if (lf == nullptr) return;
    std::size_t lineLen = std::size_t(lf - rcvBuf_);
    const std::size_t consumed = lineLen + 1;
    if (lineLen > 0 && rcvBuf_[lineLen - 1] == '\r') --lineLen;
    lastResponse_.assign(rcvBuf_, lineLen);
    std::memmove(rcvBuf_, rcvBuf_ + consumed, rcvLen_ - consumed);
    rcvLen_ -= consumed;
    const std::uint32_t serial = serial_;
    if (state_ == httpWaitingHeader || state_ == httpWaitingBody) {
      if (nextLine_ == NextLine::Header) {
        GetHeaderLineNext(lastResponse_);
      } else if (nextLine_ == NextLine::Body) {
        GetBodyLineNext(lastResponse_.data(), lastResponse_.size());
      } else {
        SetReady();
      }
    } else {
      if (state_ == httpWaitingProxyConnect && proxyLines_++ == 0) {
        std::string version, reason;
        int status = 0;
        if (ParseStatusLine(lastResponse_, version, status, reason) == TStatusLine::Ok) {
          proxyStatus_ = status;
          statusCode_ = status;
          reasonPhrase_ = reason;
        }
      }
      if (OnDataPush) OnDataPush(this, Error);
      if (state_ == httpWaitingProxyConnect && lastResponse_.empty() && !RequestEnded(serial)) {
        EndProxyConnect();
        return;
      }
    }
    if (RequestEnded(serial)) return;
  }
  // A failed answer whose header came without body bytes: nothing more is read.
  if (closeAfterBuffered_ && state_ == httpWaitingBody) {
    closeAfterBuffered_ = false;
    socket_->CloseDelayed();
  }
}

void THttpCli::EndProxyConnect() {
  tunnelDone_ = true;
  rcvLen_ = 0;
  ProxyConnectFailed();
  // Its close ends the request through SocketSessionClosed.
  if (!Logout()) SetReady();
}

void THttpCli::ProxyConnectFailed() {
  if (proxyStatus_ >= 200 && proxyStatus_ <= 299) {
    statusCode_ = 501;
    Fail(httperrUnsupportedScheme, proto_ + " not supported");
  } else if (proxyStatus_ == 0) {
    Fail(httperrInvalidResponse, "Invalid answer from the proxy");
  }
  // A refusal is the proxy's answer: its status and reason stand, as for any answer.
}

void THttpCli::GetHeaderLineNext(const std::string& Line) {
  if (headerLineCount_ == 0) {
    TriggerHeaderBegin();
  } else if (headerLineCount_ < 0) {
    headerLineCount_ = 0;
  }
  ++headerLineCount_;
  headerBytes_ += Line.size();
  if (headerBytes_ > kMaxHeaderBytes || headerLineCount_ > kMaxHeaderLines) {
    Fail(httperrInvalidResponse, "HTTP header too large");
    throw EHttpException("HTTP header too large", 4);
  }
  if (headerLineCount_ == 1 && LowerCase(Line.substr(0, 6)) == "<html>") {
    // An answer without header: the line is the start of the document.
    if (contentType_.empty()) contentType_ = "text/html";
    SetState(httpWaitingBody);
    nextLine_ = NextLine::Body;
    TriggerHeaderEnd();
    const std::string first = Line + "\n";
    GetBodyLineNext(first.data(), first.size());
    return;
  }
  if (!Line.empty()) rcvdHeader_.Add(Line);
  if (headerLineCount_ == 1) {
    switch (ParseStatusLine(Line, responseVer_, statusCode_, reasonPhrase_)) {
      case TStatusLine::NotHttp:
        if (OnDataPush2) OnDataPush2(this);
        break;
      case TStatusLine::Malformed: {
        const std::string what = "'" + (Line.size() > 9 ? Line.substr(9, 3) : std::string()) +
                                 "' is not a valid integer value";
        Fail(httperrInvalidResponse, what);
        throw EHttpException(what, 4);
      }
      case TStatusLine::Ok:
        break;
    }
  } else if (!Line.empty()) {
    std::string name, value;
    if (SplitHeaderField(Line, name, value)) {
      if (name == "location") {
        if (requestType_ == httpPUT) {
          location_ = value;
        } else if (FollowRelocation) {
          SetLocationTarget(value);
        }
      } else if (name == "content-length") {
        contentLength_ = ParseContentLength(value);
      } else if (name == "transfer-encoding") {
        transferEncoding_ = value;
      } else if (name == "content-range") {
        ParseContentRange(value, rcvdRangeBegin_, rcvdRangeEnd_);
      } else if (name == "accept-ranges") {
        acceptRanges_ = value;
      } else if (name == "content-type") {
        contentType_ = LowerCase(value);
      } else if (name == "www-authenticate") {
        authenticate_.Add(value);
      } else if (name == "set-cookie") {
        bool accept = true;
        TriggerCookie(value, accept);
      } else if (name == "connection") {
        if (LowerCase(TrimSpaces(value)) == "close") closeRequested_ = true;
      }
    }
  }
  if (!Line.empty()) {
    if (OnHeaderData) OnHeaderData(this);
    return;
  }
  EndHeader();
}

void THttpCli::SetLocationTarget(const std::string& Value) {
  const std::string v(TrimSpaces(Value));
  if (v.empty()) return;
  if (relocations_ >= kHttpMaxRelocations) {
    Fail(httperrRedirectLimit,
         "Relocated more than " + std::to_string(kHttpMaxRelocations) + " times");
    relocationPending_ = false;
    return;
  }
  std::string scheme;
  std::string host = targetHost_, port = targetPort_, path = urlPath_;
  std::string user, pass;
  if (SplitScheme(v, scheme) || v.rfind("//", 0) == 0) {
    if (!scheme.empty() && scheme != "http") {
      // Followed in clear it would go to the wrong place; refused instead.
      Fail(httperrUnsupportedScheme, "Relocation to " + scheme + " not supported");
      relocationPending_ = false;
      return;
    }
    std::string proto;
    host.clear();
    port.clear();
    path.clear();
    ParseURL(scheme.empty() ? "http:" + v : v, proto, user, pass, host, port, path);
    if (port.empty()) port = "80";
    if (path.empty()) path = "/";
  } else if (v[0] == '/') {
    path = v;
  } else {
    const std::string base = urlPath_.substr(0, urlPath_.find('?'));
    path = base.substr(0, base.rfind('/') + 1) + v;
  }
  if (!ValidHost(host) || !ValidPort(port)) {
    Fail(httperrInvalidResponse, "Invalid relocation target");
    relocationPending_ = false;
    return;
  }
  // Credentials and cookies given for one server are not handed to another.
  if (host != targetHost_ || port != targetPort_) {
    requestUser_.clear();
    requestPass_.clear();
    sendCookie_ = false;
  }
  if (!user.empty() && !pass.empty()) {
    requestUser_ = user;
    requestPass_ = pass;
  }
  const auto hash = path.find('#');
  if (hash != std::string::npos) path.resize(hash);
  targetHost_ = host;
  targetPort_ = port;
  urlPath_ = path.empty() ? "/" : path;
  proto_ = "http";
  location_ = proto_ + "://" + HostHeader() + urlPath_;
  if (Proxy.empty()) {
    hostName_ = targetHost_;
    port_ = targetPort_;
  }
  relocationPending_ = true;
  ++relocations_;
}

bool THttpCli::KeepAlive() const {
  return responseVer_ != "1.0" && requestVer_ != "1.0" && !closeRequested_;
}

void THttpCli::EndHeader() {
  // Every informational answer but 101 is followed by the real one on this connection.
  if (statusCode_ >= 100 && statusCode_ < 200 && statusCode_ != 101) {
    rcvdHeader_.Clear();
    headerLineCount_ = -1;
    contentLength_ = -1;
    return;
  }
  TriggerHeaderEnd();
  const bool noBody = (contentLength_ == -1 && statusCode_ < 200) || statusCode_ == 204 ||
                      statusCode_ == 304 || contentLength_ == 0 || requestType_ == httpHEAD;
  if (noBody) {
    nextLine_ = NextLine::None;
    SetState(httpBodyReceived);
    FinishResponse();
    return;
  }
  if (contentType_ == "text/html") {
    const auto dot = docName_.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : LowerCase(docName_.substr(dot));
    if (ext.empty() || ext == ".exe") {
      docName_ = (dot == std::string::npos ? docName_ : docName_.substr(0, dot)) + ".htm";
    }
  }
  SetState(httpWaitingBody);
  nextLine_ = NextLine::Body;
  TriggerHeaderEnd();
  if (statusCode_ >= 400) closeAfterBuffered_ = true;
}

std::size_t THttpCli::GetBodyLineNext(const char* Data, std::size_t Len) {
  if (bodyLineCount_ == 0) {
    chunks_.Reset();
    TriggerDocBegin();
  }
  ++bodyLineCount_;
  const std::uint32_t serial = serial_;
  const auto deliver = [this, serial](const char* p, std::size_t n) {
    if (RequestEnded(serial)) return;  // aborted by an earlier piece's event
    rcvdCount_ += std::int64_t(n);
    // A relocation's own page is no part of the document the caller asked for.
    if (RcvdStream != nullptr && !relocationPending_) RcvdStream->WriteBuffer(p, std::int64_t(n));
    TriggerDocData(p, int(n));
  };
  if (LowerCase(TrimSpaces(transferEncoding_)) == "chunked") {
    std::size_t used = 0;
    const auto fed = chunks_.Feed(Data, Len, used, deliver);
    if (RequestEnded(serial)) return Len;
    switch (fed) {
      case THttpChunkDecoder::Complete:
        DocComplete();
        break;
      case THttpChunkDecoder::Error:
        Fail(httperrInvalidResponse, "Invalid chunked transfer coding");
        socket_->Abort();
        return Len;
      case THttpChunkDecoder::Continue:
        break;
    }
    return used;
  }
  if (Len > 0) deliver(Data, Len);
  if (RequestEnded(serial)) return Len;
  if (contentLength_ >= 0 && rcvdCount_ >= contentLength_) DocComplete();
  return Len;
}

bool THttpCli::RequestEnded(std::uint32_t serial) const {
  return serial_ != serial || state_ == httpReady || state_ == httpAborting;
}

void THttpCli::DocComplete() {
  bodyLineCount_ = 0;
  nextLine_ = NextLine::None;
  SetState(httpBodyReceived);
  TriggerDocEnd();
}

void THttpCli::AfterDocument() {
  if (state_ != httpBodyReceived) return;
  FinishResponse();
}

void THttpCli::FinishResponse() {
  if (relocationPending_) {
    StartRelocation();
  } else if (KeepAlive() || !Logout()) {
    SetReady();
  }
}

void THttpCli::StartRelocation() {
  rcvdCount_ = 0;
  rcvLen_ = 0;
  headerLineCount_ = 0;
  bodyLineCount_ = 0;
  if (responseVer_ == "1.1" && hostName_ == curHost_ && port_ == curPort_ && proto_ == curProto_ &&
      !closeRequested_ && socket_->State() == wsConnected) {
    if (OnLocationChange) OnLocationChange(this);
    const std::string keep = location_;
    const std::uint16_t error = requestDoneError_;
    ResetRequest();
    location_ = keep;
    requestDoneError_ = error;
    ComputeDocName();
    if (requestType_ == httpPOST) requestType_ = httpGET;
    PostMessage(handle_, WM_HTTP_LOGIN, 0, LPARAM(serial_));
    return;
  }
  socket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { LocationSessionClosed(e); };
  if (!Logout()) LocationSessionClosed(0);
}

void THttpCli::LocationSessionClosed(std::uint16_t Error) {
  ComputeDocName();
  connected_ = false;
  tunnelDone_ = false;
  relocationPending_ = false;
  if (requestType_ == httpPOST) requestType_ = httpGET;
  socket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { SocketSessionClosed(e); };
  if (OnLocationChange) OnLocationChange(this);
  rcvdHeader_.Clear();
  headerBytes_ = 0;
  headerLineCount_ = 0;
  bodyLineCount_ = 0;
  rcvdCount_ = 0;  // the next answer is counted from its own first byte
  contentLength_ = -1;
  statusCode_ = 0;
  transferEncoding_.clear();
  closeRequested_ = false;
  closeAfterBuffered_ = false;
  if (!Proxy.empty()) {
    std::string pp, pu, pw, ph, pport, ppath;
    ParseURL(Proxy, pp, pu, pw, ph, pport, ppath);
    port_ = pport.empty() ? ProxyPort : pport;
  }
  PostMessage(handle_, WM_HTTP_LOGIN, 0, LPARAM(serial_));
}

void THttpCli::SocketSessionClosed(std::uint16_t Error) {
  const bool proxyAnswered = tunnelDone_;
  connected_ = false;
  tunnelDone_ = false;
  if (state_ == httpReady || abortingIdle_) return;
  if (Error != 0 && Error != requestDoneError_) {
    requestDoneError_ = Error;
    // The status line's text ("OK") would be stale: the close says what went wrong.
    reasonPhrase_ = WSocketErrorDesc(Error) + " (Error #" + std::to_string(Error) + ")";
  }
  if (state_ == httpWaitingHeader || state_ == httpDnsLookup || state_ == httpDnsLookupDone ||
      state_ == httpConnected || state_ == httpNotConnected) {
    if (inHeader_) TriggerHeaderEnd();
    // The connection ended before a complete header: nothing usable arrived.
    if (state_ == httpWaitingHeader) {
      Fail(httperrConnectionEnded, kHeaderCut);
    }
    if (relocationPending_ && requestDoneError_ == 0) {
      LocationSessionClosed(Error);
    } else {
      SetReady();
    }
    return;
  }
  if (state_ == httpWaitingBody) {
    const bool chunked = LowerCase(TrimSpaces(transferEncoding_)) == "chunked";
    // Without a length, the close is the end of the document; otherwise it came early.
    if ((chunked || contentLength_ >= 0) && statusCode_ < 400) {
      Fail(httperrConnectionEnded, "Connection closed before the document was complete");
    }
    // OnDocEnd closes an OnDocBegin: none when no body byte arrived.
    const bool begun = bodyLineCount_ > 0;
    bodyLineCount_ = 0;
    nextLine_ = NextLine::None;
    SetState(httpBodyReceived);
    if (begun) TriggerDocEnd();
  }
  if (state_ == httpWaitingProxyConnect && !proxyAnswered) {
    if (proxyStatus_ == 0) {
      Fail(httperrConnectionEnded, kHeaderCut);
    }
    ProxyConnectFailed();
  }
  TriggerSessionClosed();
  if (relocationPending_ && requestDoneError_ == 0 && state_ == httpBodyReceived) {
    LocationSessionClosed(Error);
    return;
  }
  if (!relocationPending_ || requestDoneError_ != 0) SetReady();
}

void THttpCli::Abort() {
  if (state_ != httpReady) {
    const bool lookup = state_ == httpDnsLookup;
    SetState(httpAborting);
    if (lookup) socket_->CancelDnsLookup();
    statusCode_ = 404;
    reasonPhrase_ = "Connection aborted on request";
    requestDoneError_ = httperrAborted;
    relocationPending_ = false;
    if (lookup) {
      SocketSessionClosed(0);
    } else {
      socket_->Close();
      connected_ = false;
    }
    SetState(httpReady);
    return;
  }
  abortingIdle_ = true;
  state_ = httpAborting;
  if (socket_->State() != wsClosed) socket_->Abort();
  connected_ = false;
  statusCode_ = 200;
  reasonPhrase_ = "OK";
  requestDoneError_ = 0;
  requestType_ = httpABORT;
  state_ = httpReady;
  abortingIdle_ = false;
  TriggerStateChange();
  if (OnRequestDone) OnRequestDone(this, httpABORT, 0);
}

void THttpCli::RunRequest(THttpRequest Rq) {
  StartRequest(Rq);
  const std::uint32_t serial = serial_;
  const auto result = PumpUntil([this, serial] { return doneDelivered_ == serial; });
  // The loop stopped early; a request that already ended keeps its own outcome.
  if (result != PumpResult::Done && state_ != httpReady) {
    Abort();
    throw EHttpException(reasonPhrase_, std::uint16_t(statusCode_));
  }
  if (requestDoneError_ != 0) {
    throw EHttpException(
        reasonPhrase_.empty() ? WSocketErrorDesc(requestDoneError_) : reasonPhrase_,
        requestDoneError_);
  }
  if (statusCode_ > 401) throw EHttpException(reasonPhrase_, std::uint16_t(statusCode_));
}

}  // namespace qv
