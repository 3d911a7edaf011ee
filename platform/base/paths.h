// File-name helpers. "\" and "/" are both separators in names the program is given
// (patterns, command-line values, stored paths); names it builds use "/". Where a
// file's case may differ from the name asked for, FindFileNoCase looks it up. All
// functions are thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

constexpr char PathDelim = '/';

[[nodiscard]] inline bool IsPathDelimiter(char c) {
  return c == '/' || c == '\\';
}
// Every "\" becomes "/".
[[nodiscard]] std::string NormalizePath(std::string_view path);
// Ends the path with "/" (a "\" at the end counts and becomes "/").
[[nodiscard]] std::string IncludeTrailingPathDelimiter(std::string_view path);
[[nodiscard]] std::string ExcludeTrailingPathDelimiter(std::string_view path);
// Up to and including the last separator ("" when there is none).
[[nodiscard]] std::string ExtractFilePath(std::string_view path);
// After the last separator.
[[nodiscard]] std::string ExtractFileName(std::string_view path);
// From the last '.' of the file name on, the dot included ("" when none).
[[nodiscard]] std::string ExtractFileExt(std::string_view path);
// Replaces (or adds, or with "" removes) the extension.
[[nodiscard]] std::string ChangeFileExt(std::string_view path, std::string_view ext);
// Absolute, with "." and ".." resolved by name (links are not followed).
[[nodiscard]] std::string ExpandFileName(std::string_view path);

// FileExists is false for folders.
[[nodiscard]] bool FileExists(const std::string& path);
[[nodiscard]] bool DirectoryExists(const std::string& path);
// Creates the folder and its parents (mode 0777 less the umask); true when it exists
// afterwards.
bool ForceDirectories(const std::string& path);
bool DeleteFile(const std::string& path);
// Fails, as on the program's home platform, when `new_name` exists already.
bool RenameFile(const std::string& old_name, const std::string& new_name);

// `folder` + `name` when that exists; else the first entry of `folder` (in byte
// order) whose name equals `name` without regard to ASCII case; else "".
[[nodiscard]] std::string FindFileNoCase(std::string_view folder, std::string_view name);

// Names of the folders directly inside `folder` (links to folders count), without "." and
// "..", sorted without regard to ASCII case (then by bytes) so that lists made from them
// come out the same on every file system. Empty when `folder` cannot be read.
[[nodiscard]] std::vector<std::string> ListSubFolders(const std::string& folder);
// The running executable (from /proc/self/exe) and its folder, the latter with a
// trailing "/".
[[nodiscard]] std::string ExeName();
[[nodiscard]] std::string ExeDir();

// Makes any text a single safe file-name component: separators ("/", "\"), NUL and
// control characters (C0, DEL, C1) become "_", invalid UTF-8 is read as
// Windows-1252, the result is cut to 255 bytes at a character boundary, and "", "."
// and ".." become "_", "_" and "__".
[[nodiscard]] std::string SafePathComponent(std::string_view text);

}  // namespace qv
