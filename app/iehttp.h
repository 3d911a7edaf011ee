// `TIEHTTP`, the WinInet-style HTTP request component, on its configuration side: the URL
// cracked into its parts, the request method with the content type it implies, and the form
// variables of a multipart POST (files and streams go in as Base64). No request is sent from
// here. Owned by its form; main thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/component.h"
#include "platform/base/streams.h"
#include "platform/base/stringlist.h"
#include "platform/services/url_cracker.h"

namespace qv {

class TStream;

using TNotifyEvent = std::function<void(TComponent* Sender)>;

// One variable of a multipart POST.
struct TMultipartVar {
  std::string Name;
  std::string Value;
};

class TIEHTTP : public TComponent {
 public:
  explicit TIEHTTP(TComponent* owner) : TComponent(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "TIEHTTP"; }

  [[nodiscard]] const std::string& URL() const { return url_; }
  // Stores the URL, with "http://" in front when it names no scheme, and cracks it, escaping
  // what a URL may not carry. A malformed URL raises Exception "TIE: Invalid URL. Error - <code>
  // = <text>" (the URL stays stored, its parts empty). "" clears the parts.
  void SetURL(const std::string& Value);
  // The parts of the URL as the last SetURL cracked them.
  [[nodiscard]] const TURLComponents& URLComponents() const { return components_; }

  [[nodiscard]] const std::string& RequestMethod() const { return requestMethod_; }
  // Stored upper-cased. "POST" sets the content type of a form post (multipart or URL-encoded,
  // after MultipartPOST), "GET" clears it; other methods leave it.
  void SetRequestMethod(const std::string& Value);
  [[nodiscard]] const std::string& ContentType() const { return contentType_; }

  [[nodiscard]] bool MultipartPOST() const { return multipartPOST_; }
  // On makes the request method "POST"; either way a POST's content type follows.
  void SetMultipartPOST(bool Value);

  std::string postStr;
  std::string getStr;
  TNotifyEvent OnPacketRead;  // never raised: no request is sent

  // Appends a variable; raises Exception "tIE not in multipart mode" unless MultipartPOST.
  void AddMultipartVar(const std::string& Name, const std::string& Value);
  // The file's bytes as AddMultipartStream adds them; EFOpenError when it cannot be read.
  void AddMultipartFile(const std::string& Name, const std::string& FileName);
  // Takes the stream over: its whole content in Base64, with a carriage return (alone) after
  // every 64th character, becomes the variable's value.
  void AddMultipartStream(const std::string& Name, std::unique_ptr<TStream> Stream);
  [[nodiscard]] const std::vector<TMultipartVar>& MultipartVars() const { return multipartVars_; }

  // The request side's state, kept for a request that is never sent: the agent name it would
  // give and the size of the buffer an answer would be received in.
  [[nodiscard]] const std::string& AgentName() const { return agentName_; }
  [[nodiscard]] std::size_t ReceiveBufferSize() const { return receiveBuffer_.size(); }

 private:
  void CrackURL();

  std::string url_;
  std::string requestMethod_ = "GET";
  bool multipartPOST_ = false;
  std::string contentType_;
  TURLComponents components_;
  // Credentials for a URL that names none; nothing in the program sets them.
  std::string userName_;
  std::string password_;
  std::vector<TMultipartVar> multipartVars_;
  // Unused while no request is sent.
  std::string agentName_ = "tiehttp";
  std::array<char, 4096> receiveBuffer_{};
  TMemoryStream stream_;
  TStringList list1_;
  TStringList list2_;
  TStringList list3_;
};

}  // namespace qv
