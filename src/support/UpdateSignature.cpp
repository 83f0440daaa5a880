#include "support/UpdateSignature.h"

#include <sodium.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

namespace vx {

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::size_t kHashBytes = crypto_generichash_BYTES_MAX;  // BLAKE2b-512

static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_BYTES == 64);

void EnsureSodium() {
  static const int ready = sodium_init();
  if (ready < 0) {
    throw Exception("The signature library cannot be initialised.");
  }
}

[[noreturn]] void Refuse() {
  throw EUpdateSignature(kNotSignedCorrectly);
}

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// The bytes of a base64 text (original alphabet, padded), only when they are exactly
// size many.
std::vector<unsigned char> FromBase64(std::string_view text, std::size_t size) {
  std::vector<unsigned char> bytes(size);
  std::size_t decoded = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &decoded,
                        &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size() || decoded != size) {
    Refuse();
  }
  return bytes;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// The lines of a signature file, each without its line end.
std::vector<std::string_view> FileLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

std::optional<std::uint64_t> Decimal(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty() || (text.size() > 1 && text.front() == '0')) {
    return std::nullopt;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint32_t> EightHexDigits(std::string_view text) {
  if (text.size() != 8) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && !(c >= 'A' && c <= 'F')) {
      return std::nullopt;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit ? c - '0' : c - 'A' + 10);
  }
  return value;
}

// "product=P build=XXXXXXXX size=N", nothing more and nothing less.
TSignedSetup ParseTrustedComment(std::string_view comment) {
  constexpr std::string_view kProduct = "product=";
  constexpr std::string_view kBuild = " build=";
  constexpr std::string_view kSize = " size=";
  const std::size_t build = comment.find(kBuild);
  const std::size_t size = comment.find(kSize);
  if (!comment.starts_with(kProduct) || build == std::string_view::npos ||
      size == std::string_view::npos || size < build) {
    Refuse();
  }
  TSignedSetup setup;
  setup.Product = std::string(comment.substr(kProduct.size(), build - kProduct.size()));
  const auto buildValue =
      EightHexDigits(comment.substr(build + kBuild.size(), size - build - kBuild.size()));
  const auto sizeValue = Decimal(comment.substr(size + kSize.size()));
  if (setup.Product.empty() || setup.Product.find(' ') != std::string::npos || !buildValue ||
      !sizeValue) {
    Refuse();
  }
  setup.Build = *buildValue;
  setup.Size = *sizeValue;
  return setup;
}

}  // namespace

TUpdatePublicKey::TUpdatePublicKey(std::string_view text) {
  const std::vector<unsigned char> bytes = FromBase64(TrimBlanks(text), 2 + 8 + 32);
  if (bytes[0] != 'E' || bytes[1] != 'd') {
    Refuse();
  }
  std::copy(bytes.begin() + 2, bytes.begin() + 10, KeyId.begin());
  std::copy(bytes.begin() + 10, bytes.end(), Key.begin());
}

TUpdateSignature ReadUpdateSignature(std::string_view text, const TUpdatePublicKey& key) {
  EnsureSodium();
  const std::vector<std::string_view> lines = FileLines(text);
  if (lines.size() < 4 || !lines[0].starts_with(kUntrustedPrefix) ||
      !lines[2].starts_with(kTrustedPrefix)) {
    Refuse();
  }
  for (std::size_t i = 4; i < lines.size(); ++i) {
    if (!TrimBlanks(lines[i]).empty()) {
      Refuse();
    }
  }
  // The signature: "ED" (the hash of the file is signed), the key id, the signature.
  const std::vector<unsigned char> signature = FromBase64(lines[1], 2 + 8 + 64);
  if (signature[0] != 'E' || signature[1] != 'D' ||
      !std::equal(key.KeyId.begin(), key.KeyId.end(), signature.begin() + 2)) {
    Refuse();
  }
  TUpdateSignature result;
  std::copy(signature.begin() + 10, signature.end(), result.FileSignature.begin());

  // The global signature covers the file's signature and the trusted comment.
  const std::string_view comment = lines[2].substr(kTrustedPrefix.size());
  const std::vector<unsigned char> global = FromBase64(lines[3], 64);
  std::vector<unsigned char> covered(result.FileSignature.begin(), result.FileSignature.end());
  covered.insert(covered.end(), Bytes(comment), Bytes(comment) + comment.size());
  if (crypto_sign_verify_detached(global.data(), covered.data(), covered.size(), key.Key.data()) !=
      0) {
    Refuse();
  }
  result.Setup = ParseTrustedComment(comment);
  return result;
}

struct TSetupHash::TState {
  crypto_generichash_state Hash{};
};

TSetupHash::TSetupHash() : state_(std::make_unique<TState>()) {
  EnsureSodium();
  crypto_generichash_init(&state_->Hash, nullptr, 0, kHashBytes);
}

TSetupHash::~TSetupHash() = default;

void TSetupHash::Add(const char* data, std::size_t size) {
  crypto_generichash_update(&state_->Hash, Bytes(std::string_view(data, size)), size);
}

void TSetupHash::Verify(const TUpdateSignature& signature, const TUpdatePublicKey& key) {
  std::array<unsigned char, kHashBytes> hash{};
  crypto_generichash_final(&state_->Hash, hash.data(), hash.size());
  if (crypto_sign_verify_detached(signature.FileSignature.data(), hash.data(), hash.size(),
                                  key.Key.data()) != 0) {
    Refuse();
  }
}

}  // namespace vx
