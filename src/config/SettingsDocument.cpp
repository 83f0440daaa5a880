#include "config/SettingsDocument.h"

#include "base/Format.h"
#include "base/Text.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <array>
#include <climits>
#include <memory>
#include <utility>

namespace vx {

void XmlDocDeleter::operator()(xmlDoc* doc) const noexcept {
  xmlFreeDoc(doc);
}

namespace {

// libxml2 strings, freed with xmlFree.
struct XmlCharDeleter {
  void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};
using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharDeleter>;

const xmlChar* XmlText(const std::string& text) {
  return reinterpret_cast<const xmlChar*>(text.c_str());
}

std::string FromXml(const xmlChar* text) {
  return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

// The one place where libxml2's failures become exceptions: its own message for the
// operation when it recorded one, else what we were doing.
[[noreturn]] void RaiseXmlError(const std::string& operation) {
  const xmlError* error = xmlGetLastError();
  std::string message = operation;
  if (error != nullptr && error->message != nullptr) {
    std::string detail = error->message;
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) {
      detail.pop_back();
    }
    message += ": " + detail;
  }
  xmlResetLastError();
  throw EXMLError(message);
}

void EnsureXmlLibrary() {
  static const bool ready = [] {
    xmlInitParser();
    return true;
  }();
  (void)ready;
}

xmlParserInputPtr NoExternalEntity(const char* /*url*/, const char* /*id*/,
                                   xmlParserCtxtPtr /*context*/) {
  return nullptr;
}

void IgnoreGenericError(void* /*context*/, const char* /*message*/, ...) {}
void IgnoreStructuredError(void* /*context*/, xmlErrorPtr /*error*/) {}

// While it lives, libxml2 loads no external resource, whatever the parser options say (a
// settings file never needs one, and reading local files or the network on its behalf
// is a leak), and prints nothing: its last error is still recorded for RaiseXmlError.
class QuietXmlLibrary {
 public:
  QuietXmlLibrary()
      : loader_(xmlGetExternalEntityLoader()),
        generic_(xmlGenericError),
        genericContext_(xmlGenericErrorContext),
        structured_(xmlStructuredError),
        structuredContext_(xmlStructuredErrorContext) {
    xmlSetExternalEntityLoader(NoExternalEntity);
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    xmlSetStructuredErrorFunc(nullptr, IgnoreStructuredError);
  }
  ~QuietXmlLibrary() {
    xmlSetExternalEntityLoader(loader_);
    xmlSetGenericErrorFunc(genericContext_, generic_);
    xmlSetStructuredErrorFunc(structuredContext_, structured_);
  }
  QuietXmlLibrary(const QuietXmlLibrary&) = delete;
  QuietXmlLibrary& operator=(const QuietXmlLibrary&) = delete;

 private:
  xmlExternalEntityLoader loader_;
  xmlGenericErrorFunc generic_;
  void* genericContext_;
  xmlStructuredErrorFunc structured_;
  void* structuredContext_;
};

struct XmlParserDeleter {
  void operator()(xmlParserCtxt* parser) const noexcept { xmlFreeParserCtxt(parser); }
};
using XmlParserPtr = std::unique_ptr<xmlParserCtxt, XmlParserDeleter>;

// Called for every entity declaration of the document type: notes it and stops the
// parser there, before any reference to it is read.
void RefuseEntity(void* context, const xmlChar* /*name*/, int /*type*/, const xmlChar* /*publicId*/,
                  const xmlChar* /*systemId*/, xmlChar* /*content*/) {
  auto* parser = static_cast<xmlParserCtxt*>(context);
  *static_cast<bool*>(parser->_private) = true;
  xmlStopParser(parser);
}

void RefuseUnparsedEntity(void* context, const xmlChar* name, const xmlChar* publicId,
                          const xmlChar* systemId, const xmlChar* /*notationName*/) {
  RefuseEntity(context, name, 0, publicId, systemId, nullptr);
}

// libxml2's complaint about the text it could not parse, with the line.
std::string ParserProblem(xmlParserCtxt* parser) {
  const xmlError* error = xmlCtxtGetLastError(parser);
  if (error == nullptr || error->message == nullptr) {
    return "it is not well-formed XML";
  }
  std::string message = error->message;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  return Format("%s (line %d)", message, error->line);
}

int AppendToText(void* text, const char* buffer, int length) {
  static_cast<std::string*>(text)->append(buffer, static_cast<std::size_t>(length));
  return length;
}

// Whether a saved file can carry text: UTF-8 of characters that XML 1.0 allows. Anything
// else would be written as a file that no parser reads back.
bool IsXmlText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    char32_t code = byte;
    if (byte >= 0x80) {
      if ((byte & 0xE0) == 0xC0) {
        length = 2;
        code = byte & 0x1FU;
      } else if ((byte & 0xF0) == 0xE0) {
        length = 3;
        code = byte & 0x0FU;
      } else if ((byte & 0xF8) == 0xF0) {
        length = 4;
        code = byte & 0x07U;
      } else {
        length = 0;
      }
      if (length == 0 || i + length > text.size()) {
        code = 0xFFFFFFFF;
      } else {
        for (std::size_t k = 1; k < length; ++k) {
          const auto next = static_cast<unsigned char>(text[i + k]);
          if ((next & 0xC0) != 0x80) {
            code = 0xFFFFFFFF;
            break;
          }
          code = (code << 6) | (next & 0x3FU);
        }
        // Overlong forms are not UTF-8.
        static constexpr std::array<char32_t, 5> kLowest = {0, 0, 0x80, 0x800, 0x10000};
        if (code != 0xFFFFFFFF && code < kLowest[length]) {
          code = 0xFFFFFFFF;
        }
      }
    }
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD ||
                         (code >= 0x20 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
                         (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed) {
      return false;
    }
    i += length;
  }
  return true;
}

// Names that the writer can put into a file that loads again.
void CheckXmlName(std::string_view name) {
  const std::string text(name);
  if (!IsXmlText(text) || xmlValidateName(XmlText(text), 0) != 0) {
    throw EXMLError(Format("'%s' is not a valid XML name", text));
  }
}

bool NameIs(const xmlNode* node, std::string_view name) {
  if (node == nullptr || node->type != XML_ELEMENT_NODE) {
    return false;
  }
  return NodeName(node) == name;
}

}  // namespace

