// Mailing a report: the dispatcher over the sending ways of the options, the logger's
// own SMTP conversation (through the configured server or each recipient's mail
// exchanger), the mail-client way (`sendmail -t -i`) and the mail-to link for the
// desktop's mail handler. Everything runs on the calling thread (the report's); the
// progress display is a seam the caller may fill, else the "SMTP" window
// (send_progress.h) on a thread of its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/registry.h"

namespace qv {

class TOstrelModuleOptions;

// Where the progress of a SMTP send is shown. The report dialog's "SMTP" window fills
// it; calls come from the sending thread.
class TSendProgress {
 public:
  virtual ~TSendProgress() = default;
  virtual void Status(const std::string& text) = 0;
  // Sent bytes x 100 / total bytes.
  virtual void Position(int percent) = 0;
  // Closes the display at the end of the send.
  virtual void Close() = 0;
};

// The programs the mail-client way starts; replaceable for tests. A name without "/" is
// looked up in PATH.
struct TMailPrograms {
  std::string Sendmail = "/usr/sbin/sendmail";
  std::string XdgEmail = "xdg-email";
  std::string XdgOpen = "xdg-open";
};
void SetMailPrograms(TMailPrograms programs);
[[nodiscard]] TMailPrograms MailPrograms();

// What the report pipeline hands over for one send.
struct TReportToSend {
  // The text to send and the log file it belongs to (the attachment takes its name).
  std::string Report;
  std::string LogFileName;
  // The user's reproduce steps ("" when none).
  std::string ReproduceSteps;
  // The screenshot to attach ("" or a missing file: none).
  std::string ScreenshotFile;
  // Action notification (4 before, 5 after): clearing `execute` at 4 skips the send.
  std::function<void(int code, bool& execute)> OnActionNotify;
  // Asked after every way failed; setting `retry` sends again.
  std::function<void(int code, bool& retry)> OnActionError;
  // Null: the "SMTP" window for a SMTP send when the options ask for progress, the
  // program may show windows and a display opens.
  TSendProgress* Progress = nullptr;
  // False when the program runs unattended: no window.
  bool MayShowWindows = true;
};

// Sends the report the way `options.SendWay()` says; true when it went out.
bool SendReport(const TOstrelModuleOptions& options, const TReportToSend& report);

// true when at least one recipient was served. `recipients` are separated by "," or
// ";". `texts` gives the progress texts (the options' texts 55..58).
bool SendBySMTP(bool direct, const std::string& from, const std::string& host,
                const std::vector<std::string>& attachments, const std::string& body,
                const std::string& subject, const std::string& recipients, const std::string& user,
                const std::string& password, uint16_t port,
                const TOstrelModuleOptions* texts = nullptr, TSendProgress* progress = nullptr);
// The mail client's way: the same message through `sendmail -t -i`.
bool SendByMAPI(const std::string& recipients, const std::string& subject, const std::string& body,
                const std::vector<std::string>& attachments, const std::string& from = {});
// The mail-to link, percent-encoded, handed as one argument to the registered mail-to
// command (the classes root's "mailto\shell\open\command", environment variables
// expanded, "%1" taking the link), else to xdg-email, else to xdg-open.
bool SendByShell(const std::string& recipients, const std::string& subject,
                 const std::string& body);

// The string value `name` ("" for the default value) of key `path` under `root` of the
// registry (a leading "\" of the path is dropped), opened read-only; "" when the key or
// the value is missing. A value that is not a string is read as text less its last byte.
[[nodiscard]] std::string ReadRegString(HKEY root, const std::string& path,
                                        const std::string& name);

// Makes the internal-error channel mail the trace as the mail client's way does.
void InstallInternalBugSender();

// Pieces the tests check on their own.
[[nodiscard]] std::vector<std::string> SplitRecipients(std::string_view recipients);
[[nodiscard]] std::string RFC822Date(std::time_t when);
[[nodiscard]] std::string MailBase64Encode(std::string_view bytes);
// The message (CR LF line ends, without the SMTP end-of-data line); `to` as it stands in
// the To header.
[[nodiscard]] std::string BuildMailMessage(const std::string& from, const std::string& to,
                                           const std::string& subject, const std::string& body,
                                           const std::vector<std::string>& attachments,
                                           std::time_t when);
// The message as DATA carries it: line ends made CR LF, lines starting with "." doubled,
// and the end-of-data line.
[[nodiscard]] std::string SMTPData(std::string_view message);
[[nodiscard]] std::string MailToLink(const std::string& recipients, const std::string& subject,
                                     const std::string& body);

}  // namespace qv
