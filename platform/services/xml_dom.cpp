#include "platform/services/xml_dom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <mutex>

#include "platform/base/streams.h"
#include "platform/base/text.h"

namespace qv {

namespace xml_detail {
struct Doc {
  explicit Doc(xmlDocPtr d) : doc(d) {}
  ~Doc() { xmlFreeDoc(doc); }
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;
  xmlDocPtr doc = nullptr;
};
}  // namespace xml_detail

namespace {

// Documents may name external DTDs and entities; none of them is ever fetched or read.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}

void IgnoreXmlError(void*, xmlErrorPtr) {}

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
  });
}

// Not-well-formed input gives no document; no network, no DTD loading, no entity
// substitution, and no messages on stderr.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

std::string Owned(xmlChar* text) {
  if (text == nullptr) return {};
  std::string s(reinterpret_cast<const char*>(text));
  xmlFree(text);
  return s;
}

}  // namespace

std::string XmlNode::NodeName() const {
  if (node_ == nullptr) return {};
  const auto* n = static_cast<xmlNodePtr>(node_);
  return n->name != nullptr ? reinterpret_cast<const char*>(n->name) : "";
}

std::string XmlNode::Text() const {
  if (node_ == nullptr) return {};
  return std::string(TrimSpaces(Owned(xmlNodeGetContent(static_cast<xmlNodePtr>(node_)))));
}

bool XmlNode::HasAttr(std::string_view name) const {
  if (node_ == nullptr) return false;
  const std::string n(name);
  return xmlHasProp(static_cast<xmlNodePtr>(node_), BAD_CAST n.c_str()) != nullptr;
}

std::string XmlNode::Attr(std::string_view name) const {
  if (node_ == nullptr) return {};
  const auto* n = static_cast<xmlNodePtr>(node_);
  if (n->type != XML_ELEMENT_NODE) return {};
  const std::string key(name);
  return Owned(xmlGetProp(n, BAD_CAST key.c_str()));
}

XmlNodeList XmlNode::SelectNodes(std::string_view xpath) const {
  XmlNodeList list;
  if (node_ == nullptr) return list;
  const std::string expr(xpath);
  xmlXPathContextPtr ctx = xmlXPathNewContext(doc_->doc);
  if (ctx == nullptr) throw EXmlError("Out of memory");
  ctx->node = static_cast<xmlNodePtr>(node_);
  ctx->error = IgnoreXmlError;
  xmlXPathCompExprPtr comp = xmlXPathCtxtCompile(ctx, BAD_CAST expr.c_str());
  if (comp == nullptr) {
    xmlXPathFreeContext(ctx);
    throw EXmlError("Invalid XPath expression: " + expr);
  }
  xmlXPathObjectPtr result = xmlXPathCompiledEval(comp, ctx);
  xmlXPathFreeCompExpr(comp);
  xmlXPathFreeContext(ctx);
  if (result == nullptr) throw EXmlError("Invalid XPath expression: " + expr);
  if (result->type == XPATH_NODESET && result->nodesetval != nullptr) {
    const xmlNodeSetPtr set = result->nodesetval;
    for (int i = 0; i < set->nodeNr; ++i) {
      // Namespace nodes in a node-set are copies owned by the set; they are not offered.
      if (set->nodeTab[i]->type == XML_NAMESPACE_DECL) continue;
      list.nodes_.push_back(XmlNode(doc_, set->nodeTab[i]));
    }
  }
  xmlXPathFreeObject(result);
  return list;
}

XmlNode XmlNode::SelectSingleNode(std::string_view xpath) const {
  return SelectNodes(xpath).Item(0);
}

XmlNode XmlNodeList::Item(int index) const {
  if (index < 0 || index >= Length()) return {};
  return nodes_[static_cast<std::size_t>(index)];
}

XmlDocument::XmlDocument() {
  InitLibxml();
}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::LoadXML(std::string_view text) {
  doc_.reset();
  parseError_.clear();
  if (text.size() > kMaxDocumentBytes) {
    parseError_ = "Document too large";
    return false;
  }
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (ctxt == nullptr) {
    parseError_ = "Out of memory";
    return false;
  }
  xmlDocPtr d = xmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), nullptr,
                                  nullptr, kParseOptions);
  if (d == nullptr || !ctxt->wellFormed) {
    const xmlError* err = xmlCtxtGetLastError(ctxt);
    parseError_ = TrimSpaces(
        err != nullptr && err->message != nullptr ? err->message : "Not a well-formed document");
    if (d != nullptr) xmlFreeDoc(d);
    xmlFreeParserCtxt(ctxt);
    return false;
  }
  xmlFreeParserCtxt(ctxt);
  doc_ = std::make_shared<xml_detail::Doc>(d);
  return true;
}

bool XmlDocument::Load(const std::string& fileName) {
  std::string bytes;
  try {
    bytes = ReadFileBytes(fileName, int64_t(kMaxDocumentBytes));
  } catch (const Exception& e) {
    doc_.reset();
    parseError_ = e.Message();
    return false;
  }
  return LoadXML(bytes);
}

XmlNode XmlDocument::DocumentNode() const {
  if (!doc_) return {};
  return XmlNode(doc_, reinterpret_cast<xmlNodePtr>(doc_->doc));
}

XmlNode XmlDocument::DocumentElement() const {
  if (!doc_) return {};
  xmlNodePtr root = xmlDocGetRootElement(doc_->doc);
  return root != nullptr ? XmlNode(doc_, root) : XmlNode();
}

XmlNodeList XmlDocument::SelectNodes(std::string_view xpath) const {
  return DocumentNode().SelectNodes(xpath);
}

XmlNode XmlDocument::SelectSingleNode(std::string_view xpath) const {
  return DocumentNode().SelectSingleNode(xpath);
}

}  // namespace qv
