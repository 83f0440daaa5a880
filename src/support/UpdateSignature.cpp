#include "support/UpdateSignature.h"

#include "base/Format.h"
#include "platform/SystemError.h"

#include <sodium.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace vx {

namespace {

void EnsureSodium() {
  static const int ready = sodium_init();
  if (ready < 0) {
    throw Exception("The signature library cannot be initialised.");
  }
}

std::string ToBase64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating zero
  return text;
}

// The bytes of text, only when they are exactly size many.
std::optional<std::vector<unsigned char>> FromBase64(const std::string& text, std::size_t size) {
  std::vector<unsigned char> bytes(size);
  std::size_t decoded = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &decoded,
                        &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size() || decoded != size) {
    return std::nullopt;
  }
  return bytes;
}

std::string ReadBytes(const std::string& fileName) {
  errno = 0;
  std::ifstream file(fileName, std::ios::binary);
  std::ostringstream bytes;
  if (file.is_open()) {
    bytes << file.rdbuf();
  }
  if (!file.is_open() || file.bad()) {
    const int error = errno != 0 ? errno : EIO;
    throw EInOutError(Format("Cannot read %s: %s", fileName, InOutErrorMessage(error)), error);
  }
  return bytes.str();
}

const unsigned char* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

TUpdateKeyPair NewUpdateKeyPair() {
  EnsureSodium();
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  TUpdateKeyPair pair{ToBase64(publicKey.data(), publicKey.size()),
                      ToBase64(secretKey.data(), secretKey.size())};
  sodium_memzero(secretKey.data(), secretKey.size());
  return pair;
}

std::string SignUpdateFile(const std::string& fileName, const std::string& secretKey) {
  EnsureSodium();
  auto key = FromBase64(secretKey, crypto_sign_SECRETKEYBYTES);
  if (!key) {
    throw Exception("The secret key is not a key.");
  }
  const std::string bytes = ReadBytes(fileName);
  std::array<unsigned char, crypto_sign_BYTES> signature{};
  crypto_sign_detached(signature.data(), nullptr, Bytes(bytes), bytes.size(), key->data());
  sodium_memzero(key->data(), key->size());
  return ToBase64(signature.data(), signature.size());
}

void VerifyUpdateFile(const std::string& fileName, const std::string& signature,
                      const std::string& publicKey) {
  EnsureSodium();
  const auto key = FromBase64(publicKey, crypto_sign_PUBLICKEYBYTES);
  const auto expected = FromBase64(signature, crypto_sign_BYTES);
  if (!key || !expected) {
    throw EUpdateSignature(kNotSignedCorrectly);
  }
  const std::string bytes = ReadBytes(fileName);
  if (crypto_sign_verify_detached(expected->data(), Bytes(bytes), bytes.size(), key->data()) != 0) {
    throw EUpdateSignature(kNotSignedCorrectly);
  }
}

std::string BuiltInUpdatePublicKey() {
  return VORLIXA_UPDATE_PUBLIC_KEY;
}

}  // namespace vx
