// Event-driven IPv4 sockets. `TCustomWSocket` never blocks its caller: its socket
// reports progress as messages to a hidden window of the thread that created it, and
// the component turns them into events on that thread. `TCustomSocksWSocket` reaches
// the destination through a SOCKS 4, 4A or 5 server, `TCustomLineWSocket` delivers
// received bytes line by line, `TCustomSyncWSocket` waits for a flag by serving the
// message queue, and `TWSocket` is the class the protocol clients own. A component
// belongs to its creating thread; its owner destroys it (or `Release` does, for one
// created with new and owned by nobody else).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/base/component.h"
#include "platform/base/exception.h"
#include "platform/msg/messages.h"
#include "platform/sock/async_dns.h"
#include "platform/sock/winsock.h"

namespace qv {

class TBuffer;
class TCustomWSocket;

class ESocketException : public Exception {
 public:
  using Exception::Exception;
};

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsSocksConnected,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketSendFlags { wsSendNormal = 0, wsSendUrgent = 1 };
enum TWSocketOption : unsigned { wsoNoReceiveLoop = 1, wsoTcpNoDelay = 2, wsoSIO_RCVALL = 4 };
using TWSocketOptions = unsigned;

constexpr UINT WM_ASYNCSELECT = WM_USER + 1;
constexpr UINT WM_ASYNCGETHOSTBYNAME = WM_USER + 2;
constexpr UINT WM_ASYNCGETHOSTBYADDR = WM_USER + 3;
constexpr UINT WM_CLOSE_DELAYED = WM_USER + 4;
constexpr UINT WM_WSOCKET_RELEASE = WM_USER + 5;
constexpr UINT WM_TRIGGER_EXCEPTION = WM_USER + 6;
constexpr UINT WM_TRIGGER_DATA_AVAILABLE = WM_USER + 20;

using TDataAvailable = std::function<void(TCustomWSocket* Sender, std::uint16_t ErrCode)>;
using TDataSent = TDataAvailable;
using TSessionConnected = TDataAvailable;
using TSessionClosed = TDataAvailable;
using TSessionAvailable = TDataAvailable;
using TDnsLookupDone = TDataAvailable;
using TSendData = std::function<void(TCustomWSocket* Sender, int BytesSent)>;
using TChangeState =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TNotifyEvent = std::function<void(TCustomWSocket* Sender)>;
using TBgExceptionEvent =
    std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)>;

// An argument of `RaiseExceptionFmt`: "%s" takes a text, "%d" a number.
using TFmtArg = std::variant<std::string, long long>;

// An 8-byte value kept as two 32-bit words, low word first.
struct TWSocketValue {
  std::uint32_t Lo = 0;
  std::uint32_t Hi = 0;
};

// Unit-level resolvers; raise ESocketException on failure. Names go through the
// replaceable resolver of platform/sock.
in_addr WSocketResolveHost(const std::string& Host);
std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto);
int WSocketResolveProto(const std::string& Proto);
std::string LocalHostName();
std::string WSocketErrorDesc(int Code);
// Decimal dotted quad with every part at most 255, blanks around allowed.
bool WSocketIsDottedIP(const std::string& S);
// True while the socket library is started (between the first use and the destruction
// of the last socket component).
bool WSocketLoaded();

