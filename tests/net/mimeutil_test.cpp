#include "net/mimeutil.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/base/streams.h"
#include "tests/net/oracle.h"

namespace qv {
namespace {

TEST(MimeUtilTest, Base64DecodeOfOddInputStaysInBounds) {
  const std::pair<std::string, std::string> cases[] = {
      {"YQ", "a"},                            // short last group: the bytes it holds
      {"YWJ", "ab"},                          //
      {"Y", ""},                              // one digit holds no whole byte
      {"YQ==YWJj", "aabc"},                   // "=" ends only its own group
      {"=YWJ", ""},                           // a group that starts with "=" gives nothing
      {"\x80\xff!~", std::string(3, '\0')}};  // foreign characters are zero digits
  for (const auto& [coded, plain] : cases) {
    SCOPED_TRACE(coded);
    EXPECT_EQ(MimeBase64Decode(coded), plain);
  }
}

std::vector<std::string> EncodeFileLines(const std::string& path) {
  auto stream = InitFileEncBase64(path, 0);
  std::vector<std::string> lines;
  bool more = true;
  while (more) lines.push_back(DoFileEncBase64(stream, more));
  EndFileEncBase64(stream);
  EXPECT_EQ(stream, nullptr);
  return lines;
}

// Random data of many lengths against coreutils' base64, both the one-line form and the
// 72-column form used for attachments (no trailing empty line when the length is a
// multiple of three).
TEST(MimeUtilTest, AgreesWithCoreutilsBase64) {
  test::TempDir dir;
  std::mt19937 rng(4648);
  std::vector<size_t> sizes = test::DigestSizes();
  for (size_t n : {53, 54, 55, 108, 162, 163}) sizes.push_back(n);
  for (size_t n : sizes) {
    SCOPED_TRACE(n);
    const std::string data = test::RandomBytes(rng, n);
    const std::string f = dir.File("d" + std::to_string(n));
    test::WriteFile(f, data);
    const std::string oneLine = test::RunCommand("base64 -w0 " + f);
    EXPECT_EQ(MimeBase64Encode(data), oneLine);
    EXPECT_EQ(MimeBase64Decode(oneLine), data);

    std::string wrapped;
    for (const auto& line : EncodeFileLines(f)) {
      if (!line.empty() || n == 0) wrapped += line + (n == 0 ? "" : "\n");
    }
    EXPECT_EQ(wrapped, test::RunCommand("base64 -w 72 " + f));
    if (n > 0) {
      const auto lines = EncodeFileLines(f);
      EXPECT_EQ(lines.size(), (n + 53) / 54) << "one line per 54 bytes, none empty";
    }
  }
}

}  // namespace
}  // namespace qv
