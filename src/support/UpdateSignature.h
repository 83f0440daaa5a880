#pragma once

#include "base/Exceptions.h"

#include <string>

namespace vx {

// A setup whose signature is missing or does not match it; the message is always
// kNotSignedCorrectly.
VORLIXA_DECLARE_EXCEPTION(EUpdateSignature, Exception);

inline constexpr const char* kNotSignedCorrectly = "The update is not signed correctly.";

// Setups are signed with Ed25519 over the whole file; keys and signatures travel as
// base64 (the original alphabet, with padding).

struct TUpdateKeyPair {
  std::string PublicKey;  // what the program is built with
  std::string SecretKey;  // what the publisher keeps
};

// A new random key pair.
TUpdateKeyPair NewUpdateKeyPair();

// The signature of the file's bytes with secretKey. Raises EInOutError when the file
// cannot be read and Exception for a key that is none.
std::string SignUpdateFile(const std::string& fileName, const std::string& secretKey);

// Raises EUpdateSignature unless signature is publicKey's signature of the file's bytes.
// An empty key or signature never matches. Raises EInOutError when the file cannot be read.
void VerifyUpdateFile(const std::string& fileName, const std::string& signature,
                      const std::string& publicKey);

// The key that this build checks setups with; empty when it was built without one.
std::string BuiltInUpdatePublicKey();

}  // namespace vx
