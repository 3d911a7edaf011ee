// The SOCKS client of the socket component.
#include <algorithm>
#include <cstring>

#include "net/wsocket.h"
#include "net/wsocket_resolve.h"
#include "net/wsocket_socks.h"
#include "platform/base/text.h"

namespace qv {

TCustomSocksWSocket::TCustomSocksWSocket(TComponent* AOwner) : TCustomWSocket(AOwner) {
  reply_.reserve(kSocksMaxReply + 16);
}

void TCustomSocksWSocket::AssignDefaultValue() {
  TCustomWSocket::AssignDefaultValue();
  // Like Addr and Port, the SOCKS server is named again for every connection; the
  // credentials stay.
  socksServer_.clear();
  socksPort_.clear();
  socksLevel_ = "5";
  socksServerAssigned_ = socksPortAssigned_ = false;
  socksState_ = 0;
  reply_.clear();
  leftover_.clear();
  leftoverPos_ = 0;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
  if (state_ != wsClosed) {
    RaiseException("Can't change socks server if not closed");
    return;
  }
  socksServer_ = std::string(TrimSpaces(Value));
  socksServerAssigned_ = !socksServer_.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
  if (state_ != wsClosed) {
    RaiseException("Can't change socks port if not closed");
    return;
  }
  socksPort_ = std::string(TrimSpaces(Value));
  socksPortAssigned_ = !socksPort_.empty();
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
  if (state_ != wsClosed) {
    RaiseException("Can't change socks level if not closed");
    return;
  }
  if (Value != "4" && Value != "4A" && Value != "5") {
    RaiseException("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  socksLevel_ = Value;
}

void TCustomSocksWSocket::Listen() {
  if (!socksServer_.empty()) {
    RaiseException("Listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

void TCustomSocksWSocket::Connect() {
  if (socksServer_.empty()) {
    TCustomWSocket::Connect();
    return;
  }
  const std::string proto = LowerCase(TrimSpaces(protoStr_));
  if (proto != "tcp") {
    RaiseException("tcp is the only protocol supported thru socks server");
    return;
  }
  if (!CanConnect()) return;
  // Every length on the wire is one byte; refuse before anything is sent.
  if (addrStr_.size() > 255 || SocksUsercode.size() > 255 || SocksPassword.size() > 255) {
    RaiseException("Connect: socks host name, user code or password longer than 255 bytes");
    return;
  }
  EnsureLoaded();
  destPort_ = WSocketResolvePort(portStr_, protoStr_);
  destAddr_ = addrStr_;
  sin_.sin_family = AF_INET;
  sin_.sin_port = htons(WSocketResolvePort(socksPort_, "tcp"));
  sin_.sin_addr = WSocketResolveHost(socksServer_);
  portResolved_ = addrResolved_ = true;
  socksState_ = 1;
  reply_.clear();
  leftover_.clear();
  leftoverPos_ = 0;
  boundAddr_.clear();
  boundPort_.clear();
  TCustomWSocket::Connect();
}

void TCustomSocksWSocket::TriggerSocksConnected(std::uint16_t Error) {
  if (OnSocksConnected) OnSocksConnected(this, Error);
}

void TCustomSocksWSocket::TriggerSocksError(int Error, const std::string& Msg) {
  if (OnSocksError) OnSocksError(this, Error, Msg);
}

bool TCustomSocksWSocket::SendSocksBytes(const std::vector<std::uint8_t>& Bytes) {
  return Send(Bytes.data(), int(Bytes.size())) == int(Bytes.size());
}

void TCustomSocksWSocket::TriggerSessionConnected(std::uint16_t Error) {
  if (socksState_ != 1 || !reply_.empty()) {
    TriggerSessionConnectedSpecial(Error);
    return;
  }
  TriggerSocksConnected(Error);
  if (Error != 0) {
    socksState_ = 0;
    TriggerSessionConnectedSpecial(Error);
    return;
  }
  if (socksLevel_ == "5") {
    method_ = SocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
    SendSocksBytes({5, 1, method_});
  } else {
    SocksSendRequest();
  }
}

void TCustomSocksWSocket::SocksSendAuthentication() {
  socksState_ = 2;
  reply_.clear();
  if (OnSocksAuthState) OnSocksAuthState(this, socksAuthStart);
  std::vector<std::uint8_t> req = {1, std::uint8_t(SocksUsercode.size())};
  req.insert(req.end(), SocksUsercode.begin(), SocksUsercode.end());
  req.push_back(std::uint8_t(SocksPassword.size()));
  req.insert(req.end(), SocksPassword.begin(), SocksPassword.end());
  SendSocksBytes(req);
}

void TCustomSocksWSocket::SocksSendRequest() {
  socksState_ = 3;
  reply_.clear();
  std::vector<std::uint8_t> req;
  if (socksLevel_ == "5") {
    req = {5, 1, 0, 3, std::uint8_t(destAddr_.size())};
    req.insert(req.end(), destAddr_.begin(), destAddr_.end());
    req.push_back(std::uint8_t(destPort_ >> 8));
    req.push_back(std::uint8_t(destPort_ & 0xFF));
  } else {
    req = {4, 1, std::uint8_t(destPort_ >> 8), std::uint8_t(destPort_ & 0xFF)};
    std::uint8_t ip[4] = {0, 0, 0, 1};
    if (socksLevel_ == "4") {
      in_addr a{};
      try {
        a = WSocketResolveHost(destAddr_);
      } catch (const ESocketException& e) {
        SocksError(WSAHOST_NOT_FOUND, e.what());
        return;
      }
      std::memcpy(ip, &a.s_addr, 4);
    }
    req.insert(req.end(), ip, ip + 4);
    req.insert(req.end(), SocksUsercode.begin(), SocksUsercode.end());
    req.push_back(0);
    if (socksLevel_ == "4A") {
      req.insert(req.end(), destAddr_.begin(), destAddr_.end());
      req.push_back(0);
    }
  }
  SendSocksBytes(req);
}

void TCustomSocksWSocket::SocksError(int Error, const std::string& Msg) {
  TriggerSocksError(Error, Msg);
  socksState_ = 0;
  TriggerSessionConnectedSpecial(std::uint16_t(Error));
  // The close reports the end through OnSessionClosed, as for any failed connect.
  InternalClose(true, std::uint16_t(Error));
}

void TCustomSocksWSocket::SocksDone() {
  socksState_ = 0;
  TriggerSessionConnectedSpecial(0);
  // Bytes that came behind the reply reach the user now, before anything newer.
  while (leftoverPos_ < leftover_.size() && hSocket_ != INVALID_SOCKET) {
    const std::size_t before = leftoverPos_;
    if (!TriggerDataAvailable(0)) {
      leftover_.clear();
      leftoverPos_ = 0;
      break;
    }
    if (leftoverPos_ == before) break;
  }
}

bool TCustomSocksWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (socksState_ == 0) return TCustomWSocket::TriggerDataAvailable(Error);
  if (Error != 0) {
    SocksError(Error, "data receive error");
    return true;
  }
  std::uint8_t buf[kSocksMaxReply + 16];
  const std::size_t room = sizeof buf - std::min(reply_.size(), sizeof buf);
  if (room == 0) {
    SocksError(20001, "too much data availaible");
    return true;
  }
  const int n = TCustomWSocket::DoRecv(buf, int(room), 0);
  if (n < 0) {
    lastError_ = WSAGetLastError();
    return true;
  }
  if (n == 0) return true;
  reply_.insert(reply_.end(), buf, buf + n);
  TSocksReply r;
  switch (socksState_) {
    case 1:
      if (socksLevel_ != "5") {
        SocksError(20001, "TWSocket logic error");
        return true;
      }
      r = ParseSocksMethodReply(reply_);
      if (r.Result == TSocksReply::NeedMore) return true;
      if (r.Result == TSocksReply::Failed) break;
      if (r.Method == 0) {
        if (method_ == 2 && OnSocksAuthState) OnSocksAuthState(this, socksAuthNotRequired);
        SocksSendRequest();
      } else {
        SocksSendAuthentication();
      }
      return true;
    case 2:
      r = ParseSocksAuthReply(reply_);
      if (r.Result == TSocksReply::NeedMore) return true;
      if (r.Result == TSocksReply::Failed) {
        if (r.Error == 20015 && OnSocksAuthState) OnSocksAuthState(this, socksAuthFailure);
        break;
      }
      if (OnSocksAuthState) OnSocksAuthState(this, socksAuthSuccess);
      SocksSendRequest();
      return true;
    case 3:
      r = socksLevel_ == "5" ? ParseSocks5ConnectReply(reply_) : ParseSocks4ConnectReply(reply_);
      if (r.Result == TSocksReply::NeedMore) return true;
      if (r.Result == TSocksReply::Failed) break;
      boundAddr_ = r.BoundAddr;
      boundPort_ = r.BoundPort;
      leftover_.assign(reply_.begin() + std::ptrdiff_t(r.Length), reply_.end());
      leftoverPos_ = 0;
      reply_.clear();
      SocksDone();
      return true;
    default:
      SocksError(20013, "internal error");
      return true;
  }
  SocksError(r.Error, r.Msg);
  return true;
}

void TCustomSocksWSocket::TriggerSessionClosed(std::uint16_t Error) {
  if (socksState_ == 2 && OnSocksAuthState) OnSocksAuthState(this, socksAuthFailure);
  // The SOCKS server ended the connection (a local Close has already dropped the socket and
  // reports no error): the handshake failed and the session never opened.
  if (socksState_ != 0 && (Error != 0 || hSocket_ != INVALID_SOCKET)) {
    const std::uint16_t error = Error != 0 ? Error : std::uint16_t(WSAECONNRESET);
    SocksError(error, "connection closed by the socks server");
    // The close in progress was already marked as reported, so it is reported here.
    TCustomWSocket::TriggerSessionClosed(error);
    return;
  }
  TCustomWSocket::TriggerSessionClosed(Error);
}

int TCustomSocksWSocket::GetRcvdCount() {
  if (leftoverPos_ < leftover_.size()) return int(leftover_.size() - leftoverPos_);
  return TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::DoRecv(void* Buffer, int Size, int Flags) {
  if (leftoverPos_ < leftover_.size()) {
    const std::size_t n = std::min(std::size_t(std::max(Size, 0)), leftover_.size() - leftoverPos_);
    std::memcpy(Buffer, leftover_.data() + leftoverPos_, n);
    leftoverPos_ += n;
    if (leftoverPos_ == leftover_.size()) {
      leftover_.clear();
      leftoverPos_ = 0;
    }
    bytesTaken_ += n;
    return int(n);
  }
  return TCustomWSocket::DoRecv(Buffer, Size, Flags);
}

}  // namespace qv
