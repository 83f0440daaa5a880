#include "support/IniFile.h"

#include "base/Format.h"
#include "base/Text.h"

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

namespace vx {

namespace {

std::string_view TrimLine(std::string_view text) {
  return Trim(text, IsControlOrSpace);
}

std::optional<std::string> ReadWholeFile(const std::string& fileName) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(fileName, error)) {
    return std::nullopt;
  }
  std::ifstream file(fileName, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  if (!file) {
    return std::nullopt;
  }
  return content.str();
}

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::string_view rest(content);
  if (rest.starts_with("\xEF\xBB\xBF")) {
    rest.remove_prefix(3);
  }
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    lines.emplace_back(line);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return lines;
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimLine(line);
  if (!line.starts_with('[')) {
    return std::nullopt;
  }
  const std::size_t close = line.find(']');
  return TrimLine(
      line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// The key of a "key=value" line, or nullopt for any other line.
std::optional<std::string_view> KeyName(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos || TrimLine(line).starts_with(';')) {
    return std::nullopt;
  }
  return TrimLine(line.substr(0, equals));
}

// Where a section's lines are: its header, and the line after its last non-blank line.
struct TSectionLines {
  std::size_t Header = 0;
  std::size_t End = 0;
};

std::optional<TSectionLines> FindSection(const std::vector<std::string>& lines,
                                         std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i]);
    if (!name || !SameText(*name, section)) {
      continue;
    }
    TSectionLines found{i, i + 1};
    for (std::size_t j = i + 1; j < lines.size() && !SectionName(lines[j]); ++j) {
      if (!TrimLine(lines[j]).empty()) {
        found.End = j + 1;
      }
    }
    return found;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<std::string>& lines,
                                   const TSectionLines& section, std::string_view key) {
  for (std::size_t i = section.Header + 1; i < section.End; ++i) {
    const auto name = KeyName(lines[i]);
    if (name && SameText(*name, key)) {
      return i;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string ReadIniString(const std::string& fileName, std::string_view section,
                          std::string_view key, std::string_view def) {
  const auto content = ReadWholeFile(fileName);
  if (!content) {
    return std::string(def);
  }
  const std::vector<std::string> lines = Lines(*content);
  const auto found = FindSection(lines, section);
  const auto line = found ? FindKey(lines, *found, key) : std::nullopt;
  if (!line) {
    return std::string(def);
  }
  std::string_view value =
      TrimLine(std::string_view(lines[*line]).substr(lines[*line].find('=') + 1));
  // A value in matching quotes is read without them.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

void WriteIniString(const std::string& fileName, std::string_view section, std::string_view key,
                    std::string_view value, TFileCalls& calls) {
  // A link in the file's place is replaced, so what it names is neither read nor written.
  std::error_code error;
  const bool link = std::filesystem::is_symlink(fileName, error);
  std::vector<std::string> lines =
      link ? std::vector<std::string>() : Lines(ReadWholeFile(fileName).value_or(std::string()));
  const std::string entry = Format("%s=%s", std::string(key), std::string(value));
  if (const auto found = FindSection(lines, section)) {
    if (const auto line = FindKey(lines, *found, key)) {
      lines[*line] = entry;
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(found->End), entry);
    }
  } else {
    lines.push_back(Format("[%s]", std::string(section)));
    lines.push_back(entry);
  }
  std::string content;
  for (const std::string& line : lines) {
    content += line + "\r\n";
  }
  try {
    ReplaceFileItself(fileName, content, calls);
  } catch (const EInOutError&) {
    throw EIniFileException(Format("Unable to write to %s", fileName));
  }
}

}  // namespace vx
