#include "cddb/cddb_protocol.h"

#include "cddb/localcddb_xmcd.h"
#include "platform/base/text.h"

#include <algorithm>
#include <charconv>
#include <exception>

namespace qv {

namespace {

// TCddbResponseTraits bits.
constexpr int kTraitError = 1, kTraitRefused = 2, kTraitInformative = 4, kTraitPartial = 8,
              kTraitOk = 16, kTraitClose = 32, kTraitMoreInput = 64, kTraitMoreOutput = 128,
              kTraitReady = 256;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

std::string TCddbProtocol::UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ') {
      out += '+';
    } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string TCddbProtocol::ReplaceAt(std::string_view address) {
  const auto at = address.rfind('@');
  if (at == std::string_view::npos) return {};
  std::string out(address);
  out[at] = ' ';
  return out;
}

std::string TCddbProtocol::BuildQueryCommand(const TCDTOC& toc) {
  std::string command = "cddb query " + CddbDiscId(toc) + " " + std::to_string(toc.TrackCount);
  const int count = toc.TrackCount <= toc.Tracks.size() ? toc.TrackCount : 0;
  for (int i = 0; i < count; ++i) command += " " + std::to_string(FrameOffset(toc.Tracks[i]));
  command += " " + std::to_string(toc.LeadOut.Minute * 60 + toc.LeadOut.Second);
  return command;
}

std::string_view TCddbProtocol::NextLine(std::string_view document, std::size_t& start) {
  std::size_t end = document.find_first_of("\r\n", start);
  if (end == std::string_view::npos) end = document.size();
  const std::string_view line = document.substr(start, end - start);
  start = end + 1;
  if (end < document.size() && document[end] == '\r' && start < document.size() &&
      document[start] == '\n')
    ++start;
  return line;
}

std::vector<std::string> TCddbProtocol::SplitLines(std::string_view document) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < document.size();)
    lines.emplace_back(NextLine(document, start));
  return lines;
}

std::string TCddbProtocol::ServerAnswer() const {
  const auto printable = [](std::string_view raw) {
    std::string text = IsValidUtf8(raw) ? std::string(raw) : Cp1252ToUtf8(raw);
    text = Utf8Truncate(text, 200);
    for (char& c : text)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
  };
  const int status = RequestStatusCode();
  if (status != 0 && (status < 200 || status > 299))
    return "HTTP " + std::to_string(status) + " " + printable(RequestReasonPhrase());
  const std::string_view document = ReceivedDocument();
  std::size_t start = 0;
  const std::string_view first = NextLine(document, start);
  if (!first.empty()) return printable(first);
  return printable(RequestReasonPhrase());
}

std::string TCddbProtocol::QueryURL() const {
  return "http://" + ServerAddr + ":" + ServerPort + ServerAdditionalAddr +
         "?cmd=" + UrlEncode(BuildQueryCommand(CDInfo.TOC)) +
         "&hello=" + UrlEncode(ReplaceAt(EmailUser)) + "+" + UrlEncode(ClientName) + "+" +
         UrlEncode(ClientVersion) + "&proto=5";
}

std::string TCddbProtocol::ReadURL() const {
  // Category and identifier were checked when they arrived; encoding them as well keeps any
  // other text from adding parameters.
  return "http://" + ServerAddr + ":" + ServerPort + ServerAdditionalAddr + "?cmd=cddb+read+" +
         UrlEncode(Trim(CDInfo.Category)) + "+" + UrlEncode(Trim(CDInfo.DiscID)) +
         "&hello=" + UrlEncode(ReplaceAt(EmailUser)) + "+" + UrlEncode(ClientName) + "+" +
         UrlEncode(ClientVersion) + "&proto=5";
}

void TCddbProtocol::DataExchange(const std::string& text) const {
  if (OnDataExchange) OnDataExchange(Sender, text);
}

int TCddbProtocol::Start(const std::string& url, int newState) {
  try {
    DataExchange(url + "\r\n");
    ++FRequestSerial;
    StartGet(url);
  } catch (const std::exception& e) {
    State = cdsHttpError;
    // The client's phrase when it has one, else what it raised.
    std::string reason = RequestReasonPhrase();
    if (reason.empty()) reason = e.what();
    Status("CDDB Component Internal Error: THttpCli.GetAsync failed because of error \"" + reason +
           "\"");
    return -1;
  }
  State = newState;
  return 0;
}

