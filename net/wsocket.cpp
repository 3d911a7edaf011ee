#include "net/wsocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>

#include "net/wsockbuf.h"
#include "net/wsocket_resolve.h"
#include "platform/base/text.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"
#include "platform/msg/window.h"

namespace qv {
namespace {

// Process-wide library state: the use count of socket components, whether the socket
// library is started, and the version it is started with.
std::mutex gLibraryMutex;
int gUseCount = 0;                             // guarded
bool gLoaded = false;                          // guarded
std::uint8_t gReqVerLow = 1, gReqVerHigh = 1;  // guarded

std::string Dotted(const in_addr& a) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string ArgText(const TFmtArg& a) {
  if (const auto* text = std::get_if<std::string>(&a)) return *text;
  return std::to_string(std::get<long long>(a));
}

}  // namespace

bool WSocketLoaded() {
  std::lock_guard lock(gLibraryMutex);
  return gLoaded;
}

// ---------------------------------------------------------------------------------------
// TCustomWSocket

TCustomWSocket::TCustomWSocket(TComponent* AOwner) : TComponent(AOwner) {
  {
    std::lock_guard lock(gLibraryMutex);
    ++gUseCount;
  }
  AllocateSocketHWnd();
  AssignDefaultValue();
}

void TCustomWSocket::AllocateSocketHWnd() {
  handle_ = AllocateHWnd([this](HWND, UINT m, WPARAM w, LPARAM l) { return WndProc(m, w, l); });
  if (handle_ == 0) throw ESocketException("Cannot create a hidden window for TWSocket");
  threadId_ = std::uint32_t(::gettid());
}

void TCustomWSocket::DeallocateSocketHWnd() {
  DeallocateHWnd(handle_);
  handle_ = 0;
}

TCustomWSocket::~TCustomWSocket() {
  destroying_ = true;
  DropDnsLookup();
  if (hSocket_ != INVALID_SOCKET) closesocket(hSocket_);
  hSocket_ = INVALID_SOCKET;
  DeallocateSocketHWnd();
  std::lock_guard lock(gLibraryMutex);
  if (--gUseCount < 1 && gLoaded) {
    WSACleanup();
    gLoaded = false;
  }
}

void TCustomWSocket::EnsureLoaded() {
  std::lock_guard lock(gLibraryMutex);
  if (gLoaded) return;
  WSAStartup(std::uint16_t(gReqVerLow | gReqVerHigh << 8));
  gLoaded = true;
}

std::uint8_t TCustomWSocket::ReqVerLow() const {
  std::lock_guard lock(gLibraryMutex);
  return gReqVerLow;
}

std::uint8_t TCustomWSocket::ReqVerHigh() const {
  std::lock_guard lock(gLibraryMutex);
  return gReqVerHigh;
}

// The requested version is fixed once the library is started.
void TCustomWSocket::SetReqVer(std::uint8_t& field, std::uint8_t Value, const char* name) {
  {
    std::lock_guard lock(gLibraryMutex);
    if (field == Value) return;
    if (!gLoaded) {
      field = Value;
      return;
    }
  }
  // No winsock call failed here: a stale code left by an earlier call must not be
  // reported (a reset one would even close the socket).
  WSASetLastError(WSAEINVAL);
  SocketError(std::string(name) + ": WinSock version can't be changed now");
}

void TCustomWSocket::SetReqVerLow(std::uint8_t Value) {
  SetReqVer(gReqVerLow, Value, "SetReqVerLow");
}

void TCustomWSocket::SetReqVerHigh(std::uint8_t Value) {
  SetReqVer(gReqVerHigh, Value, "SetReqVerHigh");
}

void TCustomWSocket::SetSendFlags(int Value) {
  if (Value != wsSendNormal && Value != wsSendUrgent) {
    RaiseException("Invalid SendFlags");
    return;
  }
  sendFlags_ = TSocketSendFlags(Value);
}

void TCustomWSocket::AssignDefaultValue() {
  hSocket_ = INVALID_SOCKET;
  addrStr_.clear();
  portStr_.clear();
  protoStr_ = "tcp";
  localAddr_ = "0.0.0.0";
  localPortStr_ = "0";
  addrAssigned_ = portAssigned_ = false;
  protoAssigned_ = true;
  addrResolved_ = portResolved_ = localPortResolved_ = protoResolved_ = false;
  sin_ = sockaddr_in{};
  sin_.sin_family = AF_INET;
  sockType_ = SOCK_STREAM;
  proto_ = 6;
  localPortNum_ = 0;
  allSent_ = true;
  paused_ = false;
  closeInvoked_ = false;
  selectEvent_ = 0;
  curEvent_ = 0;
  readCount_ = 0;
  state_ = wsClosed;
}

// Addr, Port and Proto change only while closed; the same value again is no change.
void TCustomWSocket::SetWhileClosed(std::string& field, bool& assigned, bool& resolved,
                                    const std::string& Value, const char* name) {
  const std::string v = std::string(TrimSpaces(Value));
  if (state_ != wsClosed) {
    if (assigned && v == field) return;
    RaiseException(std::string("Cannot change ") + name + " if not closed");
    return;
  }
  field = v;
  assigned = !v.empty();
  resolved = false;
}

void TCustomWSocket::SetAddr(const std::string& Value) {
  SetWhileClosed(addrStr_, addrAssigned_, addrResolved_, Value, "Addr");
}

void TCustomWSocket::SetRemotePort(const std::string& Value) {
  SetWhileClosed(portStr_, portAssigned_, portResolved_, Value, "Port");
}

void TCustomWSocket::SetProto(const std::string& Value) {
  SetWhileClosed(protoStr_, protoAssigned_, protoResolved_, Value, "Proto");
}

void TCustomWSocket::SetLocalAddr(const std::string& Value) {
  std::string v = std::string(TrimSpaces(Value));
  if (v.empty()) v = "0.0.0.0";
  if (state_ != wsClosed) {
    if (v == localAddr_) return;
    RaiseException("Cannot change LocalAddr if not closed");
    return;
  }
  localAddr_ = v;
}

void TCustomWSocket::SetLocalPort(const std::string& Value) {
  const std::string v = std::string(TrimSpaces(Value));
  if (state_ != wsClosed) {
    if (v == localPortStr_) return;
    RaiseException("Cannot change LocalPort if not closed");
    return;
  }
  localPortStr_ = v;
  localPortResolved_ = false;
}

void TCustomWSocket::RaiseExceptionFmt(const std::string& Fmt, const std::vector<TFmtArg>& Args) {
  std::string msg;
  std::size_t next = 0;
  for (std::size_t i = 0; i < Fmt.size(); ++i) {
    const char c = Fmt[i];
    const char spec = i + 1 < Fmt.size() ? Fmt[i + 1] : '\0';
    if (c != '%' || (spec != 's' && spec != 'd' && spec != '%')) {
      msg += c;
      continue;
    }
    ++i;
    if (spec == '%') {
      msg += '%';
    } else if (next < Args.size()) {
      msg += ArgText(Args[next++]);
    }
  }
  RaiseException(msg);
}

void TCustomWSocket::RaiseException(const std::string& Msg) {
  if (OnError) {
    OnError(this);
    return;
  }
  throw ESocketException(Msg);
}

void TCustomWSocket::SocketError(const std::string& Context) {
  const int code = WSAGetLastError();
  const std::string line =
      "Error " + std::to_string(code) + " in function " + Context + "\r\n" + WSocketErrorDesc(code);
  if (code == WSAECONNRESET || code == WSAENOTCONN) {
    if (hSocket_ != INVALID_SOCKET) closesocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    if (state_ != wsClosed) {
      closeInvoked_ = true;
      TriggerSessionClosed(std::uint16_t(code));
    }
    ChangeState(wsClosed);
  }
  lastError_ = code;
  RaiseException(line);
}

void TCustomWSocket::ChangeState(TSocketState NewState) {
  const TSocketState old = state_;
  state_ = NewState;
  if (old != NewState) TriggerChangeState(old, NewState);
}

void TCustomWSocket::HandleBackGroundException(const std::exception& E) {
  bool canClose = true;
  if (OnBgException) OnBgException(this, E, canClose);
  if (canClose) Abort();
}

LRESULT TCustomWSocket::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
  try {
    switch (Msg) {
      case WM_ASYNCSELECT: {
        if (SOCKET(std::intptr_t(WParam)) != hSocket_ || paused_) return 0;
        const long events = LOWORD(std::uintptr_t(LParam));
        const std::uint16_t error = HIWORD(std::uintptr_t(LParam));
        for (long ev : {FD_CONNECT, FD_READ, FD_WRITE, FD_ACCEPT, FD_CLOSE}) {
          if (!(events & ev)) continue;
          curEvent_ = ev;
          switch (ev) {
            case FD_CONNECT:
              Do_FD_CONNECT(error);
              break;
            case FD_READ:
              Do_FD_READ(error);
              break;
            case FD_WRITE:
              Do_FD_WRITE(error);
              break;
            case FD_ACCEPT:
              Do_FD_ACCEPT(error);
              break;
            case FD_CLOSE:
              Do_FD_CLOSE(error);
              break;
          }
        }
        curEvent_ = 0;
        return 0;
      }
      case WM_ASYNCGETHOSTBYNAME:
        HandleDnsReply(WSAHANDLE(WParam), HIWORD(std::uintptr_t(LParam)), false);
        return 0;
      case WM_ASYNCGETHOSTBYADDR:
        HandleDnsReply(WSAHANDLE(WParam), HIWORD(std::uintptr_t(LParam)), true);
        return 0;
      case WM_CLOSE_DELAYED:
        Close();
        return 0;
      case WM_WSOCKET_RELEASE:
        // Release is documented for components created with new and owned by nobody.
        delete this;
        return 0;
      case WM_TRIGGER_EXCEPTION:
        throw ESocketException("Test exception in WSocket");
      default:
        return DefWindowProc(handle_, Msg, WParam, LParam);
    }
  } catch (const std::exception& e) {
    HandleBackGroundException(e);
  }
  return 0;
}