// ---- Document and text ---------------------------------------------------------------

XmlDocPtr NewSettingsDocument() {
  EnsureXmlLibrary();
  XmlDocPtr doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
  if (!doc) {
    RaiseXmlError("Cannot create a document");
  }
  return doc;
}

TSettingsFileContent ParseSettingsText(std::string_view text) {
  EnsureXmlLibrary();
  TSettingsFileContent content;
  content.State = TSettingsFileState::Unreadable;
  if (text.size() > kMaxSettingsFileSize || text.size() > static_cast<std::size_t>(INT_MAX)) {
    content.Problem = "it is larger than 16 MiB";
    content.Doc = NewSettingsDocument();
    return content;
  }
  const QuietXmlLibrary quiet;
  const XmlParserPtr parser(xmlNewParserCtxt());
  if (!parser || parser->sax == nullptr) {
    RaiseXmlError("Cannot create a parser");
  }
  bool declaresEntities = false;
  parser->_private = &declaresEntities;
  parser->sax->entityDecl = RefuseEntity;
  parser->sax->unparsedEntityDecl = RefuseUnparsedEntity;
  // Neither XML_PARSE_NOENT nor XML_PARSE_DTDLOAD: no external DTD is read. Blank text
  // between elements goes, so that saving can indent.
  constexpr int kOptions =
      XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  XmlDocPtr doc(xmlCtxtReadMemory(parser.get(), text.data(), static_cast<int>(text.size()), nullptr,
                                  nullptr, kOptions));
  if (doc && !declaresEntities) {
    content.Doc = std::move(doc);
    content.State = TSettingsFileState::Loaded;
  } else if (declaresEntities) {
    content.Problem = "its document type declares entities, which are not accepted";
  } else {
    content.Problem = ParserProblem(parser.get());
  }
  xmlResetLastError();
  if (!content.Doc) {
    content.Doc = NewSettingsDocument();
  }
  return content;
}

std::string SettingsDocumentText(xmlDoc* doc) {
  // Declared as UTF-8, which is what the tree holds: the writer then converts nothing.
  // The document owns its encoding text, though libxml2 declares it const.
  xmlFree(const_cast<xmlChar*>(doc->encoding));  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  doc->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("UTF-8"));
  std::string text;
  const QuietXmlLibrary quiet;
  xmlSaveCtxtPtr save = xmlSaveToIO(AppendToText, nullptr, &text, nullptr, XML_SAVE_FORMAT);
  if (save == nullptr) {
    RaiseXmlError("Cannot write the document");
  }
  const long written = xmlSaveDoc(save, doc);
  if (xmlSaveClose(save) < 0 || written < 0) {
    RaiseXmlError("Cannot write the document");
  }
  return text;
}

// ---- Nodes ----------------------------------------------------------------------------

std::string NodeName(const xmlNode* node) {
  if (node == nullptr) {
    return "";
  }
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
      if (node->ns != nullptr && node->ns->prefix != nullptr) {
        return FromXml(node->ns->prefix) + ":" + FromXml(node->name);
      }
      return FromXml(node->name);
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      return "#document";
    case XML_DOCUMENT_FRAG_NODE:
      return "#document-fragment";
    default:
      return FromXml(node->name);
  }
}

xmlNode* FindSettingsRoot(xmlDoc* doc) {
  if (doc == nullptr) {
    return nullptr;
  }
  for (xmlNode* node = doc->children; node != nullptr; node = node->next) {
    if (NameIs(node, kSettingsRootName)) {
      return node;
    }
  }
  return nullptr;
}