int TCddbProtocol::Query() {
  if (ServerType != TServerType::HTTP) {
    Status("Selected server not an HTTP server");
    return -1;
  }
  // Without a table of contents there is no disc to ask about.
  if (CDInfo.TOC.TrackCount == 0) {
    Status("No CD in CD/DVD drive!");
    return -1;
  }
  // The owner's status handler reads `State`: it must not see the previous look-up's end.
  State = cdsIdle;
  Status("Querying CD");
  return Start(QueryURL(), cdsQuerying);
}

int TCddbProtocol::ReadEntry() {
  if (State == cdsNoMatch) {
    Status("Can't perform a CDDB READ without a successful CDDB QUERY!");
    return -1;
  }
  if (ServerType != TServerType::HTTP) {
    Status("Selected server not an HTTP server");
    return -1;
  }
  if (!IsValidCategory(Trim(CDInfo.Category)) || !IsValidDiscId(Trim(CDInfo.DiscID))) {
    Status("Invalid arguments");
    return -1;
  }
  // Lines of an earlier entry must not stand in for a read that brings none.
  for (std::string& line : EntryLines) line.clear();
  Status("Reading CD info");
  return Start(ReadURL(), cdsReading);
}

void TCddbProtocol::HttpRequestDone(int error) {
  const int entryState = State;
  const int status = RequestStatusCode();
  const bool parsed = entryState == cdsQuerying || entryState == cdsReading ||
                      entryState == cdsSites || entryState == cdsSubmitting;
  if (error != 0 || (parsed && status != 0 && (status < 200 || status > 299))) {
    State = cdsHttpError;
    Status(std::string("CDDB Component Internal Error: THttpCli.") +
           (entryState == cdsSubmitting ? "PostAsync" : "GetAsync") +
           " failed because of error \"" + RequestReasonPhrase() + "\"");
    return;
  }
  if (!parsed) return;
  // Line by line from the received bytes: the document is never copied whole. The
  // character set is decided for the whole document, as for a stored entry.
  const std::string_view document = ReceivedDocument();
  const bool utf8 = IsValidUtf8(document);
  const unsigned serial = FRequestSerial;
  std::string line;
  for (std::size_t start = 0; start < document.size();) {
    const std::string_view raw = NextLine(document, start);
    if (utf8)
      line.assign(raw);
    else
      line = Cp1252ToUtf8(raw);
    DataExchange(line);
    switch (entryState) {
      case cdsQuerying:
        HandleQueryResponse(line);
        break;
      case cdsReading:
        HandleReadResponse(line);
        break;
      case cdsSites:
        HandleSitesResponse(line);
        break;
      default:
        HandleSubmitResponse(line);
        break;
    }
    // A handler's event may have started another request (the received bytes are then
    // gone): the rest of this document is no longer wanted.
    if (FRequestSerial != serial) return;
  }
  // A document that ended without a final answer (an ignored code, a page that is no CDDB
  // reply, a cut-off list) must still end the request.
  if (State == cdsQuerying) {
    State = cdsNoMatch;
    Status("No match found");
  } else if (State == cdsReading) {
    State = cdsReadFailed;
    Status("Incomplete server reply");
  }
  if (entryState == cdsReading) ParseEntryLines();
}

int TCddbProtocol::ChooseMatch() {
  int rightOne = 0;
  if (OnMatch) OnMatch(Sender, Matches, rightOne);
  if (rightOne < 0 || rightOne >= static_cast<int>(Matches.size()) || Matches[rightOne].empty())
    return -1;
  return rightOne;
}

bool TCddbProtocol::TakeMatch(const std::string& line, bool idFromLine) {
  const auto space = line.find(' ');
  const std::string category = Trim(line.substr(0, space));
  const std::string id = idFromLine ? (space == std::string::npos ? "" : line.substr(space + 1, 8))
                                    : CddbDiscId(CDInfo.TOC);
  if (!IsValidCategory(category) || !IsValidDiscId(id)) {
    State = cdsNoMatch;
    Status("Invalid server reply");
    return false;
  }
  CDInfo.Category = category;
  CDInfo.DiscID = Lower(id);
  return true;
}

