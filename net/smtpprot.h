// Mail submission over SMTP without blocking. `TCustomSmtpClient` turns each command
// into a request that ends with one posted `OnRequestDone`; `Open` and `Mail` chain the
// usual commands. `TSmtpCli` adds MIME multipart messages with base64 attachments.
// A client belongs to the thread that created it: its socket and its window deliver
// every event there, and it must be driven by that thread's message loop.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/component.h"
#include "platform/base/exception.h"
#include "platform/base/stringlist.h"
#include "platform/msg/messages.h"

namespace qv {

class TWSocket;
class TCustomWSocket;
class TStream;

enum TSmtpState {
  smtpReady,
  smtpDnsLookup,
  smtpConnecting,
  smtpConnected,
  smtpInternalReady,
  smtpWaitingBanner,
  smtpWaitingResponse,
  smtpAbort
};
enum TSmtpRequest {
  smtpConnect,
  smtpHelo,
  smtpMailFrom,
  smtpVrfy,
  smtpRcptTo,
  smtpData,
  smtpQuit,
  smtpRset,
  smtpOpen,
  smtpMail,
  smtpEhlo,
  smtpAuth,
  smtpCustom
};
enum TSmtpAuthType {
  smtpAuthNone,
  smtpAuthPlain,
  smtpAuthLogin,
  smtpAuthCramMD5,
  smtpAuthCramSha1,
  smtpAuthAutoSelect
};
enum TSmtpPriority {
  smtpPriorityNone,
  smtpPriorityHighest,
  smtpPriorityHigh,
  smtpPriorityNormal,
  smtpPriorityLow,
  smtpPriorityLowest
};
enum TSmtpContentType { smtpHtml, smtpPlainText };
enum TSmtpShareMode {
  smtpShareCompat = 0,
  smtpShareExclusive = 16,
  smtpShareDenyWrite = 32,
  smtpShareDenyRead = 48,
  smtpShareDenyNone = 64
};

class SmtpException : public Exception {
 public:
  using Exception::Exception;
};

class TCustomSmtpClient;

using TSmtpDisplay = std::function<void(TCustomSmtpClient* Sender, const std::string& Msg)>;
// `MsgLine` comes empty and `More` true; a handler fills in the next line of text or
// sets `More` false at the end. `MaxLen` is the line length mail servers accept.
using TSmtpGetDataEvent = std::function<void(TCustomSmtpClient* Sender, int LineNum,
                                             std::string& MsgLine, int MaxLen, bool& More)>;
// The handler may rewrite the header line in place.
using TSmtpHeaderLineEvent =
    std::function<void(TCustomSmtpClient* Sender, std::string& Msg, int Size)>;
using TSmtpProcessHeaderEvent = std::function<void(TCustomSmtpClient* Sender, TStrings& HdrLines)>;
using TSmtpRequestDone =
    std::function<void(TCustomSmtpClient* Sender, TSmtpRequest RqType, std::uint16_t ErrorCode)>;
using TSmtpSessionEvent = std::function<void(TCustomSmtpClient* Sender, std::uint16_t Error)>;
using TSmtpNotifyEvent = std::function<void(TCustomSmtpClient* Sender)>;

// Posted to the client's window when a request ends: wParam the request type, the
// error in the low word of lParam.
constexpr UINT WM_SMTP_REQUEST_DONE = WM_USER + 1;

class TCustomSmtpClient : public TComponent {
 public:
  explicit TCustomSmtpClient(TComponent* AOwner = nullptr);
  ~TCustomSmtpClient() override;

  // Properties.
  std::string Host;
  std::string LocalAddr = "0.0.0.0";
  std::string Port = "smtp";
  std::string SignOn;  // name for HELO/EHLO; empty: the local host name
  std::string Username;
  std::string Password;
  TSmtpAuthType AuthType = smtpAuthNone;
  std::string FromName;
  std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
  TSmtpPriority HdrPriority = smtpPriorityNone;
  std::string CharSet = "iso-8859-1";
  std::int32_t Tag = 0;
  bool OwnHeaders = false;