xmlNode* AppendDocumentElement(xmlDoc* doc, std::string_view name) {
  for (const xmlNode* node = doc->children; node != nullptr; node = node->next) {
    if (node->type == XML_ELEMENT_NODE) {
      throw EXMLError("Only one top level element is allowed in an XML document.");
    }
  }
  CheckXmlName(name);
  xmlNode* element = xmlNewDocNode(doc, nullptr, XmlText(std::string(name)), nullptr);
  if (element == nullptr) {
    RaiseXmlError(Format("Cannot create the element %s", std::string(name)));
  }
  if (xmlAddChild(reinterpret_cast<xmlNode*>(doc), element) == nullptr) {
    xmlFreeNode(element);
    RaiseXmlError(Format("Cannot add the element %s", std::string(name)));
  }
  return element;
}

std::vector<xmlNode*> SelectNodes(xmlNode* node, std::string_view path) {
  std::vector<xmlNode*> current{node};
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::string_view step = path.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    std::vector<xmlNode*> next;
    for (xmlNode* parent : current) {
      for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (NameIs(child, step)) {
          next.push_back(child);
        }
      }
    }
    current = std::move(next);
    if (slash == std::string_view::npos || current.empty()) {
      break;
    }
    start = slash + 1;
  }
  return current;
}

xmlNode* SelectSingleNode(xmlNode* node, std::string_view path) {
  const std::size_t slash = path.find('/');
  if (slash == std::string_view::npos) {
    return FindChild(node, path);
  }
  // The first match in document order lies below the first parent that has one.
  const std::string_view step = path.substr(0, slash);
  for (xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (NameIs(child, step)) {
      if (xmlNode* found = SelectSingleNode(child, path.substr(slash + 1))) {
        return found;
      }
    }
  }
  return nullptr;
}

xmlNode* FindChild(xmlNode* node, std::string_view name) {
  for (xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (NameIs(child, name)) {
      return child;
    }
  }
  return nullptr;
}

std::string NodeText(const xmlNode* node) {
  const XmlCharPtr content(xmlNodeGetContent(node));
  return std::string(Trim(FromXml(content.get())));
}

std::string GetNodeText(xmlNode* node, std::string_view path, std::string_view def) {
  const xmlNode* found = SelectSingleNode(node, path);
  if (found == nullptr) {
    return std::string(def);
  }
  return NodeText(found);
}

std::string GetAttrText(xmlNode* node, std::string_view name, std::string_view def) {
  for (xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
    if (NodeName(reinterpret_cast<const xmlNode*>(attribute)) == name) {
      return NodeText(reinterpret_cast<const xmlNode*>(attribute));
    }
  }
  return std::string(def);
}

xmlNode* SetChildText(xmlNode* parent, std::string_view name, std::string_view value, bool reuse) {
  if (!IsXmlText(value)) {
    throw EXMLError(Format("Invalid character in the text of the element %s", std::string(name)));
  }
  xmlNode* element = reuse ? FindChild(parent, name) : nullptr;
  if (element == nullptr) {
    CheckXmlName(name);
    element = xmlNewDocNode(parent->doc, nullptr, XmlText(std::string(name)), nullptr);
    if (element == nullptr) {
      RaiseXmlError(Format("Cannot create the element %s", std::string(name)));
    }
  } else {
    xmlUnlinkNode(element);
  }
  // Content goes in as a text node: raw text that the writer escapes, never markup.
  xmlNodeSetContent(element, nullptr);
  if (!value.empty()) {
    xmlNode* text = xmlNewDocTextLen(parent->doc, reinterpret_cast<const xmlChar*>(value.data()),
                                     static_cast<int>(value.size()));
    if (text == nullptr || xmlAddChild(element, text) == nullptr) {
      xmlFreeNode(text);
      xmlFreeNode(element);
      RaiseXmlError(Format("Cannot set the text of %s", std::string(name)));
    }
  }
  if (xmlAddChild(parent, element) == nullptr) {
    xmlFreeNode(element);
    RaiseXmlError(Format("Cannot add the element %s", std::string(name)));
  }
  return element;
}

xmlAttr* SetAttrText(xmlNode* element, std::string_view name, std::string_view value) {
  CheckXmlName(name);
  if (!IsXmlText(value)) {
    throw EXMLError(Format("Invalid character in the text of the attribute %s", std::string(name)));
  }
  xmlAttr* attribute = xmlSetProp(element, XmlText(std::string(name)), XmlText(std::string(value)));
  if (attribute == nullptr) {
    RaiseXmlError(Format("Cannot set the attribute %s", std::string(name)));
  }
  return attribute;
}

void RemoveNode(xmlNode* child) {
  xmlUnlinkNode(child);
  xmlFreeNode(child);
}

}  // namespace vx
