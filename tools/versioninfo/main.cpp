// Writes a C++ source file that puts the program's version block (VS_VERSIONINFO in the
// wide, UTF-16 layout) into an ELF section of its own, where TVersionInfo finds it.
//
// usage: vorlixa-versioninfo OUTPUT VERSION TRANSLATION KEY=VALUE...
//   OUTPUT       the C++ file to write (left untouched when its content would not change)
//   VERSION      a.b.c.d, the file and product version numbers of the fixed part
//   TRANSLATION  language and code page as eight hexadecimal digits (041304E4)
//   KEY=VALUE    the strings of the string table, in this order; values are UTF-8

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The section that support/VersionInfo.cpp looks for.
constexpr const char* kSectionName = ".versioninfo";

constexpr std::uint16_t kTypeBinary = 0;
constexpr std::uint16_t kTypeText = 1;

using Bytes = std::vector<std::uint8_t>;

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string result;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1FU;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0FU;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07U;
    } else {
      throw std::runtime_error("not UTF-8: " + text);
    }
    if (i + extra >= text.size()) {
      throw std::runtime_error("not UTF-8: " + text);
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        throw std::runtime_error("not UTF-8: " + text);
      }
      code = (code << 6) | (next & 0x3FU);
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code));
    }
  }
  return result;
}

void PutWord(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutDWord(Bytes& out, std::uint32_t value) {
  PutWord(out, static_cast<std::uint16_t>(value & 0xFFFF));
  PutWord(out, static_cast<std::uint16_t>(value >> 16));
}

void PutText(Bytes& out, const std::u16string& text) {
  for (const char16_t c : text) {
    PutWord(out, static_cast<std::uint16_t>(c));
  }
  PutWord(out, 0);
}

void Align(Bytes& out) {
  while (out.size() % 4 != 0) {
    out.push_back(0);
  }
}

// One node of the block: its length word covers the header, the value and the children
// with the padding between them, but not the padding after its own end.
struct Node {
  std::u16string Key;
  std::uint16_t Type = kTypeText;
  std::uint16_t ValueLength = 0;  // characters for text values, bytes for binary ones
  Bytes Value;
  std::vector<Node> Children;
};

Bytes Serialize(const Node& node) {
  Bytes out;
  PutWord(out, 0);  // the length, filled in at the end
  PutWord(out, node.ValueLength);
  PutWord(out, node.Type);
  PutText(out, node.Key);
  if (!node.Value.empty()) {
    Align(out);
    out.insert(out.end(), node.Value.begin(), node.Value.end());
  }
  for (const Node& child : node.Children) {
    Align(out);
    const Bytes bytes = Serialize(child);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  if (out.size() > 0xFFFF) {
    throw std::runtime_error("version block too large");
  }
  out[0] = static_cast<std::uint8_t>(out.size() & 0xFF);
  out[1] = static_cast<std::uint8_t>(out.size() >> 8);
  return out;
}

std::uint16_t VersionPart(const std::string& text) {
  std::size_t used = 0;
  const unsigned long value = std::stoul(text, &used);
  if (used != text.size() || value > 0xFFFF) {
    throw std::runtime_error("bad version part: " + text);
  }
  return static_cast<std::uint16_t>(value);
}

// The fixed file information (VS_FIXEDFILEINFO, 52 bytes).
Bytes FixedFileInfo(const std::string& version) {
  std::vector<std::uint16_t> parts;
  std::stringstream stream(version);
  for (std::string part; std::getline(stream, part, '.');) {
    parts.push_back(VersionPart(part));
  }
  if (parts.size() != 4) {
    throw std::runtime_error("version needs four parts: " + version);
  }
  const std::uint32_t ms = (std::uint32_t{parts[0]} << 16) | parts[1];
  const std::uint32_t ls = (std::uint32_t{parts[2]} << 16) | parts[3];
  Bytes out;
  PutDWord(out, 0xFEEF04BD);  // signature
  PutDWord(out, 0x00010000);  // structure version 1.0
  PutDWord(out, ms);          // file version
  PutDWord(out, ls);
  PutDWord(out, ms);  // product version
  PutDWord(out, ls);
  PutDWord(out, 0x3F);  // flags mask
  PutDWord(out, 0);     // flags
  PutDWord(out, 0);     // operating system: unknown
  PutDWord(out, 1);     // file type: application
  PutDWord(out, 0);     // subtype
  PutDWord(out, 0);     // date
  PutDWord(out, 0);
  return out;
}

Node StringNode(const std::string& assignment) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw std::runtime_error("expected KEY=VALUE: " + assignment);
  }
  Node node;
  node.Key = Utf8ToUtf16(assignment.substr(0, equals));
  const std::u16string value = Utf8ToUtf16(assignment.substr(equals + 1));
  PutText(node.Value, value);
  node.ValueLength = static_cast<std::uint16_t>(value.size() + 1);
  return node;
}

Bytes VersionBlock(const std::string& version, const std::string& translation,
                   const std::vector<std::string>& strings) {
  if (translation.size() != 8 ||
      translation.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
    throw std::runtime_error("translation needs eight hexadecimal digits: " + translation);
  }
  Node table{Utf8ToUtf16(translation), kTypeText, 0, {}, {}};
  for (const std::string& assignment : strings) {
    table.Children.push_back(StringNode(assignment));
  }
  Node translationVar{u"Translation", kTypeBinary, 4, {}, {}};
  PutWord(translationVar.Value,
          static_cast<std::uint16_t>(std::stoul(translation.substr(0, 4), nullptr, 16)));
  PutWord(translationVar.Value,
          static_cast<std::uint16_t>(std::stoul(translation.substr(4), nullptr, 16)));

  const Bytes fixed = FixedFileInfo(version);
  Node root{u"VS_VERSION_INFO", kTypeBinary, static_cast<std::uint16_t>(fixed.size()), fixed, {}};
  root.Children.push_back(Node{u"StringFileInfo", kTypeText, 0, {}, {table}});
  root.Children.push_back(Node{u"VarFileInfo", kTypeText, 0, {}, {translationVar}});
  return Serialize(root);
}

std::string SourceText(const Bytes& block) {
  std::ostringstream out;
  out << "// Generated by vorlixa-versioninfo from the project's version; do not edit.\n"
      << "namespace {\n\n"
      << "[[gnu::used, gnu::retain, gnu::section(\"" << kSectionName << "\")]]\n"
      << "const unsigned char kVersionInfo[" << block.size() << "] = {";
  for (std::size_t i = 0; i < block.size(); ++i) {
    out << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(block[i]) << ",";
  }
  out << "\n};\n\n}  // namespace\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUTPUT VERSION TRANSLATION KEY=VALUE...\n", argv[0]);
    return 2;
  }
  try {
    const std::vector<std::string> strings(argv + 4, argv + argc);
    const std::string text = SourceText(VersionBlock(argv[2], argv[3], strings));
    const std::string output = argv[1];
    std::string old;
    if (std::ifstream existing(output, std::ios::binary | std::ios::ate); existing) {
      old.resize(static_cast<std::size_t>(existing.tellg()));
      existing.seekg(0);
      existing.read(old.data(), static_cast<std::streamsize>(old.size()));
    }
    if (old != text) {
      std::ofstream file(output, std::ios::binary | std::ios::trunc);
      file << text;
      if (!file.flush()) {
        throw std::runtime_error("cannot write " + output);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorlixa-versioninfo: %s\n", e.what());
    return 1;
  }
  return 0;
}
