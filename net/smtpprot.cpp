#include "net/smtpprot.h"

#include <algorithm>
#include <ctime>

#include "net/mimeutil.h"
#include "net/smtpprot_text.h"
#include "net/wsocket.h"
#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"

namespace qv {
namespace {

constexpr int kHeaderLineSize = 1024;
constexpr int kTextLineSize = 1023;
constexpr std::size_t kReplyBufferSize = 4096;
constexpr const char* kMailerVersion = "X-Mailer: Sarnic SMTP Component V2.40";

void CheckValue(const std::string& Value, const char* What) {
  if (smtp::HasLineBreak(Value)) {
    throw SmtpException(std::string(What) + " must not contain a line break");
  }
}

}  // namespace

TCustomSmtpClient::TCustomSmtpClient(TComponent* AOwner)
    : TComponent(AOwner), socket_(std::make_unique<TWSocket>()) {
  hwnd_ = AllocateHWnd([this](HWND, UINT msg, WPARAM w, LPARAM l) { return WndProc(msg, w, l); });
  socket_->OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) { SocketDnsLookupDone(e); };
  socket_->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
    SocketSessionConnected(e);
  };
  socket_->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { SocketDataAvailable(e); };
  socket_->OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { SocketDataSent(e); };
  socket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { SocketSessionClosed(e); };
}

TCustomSmtpClient::~TCustomSmtpClient() {
  // The socket's last events must not reach a client that is going away.
  socket_->OnDnsLookupDone = nullptr;
  socket_->OnSessionConnected = nullptr;
  socket_->OnDataAvailable = nullptr;
  socket_->OnDataSent = nullptr;
  socket_->OnSessionClosed = nullptr;
  socket_.reset();
  DeallocateHWnd(hwnd_);
}

void TCustomSmtpClient::SetContentType(TSmtpContentType Value) {
  contentType_ = Value;
  contentTypeText_ = Value == smtpHtml ? "text/html" : "text/plain";
}

void TCustomSmtpClient::SetState(TSmtpState Value) {
  if (state_ == Value) return;
  state_ = Value;
  TriggerStateChange();
}

void TCustomSmtpClient::CheckReady() {
  if (state_ != smtpReady && state_ != smtpInternalReady) {
    throw SmtpException("SMTP component not ready");
  }
}

void TCustomSmtpClient::CheckConnected() {
  if (!connected_) throw SmtpException("SMTP component not connected");
}

// Events.

void TCustomSmtpClient::TriggerDisplay(const std::string& Msg) {
  if (OnDisplay) OnDisplay(this, Msg);
}

void TCustomSmtpClient::TriggerCommand(const std::string& Msg) {
  if (OnCommand) OnCommand(this, Msg);
}

void TCustomSmtpClient::TriggerResponse(const std::string& Msg) {
  if (OnResponse) OnResponse(this, Msg);
}

void TCustomSmtpClient::TriggerStateChange() {
  if (OnStateChange) OnStateChange(this);
}

void TCustomSmtpClient::TriggerGetData(int LineNum, std::string& MsgLine, int MaxLen, bool& More) {
  if (!OnGetData) {
    More = false;
    return;
  }
  OnGetData(this, LineNum, MsgLine, MaxLen, More);
}

void TCustomSmtpClient::TriggerHeaderLine(std::string& Line, int Size) {
  if (OnHeaderLine) OnHeaderLine(this, Line, Size);
}

void TCustomSmtpClient::TriggerProcessHeader(TStrings& HdrLines) {
  if (OnProcessHeader) OnProcessHeader(this, HdrLines);
}

void TCustomSmtpClient::TriggerSessionConnected(std::uint16_t Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomSmtpClient::TriggerSessionClosed(std::uint16_t Error) {
  if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomSmtpClient::TriggerRequestDone(std::uint16_t Error) {
  if (requestDone_) return;
  requestDone_ = true;
  if (highLevelFlag_) {
    if (state_ != smtpAbort) SetState(smtpInternalReady);
    DoHighLevelAsync(Error);
    return;
  }
  SetState(smtpReady);
  // Always through the queue, so the handler never runs inside the call that started
  // or ended the request. The message carries its own request type and error.
  PostMessage(hwnd_, WM_SMTP_REQUEST_DONE, WPARAM(requestType_), MAKELONG(Error, 0));
}

LRESULT TCustomSmtpClient::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_SMTP_REQUEST_DONE) {
    if (OnRequestDone) {
      OnRequestDone(this, TSmtpRequest(WParam), LOWORD(std::uintptr_t(LParam)));
    }
    return 0;
  }
  return DefWindowProc(hwnd_, Msg, WParam, LParam);
}

