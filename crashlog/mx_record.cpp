#include "crashlog/mx_record.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/random.h>

#include <mutex>
#include <optional>
#include <sstream>

#include "crashlog/client_socket.h"
#include "crashlog/trace_log.h"
#include "platform/base/streams.h"

namespace qv {
namespace {

constexpr uint16_t kTypeMX = 15;
constexpr uint16_t kClassIN = 1;
constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxName = 255;

struct SettingsState {
  std::mutex lock;
  TMXLookupSettings settings;
};

SettingsState& Settings() {
  static SettingsState* state = new SettingsState;  // used from the report at any time
  return *state;
}

// Bounded reading of one datagram.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> data) : data_(data) {}
  [[nodiscard]] size_t Size() const { return data_.size(); }
  [[nodiscard]] bool Has(size_t pos, size_t count) const {
    return pos <= data_.size() && count <= data_.size() - pos;
  }
  [[nodiscard]] uint16_t U16(size_t pos) const {
    return static_cast<uint16_t>(data_[pos] << 8 | data_[pos + 1]);
  }
  [[nodiscard]] uint8_t U8(size_t pos) const { return data_[pos]; }

  // Decodes the name at `pos` into `name` (labels joined by "."), following compression
  // pointers only backwards, so every name ends. Sets `next` to the position after the
  // name as it is stored at `pos`. False for a malformed name.
  bool Name(size_t pos, std::string& name, size_t& next) const {
    name.clear();
    std::optional<size_t> after_pointer;
    size_t label_start = pos;
    size_t length = 1;  // the root label's byte
    for (;;) {
      if (!Has(pos, 1)) return false;
      const uint8_t l = U8(pos);
      if ((l & 0xC0) == 0xC0) {
        if (!Has(pos, 2)) return false;
        const size_t target = size_t(l & 0x3F) << 8 | U8(pos + 1);
        if (target >= label_start) return false;  // a loop, or a forward jump
        if (!after_pointer) after_pointer = pos + 2;
        pos = label_start = target;
        continue;
      }
      if ((l & 0xC0) != 0) return false;  // reserved label types
      if (l == 0) {
        next = after_pointer ? *after_pointer : pos + 1;
        return true;
      }
      if (!Has(pos + 1, l)) return false;
      length += l + 1u;
      if (length > kMaxName) return false;
      if (!name.empty()) name += '.';
      name.append(reinterpret_cast<const char*>(data_.data() + pos + 1), l);
      pos += 1u + l;
    }
  }

