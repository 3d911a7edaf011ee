// Interoperability with mutagen, the reference reader and writer of ID3v2 tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tags/id3v2.h"
#include "tests/tags/tag_fixtures.h"

namespace qv {
namespace {

using testing::Bytes;
using testing::PeerFrame;
using testing::ReadFile;
using testing::TagLength;
using testing::TempDir;
using testing::WriteFile;

std::string Hex(std::string_view s) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : s) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Texts chosen to need every encoding path and to put $FF bytes before $00 and $E0+ bytes.
const std::vector<std::pair<std::string, std::string>> kTexts = {
    {"TIT2", "Caf\xC3\xA9 \xC3\xBF\xC3\xA0\xC3\xBF"},        // Latin-1 with $FF $E0 and a final $FF
    {"TPE1", "\xC4\xB2sselmeer \xE2\x80\x93 \xE2\x98\x95"},  // needs UTF-16
    {"TALB", std::string(3000, 'r') + "\xC3\xBF"},           // long, compressible
    {"TRCK", "7/12"},
    {"TYER", "2024"},
    {"TCON", "Rock"},
    {"TPE2", "Zo\xC3\xAB \xC3\xBF"},  // the last frame ends in $FF
};

struct Variant {
  const char* name;
  uint8_t version;
  bool unsync;
  bool compress;
  bool crc;
  bool extHeader;
  int paddingMode;  // -1: no padding
  // mutagen 1.46 skips the tag-level unsynchronisation of a v2.3 tag with an extended header
  // when an MPEG frame follows the tag; eyeD3 reads those.
  testing::Reader reader = testing::Reader::Mutagen;
};

std::string CrcCheck(const std::string& path) {
  // Python recomputes the CRC the way the ID3v2 standard defines it and prints both values.
  const std::string script = R"PY(
import sys, zlib
d = open(sys.argv[1], 'rb').read()
ver, flags = d[3], d[5]
size = (d[6] << 21) | (d[7] << 14) | (d[8] << 7) | d[9]
body = d[10:10 + size]
if ver == 3:
    if flags & 0x80:
        body = body.replace(b'\xff\x00', b'\xff')
    ext = int.from_bytes(body[0:4], 'big')
    pad = int.from_bytes(body[6:10], 'big')
    stored = int.from_bytes(body[10:14], 'big')
    frames = body[4 + ext:len(body) - pad]
else:
    ext = (body[0] << 21) | (body[1] << 14) | (body[2] << 7) | body[3]
    c = body[7:12]
    stored = 0
    for b in c:
        stored = (stored << 7) | b
    stored &= 0xFFFFFFFF
    frames = body[ext:]
print(stored == zlib.crc32(frames), hex(stored), hex(zlib.crc32(frames)))
)PY";
  const std::string file = path + ".py";
  WriteFile(file, Bytes(script.begin(), script.end()));
  return testing::RunShell("/usr/bin/python3 " + file + " " + path).second;
}

