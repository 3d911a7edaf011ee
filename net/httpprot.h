// HTTP/1.0 and 1.1 client over a `TWSocket` it owns. One request runs at a time; it is
// started by `StartRequest` (or `GetAsync`) and its progress and end arrive as events
// on the thread that created the component, from that thread's message loop. Request
// completion (`OnRequestDone`) is always posted. GET, POST, PUT and HEAD, a proxy,
// Basic authorization, relocations, chunked bodies and connection reuse are handled.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/httpprot_parse.h"
#include "net/wsocket.h"
#include "platform/base/component.h"
#include "platform/base/exception.h"
#include "platform/base/stringlist.h"
#include "platform/msg/window.h"

namespace qv {

class TStream;
class THttpCli;

enum THttpRequest { httpABORT, httpGET, httpPOST, httpPUT, httpHEAD, httpCLOSE };
enum THttpState {
  httpReady,
  httpNotConnected,
  httpConnected,
  httpDnsLookup,
  httpDnsLookupDone,
  httpWaitingHeader,
  httpWaitingBody,
  httpBodyReceived,
  httpWaitingProxyConnect,
  httpClosing,
  httpAborting
};

// Codes of failures the server did not report itself (the ErrCode of OnRequestDone).
constexpr std::uint16_t httperrAborted = 3;
constexpr std::uint16_t httperrUnsupportedScheme = 12006;  // https and other schemes
constexpr std::uint16_t httperrConnectionEnded = 12030;    // the answer was cut short
constexpr std::uint16_t httperrInvalidResponse = 12152;    // the answer could not be parsed
constexpr std::uint16_t httperrRedirectLimit = 12156;      // too many relocations
constexpr std::uint16_t httperrAnswerTooLarge = 12157;     // more than `MaxAnswerBytes` arrived
constexpr int kHttpMaxRelocations = 20;

class EHttpException : public Exception {
 public:
  EHttpException(const std::string& Msg, std::uint16_t Code) : Exception(Msg), ErrorCode(Code) {}
  std::uint16_t ErrorCode;
};

// Mode 0: UU encoding; modes 1 and 2: base64 with "=" padding.
std::string EncodeStr(int Encoding, const std::string& Value);

// The URL grammar of the client. `Path` passes in the current path for relative forms.
void ParseURL(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path);

using THttpNotifyEvent = std::function<void(THttpCli* Sender)>;
using THttpRequestDone =
    std::function<void(THttpCli* Sender, THttpRequest RqType, std::uint16_t ErrCode)>;
using TOnCommand = std::function<void(THttpCli* Sender, std::string& S)>;
using TDocDataEvent = std::function<void(THttpCli* Sender, const void* Buffer, int Len)>;
using TCookieRcvdEvent =
    std::function<void(THttpCli* Sender, const std::string& Data, bool& Accept)>;
using THttpDataAvailable = std::function<void(THttpCli* Sender, std::uint16_t ErrCode)>;
using TBeforeHeaderSendEvent =
    std::function<void(THttpCli* Sender, const std::string& Method, TStringList& Headers)>;

class THttpCli : public TComponent {
 public:
  explicit THttpCli(TComponent* AOwner = nullptr);
  ~THttpCli() override;

  // Request properties.
  std::string URL;
  std::string Proxy;
  std::string ProxyPort = "80";
  std::string Username, Password;
  std::string ProxyUsername, ProxyPassword;
  std::string LocalAddr = "0.0.0.0";
  std::string Sender;
  std::string Reference;
  std::string Connection;
  std::string ProxyConnection;
  std::string Agent = "Mozilla/4.0 (compatible; Sarnic)";
  std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  std::string AcceptLanguage;
  // A UTC time; the epoch means none.
  std::chrono::system_clock::time_point ModifiedSince{};
  bool NoCache = false;
  std::string ContentTypePost = "application/x-www-form-urlencoded";
  std::string ContentRangeBegin, ContentRangeEnd;
  std::string Cookie;
  bool FollowRelocation = true;
  // The most bytes (status lines, headers and bodies of every relocation together) one
  // request may receive; past it the connection is dropped and the request ends with
  // `httperrAnswerTooLarge`. 0: no limit.
  std::int64_t MaxAnswerBytes = 0;
  TStream* RcvdStream = nullptr;  // not owned
  TStream* SendStream = nullptr;  // not owned
  [[nodiscard]] const std::string& RequestVer() const { return requestVer_; }
  void SetRequestVer(const std::string& Value);
  [[nodiscard]] bool MultiThreaded() const { return multiThreaded_; }
  virtual void SetMultiThreaded(bool Value);

