// The mail client against a server played by the input over loopback: the banner, reply
// lines (multi-line ones, codes the command does not expect), the EHLO list of mechanisms
// and each login's challenges (PLAIN, LOGIN, CRAM-MD5, CRAM-SHA1, the automatic choice),
// then MAIL FROM, RCPT TO and DATA. The first byte sets how replies are cut into reads, the
// second the login. Every request must end exactly once and leave the client ready.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/smtpprot.h"
#include "platform/base/stringlist.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Runs one request; false when it could not start or ended with an error.
bool Run(qv::TCustomSmtpClient& smtp, void (qv::TCustomSmtpClient::*request)()) {
  int done = 0;
  std::uint16_t error = 0;
  smtp.OnRequestDone = [&](qv::TCustomSmtpClient*, qv::TSmtpRequest, std::uint16_t e) {
    ++done;
    error = e;
  };
  try {
    (smtp.*request)();
  } catch (const qv::SmtpException&) {
    smtp.OnRequestDone = nullptr;
    return false;
  }
  qv::fuzz::PumpOrAbort([&] { return done > 0; }, "SMTP request");
  qv::ProcessMessages();
  smtp.OnRequestDone = nullptr;
  if (done != 1) std::abort();
  return error == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qv::fuzz::LoopbackPeer peer;
  if (size < 2) return 0;
  qv::TSmtpCli smtp;
  smtp.Host = "127.0.0.1";
  smtp.Port = std::to_string(peer.Port());
  smtp.SignOn = "fuzz";
  smtp.Username = "user";
  smtp.Password = "secret";
  smtp.AuthType = static_cast<qv::TSmtpAuthType>(data[1] % 6);
  smtp.FromName = "from@example.org";
  smtp.HdrFrom = "from@example.org";
  smtp.HdrTo = "to@example.org";
  smtp.HdrSubject = "Rip";
  qv::TStrings to;
  to.Add("to@example.org");
  to.Add("cc@example.org");
  smtp.SetRcptName(to);
  qv::TStrings body;
  body.Add("line one");
  body.Add(".dot line");
  smtp.SetMailMessage(body);

  peer.Serve(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2), data[0]);
  if (Run(smtp, &qv::TCustomSmtpClient::Open) && Run(smtp, &qv::TCustomSmtpClient::Mail))
    Run(smtp, &qv::TCustomSmtpClient::Quit);
  smtp.Abort();
  qv::ProcessMessages();
  peer.Stop();
  return 0;
}
