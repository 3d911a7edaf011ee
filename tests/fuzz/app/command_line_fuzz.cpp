// Any parameters on the command line a front end starts the ripper with (the input cut at NULs
// into at most 16 parameters), and what they lead to: the options stay within what the
// encoders and boxes take (a format of the box or none, a known bit rate, a quality in the
// encoder's range), and the naming pattern and folder they set name files that stay inside
// the output folder.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/rip_config.h"
#include "app/rip_naming.h"
#include "platform/base/paths.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> params;
  for (const std::string_view p : qv::fuzz::Parts(data, size, 16)) params.emplace_back(p);
  qv::TRipOptions options;
  int drives = 0;
  bool debug = false;
  std::vector<std::string> problems;
  qv::ParseCommandLine(
      params, options,
      [&drives](int drive) {
        if (drive < -1) Fail("a drive below -1");
        ++drives;
      },
      [&debug] { debug = true; }, [&problems](const std::string& t) { problems.push_back(t); });

  if (options.FormatIndex < -1 || options.FormatIndex > 2) Fail("format out of the box");
  if (int(options.BitRate) < 0 || options.BitRate > qv::TMP3BitRate::br320)
    Fail("an unknown bit rate");
  if (options.FMP3BitRate != -1 && options.FMP3BitRate != int(options.BitRate))
    Fail("the bit rate's ordinal and the bit rate disagree");
  if (!std::isfinite(options.Compression) || options.Compression < qv::kMinCompression ||
      options.Compression > qv::kMaxCompression)
    Fail("quality " + std::to_string(options.Compression) + " outside the encoder's range");
  if (debug != options.Debug) Fail("-debug seen but not reported");
  if (drives > int(params.size()) || problems.size() > params.size()) Fail("more calls than words");

  // What the rip does with them: the boxes' items and each track's file name.
  (void)qv::FormatExtension(options.FormatIndex);
  const int item = qv::BitrateItemByText(options.FormatIndex, options.BitRate, options.Compression);
  const std::vector<std::string> items = qv::BitrateItems(options.FormatIndex);
  if (item < -1 || item >= int(items.size())) Fail("a bit-rate item outside the box");
  qv::TAlbumTexts texts;
  texts.Artist = "Artist";
  texts.Album = "..";
  texts.Genre = "rock";
  texts.Year = "1999";
  const qv::TNameChars chars;
  const std::string destination = qv::FillAlbumPlaceholders(options.FPattern, texts, chars);
  const std::string name = qv::TrackFileName(options.FBasePath, destination, 1, "Title", chars);
  const std::string base = qv::NormalizePath(options.FBasePath);
  if (name.compare(0, base.size(), base) != 0) Fail("a file name outside the base path");
  // The pattern's part: relative, and no empty, "." or ".." component.
  const std::string rest = name.substr(base.size());
  if (rest.empty() || rest[0] == '/' || rest[0] == '\\') Fail("a pattern that reaches the root");
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(rest.find('/', start), rest.find('\\', start));
    const std::string part = rest.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..")
      Fail("a file name with component '" + part + "': " + name);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return 0;
}