  // SOCKS settings of the control socket. The socket forgets server, port and level at
  // every close; the client keeps them and gives them to the socket for each connection.
  [[nodiscard]] const std::string& SocksServer() const { return socksServer_; }
  void SetSocksServer(const std::string& V);
  [[nodiscard]] const std::string& SocksPort() const { return socksPort_; }
  void SetSocksPort(const std::string& V);
  [[nodiscard]] const std::string& SocksLevel() const { return socksLevel_; }
  void SetSocksLevel(const std::string& V);
  [[nodiscard]] const std::string& SocksUsercode() const { return socket_->SocksUsercode; }
  void SetSocksUsercode(const std::string& V) { socket_->SocksUsercode = V; }
  [[nodiscard]] const std::string& SocksPassword() const { return socket_->SocksPassword; }
  void SetSocksPassword(const std::string& V) { socket_->SocksPassword = V; }
  [[nodiscard]] TSocksAuthentication SocksAuthentication() const {
    return socket_->SocksAuthentication;
  }
  void SetSocksAuthentication(TSocksAuthentication V) { socket_->SocksAuthentication = V; }

  // Results.
  [[nodiscard]] THttpState State() const { return state_; }
  [[nodiscard]] int StatusCode() const { return statusCode_; }
  [[nodiscard]] const std::string& ReasonPhrase() const { return reasonPhrase_; }
  [[nodiscard]] std::int64_t ContentLength() const { return contentLength_; }
  [[nodiscard]] const std::string& ContentType() const { return contentType_; }
  [[nodiscard]] const std::string& TransferEncoding() const { return transferEncoding_; }
  [[nodiscard]] const std::string& AcceptRanges() const { return acceptRanges_; }
  // The reply's Content-Range, kept apart from the range the next request asks for.
  [[nodiscard]] const std::string& RcvdContentRangeBegin() const { return rcvdRangeBegin_; }
  [[nodiscard]] const std::string& RcvdContentRangeEnd() const { return rcvdRangeEnd_; }
  [[nodiscard]] const TStringList& RcvdHeader() const { return rcvdHeader_; }
  [[nodiscard]] const TStringList& AuthenticateList() const { return authenticate_; }
  [[nodiscard]] std::int64_t RcvdCount() const { return rcvdCount_; }
  [[nodiscard]] std::int64_t SentCount() const { return sentCount_; }
  [[nodiscard]] const std::string& Location() const { return location_; }
  [[nodiscard]] const std::string& DocName() const { return docName_; }
  [[nodiscard]] const std::string& LastResponse() const { return lastResponse_; }
  [[nodiscard]] const std::string& ResponseVer() const { return responseVer_; }
  [[nodiscard]] TWSocket& CtrlSocket() { return *socket_; }

  // Events.
  THttpNotifyEvent OnTrace, OnSessionConnected, OnSessionClosed, OnHeaderData, OnHeaderBegin,
      OnHeaderEnd, OnRequestHeaderBegin, OnRequestHeaderEnd, OnDocBegin, OnDocEnd, OnSendBegin,
      OnSendEnd, OnStateChange, OnLocationChange, OnDataPush2, OnSocketError;
  TOnCommand OnCommand;
  TDocDataEvent OnDocData, OnSendData;
  THttpRequestDone OnRequestDone;
  TCookieRcvdEvent OnCookie;
  THttpDataAvailable OnDataPush;
  TBeforeHeaderSendEvent OnBeforeHeaderSend;
  TSessionConnected OnSocksConnected;
  TSocksAuthStateEvent OnSocksAuthState;
  TSocksErrorEvent OnSocksError;

  // Operations.
  void GetAsync() { StartRequest(httpGET); }
  virtual void StartRequest(THttpRequest Rq);
  // Waits for the end by serving the message queue; raises EHttpException for a failed
  // request (ErrCode) and for a status above 401.
  virtual void RunRequest(THttpRequest Rq);
  virtual void Abort();

 protected:
  virtual LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam);
  // Called once by the constructor.
  virtual std::unique_ptr<TWSocket> CreateSocket();
  virtual void Login();
  // Ends the connection to the server from the message loop; false when none is open.
  virtual bool Logout();
  virtual void DoBeforeConnect();
  virtual void SocketDNSLookupDone(std::uint16_t Error);
  virtual void SocketSessionConnected(std::uint16_t Error);
  virtual void SocketSessionClosed(std::uint16_t Error);
  virtual void LocationSessionClosed(std::uint16_t Error);
  virtual void SocketDataSent(std::uint16_t Error);
  virtual void SocketDataAvailable(std::uint16_t Error);
  virtual void GetHeaderLineNext(const std::string& Line);
  // Returns the bytes it consumed.
  virtual std::size_t GetBodyLineNext(const char* Data, std::size_t Len);
  virtual void SendRequest(const std::string& Method, const std::string& Version);
  virtual void SendCommand(const std::string& Cmd);
  virtual void ResetRequest();
  virtual void StartRelocation();
  virtual void ComputeDocName();
  virtual void SetState(THttpState NewState);
  virtual void SetReady();
  virtual void TriggerRequestDone();
  virtual void TriggerStateChange();
  virtual void TriggerCookie(const std::string& Data, bool& Accept);
  virtual void TriggerSessionConnected();
  virtual void TriggerSessionClosed();
  virtual void TriggerBeforeHeaderSend(const std::string& Method, TStringList& Headers);
  virtual void TriggerRequestHeaderBegin();
  virtual void TriggerRequestHeaderEnd();
  // Begin sets and end clears the in-header flag.
  virtual void TriggerHeaderBegin();
  virtual void TriggerHeaderEnd();
  virtual void TriggerDocBegin();
  virtual void TriggerDocData(const void* Data, int Len);
  virtual void TriggerDocEnd();
  virtual void TriggerSendBegin();
  virtual void TriggerSendData(const void* Data, int Len);
  virtual void TriggerSendEnd();
  // The client's hidden window; the constructor and destructor use this pair.
  virtual HWND AllocateHWnd(qv::WndProc Procedure);
  virtual void DeallocateHWnd(HWND Wnd);

