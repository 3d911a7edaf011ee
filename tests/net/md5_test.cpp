#include "net/md5.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/net/oracle.h"

namespace qv {
namespace {

std::string Md5Hex(const std::string& data, bool large) {
  TMD5Context c;
  MD5Init(c);
  if (large) {
    MD5UpdateLarge(c, data.data(), data.size());
  } else {
    // Uneven pieces, so block boundaries fall inside updates.
    size_t pos = 0, step = 1;
    while (pos < data.size()) {
      const size_t n = std::min(step, data.size() - pos);
      MD5UpdateBuffer(c, data.data() + pos, n);
      pos += n;
      step = step * 3 + 1;
    }
  }
  TMD5Digest d;
  MD5Final(d, c);
  return test::Hex(d);
}

TEST(MD5Test, AgreesWithMd5sumOnRandomData) {
  test::TempDir dir;
  std::mt19937 rng(1321);
  std::vector<std::string> inputs;
  std::string files;
  for (size_t n : test::DigestSizes()) {
    inputs.push_back(test::RandomBytes(rng, n));
    const std::string f = dir.File("in" + std::to_string(inputs.size()));
    test::WriteFile(f, inputs.back());
    files += " " + f;
  }
  std::istringstream out(test::RunCommand("md5sum" + files));
  for (const auto& in : inputs) {
    SCOPED_TRACE(in.size());
    std::string line;
    ASSERT_TRUE(std::getline(out, line));
    const std::string want = line.substr(0, 32);
    EXPECT_EQ(Md5Hex(in, false), want);
    EXPECT_EQ(Md5Hex(in, true), want);
  }
}

}  // namespace
}  // namespace qv
