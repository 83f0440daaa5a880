// vorlixa-sign-update: the publisher's side of signed updates.
//
//   vorlixa-sign-update keygen SECRET-KEY-FILE
//       makes a new key pair, writes the secret key into SECRET-KEY-FILE (a new file that
//       only its owner can read) and prints the public key, which the program is built
//       with: cmake -DVORLIXA_UPDATE_PUBLIC_KEY=<public key>
//   vorlixa-sign-update sign SECRET-KEY-FILE SETUP
//       prints the line "Signature=<base64>" for the update information that offers SETUP.

#include "platform/UniqueFd.h"
#include "support/UpdateSignature.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: vorlixa-sign-update keygen SECRET-KEY-FILE\n"
               "       vorlixa-sign-update sign SECRET-KEY-FILE SETUP\n");
  return 2;
}

// Writes text into a file that must not exist yet, readable and writable by its owner only.
bool WriteSecret(const std::string& fileName, const std::string& text) {
  vx::UniqueFd fd(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.IsValid()) {
    std::fprintf(stderr, "%s: %s\n", fileName.c_str(), std::strerror(errno));
    return false;
  }
  const std::string line = text + "\n";
  const bool written =
      ::write(fd.Get(), line.data(), line.size()) == static_cast<ssize_t>(line.size());
  const int writeError = errno;
  const int closeError = fd.Close();
  if (closeError != 0 || !written) {
    std::fprintf(stderr, "%s: %s\n", fileName.c_str(),
                 std::strerror(written ? closeError : writeError));
    return false;
  }
  return true;
}

bool ReadSecret(const std::string& fileName, std::string& text) {
  std::ifstream file(fileName);
  if (!std::getline(file, text)) {
    std::fprintf(stderr, "%s: no key in it\n", fileName.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "keygen" && argc == 3) {
      const vx::TUpdateKeyPair pair = vx::NewUpdateKeyPair();
      if (!WriteSecret(argv[2], pair.SecretKey)) {
        return 1;
      }
      std::printf("%s\n", pair.PublicKey.c_str());
      return 0;
    }
    if (command == "sign" && argc == 4) {
      std::string secretKey;
      if (!ReadSecret(argv[2], secretKey)) {
        return 1;
      }
      std::printf("Signature=%s\n", vx::SignUpdateFile(argv[3], secretKey).c_str());
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return Usage();
}
