#include "net/smtpprot_text.h"

#include <cstdint>
#include <cstdio>

#include "net/md5.h"
#include "net/sha1.h"
#include "platform/base/text.h"

namespace qv::smtp {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

template <std::size_t N>
std::string Hex(const std::uint8_t (&digest)[N]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : digest) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string Md5(std::string_view a, std::string_view b = {}) {
  TMD5Context ctx;
  MD5Init(ctx);
  MD5UpdateBuffer(ctx, a.data(), a.size());
  MD5UpdateBuffer(ctx, b.data(), b.size());
  TMD5Digest d;
  MD5Final(d, ctx);
  return std::string(d.begin(), d.end());
}

}  // namespace

std::string ParseAddress(std::string_view Text) {
  std::string_view s = TrimSpaces(Text);
  // A quoted display name may hold anything, "<" and blanks included.
  if (!s.empty() && (s.front() == '"' || s.front() == '\'')) {
    const auto close = s.find(s.front(), 1);
    s = close == std::string_view::npos ? std::string_view() : TrimSpaces(s.substr(close + 1));
  }
  if (const auto lt = s.find('<'); lt != std::string_view::npos) {
    const auto gt = s.find('>', lt + 1);
    return std::string(
        TrimSpaces(s.substr(lt + 1, gt == std::string_view::npos ? gt : gt - lt - 1)));
  }
  const auto blank = s.find_first_of(" \t");
  if (blank == std::string_view::npos) {
    return s.find('@') == std::string_view::npos ? std::string() : std::string(s);
  }
  // "John Smith john@x": the address is the last word, not everything after the first.
  const auto last = s.find_last_of(" \t");
  return std::string(TrimSpaces(s.substr(last + 1)));
}

std::vector<std::string> SplitAddressList(std::string_view Text) {
  std::vector<std::string> items;
  std::string cur;
  bool quoted = false;
  const auto flush = [&] {
    std::string t(TrimSpaces(cur));
    if (!t.empty()) items.push_back(std::move(t));
    cur.clear();
  };
  for (const char c : Text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ',' || c == ';')) {
      flush();
      continue;
    }
    cur += c;
  }
  flush();
  return items;
}

std::vector<std::string> AddressHeaderLines(std::string_view FieldName, std::string_view List) {
  const auto items = SplitAddressList(List);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::string line = i == 0 ? std::string(FieldName) + " " + items[i] : "\t" + items[i];
    if (i + 1 < items.size()) line += ",";
    lines.push_back(std::move(line));
  }
  return lines;
}

ReplyCode ParseReplyCode(std::string_view Line) {
  ReplyCode r;
  std::size_t i = 0;
  while (i < Line.size() && (IsBlank(Line[i]) || Line[i] == '\r' || Line[i] == '\n')) ++i;
  bool negative = false;
  if (i < Line.size() && (Line[i] == '+' || Line[i] == '-')) negative = Line[i++] == '-';
  long value = 0;
  const std::size_t start = i;
  while (i < Line.size() && Line[i] >= '0' && Line[i] <= '9') {
    if (value < 100000) value = value * 10 + (Line[i] - '0');
    ++i;
  }
  r.HasNumber = i > start;
  r.Code = int(negative ? -value : value);
  r.Continuation = r.HasNumber && i < Line.size() && Line[i] == '-';
  return r;
}

std::string MailDate(std::time_t Utc) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  gmtime_r(&Utc, &t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d %s %4d %02d:%02d:%02d GMT", kDays[t.tm_wday], t.tm_mday,
                kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::string HmacMd5Hex(std::string_view Key, std::string_view Data) {
  std::string key = Key.size() > 64 ? Md5(Key) : std::string(Key);
  key.resize(64, '\0');
  std::string ipad(64, '\0'), opad(64, '\0');
  for (std::size_t i = 0; i < 64; ++i) {
    ipad[i] = char(key[i] ^ 0x36);
    opad[i] = char(key[i] ^ 0x5c);
  }
  const std::string inner = Md5(ipad, Data);
  const std::string outer = Md5(opad, inner);
  std::uint8_t d[16];
  for (std::size_t i = 0; i < 16; ++i) d[i] = std::uint8_t(outer[i]);
  return Hex(d);
}

std::string HmacSha1Hex(std::string_view Key, std::string_view Data) {
  SHA1Digest digest{};
  HMAC_SHA1(Data.data(), Data.size(), Key.data(), digest, Key.size());
  std::uint8_t d[20];
  for (std::size_t i = 0; i < 20; ++i) d[i] = digest[i];
  return Hex(d);
}

bool HasLineBreak(std::string_view Text) {
  return Text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::vector<std::string> DataWireLines(std::string_view Line) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  for (;;) {
    const auto brk = Line.find_first_of("\r\n", pos);
    std::string piece(Line.substr(pos, brk == std::string_view::npos ? brk : brk - pos));
    if (!piece.empty() && piece.front() == '.') piece.insert(piece.begin(), '.');
    out.push_back(std::move(piece));
    if (brk == std::string_view::npos) break;
    pos = brk + (Line[brk] == '\r' && brk + 1 < Line.size() && Line[brk + 1] == '\n' ? 2 : 1);
    // A break at the very end of the line ends it; it adds no empty line.
    if (pos == Line.size()) break;
  }
  return out;
}

}  // namespace qv::smtp
