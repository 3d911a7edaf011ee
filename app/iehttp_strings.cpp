#include "app/iehttp_strings.h"

#include "platform/base/streams.h"

namespace qv {

std::string Base64Encode(std::string_view S) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((S.size() + 2) / 3 * 4);
  size_t i = 0;
  const auto byte = [&](size_t k) { return uint32_t(static_cast<unsigned char>(S[k])); };
  for (; i + 3 <= S.size(); i += 3) {
    const uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(group >> shift) & 0x3F];
  }
  const size_t rest = S.size() - i;
  if (rest == 0) return out;
  const uint32_t group = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0);
  out += kAlphabet[group >> 18];
  out += kAlphabet[(group >> 12) & 0x3F];
  out += rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
  out += '=';
  return out;
}

void ReplaceAll(std::string& S, std::string_view Find, std::string_view Replacement) {
  // The replacement goes in directly rather than through a place-holder character, which
  // would also have replaced any such character the text already held.
  if (Find.empty() || S.find(Find) == std::string::npos) return;
  std::string out;
  out.reserve(S.size());
  size_t from = 0;
  for (size_t at = S.find(Find); at != std::string::npos; at = S.find(Find, from)) {
    out.append(S, from, at - from);
    out.append(Replacement);
    from = at + Find.size();
  }
  out.append(S, from, std::string::npos);
  S = std::move(out);
}

std::string StreamToString(TStream& Stream) {
  std::string bytes(size_t(Stream.Size()), '\0');
  Stream.SetPosition(0);
  Stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
  return bytes;
}

}  // namespace qv
