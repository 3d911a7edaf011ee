// How ripped files are named: the naming pattern with its placeholders, `CleanName`, and the
// rules that keep every name inside the folder it is meant for, whatever text a database or
// a disc supplies. Also the contents of the format and bit-rate boxes. Pure functions.
#pragma once

#include <string>
#include <vector>

#include "audio/audio_lame.h"

namespace qv {

// The replacement characters of the INI file (CONF CDDB_Char and space_char).
struct TNameChars {
  std::string CDDBChar = "-";
  std::string SpaceChar;
};

// Spaces become `SpaceChar` (when set), then each of < > : " / \ | * ? becomes `CDDBChar`
// (an empty one deletes them).
[[nodiscard]] std::string CleanName(const std::string& Text, const TNameChars& Chars);

// The disc's album-wide texts as the window shows them.
struct TAlbumTexts {
  std::string Artist;
  std::string Album;
  std::string Genre;  // the category box's text
  std::string Year;
};

// `Pattern` with %ARTIST%, %ALBUM%, %GENRE% and %YEAR% (any case) replaced by the cleaned
// texts. Each value becomes one safe name component: an empty artist or album becomes
// "Unknown Artist" / "Unknown Album", and ".", ".." or a control character never survive.
[[nodiscard]] std::string FillAlbumPlaceholders(const std::string& Pattern,
                                                const TAlbumTexts& Texts, const TNameChars& Chars);

// "01" .. "09", then "10", "11", ...
[[nodiscard]] std::string TrackNumberText(int Track);

// The full name of track `Track` without extension: `BasePath` + `Destination` with
// %TRACKNB% and %TRACKNAME% filled. `BasePath` is used as given (a user's folder, glued to
// the pattern unchanged); the part that comes from the pattern never starts at the root,
// and never holds an empty, "." or ".." component. An empty file name becomes the track
// number and title.
[[nodiscard]] std::string TrackFileName(const std::string& BasePath, const std::string& Destination,
                                        int Track, const std::string& TrackTitle,
                                        const TNameChars& Chars);

// Up to and including the last separator ("" when none); separators come out as "/".
[[nodiscard]] std::string FolderPart(const std::string& Path);

// Format box: items "MP3", "OGG", "FLAC"; the extension of an index (empty for -1).
[[nodiscard]] const std::vector<std::string>& FormatItems();
[[nodiscard]] std::string FormatExtension(int FormatIndex);

// The bit-rate box for a format: the 18 MP3 bit-rate names, the 11 Ogg quality texts, or
// nothing for FLAC.
[[nodiscard]] std::vector<std::string> BitrateItems(int FormatIndex);
// The item `audioFormatBoxChange` selects: the MP3 bit rate's ordinal, or the Vorbis quality
// times ten, rounded (-1 when that is no item).
[[nodiscard]] int BitrateItemIndex(int FormatIndex, TMP3BitRate BitRate, float Compression);
// The item the command line's post-processing selects: as above for MP3; for OGG the item
// equal to `CompressionText` (-1 when none is).
[[nodiscard]] int BitrateItemByText(int FormatIndex, TMP3BitRate BitRate, float Compression);
// The quality text the box shows: shortest decimal text with a point ("0.2", "1").
[[nodiscard]] std::string CompressionText(float Compression);
// `bitrateBoxChange`: applies an item's text; false when it names nothing.
bool ApplyBitrateItem(int FormatIndex, const std::string& Item, TMP3BitRate& BitRate,
                      float& Compression);

}  // namespace qv