void TCustomSmtpClient::SendCommand(const std::string& Cmd) {
  // A line break would let the value smuggle in a command of its own.
  CheckValue(Cmd, "An SMTP command");
  TriggerCommand(Cmd);
  TriggerDisplay("> " + Cmd);
  if (socket_->State() == wsConnected) socket_->SendStr(Cmd + "\r\n");
}

// Command execution.

void TCustomSmtpClient::StartRequest(TSmtpRequest Request) {
  if (!highLevelFlag_) requestType_ = Request;
  requestDone_ = false;
  errorCode_ = 0;
  quitRunning_ = false;
  ehloRunning_ = false;
  sendingData_ = false;
  done_ = nullptr;
}

void TCustomSmtpClient::ExecAsync(TSmtpRequest Request, const std::string& Cmd,
                                  std::vector<int> OkCodes, Handler Done) {
  if (!highLevelFlag_) requestType_ = Request;
  okCodes_ = std::move(OkCodes);
  requestDone_ = false;
  errorCode_ = 0;
  done_ = Done;
  waitingReply_ = true;
  SetState(smtpWaitingResponse);
  try {
    SendCommand(Cmd);
  } catch (const std::exception& e) {
    waitingReply_ = false;
    done_ = nullptr;
    LocalFailure(std::string("500 ") + e.what(), 500);
  }
}

void TCustomSmtpClient::LocalFailure(const std::string& Response, std::uint16_t Error) {
  lastResponse_ = Response;
  errorMessage_ = Response;
  statusCode_ = smtp::ParseReplyCode(Response).Code;
  errorCode_ = Error;
  TriggerRequestDone(Error);
}

void TCustomSmtpClient::WinsockFailure(int Error) {
  lastResponse_ =
      "500 " + WSocketErrorDesc(Error) + " (Winsock error #" + std::to_string(Error) + ")";
  statusCode_ = 500;
  errorMessage_ = lastResponse_;
}