TEST(Id3PeerTest, MutagenReadsWhatWeWrite) {
  const Variant variants[] = {
      {"v2.3 plain", 3, false, false, false, false, 1},
      {"v2.4 plain", 4, false, false, false, false, 1},
      {"v2.3 unsync", 3, true, false, false, false, 1},
      {"v2.4 unsync", 4, true, false, false, false, 1},
      {"v2.3 compressed", 3, false, true, false, false, 2},
      {"v2.4 compressed", 4, false, true, false, false, 2},
      {"v2.3 CRC", 3, false, false, true, false, 1},
      {"v2.4 CRC", 4, false, false, true, false, 1},
      {"v2.3 extended header, no padding", 3, false, false, false, true, -1},
      {"v2.4 extended header, no padding", 4, false, false, false, true, -1},
      {"v2.3 unsync and compression", 3, true, true, false, false, 1},
      {"v2.3 CRC, compression, no padding", 3, false, true, true, true, -1},
      {"v2.3 everything", 3, true, true, true, true, 1, testing::Reader::EyeD3},
      {"v2.3 unsync, extended header", 3, true, false, false, true, 2, testing::Reader::EyeD3},
      {"v2.4 everything", 4, true, true, true, true, 1},
      {"v2.4 everything, no padding", 4, true, true, true, true, -1},
      {"v2.3 unsync, no padding", 3, true, false, false, false, -1},
  };
  TempDir dir;
  const Bytes audio = testing::Mp3Audio(60, 7);
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    const std::string path = dir.Path("out.mp3");
    WriteFile(path, audio);
    Tid3v2tag tag;
    ASSERT_EQ(tag.LoadFromFile(path), id3::kNoTag);
    for (const auto& [id, text] : kTexts) ASSERT_EQ(tag.SetTextFrame(id, text), 0);
    tag.SetUnsynchronisation(v.unsync);
    tag.SetExtendedHeader(v.extHeader);
    tag.SetCRCPresent(v.crc);
    if (v.paddingMode < 0) {
      tag.PaddingMode = 0;
      tag.PaddingSize = 0;
    } else {
      tag.PaddingMode = static_cast<uint8_t>(v.paddingMode);
    }
    if (v.compress) {
      const int i = tag.Frames.IndexOf("TALB");
      tag.Frames.SetWriteFlags(i, 2, id3::kFormatCompression);
    }
    ASSERT_EQ(tag.SaveToFile("=", v.version, -1, 0xFF), id3::kOk);

    const Bytes written = ReadFile(path);
    EXPECT_EQ(written[3], v.version);
    EXPECT_EQ((written[5] & 0x80) != 0, v.unsync);
    EXPECT_EQ((written[5] & 0x40) != 0, v.extHeader || v.crc);
    const size_t length = TagLength(written);
    EXPECT_EQ(static_cast<int64_t>(length), tag.Size);
    EXPECT_EQ(Bytes(written.begin() + static_cast<long>(length), written.end()), audio);
    if (v.paddingMode < 0) {
      EXPECT_EQ(tag.PaddingSize, 0);
    }

    int version = 0;
    const std::vector<PeerFrame> frames = testing::PeerRead(path, &version, v.reader);
    EXPECT_EQ(version, v.version);
    EXPECT_EQ(frames.size(), kTexts.size());
    for (const auto& [id, text] : kTexts) {
      const auto found = std::find_if(frames.begin(), frames.end(),
                                      [&id](const PeerFrame& f) { return f.id == id; });
      ASSERT_NE(found, frames.end()) << id;
      EXPECT_EQ(found->text, text) << id;
    }
    if (v.crc) {
      const std::string crc = CrcCheck(path);
      EXPECT_EQ(crc.substr(0, 4), "True") << crc;
    }

    // And we read back what we wrote, CRC and all.
    Tid3v2tag back;
    EXPECT_EQ(back.LoadFromFile(path), id3::kOk);
    EXPECT_EQ(back.CRC, tag.CRC);
    EXPECT_EQ(back.Frames.Count(), static_cast<int>(kTexts.size()));
  }
}

TEST(Id3PeerTest, WeReadWhatMutagenWritesAndKeepItsFrames) {
  TempDir dir;
  const Bytes audio = testing::Mp3Audio(60, 9);
  for (const int version : {3, 4}) {
    SCOPED_TRACE(version);
    const std::string path = dir.Path("m.mp3");
    WriteFile(path, audio);
    std::vector<std::string> args = {"write", path, std::to_string(version)};
    for (const auto& [id, text] : kTexts) args.push_back(id + "=" + Hex(text));
    const auto [status, output] = testing::RunPeer(args);
    ASSERT_EQ(status, 0) << output;
    const std::vector<PeerFrame> expected = testing::PeerRead(path);

    Tid3v2tag tag;
    ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
    EXPECT_EQ(tag.Version, version);
    ASSERT_EQ(tag.Frames.Count(), static_cast<int>(expected.size()));
    for (int i = 1; i <= tag.Frames.Count(); ++i) {
      const PeerFrame& want = expected[static_cast<size_t>(i - 1)];
      EXPECT_EQ(tag.Frames.ID(i), want.id);
      if (!want.text.empty()) {
        EXPECT_EQ(testing::DecodeTextFrame(tag.Frames.Data(i)), want.text) << want.id;
      }
    }

    // Change three text frames and save: with a padding limit below the unit, mutagen's
    // padding takes them in place (the defaults would re-align the file).
    tag.PaddingLimit = tag.PaddingUnit - 1;
    const uint64_t inode = testing::Inode(path);
    const size_t before = ReadFile(path).size();
    ASSERT_EQ(tag.SetTextFrame("TIT2", "Neuer Titel"), 0);
    ASSERT_EQ(tag.SetTextFrame("TPE1", "\xE3\x81\x82\xE3\x81\x84"), 0);
    ASSERT_EQ(tag.SetTextFrame("TCOM", "Composer"), 0);
    ASSERT_EQ(tag.SaveToFile(), id3::kOk);
    EXPECT_EQ(testing::Inode(path), inode);
    const Bytes written = ReadFile(path);
    EXPECT_EQ(written.size(), before);
    EXPECT_EQ(Bytes(written.begin() + static_cast<long>(TagLength(written)), written.end()), audio);

    const std::vector<PeerFrame> after = testing::PeerRead(path);
    ASSERT_EQ(after.size(), expected.size() + 1);
    const std::map<std::string, std::string> changed = {{"TIT2", "Neuer Titel"},
                                                        {"TPE1", "\xE3\x81\x82\xE3\x81\x84"},
                                                        {"TCOM", "Composer"},
                                                        {"TALB", kTexts[2].second}};
    for (const PeerFrame& f : after) {
      if (changed.count(f.id) != 0) {
        EXPECT_EQ(f.text, changed.at(f.id)) << f.id;
      }
    }
    const auto apic =
        std::find_if(after.begin(), after.end(), [](const PeerFrame& f) { return f.id == "APIC"; });
    EXPECT_NE(apic, after.end());
  }
}

