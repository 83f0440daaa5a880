#pragma once

#include "base/Exceptions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vx {

// An update whose signature is missing, malformed, made with another key, or signs
// something else than what is offered; the message is always kNotSignedCorrectly.
VORLIXA_DECLARE_EXCEPTION(EUpdateSignature, Exception);

inline constexpr const char* kNotSignedCorrectly = "The update is not signed correctly.";

// Setups are signed in the minisign format: the publisher's tool writes, beside the
// setup, a signature file whose Ed25519 signature covers the setup's BLAKE2b-512 hash
// ("ED"), and whose global signature covers that signature and the trusted comment
// "product=Vorlixa build=XXXXXXXX size=N".

// What the trusted comment of a setup's signature says.
struct TSignedSetup {
  std::string Product;
  std::uint32_t Build = 0;
  std::uint64_t Size = 0;  // [bytes] of the setup
};

// A signature file checked against its key: the global signature holds, so the trusted
// comment is the publisher's.
struct TUpdateSignature {
  TSignedSetup Setup;
  std::array<unsigned char, 64> FileSignature{};  // Ed25519 over the setup's hash
};

// The minisign public key: the base64 line of its key file ("RW..."), blanks around it
// dropped. Raises EUpdateSignature for a text that is no key.
struct TUpdatePublicKey {
  explicit TUpdatePublicKey(std::string_view text);
  std::array<unsigned char, 8> KeyId{};
  std::array<unsigned char, 32> Key{};
};

// Reads the signature file's text and checks its global signature with key. Raises
// EUpdateSignature when the file is malformed, made with another key, not prehashed
// ("ED"), when the global signature fails, or when the trusted comment is not exactly
// "product=P build=XXXXXXXX size=N" (eight upper-case hexadecimal digits, N decimal).
TUpdateSignature ReadUpdateSignature(std::string_view text, const TUpdatePublicKey& key);

// BLAKE2b-512 over a setup's bytes as they arrive, for the check at its end.
class TSetupHash {
 public:
  TSetupHash();
  ~TSetupHash();
  TSetupHash(const TSetupHash&) = delete;
  TSetupHash& operator=(const TSetupHash&) = delete;
  void Add(const char* data, std::size_t size);
  // Raises EUpdateSignature unless signature's file signature covers the bytes added.
  void Verify(const TUpdateSignature& signature, const TUpdatePublicKey& key);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// The minisign public key that this build checks updates with; empty when it was built
// without one, and then it has no update check.
std::string BuiltInUpdatePublicKey();

}  // namespace vx
