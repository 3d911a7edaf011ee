#include "cddb/cddb.h"

#include "net/httpprot.h"
#include "net/smtpprot.h"
#include "net/wsocket.h"
#include "platform/base/streams.h"

namespace qv {

TCddb::TCddb(TComponent* AOwner)
    : TComponent(AOwner),
      FSocket(std::make_unique<TWSocket>(nullptr)),
      FRcvdStream(std::make_unique<TMemoryStream>()),
      FSendStream(std::make_unique<TMemoryStream>()),
      FHttpCli(std::make_unique<THttpCli>(nullptr)),
      FSmtpCli(std::make_unique<TSmtpCli>(nullptr)) {
  Sender = this;
  State = cdsIdle;
  FSocket->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t) {
    SocketLine(FSocket->ReceiveStr());
  };
  FSocket->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t) {
    SocketSessionConnected();
  };
  FSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t) { SocketSessionClosed(); };
  FSocket->MultiThreaded = false;
  FSocket->SetLineMode(true);
  FSocket->LineEnd = "\r\n";
  FSocket->SetProto("tcp");
  FSocket->SetPort("8880");
  FSocket->SetAddr(kDefaultServer);
  ServerAddr = kDefaultServer;
  ServerPort = "80";
  ServerAdditionalAddr = kDefaultCgiPath;
  ClientName = "Quorvel";
  ClientVersion = "1.0";
  LocalCDDBPath = "./";
  LocalCDDBType = lctUNIX;
  if (CDAccessAvailable()) {
    InternalTOCRetrieve = true;
    GetCDDrives(DriveList, CDInterface);
    if (DriveList.DriveCount > 0) {
      // The identifier is computed by the first `RefreshTOC`, as the owner expects.
      TCDTOC toc;
      ReadCDTOC(DriveList, 0, toc, CDInterface);
      CDInfo.TOC = toc;
      DriveList.CurrentDrive = 0;
    }
  }
  FHttpCli->OnRequestDone = [this](THttpCli*, THttpRequest, std::uint16_t ErrCode) {
    ++FDonesSeen;
    // A late completion of an aborted request must not end (or answer for) the new one.
    if (FDonesSeen < FGetsStarted) return;
    FDonesSeen = FGetsStarted;
    FRequestError = ErrCode;
    HttpRequestDone(ErrCode);
    FRequestError = 0;
  };
  FHttpCli->OnCommand = [this](THttpCli*, std::string& line) { HttpCommand(line); };
  FHttpCli->RcvdStream = FRcvdStream.get();
  FHttpCli->SendStream = FSendStream.get();
  FHttpCli->MaxAnswerBytes = kMaxAnswerBytes;
  FSmtpCli->OnRequestDone = [this](TCustomSmtpClient*, TSmtpRequest request,
                                   std::uint16_t ErrorCode) {
    TMailStep step;
    switch (request) {
      case smtpConnect:
        step = TMailStep::Connect;
        break;
      case smtpHelo:
        step = TMailStep::Helo;
        break;
      case smtpMail:
        step = TMailStep::Mail;
        break;
      case smtpQuit:
        step = TMailStep::Quit;
        break;
      default:
        return;
    }
    SmtpRequestDone(step, ErrorCode, FSmtpCli->ErrorMessage());
  };
  FSmtpCli->OnDisplay = [this](TCustomSmtpClient*, const std::string& text) { SmtpDisplay(text); };
  FSmtpCli->OnHeaderLine = [this](TCustomSmtpClient*, std::string& line, int) {
    SmtpHeaderLine(line);
  };
  MailServerPort = FSmtpCli->Port;
}

TCddb::~TCddb() = default;

bool TCddb::SelectDrive(std::uint8_t Index) {
  if (!InternalTOCRetrieve) {
    Status("No CD-ROM interface detected!");
    return false;
  }
  GetCDDrives(DriveList, CDInterface);
  if (Index >= DriveList.DriveCount) return false;
  TCDTOC toc;
  const bool result = !ReadCDTOC(DriveList, Index, toc, CDInterface);
  if (!result) Status("No CD in CD/DVD drive!");
  AssignTOC(toc);
  DriveList.CurrentDrive = Index;
  return result;
}