 private:
  std::span<const uint8_t> data_;
};

// The best exchange, or nothing when the datagram is not the answer to query `id`.
std::optional<std::string> ParseAnswer(std::span<const uint8_t> data, uint16_t id) {
  const Reader r(data);
  if (!r.Has(0, kHeaderSize) || r.U16(0) != id) return std::nullopt;
  const uint16_t flags = r.U16(2);
  if ((flags & 0x8000) == 0) return std::nullopt;  // a query, not an answer
  std::string best;
  if ((flags & 0x000F) != 0) return best;  // the server's error (e.g. no such domain)
  size_t pos = kHeaderSize;
  std::string name;
  for (uint16_t q = r.U16(4); q > 0; --q) {
    if (!r.Name(pos, name, pos) || !r.Has(pos, 4)) return best;
    pos += 4;
  }
  int best_preference = -1;
  // A truncated answer still holds whole records before the cut; they are used.
  for (uint16_t a = r.U16(6); a > 0; --a) {
    if (!r.Name(pos, name, pos) || !r.Has(pos, 10)) break;
    const uint16_t type = r.U16(pos);
    const uint16_t klass = r.U16(pos + 2);
    const uint16_t rdlength = r.U16(pos + 8);
    const size_t rdata = pos + 10;
    if (!r.Has(rdata, rdlength)) break;
    pos = rdata + rdlength;
    if (type != kTypeMX || klass != kClassIN || rdlength < 3) continue;
    const uint16_t preference = r.U16(rdata);
    size_t end = 0;
    std::string exchange;
    // The exchange must start inside the record; its pointers may reach earlier names.
    if (!r.Name(rdata + 2, exchange, end) || end > pos || exchange.empty()) continue;
    if (best_preference < 0 || preference < best_preference) {
      best_preference = preference;
      best = exchange;
    }
  }
  return best;
}

uint16_t RandomId() {
  uint16_t id = 0;
  if (::getrandom(&id, sizeof id, 0) != sizeof id) {
    id = static_cast<uint16_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  return id;
}

// One query to one server; the socket's helpers give the bounded waits.
class TDnsSocket : public TOstrelClientSocket {
 public:
  TDnsSocket(std::string server, uint32_t timeout, uint16_t port)
      : TOstrelClientSocket(std::move(server), timeout, false, port) {}

  std::string Ask(std::string_view domain) {
    const uint16_t id = RandomId();
    const std::string query = BuildMXQuery(domain, id);
    if (query.empty()) return {};
    Connect();
    if (SendString(query) != int(query.size())) return {};
    const auto deadline = Deadline();
    uint8_t buffer[65536];
    for (;;) {
      // Datagrams that do not answer this query (a late answer to an earlier one, a
      // forged one) are dropped and the wait goes on.
      if (!WaitFor(POLLIN, deadline)) Error("Socket timeout.");
      const int n = ReceiveBuffer(buffer, sizeof buffer);
      if (n <= 0) continue;
      if (auto exchange = ParseAnswer({buffer, size_t(n)}, id)) return *exchange;
    }
  }
};

}  // namespace

void SetMXLookupSettings(TMXLookupSettings settings) {
  std::lock_guard lock(Settings().lock);
  Settings().settings = std::move(settings);
}

TMXLookupSettings MXLookupSettings() {
  std::lock_guard lock(Settings().lock);
  return Settings().settings;
}

std::vector<std::string> DnsServersFromFile(const std::string& path) {
  std::vector<std::string> servers;
  // A resolver file is a few lines; anything that is not a regular file of sane size gives
  // no servers (the fixed fallback is used then).
  std::string text;
  try {
    text = ReadFileBytes(path, int64_t(1) << 20);
  } catch (const std::exception&) {
    return servers;
  }
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string key, value;
    if (!(words >> key >> value) || key != "nameserver") continue;
    in_addr address{};
    if (::inet_pton(AF_INET, value.c_str(), &address) != 1) continue;  // IPv6 or junk
    if (address.s_addr == htonl(INADDR_ANY)) continue;
    servers.push_back(value);
  }
  return servers;
}

std::string BuildMXQuery(std::string_view domain, uint16_t id) {
  TraceScope trace("BuildMXQuery", {domain, int(id)});
  std::string q;
  const auto u16 = [&q](uint16_t v) {
    q += char(v >> 8);
    q += char(v & 0xFF);
  };
  u16(id);
  u16(0x0100);  // recursion desired
  u16(1);
  u16(0);
  u16(0);
  u16(0);
  size_t start = 0;
  size_t name_length = 1;
  while (start <= domain.size()) {
    size_t dot = domain.find('.', start);
    if (dot == std::string_view::npos) dot = domain.size();
    const std::string_view label = domain.substr(start, dot - start);
    start = dot + 1;
    if (label.empty()) continue;  // "a..b" and a trailing dot
    if (label.size() > 63) {
      trace.Result(0);
      return {};
    }
    name_length += label.size() + 1;
    q += char(label.size());
    q += label;
  }
  if (name_length == 1 || name_length > kMaxName) {
    trace.Result(0);
    return {};
  }
  q += '\0';
  u16(kTypeMX);
  u16(kClassIN);
  // A packet, not text: its size.
  trace.Result(int(q.size()));
  return q;
}

std::string ParseMXAnswer(std::span<const uint8_t> answer, uint16_t id) {
  return ParseAnswer(answer, id).value_or(std::string());
}

std::string ResolveMXRecord(std::string_view address) {
  TraceScope trace("ResolveMXRecord", {address});
  const size_t at = address.find('@');
  const std::string domain(at == std::string_view::npos ? address : address.substr(at + 1));
  const TMXLookupSettings settings = MXLookupSettings();
  std::vector<std::string> servers = DnsServersFromFile(settings.ResolvConf);
  if (!settings.FallbackServer.empty()) servers.push_back(settings.FallbackServer);
  for (const std::string& server : servers) {
    TraceLog("ResolveMXRecord", {domain, server}, 0);
    TDnsSocket socket(server, settings.Timeout, settings.DnsPort);
    std::string exchange = socket.Ask(domain);
    if (!exchange.empty()) return trace.Result(exchange);
  }
  throw EOstrelSocketError("Cannot resolve the \"" + domain + "\" MX record.");
}

}  // namespace qv
