// The platform's XML DOM over libxml2, shaped like the COM document the program's code
// was written against: load a text or a file, select nodes by XPath, read a node's text
// or an attribute. Parsing never touches the network, never loads a DTD and never
// substitutes external entities, so a document cannot make the program read a file or a
// URL. A text that is not XML leaves a document without a root, as the COM one does.
// Nodes keep their document alive; a document and its nodes belong to one thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.h"

namespace qv {

// Raised for an XPath expression that does not compile.
class EXmlError : public Exception {
 public:
  using Exception::Exception;
};

namespace xml_detail {
struct Doc;
}

class XmlNodeList;

class XmlNode {
 public:
  XmlNode() = default;

  // A null node stands for "nothing" (no root, no such item).
  [[nodiscard]] bool IsNull() const { return node_ == nullptr; }
  explicit operator bool() const { return node_ != nullptr; }

  [[nodiscard]] std::string NodeName() const;
  // The text of the node and everything below it, without leading and trailing white
  // space ("" for a null node).
  [[nodiscard]] std::string Text() const;
  // The attribute's value; "" when the node or the attribute does not exist.
  [[nodiscard]] std::string Attr(std::string_view name) const;
  [[nodiscard]] bool HasAttr(std::string_view name) const;
  // The nodes the expression selects with this node as the context node; an empty list
  // for a null node. Throws EXmlError for an expression that does not compile.
  [[nodiscard]] XmlNodeList SelectNodes(std::string_view xpath) const;
  // The first node selected, or a null node.
  [[nodiscard]] XmlNode SelectSingleNode(std::string_view xpath) const;

 private:
  friend class XmlDocument;
  XmlNode(std::shared_ptr<xml_detail::Doc> doc, void* node) : doc_(std::move(doc)), node_(node) {}

  std::shared_ptr<xml_detail::Doc> doc_;
  void* node_ = nullptr;  // xmlNode, owned by `doc_`
};

class XmlNodeList {
 public:
  [[nodiscard]] int Length() const { return static_cast<int>(nodes_.size()); }
  // A null node for an index outside the list.
  [[nodiscard]] XmlNode Item(int index) const;
  [[nodiscard]] auto begin() const { return nodes_.begin(); }
  [[nodiscard]] auto end() const { return nodes_.end(); }

 private:
  friend class XmlNode;
  std::vector<XmlNode> nodes_;
};

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Replace the document. False, with a document without a root and the parser's message
  // in ParseError(), when the input is not well-formed XML (or the file cannot be read).
  bool LoadXML(std::string_view text);
  bool Load(const std::string& fileName);

  [[nodiscard]] XmlNode DocumentElement() const;
  // Selection from the document node, so absolute and "//" paths work without a root.
  [[nodiscard]] XmlNodeList SelectNodes(std::string_view xpath) const;
  [[nodiscard]] XmlNode SelectSingleNode(std::string_view xpath) const;
  [[nodiscard]] const std::string& ParseError() const { return parseError_; }

  // Inputs larger than this are refused before parsing.
  static constexpr std::size_t kMaxDocumentBytes = 64u << 20;

 private:
  [[nodiscard]] XmlNode DocumentNode() const;

  std::shared_ptr<xml_detail::Doc> doc_;
  std::string parseError_;
};

}  // namespace qv