void TCustomWSocket::HandleDnsReply(WSAHANDLE Handle, std::uint16_t Error, bool Reverse) {
  // An answer to a cancelled or superseded look-up.
  if (dnsHandle_ == 0 || Handle != dnsHandle_ || Reverse != dnsReverse_) return;
  dnsHandle_ = 0;
  const auto entry = std::move(dnsEntry_);
  if (Error == 0 && entry) {
    if (Reverse) {
      dnsResult_ = entry->Name;
      dnsResultList_ = {entry->Name};
    } else {
      dnsResultList_.clear();
      for (const auto& a : entry->Addresses) dnsResultList_.push_back(Dotted(a));
      dnsResult_ = dnsResultList_.empty() ? std::string() : dnsResultList_.front();
    }
  }
  TriggerDNSLookupDone(Error);
}

void TCustomWSocket::Do_FD_CONNECT(std::uint16_t Error) {
  if (state_ == wsConnected) return;
  ChangeState(wsConnected);
  TriggerSessionConnected(Error);
  if (Error != 0 && state_ != wsClosed) Close();
}

void TCustomWSocket::Do_FD_READ(std::uint16_t Error) {
  if (state_ != wsConnected) {
    ChangeState(wsConnected);
    TriggerSessionConnected(Error);
  }
  ReceiveLoop((ComponentOptions & wsoNoReceiveLoop) != 0);
}

