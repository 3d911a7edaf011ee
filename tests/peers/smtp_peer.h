// aiosmtpd as the mail server of the SMTP client tests, and Python's email package as
// the independent reader of what it stored. Needs Debian's /usr/bin/python3 with
// python3-aiosmtpd.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/peers/peers.h"

namespace qv::test {

class Aiosmtpd : public Peer {
 public:
  struct Options {
    bool noEhlo = false;     // EHLO answered with 502
    std::string mechanisms;  // e.g. "LOGIN,PLAIN"; empty: all four
  };
  Aiosmtpd() : Aiosmtpd(Options{}) {}
  explicit Aiosmtpd(const Options& options);

  [[nodiscard]] std::filesystem::path MailDir() const { return dir_ / "mail"; }
  // Stored messages, oldest first.
  [[nodiscard]] std::vector<std::filesystem::path> Messages() const;
  // Lines of auth.log ("MECHANISM user ok|fail").
  [[nodiscard]] std::vector<std::string> AuthLog() const;
};

// One leaf part of a message as Python's email package decodes it.
struct MailPart {
  std::string contentType;
  std::string fileName;  // "-" when none
  std::string charset;   // "-" when none
  std::string payload;   // decoded bytes
};
struct ParsedMail {
  std::vector<MailPart> parts;
  std::vector<std::string> headers;  // "Name: value" for the names asked for
  std::string error;                 // empty on success
};
ParsedMail ParseMail(const std::filesystem::path& message, const std::vector<std::string>& headers);

// Reads a whole file.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace qv::test
