#include "tags/id3v2.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <functional>

#include "tests/platform/base/file_size_limit.h"
#include "tests/tags/tag_fixtures.h"

namespace qv {
namespace {

using testing::BigEndian;
using testing::Bytes;
using testing::Concat;
using testing::Frame;
using testing::ReadFile;
using testing::SyncSafe;
using testing::Tag;
using testing::TagLength;
using testing::TempDir;
using testing::Text;
using testing::WriteFile;

Bytes TextContent(std::string_view s) {
  return Concat({{0}, Text(s)});
}

std::string FrameText(const Tid3v2tag& tag, std::string_view id) {
  const int i = tag.Frames.IndexOf(id);
  return i == 0 ? "<none>" : testing::DecodeTextFrame(tag.Frames.Data(i));
}

class Id3v2TagTest : public ::testing::Test {
 protected:
  std::string Make(std::string_view name, const Bytes& bytes) {
    const std::string path = dir_.Path(name);
    WriteFile(path, bytes);
    return path;
  }
  TempDir dir_;
  Bytes audio_ = testing::Mp3Audio(40);
};

TEST_F(Id3v2TagTest, ReportsMalformedTagsWithResultWords) {
  const Bytes title = Frame(4, "TIT2", TextContent("t"));
  const struct {
    const char* what;
    Bytes file;
    uint16_t result;
  } cases[] = {
      {"nine bytes", Text("ID3\x03\x00\x00\x00\x00\x00"), id3::kNoTag},
      {"not a tag", Concat({Text("RIFF"), Bytes(20)}), id3::kNoTag},
      {"size byte with top bit", Concat({Text("ID3"), {3, 0, 0, 0, 0, 0x80, 0}, Bytes(200)}),
       id3::kNoTag},
      {"version 2", Concat({Tag(2, 0, Bytes(20))}), id3::kBadVersion},
      {"size past the file", Concat({Text("ID3"), {4, 0, 0}, SyncSafe(5000), title}),
       id3::kFileTooShort},
      {"frame size past the tag", Tag(4, 0, Frame(4, "TIT2", TextContent("t"), 0, 0, 500)),
       id3::kMalformed},
      {"v2.3 frame size past the tag", Tag(3, 0, Frame(3, "TIT2", TextContent("t"), 0, 0, 500)),
       id3::kMalformed},
      {"bad sync-safe frame size",
       Tag(4, 0, Concat({Text("TIT2"), {0, 0, 0, 0x81, 0, 0}, TextContent("t")})), id3::kMalformed},
      {"bad sync-safe data length",
       Tag(4, 0, Frame(4, "TIT2", Concat({{0x80, 0, 0, 1}, TextContent("t")}), 0, 0x01)),
       id3::kMalformed},
      {"extras longer than the frame", Tag(3, 0, Frame(3, "TIT2", {1, 2}, 0, 0x80)),
       id3::kMalformed},
      {"hyphen in the ID", Tag(4, 0, Frame(4, "TI-2", TextContent("t"))), id3::kBadFrameId},
      {"ends inside a frame header", Tag(4, 0, Concat({title, Text("TPE")})), id3::kMalformed},
      {"ends with an empty frame", Tag(4, 0, Concat({title, Frame(4, "TPE1", {})})),
       id3::kMalformed},
      {"v2.3 with declared padding ends inside a frame header",
       Tag(3, 0x40,
           Concat({BigEndian(6),
                   {0, 0},
                   BigEndian(100),
                   Frame(3, "TIT2", TextContent("t")),
                   Text("TPE")})),
       id3::kOk},
      {"v2.4 extended header longer than the tag",
       Tag(4, 0x40, Concat({SyncSafe(400), {1, 0}, Bytes(4)})), id3::kMalformed},
      {"v2.4 extended header below 6 bytes", Tag(4, 0x40, Concat({SyncSafe(5), {1, 0}, title})),
       id3::kMalformed},
      {"v2.4 extended header with bad sync-safe size",
       Tag(4, 0x40, Concat({{0, 0, 0x80, 6}, {1, 0}, title})), id3::kMalformed},
      {"v2.4 extended header without flag bytes",
       Tag(4, 0x40, Concat({SyncSafe(6), {0, 0}, title})), id3::kMalformed},
      {"v2.4 CRC block too short", Tag(4, 0x40, Concat({SyncSafe(8), {1, 0x20, 2, 0}, title})),
       id3::kMalformed},
      {"v2.4 CRC block past the extended header",
       Tag(4, 0x40, Concat({SyncSafe(8), {1, 0x20, 5, 0}, title})), id3::kMalformed},
      {"v2.3 extended header cut inside its CRC",
       Tag(3, 0x40, Concat({BigEndian(10), {0x80, 0}, BigEndian(0), {1, 2}})), id3::kMalformed},
      {"frames end exactly at the tag end", Tag(4, 0, title), id3::kOk},
      {"unknown header flag", Tag(4, 0x01, title), id3::kUnknownFlags},
      {"revision 1", Tag(4, 0, title, 1), id3::kRevisionNotZero},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Tid3v2tag tag;
    // No audio after the tag: its claims are checked against the file itself.
    const std::string path = Make("bad.mp3", c.file);
    EXPECT_EQ(tag.LoadFromFile(path), c.result);
    EXPECT_EQ(tag.LastResult, c.result);
  }
}

TEST_F(Id3v2TagTest, ReadsVersion23FramesWithTheirFlagsAndExtras) {
  const Bytes plain = TextContent("A compressed title that repeats, repeats, repeats");
  uLongf packedSize = compressBound(plain.size());
  Bytes packed(packedSize);
  ASSERT_EQ(compress(packed.data(), &packedSize, plain.data(), plain.size()), Z_OK);
  packed.resize(packedSize);
  const Bytes body = Concat({
      BigEndian(6),
      {0, 0},
      BigEndian(100),  // extended header declaring 100 bytes of padding
      Frame(3, "TIT2", Concat({BigEndian(static_cast<uint32_t>(plain.size())), packed}), 0x80,
            0x80),
      Frame(3, "TPE1", Concat({{0x42}, TextContent("grouped")}), 0x20, 0x20),
      Bytes(200),
  });
  const std::string path = Make("v23.mp3", Concat({Tag(3, 0x40, body), audio_}));
  Tid3v2tag tag;
  EXPECT_EQ(tag.LoadFromFile(path), id3::kPaddingMismatch);
  EXPECT_EQ(tag.PaddingSize, 100);
  ASSERT_EQ(tag.Frames.Count(), 2);
  EXPECT_EQ(tag.Frames.ReadFlags(1, 2), id3::kFormatCompression | id3::kFormatDataLength);
  EXPECT_EQ(tag.Frames.ReadFlags(1, 1), id3::kStatusTagAlter);
  EXPECT_EQ(tag.Frames.DecodedSize(1), static_cast<int32_t>(plain.size()));
  EXPECT_EQ(tag.Frames.HeaderSize(1), 14);
  EXPECT_EQ(tag.Frames.Position(1), 20);
  EXPECT_EQ(tag.Frames.DecompressFrame(1), 0);
  EXPECT_EQ(tag.Frames.Data(1), plain);
  EXPECT_TRUE(tag.Frames.StoredGrouping(2));
  EXPECT_EQ(tag.Frames.Group(2), 0x42);
  EXPECT_EQ(tag.Frames.ReadFlags(2, 1), id3::kStatusReadOnly);
  EXPECT_EQ(FrameText(tag, "TPE1"), "grouped");
}

TEST_F(Id3v2TagTest, RemovesTagLevelUnsyncOfVersion23Only) {
  // $FF $00 inside the frame: a v2.3 tag-level unsynchronised tag stores "ÿ" + $E0 as
  // $FF $00 $E0; a v2.4 tag's header flag leaves the decoding to each frame.
  const Bytes content = {0, 0xFF, 0xE0, 'x'};
  const Bytes stored = {0, 0xFF, 0x00, 0xE0, 'x'};
  const std::string v3 =
      Make("u3.mp3", Concat({Tag(3, 0x80, Frame(3, "TIT2", stored, 0, 0, 4)), audio_}));
  Tid3v2tag tag;
  EXPECT_EQ(tag.LoadFromFile(v3), id3::kOk);
  EXPECT_EQ(tag.Frames.Data(1), content);

  const std::string v4 = Make("u4.mp3", Concat({Tag(4, 0x80, Frame(4, "TIT2", stored)), audio_}));
  EXPECT_EQ(tag.LoadFromFile(v4), id3::kOk);
  EXPECT_EQ(tag.Frames.Data(1), stored);
  EXPECT_TRUE(tag.Frames.StoredUnsynchronisation(1));
  EXPECT_EQ(tag.Frames.DeunsyncFrame(1), 0);
  EXPECT_EQ(tag.Frames.Data(1), content);
}

TEST_F(Id3v2TagTest, EveryLoadDescribesTheFileJustLoaded) {
  const std::string tagged =
      Make("a.mp3", Concat({Tag(4, 0, Frame(4, "TALB", TextContent("old album"))), audio_}));
  const std::string bare = Make("b.mp3", audio_);
  Tid3v2tag tag;
  ASSERT_EQ(tag.LoadFromFile(tagged), id3::kOk);
  EXPECT_EQ(tag.Version, 4);
  EXPECT_EQ(tag.LoadFromFile(bare), id3::kNoTag);
  EXPECT_EQ(tag.Frames.Count(), 0);
  EXPECT_EQ(tag.Version, 3);
  ASSERT_EQ(tag.SetTextFrame("TIT2", "new"), 0);
  ASSERT_EQ(tag.SaveToFile("=", 0xFF, -1, 0xFF), id3::kOk);
  const Bytes written = ReadFile(bare);
  EXPECT_EQ(written[3], 3);
  Tid3v2tag check;
  ASSERT_EQ(check.LoadFromFile(bare), id3::kOk);
  ASSERT_EQ(check.Frames.Count(), 1);  // nothing of the first file came along
  EXPECT_EQ(FrameText(check, "TIT2"), "new");
  EXPECT_EQ(Bytes(written.begin() + static_cast<long>(TagLength(written)), written.end()), audio_);

  // A tag that could not be parsed is never written over.
  const Bytes v22 = Concat({Tag(2, 0, Text("TT2\0\0\x04\0abc")), audio_});
  const std::string old = Make("c.mp3", v22);
  EXPECT_EQ(tag.LoadFromFile(old), id3::kBadVersion);
  EXPECT_EQ(tag.SetTextFrame("TIT2", "x"), 0);
  EXPECT_EQ(tag.SaveToFile("=", 0xFF, -1, 0xFF), id3::kMalformed);
  EXPECT_EQ(ReadFile(old), v22);
  // A missing file: the save is attempted and finds no file.
  EXPECT_EQ(tag.LoadFromFile(dir_.Path("gone.mp3")), id3::kNoFile);
  EXPECT_EQ(tag.SetTextFrame("TIT2", "x"), 0);
  EXPECT_EQ(tag.SaveToFile("=", 0xFF, -1, 0xFF), id3::kNoFile);
}

TEST_F(Id3v2TagTest, BrokenCompressedFrameLoadsButIsNeverWrittenDecoded) {
  Bytes packed(200);
  uLongf packedSize = packed.size();
  const Bytes plain = TextContent(std::string(500, 'q'));
  ASSERT_EQ(compress(packed.data(), &packedSize, plain.data(), plain.size()), Z_OK);
  packed.resize(packedSize / 2);  // the stream never ends
  const Bytes original =
      Concat({Tag(3, 0, Frame(3, "TIT2", Concat({BigEndian(500), packed}), 0, 0x80)), audio_});
  const std::string path = Make("z.mp3", original);
  Tid3v2tag tag;
  ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
  EXPECT_THROW(tag.Frames.DecompressFrame(1), EZDecompressionError);
  EXPECT_TRUE(tag.Frames.StoredCompression(1));
  tag.Frames.SetWriteFlags(1, 2, 0);  // ask for it plain
  EXPECT_EQ(tag.SaveToFile(), id3::kMalformed);
  EXPECT_EQ(ReadFile(path), original);
  // Left compressed, it is carried over as it is.
  tag.Frames.SetWriteFlags(1, 2, id3::kFormatCompression);
  EXPECT_EQ(tag.SaveToFile("=", 4, -1, 0xFF), id3::kOk);
  Tid3v2tag back;
  ASSERT_EQ(back.LoadFromFile(path), id3::kOk);
  EXPECT_EQ(back.Frames.Data(1), packed);
  EXPECT_EQ(back.Frames.DecodedSize(1), 500);
}

TEST_F(Id3v2TagTest, LargeUnsynchronisedTagCrossesReadBlocks) {
  // "ÿà" is $FF $E0 in Latin-1: a guard byte every second byte, over several 16 KB blocks.
  std::string text;
  for (int i = 0; i < 45000; ++i) text += "\xC3\xBF\xC3\xA0";
  text += "\xC3\xBF";
  for (const uint8_t version : {uint8_t{3}, uint8_t{4}}) {
    SCOPED_TRACE(static_cast<int>(version));
    const std::string path = Make("large.mp3", audio_);
    Tid3v2tag tag;
    tag.LoadFromFile(path);
    tag.SetTextFrame("TIT2", "before");
    tag.SetTextFrame("TALB", text);
    tag.SetTextFrame("TPE1", "after");
    tag.SetUnsynchronisation(true);
    ASSERT_EQ(tag.SaveToFile("=", version, -1, 0xFF), id3::kOk);
    Tid3v2tag back;
    ASSERT_EQ(back.LoadFromFile(path), id3::kOk);
    ASSERT_EQ(back.Frames.Count(), 3);
    if (version == 4) {
      EXPECT_EQ(back.Frames.DeunsyncFrame(2), 0);
    }
    EXPECT_EQ(FrameText(back, "TALB"), text);
    EXPECT_EQ(FrameText(back, "TPE1"), "after");
    const Bytes written = ReadFile(path);
    EXPECT_EQ(Bytes(written.begin() + back.Size + 10, written.end()), audio_);
    // No false synchronisation is left inside the tag: $FF is never followed by $E0 or more.
    for (size_t i = 10; i + 1 < size_t(back.Size) + 10; ++i)
      ASSERT_FALSE(written[i] == 0xFF && written[i + 1] >= 0xE0) << "at byte " << i;
    const std::vector<testing::PeerFrame> peer = testing::PeerRead(path);
    ASSERT_EQ(peer.size(), 3u);
    EXPECT_EQ(peer[1].text, text);
  }
}

// A shrinking tag in a file of any length re-aligns under the defaults; only a padding limit
// below the unit keeps the old length and writes in place.
TEST_F(Id3v2TagTest, ShrinkingTagRealignsUnlessTheLimitIsBelowTheUnit) {
  const struct {
    const char* what;
    size_t padding;
    int64_t limit;
    bool kept;
  } cases[] = {
      {"a little, defaults", 1000, 4096, false},
      {"far, defaults", 20000, 4096, false},
      {"a little, limit below the unit", 1000, 0, true},
      {"far, limit below the unit", 20000, 4095, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes original = Concat(
        {Tag(3, 0, Concat({Frame(3, "TIT2", TextContent("a longer title")), Bytes(c.padding)})),
         audio_});
    const std::string path = Make("s.mp3", original);
    const uint64_t inode = testing::Inode(path);
    Tid3v2tag tag;
    ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
    EXPECT_EQ(tag.PaddingSize, static_cast<int64_t>(c.padding));
    tag.PaddingLimit = c.limit;
    tag.SetTextFrame("TIT2", "short");
    ASSERT_EQ(tag.SaveToFile(), id3::kOk);
    const Bytes written = ReadFile(path);
    if (c.kept) {
      EXPECT_EQ(written.size(), original.size());
      EXPECT_EQ(testing::Inode(path), inode);
    } else {
      EXPECT_EQ(written.size() % 4096, 0u);
      EXPECT_LT(written.size(), original.size() + 4096 - c.padding);
    }
    EXPECT_EQ(tag.Size, static_cast<int64_t>(TagLength(written)));
    EXPECT_EQ(Bytes(written.begin() + tag.Size, written.end()), audio_);
  }
}

TEST_F(Id3v2TagTest, RefusedSavesLeaveTheFileAlone) {
  const Bytes original = Concat(
      {Tag(4, 0,
           Concat({Frame(4, "TIT2", TextContent("t")), Frame(4, "TPE1", {0x42, 'x', 'y'}, 0, 0x04),
                   Frame(4, "TALB", {0x07, 0, 'a'}, 0, 0x40)})),
       audio_});
  const struct {
    const char* what;
    std::function<void(Tid3v2tag&)> change;
    uint8_t version;
    uint8_t revision;
    uint16_t result;
  } cases[] = {
      {"decrypt", [](Tid3v2tag& t) { t.Frames.SetWriteFlags(2, 2, 0); }, 0xFF, 0xFF,
       id3::kCannotEncrypt},
      {"ungroup", [](Tid3v2tag& t) { t.Frames.SetWriteFlags(3, 2, 0); }, 0xFF, 0xFF,
       id3::kCannotGroup},
      {"data length of encrypted content",
       [](Tid3v2tag& t) { t.Frames.SetWriteFlags(2, 2, id3::kFormatEncryption | 1); }, 0xFF, 0xFF,
       id3::kCannotDataLength},
      {"revision 1", [](Tid3v2tag&) {}, 4, 1, id3::kBadRevision},
      {"version 2", [](Tid3v2tag&) {}, 2, 0, id3::kBadVersion},
      {"only empty frames",
       [](Tid3v2tag& t) {
         for (int i = 1; i <= t.Frames.Count(); ++i) t.Frames.SetData(i, {});
       },
       0xFF, 0xFF, id3::kNoFrames},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Make("refused.mp3", original);
    Tid3v2tag tag;
    ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
    c.change(tag);
    EXPECT_EQ(tag.SaveToFile("=", c.version, -1, c.revision), c.result);
    EXPECT_EQ(ReadFile(path), original);
  }
  // Tolerant: the impossible changes are dropped and the save goes ahead.
  const std::string path = Make("tolerant.mp3", original);
  Tid3v2tag tag;
  tag.Tolerant = 1;
  ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
  tag.Frames.SetWriteFlags(2, 2, 0);
  tag.Frames.SetWriteFlags(3, 2, 0);
  EXPECT_EQ(tag.SaveToFile(), id3::kFlagDropped);
  Tid3v2tag check;
  ASSERT_EQ(check.LoadFromFile(path), id3::kOk);
  EXPECT_TRUE(check.Frames.StoredEncryption(2));
  EXPECT_EQ(check.Frames.Data(2), (Bytes{'x', 'y'}));
  EXPECT_TRUE(check.Frames.StoredGrouping(3));
}

TEST_F(Id3v2TagTest, FailedRebuildKeepsTheOriginal) {
  const Bytes original = Concat({Tag(3, 0, Frame(3, "TIT2", TextContent("t"))), audio_});
  const std::string path = Make("keep.mp3", original);
  Tid3v2tag tag;
  ASSERT_EQ(tag.LoadFromFile(path), id3::kOk);
  tag.SetTextFrame("TALB", std::string(9000, 'x'));  // forces the audio to move
  // Let no file grow past half the original, so the new copy cannot be completed.
  uint16_t result;
  {
    qv::testing::FileSizeLimit limit(original.size() / 2);
    ASSERT_TRUE(limit.ok());
    result = tag.SaveToFile();
  }
  EXPECT_EQ(result, id3::kWriteError);
  EXPECT_EQ(ReadFile(path), original);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.Path("")))
    ++entries;
  EXPECT_EQ(entries, 1u) << "the temporary copy was left behind";
}

TEST_F(Id3v2TagTest, RebuildThroughALinkReplacesTheFileItNames) {
  const std::string target = Make("target.mp3", audio_);
  const std::string link = dir_.Path("link.mp3");
  std::filesystem::create_symlink(target, link);
  Tid3v2tag tag;
  tag.LoadFromFile(link);
  tag.SetTextFrame("TIT2", "through the link");
  ASSERT_EQ(tag.SaveToFile(), id3::kOk);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  Tid3v2tag check;
  ASSERT_EQ(check.LoadFromFile(target), id3::kOk);
  EXPECT_EQ(FrameText(check, "TIT2"), "through the link");
}

}  // namespace
}  // namespace qv
