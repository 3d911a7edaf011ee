#include "platform/services/url_cracker.h"

#include <curl/curl.h>

#include <memory>

#include "platform/services/sys_error.h"

namespace qv {

namespace {

struct FreeUrl {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, FreeUrl>;

int ErrorCode(CURLUcode code) {
  switch (code) {
    case CURLUE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case CURLUE_UNSUPPORTED_SCHEME:
    case CURLUE_BAD_SCHEME:
    case CURLUE_NO_SCHEME:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    default:
      return ERROR_INTERNET_INVALID_URL;
  }
}

// The part as written, "" when the URL has none. Any other failure is passed on.
CURLUcode GetPart(CURLU* url, CURLUPart part, unsigned flags, std::string& out, bool* present) {
  char* text = nullptr;
  const CURLUcode rc = curl_url_get(url, part, &text, flags);
  if (present != nullptr) *present = rc == CURLUE_OK;
  switch (rc) {
    case CURLUE_OK:
      out = text;
      curl_free(text);
      return CURLUE_OK;
    case CURLUE_NO_USER:
    case CURLUE_NO_PASSWORD:
    case CURLUE_NO_PORT:
    case CURLUE_NO_QUERY:
    case CURLUE_NO_FRAGMENT:
      out.clear();
      return CURLUE_OK;
    default:
      return rc;
  }
}

bool Unsafe(unsigned char c) {
  if (c == ' ' || c > 0x7E) return true;
  constexpr std::string_view kUnsafe = "\"<>\\^`{|}";
  return kUnsafe.find(char(c)) != std::string_view::npos;
}

std::string Escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (!Unsafe(c)) {
      out += ch;
      continue;
    }
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

int Crack(std::string_view text, uint32_t flags, TURLComponents& out) {
  // The parser reads a C string: a NUL inside would end the URL early.
  if (text.find('\0') != std::string_view::npos) return ERROR_INTERNET_INVALID_URL;
  const UrlHandle url(curl_url());
  if (url == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  // Spaces are taken as they stand so that the escaping below decides what becomes of them.
  CURLUcode rc = curl_url_set(url.get(), CURLUPART_URL, std::string(text).c_str(),
                              CURLU_ALLOW_SPACE | CURLU_PATH_AS_IS);
  if (rc != CURLUE_OK) return ErrorCode(rc);

  std::string port, query, fragment;
  bool hasQuery = false;
  bool hasFragment = false;
  const struct {
    CURLUPart part;
    std::string& dest;
    bool* present;
  } parts[] = {
      {CURLUPART_SCHEME, out.Scheme, nullptr},
      {CURLUPART_HOST, out.HostName, nullptr},
      {CURLUPART_PORT, port, nullptr},
      {CURLUPART_USER, out.UserName, nullptr},
      {CURLUPART_PASSWORD, out.Password, nullptr},
      {CURLUPART_PATH, out.UrlPath, nullptr},
      {CURLUPART_QUERY, query, &hasQuery},
      {CURLUPART_FRAGMENT, fragment, &hasFragment},
  };
  for (const auto& p : parts) {
    rc = GetPart(url.get(), p.part, p.part == CURLUPART_PORT ? CURLU_DEFAULT_PORT : 0, p.dest,
                 p.present);
    if (rc != CURLUE_OK) return ErrorCode(rc);
  }
  // The parser has checked the number (0 to 65535).
  out.Port = port.empty() ? 0 : uint16_t(std::stoul(port));
  if (out.UrlPath.empty()) out.UrlPath = "/";
  if (hasQuery) out.ExtraInfo = "?" + query;
  if (hasFragment) out.ExtraInfo += "#" + fragment;
  if ((flags & ICU_ESCAPE) != 0) {
    out.UrlPath = Escape(out.UrlPath);
    out.ExtraInfo = Escape(out.ExtraInfo);
  }
  return ERROR_SUCCESS;
}

}  // namespace

int InternetCrackUrl(std::string_view url, uint32_t flags, TURLComponents& components) {
  components = TURLComponents{};
  TURLComponents cracked;
  const int error = Crack(url, flags, cracked);
  if (error == ERROR_SUCCESS) components = std::move(cracked);
  return error;
}

}  // namespace qv
