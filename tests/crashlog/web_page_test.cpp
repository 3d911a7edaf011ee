#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "tests/fixtures/run_command.h"
#include "tests/peers/peers.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::ShellQuote;

const std::string kProgram = std::string(QV_BINARY_DIR) + "/bin/crashlog_web_page_program";

// Checks a CGI answer: the header with the page's length in bytes, then the escaped report.
void ExpectErrorPage(const std::string& answer) {
  const std::string head = "Status: 500 Error\r\nContent-Type: text/html\r\nContent-Length: ";
  ASSERT_EQ(answer.substr(0, head.size()), head) << answer;
  const std::size_t end = answer.find("\r\nContent:\r\n\r\n");
  ASSERT_NE(end, std::string::npos);
  const std::string page = answer.substr(end + 14);
  EXPECT_EQ(answer.substr(head.size(), end - head.size()), std::to_string(page.size()));
  for (const char* part : {"<html><head><title>Error.</title></head><body><p><small><font",
                           "&nbsp;&lt;&lt;script&gt;x&lt;/"
                           "script&gt;&gt;&nbsp;&amp;&nbsp;more&nbsp;in&nbsp;Überprüfung",
                           "Bad&nbsp;&quot;item&quot;", "std::runtime_error<br>",
                           "</font></small></p></body></html>"}) {
    EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
  }
}

// A crash is answered as an error page only by a console program under a server; without
// one a console program prints the plain report.
TEST(WebPageTest, CgiProgramAnswersOnStandardOutputOnlyUnderAServer) {
  const std::string run = "QUERY_STRING='<script>x</script>' " + ShellQuote(kProgram);
  const test::ShellResult cgi = test::RunShellCommand("REQUEST_METHOD=GET " + run);
  EXPECT_EQ(cgi.status, 1);
  ExpectErrorPage(cgi.output);
  const test::ShellResult plain = test::RunShellCommand("env -u REQUEST_METHOD " + run);
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.output.find("Status:"), std::string::npos);
  EXPECT_NE(plain.output.find("<<script>x</script>> & more"), std::string::npos) << plain.output;
  // A windowed program is no CGI program: its report goes to its dialog (here, without a
  // display, the dialog's line on standard error), nothing to standard output.
  const test::ShellResult windowed =
      test::RunShellCommand("REQUEST_METHOD=GET CRASHLOG_WINDOWED=1 " + run + " 2>/dev/null");
  EXPECT_EQ(windowed.status, 1);
  EXPECT_EQ(windowed.output, "");
}

TEST(WebPageTest, WinCgiDataFileNamesTheOutputFile) {
  char pattern[] = "/tmp/qv-crashlog-web-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  fs::create_directory(dir / "taken");
  const auto data = [&](const std::string& output, std::size_t padding = 0) {
    return "[CGI]\nRequest Method=GET\n[System]\nOutput File=" + (dir / output).string() + "\n;" +
           std::string(padding, 'x');
  };
  struct Case {
    std::string data, third;  // the data file and the third parameter
    std::string output;       // "": no file is written
  } const cases[] = {{data("out1"), "", "out1"},
                     {data("none"), (dir / "out2").string(), "out2"},
                     {data("no/out3"), "", ""},
                     {data("out3"), "", ""},          // the server made no output file: no WinCGI
                     {data("out4", 102400), "", ""},  // too big for a data file
                     {data("taken"), "", ""}};        // a folder cannot be written
  // The server makes the output files before it starts the program.
  std::ofstream(dir / "out1").flush();
  std::ofstream(dir / "out2").flush();
  for (const Case& c : cases) {
    std::ofstream(dir / "data.ini") << c.data;
    const test::ShellResult run = test::RunShellCommand(
        "env -u REQUEST_METHOD CRASHLOG_WINDOWED=1 QUERY_STRING='<script>x</script>' " +
        ShellQuote(kProgram) + " " + ShellQuote((dir / "data.ini").string()) + " content " +
        ShellQuote(c.third));
    EXPECT_EQ(run.status, 1) << c.data.substr(0, 120);
    EXPECT_EQ(run.output, "");
    if (c.output.empty()) continue;
    std::ifstream in(dir / c.output, std::ios::binary);
    ExpectErrorPage(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 4);  // data, taken, out1, out2
  fs::remove_all(dir);
}

TEST(WebPageTest, LighttpdAnswers500ForTheCgiProgram) {
  test::Lighttpd server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  std::ofstream(server.Www() / "crash.sh") << "exec " << ShellQuote(kProgram) << "\n";
  const std::string url =
      "'http://127.0.0.1:" + std::to_string(server.Port()) + "/crash.sh?a=%3Cb%3E'";
  const test::ShellResult curl =
      test::RunShellCommand("curl -s -o /dev/null -w '%{http_code}' " + url);
  EXPECT_EQ(curl.output, "500");
  // The server's own failure would answer 500 too: the page must be the program's.
  const test::ShellResult page = test::RunShellCommand("curl -s -i " + url);
  EXPECT_NE(page.output.find("&lt;a=%3Cb%3E&gt;&nbsp;&amp;"), std::string::npos) << page.output;
}

}  // namespace
}  // namespace qv
