// `THTMLParser`, the HTML parser component, holds a page's lines (`HTML`) and the lists the
// results of a parse are sorted into (`Parsed`): links by kind, images, e-mail addresses,
// frame pages, local and remote references per kind of content, and the page's title,
// keywords and description. No parse is made here and no event is raised. Each object owns
// its lists for its whole life; owned by its form, main thread only.
#pragma once

#include <functional>
#include <string>

#include "platform/base/component.h"
#include "platform/base/stringlist.h"

namespace qv {

// References of one kind of content: those on the page's own site and those elsewhere.
class TLocalRemote : public TPersistent {
 public:
  [[nodiscard]] std::string ClassName() const override { return "TLocalRemote"; }
  [[nodiscard]] TStrings& Local() { return local_; }
  [[nodiscard]] TStrings& Remote() { return remote_; }

 private:
  TStrings local_;
  TStrings remote_;
};

class TParsed : public TPersistent {
 public:
  [[nodiscard]] std::string ClassName() const override { return "TParsed"; }

  [[nodiscard]] TStrings& Hyperlinks() { return hyperlinks_; }
  [[nodiscard]] TStrings& Images() { return images_; }
  [[nodiscard]] TStrings& EMails() { return eMails_; }
  [[nodiscard]] TStrings& HTTPlinks() { return httpLinks_; }
  [[nodiscard]] TStrings& FTPlinks() { return ftpLinks_; }
  [[nodiscard]] TStrings& Locallinks() { return localLinks_; }
  [[nodiscard]] TStrings& FramePages() { return framePages_; }

  [[nodiscard]] TLocalRemote& HTML() { return html_; }
  [[nodiscard]] TLocalRemote& Image() { return image_; }
  [[nodiscard]] TLocalRemote& Media() { return media_; }
  [[nodiscard]] TLocalRemote& Java() { return java_; }
  [[nodiscard]] TLocalRemote& ActiveX() { return activeX_; }
  [[nodiscard]] TLocalRemote& ASP() { return asp_; }
  [[nodiscard]] TLocalRemote& PHP() { return php_; }
  [[nodiscard]] TLocalRemote& PERL() { return perl_; }

  std::string Title;
  std::string Keyword;
  std::string Description;

 private:
  TStrings hyperlinks_, images_, eMails_, httpLinks_, ftpLinks_, localLinks_, framePages_;
  TLocalRemote html_, image_, media_, java_, activeX_, asp_, php_, perl_;
};

using TOnParsing = std::function<void(TComponent* Sender, int Lines, int Total)>;
using TOnFoundHyperlink = std::function<void(TComponent* Sender, const std::string& Hyperlink)>;
using TOnFoundTag = std::function<void(TComponent* Sender, const std::string& Tag)>;
using TOnFoundText = std::function<void(TComponent* Sender, const std::string& Text)>;
using TOnFoundComment = std::function<void(TComponent* Sender, const std::string& Comment)>;

class THTMLParser : public TComponent {
 public:
  explicit THTMLParser(TComponent* owner) : TComponent(owner) {}
  [[nodiscard]] std::string ClassName() const override { return "THTMLParser"; }

  [[nodiscard]] const TStrings& HTML() const { return html_; }
  [[nodiscard]] TStrings& HTML() { return html_; }
  // Empties the page and copies the lines of `Value` (its own lines stay as they are).
  void SetHTML(const TStrings& Value);
  [[nodiscard]] TParsed& Parsed() { return parsed_; }

  TOnParsing OnParsing;
  TOnFoundHyperlink OnFoundHyperlink;
  TOnFoundTag OnFoundTag;
  TOnFoundText OnFoundText;
  TOnFoundComment OnFoundComment;

 private:
  TStrings html_;
  TParsed parsed_;
};

}  // namespace qv