std::string TCustomSmtpClient::HeloName() const {
  std::string name = SignOn.empty() ? LocalHostName() : SignOn;
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

// Connection.

void TCustomSmtpClient::Connect() {
  CheckReady();
  if (connected_) throw SmtpException("SMTP component already connected");
  StartRequest(smtpConnect);
  esmtp_ = false;
  authTypesSupp_.Clear();
  rcvBuf_.clear();
  waitingReply_ = false;
  SetState(smtpDnsLookup);
  try {
    socket_->DnsLookup(Host);
  } catch (...) {
    requestDone_ = true;
    SetState(smtpReady);
    throw;
  }
}

void TCustomSmtpClient::SocketDnsLookupDone(std::uint16_t Error) {
  if (state_ == smtpAbort) {
    LocalFailure("426 Operation aborted.", 426);
    return;
  }
  if (state_ != smtpDnsLookup) return;
  if (Error != 0) {
    WinsockFailure(Error);
    errorCode_ = Error;
    TriggerSessionConnected(Error);
    TriggerSessionClosed(Error);
    TriggerRequestDone(Error);
    return;
  }
  try {
    socket_->SetAddr(socket_->DnsResult());
    socket_->SetLocalAddr(LocalAddr);
    socket_->SetProto("tcp");
    socket_->SetPort(Port);
    SetState(smtpConnecting);
    socket_->Connect();
  } catch (const std::exception&) {
    int e = socket_->LastError();
    if (e == 0) e = WSAEINVAL;
    WinsockFailure(e);
    errorCode_ = 500;
    if (socket_->State() != wsClosed) socket_->Abort();
    TriggerRequestDone(std::uint16_t(e));
  }
}

void TCustomSmtpClient::SocketSessionConnected(std::uint16_t Error) {
  if (state_ != smtpConnecting) return;
  if (Error != 0) {
    WinsockFailure(Error);
    errorCode_ = 500;
    TriggerSessionConnected(Error);
    TriggerRequestDone(Error);
    return;
  }
  connected_ = true;
  SetState(smtpWaitingBanner);
}

void TCustomSmtpClient::SocketDataAvailable(std::uint16_t) {
  char buf[kReplyBufferSize];
  const std::size_t room = kReplyBufferSize - std::min(rcvBuf_.size(), kReplyBufferSize);
  if (room == 0) return;
  const int n = socket_->Receive(buf, int(room));
  if (n <= 0) return;
  rcvBuf_.append(buf, std::size_t(n));
  while (connected_) {
    const auto end = rcvBuf_.find("\r\n");
    if (end == std::string::npos) {
      // A server that never ends its line cannot be answered: give up on it rather
      // than wait for ever with a full buffer.
      if (rcvBuf_.size() >= kReplyBufferSize) ProtocolFailure("500 Reply line too long.");
      return;
    }
    lastResponse_ = rcvBuf_.substr(0, end);
    rcvBuf_.erase(0, end + 2);
    ProcessLine();
  }
}

void TCustomSmtpClient::ProcessLine() {
  TriggerResponse(lastResponse_);
  if (state_ == smtpWaitingBanner) {
    HandleBanner();
  } else if (state_ == smtpWaitingResponse) {
    if (!waitingReply_) {
      // Only a server sends a line nobody waits for (say, after its 221). The raise
      // reaches the socket's background handler, which drops the connection; the
      // close then ends the request with this error.
      errorCode_ = 500;
      errorMessage_ = "500 Program error: FNext is nil";
      throw SmtpException("Program error: FNext is nil");
    }
    HandleReply();
  } else {
    TriggerDisplay("< " + lastResponse_);
  }
}

void TCustomSmtpClient::ProtocolFailure(const std::string& Response) {
  lastResponse_ = Response;
  errorMessage_ = Response;
  statusCode_ = 500;
  errorCode_ = 500;
  rcvBuf_.clear();
  // The close ends the running request with the error recorded here.
  socket_->Close();
}

void TCustomSmtpClient::HandleBanner() {
  TriggerDisplay("< " + lastResponse_);
  const auto r = smtp::ParseReplyCode(lastResponse_);
  statusCode_ = r.Code;
  if (r.Continuation) return;
  if (!r.HasNumber || r.Code != 220) {
    errorCode_ = r.HasNumber && r.Code > 0 && r.Code < 1000 ? std::uint16_t(r.Code) : 500;
    errorMessage_ = lastResponse_;
    socket_->Close();
    return;
  }
  SetState(smtpConnected);
  TriggerSessionConnected(0);
  errorCode_ = 0;
  CompleteRequest();
}

void TCustomSmtpClient::HandleReply() {
  TriggerDisplay("< " + lastResponse_);
  const auto r = smtp::ParseReplyCode(lastResponse_);
  statusCode_ = r.Code;
  const std::string line = ehloRunning_ ? UpperCase(Trim(lastResponse_)) : std::string();
  // A bare code line ("250  ") names no extension.
  if (line.size() > 4) {
    std::string ext = line.substr(4);
    if (ext.rfind("AUTH ", 0) == 0 || ext.rfind("AUTH=", 0) == 0) {
      ext = ext.substr(5);
      std::replace(ext.begin(), ext.end(), '=', ' ');
      std::size_t pos = 0;
      while (pos < ext.size()) {
        const auto next = ext.find(' ', pos);
        const std::string mech =
            ext.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        if (!mech.empty() && authTypesSupp_.IndexOf(mech) < 0) authTypesSupp_.Add(mech);
        if (next == std::string::npos) break;
        pos = next + 1;
      }
    }
  }
  if (r.Continuation) return;
  waitingReply_ = false;
  if (!r.HasNumber || r.Code < 100 || r.Code > 999) {
    // A reply without a code is no success.
    errorCode_ = 500;
    errorMessage_ = "500 Malformed reply: " + lastResponse_;
  } else {
    const bool ok = okCodes_.empty()
                        ? r.Code < 500
                        : std::find(okCodes_.begin(), okCodes_.end(), r.Code) != okCodes_.end();
    errorCode_ = ok ? 0 : std::uint16_t(r.Code);
    if (!ok) errorMessage_ = lastResponse_;
  }
  if (done_ != nullptr) {
    const Handler done = done_;
    done_ = nullptr;
    (this->*done)();
    return;
  }
  // QUIT ends when the server has closed the connection.
  if (quitRunning_ && errorCode_ == 0 && connected_) return;
  CompleteRequest();
}

void TCustomSmtpClient::SocketSessionClosed(std::uint16_t Error) {
  connected_ = false;
  rcvBuf_.clear();
  sendingData_ = false;
  waitingReply_ = false;
  done_ = nullptr;
  TriggerSessionClosed(Error);
  if (requestDone_) return;
  if (state_ == smtpAbort) {
    LocalFailure("426 Operation aborted.", 426);
  } else if (errorCode_ != 0) {
    // Also a QUIT: its 221 may have been followed by a reply line nobody asked for.
    CompleteRequest();
  } else if (quitRunning_) {
    CompleteRequest();
  } else if (Error != 0) {
    WinsockFailure(Error);
    errorCode_ = Error;
    CompleteRequest();
  } else {
    // The server went away in the middle of the request.
    LocalFailure("500 Connection closed by the server.", 500);
  }
}

void TCustomSmtpClient::SocketDataSent(std::uint16_t) {
  if (sendingData_) SendNextDataLine();
}

// Commands.

void TCustomSmtpClient::Helo() {
  CheckReady();
  CheckConnected();
  const std::string name = HeloName();
  CheckValue(name, "SignOn");
  StartRequest(smtpHelo);
  ExecAsync(smtpHelo, "HELO " + name, {250}, nullptr);
}

void TCustomSmtpClient::Ehlo() {
  CheckReady();
  CheckConnected();
  const std::string name = HeloName();
  CheckValue(name, "SignOn");
  StartRequest(smtpEhlo);
  ehloRunning_ = true;
  ExecAsync(smtpEhlo, "EHLO " + name, {250}, &TCustomSmtpClient::EhloDone);
}

void TCustomSmtpClient::EhloDone() {
  ehloRunning_ = false;
  if (errorCode_ == 0) esmtp_ = true;
  CompleteRequest();
}

void TCustomSmtpClient::Auth() {
  CheckReady();
  CheckConnected();
  StartRequest(smtpAuth);
  if (!esmtp_) {
    LocalFailure("500 ESMTP not supported.", 500);
    return;
  }
  authAuto_ = AuthType == smtpAuthAutoSelect;
  TSmtpAuthType type = AuthType;
  if (authAuto_) {
    // The strongest mechanism the server offers.
    type = smtpAuthCramMD5;
    bool any = false;
    for (const auto& [name, t] : {std::pair{"PLAIN", smtpAuthPlain},
                                  {"LOGIN", smtpAuthLogin},
                                  {"CRAM-MD5", smtpAuthCramMD5},
                                  {"CRAM-SHA1", smtpAuthCramSha1}}) {
      if (authTypesSupp_.IndexOf(name) >= 0) {
        type = t;
        any = true;
      }
    }
    if (!any) type = smtpAuthCramMD5;
  }
  switch (type) {
    case smtpAuthPlain:
      AuthPlain();
      break;
    case smtpAuthLogin:
      AuthLogin();
      break;
    case smtpAuthCramMD5:
      AuthCram(false);
      break;
    case smtpAuthCramSha1:
      AuthCram(true);
      break;
    default:
      LocalFailure("500 No Authentication Type Selected.", 500);
      break;
  }
}

void TCustomSmtpClient::AuthPlain() {
  // RFC 4616: no separate authorisation identity, the user name authenticates.
  const std::string token = std::string(1, '\0') + Username + '\0' + Password;
  ExecAsync(smtpAuth, "AUTH PLAIN " + MimeBase64Encode(token), {235},
            &TCustomSmtpClient::AuthNextPlain);
}

void TCustomSmtpClient::AuthNextPlain() {
  if (errorCode_ != 0 && authAuto_ && errorCode_ != 504) {
    errorMessage_ = "500 Authentication Type could not be determined.";
  }
  CompleteRequest();
}

void TCustomSmtpClient::AuthLogin() {
  ExecAsync(smtpAuth, "AUTH LOGIN", {334}, &TCustomSmtpClient::AuthNextLogin);
}

void TCustomSmtpClient::AuthNextLogin() {
  if (errorCode_ != 0) {
    if (authAuto_ && errorCode_ == 504) {
      AuthPlain();
      return;
    }
    if (authAuto_) errorMessage_ = "500 Authentication Type could not be determined.";
    CompleteRequest();
    return;
  }
  ExecAsync(smtpAuth, MimeBase64Encode(Username), {334}, &TCustomSmtpClient::AuthNextLoginUser);
}

void TCustomSmtpClient::AuthNextLoginUser() {
  if (errorCode_ != 0) {
    CompleteRequest();
    return;
  }
  ExecAsync(smtpAuth, MimeBase64Encode(Password), {235}, nullptr);
}

void TCustomSmtpClient::AuthCram(bool Sha1) {
  ExecAsync(smtpAuth, Sha1 ? "AUTH CRAM-SHA1" : "AUTH CRAM-MD5", {334},
            Sha1 ? &TCustomSmtpClient::AuthNextCramSha1 : &TCustomSmtpClient::AuthNextCramMD5);
}

void TCustomSmtpClient::AuthNextCramMD5() {
  AuthNextCram(false);
}

void TCustomSmtpClient::AuthNextCramSha1() {
  AuthNextCram(true);
}

void TCustomSmtpClient::AuthNextCram(bool Sha1) {
  if (errorCode_ != 0) {
    if (!Sha1 && authAuto_ && errorCode_ == 504) {
      AuthLogin();
      return;
    }
    if (authAuto_) errorMessage_ = "500 Authentication Type could not be determined.";
    CompleteRequest();
    return;
  }
  if (lastResponse_.size() < 5) {
    LocalFailure(
        std::string(Sha1 ? "500 Malformed SHA1 Challege: " : "500 Malformed MD5 Challege: ") +
            lastResponse_,
        500);
    return;
  }
  const std::string challenge = MimeBase64Decode(Trim(lastResponse_.substr(4)));
  const std::string mac =
      Sha1 ? smtp::HmacSha1Hex(Password, challenge) : smtp::HmacMd5Hex(Password, challenge);
  ExecAsync(smtpAuth, MimeBase64Encode(Username + " " + mac), {235}, nullptr);
}

void TCustomSmtpClient::Vrfy() {
  CheckReady();
  CheckConnected();
  CheckValue(HdrTo, "HdrTo");
  StartRequest(smtpVrfy);
  ExecAsync(smtpVrfy, "VRFY " + HdrTo, {250}, nullptr);
}

void TCustomSmtpClient::MailFrom() {
  CheckReady();
  CheckConnected();
  CheckValue(FromName, "FromName");
  const std::string address = smtp::ParseAddress(FromName);
  StartRequest(smtpMailFrom);
  ExecAsync(smtpMailFrom, "MAIL FROM:<" + address + ">", {250}, nullptr);
}

void TCustomSmtpClient::RcptTo() {
  CheckReady();
  CheckConnected();
  if (rcptName_.Count() == 0) throw SmtpException("RcptName list is empty");
  for (int i = 0; i < rcptName_.Count(); ++i) {
    CheckValue(rcptName_[i], "RcptName");
  }
  StartRequest(smtpRcptTo);
  itemIndex_ = 0;
  RcptToSend();
}

void TCustomSmtpClient::RcptToSend() {
  ExecAsync(smtpRcptTo, "RCPT TO:<" + smtp::ParseAddress(rcptName_[itemIndex_]) + ">", {250, 251},
            &TCustomSmtpClient::RcptToNext);
}

void TCustomSmtpClient::RcptToNext() {
  if (errorCode_ != 0 || ++itemIndex_ >= rcptName_.Count()) {
    CompleteRequest();
    return;
  }
  SetState(smtpInternalReady);
  RcptToSend();
}

void TCustomSmtpClient::Quit() {
  CheckReady();
  StartRequest(smtpQuit);
  if (!connected_) {
    CompleteRequest();
    return;
  }
  quitRunning_ = true;
  ExecAsync(smtpQuit, "QUIT", {221}, nullptr);
}

void TCustomSmtpClient::Rset() {
  CheckReady();
  CheckConnected();
  StartRequest(smtpRset);
  ExecAsync(smtpRset, "RSET", {250}, nullptr);
}

void TCustomSmtpClient::Abort() {
  SetState(smtpAbort);
  // An abort always ends: a look-up whose cancel failed is forgotten all the same.
  try {
    socket_->CancelDnsLookup();
  } catch (const std::exception&) {
  }
  try {
    socket_->Abort();
  } catch (const std::exception&) {
  }
  // A request the socket did not end (no lookup or connection was running).
  if (!requestDone_) LocalFailure("426 Operation aborted.", 426);
  sendingData_ = false;
  SetState(smtpReady);
}

// DATA.

void TCustomSmtpClient::CheckMessageValues() {
  if (OwnHeaders) return;
  for (const auto& [value, name] : {std::pair{&HdrFrom, "HdrFrom"},
                                    {&HdrTo, "HdrTo"},
                                    {&HdrCc, "HdrCc"},
                                    {&HdrReplyTo, "HdrReplyTo"},
                                    {&HdrReturnPath, "HdrReturnPath"},
                                    {&HdrSubject, "HdrSubject"},
                                    {&HdrSender, "HdrSender"},
                                    {&CharSet, "CharSet"}}) {
    CheckValue(*value, name);
  }
}

void TCustomSmtpClient::BuildHeader() {
  headerLines_.Clear();
  if (OwnHeaders) return;
  const auto addLines = [this](const char* field, const std::string& list) {
    for (auto& line : smtp::AddressHeaderLines(field, list)) headerLines_.Add(std::move(line));
  };
  if (!Trim(HdrReplyTo).empty()) addLines("Reply-To:", HdrReplyTo);
  if (!Trim(HdrReturnPath).empty()) headerLines_.Add("Return-Path: " + HdrReturnPath);
  if (!HdrFrom.empty()) headerLines_.Add("From: " + HdrFrom);
  if (!HdrTo.empty()) addLines("To:", HdrTo);
  if (!HdrCc.empty()) addLines("Cc:", HdrCc);
  headerLines_.Add("Subject: " + HdrSubject);
  if (!Trim(HdrSender).empty()) {
    headerLines_.Add("Sender: " + HdrSender);
  } else if (!HdrFrom.empty()) {
    headerLines_.Add("Sender: " + HdrFrom);
  }
  headerLines_.Add("Mime-Version: 1.0");
  headerLines_.Add("Content-Type: " + contentTypeText_ + "; charset=\"" + CharSet + "\"");
  headerLines_.Add("Date: " + smtp::MailDate(std::time(nullptr)));
  if (HdrPriority != smtpPriorityNone) {
    headerLines_.Add("X-Priority: " + std::to_string(int(HdrPriority)));
    if (HdrPriority <= smtpPriorityHigh) {
      headerLines_.Add("Priority: urgent");
      headerLines_.Add("X-MSMail-Priority: High");
    } else if (HdrPriority == smtpPriorityNormal) {
      headerLines_.Add("Priority: Normal");
      headerLines_.Add("X-MSMail-Priority: Normal");
    } else {
      headerLines_.Add("Priority: non-urgent");
      headerLines_.Add("X-MSMail-Priority: Low");
    }
  }
  headerLines_.Add(kMailerVersion);
  TriggerProcessHeader(headerLines_);
  headerLines_.Add("");
}

void TCustomSmtpClient::Data() {
  CheckReady();
  CheckConnected();
  CheckMessageValues();
  StartRequest(smtpData);
  BuildHeader();
  ExecAsync(smtpData, "DATA", {354}, &TCustomSmtpClient::DataNext);
}

void TCustomSmtpClient::DataNext() {
  if (errorCode_ != 0) {
    CompleteRequest();
    return;
  }
  // A reply while the text goes out is the server giving up on the message.
  okCodes_ = {250};
  done_ = &TCustomSmtpClient::DataEnd;
  waitingReply_ = true;
  headerIndex_ = 0;
  lineNumber_ = 0;
  wireLines_.clear();
  sendingData_ = true;
  SendNextDataLine();
}

void TCustomSmtpClient::SendDataWire(const std::string& Line) {
  TriggerDisplay("> " + Line);
  socket_->SendStr(Line + "\r\n");
}

void TCustomSmtpClient::SendNextDataLine() {
  while (sendingData_ && connected_) {
    if (!wireLines_.empty()) {
      const std::string line = std::move(wireLines_.front());
      wireLines_.erase(wireLines_.begin());
      SendDataWire(line);
      return;
    }
    if (headerIndex_ < headerLines_.Count()) {
      std::string line = headerLines_[headerIndex_++];
      TriggerHeaderLine(line, kHeaderLineSize);
      wireLines_ = smtp::DataWireLines(line);
      continue;
    }
    std::string line;
    bool more = true;
    TriggerGetData(++lineNumber_, line, kTextLineSize, more);
    // The handler may have aborted the client.
    if (!sendingData_ || !connected_ || state_ != smtpWaitingResponse) return;
    if (!more) {
      sendingData_ = false;
      ExecAsync(smtpData, ".", {250}, &TCustomSmtpClient::DataEnd);
      return;
    }
    // Every piece is dot-stuffed on its own, so no text line can end the message early.
    wireLines_ = smtp::DataWireLines(line);
  }
}

void TCustomSmtpClient::DataEnd() {
  sendingData_ = false;
  CompleteRequest();
}

// The high-level sequencer.

void TCustomSmtpClient::Open() {
  CheckReady();
  if (connected_) throw SmtpException("SMTP component already connected");
  HighLevelAsync(smtpOpen, AuthType == smtpAuthNone ? stepConnect | stepHelo
                                                    : stepConnect | stepEhlo | stepAuth);
}

void TCustomSmtpClient::Mail() {
  CheckReady();
  CheckConnected();
  // What would fail half-way is refused before anything is sent.
  if (rcptName_.Count() == 0) throw SmtpException("RcptName list is empty");
  CheckValue(FromName, "FromName");
  for (int i = 0; i < rcptName_.Count(); ++i) {
    CheckValue(rcptName_[i], "RcptName");
  }
  CheckMessageValues();
  HighLevelAsync(smtpMail, stepMailFrom | stepRcptTo | stepData);
}

void TCustomSmtpClient::HighLevelAsync(TSmtpRequest Request, unsigned Steps) {
  highLevelRequest_ = Request;
  requestType_ = Request;
  highLevelFlag_ = true;
  highLevelResult_ = 0;
  fctSet_ = Steps;
  fctPrv_ = 0;
  DoHighLevelAsync(0);
}

void TCustomSmtpClient::DoHighLevelAsync(std::uint16_t Error) {
  if (state_ == smtpAbort) {
    fctSet_ = 0;
    highLevelResult_ = 426;
    lastResponse_ = errorMessage_ = "426 Operation aborted.";
  } else if (fctPrv_ != 0 && Error != 0) {
    if (fctPrv_ == stepEhlo) {
      // A server without ESMTP still takes mail after HELO, without authentication.
      fctSet_ = stepHelo;
    } else {
      highLevelResult_ = Error;
      fctSet_ = (fctSet_ & stepQuit) != 0 && fctPrv_ != stepQuit ? unsigned(stepQuit) : 0u;
    }
  }
  if (fctSet_ == 0) {
    highLevelFlag_ = false;
    requestType_ = highLevelRequest_;
    requestDone_ = false;
    TriggerRequestDone(highLevelResult_);
    return;
  }
  const unsigned step = fctSet_ & (~fctSet_ + 1);
  fctSet_ &= ~step;
  fctPrv_ = step;
  try {
    switch (step) {
      case stepConnect:
        Connect();
        break;
      case stepHelo:
        Helo();
        break;
      case stepEhlo:
        Ehlo();
        break;
      case stepAuth:
        Auth();
        break;
      case stepVrfy:
        Vrfy();
        break;
      case stepMailFrom:
        MailFrom();
        break;
      case stepRcptTo:
        RcptTo();
        break;
      case stepData:
        Data();
        break;
      default:
        Quit();
        break;
    }
  } catch (const std::exception& e) {
    requestDone_ = false;
    if (state_ != smtpAbort) SetState(smtpInternalReady);
    LocalFailure(std::string("500 ") + e.what(), 500);
  }
}

// TSmtpCli.

TSmtpCli::TSmtpCli(TComponent* AOwner) : TCustomSmtpClient(AOwner) {}

TSmtpCli::~TSmtpCli() = default;

void TSmtpCli::SetEmailFiles(const TStrings& Value) {
  for (int i = 0; i < Value.Count(); ++i) {
    if (!FileExists(Value[i])) throw SmtpException("File not found '" + Value[i] + "'");
  }
  emailFiles_.Assign(Value);
}

void TSmtpCli::TriggerAttachContentType(int FileNumber, const std::string& FileName,
                                        std::string& ContentType) {
  if (OnAttachContentType) OnAttachContentType(this, FileNumber, FileName, ContentType);
}

void TSmtpCli::TriggerAttachHeader(int FileNumber, const std::string& FileName,
                                   TStrings& HdrLines) {
  if (OnAttachHeader) OnAttachHeader(this, FileNumber, FileName, HdrLines);
}

void TSmtpCli::PrepareEMail() {
  textLines_.clear();
  textPos_ = 0;
  userMore_ = true;
  userLine_ = 0;
  fileIndex_ = 0;
  stream_.reset();
  partLines_.clear();
  partPos_ = 0;
  closingQueued_ = false;
  boundary_.clear();
  if (emailFiles_.Count() > 0) {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%m%d%y%H%M", &t);
    boundary_ = std::string("= Multipart Boundary ") + stamp;
    bool eightBit = false;
    for (int i = 0; i < MailMessage().Count(); ++i) {
      for (const unsigned char c : MailMessage()[i]) eightBit = eightBit || c >= 0x80;
    }
    textLines_ = {"This is a multipart MIME message.", "", "--" + boundary_,
                  "Content-Type: " + ContentTypeText() + "; charset=\"" + CharSet + "\"",
                  // 8-bit text labelled 7bit may be mangled on the way.
                  std::string("Content-Transfer-Encoding: ") + (eightBit ? "8bit" : "7bit"), ""};
  }
  for (int i = 0; i < MailMessage().Count(); ++i) textLines_.push_back(MailMessage()[i]);
}

void TSmtpCli::Data() {
  CheckReady();
  CheckConnected();
  PrepareEMail();
  TCustomSmtpClient::Data();
}

void TSmtpCli::Abort() {
  EndFileEncBase64(stream_);
  TCustomSmtpClient::Abort();
}

void TSmtpCli::TriggerHeaderLine(std::string& Line, int Size) {
  if (!boundary_.empty() && UpperCase(Line).rfind("CONTENT-TYPE:", 0) == 0) {
    Line = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary_ + "\"";
  }
  TCustomSmtpClient::TriggerHeaderLine(Line, Size);
}

void TSmtpCli::TriggerGetData(int /*LineNum*/, std::string& MsgLine, int MaxLen, bool& More) {
  More = true;
  if (textPos_ < textLines_.size()) {
    MsgLine = std::move(textLines_[textPos_++]);
    return;
  }
  if (userMore_) {
    MsgLine.clear();
    bool more = true;
    TCustomSmtpClient::TriggerGetData(++userLine_, MsgLine, MaxLen, more);
    if (more) return;
    userMore_ = false;
    MsgLine.clear();
  }
  if (!NextAttachmentLine(MsgLine, More)) More = false;
}

bool TSmtpCli::NextAttachmentLine(std::string& MsgLine, bool& More) {
  if (partPos_ < partLines_.size()) {
    MsgLine = partLines_[partPos_++];
    return true;
  }
  if (stream_) {
    bool more = false;
    MsgLine = DoFileEncBase64(stream_, more);
    if (!more) {
      EndFileEncBase64(stream_);
      ++fileIndex_;
    }
    return true;
  }
  while (fileIndex_ < emailFiles_.Count()) {
    const std::string name = emailFiles_[fileIndex_];
    int action = 0;
    if (OnBeforeFileOpen) OnBeforeFileOpen(this, fileIndex_, name, action);
    if (action == 1) {
      ++fileIndex_;
      continue;
    }
    if (action == 2) {
      More = false;
      Abort();
      return true;
    }
    std::unique_ptr<EFOpenError> failure;
    try {
      stream_ = InitFileEncBase64(name, std::uint16_t(ShareMode));
    } catch (const std::exception& e) {
      failure = std::make_unique<EFOpenError>(e.what());
    }
    action = 0;
    if (OnAfterFileOpen) OnAfterFileOpen(this, fileIndex_, name, failure.get(), action);
    if (action == 1) {
      EndFileEncBase64(stream_);
      ++fileIndex_;
      continue;
    }
    if (action == 2) {
      EndFileEncBase64(stream_);
      MsgLine.clear();
      return true;
    }
    if (action == 3 || failure) {
      EndFileEncBase64(stream_);
      More = false;
      Abort();
      return true;
    }
    std::string contentType = FilenameToContentType(name);
    TriggerAttachContentType(fileIndex_, name, contentType);
    std::string base = name.substr(name.find_last_of("/\\") + 1);
    // The name goes between quotes in a header: keep it to one harmless line.
    for (char& c : base) {
      if (c == '"' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    TStrings extra;
    TriggerAttachHeader(fileIndex_, name, extra);
    partLines_ = {"--" + boundary_,
                  "Content-Type: " + contentType + ";",
                  "\tname=\"" + base + "\"",
                  "Content-Transfer-Encoding: base64",
                  "Content-Disposition: attachment;",
                  "\tfilename=\"" + base + "\""};
    for (int i = 0; i < extra.Count(); ++i) partLines_.push_back(extra[i]);
    partLines_.push_back("");
    partPos_ = 0;
    MsgLine.clear();  // the empty line before each part
    return true;
  }
  if (!boundary_.empty() && !closingQueued_) {
    closingQueued_ = true;
    partLines_ = {"--" + boundary_ + "--"};
    partPos_ = 0;
    MsgLine.clear();
    return true;
  }
  return false;
}

}  // namespace qv
