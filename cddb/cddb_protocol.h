// The protocol side of the CD database component: "cddb query" and "cddb read" as HTTP GET
// URLs (protocol level 5), and the parsing of the documents that come back, line by line,
// by the state the request was made in. The HTTP client itself is reached through four
// hooks that `TCddb` fills in (start a GET, and the status, reason phrase and body of the
// finished request), so the parsing can be driven by any document. Main thread only; events
// fire from `HttpRequestDone`, which the owner calls when the request has ended.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cddb/cddb_local.h"
#include "cddb/cddb_types.h"

namespace qv {

class TCddbProtocol : public TCddbLocal {
 public:
  static constexpr const char* kDefaultCgiPath = "/~cddb/cddb.cgi";
  // The status of a read whose entry has neither a disc title nor a track title; the read
  // then ends as `cdsReadFailed`.
  static constexpr const char* kNoTitlesText = "The entry has no disc or track titles";

  // Space -> "+", letters and digits kept, every other byte -> "%XX" (upper case).
  [[nodiscard]] static std::string UrlEncode(std::string_view text);
  // The address with its last "@" made a space; "" without one.
  [[nodiscard]] static std::string ReplaceAt(std::string_view address);
  // "cddb query <id> <n> <offset>... <seconds>" from the TOC.
  [[nodiscard]] static std::string BuildQueryCommand(const TCDTOC& toc);
  // A document cut at CR, LF or CR LF; the last line runs to the end of the document.
  [[nodiscard]] static std::vector<std::string> SplitLines(std::string_view document);
  // The line of `document` at `start` (ended by CR, LF or CRLF); `start` moves past its end.
  [[nodiscard]] static std::string_view NextLine(std::string_view document, std::size_t& start);

  // What the server answered to the request that ended last, for a log line: "HTTP"
  // with the status and reason when it refused the request, else the first line of its
  // document (at most 200 bytes, control characters as "?"), else the client's reason.
  [[nodiscard]] std::string ServerAnswer() const;

  [[nodiscard]] std::string QueryURL() const;
  [[nodiscard]] std::string ReadURL() const;

  // 0 when the request was started, -1 otherwise (with a status text).
  int Query();
  int ReadEntry();
  // The end of the request started last: `error` is the HTTP client's error code (0: a
  // document arrived).
  void HttpRequestDone(int error);
  // The CDDB line protocol's replies over a plain socket. Nothing here connects one; these
  // take the socket's events: connected, closed, and each received line.
  void SocketSessionConnected();
  void SocketSessionClosed();
  void SocketLine(const std::string& line);
  [[nodiscard]] bool Handshaken() const { return FHandshaken; }
  // An e-mail submission's SMTP steps, in their order, and the SMTP client's events: each
  // step that succeeds starts the next; one that fails ends the submission as `cdsMailFailed`.
  enum class TMailStep { Connect, Helo, Mail, Quit };
  void SmtpRequestDone(TMailStep step, int error, const std::string& errorMessage);
  void SmtpDisplay(const std::string& text) const;
  // The note to the database's maintainers follows the "From:" header line.
  void SmtpHeaderLine(std::string& line) const;
  // The HTTP client's hook for each request line: while an entry is submitted, its headers
  // follow the "Content-Length:" line.
  void HttpCommand(std::string& line) const;

  void SetNoteToUser(const std::string& note) { FNoteToUser = note.substr(0, 70); }
  [[nodiscard]] const std::string& NoteToUser() const { return FNoteToUser; }

  int State = cdsIdle;  // a `TCddbState`
  TMatchArray Matches;
  TServerType ServerType = TServerType::HTTP;
  std::string ServerAddr;
  std::string ServerPort = "80";
  std::string ServerAdditionalAddr = kDefaultCgiPath;
  std::string EmailUser;
  TSubmissionType SubmissionType = TSubmissionType::TEST;
  TServerArray Sites;
  TStatusEvent OnDataExchange;
  TMatchEvent OnMatch;

 protected:
  // Starts an asynchronous GET of `url`; throws on failure.
  virtual void StartGet(const std::string& url) = 0;
  // Of the request that ended: the HTTP status (0 when none arrived), its reason phrase and
  // the bytes received (valid until the next request starts).
  [[nodiscard]] virtual int RequestStatusCode() const = 0;
  [[nodiscard]] virtual std::string RequestReasonPhrase() const = 0;
  [[nodiscard]] virtual std::string_view ReceivedDocument() const = 0;
  // Starts the SMTP client's request for `step`.
  virtual void StartMailStep(TMailStep /*step*/) {}

  // The reply handlers; each returns its `TCddbResponseTraits` bits.
  int HandleQueryResponse(const std::string& line);
  int HandleReadResponse(const std::string& line);
  int HandleSitesResponse(const std::string& line);
  int HandleBannerResponse(const std::string& line);
  int HandleHelloResponse(const std::string& line);
  int HandleProtoResponse(const std::string& line);
  int HandleSubmitResponse(const std::string& line);
  int InterpretResponseCode(const std::string& line);

 private:
  int Start(const std::string& url, int newState);
  void DataExchange(const std::string& text) const;
  // `OnMatch` over `Matches`; the chosen index, or -1.
  int ChooseMatch();
  // Category and disc id of a server's match line; false when they could not name a file.
  bool TakeMatch(const std::string& line, bool idFromLine);

  bool FHandshaken = false;
  unsigned FRequestSerial = 0;  // counts the requests started
  std::string FNoteToUser = "Quorvel CD database client";
};

}  // namespace qv