  [[nodiscard]] const TStrings& RcptName() const { return rcptName_; }
  void SetRcptName(const TStrings& Value) { rcptName_.Assign(Value); }
  [[nodiscard]] const TStrings& MailMessage() const { return mailMessage_; }
  void SetMailMessage(const TStrings& Value) { mailMessage_.Assign(Value); }
  [[nodiscard]] TSmtpContentType ContentType() const { return contentType_; }
  [[nodiscard]] const std::string& ContentTypeText() const { return contentTypeText_; }
  virtual void SetContentType(TSmtpContentType Value);
  [[nodiscard]] TSmtpState State() const { return state_; }
  [[nodiscard]] const std::string& LastResponse() const { return lastResponse_; }
  [[nodiscard]] const std::string& ErrorMessage() const { return errorMessage_; }
  [[nodiscard]] int StatusCode() const { return statusCode_; }
  [[nodiscard]] std::uint16_t ErrorCode() const { return errorCode_; }
  [[nodiscard]] bool Connected() const { return connected_; }
  [[nodiscard]] bool ESmtp() const { return esmtp_; }
  // Mechanisms the server announced after EHLO, upper case.
  [[nodiscard]] const TStrings& AuthTypesSupported() const { return authTypesSupp_; }
  [[nodiscard]] TSmtpRequest RequestType() const { return requestType_; }
  [[nodiscard]] HWND Handle() const { return hwnd_; }

  // Events, fired on the owning thread.
  TSmtpDisplay OnDisplay;
  TSmtpDisplay OnCommand;
  TSmtpDisplay OnResponse;
  TSmtpGetDataEvent OnGetData;
  TSmtpHeaderLineEvent OnHeaderLine;
  TSmtpProcessHeaderEvent OnProcessHeader;
  TSmtpRequestDone OnRequestDone;
  TSmtpSessionEvent OnSessionConnected;
  TSmtpSessionEvent OnSessionClosed;
  TSmtpNotifyEvent OnStateChange;

  // Requests. Each raises SmtpException at once when it cannot start; otherwise it ends
  // with one posted OnRequestDone (error 0 on success, else the reply code or the
  // socket error).
  virtual void Connect();
  virtual void Helo();
  virtual void Ehlo();
  virtual void Auth();
  virtual void Vrfy();
  virtual void MailFrom();
  virtual void RcptTo();
  virtual void Data();
  virtual void Quit();
  virtual void Rset();
  virtual void Abort();
  virtual void Open();
  virtual void Mail();

 protected:
  virtual void TriggerDisplay(const std::string& Msg);
  virtual void TriggerCommand(const std::string& Msg);
  virtual void TriggerResponse(const std::string& Msg);
  virtual void TriggerRequestDone(std::uint16_t Error);
  virtual void TriggerStateChange();
  virtual void TriggerGetData(int LineNum, std::string& MsgLine, int MaxLen, bool& More);
  virtual void TriggerHeaderLine(std::string& Line, int Size);
  virtual void TriggerProcessHeader(TStrings& HdrLines);
  virtual void TriggerSessionConnected(std::uint16_t Error);
  virtual void TriggerSessionClosed(std::uint16_t Error);
  virtual void SendCommand(const std::string& Cmd);
  virtual LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam);

  void SetState(TSmtpState Value);
  // Raises unless the client may start a request now.
  void CheckReady();
  void CheckConnected();

  TStrings headerLines_;

 private:
  using Handler = void (TCustomSmtpClient::*)();
  enum Step : unsigned {
    stepConnect = 1u << 0,
    stepHelo = 1u << 1,
    stepEhlo = 1u << 2,
    stepAuth = 1u << 3,
    stepVrfy = 1u << 4,
    stepMailFrom = 1u << 5,
    stepRcptTo = 1u << 6,
    stepData = 1u << 7,
    stepQuit = 1u << 8,
  };

  void StartRequest(TSmtpRequest Request);
  void ExecAsync(TSmtpRequest Request, const std::string& Cmd, std::vector<int> OkCodes,
                 Handler Done);
  void LocalFailure(const std::string& Response, std::uint16_t Error);
  void WinsockFailure(int Error);
  void CompleteRequest() { TriggerRequestDone(errorCode_); }
  std::string HeloName() const;
  void BuildHeader();
  void CheckMessageValues();

  // Socket events.
  void SocketDnsLookupDone(std::uint16_t Error);
  void SocketSessionConnected(std::uint16_t Error);
  void SocketDataAvailable(std::uint16_t Error);
  void SocketDataSent(std::uint16_t Error);
  void SocketSessionClosed(std::uint16_t Error);
  void ProcessLine();
  void HandleBanner();
  void HandleReply();
  void ProtocolFailure(const std::string& Response);

  // Continuations of the commands.
  void EhloDone();
  void AuthPlain();
  void AuthLogin();
  void AuthCram(bool Sha1);
  void AuthNextPlain();
  void AuthNextLogin();
  void AuthNextLoginUser();
  void AuthNextCramMD5();
  void AuthNextCramSha1();
  void AuthNextCram(bool Sha1);
  void RcptToNext();
  void RcptToSend();
  void DataNext();
  void SendNextDataLine();
  void SendDataWire(const std::string& Line);
  void DataEnd();