TEST(Id3PeerTest, WeReadWhatEyeD3Writes) {
  TempDir dir;
  const std::string path = dir.Path("e.mp3");
  WriteFile(path, testing::Mp3Audio(20, 11));
  const auto wrote = testing::RunShell(
      "eyeD3 -Q -t 'T\xC3\xAFtle \xE2\x98\x95' -a Artist -A Album "
      "-n 3 --add-comment hello " +
      path + " 2>&1");
  ASSERT_EQ(wrote.first, 0) << wrote.second;
  for (const int version : {4, 3}) {
    SCOPED_TRACE(version);
    if (version == 3) {
      const auto converted = testing::RunShell("eyeD3 -Q --to-v2.3 " + path + " 2>&1");
      ASSERT_EQ(converted.first, 0) << converted.second;
    }
    const std::vector<PeerFrame> expected =
        testing::PeerRead(path, nullptr, testing::Reader::EyeD3);
    Tid3v2tag tag;
    ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
    EXPECT_EQ(tag.Version, version);
    ASSERT_EQ(tag.Frames.Count(), static_cast<int>(expected.size()));
    for (const PeerFrame& want : expected) {
      const int i = tag.Frames.IndexOf(want.id);
      ASSERT_NE(i, 0) << want.id;
      if (!want.text.empty()) {
        EXPECT_EQ(testing::DecodeTextFrame(tag.Frames.Data(i)), want.text) << want.id;
      }
    }
  }
}

TEST(Id3PeerTest, FrameFlagChangesKeepAnHonestDataLength) {
  TempDir dir;
  const Bytes audio = testing::Mp3Audio(20, 5);
  const std::string path = dir.Path("dli.mp3");
  WriteFile(path, audio);
  const std::string title = std::string(400, 't') + " \xC3\xBF";
  Tid3v2tag tag;
  tag.LoadFromFile(path);
  tag.SetTextFrame("TIT2", title);
  tag.Frames.SetWriteFlags(1, 2, id3::kFormatCompression);
  ASSERT_EQ(tag.SaveToFile("=", 4, -1, 0xFF), id3::kOk);
  ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
  EXPECT_EQ(tag.Frames.ReadFlags(1, 2), id3::kFormatCompression | id3::kFormatDataLength);
  // Now plain but still with its data length indicator, then unsynchronised as well.
  for (const uint8_t format :
       {id3::kFormatDataLength, uint8_t{id3::kFormatDataLength | id3::kFormatUnsync}}) {
    SCOPED_TRACE(static_cast<int>(format));
    ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
    tag.Frames.SetWriteFlags(1, 2, format);
    ASSERT_EQ(tag.SaveToFile(), id3::kOk);
    Tid3v2tag back;
    ASSERT_EQ(back.LoadFromFile(path), id3::kOk);
    EXPECT_EQ(back.Frames.DecodedSize(1), 1 + 402);  // encoding byte and Latin-1 text
    const std::vector<PeerFrame> peer = testing::PeerRead(path);
    ASSERT_EQ(peer.size(), 1u);
    EXPECT_EQ(peer[0].text, title);
  }
}

TEST(Id3PeerTest, DecoderPlaysTheSameAudioAfterTagging) {
  TempDir dir;
  const Bytes audio = testing::Mp3Audio(80, 3);
  const std::string plain = dir.Path("plain.mp3");
  const std::string tagged = dir.Path("tagged.mp3");
  WriteFile(plain, audio);
  WriteFile(tagged, audio);
  Tid3v2tag tag;
  tag.LoadFromFile(tagged);
  tag.SetTextFrame("TIT2", std::string(5000, 'z'));
  tag.SetUnsynchronisation(true);
  ASSERT_EQ(tag.SaveToFile(), id3::kOk);
  const auto a = testing::RunShell("mpg123 -q -s " + plain + " | md5sum");
  const auto b = testing::RunShell("mpg123 -q -s " + tagged + " | md5sum");
  ASSERT_EQ(a.first, 0);
  ASSERT_EQ(b.first, 0);
  EXPECT_EQ(a.second, b.second);
  // mp3val agrees that the frames after the tag are intact.
  const auto check = testing::RunShell("mp3val " + tagged);
  EXPECT_EQ(check.second.find("WARNING"), std::string::npos) << check.second;
}

}  // namespace
}  // namespace qv