int TCddbProtocol::HandleQueryResponse(const std::string& line) {
  const std::string_view code = std::string_view(line).substr(0, 3);
  if (code == "200") {
    State = cdsMatchFound;
    Status("Found exact match");
    Matches = {};
    Matches[0] = Trim(line.size() > 4 ? line.substr(4) : "");
    if (ChooseMatch() < 0)
      State = cdsNoMatch;
    else
      TakeMatch(Matches[0], false);
    return kTraitOk + kTraitReady;
  }
  if (code == "210" || code == "211") {
    Status(code == "210" ? "Found exact matches" : "Found inexact matches");
    Matches = {};
    Status("OK, receiving matches");
    return kTraitOk + kTraitMoreOutput;
  }
  if (code == "202") {
    State = cdsNoMatch;
    Status("No match found");
    return kTraitOk + kTraitReady;
  }
  if (code == "403" || code == "409") {
    State = cdsNoMatch;
    if (code == "409") FHandshaken = false;
    Status(code == "403" ? "Database entry is corrupt" : "No handshake");
    return kTraitRefused + kTraitReady;
  }
  if (!line.empty() && IsDigit(line[0])) return InterpretResponseCode(line);
  if (!line.empty() && line[0] == '.') {
    State = cdsMatchesReceived;
    Status("Received matches");
    if (Matches[0].empty()) {
      State = cdsNoMatch;
      Status("No match found");
      return kTraitOk + kTraitReady;
    }
    const int chosen = ChooseMatch();
    if (chosen < 0)
      State = cdsNoMatch;
    else if (TakeMatch(Matches[chosen], true))
      State = cdsMatchFound;
    return kTraitOk + kTraitReady;
  }
  for (std::string& slot : Matches) {
    if (slot.empty()) {
      slot = Trim(line);
      break;
    }
  }
  return kTraitOk + kTraitMoreOutput;
}

int TCddbProtocol::HandleReadResponse(const std::string& line) {
  const std::string_view code = std::string_view(line).substr(0, 3);
  if (code == "210") {
    Status("OK, CDDB database entry follows");
    for (std::string& slot : EntryLines) slot.clear();
    return kTraitOk + kTraitMoreOutput;
  }
  if (code == "401" || code == "403" || code == "409") {
    State = cdsReadFailed;
    if (code == "409") FHandshaken = false;
    Status(code == "401"   ? "Specified CDDB entry not found"
           : code == "403" ? "Database entry is corrupt"
                           : "No handshake");
    return kTraitRefused + kTraitReady;
  }
  if (code == "402") return 0;
  if (!line.empty() && line[0] == '.') {
    // An entry that names nothing (garbage after "210", keys out of range, empty titles)
    // would be saved and from then on answer every look-up of the disc with nothing.
    TCDInfo entry;
    (void)XmcdParse(entry, EntryLines);  // a corrupt entry may still name the disc
    if (!HasTitles(entry)) {
      State = cdsReadFailed;
      Status(kNoTitlesText);
      return kTraitRefused + kTraitReady;
    }
    State = cdsEntryRead;
    Status("Entry read");
    return kTraitOk + kTraitReady;
  }
  if (!line.empty() && std::string_view("#TDEP").find(line[0]) != std::string_view::npos) {
    // Kept as sent: a value cut at a space must keep it when the lines are joined.
    for (std::string& slot : EntryLines) {
      if (slot.empty()) {
        slot = line;
        break;
      }
    }
    return kTraitOk + kTraitMoreOutput;
  }
  State = cdsReadFailed;
  return InterpretResponseCode(line);
}