  // The high-level sequencer.
  void HighLevelAsync(TSmtpRequest Request, unsigned Steps);
  void DoHighLevelAsync(std::uint16_t Error);

  std::unique_ptr<TWSocket> socket_;
  HWND hwnd_ = 0;
  TStrings rcptName_;
  TStrings mailMessage_;
  TStrings authTypesSupp_;
  TSmtpContentType contentType_ = smtpPlainText;
  std::string contentTypeText_ = "text/plain";
  TSmtpState state_ = smtpReady;
  std::string lastResponse_;
  std::string errorMessage_;
  bool connected_ = false;
  bool esmtp_ = false;
  TSmtpRequest requestType_ = smtpConnect;
  bool requestDone_ = true;
  int statusCode_ = 0;
  std::uint16_t errorCode_ = 0;
  std::string rcvBuf_;
  std::vector<int> okCodes_;
  bool waitingReply_ = false;  // a command is on its way; its reply goes to HandleReply
  Handler done_ = nullptr;
  bool ehloRunning_ = false;
  bool quitRunning_ = false;
  bool authAuto_ = false;
  // Sequencer.
  unsigned fctSet_ = 0;
  unsigned fctPrv_ = 0;
  std::uint16_t highLevelResult_ = 0;
  bool highLevelFlag_ = false;
  TSmtpRequest highLevelRequest_ = smtpOpen;
  // RCPT TO and DATA progress.
  int itemIndex_ = 0;
  int lineNumber_ = 0;
  int headerIndex_ = 0;
  bool sendingData_ = false;
  std::vector<std::string> wireLines_;  // pieces of the current text line not yet sent
};

using TSmtpAttachmentContentType =
    std::function<void(TCustomSmtpClient* Sender, int FileNumber, const std::string& FileName,
                       std::string& ContentType)>;
using TSmtpAttachHeader = std::function<void(TCustomSmtpClient* Sender, int FileNumber,
                                             const std::string& FileName, TStrings& HdrLines)>;
// Action 0 goes on, 1 skips the file, 2 ends the message and aborts the client.
using TSmtpBeforeFileOpenEvent = std::function<void(TCustomSmtpClient* Sender, int Idx,
                                                    const std::string& FileName, int& Action)>;
// `E` is the failure when the file could not be opened, else null. Action 0 goes on,
// 1 skips the file, 2 tries it again, 3 ends the message and aborts the client. A file
// that could not be opened and is not skipped aborts the client: a message is never
// sent without an attachment it was meant to carry.
using TSmtpAfterFileOpenEvent =
    std::function<void(TCustomSmtpClient* Sender, int Idx, const std::string& FileName,
                       const std::exception* E, int& Action)>;

class TSmtpCli : public TCustomSmtpClient {
 public:
  explicit TSmtpCli(TComponent* AOwner = nullptr);
  ~TSmtpCli() override;

  [[nodiscard]] const TStrings& EmailFiles() const { return emailFiles_; }
  // Raises SmtpException ("File not found '<name>'") for a file that does not exist.
  void SetEmailFiles(const TStrings& Value);
  TSmtpShareMode ShareMode = smtpShareDenyWrite;

  TSmtpAttachmentContentType OnAttachContentType;
  TSmtpAttachHeader OnAttachHeader;
  TSmtpBeforeFileOpenEvent OnBeforeFileOpen;
  TSmtpAfterFileOpenEvent OnAfterFileOpen;

  void Data() override;
  void Abort() override;

 protected:
  virtual void TriggerAttachContentType(int FileNumber, const std::string& FileName,
                                        std::string& ContentType);
  virtual void TriggerAttachHeader(int FileNumber, const std::string& FileName, TStrings& HdrLines);
  virtual void PrepareEMail();
  void TriggerGetData(int LineNum, std::string& MsgLine, int MaxLen, bool& More) override;
  void TriggerHeaderLine(std::string& Line, int Size) override;

 private:
  // Serves the next attachment line; false when no attachment line is left.
  bool NextAttachmentLine(std::string& MsgLine, bool& More);

  TStrings emailFiles_;
  std::string boundary_;
  std::vector<std::string> textLines_;
  std::size_t textPos_ = 0;
  bool userMore_ = true;
  int userLine_ = 0;
  int fileIndex_ = 0;
  std::unique_ptr<TStream> stream_;
  std::vector<std::string> partLines_;
  std::size_t partPos_ = 0;
  bool closingQueued_ = false;
};

}  // namespace qv
