#pragma once

#include <QTemporaryDir>

#include <string>

namespace vx {

// A publisher's key pair, made with the real minisign tool in a folder of its own, and
// signatures made with it as publishers make them. Raises std::runtime_error when the
// tool fails.
class MinisignKey {
 public:
  MinisignKey();

  // The public key as the program is built with it: the last line of the key file.
  const std::string& PublicKey() const { return publicKey_; }
  // The text of the signature file of bytes with the trusted comment; legacy signs the
  // bytes themselves instead of their hash (minisign -l).
  std::string Sign(const std::string& bytes, const std::string& trustedComment,
                   bool legacy = false) const;

  // "product=Vorlixa build=XXXXXXXX size=N" for build and bytes.
  static std::string Comment(const std::string& build, const std::string& bytes,
                             const std::string& product = "Vorlixa");

 private:
  QTemporaryDir dir_;
  std::string publicKey_;
};

}  // namespace vx
