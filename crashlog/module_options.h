// The exception logger's options of one module: whether it is active, what a report
// holds, where the log goes, how reports are mailed, the exception filters, the freeze
// watchdog and the 71 user-visible texts. They travel as a binary stream inside the
// module's logger data block; the loader of that block sets the process-wide data
// version before a stream is read. An option set belongs to one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/base/exception.h"
#include "platform/base/stringlist.h"

namespace qv {

class TStream;

// The data version this logger writes; streams of 401, 403, 420, 421, 422 and 450 are
// read with their own layout.
constexpr int OstrelCurrentDataVersion = 454;
// The data version of the block whose option stream is about to be read.
void SetOstrelDataVersion(int version);
[[nodiscard]] int OstrelDataVersion();

constexpr int OstrelTextCount = 71;
// The default texts, in index order.
[[nodiscard]] const std::array<const char*, OstrelTextCount>& DefaultOstrelTexts();
// The 80 names of the translation file: 9 section names and the keys of texts 0..70.
[[nodiscard]] const std::array<const char*, 80>& OstrelTextVocabulary();

// Values of `SendWay`.
enum : uint8_t { swNone = 0, swEMailClient = 1, swSMTPClient = 2, swSMTPServer = 3 };
// Bits of `LogOptions`.
enum : uint8_t { loNoDuplicateErrors = 0x01, loAskReproduceSteps = 0x02 };

// A stream that is cut short or holds impossible values.
class EOptionStreamError : public Exception {
 public:
  using Exception::Exception;
};

class TOstrelModuleOptions {
 public:
  TOstrelModuleOptions();
  TOstrelModuleOptions(const TOstrelModuleOptions&) = delete;
  TOstrelModuleOptions& operator=(const TOstrelModuleOptions&) = delete;
  virtual ~TOstrelModuleOptions() = default;

  // Called by every setter.
  virtual void Changed() {}
  // The two switches the running module's options act on (the freeze watchdog).
  virtual void SetActivateLog(bool v) { Set(ActivateLog_, v); }
  virtual void SetFreezeActivate(bool v) { Set(FreezeActivate_, v); }
  // Copies every stored field, both filter lists and the texts; nullptr throws
  // "Impossible to assign nil as TOstrelModuleOptions.".
  virtual void Assign(const TOstrelModuleOptions* source);
  virtual void SetDefaults();
  virtual void SaveToStream(TStream& stream) const;
  // Reads a stream of OstrelDataVersion(). A truncated or corrupt stream throws
  // EOptionStreamError and leaves the options as they were.
  virtual void LoadFromStream(TStream& stream);
  void LoadFromStream(TStream& stream, int data_version);

  // The log file for a module file name, and for ModuleName().
  [[nodiscard]] std::string OutputFile(const std::string& file_name) const;
  [[nodiscard]] std::string OutputLogFile() const { return OutputFile(ModuleName_); }

  bool ActivateLog() const { return ActivateLog_; }
  bool FreezeActivate() const { return FreezeActivate_; }