void TCustomWSocket::Do_FD_WRITE(std::uint16_t Error) {
  TryToSend();
  if (allSent_) TriggerDataSent(Error);
}

void TCustomWSocket::Do_FD_ACCEPT(std::uint16_t Error) {
  TriggerSessionAvailable(Error);
}

void TCustomWSocket::Do_FD_CLOSE(std::uint16_t Error) {
  if (state_ == wsConnecting) return;
  ReceiveLoop(false);
  if (!closeInvoked_) {
    closeInvoked_ = true;
    TriggerSessionClosed(Error);
  }
  if (state_ != wsClosed) Close();
}

void TCustomWSocket::ReceiveLoop(bool noLoop) {
  for (;;) {
    if (hSocket_ == INVALID_SOCKET) return;
    lastError_ = 0;
    const std::uint64_t before = bytesTaken_;
    if (!TriggerDataAvailable(0)) {
      char scratch[1024];
      const int n = DoRecv(scratch, sizeof scratch, 0);
      if (n < 0) {
        lastError_ = WSAGetLastError() == WSAEWOULDBLOCK ? 0 : WSAGetLastError();
        return;
      }
    }
    if (noLoop) return;
    if (lastError_ != 0) {
      if (lastError_ == -1) lastError_ = 0;
      return;
    }
    // A handler that took nothing would be called forever for the same bytes.
    if (bytesTaken_ == before || hSocket_ == INVALID_SOCKET) return;
    unsigned long waiting = 0;
    if (ioctlsocket(hSocket_, FIONREAD_, &waiting) != 0) {
      lastError_ = WSAGetLastError();
      return;
    }
    if (waiting == 0) return;
  }
}

bool TCustomWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, Error);
  return true;
}

void TCustomWSocket::TriggerSessionAvailable(std::uint16_t Error) {
  if (OnSessionAvailable) OnSessionAvailable(this, Error);
}

void TCustomWSocket::TriggerSessionConnected(std::uint16_t Error) {
  TriggerSessionConnectedSpecial(Error);
}

