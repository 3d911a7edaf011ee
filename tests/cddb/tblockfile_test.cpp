#include "cddb/tblockfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "tests/cddb/cddb_test_util.h"

namespace qv {
namespace {

using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// The file as a string and a position: what every operation must agree with.
struct Model {
  std::string data;
  std::int64_t pos = 0;
  [[nodiscard]] std::int64_t size() const { return static_cast<std::int64_t>(data.size()); }
};

std::string RandomText(std::mt19937& rng, std::size_t size) {
  // Few distinct bytes, so that searches hit often; NUL and line ends included.
  static constexpr char kAlphabet[] = {'a', 'b', 'c', '\n', '\r', '\0', 'L', '#'};
  std::string s(size, ' ');
  std::uniform_int_distribution<int> pick(0, sizeof kAlphabet - 1);
  for (char& c : s) c = kAlphabet[pick(rng)];
  return s;
}

void CheckAgainstModel(std::uint32_t seed, std::size_t initialSize) {
  SCOPED_TRACE("seed " + std::to_string(seed) + " size " + std::to_string(initialSize));
  std::mt19937 rng(seed);
  ScratchDir dir;
  const auto path = dir.Path() / "file.idx";
  Model m;
  m.data = RandomText(rng, initialSize);
  WriteFile(path, m.data);

  TSearchFile f;
  f.SetFileName(path.string());
  ASSERT_TRUE(f.Open());
  const auto anyPos = [&] {
    return std::uniform_int_distribution<std::int64_t>(-5, m.size() + 20000)(rng);
  };
  for (int step = 0; step < 300; ++step) {
    const int op = std::uniform_int_distribution<int>(0, 9)(rng);
    if (op <= 1) {
      const std::int64_t p = anyPos();
      f.Seek(p);
      m.pos = std::clamp<std::int64_t>(p, 0, m.size());
    } else if (op <= 3) {
      std::string text;
      const std::size_t len = std::uniform_int_distribution<std::size_t>(1, 12)(rng);
      const std::int64_t from = std::uniform_int_distribution<std::int64_t>(0, m.size())(rng);
      text = op == 2 ? m.data.substr(from, len) : RandomText(rng, len);
      if (text.empty()) text = "ab";
      const auto at = m.data.find(text, m.pos);
      ASSERT_EQ(f.Find(text), at != std::string::npos) << "step " << step;
      m.pos = at != std::string::npos ? static_cast<std::int64_t>(at) : m.size();
    } else if (op == 4) {
      const std::int64_t count = std::uniform_int_distribution<std::int64_t>(0, 30000)(rng);
      std::string text;
      f.Read(count, text);
      ASSERT_EQ(text, m.data.substr(m.pos, count)) << "step " << step;
      m.pos += static_cast<std::int64_t>(text.size());
    } else if (op <= 6) {
      std::string text;
      f.ReadLn(text);
      const auto lf = m.data.find('\n', m.pos);
      const std::size_t end = lf == std::string::npos ? m.data.size() : lf;
      ASSERT_EQ(text, m.data.substr(m.pos, end - m.pos)) << "step " << step;
      m.pos = lf == std::string::npos ? m.size() : static_cast<std::int64_t>(lf) + 1;
    } else if (op == 7) {
      std::int64_t from = anyPos(), to = anyPos();
      if (from > to && step % 2 == 0) std::swap(from, to);
      f.Delete(from, to);
      from = std::clamp<std::int64_t>(from, 0, m.size());
      to = std::clamp<std::int64_t>(to, 0, m.size());
      if (from < to) {
        m.data.erase(from, to - from);
        if (m.pos >= m.size()) m.pos = std::max<std::int64_t>(m.size() - 1, 0);
      }
    } else if (op == 8) {
      const std::int64_t p = anyPos();
      const std::string text = RandomText(rng, std::uniform_int_distribution<int>(0, 9000)(rng));
      const std::int64_t count = std::uniform_int_distribution<std::int64_t>(0, 9500)(rng);
      f.Insert(p, text, count);
      m.data.insert(std::clamp<std::int64_t>(p, 0, m.size()),
                    text.substr(0, std::min<std::size_t>(count, text.size())));
    } else {
      ASSERT_EQ(f.Eof(), m.pos >= m.size()) << "step " << step;
    }
    ASSERT_EQ(f.FilePos(), m.pos) << "step " << step << " op " << op;
  }
  f.Close();
  EXPECT_EQ(ReadFile(path), m.data);
  EXPECT_FALSE(std::filesystem::exists(path.string() + "xXx"));
}

// The rewrite's temporary file is a new one of its own: a link planted at a name it might
// use is never written through, and a file of that name is never taken over.
TEST(TSearchFileTest, RewriteNeverWritesThroughAPlantedFile) {
  ScratchDir dir;
  const auto path = dir.Path() / "02.idx";
  const auto victim = dir.Path() / "victim.txt";
  WriteFile(path, "L0001aba\n");
  WriteFile(victim, "keep me\n");
  std::filesystem::create_symlink(victim, path.string() + "xXx");
  WriteFile(path.string() + ".tmp", "someone else's\n");
  TSearchFile f;
  f.SetFileName(path.string());
  ASSERT_TRUE(f.Open());
  f.Insert(8, "cdb", 3);
  f.Delete(0, 1);
  f.Close();
  EXPECT_EQ(ReadFile(path), "0001abacdb\n");
  EXPECT_EQ(ReadFile(victim), "keep me\n");
  EXPECT_EQ(ReadFile(path.string() + ".tmp"), "someone else's\n");
  EXPECT_TRUE(std::filesystem::is_symlink(path.string() + "xXx"));
  EXPECT_FALSE(std::filesystem::is_symlink(path));
}

// Not a regular file: refused at once, never waited for.
TEST(TSearchFileTest, OpenRefusesNamedPipesAndFolders) {
  ScratchDir dir;
  const auto pipe = dir.Path() / "01.idx";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  TSearchFile f;
  f.SetFileName(pipe.string());
  EXPECT_FALSE(f.Open());
  f.SetFileName(dir.Path().string());
  EXPECT_FALSE(f.Open());
  EXPECT_FALSE(f.IsOpen());
}

TEST(TSearchFileTest, AgreesWithAnInMemoryModel) {
  const std::size_t sizes[] = {0, 1, 8191, 8192, 8193, 16384, 20000, 40000};
  std::uint32_t seed = 1;
  for (const std::size_t size : sizes) {
    for (int round = 0; round < 3; ++round) CheckAgainstModel(seed++, size);
  }
}

TEST(TSearchFileTest, FindsAcrossBlockBoundariesAndAfterZeroBytes) {
  ScratchDir dir;
  const auto path = dir.Path() / "f";
  std::string data(3 * 8192, 'x');
  data.replace(8192 - 3, 10, "#FILENAME=");  // straddles the first boundary
  data[100] = '\0';
  data.replace(200, 5, "L01f4");  // after a zero byte in the same block
  data.replace(2 * 8192 - 1, 2, "\n!");
  WriteFile(path, data);
  TSearchFile f;
  f.SetFileName(path.string());
  ASSERT_TRUE(f.Open());
  ASSERT_TRUE(f.Find("L01f4"));
  EXPECT_EQ(f.FilePos(), 200);
  ASSERT_TRUE(f.Find("#FILENAME="));
  EXPECT_EQ(f.FilePos(), 8192 - 3);
  ASSERT_TRUE(f.Find("\n!"));
  EXPECT_EQ(f.FilePos(), 2 * 8192 - 1);
  EXPECT_FALSE(f.Find("#FILENAME="));
  EXPECT_TRUE(f.Eof());
  // A long read from the start spans every block.
  f.Seek(0);
  std::string all;
  f.Read(1 << 20, all);
  EXPECT_EQ(all, data);
}

}  // namespace
}  // namespace qv
