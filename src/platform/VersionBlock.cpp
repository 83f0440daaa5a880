#include "platform/VersionBlock.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace vx {

namespace {

// The section that tools/versioninfo writes.
constexpr std::string_view kVersionSection = ".versioninfo";
// The block's lengths are 16-bit, so nothing beyond this belongs to it.
constexpr std::size_t kMaxBlockSize = 0xFFFF;
// Section name tables take a few hundred bytes; a larger one is read only this far.
constexpr std::uint64_t kMaxSectionNamesSize = 1 << 20;

// Reads pieces of a file, refusing every piece that is not wholly inside it.
class TFilePieces {
 public:
  explicit TFilePieces(const std::string& fileName) {
    std::error_code error;
    if (std::filesystem::is_regular_file(fileName, error)) {
      file_.open(fileName, std::ios::binary);
      const std::uintmax_t size = std::filesystem::file_size(fileName, error);
      size_ = file_ && !error ? size : 0;
    }
  }

  std::uint64_t Size() const { return size_; }

  std::optional<std::vector<std::uint8_t>> Read(std::uint64_t offset, std::uint64_t count) {
    if (offset > size_ || count > size_ - offset) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    if (!file_) {
      return std::nullopt;
    }
    return bytes;
  }

 private:
  std::ifstream file_;
  std::uint64_t size_ = 0;
};

// Numbers in the byte order of the ELF file; callers check the bounds first.
class TElfNumbers {
 public:
  explicit TElfNumbers(bool bigEndian) : bigEndian_(bigEndian) {}

  std::uint64_t Get(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                    std::size_t width) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t index = bigEndian_ ? offset + i : offset + width - 1 - i;
      value = (value << 8) | bytes[index];
    }
    return value;
  }

 private:
  bool bigEndian_;
};

struct TElfSection {
  std::uint64_t Name = 0;  // offset in the section name table
  std::uint64_t Type = 0;
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
};

constexpr std::uint64_t kSectionWithoutData = 8;  // SHT_NOBITS

// The layout of the two ELF classes: where the header keeps the section header table,
// and where a section header keeps the fields that we need.
struct TElfLayout {
  std::size_t HeaderSize;
  std::size_t SectionTableOffset;  // e_shoff
  std::size_t AddressWidth;
  std::size_t SectionEntrySize;  // e_shentsize
  std::size_t SectionCount;      // e_shnum
  std::size_t NamesSection;      // e_shstrndx
  std::size_t MinEntrySize;
  std::size_t EntryOffset;  // sh_offset
  std::size_t EntrySize;    // sh_size
};

constexpr TElfLayout kElf32{52, 0x20, 4, 0x2E, 0x30, 0x32, 40, 16, 20};
constexpr TElfLayout kElf64{64, 0x28, 8, 0x3A, 0x3C, 0x3E, 64, 24, 32};

std::optional<std::vector<std::uint8_t>> FindSection(TFilePieces& file, std::string_view name) {
  const auto ident = file.Read(0, 16);
  if (!ident || (*ident)[0] != 0x7F || (*ident)[1] != 'E' || (*ident)[2] != 'L' ||
      (*ident)[3] != 'F' || ((*ident)[4] != 1 && (*ident)[4] != 2) ||
      ((*ident)[5] != 1 && (*ident)[5] != 2)) {
    return std::nullopt;
  }
  const TElfLayout& layout = (*ident)[4] == 1 ? kElf32 : kElf64;
  const TElfNumbers numbers((*ident)[5] == 2);
  const auto header = file.Read(0, layout.HeaderSize);
  if (!header) {
    return std::nullopt;
  }
  const std::uint64_t tableOffset =
      numbers.Get(*header, layout.SectionTableOffset, layout.AddressWidth);
  const std::uint64_t entrySize = numbers.Get(*header, layout.SectionEntrySize, 2);
  const std::uint64_t count = numbers.Get(*header, layout.SectionCount, 2);
  const std::uint64_t namesIndex = numbers.Get(*header, layout.NamesSection, 2);
  if (entrySize < layout.MinEntrySize || count == 0 || namesIndex >= count) {
    return std::nullopt;
  }
  // At most 65535 entries of at most 65535 bytes: Read refuses a table beyond the file.
  const auto table = file.Read(tableOffset, entrySize * count);
  if (!table) {
    return std::nullopt;
  }
  std::vector<TElfSection> sections(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::size_t entry = i * static_cast<std::size_t>(entrySize);
    sections[i].Name = numbers.Get(*table, entry, 4);
    sections[i].Type = numbers.Get(*table, entry + 4, 4);
    sections[i].Offset = numbers.Get(*table, entry + layout.EntryOffset, layout.AddressWidth);
    sections[i].Size = numbers.Get(*table, entry + layout.EntrySize, layout.AddressWidth);
  }
  const TElfSection& namesSection = sections[static_cast<std::size_t>(namesIndex)];
  const auto names =
      file.Read(namesSection.Offset, std::min(namesSection.Size, kMaxSectionNamesSize));
  if (!names) {
    return std::nullopt;
  }
  for (const TElfSection& section : sections) {
    if (section.Type == kSectionWithoutData || section.Name >= names->size()) {
      continue;
    }
    const auto first = names->begin() + static_cast<std::ptrdiff_t>(section.Name);
    const auto last = std::find(first, names->end(), std::uint8_t{0});
    if (last == names->end() || !std::equal(first, last, name.begin(), name.end())) {
      continue;
    }
    if (section.Offset >= file.Size()) {
      return std::nullopt;
    }
    const std::uint64_t available = file.Size() - section.Offset;
    return file.Read(section.Offset,
                     std::min({section.Size, available, std::uint64_t{kMaxBlockSize}}));
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadVersionBlock(const std::string& fileName) {
  TFilePieces file(fileName);
  if (file.Size() == 0) {
    return std::nullopt;
  }
  return FindSection(file, kVersionSection);
}

}  // namespace vx
