#include "support/VersionInfo.h"

#include "base/Format.h"
#include "base/Text.h"
#include "platform/ProgramFile.h"
#include "platform/VersionBlock.h"

#include <QString>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace vx {

namespace {

constexpr std::array<std::string_view, 10> kStandardKeys = {
    "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};

// ---------------------------------------------------------------------------------------
// The version block: a tree of nodes, each a 16-bit total length, a 16-bit value length,
// a 16-bit type, a zero-terminated UTF-16 key, then the value and the children, each
// starting on a multiple of 4 from the start of the node.

constexpr std::size_t kNodeHeaderSize = 6;
constexpr std::uint16_t kTypeBinary = 0;

std::size_t AlignUp(std::size_t offset) {
  return (offset + 3) & ~std::size_t{3};
}

std::uint16_t WordAt(std::span<const std::uint8_t> block, std::size_t offset) {
  return static_cast<std::uint16_t>(block[offset] | (block[offset + 1] << 8));
}

std::string ToUtf8(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

struct TNode {
  std::size_t Offset = 0;  // from the start of the block
  std::size_t Length = 0;  // as stored
  std::size_t End = 0;     // Offset + Length, cut off at the parent's end
  std::uint16_t ValueLength = 0;
  std::uint16_t Type = 0;
  std::string Key;             // UTF-8
  std::size_t HeaderSize = 0;  // up to the end of the key's terminating zero

  std::size_t ValueStart() const { return Offset + AlignUp(HeaderSize); }
};

// The node at offset inside its parent, which ends at limit; nullopt when its header or
// key does not fit, so nothing outside the parent is ever read.
std::optional<TNode> ReadNode(std::span<const std::uint8_t> block, std::size_t offset,
                              std::size_t limit) {
  if (offset > limit || limit - offset < kNodeHeaderSize) {
    return std::nullopt;
  }
  TNode node;
  node.Offset = offset;
  node.Length = WordAt(block, offset);
  node.ValueLength = WordAt(block, offset + 2);
  node.Type = WordAt(block, offset + 4);
  node.End = offset + std::min(node.Length, limit - offset);
  std::u16string key;
  for (std::size_t position = offset + kNodeHeaderSize;; position += 2) {
    if (position + 2 > node.End) {
      return std::nullopt;
    }
    const char16_t c = WordAt(block, position);
    if (c == 0) {
      node.HeaderSize = position + 2 - offset;
      break;
    }
    key.push_back(c);
  }
  node.Key = ToUtf8(key);
  return node;
}

// As ReadNode, for the walker: a damaged node raises EParserError naming its level.
TNode WalkerNode(std::span<const std::uint8_t> block, std::size_t offset, std::size_t limit,
                 const char* level) {
  if (offset <= limit && limit - offset >= 2 && WordAt(block, offset) == 0) {
    throw EParserError(Format("Invalid %s length (0).", level));
  }
  auto node = ReadNode(block, offset, limit);
  if (!node) {
    throw EParserError(Format("Invalid %s header.", level));
  }
  return *node;
}

// The first child of node: the root's children follow its fixed file information; the
// tables and strings below it carry no value before their children.
std::size_t FirstChild(const TNode& node, bool root) {
  return root ? node.Offset + AlignUp(AlignUp(node.HeaderSize) + node.ValueLength)
              : node.ValueStart();
}

std::size_t NextSibling(const TNode& node) {
  return AlignUp(node.Offset + node.Length);
}

std::optional<TNode> Root(std::span<const std::uint8_t> block) {
  auto root = ReadNode(block, 0, block.size());
  if (!root || root->Length == 0 || root->Key != "VS_VERSION_INFO") {
    return std::nullopt;
  }
  return root;
}

// The node at the end of path (keys separated by "\"), keys matched without regard to
// letter case as the platform's lookup does.
std::optional<TNode> FindNode(std::span<const std::uint8_t> block, std::string_view path) {
  auto node = Root(block);
  bool root = true;
  while (node && !path.empty()) {
    const std::size_t separator = path.find('\\');
    const std::string_view key = path.substr(0, separator);
    path = separator == std::string_view::npos ? std::string_view() : path.substr(separator + 1);
    std::optional<TNode> found;
    for (std::size_t offset = FirstChild(*node, root); offset < node->End && !found;) {
      const auto child = ReadNode(block, offset, node->End);
      if (!child || child->Length == 0) {
        break;
      }
      if (SameText(child->Key, key)) {
        found = child;
      }
      offset = NextSibling(*child);
    }
    node = found;
    root = false;
  }
  return node;
}

// A text value: UTF-16 up to its terminating zero or the end of its node.
std::string TextValue(std::span<const std::uint8_t> block, const TNode& node) {
  std::u16string text;
  for (std::size_t position = node.ValueStart(); position + 2 <= node.End; position += 2) {
    const char16_t c = WordAt(block, position);
    if (c == 0) {
      break;
    }
    text.push_back(c);
  }
  return ToUtf8(text);
}

struct TTranslation {
  std::uint16_t Language = 0;
  std::optional<std::uint16_t> CodePage;
};

TTranslation FirstTranslation(std::span<const std::uint8_t> block) {
  const auto node = FindNode(block, "VarFileInfo\\Translation");
  if (!node || node->Type != kTypeBinary || node->ValueLength < 4 ||
      node->ValueStart() + 4 > node->End) {
    return {};
  }
  return {WordAt(block, node->ValueStart()), WordAt(block, node->ValueStart() + 2)};
}

// The string table whose values count: the one of the first translation; without a
// translation table, the first string table of the block.
std::string ValueTablePath(std::span<const std::uint8_t> block, const TTranslation& translation) {
  if (translation.CodePage) {
    return Format("StringFileInfo\\%04X%04X\\", translation.Language, *translation.CodePage);
  }
  const auto strings = FindNode(block, "StringFileInfo");
  if (!strings) {
    return {};
  }
  const auto table = ReadNode(block, FirstChild(*strings, false), strings->End);
  return table ? "StringFileInfo\\" + table->Key + "\\" : std::string();
}

struct TLanguage {
  std::uint16_t Id;
  const char* Name;
};

constexpr auto kLanguages = std::to_array<TLanguage>({
    {0x0000, "Language Neutral"},
    {0x0401, "Arabic (Saudi Arabia)"},
    {0x0402, "Bulgarian (Bulgaria)"},
    {0x0403, "Catalan (Catalan)"},
    {0x0404, "Chinese (Traditional, Taiwan)"},
    {0x0405, "Czech (Czech Republic)"},
    {0x0406, "Danish (Denmark)"},
    {0x0407, "German (Germany)"},
    {0x0408, "Greek (Greece)"},
    {0x0409, "English (United States)"},
    {0x040A, "Spanish (Spain, Traditional Sort)"},
    {0x040B, "Finnish (Finland)"},
    {0x040C, "French (France)"},
    {0x040D, "Hebrew (Israel)"},
    {0x040E, "Hungarian (Hungary)"},
    {0x040F, "Icelandic (Iceland)"},
    {0x0410, "Italian (Italy)"},
    {0x0411, "Japanese (Japan)"},
    {0x0412, "Korean (Korea)"},
    {0x0413, "Dutch (Netherlands)"},
    {0x0414, "Norwegian, Bokm\u00e5l (Norway)"},
    {0x0415, "Polish (Poland)"},
    {0x0416, "Portuguese (Brazil)"},
    {0x0418, "Romanian (Romania)"},
    {0x0419, "Russian (Russia)"},
    {0x041A, "Croatian (Croatia)"},
    {0x041B, "Slovak (Slovakia)"},
    {0x041D, "Swedish (Sweden)"},
    {0x041E, "Thai (Thailand)"},
    {0x041F, "Turkish (Turkey)"},
    {0x0422, "Ukrainian (Ukraine)"},
    {0x0424, "Slovenian (Slovenia)"},
    {0x0425, "Estonian (Estonia)"},
    {0x0426, "Latvian (Latvia)"},
    {0x0427, "Lithuanian (Lithuania)"},
    {0x0804, "Chinese (Simplified, PRC)"},
    {0x0807, "German (Switzerland)"},
    {0x0809, "English (United Kingdom)"},
    {0x080A, "Spanish (Mexico)"},
    {0x080C, "French (Belgium)"},
    {0x0813, "Dutch (Belgium)"},
    {0x0816, "Portuguese (Portugal)"},
    {0x0C07, "German (Austria)"},
    {0x0C09, "English (Australia)"},
    {0x0C0A, "Spanish (Spain, International Sort)"},
    {0x0C0C, "French (Canada)"},
    {0x1009, "English (Canada)"},
});

}  // namespace

// ---------------------------------------------------------------------------------------

std::string_view StandardVersionKey(int number) {
  if (number < 1 || number > static_cast<int>(kStandardKeys.size())) {
    return {};
  }
  return kStandardKeys[static_cast<std::size_t>(number - 1)];
}

void WalkVersionBlock(std::span<const std::uint8_t> block, std::vector<std::string>& keys) {
  const TNode root = WalkerNode(block, 0, block.size(), "VersionInfo");
  if (root.Key != "VS_VERSION_INFO") {
    return;
  }
  for (std::size_t offset = FirstChild(root, true); offset < root.End;) {
    const TNode info = WalkerNode(block, offset, root.End, "StringFileInfo");
    if (info.Key == "StringFileInfo") {
      for (std::size_t tableOffset = FirstChild(info, false); tableOffset < info.End;) {
        const TNode table = WalkerNode(block, tableOffset, info.End, "StringTable");
        for (std::size_t stringOffset = FirstChild(table, false); stringOffset < table.End;) {
          const TNode string = WalkerNode(block, stringOffset, table.End, "String");
          keys.push_back(string.Key);
          stringOffset = NextSibling(string);
        }
        tableOffset = NextSibling(table);
      }
    }
    offset = NextSibling(info);
  }
}

std::string VersionLanguageName(std::uint16_t languageId) {
  for (const TLanguage& language : kLanguages) {
    if (language.Id == languageId) {
      return language.Name;
    }
  }
  return "Unknown language";
}

// ---------------------------------------------------------------------------------------

TVersionInfo::TVersionInfo(QObject* Owner) : QObject(Owner) {}

void TVersionInfo::SetApplication(bool value) {
  if (value == application_) {
    return;
  }
  application_ = value;
  if (value) {
    Refresh();
  }
}

void TVersionInfo::SetFileName(const std::string& value) {
  if (value == fileName_) {
    return;
  }
  application_ = false;
  fileName_ = value;
  Refresh();
}

std::string TVersionInfo::GetValue(std::string_view key) const {
  const auto found = std::find_if(values_.begin(), values_.end(),
                                  [key](const TValue& entry) { return SameText(entry.Key, key); });
  return found != values_.end() ? found->Value : std::string();
}

std::string TVersionInfo::GetStandardValue(int number) const {
  const std::string_view key = StandardVersionKey(number);
  return key.empty() ? std::string() : GetValue(key);
}

void TVersionInfo::Refresh() {
  values_.clear();
  if (application_) {
    fileName_ = ProgramFilePath();
  }
  if (const auto block = ReadVersionBlock(fileName_); block && !block->empty()) {
    const TTranslation translation = FirstTranslation(*block);
    languageName_ = VersionLanguageName(translation.Language);
    std::vector<std::string> keys;
    try {
      WalkVersionBlock(*block, keys);
    } catch (const EParserError&) {
      // A damaged block: the keys found before the damage still count.
    }
    const std::string table = ValueTablePath(*block, translation);
    for (std::string& key : keys) {
      const auto node = table.empty() ? std::nullopt : FindNode(*block, table + key);
      if (node) {
        values_.push_back({std::move(key), TextValue(*block, *node)});
      }
    }
  }
}

}  // namespace vx