class TCustomWSocket : public TComponent {
 public:
  explicit TCustomWSocket(TComponent* AOwner = nullptr);
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  // Properties.
  [[nodiscard]] const std::string& Addr() const { return addrStr_; }
  void SetAddr(const std::string& Value);
  [[nodiscard]] const std::string& Port() const { return portStr_; }
  void SetPort(const std::string& Value) { SetRemotePort(Value); }
  [[nodiscard]] const std::string& Proto() const { return protoStr_; }
  virtual void SetProto(const std::string& Value);
  [[nodiscard]] const std::string& LocalAddr() const { return localAddr_; }
  void SetLocalAddr(const std::string& Value);
  [[nodiscard]] const std::string& LocalPort() const { return localPortStr_; }
  void SetLocalPort(const std::string& Value);
  [[nodiscard]] SOCKET HSocket() const { return hSocket_; }
  [[nodiscard]] HWND Handle() const { return handle_; }
  // The thread that created the socket and owns its window and events.
  [[nodiscard]] std::uint32_t ThreadId() const { return threadId_; }
  [[nodiscard]] TSocketState State() const { return state_; }
  [[nodiscard]] int LastError() const { return lastError_; }
  [[nodiscard]] std::int64_t ReadCount() const { return readCount_; }
  [[nodiscard]] const std::string& DnsResult() const { return dnsResult_; }
  [[nodiscard]] const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
  [[nodiscard]] int RcvdCount() { return GetRcvdCount(); }
  [[nodiscard]] std::string PeerAddr() { return GetPeerAddr(); }
  [[nodiscard]] std::string PeerPort() { return GetPeerPort(); }
  // The peer's dotted address and its port in decimal; "error" unless connected.
  [[nodiscard]] virtual std::string GetPeerAddr();
  [[nodiscard]] virtual std::string GetPeerPort();
  [[nodiscard]] virtual std::string GetXAddr();
  [[nodiscard]] virtual std::string GetXPort();
  [[nodiscard]] bool AllSent() const { return allSent_; }
  [[nodiscard]] std::size_t BufferCount() const { return bufList_.size(); }
  [[nodiscard]] std::uint8_t ReqVerLow() const;
  void SetReqVerLow(std::uint8_t Value);
  [[nodiscard]] std::uint8_t ReqVerHigh() const;
  void SetReqVerHigh(std::uint8_t Value);
  [[nodiscard]] TSocketSendFlags SendFlags() const { return sendFlags_; }
  void SetSendFlags(int Value);

  int BufSize = 1460;
  // Set on every connect unless `wsLingerNoSet`; on with 0 seconds resets the connection
  // at close, as `Abort` always does.
  TSocketLingerOnOff LingerOnOff = wsLingerOn;
  int LingerTimeout = 0;
  int ListenBacklog = 5;
  int FlushTimeout = 60;
  bool MultiThreaded = false;
  bool MultiCast = false;
  std::string MultiCastAddrStr;
  int MultiCastIpTTL = 1;
  bool ReuseAddr = false;
  TWSocketOptions ComponentOptions = 0;

  // Events, fired on the thread that owns `Handle`.
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TSessionAvailable OnSessionAvailable;
  TChangeState OnChangeState;
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;

  // Operations.
  virtual void Connect();
  virtual void Listen();
  virtual SOCKET Accept();
  virtual void Dup(SOCKET NewHSocket);
  virtual void Close();
  virtual void CloseDelayed();
  // Destroys the component from the message loop; only for a component created with
  // new that nobody else owns.
  virtual void Release();
  virtual void Abort();
  virtual void Flush();
  virtual void WaitForClose();
  virtual void ShutDown(int How);
  virtual void Pause();
  virtual void Resume();
  virtual void MessagePump();
  virtual int Send(const void* Data, int Len);
  virtual int SendStr(const std::string& Str);
  virtual int SendTo(const sockaddr_in& Dest, const void* Data, int Len);
  virtual int Receive(void* Buffer, int Size);
  virtual std::string ReceiveStr();
  virtual int ReceiveFrom(void* Buffer, int Size, sockaddr_in& From);
  virtual void DnsLookup(const std::string& HostName);
  virtual void ReverseDnsLookup(const std::string& HostAddr);
  virtual void CancelDnsLookup();
  virtual int GetPeerName(sockaddr_in& Name);
  virtual int GetSockName(sockaddr_in& Name);
  [[nodiscard]] bool Terminated() const { return terminated_; }
  [[nodiscard]] bool Paused() const { return paused_; }

  // Operations on a two-word value: either word non-zero; both words to 0; both words
  // equal (or, with `Equal` false, not both equal).
  [[nodiscard]] virtual bool IsNonZero(const TWSocketValue& V) const;
  virtual void ClearValue(TWSocketValue& V) const;
  [[nodiscard]] virtual bool SameValue(const TWSocketValue& A, const TWSocketValue& B,
                                       bool Equal) const;

