#include <gtest/gtest.h>
#include <zlib.h>

#include "tags/id3v2.h"
#include "tags/id3v2_codec.h"
#include "tags/id3v2_text.h"
#include "tests/tags/tag_fixtures.h"

namespace qv {
namespace {

using testing::Bytes;

TEST(Id3CodecTest, UnsyncInsertsGuardBytesAndDeunsyncRemovesThem) {
  const struct {
    Bytes plain;
    Bytes unsynced;
  } cases[] = {
      {{0xFF, 0x00}, {0xFF, 0x00, 0x00}},
      {{0xFF, 0xE0}, {0xFF, 0x00, 0xE0}},
      {{0xFF, 0xDF}, {0xFF, 0xDF}},
      {{0xFF, 0xFF, 0x00}, {0xFF, 0x00, 0xFF, 0x00, 0x00}},
      {{0x41, 0xFF}, {0x41, 0xFF}},
      {{0xFF, 0xFB, 0x90}, {0xFF, 0x00, 0xFB, 0x90}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.plain));
    Bytes buf = c.plain;
    buf.resize(buf.size() + static_cast<size_t>(id3::UnsyncCount(c.plain)));
    EXPECT_EQ(id3::UnsyncBuffer(buf.data(), static_cast<int64_t>(c.plain.size())),
              static_cast<int64_t>(c.unsynced.size() - c.plain.size()));
    EXPECT_EQ(buf, c.unsynced);
    buf.resize(
        static_cast<size_t>(id3::DeunsyncBuffer(buf.data(), static_cast<int64_t>(buf.size()))));
    EXPECT_EQ(buf, c.plain);
  }
  EXPECT_EQ(id3::UnsyncCount(0xFF00FFE0u), 2);
  // Readers undo every $00 after $FF, as other writers encode.
  for (Bytes b : {Bytes{0xFF, 0x00, 0x41}, Bytes{0xFF, 0x00, 0x00, 0x41}}) {
    Bytes expected = b;
    expected.erase(expected.begin() + 1);
    b.resize(static_cast<size_t>(id3::DeunsyncBuffer(b.data(), static_cast<int64_t>(b.size()))));
    EXPECT_EQ(b, expected);
  }
}

TEST(Id3CodecTest, CrcIsTheStandardCrc32) {
  const Bytes abc = {'a', 'b', 'c'};
  EXPECT_EQ(id3::CRC32(abc), 0x352441C2u);
  Bytes big(100000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(id3::CRC32(big), crc32(0, big.data(), static_cast<uInt>(big.size())));
}

TEST(Id3CodecTest, BadStreamsRaiseInsteadOfLooping) {
  Bytes data(20000, 'x');
  const Bytes packed = id3::CompressBuf(data, 2);
  // A stream cut short never reaches its end.
  const Bytes cut(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2));
  EXPECT_THROW(id3::DecompressBuf(cut, 0, 1 << 20), EZDecompressionError);
  // A stream that needs a preset dictionary.
  z_stream zs{};
  ASSERT_EQ(deflateInit(&zs, 6), Z_OK);
  const Bytes dict = {'d', 'i', 'c', 't'};
  ASSERT_EQ(deflateSetDictionary(&zs, dict.data(), 4), Z_OK);
  Bytes out(256);
  zs.next_in = data.data();
  zs.avail_in = 100;
  zs.next_out = out.data();
  zs.avail_out = 256;
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  try {
    id3::DecompressBuf(out, 0, 1 << 20);
    FAIL() << "no exception";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "need dictionary");
  }
  // Output beyond the limit stops the inflate.
  EXPECT_THROW(id3::DecompressBuf(packed, 0, 1000), EZDecompressionError);
  EXPECT_THROW(id3::DecompressBuf(Bytes{1, 2, 3, 4}, 0, 1000), EZDecompressionError);
}

}  // namespace
}  // namespace qv
