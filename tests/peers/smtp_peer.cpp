#include "tests/peers/smtp_peer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

extern char** environ;

namespace qv::test {
namespace {

const std::string kPython = "/usr/bin/python3";

std::string PeerScript(const char* name) {
  return std::string(QV_SOURCE_DIR) + "/tests/peers/" + name;
}

}  // namespace

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Aiosmtpd::Aiosmtpd(const Options& options) {
  Launch([&](int port) {
    std::vector<std::string> argv = {kPython, PeerScript("smtpd_auth.py"), std::to_string(port),
                                     MailDir().string()};
    if (options.noEhlo) argv.push_back("--no-ehlo");
    if (!options.mechanisms.empty()) {
      argv.push_back("--mechs");
      argv.push_back(options.mechanisms);
    }
    return argv;
  });
}

std::vector<std::filesystem::path> Aiosmtpd::Messages() const {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(MailDir(), ec)) {
    if (e.path().extension() == ".eml") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> Aiosmtpd::AuthLog() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(MailDir() / "auth.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

ParsedMail ParseMail(const std::filesystem::path& message,
                     const std::vector<std::string>& headers) {
  ParsedMail result;
  const auto out = message.parent_path() / (message.stem().string() + ".parts");
  const auto listing = out.string() + ".txt";
  std::vector<std::string> argv = {kPython, PeerScript("mail_parts.py"), message.string(),
                                   out.string()};
  argv.insert(argv.end(), headers.begin(), headers.end());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, listing.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    result.error = "cannot start " + kPython;
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const std::string text = ReadFile(listing);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.error = "mail_parts.py failed: " + text;
    return result;
  }
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("H ", 0) == 0) {
      result.headers.push_back(line.substr(2));
      continue;
    }
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
    if (fields.size() != 4) {
      result.error = "unexpected line: " + line;
      return result;
    }
    MailPart part{fields[1], fields[2], fields[3], ReadFile(out / (fields[0] + ".bin"))};
    result.parts.push_back(std::move(part));
  }
  return result;
}

}  // namespace qv::test