int TCddbProtocol::HandleSitesResponse(const std::string& line) {
  const std::string_view code = std::string_view(line).substr(0, 3);
  if (!line.empty() && line[0] == '.') {
    State = cdsSitesReceived;
    Status("Got sites");
    return kTraitOk + kTraitReady;
  }
  if (code == "210") {
    Status("OK, receiving sites");
    Sites = {};
    return kTraitOk + kTraitMoreOutput;
  }
  if (code == "401") {
    State = cdsNoSites;
    Status("No site information available");
    return kTraitRefused + kTraitReady;
  }
  // "site protocol port address latitude longitude description..."
  std::string_view rest = line;
  std::string words[6];
  for (std::string& word : words) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    const std::size_t end = std::min(rest.find(' '), rest.size());
    word = rest.substr(0, end);
    rest.remove_prefix(end);
  }
  if (words[0].empty()) return kTraitOk + kTraitMoreOutput;
  for (TServer& site : Sites) {
    if (!site.Site.empty()) continue;
    site.Site = words[0];
    site.IsHttp = Lower(words[1]) == "http";
    site.Port = 0;
    std::from_chars(words[2].data(), words[2].data() + words[2].size(), site.Port);
    site.Address = words[3];
    site.Location.Latitude = words[4];
    site.Location.Longitude = words[5];
    site.Location.Description = Trim(rest);
    break;
  }
  return kTraitOk + kTraitMoreOutput;
}

void TCddbProtocol::SocketSessionConnected() {
  State = cdsConnected;
}

void TCddbProtocol::SocketSessionClosed() {
  const int was = State;
  State = cdsIdle;
  if (was != cdsIdle) Status("Connection closed");
}

void TCddbProtocol::SocketLine(const std::string& received) {
  const std::string line = Trim(received);
  DataExchange(line);
  switch (State) {
    case cdsConnected:
      HandleBannerResponse(line);
      break;
    case cdsHello:
      HandleHelloResponse(line);
      break;
    case cdsSites:
      HandleSitesResponse(line);
      break;
    case cdsProto:
      HandleProtoResponse(line);
      break;
    case cdsQuerying:
      HandleQueryResponse(line);
      break;
    case cdsReading:
      HandleReadResponse(line);
      break;
    case cdsQuitting:
      Status("Connection closed");
      State = cdsIdle;
      break;
    default:
      InterpretResponseCode(line);
      break;
  }
}

int TCddbProtocol::HandleBannerResponse(const std::string& line) {
  const std::string_view code = std::string_view(line).substr(0, 3);
  FHandshaken = false;
  if (code == "200" || code == "201") {
    State = code == "200" ? cdsReadWrite : cdsReadOnly;
    Status(code == "200" ? "OK, read/write allowed" : "OK, read only");
    return kTraitOk + kTraitReady;
  }
  const char* refusal = code == "432" ? "No connections allowed: permission denied"
                        : code == "433"
                            ? "No connections allowed: X users allowed, Y currently active"
                        : code == "434" ? "No connections allowed: system load too high"
                                        : nullptr;
  if (refusal == nullptr) return InterpretResponseCode(line);
  State = cdsIdle;
  Status(refusal);
  return kTraitRefused + kTraitClose;
}

int TCddbProtocol::HandleHelloResponse(const std::string& line) {
  const std::string_view code = std::string_view(line).substr(0, 3);
  if (code == "200" || code == "402") {
    State = cdsHandshaken;
    FHandshaken = true;
    Status(code == "200" ? "Handshake successful" : "Already shook hands");
    return code == "200" ? kTraitOk + kTraitReady : kTraitRefused + kTraitReady;
  }
  if (code == "431") {
    State = cdsIdle;
    FHandshaken = false;
    Status("Handshake not successful, closing connection");
    return kTraitRefused + kTraitClose;
  }
  return InterpretResponseCode(line);
}

int TCddbProtocol::HandleProtoResponse(const std::string& line) {
  const std::string_view code = std::string_view(line).substr(0, 3);
  if (code == "201" || code == "502") {
    State = cdsProtoSet;
    Status(code == "201" ? "OK, protocol level now: 5" : "Protocol level already 5");
    return code == "201" ? kTraitOk + kTraitReady : kTraitError + kTraitReady;
  }
  if (code == "501") {
    State = cdsConnected;
    Status("Illegal protocol level");
    return kTraitError + kTraitReady;
  }
  return InterpretResponseCode(line);
}

