#include "crashlog/module_options.h"

#include <algorithm>
#include <atomic>
#include <string_view>

#include "crashlog/trace_log.h"
#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"

namespace qv {
namespace {

std::atomic<int> data_version{OstrelCurrentDataVersion};

// Placeholder sender until the options name one.
constexpr const char* DefaultEMailFrom = "crashlog@localhost";
constexpr const char* DefaultFreezeMessage = "The application seems to be frozen.";
constexpr uint8_t StringKey = 0xA7;

// How many texts a stream of an older version carries: they were added at the end of the
// table, the reproduce dialog and the module and CPU column names last (with 450).
int TextsInVersion(int version) {
  if (version >= 450) return OstrelTextCount;
  if (version >= 420) return 59;
  return 0;
}

// Reads from a stream that may end anywhere: every read checks the bytes left first, so a
// length read from the stream is never trusted beyond them.
class Reader {
 public:
  explicit Reader(TStream& stream) : stream_(stream) {
    const int64_t size = stream.Size();
    const int64_t position = stream.Position();
    left_ = size > position ? size - position : 0;
  }
  void Bytes(void* out, int64_t count) {
    if (count > left_) throw EOptionStreamError("Logger options stream is truncated");
    stream_.ReadBuffer(out, count);
    left_ -= count;
  }
  uint8_t Byte() {
    uint8_t b = 0;
    Bytes(&b, 1);
    return b;
  }
  bool Bool() { return Byte() != 0; }
  uint16_t Word() {
    uint8_t b[2];
    Bytes(b, 2);
    return uint16_t(b[0] | b[1] << 8);
  }
  uint32_t Cardinal() {
    uint8_t b[4];
    Bytes(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }
  int32_t Integer() { return int32_t(Cardinal()); }
  std::string String() {
    const uint32_t length = Cardinal();
    if (length > left_) throw EOptionStreamError("Logger options stream is truncated");
    std::string s(length, '\0');
    Bytes(s.data(), length);
    for (char& c : s) c = char(uint8_t(c) ^ StringKey);
    return s;
  }
  [[nodiscard]] int64_t Left() const { return left_; }

 private:
  TStream& stream_;
  int64_t left_ = 0;
};

class Writer {
 public:
  explicit Writer(TStream& stream) : stream_(stream) {}
  void Byte(uint8_t b) { stream_.WriteBuffer(&b, 1); }
  void Bool(bool b) { Byte(b ? 1 : 0); }
  void Word(uint16_t w) {
    const uint8_t b[2] = {uint8_t(w), uint8_t(w >> 8)};
    stream_.WriteBuffer(b, 2);
  }
  void Cardinal(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    stream_.WriteBuffer(b, 4);
  }
  void Integer(int32_t v) { Cardinal(uint32_t(v)); }
  // A string whose first CR LF is its last two characters is stored without them.
  void String(std::string_view s) {
    if (s.size() > 1 && s.find("\r\n") == s.size() - 2) s.remove_suffix(2);
    Cardinal(uint32_t(s.size()));
    std::string coded(s);
    for (char& c : coded) c = char(uint8_t(c) ^ StringKey);
    stream_.WriteBuffer(coded);
  }