 private:
  enum class NextLine { None, Header, Body };
  void WireSocket();
  void EndHeader();
  void DocComplete();
  // True once the request numbered `serial` was aborted, ended or replaced, e.g. from one of
  // its own events.
  [[nodiscard]] bool RequestEnded(std::uint32_t serial) const;
  void AfterDocument();
  // After a whole answer: follow a relocation, keep the connection for the next request,
  // or close it.
  void FinishResponse();
  void ComputeTarget();
  void SetLocationTarget(const std::string& Value);
  void EndRequestLocally(std::uint16_t Error, int Status, const std::string& Reason);
  // Records a failure and its own reason, unless an earlier one is recorded.
  void Fail(std::uint16_t Error, const std::string& Reason);
  // The end of the proxy's answer to CONNECT: with no secure transport the https
  // request stops here.
  void EndProxyConnect();
  // Why the request ends in the CONNECT exchange: the proxy's refusal, or, after a
  // granted tunnel, the missing secure transport.
  void ProxyConnectFailed();
  // Queues what SendCommand composed on the socket, in one piece.
  void SendComposed();
  [[nodiscard]] bool KeepAlive() const;
  [[nodiscard]] std::string RequestPath() const;
  [[nodiscard]] std::string HostHeader() const;

  std::unique_ptr<TWSocket> socket_;
  HWND handle_ = 0;
  THttpState state_ = httpReady;
  THttpRequest requestType_ = httpGET;
  std::uint32_t serial_ = 0;  // tells posted messages of an older request apart
  std::string requestVer_ = "1.0";
  bool multiThreaded_ = false;

  // Where the request goes.
  std::string hostName_, port_;          // what the socket connects to (proxy or target)
  std::string targetHost_, targetPort_;  // the URL's host and port
  std::string proto_;
  std::string urlPath_;  // path on the target
  std::string location_;
  std::string docName_;
  std::string requestUser_, requestPass_;  // credentials of this request only
  bool sendCookie_ = true;                 // false once relocated to another host
  std::string curHost_, curPort_, curProto_;
  bool connected_ = false;
  bool tunnelDone_ = false;  // the proxy's answer to CONNECT is complete
  int proxyLines_ = 0;       // lines of the proxy's answer to CONNECT so far
  int proxyStatus_ = 0;      // its status; 0 while no status line was read
  int relocations_ = 0;
  std::string socksServer_, socksPort_, socksLevel_ = "5";

  // The answer.
  int statusCode_ = 0;
  std::string reasonPhrase_;
  std::string socksErrorMsg_;  // what the socket's SOCKS handshake failed with
  std::string responseVer_;
  std::int64_t contentLength_ = -1;
  std::string contentType_, transferEncoding_, acceptRanges_, rcvdRangeBegin_, rcvdRangeEnd_;
  TStringList rcvdHeader_;
  TStringList authenticate_;
  std::size_t headerBytes_ = 0;
  std::int64_t rcvdCount_ = 0;
  std::int64_t sentCount_ = 0;
  std::int64_t answerBytes_ = 0;  // everything received since the request started
  std::uint16_t requestDoneError_ = 0;
  bool allowedToSend_ = false;
  bool closeRequested_ = false;
  bool relocationPending_ = false;
  bool inHeader_ = false;
  bool closeAfterBuffered_ = false;  // a 400+ answer: close after the bytes at hand
  bool abortingIdle_ = false;
  int headerLineCount_ = 0;
  int bodyLineCount_ = 0;
  NextLine nextLine_ = NextLine::None;
  THttpChunkDecoder chunks_;
  std::string lastResponse_;
  char rcvBuf_[8193 + 1] = {};
  std::size_t rcvLen_ = 0;
  std::uint32_t doneDelivered_ = 0;  // serial of the last OnRequestDone delivered
  std::string pendingRequest_;       // the request header being composed
};

}  // namespace qv
