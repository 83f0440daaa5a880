#pragma once

#include "base/Exceptions.h"

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

class TFileCalls;

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
// The file and the document.

// The settings file of this run (ProgramFilePlaces): beside the program file, named like
// it with ".xml", or the user's vorlixa.xml for an installed program.
std::string SettingsFileName();

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

// Reads and parses fileName. A file larger than kMaxSettingsFileSize is Unreadable; no
// more than one byte beyond the limit is read.
TSettingsFileContent ReadSettingsFile(const std::string& fileName);

// ParseSettingsText's document; *loaded tells whether it is Loaded.
XmlDocPtr ParseSettingsDocument(std::string_view text, bool* loaded = nullptr);

// ReadSettingsFile's document: a missing, unreadable or malformed file gives an empty
// document and *loaded false.
XmlDocPtr LoadSettingsDocument(const std::string& fileName, bool* loaded = nullptr);

// Keeps the file at fileName (or the file that it links to) under the first free name of
// fileName + ".bad", ".bad.1", ".bad.2", ... beside it, before a save replaces it.
// Returns that name; raises EInOutError when no copy can be made.
std::string KeepBadSettingsFile(const std::string& fileName);

// The document as UTF-8 text with an XML declaration and indentation by libxml2.
std::string SettingsDocumentText(xmlDoc* doc);

// Replaces fileName with the document's text so that the file holds either its old
// content or the whole new one, whatever fails on the way (see ReplaceFileContent). Missing
// folders on the way are made first.
void SaveSettingsDocument(xmlDoc* doc, const std::string& fileName);
void SaveSettingsDocument(xmlDoc* doc, const std::string& fileName, TFileCalls& calls);

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

// ---------------------------------------------------------------------------------------
// Text forms of values.

// The boolean rule: a number is true when it is not zero; otherwise "True" and "False" in
// any letter case. False (value unchanged) for any other text, the empty one included.
bool TryTextToBool(std::string_view text, bool& value);
// As TryTextToBool; raises EConvertError "'%s' is not a valid boolean value" instead.
bool TextToBool(std::string_view text);
bool TextToBoolDef(std::string_view text, bool def);
// "-1" or "0".
const char* BoolToText(bool value);

// Number and date formats. Separators that a locale writes with more than one byte keep
// their first byte in DecimalSeparator. The file stores no dates or times and nothing
// shows any: the date and time fields always hold the fixed forms.
struct TFormatSettings {
  char DecimalSeparator = '.';
  std::string ThousandSeparator = ",";
  std::string CurrencyString;
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "yyyy/mm/dd";
  std::string LongDateFormat = "yyyy/mm/dd hh:mm:ss";
  std::string ShortTimeFormat = "hh:mm:ss";
};

// The number and currency formats of the user's current locale (LC_NUMERIC and
// LC_MONETARY).
TFormatSettings LocaleFormatSettings();

// The user's formats with "." as decimal and "," as thousands separator: every
// floating-point value that the settings file and the bar dialog hold is written and
// read with it.
TFormatSettings FixedFormatSettings();

}  // namespace vx