  const std::string& EMailFrom() const { return EMailFrom_; }
  void SetEMailFrom(std::string v) { Set(EMailFrom_, std::move(v)); }
  const std::string& SMTPHost() const { return SMTPHost_; }
  void SetSMTPHost(std::string v) { Set(SMTPHost_, std::move(v)); }
  const std::string& SMTPUserID() const { return SMTPUserID_; }
  void SetSMTPUserID(std::string v) { Set(SMTPUserID_, std::move(v)); }
  const std::string& SMTPPassword() const { return SMTPPassword_; }
  void SetSMTPPassword(std::string v) { Set(SMTPPassword_, std::move(v)); }
  uint16_t SMTPPort() const { return SMTPPort_; }
  void SetSMTPPort(uint16_t v) { Set(SMTPPort_, v); }
  bool RestartAfterTerminate() const { return RestartAfterTerminate_; }
  void SetRestartAfterTerminate(bool v) { Set(RestartAfterTerminate_, v); }
  int32_t FreezeTimeout() const { return FreezeTimeout_; }
  void SetFreezeTimeout(int32_t v) { Set(FreezeTimeout_, v); }
  const std::string& FreezeMessage() const { return FreezeMessage_; }
  void SetFreezeMessage(std::string v) { Set(FreezeMessage_, std::move(v)); }
  bool CustomDialogLook() const { return CustomDialogLook_; }
  void SetCustomDialogLook(bool v) { Set(CustomDialogLook_, v); }
  // Not stored: set when the options are bound to a running module.
  const std::string& ModuleName() const { return ModuleName_; }
  void SetModuleName(std::string v) { Set(ModuleName_, std::move(v)); }
  uint32_t LogSections() const { return LogSections_; }
  void SetLogSections(uint32_t v) { Set(LogSections_, v); }
  const TStringList& ExceptionFilterClasses() const { return ExceptionFilterClasses_; }
  void SetExceptionFilterClasses(const TStringList& v);
  const TStringList& ExceptionFilterMessages() const { return ExceptionFilterMessages_; }
  void SetExceptionFilterMessages(const TStringList& v);
  // Index 0..70; an index outside gives "" and is ignored when set.
  const std::string& Texts(int index) const;
  void SetTexts(int index, std::string v);
  bool FiltersActive() const { return FiltersActive_; }
  void SetFiltersActive(bool v) { Set(FiltersActive_, v); }
  bool ShowExceptionDialog() const { return ShowExceptionDialog_; }
  void SetShowExceptionDialog(bool v) { Set(ShowExceptionDialog_, v); }
  bool AppendLogInBody() const { return AppendLogInBody_; }
  void SetAppendLogInBody(bool v) { Set(AppendLogInBody_, v); }
  bool AttachScreenshot() const { return AttachScreenshot_; }
  void SetAttachScreenshot(bool v) { Set(AttachScreenshot_, v); }
  bool ShowSendProgress() const { return ShowSendProgress_; }
  void SetShowSendProgress(bool v) { Set(ShowSendProgress_, v); }
  bool TerminateButtonLimit() const { return TerminateButtonLimit_; }
  void SetTerminateButtonLimit(bool v) { Set(TerminateButtonLimit_, v); }
  bool SaveLogFile() const { return SaveLogFile_; }
  void SetSaveLogFile(bool v) { Set(SaveLogFile_, v); }
  bool SendWholeLog() const { return SendWholeLog_; }
  void SetSendWholeLog(bool v) { Set(SendWholeLog_, v); }
  uint8_t LogOptions() const { return LogOptions_; }
  void SetLogOptions(uint8_t v) { Set(LogOptions_, v); }
  uint8_t DetailsPage() const { return DetailsPage_; }
  void SetDetailsPage(uint8_t v) { Set(DetailsPage_, v); }
  // At least 1: the log trimming relies on it.
  int32_t ErrorsNumberToSave() const { return ErrorsNumberToSave_; }
  void SetErrorsNumberToSave(int32_t v) { Set(ErrorsNumberToSave_, v < 1 ? 1 : v); }
  int32_t TerminateButtonErrors() const { return TerminateButtonErrors_; }
  void SetTerminateButtonErrors(int32_t v) { Set(TerminateButtonErrors_, v); }
  const std::string& OutputPath() const { return OutputPath_; }
  void SetOutputPath(std::string v) { Set(OutputPath_, std::move(v)); }
  const std::string& EMailAddresses() const { return EMailAddresses_; }
  void SetEMailAddresses(std::string v) { Set(EMailAddresses_, std::move(v)); }
  const std::string& EMailSubject() const { return EMailSubject_; }
  void SetEMailSubject(std::string v) { Set(EMailSubject_, std::move(v)); }
  const std::string& EMailMessage() const { return EMailMessage_; }
  void SetEMailMessage(std::string v) { Set(EMailMessage_, std::move(v)); }
  uint8_t SendWay() const { return SendWay_; }
  void SetSendWay(uint8_t v) { Set(SendWay_, v); }

 private:
  template <typename T, typename V>
  void Set(T& field, V&& value) {
    field = std::forward<V>(value);
    Changed();
  }
  void ReadFrom(TStream& stream, int version);

  std::string EMailFrom_;
  std::string SMTPHost_;
  std::string SMTPUserID_;
  std::string SMTPPassword_;
  uint16_t SMTPPort_ = 25;
  bool RestartAfterTerminate_ = true;
  bool FreezeActivate_ = false;
  int32_t FreezeTimeout_ = 60;
  std::string FreezeMessage_;
  bool CustomDialogLook_ = true;
  std::string ModuleName_;
  uint32_t LogSections_ = 0xFFFFFFFF;
  TStringList ExceptionFilterClasses_;
  TStringList ExceptionFilterMessages_;
  std::array<std::string, OstrelTextCount> Texts_;
  bool Reserved_ = true;
  bool FiltersActive_ = true;
  bool ShowExceptionDialog_ = true;
  bool AppendLogInBody_ = false;
  bool AttachScreenshot_ = false;
  bool ShowSendProgress_ = true;
  bool TerminateButtonLimit_ = true;
  bool SaveLogFile_ = true;
  bool SendWholeLog_ = false;
  uint8_t LogOptions_ = 0;
  uint8_t DetailsPage_ = 0;
  int32_t ErrorsNumberToSave_ = 32;
  int32_t TerminateButtonErrors_ = 3;
  std::string OutputPath_;
  std::string EMailAddresses_;
  std::string EMailSubject_;
  std::string EMailMessage_;
  uint8_t SendWay_ = swNone;
  bool ActivateLog_ = true;
};

}  // namespace qv