void TCustomWSocket::TriggerSessionConnectedSpecial(std::uint16_t Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomWSocket::TriggerSessionClosed(std::uint16_t Error) {
  if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomWSocket::TriggerDataSent(std::uint16_t Error) {
  if (OnDataSent) OnDataSent(this, Error);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
  if (OnChangeState) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::TriggerDNSLookupDone(std::uint16_t Error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}

void TCustomWSocket::TriggerError() {
  if (OnError) OnError(this);
}

int TCustomWSocket::DoRecv(void* Buffer, int Size, int Flags) {
  const int n = recv(hSocket_, Buffer, Size, Flags);
  if (n > 0) bytesTaken_ += std::uint64_t(n);
  return n;
}

int TCustomWSocket::DoRecvFrom(void* Buffer, int Size, int Flags, sockaddr_in& From) {
  socklen_t len = sizeof From;
  const int n = recvfrom(hSocket_, Buffer, Size, Flags, reinterpret_cast<sockaddr*>(&From), &len);
  if (n > 0) bytesTaken_ += std::uint64_t(n);
  return n;
}

int TCustomWSocket::Receive(void* Buffer, int Size) {
  const int n = DoRecv(Buffer, Size, 0);
  if (n < 0) {
    lastError_ = WSAGetLastError();
  } else {
    readCount_ += n;
  }
  return n;
}

std::string TCustomWSocket::ReceiveStr() {
  int size = GetRcvdCount();
  if (size < 0) return {};
  if (size == 0) size = 255;
  std::string s(std::size_t(size), '\0');
  const int n = Receive(s.data(), size);
  if (n <= 0) return {};
  s.resize(std::size_t(n));
  return s;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int Size, sockaddr_in& From) {
  const int n = DoRecvFrom(Buffer, Size, 0, From);
  if (n < 0) {
    lastError_ = WSAGetLastError();
  } else {
    readCount_ += n;
  }
  return n;
}

int TCustomWSocket::GetRcvdCount() {
  if (HasState(csDesigning)) return -1;
  if (hSocket_ == INVALID_SOCKET) return 0;
  unsigned long n = 0;
  if (ioctlsocket(hSocket_, FIONREAD_, &n) != 0) {
    SocketError("ioctlSocket");
    return -1;
  }
  return int(std::min<unsigned long>(n, 0x7FFFFFFF));
}

void TCustomWSocket::SetLingerOption() {
  if (LingerOnOff == wsLingerNoSet) return;
  if (hSocket_ == INVALID_SOCKET) {
    RaiseException("Cannot set linger option at this time");
    return;
  }
  linger l{LingerOnOff == wsLingerOn ? 1 : 0, LingerTimeout};
  if (setsockopt(hSocket_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) {
    SocketError("setsockopt(SO_LINGER)");
  }
}

void TCustomWSocket::BindSocket() {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(WSocketResolvePort(localPortStr_, protoStr_));
  local.sin_addr = WSocketResolveHost(localAddr_);
  if (bind(hSocket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    RaiseExceptionFmt("winsock.bind failed, error #%d", {WSAGetLastError()});
    return;
  }
  socklen_t len = sizeof local;
  if (getsockname(hSocket_, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    RaiseExceptionFmt("winsock.getsockname failed, error #%d", {WSAGetLastError()});
    return;
  }
  localPortStr_ = std::to_string(ntohs(local.sin_port));
}

bool TCustomWSocket::CanConnect() {
  if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
    RaiseException("Connect: Socket already in use");
    return false;
  }
  if (!portAssigned_) {
    RaiseException("Connect: No Port Specified");
    return false;
  }
  if (!addrAssigned_) {
    RaiseException("Connect: No IP Address Specified");
    return false;
  }
  return true;
}

void TCustomWSocket::Connect() {
  if (!CanConnect()) return;
  if (!protoAssigned_) {
    RaiseException("Connect: No Protocol Specified");
    return;
  }
  EnsureLoaded();
  if (!protoResolved_) {
    proto_ = WSocketResolveProto(protoStr_);
    sockType_ = proto_ == 6 ? SOCK_STREAM : proto_ == 17 ? SOCK_DGRAM : SOCK_RAW;
    protoResolved_ = true;
  }
  if (!portResolved_) {
    sin_.sin_port = htons(WSocketResolvePort(portStr_, protoStr_));
    portResolved_ = true;
  }
  if (!localPortResolved_) {
    localPortNum_ = WSocketResolvePort(localPortStr_, protoStr_);
    localPortResolved_ = true;
  }
  if (!addrResolved_) {
    sin_.sin_addr = WSocketResolveHost(addrStr_);
    addrResolved_ = true;
  }
  sin_.sin_family = AF_INET;
  DeleteBufferedData();
  hSocket_ = socket(AF_INET, sockType_, sockType_ == SOCK_RAW ? proto_ : 0);
  if (hSocket_ == INVALID_SOCKET) {
    SocketError("Connect (socket)");
    return;
  }
  ChangeState(wsOpened);
  if (state_ != wsOpened) {
    WSASetLastError(WSAEINVAL);
    SocketError("Connect (Invalid operation in OnChangeState)");
    return;
  }
  if (sockType_ == SOCK_STREAM) {
    const int on = 1;
    if (setsockopt(hSocket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
    if ((ComponentOptions & wsoTcpNoDelay) &&
        setsockopt(hSocket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
      SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
      return;
    }
    SetLingerOption();
    if (setsockopt(hSocket_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (localPortNum_ != 0 || localAddr_ != "0.0.0.0") BindSocket();
  } else if (sockType_ == SOCK_DGRAM) {
    BindSocket();
    if (MultiCast) {
      if (MultiCastIpTTL != 1) {
        const unsigned char ttl = static_cast<unsigned char>(MultiCastIpTTL);
        if (setsockopt(hSocket_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
          SocketError("setsockopt(IP_MULTICAST_TTL)");
          return;
        }
      }
      if (!MultiCastAddrStr.empty() && MultiCastAddrStr != "0.0.0.0") {
        const in_addr ifAddr = WSocketResolveHost(MultiCastAddrStr);
        if (setsockopt(hSocket_, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) != 0) {
          SocketError("setsockopt(IP_MULTICAST_IF)");
          return;
        }
      }
    }
    if (sin_.sin_addr.s_addr == INADDR_BROADCAST) {
      const int on = 1;
      if (setsockopt(hSocket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        SocketError("setsockopt(SO_BROADCAST)");
        return;
      }
    }
  }
  selectEvent_ = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
  if (WSAAsyncSelect(hSocket_, handle_, WM_ASYNCSELECT, selectEvent_) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }
  if (sockType_ == SOCK_STREAM) {
    if (connect(hSocket_, reinterpret_cast<sockaddr*>(&sin_), sizeof sin_) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
      lastError_ = WSAGetLastError();
      SocketError("Connect");
      return;
    }
    ChangeState(wsConnecting);
  } else {
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
  }
}

void TCustomWSocket::Listen() {
  if (!portAssigned_) {
    WSASetLastError(WSAEINVAL);
    SocketError("listen: port not assigned");
    return;
  }
  if (!protoAssigned_) {
    WSASetLastError(WSAEINVAL);
    SocketError("listen: protocol not assigned");
    return;
  }
  if (!addrAssigned_) {
    WSASetLastError(WSAEINVAL);
    SocketError("listen: address not assigned");
    return;
  }
  EnsureLoaded();
  const std::string p = LowerCase(TrimSpaces(protoStr_));
  if (p.rfind("raw_", 0) == 0) {
    sockType_ = SOCK_RAW;
    proto_ = WSocketResolveProto(p.substr(4));
  } else {
    proto_ = WSocketResolveProto(protoStr_);
    sockType_ = proto_ == 17 ? SOCK_DGRAM : SOCK_STREAM;
  }
  sin_.sin_family = AF_INET;
  sin_.sin_port = htons(WSocketResolvePort(portStr_, sockType_ == SOCK_RAW ? "tcp" : protoStr_));
  sin_.sin_addr = WSocketResolveHost(addrStr_);
  hSocket_ = socket(AF_INET, sockType_, sockType_ == SOCK_RAW ? proto_ : 0);
  if (hSocket_ == INVALID_SOCKET) {
    SocketError("socket");
    return;
  }
  ChangeState(wsOpened);
  const int on = 1;
  if (sockType_ == SOCK_DGRAM && ReuseAddr) {
    setsockopt(hSocket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  if (bind(hSocket_, reinterpret_cast<sockaddr*>(&sin_), sizeof sin_) != 0) {
    const int err = WSAGetLastError();
    Close();
    WSASetLastError(err);
    SocketError("Bind");
    return;
  }
  socklen_t len = sizeof sin_;
  getsockname(hSocket_, reinterpret_cast<sockaddr*>(&sin_), &len);
  ChangeState(wsBound);
  if (sockType_ == SOCK_STREAM) {
    if (listen(hSocket_, ListenBacklog) != 0) {
      SocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  } else if (sockType_ == SOCK_DGRAM) {
    if (MultiCast) {
      ip_mreq mreq{};
      mreq.imr_multiaddr = WSocketResolveHost(MultiCastAddrStr);
      mreq.imr_interface = sin_.sin_addr;
      if (setsockopt(hSocket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
        SocketError("setsockopt(IP_ADD_MEMBERSHIP)");
        return;
      }
    }
    ChangeState(wsListening);
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
  } else {
    if (ComponentOptions & wsoSIO_RCVALL) {
      unsigned long in = 1, out = 0;
      if (WSAIoctl(hSocket_, SIO_RCVALL, &in, sizeof in, nullptr, 0, &out) != 0) {
        const int err = WSAGetLastError();
        Close();
        WSASetLastError(err);
        SocketError("WSAIoctl(SIO_RCVALL)");
        return;
      }
    }
    ChangeState(wsListening);
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
  }
  selectEvent_ = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
  if (WSAAsyncSelect(hSocket_, handle_, WM_ASYNCSELECT, selectEvent_) != 0) {
    SocketError("WSAASyncSelect");
  }
}

SOCKET TCustomWSocket::Accept() {
  if (state_ != wsListening) {
    WSASetLastError(WSAEINVAL);
    SocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  socklen_t len = sizeof sin_;
  const SOCKET s = accept(hSocket_, reinterpret_cast<sockaddr*>(&sin_), &len);
  if (s == INVALID_SOCKET) {
    SocketError("Accept");
    return INVALID_SOCKET;
  }
  return s;
}

void TCustomWSocket::Dup(SOCKET NewHSocket) {
  if (NewHSocket == INVALID_SOCKET) {
    WSASetLastError(WSAEINVAL);
    SocketError("Dup");
    return;
  }
  EnsureLoaded();
  if (hSocket_ != INVALID_SOCKET) {
    if (closesocket(hSocket_) != 0) {
      hSocket_ = INVALID_SOCKET;
      SocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  hSocket_ = NewHSocket;
  SetLingerOption();
  selectEvent_ = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
  if (WSAAsyncSelect(hSocket_, handle_, WM_ASYNCSELECT, selectEvent_) != 0) {
    SocketError("WSAAsyncSelect");
    return;
  }
  DupConnected();
}

void TCustomWSocket::DupConnected() {
  ChangeState(wsConnected);
}

void TCustomWSocket::DeleteBufferedData() {
  bufList_.clear();
  allSent_ = true;
}

int TCustomWSocket::RealSend(const void* Data, int Len) {
  int n;
  if (sockType_ == SOCK_DGRAM) {
    n = sendto(hSocket_, Data, Len, sendFlags_, reinterpret_cast<const sockaddr*>(&sin_),
               sizeof sin_);
  } else {
    n = send(hSocket_, Data, Len, sendFlags_);
  }
  if (n > 0 && OnSendData) OnSendData(this, n);
  return n;
}

void TCustomWSocket::TryToSend() {
  if (hSocket_ == INVALID_SOCKET) return;
  if (bufList_.empty()) {
    allSent_ = true;
    return;
  }
  for (;;) {
    int len = 0;
    const std::uint8_t* p = bufList_.front()->Peek(len);
    if (len <= 0) {
      if (bufList_.size() > 1) {
        bufList_.pop_front();
        continue;
      }
      allSent_ = true;
      return;
    }
    const int count = RealSend(p, len);
    if (count == 0) return;
    if (count < 0) {
      const int err = WSAGetLastError();
      if (err == WSAECONNRESET || err == WSAENOTSOCK || err == WSAENOTCONN || err == WSAEINVAL ||
          err == WSAECONNABORTED) {
        lastError_ = err;
        const bool reported = closeInvoked_;
        closeInvoked_ = true;
        Close();
        if (!reported) TriggerSessionClosed(std::uint16_t(err));
      } else if (err != WSAEWOULDBLOCK) {
        SocketError("TryToSend failed");
      }
      return;
    }
    if (bufList_.empty()) return;  // closed from OnSendData
    bufList_.front()->Remove(count);
    if (count < len) return;
  }
}

int TCustomWSocket::Send(const void* Data, int Len) {
  if (state_ != wsConnected && state_ != wsSocksConnected) {
    WSASetLastError(WSAENOTCONN);
    SocketError("Send");
    return -1;
  }
  if (Len <= 0) return 0;
  allSent_ = false;
  const auto* p = static_cast<const std::uint8_t*>(Data);
  int left = Len;
  if (!bufList_.empty()) {
    const int n = bufList_.back()->Write(p, left);
    p += n;
    left -= n;
  }
  while (left > 0) {
    bufList_.push_back(std::make_unique<TBuffer>(BufSize));
    const int n = bufList_.back()->Write(p, left);
    p += n;
    left -= n;
  }
  TryToSend();
  // OnDataSent comes from the message loop, never from inside this call.
  if (allSent_ && hSocket_ != INVALID_SOCKET) {
    PostMessage(handle_, WM_ASYNCSELECT, WPARAM(static_cast<std::intptr_t>(hSocket_)),
                MAKELONG(std::uint16_t(FD_WRITE), 0));
  }
  return Len;
}

int TCustomWSocket::SendStr(const std::string& Str) {
  if (Str.empty()) return 0;
  return Send(Str.data(), int(Str.size()));
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, const void* Data, int Len) {
  const int n = sendto(hSocket_, Data, Len, sendFlags_, reinterpret_cast<const sockaddr*>(&Dest),
                       sizeof Dest);
  if (n > 0 && OnSendData) OnSendData(this, n);
  if (n < 0) lastError_ = WSAGetLastError();
  if (sockType_ == SOCK_DGRAM && hSocket_ != INVALID_SOCKET) {
    PostMessage(handle_, WM_ASYNCSELECT, WPARAM(static_cast<std::intptr_t>(hSocket_)),
                MAKELONG(std::uint16_t(FD_WRITE), 0));
  }
  return n;
}

void TCustomWSocket::Close() {
  InternalClose(true, 0);
}

void TCustomWSocket::CloseDelayed() {
  PostMessage(handle_, WM_CLOSE_DELAYED, 0, 0);
}

void TCustomWSocket::Release() {
  PostMessage(handle_, WM_WSOCKET_RELEASE, 0, 0);
}

void TCustomWSocket::Abort() {
  InternalAbort(0);
}

void TCustomWSocket::InternalAbort(std::uint16_t ErrCode) {
  // The connection goes even when the look-up's cancel reports a failure.
  std::exception_ptr cancelFailure;
  try {
    CancelDnsLookup();
  } catch (const std::exception&) {
    cancelFailure = std::current_exception();
  }
  DeleteBufferedData();
  if (hSocket_ != INVALID_SOCKET && sockType_ == SOCK_STREAM &&
      (state_ == wsConnected || state_ == wsSocksConnected)) {
    // A hard close: the connection is reset and unsent data dropped.
    linger l{1, 0};
    setsockopt(hSocket_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  InternalClose(false, ErrCode);
  if (cancelFailure) std::rethrow_exception(cancelFailure);
}

void TCustomWSocket::InternalClose(bool bShut, std::uint16_t Error) {
  if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
    if (bShut) ShutDown(1);
    const SOCKET s = hSocket_;
    hSocket_ = INVALID_SOCKET;
    if (closesocket(s) != 0) {
      const int err = WSAGetLastError();
      if (err != WSANOTINITIALISED) {
        lastError_ = err;
        SocketError("Disconnect (closesocket)");
        return;
      }
    }
    ChangeState(wsClosed);
    if (!destroying_ && !closeInvoked_) {
      closeInvoked_ = true;
      TriggerSessionClosed(Error);
    }
  } else {
    if (hSocket_ != INVALID_SOCKET) closesocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    if (state_ != wsClosed) ChangeState(wsClosed);
  }
  // An event handler may have started a new connection meanwhile.
  if (hSocket_ == INVALID_SOCKET) AssignDefaultValue();
}

void TCustomWSocket::ShutDown(int How) {
  if (hSocket_ != INVALID_SOCKET) shutdown(hSocket_, How);
}

void TCustomWSocket::Flush() {
  TryToSend();
  PumpUntil([this] { return hSocket_ == INVALID_SOCKET || allSent_; });
}

void TCustomWSocket::WaitForClose() {
  // Data and the end of the connection arrive through the ordinary notifications.
  PumpUntil([this] { return hSocket_ == INVALID_SOCKET || state_ == wsClosed; });
}

void TCustomWSocket::Pause() {
  paused_ = true;
  if (hSocket_ != INVALID_SOCKET) WSAAsyncSelect(hSocket_, handle_, 0, 0);
}

void TCustomWSocket::Resume() {
  paused_ = false;
  if (hSocket_ != INVALID_SOCKET) WSAAsyncSelect(hSocket_, handle_, WM_ASYNCSELECT, selectEvent_);
}

void TCustomWSocket::MessagePump() {
  if (!MultiThreaded) {
    ProcessMessages();
    return;
  }
  MSG msg;
  while (PeekMessage(msg, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    DispatchMessage(msg);
  }
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
  if (HostName.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    TriggerDNSLookupDone(WSAEINVAL);
    return;
  }
  EnsureLoaded();
  DropDnsLookup();
  dnsResult_.clear();
  dnsResultList_.clear();
  dnsReverse_ = false;
  in_addr a{};
  if (WSocketParseDotted(HostName, a)) {
    // Nothing to ask: the answer is there before the call returns.
    dnsResult_ = Dotted(a);
    dnsResultList_ = {dnsResult_};
    TriggerDNSLookupDone(0);
    return;
  }
  if (handle_ == 0) {
    RaiseException("DnsLookup: Window not assigned");
    return;
  }
  dnsEntry_ = std::make_shared<HostEntry>();
  dnsHandle_ = WSAAsyncGetHostByName(handle_, WM_ASYNCGETHOSTBYNAME, HostName, dnsEntry_);
  if (dnsHandle_ == 0) {
    RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", {HostName, WSAGetLastError()});
  }
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  in_addr a{};
  if (HostAddr.empty() || !WSocketParseDotted(HostAddr, a)) {
    RaiseException("ReverseDnsLookup: Invalid host name.");
    TriggerDNSLookupDone(WSAEINVAL);
    return;
  }
  EnsureLoaded();
  DropDnsLookup();
  dnsResult_.clear();
  dnsResultList_.clear();
  if (handle_ == 0) {
    RaiseException("ReverseDnsLookup: Window not assigned");
    return;
  }
  dnsReverse_ = true;
  dnsEntry_ = std::make_shared<HostEntry>();
  dnsHandle_ = WSAAsyncGetHostByAddr(handle_, WM_ASYNCGETHOSTBYADDR, a, dnsEntry_);
  if (dnsHandle_ == 0) {
    RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", {HostAddr, WSAGetLastError()});
  }
}

void TCustomWSocket::DropDnsLookup() {
  // An answer already on its way is dropped when it arrives: the handle no longer matches.
  if (dnsHandle_ != 0) WSACancelAsyncRequest(dnsHandle_);
  dnsHandle_ = 0;
}

void TCustomWSocket::CancelDnsLookup() {
  if (dnsHandle_ == 0) return;
  const bool cancelled = WSACancelAsyncRequest(dnsHandle_) == 0;
  // Forgotten before the report, which may raise: an answer already on its way is
  // dropped, and a second cancel has nothing left to report.
  dnsHandle_ = 0;
  dnsEntry_.reset();
  if (!cancelled) SocketError("WSACancelAsyncRequest");
  if (!destroying_) TriggerDNSLookupDone(WSAEINTR);
}

int TCustomWSocket::GetPeerName(sockaddr_in& Name) {
  if (state_ != wsConnected) return -1;
  socklen_t len = sizeof Name;
  return getpeername(hSocket_, reinterpret_cast<sockaddr*>(&Name), &len);
}

int TCustomWSocket::GetSockName(sockaddr_in& Name) {
  socklen_t len = sizeof Name;
  return getsockname(hSocket_, reinterpret_cast<sockaddr*>(&Name), &len);
}

std::string TCustomWSocket::GetPeerAddr() {
  if (state_ != wsConnected) return "error";
  sockaddr_in a{};
  if (GetPeerName(a) != 0) {
    SocketError("GetPeerName");
    return "error";
  }
  return Dotted(a.sin_addr);
}

std::string TCustomWSocket::GetPeerPort() {
  if (state_ != wsConnected) return "error";
  sockaddr_in a{};
  if (GetPeerName(a) != 0) {
    SocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(ntohs(a.sin_port));
}

std::string TCustomWSocket::GetXAddr() {
  if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
  sockaddr_in a{};
  if (GetSockName(a) != 0) {
    SocketError("GetSockName");
    return "error";
  }
  return Dotted(a.sin_addr);
}

std::string TCustomWSocket::GetXPort() {
  if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
  sockaddr_in a{};
  if (GetSockName(a) != 0) {
    SocketError("GetSockName");
    return "error";
  }
  return std::to_string(ntohs(a.sin_port));
}

bool TCustomWSocket::IsNonZero(const TWSocketValue& V) const {
  return V.Lo != 0 || V.Hi != 0;
}

void TCustomWSocket::ClearValue(TWSocketValue& V) const {
  V.Lo = 0;
  V.Hi = 0;
}

bool TCustomWSocket::SameValue(const TWSocketValue& A, const TWSocketValue& B, bool Equal) const {
  const bool same = A.Lo == B.Lo && A.Hi == B.Hi;
  return Equal ? same : !same;
}

}  // namespace qv