 protected:
  virtual LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam);
  virtual void AllocateSocketHWnd();
  virtual void DeallocateSocketHWnd();
  virtual void TryToSend();
  virtual void AssignDefaultValue();
  virtual void InternalClose(bool bShut, std::uint16_t Error);
  virtual void InternalAbort(std::uint16_t ErrCode);
  virtual void SetRemotePort(const std::string& Value);
  virtual int GetRcvdCount();
  virtual void BindSocket();
  virtual int RealSend(const void* Data, int Len);
  // `Fmt` with each "%s" and "%d" replaced by the next of `Args` ("%%" is a percent
  // sign), then as RaiseException.
  virtual void RaiseExceptionFmt(const std::string& Fmt, const std::vector<TFmtArg>& Args);
  virtual void RaiseException(const std::string& Msg);
  virtual void HandleBackGroundException(const std::exception& E);
  // False when no OnDataAvailable handler exists.
  virtual bool TriggerDataAvailable(std::uint16_t Error);
  virtual void TriggerSessionAvailable(std::uint16_t Error);
  virtual void TriggerSessionConnected(std::uint16_t Error);
  // Fires OnSessionConnected itself; the SOCKS layer reports the end of its handshake
  // through it, past its own TriggerSessionConnected.
  virtual void TriggerSessionConnectedSpecial(std::uint16_t Error);
  virtual void TriggerSessionClosed(std::uint16_t Error);
  virtual void TriggerDataSent(std::uint16_t Error);
  virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
  virtual void TriggerDNSLookupDone(std::uint16_t Error);
  virtual void TriggerError();
  virtual int DoRecv(void* Buffer, int Size, int Flags);
  virtual int DoRecvFrom(void* Buffer, int Size, int Flags, sockaddr_in& From);
  virtual void Do_FD_CONNECT(std::uint16_t Error);
  virtual void Do_FD_READ(std::uint16_t Error);
  virtual void Do_FD_WRITE(std::uint16_t Error);
  virtual void Do_FD_ACCEPT(std::uint16_t Error);
  virtual void Do_FD_CLOSE(std::uint16_t Error);
  virtual void DupConnected();

  void ChangeState(TSocketState NewState);
  // Reports the last winsock error of `Context` through RaiseException.
  void SocketError(const std::string& Context);
  void ReceiveLoop(bool noLoop);
  void DeleteBufferedData();
  void SetLingerOption();
  void EnsureLoaded();
  // Forgets the look-up in progress, if any, without an event.
  void DropDnsLookup();
  // False, after RaiseException, while the socket is in use or Port or Addr is missing.
  bool CanConnect();
  // Total bytes taken from the socket; the receive loop stops when a pass takes none.
  std::uint64_t bytesTaken_ = 0;

  SOCKET hSocket_ = INVALID_SOCKET;
  HWND handle_ = 0;
  std::uint32_t threadId_ = 0;
  TSocketState state_ = wsClosed;
  std::string addrStr_, portStr_, protoStr_ = "tcp", localAddr_ = "0.0.0.0", localPortStr_ = "0";
  bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = true;
  bool addrResolved_ = false, portResolved_ = false, localPortResolved_ = false,
       protoResolved_ = false;
  sockaddr_in sin_{};
  int sockType_ = SOCK_STREAM;
  int proto_ = 6;
  std::uint16_t localPortNum_ = 0;
  bool closeInvoked_ = false;
  int lastError_ = 0;
  bool paused_ = false;
  long selectEvent_ = 0;
  long curEvent_ = 0;

 private:
  void HandleDnsReply(WSAHANDLE Handle, std::uint16_t Error, bool Reverse);
  // `field`: one of the guarded global version bytes.
  void SetReqVer(std::uint8_t& field, std::uint8_t Value, const char* name);
  void SetWhileClosed(std::string& field, bool& assigned, bool& resolved, const std::string& Value,
                      const char* name);

  std::deque<std::unique_ptr<TBuffer>> bufList_;
  bool allSent_ = true;
  std::int64_t readCount_ = 0;
  std::string dnsResult_;
  std::vector<std::string> dnsResultList_;
  WSAHANDLE dnsHandle_ = 0;
  bool dnsReverse_ = false;
  std::shared_ptr<HostEntry> dnsEntry_;
  TSocketSendFlags sendFlags_ = wsSendNormal;
  bool terminated_ = false;
  bool destroying_ = false;
};

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };
using TSocksErrorEvent =
    std::function<void(TCustomWSocket* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomWSocket* Sender, TSocksAuthState AuthState)>;

// Socket that connects through a SOCKS server when `SocksServer` is set. Every close
// returns the server, port and level to empty, empty and "5"; the credentials stay.
class TCustomSocksWSocket : public TCustomWSocket {
 public:
  explicit TCustomSocksWSocket(TComponent* AOwner = nullptr);

  [[nodiscard]] const std::string& SocksServer() const { return socksServer_; }
  virtual void SetSocksServer(const std::string& Value);
  [[nodiscard]] const std::string& SocksPort() const { return socksPort_; }
  virtual void SetSocksPort(const std::string& Value);
  [[nodiscard]] const std::string& SocksLevel() const { return socksLevel_; }
  void SetSocksLevel(const std::string& Value);
  std::string SocksUsercode;
  std::string SocksPassword;
  TSocksAuthentication SocksAuthentication = socksNoAuthentication;
  [[nodiscard]] const std::string& BoundAddr() const { return boundAddr_; }
  [[nodiscard]] const std::string& BoundPort() const { return boundPort_; }
  [[nodiscard]] int SocksState() const { return socksState_; }

