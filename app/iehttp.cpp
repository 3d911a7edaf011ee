#include "app/iehttp.h"

#include <algorithm>

#include "app/iehttp_strings.h"
#include "platform/base/streams.h"
#include "platform/base/text.h"
#include "platform/services/sys_error.h"

namespace qv {

namespace {

constexpr char kMultipartType[] =
    "multipart/form-data; boundary=-----------------------------7cf87224d2020a";
constexpr char kFormType[] = "application/x-www-form-urlencoded";
constexpr size_t kBase64Line = 64;

}  // namespace

void TIEHTTP::SetURL(const std::string& Value) {
  url_ = Value;
  if (url_.empty()) {
    components_ = TURLComponents{};
    return;
  }
  if (LowerCase(url_).find("://") == std::string::npos) url_ = "http://" + url_;
  CrackURL();
}

// The parts are strings of their own length, however long the URL, and a URL without a path
// asks for "/" (the cracker says so) rather than being refused.
void TIEHTTP::CrackURL() {
  const int error = InternetCrackUrl(url_, ICU_ESCAPE, components_);
  if (error != ERROR_SUCCESS) {
    throw Exception("TIE: Invalid URL. Error - " + std::to_string(error) + " = " +
                    SysErrorMessage(error));
  }
  // A "+" in the query is meant as itself, not as the space of a form encoding.
  std::string& extra = components_.ExtraInfo;
  const size_t queryEnd = std::min(extra.find('#'), extra.size());
  std::string query = extra.substr(0, queryEnd);
  ReplaceAll(query, "+", "%2B");
  extra.replace(0, queryEnd, query);
  if (components_.UserName.empty() && !userName_.empty()) {
    components_.UserName = userName_;
    components_.Password = password_;
  }
}

void TIEHTTP::SetRequestMethod(const std::string& Value) {
  requestMethod_ = UpperCase(Value);
  if (requestMethod_ == "POST") {
    contentType_ = multipartPOST_ ? kMultipartType : kFormType;
  } else if (requestMethod_ == "GET") {
    contentType_.clear();
  }
}

void TIEHTTP::SetMultipartPOST(bool Value) {
  multipartPOST_ = Value;
  // Turning it off keeps the method but must not leave a POST with the multipart type.
  if (Value || requestMethod_ == "POST") SetRequestMethod("POST");
}

void TIEHTTP::AddMultipartVar(const std::string& Name, const std::string& Value) {
  if (!multipartPOST_) throw Exception("tIE not in multipart mode");
  multipartVars_.push_back({Name, Value});
}

void TIEHTTP::AddMultipartFile(const std::string& Name, const std::string& FileName) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->LoadFromFile(FileName);
  AddMultipartStream(Name, std::move(stream));
}

void TIEHTTP::AddMultipartStream(const std::string& Name, std::unique_ptr<TStream> Stream) {
  const std::string bytes = StreamToString(*Stream);
  Stream.reset();
  const std::string encoded = Base64Encode(bytes);
  std::string value;
  value.reserve(encoded.size() + encoded.size() / kBase64Line);
  for (size_t at = 0; at < encoded.size(); at += kBase64Line) {
    value.append(encoded, at, kBase64Line);
    if (at + kBase64Line <= encoded.size()) value += '\r';
  }
  AddMultipartVar(Name, value);
}

}  // namespace qv
