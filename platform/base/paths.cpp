#include "platform/base/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/base/text.h"

namespace qv {
namespace {

size_t LastDelimiter(std::string_view path) {
  const auto pos = path.find_last_of("/\\");
  return pos;
}

}  // namespace

std::string NormalizePath(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string out = NormalizePath(path);
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string out = NormalizePath(path);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string ExtractFilePath(std::string_view path) {
  const auto pos = LastDelimiter(path);
  if (pos == std::string_view::npos) return std::string();
  return NormalizePath(path.substr(0, pos + 1));
}

std::string ExtractFileName(std::string_view path) {
  const auto pos = LastDelimiter(path);
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ExtractFileExt(std::string_view path) {
  const std::string name = ExtractFileName(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const auto delim = LastDelimiter(path);
  const auto dot = path.rfind('.');
  const bool has_ext =
      dot != std::string_view::npos && (delim == std::string_view::npos || dot > delim);
  std::string out(has_ext ? path.substr(0, dot) : path);
  out += ext;
  return out;
}

std::string ExpandFileName(std::string_view path) {
  std::string full = NormalizePath(path);
  if (full.empty() || full[0] != '/') {
    std::vector<char> buf(PATH_MAX);
    std::string cwd = ::getcwd(buf.data(), buf.size()) ? buf.data() : "/";
    full = cwd + "/" + full;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    const std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  if (out.empty()) out = "/";
  // Keep a trailing separator: it says the name is a folder.
  const bool trailing = full.size() > 1 && full.back() == '/';
  if (trailing && out != "/") out += '/';
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(NormalizePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(NormalizePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  const std::string dir = ExcludeTrailingPathDelimiter(path);
  if (dir.empty()) return false;
  if (DirectoryExists(dir)) return true;
  const std::string parent = ExtractFilePath(dir);
  if (!parent.empty() && parent != dir + "/" && !ForceDirectories(parent)) return false;
  if (::mkdir(dir.c_str(), 0777) == 0) return true;
  return errno == EEXIST && DirectoryExists(dir);
}

bool DeleteFile(const std::string& path) {
  const std::string p = NormalizePath(path);
  if (DirectoryExists(p)) return false;
  return ::unlink(p.c_str()) == 0;
}

bool RenameFile(const std::string& old_name, const std::string& new_name) {
  const std::string from = NormalizePath(old_name), to = NormalizePath(new_name);
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: a hard link refuses an existing target.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  // Folders cannot be hard-linked; check, then rename.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string FindFileNoCase(std::string_view folder, std::string_view name) {
  if (name.empty() || name == "." || name == "..") return std::string();
  const std::string dir = folder.empty() ? std::string("./") : IncludeTrailingPathDelimiter(folder);
  const std::string exact = dir + std::string(name);
  struct stat st {};
  if (::lstat(exact.c_str(), &st) == 0) return folder.empty() ? std::string(name) : exact;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return std::string();
  std::vector<std::string> matches;
  while (dirent* e = ::readdir(d))
    if (SameText(e->d_name, name)) matches.emplace_back(e->d_name);
  ::closedir(d);
  if (matches.empty()) return std::string();
  std::sort(matches.begin(), matches.end());
  return (folder.empty() ? std::string() : dir) + matches.front();
}

std::vector<std::string> ListSubFolders(const std::string& folder) {
  std::vector<std::string> names;
  const std::string dir = folder.empty() ? std::string("./") : IncludeTrailingPathDelimiter(folder);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::stat((dir + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int c = CompareText(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  return names;
}

std::string ExeName() {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buf.data(), size_t(n));
}

std::string ExeDir() {
  return ExtractFilePath(ExeName());
}

std::string SafePathComponent(std::string_view text) {
  const std::string utf8 = ToUtf8Auto(text);
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
      out += '_';
    } else if (c == 0xC2 && i + 1 < utf8.size() &&
               static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      // U+0080..U+009F, the C1 controls.
      out += '_';
      ++i;
    } else {
      out += char(c);
    }
  }
  out = Utf8Truncate(out, NAME_MAX);
  if (out.empty() || out == ".") return "_";
  if (out == "..") return "__";
  return out;
}

}  // namespace qv