  TSessionConnected OnSocksConnected;
  TSocksErrorEvent OnSocksError;
  TSocksAuthStateEvent OnSocksAuthState;

  void Connect() override;
  void Listen() override;

 protected:
  virtual void TriggerSocksConnected(std::uint16_t Error);
  virtual void TriggerSocksError(int Error, const std::string& Msg);
  void AssignDefaultValue() override;
  int GetRcvdCount() override;
  bool TriggerDataAvailable(std::uint16_t Error) override;
  void TriggerSessionConnected(std::uint16_t Error) override;
  void TriggerSessionClosed(std::uint16_t Error) override;
  int DoRecv(void* Buffer, int Size, int Flags) override;

 private:
  void SocksError(int Error, const std::string& Msg);
  void SocksSendRequest();
  void SocksSendAuthentication();
  void SocksDone();
  bool SendSocksBytes(const std::vector<std::uint8_t>& Bytes);

  int socksState_ = 0;
  std::string socksServer_, socksPort_, socksLevel_ = "5";
  bool socksServerAssigned_ = false, socksPortAssigned_ = false;
  std::uint8_t method_ = 0;
  std::vector<std::uint8_t> reply_;
  std::string boundAddr_, boundPort_;
  std::vector<std::uint8_t> leftover_;
  std::size_t leftoverPos_ = 0;
  std::uint16_t destPort_ = 0;
  std::string destAddr_;
};

using TLineLimitEvent =
    std::function<void(TCustomWSocket* Sender, int RcvdLength, bool& ClearData)>;

// Delivers received bytes one line (ending with `LineEnd`) per OnDataAvailable. The
// buffer never holds more than `LineLimit` bytes without a line end: beyond it
// OnLineLimitExceeded decides, and kept data stops further reads until it is consumed.
class TCustomLineWSocket : public TCustomSocksWSocket {
 public:
  explicit TCustomLineWSocket(TComponent* AOwner = nullptr);
  ~TCustomLineWSocket() override;

  std::string LineEnd = "\r\n";
  [[nodiscard]] bool LineMode() const { return lineMode_; }
  virtual void SetLineMode(bool Value);
  int LineLimit = 65536;
  bool LineEcho = false;
  bool LineEdit = false;
  TLineLimitEvent OnLineLimitExceeded;

  // Queues the text and LineEnd; the count of bytes queued, 0 for an empty text and -1
  // when the send failed.
  virtual int SendLine(const std::string& Str);
  [[nodiscard]] std::size_t BufferedBytes() const { return rcvdCnt_; }

 protected:
  virtual void TriggerLineLimitExceeded(int Cnt, bool& ClearData);
  virtual void EditLine(int& Len);
  LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) override;
  int GetRcvdCount() override;
  int DoRecv(void* Buffer, int Size, int Flags) override;
  bool TriggerDataAvailable(std::uint16_t Error) override;
  void TriggerSessionClosed(std::uint16_t Error) override;

 private:
  void DeliverLines(std::size_t start);
  void Redeliver();

  std::vector<char> rcvdBuf_;
  std::size_t rcvdCnt_ = 0;
  bool lineMode_ = false;
  int lineLength_ = 0;
  bool lineFound_ = false;
  bool lineReceived_ = false;
  bool lineClearData_ = false;
  bool lineDataKept_ = false;         // the handler kept an over-long line: read no more for now
  bool lineSearchFromStart_ = false;  // buffered bytes must be searched again (mode switch)
};

// Adds a wait that serves the message queue until a flag is set.
class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  using TCustomLineWSocket::TCustomLineWSocket;
  int Timeout = 0;  // milliseconds, 0 = no limit
  // DoneFlag := false; Proc when assigned; then WaitUntilReady.
  virtual int Synchronize(const std::function<void()>& Proc, bool& DoneFlag);
  // 0 once DoneFlag is true; 12001 on time-out or when the loop is terminating.
  virtual int WaitUntilReady(bool& DoneFlag);
};

class TWSocket : public TCustomSyncWSocket {
 public:
  using TCustomSyncWSocket::TCustomSyncWSocket;
};

}  // namespace qv