bool TCddb::RefreshTOC() {
  return SelectDrive(DriveList.CurrentDrive);
}

void TCddb::Abort() {
  if (FHttpCli->State() != httpReady) {
    // The request ends through `HttpRequestDone` with the client's abort code, which makes
    // the state `cdsHttpError`.
    FHttpCli->Abort();
    return;
  }
  // An idle client would answer with a request-done of no error at once, and the last
  // document would be parsed again. A look-up still waiting for a request must end anyway,
  // or the owner waits for ever.
  if (State == cdsQuerying || State == cdsReading) {
    State = cdsHttpError;
    Status("CDDB Component Internal Error: THttpCli.GetAsync failed because of error \"" +
           FHttpCli->ReasonPhrase() + "\"");
  }
}

void TCddb::StartGet(const std::string& url) {
  FRcvdStream->Clear();
  FRcvdStream->Seek(0, soBeginning);
  FHttpCli->OnCommand = [this](THttpCli*, std::string& line) { HttpCommand(line); };
  FHttpCli->RcvdStream = FRcvdStream.get();
  FHttpCli->URL = url;
  try {
    FHttpCli->GetAsync();
  } catch (...) {
    // A request that got under way before it failed still ends with a completion.
    if (FHttpCli->State() != httpReady) ++FGetsStarted;
    throw;
  }
  ++FGetsStarted;
}

void TCddb::StartMailStep(TMailStep step) {
  switch (step) {
    case TMailStep::Connect:
      FSmtpCli->Connect();
      break;
    case TMailStep::Helo:
      FSmtpCli->Helo();
      break;
    case TMailStep::Mail:
      FSmtpCli->Mail();
      break;
    case TMailStep::Quit:
      FSmtpCli->Quit();
      break;
  }
}

int TCddb::RequestStatusCode() const {
  return FHttpCli->StatusCode();
}
std::string TCddb::RequestReasonPhrase() const {
  std::string reason = FHttpCli->ReasonPhrase();
  // A request that failed without a reply (a reset, an answer that is no HTTP) may leave
  // the phrase empty: its error code still says what went wrong.
  if (reason.empty() && FRequestError != 0) {
    switch (FRequestError) {
      case httperrConnectionEnded:
        reason = "The connection ended before the answer did";
        break;
      case httperrInvalidResponse:
        reason = "The answer is not an HTTP response";
        break;
      case httperrAnswerTooLarge:
        reason = "The answer is too large";
        break;
      default:
        reason = WSocketErrorDesc(FRequestError);
        break;
    }
    reason += " (Error #" + std::to_string(FRequestError) + ")";
  } else if (reason.empty() && FHttpCli->StatusCode() != 0) {
    reason = "HTTP status " + std::to_string(FHttpCli->StatusCode());
  }
  return reason;
}
std::string_view TCddb::ReceivedDocument() const {
  const std::vector<std::uint8_t>& bytes = FRcvdStream->Bytes();
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string TCddb::ProxyAddress() const {
  return FHttpCli->Proxy;
}
void TCddb::SetProxyAddress(const std::string& value) {
  FHttpCli->Proxy = value;
}
std::string TCddb::ProxyPort() const {
  return FHttpCli->ProxyPort;
}
void TCddb::SetProxyPort(const std::string& value) {
  FHttpCli->ProxyPort = value;
}
std::string TCddb::ProxyUsername() const {
  return FHttpCli->ProxyUsername;
}
void TCddb::SetProxyUsername(const std::string& value) {
  FHttpCli->ProxyUsername = value;
}
std::string TCddb::ProxyPassword() const {
  return FHttpCli->ProxyPassword;
}
void TCddb::SetProxyPassword(const std::string& value) {
  FHttpCli->ProxyPassword = value;
}

}  // namespace qv
