#pragma once

#include "base/Exceptions.h"
#include "config/XmlTypes.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Settings documents in libxml2: their owners, parsing and writing text with libxml2
// kept quiet and away from anything outside the text, the check of what a file can
// hold, and the node operations that every section reader and writer uses.

namespace vx {

// A failing operation on a settings document, with libxml2's message or ours.
VORLIXA_DECLARE_EXCEPTION(EXMLError, Exception);

struct XmlDocDeleter {
  void operator()(xmlDoc* doc) const noexcept;
};
// A settings document; its nodes live as long as it does.
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocDeleter>;

inline constexpr const char* kSettingsRootName = "Vorlixa";
// Larger settings files are refused: no real configuration comes near it, and a
// runaway file must not stall the program at start.
inline constexpr std::size_t kMaxSettingsFileSize = std::size_t{16} * 1024 * 1024;

// ---------------------------------------------------------------------------------------
// The document and its text.

// An empty document.
XmlDocPtr NewSettingsDocument();

enum class TSettingsFileState {
  Missing,     // no file of that name
  Loaded,      // a well-formed document
  Unreadable,  // a file that cannot be read or is no document we accept
};

// What reading a settings text or file gave.
struct TSettingsFileContent {
  XmlDocPtr Doc;  // an empty document unless Loaded
  TSettingsFileState State = TSettingsFileState::Missing;
  std::string Problem;  // why it is Unreadable, for people
};

// Parses text. Text that is not well-formed XML, or whose document type declares
// entities, is Unreadable: entities are refused before the body is parsed, so that no
// reference can be expanded into more text than the file holds. Reads nothing from the
// network, loads no external entity and no external DTD, and never prints libxml2's
// complaints.
TSettingsFileContent ParseSettingsText(std::string_view text);

// The document as UTF-8 text with an XML declaration and indentation by libxml2.
std::string SettingsDocumentText(xmlDoc* doc);

// ---------------------------------------------------------------------------------------
// Nodes. Names are compared exactly, letter case included; an element's name carries its
// namespace prefix ("a:Port") as written.

// The node's name as a document tree shows it: the qualified name of an element or
// attribute, the target of a processing instruction, "#text", "#comment" and so on.
std::string NodeName(const xmlNode* node);

// The first top-level element of doc named exactly kSettingsRootName, or nullptr.
xmlNode* FindSettingsRoot(xmlDoc* doc);

// Appends a new top-level element. Raises EXMLError when doc already has one, as a
// document holds only one.
xmlNode* AppendDocumentElement(xmlDoc* doc, std::string_view name);

// Every element that the relative child path ("Ports/Port") selects below node, in
// document order.
std::vector<xmlNode*> SelectNodes(xmlNode* node, std::string_view path);
// The first of them, or nullptr.
xmlNode* SelectSingleNode(xmlNode* node, std::string_view path);
// The first element child of node named name, or nullptr.
xmlNode* FindChild(xmlNode* node, std::string_view name);

// The concatenated text of everything inside node, without leading and trailing white
// space (which the program never writes, and an indenting writer may add).
std::string NodeText(const xmlNode* node);

// NodeText of the first element that path selects below node; def when nothing matches.
std::string GetNodeText(xmlNode* node, std::string_view path, std::string_view def);

// The text of node's attribute name; def when node has none.
std::string GetAttrText(xmlNode* node, std::string_view name, std::string_view def);

// Sets value as the only content of a child element name of parent and appends that
// element as parent's last child. With reuse, the first child of that name is taken
// (and so moved to the end); otherwise, or when there is none, a new element is made.
xmlNode* SetChildText(xmlNode* parent, std::string_view name, std::string_view value, bool reuse);

// Sets the attribute name of element to value, replacing one of the same name.
xmlAttr* SetAttrText(xmlNode* element, std::string_view name, std::string_view value);

// Unlinks child from its parent and frees it with everything below it.
void RemoveNode(xmlNode* child);

}  // namespace vx