 private:
  TStream& stream_;
};

}  // namespace

void SetOstrelDataVersion(int version) {
  data_version.store(version);
}

int OstrelDataVersion() {
  return data_version.load();
}

const std::array<const char*, OstrelTextCount>& DefaultOstrelTexts() {
  static const std::array<const char*, OstrelTextCount> texts = {
      "Information.",
      "Question.",
      "Error.",
      "An error has occurred during program execution.\r\nPlease read the following "
      "information for further details.",
      "General",
      "General Information",
      "Call Stack",
      "Call Stack Information",
      "Modules",
      "Modules Information",
      "CPU",
      "CPU Information",
      "&OK",
      "&Terminate",
      "&Restart",
      "&Details",
      "&Send this error via Email",
      "&Attach a Screenshot image",
      "&Copy to Clipboard",
      "Application",
      "Start Date",
      "Name/Description",
      "Version Number",
      "Parameters",
      "Exception",
      "Date",
      "Address",
      "Module",
      "Type",
      "Message",
      "Active Controls",
      "Form Class",
      "Form Text",
      "Control Class",
      "Control Text",
      "Computer",
      "Name",
      "User",
      "Total Memory",
      "Free Memory",
      "Total Disk",
      "Free Disk",
      "Operating System",
      "Type",
      "Build #",
      "Update",
      "Language",
      "Address",
      "Module",
      "Unit",
      "Class",
      "Procedure/Method",
      "Line",
      "SMTP.",
      "Message",
      "Resolving MX record...",
      "Connecting with SMTP server...",
      "Connected with SMTP server.",
      "Sending message...",
      "Request",
      "Please describe the steps to reproduce the error:",
      "&OK",
      "Handle",
      "Name",
      "Description",
      "Version",
      "Size",
      "Path",
      "Registers",
      "Stack",
      "Memory Dump",
  };
  return texts;
}

const std::array<const char*, 80>& OstrelTextVocabulary() {
  static const std::array<const char*, 80> names = {
      "Texts",
      "Message captions",
      "Information",
      "Question",
      "Exception Dialog",
      "Caption",
      "Error message",
      "General Caption",
      "General Header",
      "Call Stack Caption",
      "Call Stack Header",
      "Modules List Caption",
      "Modules List Header",
      "CPU Caption",
      "CPU Header",
      "OK Button",
      "Terminate Button",
      "Restart Button",
      "Details Button",
      "Email message",
      "Screenshot message",
      "Copy message",
      "SMTP Dialog",
      "Caption",
      "Message",
      "Resolving message",
      "Connecting message",
      "Connected message",
      "Sending message",
      "Reproduce Dialog",
      "Caption",
      "Request message",
      "OK Button",
      "Log",
      "Application Header",
      "Start Date",
      "Name/Description",
      "Version Number",
      "Parameters",
      "Exception Header",
      "Date",
      "Address",
      "Module",
      "Type",
      "Message",
      "Active Controls Header",
      "Form Class",
      "Form Text",
      "Control Class",
      "Control Text",
      "Computer Header",
      "Name",
      "User",
      "Total Memory",
      "Free Memory",
      "Total Disk",
      "Free Disk",
      "Operating System Header",
      "Type",
      "Build #",
      "Update",
      "Language",
      "Call Stack",
      "Address",
      "Module",
      "Unit",
      "Class",
      "Procedure/Method",
      "Line",
      "Modules List",
      "Handle",
      "Name",
      "Description",
      "Version",
      "Size",
      "Path",
      "CPU",
      "Registers",
      "Stack",
      "Memory Dump",
  };
  return names;
}

TOstrelModuleOptions::TOstrelModuleOptions() {
  SetDefaults();
}

void TOstrelModuleOptions::SetDefaults() {
  TraceScope trace("TOstrelModuleOptions.SetDefaults", {});
  EMailFrom_ = DefaultEMailFrom;
  SMTPHost_.clear();
  SMTPUserID_.clear();
  SMTPPassword_.clear();
  SMTPPort_ = 25;
  RestartAfterTerminate_ = true;
  FreezeActivate_ = false;
  FreezeTimeout_ = 60;
  FreezeMessage_ = DefaultFreezeMessage;
  CustomDialogLook_ = true;
  LogSections_ = 0xFFFFFFFF;
  ExceptionFilterClasses_.Clear();
  ExceptionFilterMessages_.Clear();
  for (int i = 0; i < OstrelTextCount; ++i) Texts_[i] = DefaultOstrelTexts()[i];
  Reserved_ = true;
  FiltersActive_ = true;
  ShowExceptionDialog_ = true;
  AppendLogInBody_ = false;
  AttachScreenshot_ = false;
  ShowSendProgress_ = true;
  TerminateButtonLimit_ = true;
  SaveLogFile_ = true;
  SendWholeLog_ = false;
  LogOptions_ = 0;
  DetailsPage_ = 0;
  ErrorsNumberToSave_ = 32;
  TerminateButtonErrors_ = 3;
  OutputPath_.clear();
  EMailAddresses_.clear();
  EMailSubject_.clear();
  EMailMessage_.clear();
  SendWay_ = swNone;
  ActivateLog_ = true;
}

void TOstrelModuleOptions::Assign(const TOstrelModuleOptions* source) {
  TraceScope trace("TOstrelModuleOptions.Assign", {source});
  if (source == nullptr) throw Exception("Impossible to assign nil as TOstrelModuleOptions.");
  if (source == this) return;
  const TOstrelModuleOptions& s = *source;
  EMailFrom_ = s.EMailFrom_;
  SMTPHost_ = s.SMTPHost_;
  SMTPUserID_ = s.SMTPUserID_;
  SMTPPassword_ = s.SMTPPassword_;
  SMTPPort_ = s.SMTPPort_;
  RestartAfterTerminate_ = s.RestartAfterTerminate_;
  FreezeTimeout_ = s.FreezeTimeout_;
  FreezeMessage_ = s.FreezeMessage_;
  CustomDialogLook_ = s.CustomDialogLook_;
  LogSections_ = s.LogSections_;
  ExceptionFilterClasses_ = s.ExceptionFilterClasses_;
  ExceptionFilterMessages_ = s.ExceptionFilterMessages_;
  Texts_ = s.Texts_;
  Reserved_ = s.Reserved_;
  FiltersActive_ = s.FiltersActive_;
  ShowExceptionDialog_ = s.ShowExceptionDialog_;
  AppendLogInBody_ = s.AppendLogInBody_;
  AttachScreenshot_ = s.AttachScreenshot_;
  ShowSendProgress_ = s.ShowSendProgress_;
  TerminateButtonLimit_ = s.TerminateButtonLimit_;
  SaveLogFile_ = s.SaveLogFile_;
  SendWholeLog_ = s.SendWholeLog_;
  LogOptions_ = s.LogOptions_;
  DetailsPage_ = s.DetailsPage_;
  ErrorsNumberToSave_ = s.ErrorsNumberToSave_;
  TerminateButtonErrors_ = s.TerminateButtonErrors_;
  OutputPath_ = s.OutputPath_;
  EMailAddresses_ = s.EMailAddresses_;
  EMailSubject_ = s.EMailSubject_;
  EMailMessage_ = s.EMailMessage_;
  SendWay_ = s.SendWay_;
  // Through the setters, so that a running module's options restart what depends on them.
  SetFreezeActivate(s.FreezeActivate_);
  SetActivateLog(s.ActivateLog_);
}

void TOstrelModuleOptions::SetExceptionFilterClasses(const TStringList& v) {
  Set(ExceptionFilterClasses_, v);
}

void TOstrelModuleOptions::SetExceptionFilterMessages(const TStringList& v) {
  Set(ExceptionFilterMessages_, v);
}

const std::string& TOstrelModuleOptions::Texts(int index) const {
  static const std::string empty;
  return index >= 0 && index < OstrelTextCount ? Texts_[index] : empty;
}

void TOstrelModuleOptions::SetTexts(int index, std::string v) {
  if (index < 0 || index >= OstrelTextCount) return;
  Set(Texts_[index], std::move(v));
}

std::string TOstrelModuleOptions::OutputFile(const std::string& file_name) const {
  if (OutputPath_.size() >= 4 && SameText(ExtractFileExt(OutputPath_), ".olf")) {
    return NormalizePath(OutputPath_);
  }
  const std::string name = ExtractFileName(ChangeFileExt(file_name, ".olf"));
  if (!OutputPath_.empty()) return IncludeTrailingPathDelimiter(OutputPath_) + name;
  return NormalizePath(ExtractFilePath(file_name)) + name;
}

void TOstrelModuleOptions::SaveToStream(TStream& stream) const {
  TraceScope trace("TOstrelModuleOptions.SaveToStream", {});
  Writer w(stream);
  w.Bool(Reserved_);
  w.Bool(FiltersActive_);
  w.Byte(LogOptions_);
  w.Bool(ShowExceptionDialog_);
  w.Bool(AppendLogInBody_);
  w.Bool(SendWholeLog_);
  w.Bool(AttachScreenshot_);
  w.Bool(ShowSendProgress_);
  w.Bool(SaveLogFile_);
  w.Byte(DetailsPage_);
  w.Bool(CustomDialogLook_);
  w.Bool(FreezeActivate_);
  w.Integer(FreezeTimeout_);
  w.String(FreezeMessage_);
  w.String(EMailFrom_);
  w.String(SMTPHost_);
  w.Word(SMTPPort_);
  w.String(SMTPUserID_);
  w.String(SMTPPassword_);
  w.Bool(RestartAfterTerminate_);
  w.Bool(TerminateButtonLimit_);
  w.Integer(ErrorsNumberToSave_);
  w.Integer(TerminateButtonErrors_);
  w.String(EMailAddresses_);
  w.String(EMailSubject_);
  w.Byte(SendWay_);
  w.Cardinal(LogSections_);
  w.String(OutputPath_);
  const int count = std::max(ExceptionFilterClasses_.Count(), ExceptionFilterMessages_.Count());
  w.Integer(count);
  for (int i = 0; i < count; ++i) {
    w.String(i < ExceptionFilterClasses_.Count() ? ExceptionFilterClasses_[i] : "");
    w.String(i < ExceptionFilterMessages_.Count() ? ExceptionFilterMessages_[i] : "");
  }
  w.String(EMailMessage_);
  for (const std::string& text : Texts_) w.String(text);
}

void TOstrelModuleOptions::LoadFromStream(TStream& stream) {
  LoadFromStream(stream, OstrelDataVersion());
}

void TOstrelModuleOptions::LoadFromStream(TStream& stream, int data_version) {
  TraceScope trace("TOstrelModuleOptions.LoadFromStream", {data_version});
  // Read into a fresh set first, so that a stream that fails half-way changes nothing.
  TOstrelModuleOptions loaded;
  loaded.ReadFrom(stream, data_version);
  // The stream does not hold the activation switch.
  loaded.ActivateLog_ = ActivateLog_;
  Assign(&loaded);
}

void TOstrelModuleOptions::ReadFrom(TStream& stream, int version) {
  Reader r(stream);
  Reserved_ = r.Bool();
  FiltersActive_ = r.Bool();
  LogOptions_ = r.Byte();
  // Older streams kept the opposite switch ("hide the dialog").
  ShowExceptionDialog_ = version < 450 ? !r.Bool() : r.Bool();
  AppendLogInBody_ = r.Bool();
  SendWholeLog_ = r.Bool();
  AttachScreenshot_ = r.Bool();
  ShowSendProgress_ = r.Bool();
  SaveLogFile_ = r.Bool();
  if (version < 403) return;
  DetailsPage_ = r.Byte();
  // One option out of range costs only that option, not the whole block.
  if (DetailsPage_ > 3) {
    TraceText("Logger options: bad details page " + std::to_string(DetailsPage_) +
                  ", the default is used",
              0);
    DetailsPage_ = 0;
  }
  if (version < 420) return;
  CustomDialogLook_ = r.Bool();
  FreezeActivate_ = r.Bool();
  FreezeTimeout_ = r.Integer();
  if (version < 422) FreezeTimeout_ /= 1000;  // milliseconds then
  FreezeMessage_ = r.String();
  EMailFrom_ = r.String();
  SMTPHost_ = r.String();
  SMTPPort_ = r.Word();
  SMTPUserID_ = r.String();
  SMTPPassword_ = r.String();
  RestartAfterTerminate_ = r.Bool();
  TerminateButtonLimit_ = r.Bool();
  ErrorsNumberToSave_ = std::max(r.Integer(), int32_t(1));
  TerminateButtonErrors_ = r.Integer();
  EMailAddresses_ = r.String();
  EMailSubject_ = r.String();
  SendWay_ = r.Byte();
  if (version < 450) {
    // Sending was one switch then; the server named the way.
    if (SendWay_ != 0) SendWay_ = SMTPHost_.empty() ? swEMailClient : swSMTPClient;
  } else if (SendWay_ > swSMTPServer) {
    TraceText(
        "Logger options: bad sending way " + std::to_string(SendWay_) + ", the default is used", 0);
    SendWay_ = swNone;
  }
  LogSections_ = r.Cardinal();
  if (version < 450) r.Byte();
  OutputPath_ = r.String();
  const int32_t count = r.Integer();
  // Each pair takes at least its two lengths.
  if (count < 0 || int64_t(count) * 8 > r.Left()) {
    throw EOptionStreamError("Logger options stream holds a bad filter count");
  }
  for (int32_t i = 0; i < count; ++i) {
    ExceptionFilterClasses_.Add(r.String());
    ExceptionFilterMessages_.Add(r.String());
  }
  EMailMessage_ = r.String();
  const int texts = TextsInVersion(version);
  for (int i = 0; i < texts; ++i) Texts_[i] = r.String();
}

}  // namespace qv
