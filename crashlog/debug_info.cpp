#include "crashlog/debug_info.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "crashlog/code_hook.h"
#include "crashlog/shared_facts.h"
#include "crashlog/trace_log.h"
#include "platform/base/streams.h"

namespace qv {
namespace {

// A bounded little-endian reader over bytes someone else owns.
class Cursor {
 public:
  Cursor(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Skip(std::size_t n) {
    if (n > size_ - pos_) return false;
    pos_ += n;
    return true;
  }
  template <typename T>
  bool Read(T& value) {
    if (sizeof(T) > size_ - pos_) return false;
    std::memcpy(&value, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }
  // One length byte and that many bytes, each combined with the key.
  bool ReadShortString(std::string& s) {
    uint8_t length = 0;
    if (!Read(length) || length > size_ - pos_) return false;
    s.resize(length);
    for (uint8_t i = 0; i < length; ++i) s[i] = char(data_[pos_ + i] ^ OstrelNameKey);
    pos_ += length;
    return true;
  }
  [[nodiscard]] std::size_t Position() const { return pos_; }
  [[nodiscard]] std::size_t Remaining() const { return size_ - pos_; }
  void SetPosition(std::size_t p) { pos_ = std::min(p, size_); }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

constexpr int FirstNameTableVersion = 405;
constexpr int FirstPackedVersion = 450;
constexpr int FirstLongEntryVersion = 423;

bool KnownVersion(int v) {
  return v >= 401 && v <= OstrelCurrentDataVersion;
}

// The body after the header: options, D, debug information. Gives where the debug
// information lies in the body.
bool ReadBody(const uint8_t* body, std::size_t size, int version, TOstrelModuleOptions& options,
              std::size_t& debug_at, std::size_t& debug_size) {
  // The options are read in place, without a copy of the whole body (the debug information
  // behind them can be tens of megabytes).
  THModuleStream stream(body, size);
  try {
    SetOstrelDataVersion(version);
    TOstrelModuleOptions loaded;
    loaded.LoadFromStream(stream, version);
    uint32_t d = 0;
    if (stream.Read(&d, 4) != 4 || d > stream.Size() - stream.Position()) return false;
    debug_at = std::size_t(stream.Position());
    debug_size = d;
    options.Assign(&loaded);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// One line entry: its steps and whether a name follows.
struct LineEntry {
  int64_t address_step = 0;
  int64_t line_step = 0;
  bool named = false;
};

bool ReadLineEntry(Cursor& in, int version, LineEntry& e) {
  uint8_t b = 0;
  if (!in.Read(b)) return false;
  if ((b & 1) == 0) {  // A
    e = {((b >> 1) & 0x1F) + 1, ((b >> 6) & 3) + 1, false};
    return true;
  }
  if ((b & 2) == 0) {  // B
    e = {((b >> 2) & 7) + 1, ((b >> 5) & 7) + 1, true};
    return true;
  }
  if ((b & 8) == 0) {  // C
    uint8_t high = 0;
    if (!in.Read(high)) return false;
    const uint16_t w = uint16_t(b | (high << 8));
    e = {((w >> 4) & 0x7F) + 1, ((w >> 11) & 0x1F) + 1, (w & 4) != 0};
    return true;
  }
  uint8_t rest[3];
  if (!in.Read(rest)) return false;  // D
  const uint32_t d = b | uint32_t(rest[0]) << 8 | uint32_t(rest[1]) << 16 | uint32_t(rest[2]) << 24;
  e.named = (d & 4) != 0;
  if ((d >> 4) == 0x0FFEFFFE && version >= FirstLongEntryVersion) {  // E
    uint16_t line_field = 0, address_field = 0;
    if (!in.Read(line_field) || !in.Read(address_field)) return false;
    e.line_step = int16_t(uint16_t(line_field + 1));
    e.address_step = int64_t(address_field) + 1;
    return true;
  }
  e.line_step = int16_t(uint16_t(((d >> 4) & 0xFFFF) + 1));
  const uint32_t field = d >> 20;
  e.address_step = field == 0xFFF ? 0 : field + 1;
  return true;
}

bool SkipNameTable(Cursor& in, int version) {
  if (version < FirstNameTableVersion) return true;
  uint32_t n = 0;
  return in.Read(n) && in.Skip(n);
}

}  // namespace

THModuleStream::THModuleStream(const void* start, std::size_t size)
    : start_(reinterpret_cast<uintptr_t>(start)),
      size_(int64_t(std::min<std::size_t>(size, INT64_MAX))) {}

int64_t THModuleStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(size_ - position_, 0, std::max<int64_t>(count, 0));
  if (n == 0 || !SafeRead(buffer, start_ + uintptr_t(position_), std::size_t(n))) return 0;
  position_ += n;
  return n;
}

int64_t THModuleStream::Write(const void*, int64_t) {
  throw EWriteError("Stream write error");
}

int64_t THModuleStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == soFromBeginning ? 0 : origin == soFromEnd ? size_ : position_;
  if (offset < -base || (offset > 0 && base > INT64_MAX - offset))
    throw EStreamError("Stream seek error");
  return position_ = base + offset;
}

void THModuleStream::SetSize(int64_t) {
  throw EWriteError("Stream write error");
}

uintptr_t CodeOffsetToAddress(uintptr_t handle, uint32_t offset) {
  return handle + 0x1000 + offset;
}

bool InflateBuffer(const uint8_t* input, std::size_t size, std::vector<uint8_t>& output,
                   std::size_t limit) {
  output.clear();
  if (size == 0 || size > UINT32_MAX) return false;
  const std::size_t step = (size + 255) / 256 * 256;
  // Room for a generous ratio up front, so that growing never holds an old and a new copy at
  // once; address space that is never written takes no memory.
  output.reserve(std::min(limit, size * 32));
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(input);
  z.avail_in = uInt(size);
  bool ok = false;
  try {
    for (;;) {
      if (output.size() >= limit) break;
      const std::size_t used = z.total_out;
      output.resize(std::min(used + step, limit));
      z.next_out = output.data() + used;
      z.avail_out = uInt(output.size() - used);
      const int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        ok = true;
        break;
      }
      // No input left, or no progress possible: the stream is cut short or corrupt.
      if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in > 0 && z.avail_out == 0)) break;
      if (z.avail_in == 0 && z.avail_out > 0) break;
    }
  } catch (...) {
    inflateEnd(&z);
    output.clear();
    throw;
  }
  output.resize(ok ? z.total_out : 0);
  inflateEnd(&z);
  return ok;
}

namespace {

// The first `want` bytes of a zlib stream (fewer when it ends before), in `output`; `ended`
// tells whether the stream ended whole. False for a corrupt stream, or one cut short before
// `want` bytes.
bool InflatePrefix(const uint8_t* input, std::size_t size, std::size_t want,
                   std::vector<uint8_t>& output, bool& ended) {
  output.assign(want, 0);
  ended = false;
  if (size == 0 || size > UINT32_MAX) return false;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(input);
  z.avail_in = uInt(size);
  z.next_out = output.data();
  z.avail_out = uInt(want);
  int rc = Z_OK;
  while (rc == Z_OK && z.avail_out > 0 && z.avail_in > 0) rc = inflate(&z, Z_NO_FLUSH);
  ended = rc == Z_STREAM_END;
  const bool ok = ended || (rc == Z_OK && z.avail_out == 0);
  output.resize(ok ? z.total_out : 0);
  inflateEnd(&z);
  return ok;
}

// The options, D and, from the version with a name table, the name table of a body of which
// only the first bytes may be at hand: false when they are not all there (or are damaged).
bool ReadHead(const uint8_t* body, std::size_t size, int version, TOstrelModuleOptions& options,
              std::size_t& debug_at, uint32_t& debug_size, std::size_t& names_size) {
  THModuleStream stream(body, size);
  try {
    SetOstrelDataVersion(version);
    options.LoadFromStream(stream, version);
    if (stream.Read(&debug_size, 4) != 4) return false;
  } catch (const std::exception&) {
    return false;
  }
  debug_at = std::size_t(stream.Position());
  names_size = 0;
  if (version < FirstNameTableVersion) return true;
  uint32_t n = 0;
  if (size - debug_at < 4) return false;
  std::memcpy(&n, body + debug_at, 4);
  if (uint64_t(n) + 4 > debug_size || uint64_t(n) + 4 > size - debug_at) return false;
  names_size = 4 + std::size_t(n);
  return true;
}

}  // namespace

bool ParseLoggerHead(const uint8_t* block, std::size_t size, TOstrelLoggerData& data,
                     TOstrelModuleOptions& options, bool never_packed) {
  if (never_packed || size < 14) return ParseLoggerData(block, size, data, options, never_packed);
  uint32_t magic = 0;
  uint16_t version = 0;
  std::memcpy(&magic, block, 4);
  std::memcpy(&version, block + 4, 2);
  if (magic != OstrelDataMagic || !KnownVersion(version)) return false;
  if (version < FirstPackedVersion) return ParseLoggerData(block, size, data, options);
  const uint8_t* body = block + 14;
  const std::size_t body_size = size - 14;
  // Unpacked a piece at a time until the name table is whole: the line tables behind it wait
  // until a report needs them.
  for (std::size_t want = std::size_t(64) << 10;; want = std::min(want * 4, OstrelMaxUnpacked)) {
    std::vector<uint8_t> head;
    bool ended = false;
    if (!InflatePrefix(body, body_size, want, head, ended)) return false;
    TOstrelModuleOptions loaded;
    std::size_t at = 0, names = 0;
    uint32_t d = 0;
    if (ReadHead(head.data(), head.size(), version, loaded, at, d, names)) {
      if (ended && uint64_t(d) > head.size() - at) return false;
      std::memcpy(data.reserved, block + 6, 8);
      data.data_version = version;
      const std::size_t kept = ended ? std::size_t(d) : names;
      data.debug.assign(head.begin() + std::ptrdiff_t(at),
                        head.begin() + std::ptrdiff_t(at + kept));
      data.packed =
          ended ? nullptr : std::make_shared<const std::vector<uint8_t>>(block, block + size);
      options.Assign(&loaded);
      return true;
    }
    if (ended || want >= OstrelMaxUnpacked) return false;
  }
}

bool ParseLoggerData(const uint8_t* block, std::size_t size, TOstrelLoggerData& data,
                     TOstrelModuleOptions& options, bool never_packed) {
  Cursor in(block, size);
  uint32_t magic = 0;
  uint16_t version = 0;
  uint8_t reserved[8];
  if (!in.Read(magic) || magic != OstrelDataMagic || !in.Read(version) || !in.Read(reserved) ||
      !KnownVersion(version))
    return false;
  std::memcpy(data.reserved, reserved, 8);
  const uint8_t* body = block + in.Position();
  const std::size_t body_size = in.Remaining();
  std::size_t at = 0, length = 0;
  if (version < FirstPackedVersion || never_packed) {
    if (!ReadBody(body, body_size, version, options, at, length)) return false;
    data.debug.assign(body + at, body + at + length);
  } else {
    std::vector<uint8_t> unpacked;
    if (!InflateBuffer(body, body_size, unpacked) ||
        !ReadBody(unpacked.data(), unpacked.size(), version, options, at, length))
      return false;
    // The unpacked bytes become the debug information: moved and trimmed, not copied.
    unpacked.resize(at + length);
    unpacked.erase(unpacked.begin(), unpacked.begin() + std::ptrdiff_t(at));
    data.debug = std::move(unpacked);
  }
  data.data_version = uint16_t(version);
  return true;
}

namespace {

// A regular file opened for reading at given positions, every read within its size.
class TFileReader {
 public:
  explicit TFileReader(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = uint64_t(st.st_size);
  }
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;
  ~TFileReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  // 0 as well for what is not a regular file.
  [[nodiscard]] uint64_t Size() const { return size_; }
  [[nodiscard]] bool Holds(uint64_t at, uint64_t n) const { return at <= size_ && n <= size_ - at; }
  bool ReadAt(void* to, std::size_t n, uint64_t at) const {
    return Holds(at, n) && ::pread(fd_, to, n, off_t(at)) == ssize_t(n);
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

// The named section of an ELF file, of `type` unless that is SHT_NULL (any type with bytes).
bool ReadSection(const std::string& path, std::string_view section, uint32_t type,
                 std::size_t limit, std::vector<uint8_t>& bytes, std::size_t take = SIZE_MAX) {
  bytes.clear();
  const TFileReader file(path);
  ElfW(Ehdr) eh;
  if (!file.ReadAt(&eh, sizeof eh, 0) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_shentsize != sizeof(ElfW(Shdr)) || eh.e_shstrndx >= eh.e_shnum)
    return false;
  std::vector<ElfW(Shdr)> sections(eh.e_shnum);
  if (!file.ReadAt(sections.data(), sections.size() * sizeof(ElfW(Shdr)), eh.e_shoff)) return false;
  const ElfW(Shdr) names = sections[eh.e_shstrndx];
  std::string name(section.size() + 1, '\0');
  for (const ElfW(Shdr) & s : sections) {
    if (!file.ReadAt(name.data(), name.size(), names.sh_offset + s.sh_name) ||
        name.compare(0, section.size(), section) != 0 || name.back() != '\0' ||
        s.sh_type == SHT_NOBITS || (type != SHT_NULL && s.sh_type != type) || s.sh_size > limit ||
        !file.Holds(s.sh_offset, s.sh_size))
      continue;
    bytes.resize(std::size_t(std::min<uint64_t>(s.sh_size, take)));
    if (file.ReadAt(bytes.data(), bytes.size(), s.sh_offset)) return true;
    break;
  }
  bytes.clear();
  return false;
}

}  // namespace

bool ReadLoggerBlock(const std::string& path, std::vector<uint8_t>& block, bool& old_form,
                     bool old_form_only) {
  if (!old_form_only && ReadSection(path, OstrelDataSection, SHT_PROGBITS, SIZE_MAX, block)) {
    old_form = false;
    return true;
  }
  // The older form: [block without magic][L][magic] at the file's end.
  const TFileReader file(path);
  const uint64_t size = file.Size();
  uint32_t tail[2];
  if (size < 8 || !file.ReadAt(tail, 8, size - 8) || tail[1] != OstrelDataMagic ||
      uint64_t(tail[0]) + 8 > size)
    return false;
  block.resize(4 + std::size_t(tail[0]));
  std::memcpy(block.data(), &tail[1], 4);
  old_form = true;
  if (file.ReadAt(block.data() + 4, tail[0], size - 8 - tail[0])) return true;
  block.clear();
  return false;
}

bool ReadElfSection(const std::string& path, std::string_view section, std::size_t limit,
                    std::vector<uint8_t>& bytes, std::size_t take) {
  return ReadSection(path, section, SHT_NULL, limit, bytes, take);
}

bool GetResourceData(uintptr_t handle, std::string_view name, uint32_t type,
                     std::vector<uint8_t>& data) {
  const std::string path = ModuleFileName(handle);
  return !path.empty() && ReadSection(path, name, type, SIZE_MAX, data);
}

bool IsOstrelLogModule(uintptr_t handle) {
  return IsOstrelLogModule(ModuleFileName(handle), reinterpret_cast<void*>(handle));
}

bool IsOstrelLogModule(const std::string& path, const void* handle) {
  TraceLog("IsOstrelLogModule", {handle}, 2);
  // Only the magic is wanted, not the whole section.
  std::vector<uint8_t> head;
  const bool result = ReadSection(path, OstrelDataSection, SHT_PROGBITS, SIZE_MAX, head, 4) &&
                      head.size() == 4 && std::memcmp(head.data(), &OstrelDataMagic, 4) == 0;
  TraceText(std::string("IsOstrelLogModule=") + (result ? "True" : "False"), -2);
  return result;
}

bool IsOstrelLogModule_Old(uintptr_t handle) {
  return IsOstrelLogModule_Old(ModuleFileName(handle), reinterpret_cast<void*>(handle));
}

bool IsOstrelLogModule_Old(const std::string& path, const void* handle) {
  TraceLog("IsOstrelLogModule_Old", {handle}, 2);
  const TFileReader file(path);
  uint32_t magic = 0;
  const bool result =
      file.Size() >= 4 && file.ReadAt(&magic, 4, file.Size() - 4) && magic == OstrelDataMagic;
  TraceText(std::string("IsOstrelLogModule_Old=") + (result ? "True" : "False"), -2);
  return result;
}

bool LoadDebugInformation(TOstrelModuleEntry& entry) {
  TraceLog("LoadDebugInformation", {entry.path}, 2);
  std::vector<uint8_t> block;
  bool old_form = false;
  TOstrelLoggerData data;
  const void* handle = reinterpret_cast<void*>(entry.handle);
  bool result = false;
  // The form is the one the two checks find: a section without the magic leaves the block at
  // the file's end to be read. That block is never packed, whatever its version says.
  const bool current = IsOstrelLogModule(entry.path, handle);
  if (current || IsOstrelLogModule_Old(entry.path, handle)) {
    result = ReadLoggerBlock(entry.path, block, old_form, !current) &&
             ParseLoggerHead(block.data(), block.size(), data, entry.options, old_form);
  }
  // A module that carries a logger of its own publishes its options as they are now.
  if (result && !entry.Contains(reinterpret_cast<uintptr_t>(&LoadDebugInformation)))
    LoadSharedModuleOptions(entry.handle, entry.options);
  if (result) {
    entry.data_version = data.data_version;
    std::memcpy(entry.reserved, data.reserved, 8);
    entry.debug = std::move(data.debug);
    entry.has_debug = true;
    entry.packed = std::move(data.packed);
    entry.line_index = entry.packed ? nullptr : BuildLineIndex(entry.debug, entry.data_version);
  } else {
    entry.data_version = OstrelCurrentDataVersion;
    std::memset(entry.reserved, 0, 8);
    entry.debug.clear();
    entry.has_debug = false;
    entry.packed = nullptr;
    entry.line_index = nullptr;
  }
  TraceText(std::string("LoadDebugInformation=") + (result ? "True" : "False"), -2);
  return result;
}

namespace {

struct UnitHeader {
  std::string name;
  uint32_t first_line = 0, start = 0, code_size = 0, entries_length = 0;
  std::size_t entries_at = 0;
};

bool ReadUnitHeader(Cursor& in, UnitHeader& h) {
  if (!in.ReadShortString(h.name) || !in.Read(h.first_line) || !in.Read(h.start) ||
      !in.Read(h.code_size) || !in.Read(h.entries_length) || h.entries_length > in.Remaining())
    return false;
  h.entries_at = in.Position();
  in.SetPosition(h.entries_at + h.entries_length);
  return true;
}

bool UnitHolds(const UnitHeader& h, uint64_t target) {
  return target >= h.start && target < uint64_t(h.start) + h.code_size;
}

// Reads one unit's line entries until one holds the target; false when none does or the
// entries are damaged.
bool SearchUnit(const std::vector<uint8_t>& debug, UnitHeader h, int version, uint64_t target,
                uintptr_t address, TOstrelStackEntry& entry) {
  int64_t line = h.first_line;
  uint64_t offset = h.start;
  std::string class_name, remembered, procedure;
  const auto fill = [&](uint64_t from, uint64_t to_exclusive) {
    if (target < from || target >= to_exclusive) return false;
    entry.kind = skLine;
    entry.module = nullptr;
    entry.address = address;
    entry.unit_name = h.name;
    entry.class_name = class_name;
    entry.procedure_name = procedure;
    entry.line = uint32_t(line);
    return true;
  };
  Cursor entries(debug.data() + h.entries_at, h.entries_length);
  while (entries.Remaining() > 0) {
    LineEntry e;
    std::string name;
    if (!ReadLineEntry(entries, version, e) || (e.named && !entries.ReadShortString(name)))
      return false;
    // A name's class goes with it: both become current together.
    std::string next_class = class_name;
    if (e.named) {
      std::string cls;
      if (name.starts_with('.')) {
        cls = remembered;
        name.erase(0, 1);
      } else if (const auto dot = name.find('.'); dot != std::string::npos) {
        cls = name.substr(0, dot);
        name.erase(0, dot + 1);
      }
      if (name.starts_with('@')) name[0] = '_';
      if (!cls.empty()) remembered = cls;
      if (procedure.empty()) {
        procedure = name;
        class_name = cls;
      }
      next_class = cls;
    }
    if (fill(offset, offset + uint64_t(e.address_step))) return true;
    if (e.named) {
      procedure = name;
      class_name = next_class;
    }
    line += e.line_step;
    offset += uint64_t(e.address_step);
  }
  return fill(offset, uint64_t(h.start) + h.code_size);
}

}  // namespace

std::shared_ptr<const TOstrelLineIndex> BuildLineIndex(const std::vector<uint8_t>& debug,
                                                       int version) {
  auto index = std::make_shared<TOstrelLineIndex>();
  Cursor in(debug.data(), debug.size());
  uint32_t units = 0;
  if (!SkipNameTable(in, version) || !in.Read(units)) return index;
  // Sized once (a unit's header takes more than 8 bytes, so a count the stream cannot hold is
  // not believed): grown step by step, the old and new lists would be resident together.
  index->units.reserve(std::min<std::size_t>(units, in.Remaining() / 8));
  for (uint32_t u = 0; u < units; ++u) {
    const std::size_t header = in.Position();
    UnitHeader h;
    if (!ReadUnitHeader(in, h)) break;
    if (h.code_size > 0)
      index->units.push_back({h.start, uint64_t(h.start) + h.code_size, header, u});
  }
  auto& list = index->units;
  std::sort(list.begin(), list.end(),
            [](const auto& a, const auto& b) { return a.start < b.start; });
  uint64_t max_end = 0;
  index->max_end.reserve(list.size());
  for (const auto& unit : list) index->max_end.push_back(max_end = std::max(max_end, unit.end));
  return index;
}

bool FindSourceLocation(const std::vector<uint8_t>& debug, int version, uintptr_t handle,
                        uintptr_t address, TOstrelStackEntry& entry,
                        const TOstrelLineIndex* index) {
  // Offsets are 32-bit; compare relative to the code base without wrapping.
  if (address < handle + 0x1000) return false;
  const uint64_t target = address - handle - 0x1000;
  if (index != nullptr) {
    // The units that hold the target, tried in their stream order.
    const auto& list = index->units;
    auto it = std::upper_bound(list.begin(), list.end(), target,
                               [](uint64_t t, const auto& unit) { return t < unit.start; });
    std::vector<const TOstrelLineIndex::Unit*> holding;
    for (auto i = std::size_t(it - list.begin()); i > 0 && index->max_end[i - 1] > target; --i) {
      if (target < list[i - 1].end) holding.push_back(&list[i - 1]);
    }
    std::sort(holding.begin(), holding.end(),
              [](const auto* a, const auto* b) { return a->order < b->order; });
    for (const auto* unit : holding) {
      Cursor in(debug.data(), debug.size());
      in.SetPosition(unit->header);
      UnitHeader h;
      if (ReadUnitHeader(in, h) && SearchUnit(debug, h, version, target, address, entry))
        return true;
    }
    return false;
  }
  Cursor in(debug.data(), debug.size());
  uint32_t units = 0;
  if (!SkipNameTable(in, version) || !in.Read(units)) return false;
  for (uint32_t u = 0; u < units; ++u) {
    UnitHeader h;
    if (!ReadUnitHeader(in, h)) return false;
    if (UnitHolds(h, target) && SearchUnit(debug, h, version, target, address, entry)) return true;
  }
  return false;
}

namespace {

// Guards the debug streams of the module entries, which a first report unpacks whole.
std::mutex& DebugStreamLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

// The lock is held.
void UnpackLocked(TOstrelModuleEntry& module) {
  if (!module.packed) return;
  TOstrelLoggerData data;
  TOstrelModuleOptions unused;
  if (ParseLoggerData(module.packed->data(), module.packed->size(), data, unused)) {
    module.debug = std::move(data.debug);
    module.line_index = BuildLineIndex(module.debug, module.data_version);
  }
  module.packed = nullptr;
}

}  // namespace

const std::vector<uint8_t>& UnpackedDebugStream(TOstrelModuleEntry& module) {
  std::lock_guard guard(DebugStreamLock());
  UnpackLocked(module);
  return module.debug;
}

bool GetSourceLocation(uintptr_t address, TOstrelStackEntry& entry) {
  TraceScope trace("GetSourceLocation", {TraceAddress(address)});
  TOstrelModulePtr module = GetModuleEntryOf(address);
  if (module == nullptr || !module->has_debug) return trace.Result(false);
  {
    std::lock_guard guard(DebugStreamLock());
    UnpackLocked(*module);
    if (!FindSourceLocation(module->debug, module->data_version, module->handle, address, entry,
                            module->line_index.get()))
      return trace.Result(false);
  }
  entry.module = module;
  return trace.Result(true);
}

uintptr_t FindDebugProcAddress(const std::vector<uint8_t>& debug, int version, uintptr_t handle,
                               std::string_view name) {
  if (version < FirstNameTableVersion) return 0;
  Cursor in(debug.data(), debug.size());
  uint32_t n = 0;
  if (!in.Read(n) || n > in.Remaining()) return 0;
  Cursor table(debug.data() + in.Position(), n);
  while (table.Remaining() > 0) {
    std::string record;
    uint32_t offset = 0, unused = 0;
    if (!table.ReadShortString(record) || !table.Read(offset) || !table.Read(unused)) return 0;
    if (record == name) return CodeOffsetToAddress(handle, offset);
  }
  return 0;
}

uintptr_t GetDebugProcAddress(std::string_view name) {
  TOstrelModulePtr own = GetModuleEntryOf(reinterpret_cast<uintptr_t>(&GetDebugProcAddress));
  if (own == nullptr || !own->has_debug) return 0;
  // The name table comes first: it is there whether or not the rest is unpacked.
  std::lock_guard guard(DebugStreamLock());
  return FindDebugProcAddress(own->debug, own->data_version, own->handle, name);
}

void* HookDebugProcedure(std::string_view name, void* replacement) {
  const uintptr_t address = GetDebugProcAddress(name);
  if (address == 0) return nullptr;
  return HookProcedure(reinterpret_cast<void*>(address), replacement, name);
}

void ParseExportName(const std::string& name, TOstrelStackEntry& entry) {
  TraceScope trace("ParseExportName", {name});
  if (name.empty()) return;
  std::string n = name;
  if (n[0] != '@') {
    if (n.find('.') == std::string::npos) {
      if (n[0] == '?') return;
      entry.unit_name.clear();
      entry.class_name.clear();
      entry.procedure_name = n;
      entry.kind = skExport;
      if (entry.procedure_name.starts_with('@')) entry.procedure_name[0] = '_';
      return;
    }
    if (const auto at = n.find('@'); at != std::string::npos) n.erase(at);
  } else {
    if (n.size() < 2 || n[1] == '$') return;
    const auto dollar = n.find('$');
    if (dollar == std::string::npos) return;
    n.erase(dollar);
    if (!n.empty() && n.back() == '@') n.pop_back();
    n.erase(0, 1);
    if (const auto pair = n.find("@@"); pair != std::string::npos) n[pair + 1] = '_';
    for (std::size_t i = 0; i < n.size(); ++i) {
      if (n[i] == '@') {
        n[i] = '.';
        ++i;  // the character after it is kept as it is
      }
    }
  }
  std::vector<std::string> parts;
  for (std::size_t from = 0;;) {
    const auto dot = n.find('.', from);
    parts.push_back(n.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
    if (dot == std::string::npos) break;
    from = dot + 1;
  }
  if (parts.size() == 2) {
    entry.unit_name = parts[0] + ".pas";
    entry.class_name.clear();
    entry.procedure_name = parts[1];
  } else if (parts.size() == 3) {
    entry.unit_name = parts[0] + ".pas";
    entry.class_name = parts[1];
    entry.procedure_name = parts[2];
  } else {
    return;
  }
  entry.kind = skQualified;
  if (entry.procedure_name.starts_with('@')) entry.procedure_name[0] = '_';
}

}  // namespace qv