int TCddbProtocol::HandleSubmitResponse(const std::string& line) {
  const std::string_view code = std::string_view(line).substr(0, 3);
  if (code == "200") {
    State = cdsSubmitted;
    Status("OK, submission has been sent.");
    return kTraitOk + kTraitReady;
  }
  if (code == "500" || code == "501") {
    State = cdsSubmitRejected;
    Status(code == "500" ? "Missing required header information." : "Invalid header information.");
    return kTraitError + kTraitReady;
  }
  return InterpretResponseCode(line);
}

void TCddbProtocol::SmtpRequestDone(TMailStep step, int error, const std::string& errorMessage) {
  static constexpr const char* kNames[] = {"Connect", "Helo", "Mail", "Quit"};
  if (error != 0) {
    State = cdsMailFailed;
    Status(std::string("CDDB Component Internal Error: TSmtpCli.") +
           kNames[static_cast<int>(step)] + " failed because of error \"" + errorMessage + "\"");
    return;
  }
  switch (step) {
    case TMailStep::Connect:
      StartMailStep(TMailStep::Helo);
      break;
    case TMailStep::Helo:
      StartMailStep(TMailStep::Mail);
      break;
    case TMailStep::Mail:
      StartMailStep(TMailStep::Quit);
      break;
    case TMailStep::Quit:
      Status("OK, submission has been sent.");
      break;
  }
}

void TCddbProtocol::SmtpDisplay(const std::string& text) const {
  DataExchange(text);
}

void TCddbProtocol::SmtpHeaderLine(std::string& line) const {
  if (!line.starts_with("From:")) return;
  line += "\r\nX-Cddbd-Note: ";
  // A note must not end the header early and start another.
  for (const char c : FNoteToUser)
    if (c != '\r' && c != '\n') line += c;
}

void TCddbProtocol::HttpCommand(std::string& line) const {
  if (State != cdsSubmitting || !line.starts_with("Content-Length:")) return;
  // A value must not end its header early and start another.
  const auto field = [](std::string_view name, std::string_view value) {
    std::string text = "\r\n" + std::string(name) + ": ";
    for (const char c : value)
      if (c != '\r' && c != '\n') text += c;
    return text;
  };
  line += field("Category", Trim(CDInfo.Category)) + field("Discid", Trim(CDInfo.DiscID)) +
          field("User-Email", EmailUser) +
          field("Submit-Mode", SubmissionType == TSubmissionType::TEST ? "test" : "submit") +
          field("X-Cddbd-Note", FNoteToUser);
}

int TCddbProtocol::InterpretResponseCode(const std::string& line) {
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) {
    Status("Invalid server reply");
    return 0;
  }
  const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  switch (code) {
    case 402:
      Status("Server error");
      return kTraitRefused + kTraitReady;
    case 408:
      Status("CGI environment error");
      return kTraitRefused + kTraitReady;
    case 500:
      Status("Command syntax error, command unknown, command unimplemented");
      return kTraitError + kTraitReady;
    case 530:
      FHandshaken = false;
      Status("Server error, server timeout");
      return kTraitError + kTraitReady;
    default:
      break;
  }
  std::string text;
  int traits = 0;
  switch (code / 100) {
    case 1:
      text = "Informative message";
      traits = kTraitInformative;
      break;
    case 2:
      text = "Command OK";
      traits = kTraitOk;
      break;
    case 3:
      text = "Command OK so far";
      traits = kTraitPartial;
      break;
    case 4:
      text = "Command OK, but cannot be performed";
      traits = kTraitRefused;
      break;
    case 5:
      text = "Command unimplemented, incorrect, or program error";
      traits = kTraitError;
      break;
    default:
      break;
  }
  switch (code % 100) {
    case 0:
      text += ", ready for further commands";
      traits += kTraitReady;
      break;
    case 10:
      text += ", more server-to-client output follows";
      traits += kTraitMoreOutput;
      break;
    case 20:
      text += ", more client-to-server input follows";
      traits += kTraitMoreInput;
      break;
    case 30:
      text += ", connection will close";
      traits += kTraitClose;
      State = cdsIdle;
      FHandshaken = false;
      break;
    default:
      break;
  }
  if (!text.empty()) Status(text);
  return traits;
}

}  // namespace qv
