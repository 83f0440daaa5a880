// The requests and signatures of the update check in a build without an update key: such
// a build never starts a check (UpdatesFromPackages), so it links this in place of
// HttpClient.cpp and UpdateSignature.cpp and loads neither Qt Network nor libsodium.
#include "support/HttpClient.h"
#include "support/UpdateSignature.h"

namespace vx {

namespace {

constexpr const char* kNoUpdateCode = "This build has no update check.";

}  // namespace

THttpClient::THttpClient(QObject* parent) : QObject(parent) {}

THttpClient::~THttpClient() = default;

// The signature is the real client's, which keeps the sink.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void THttpClient::Get(const std::string& /*url*/, TSink /*sink*/) {
  throw EHttpError(kNoUpdateCode);
}

void THttpClient::Get(const std::string& /*url*/) {
  throw EHttpError(kNoUpdateCode);
}

void THttpClient::Abort() {}

TUpdatePublicKey::TUpdatePublicKey(std::string_view /*text*/) {
  throw EUpdateSignature(kNoUpdateCode);
}

TUpdateSignature ReadUpdateSignature(std::string_view /*text*/, const TUpdatePublicKey& /*key*/) {
  throw EUpdateSignature(kNoUpdateCode);
}

struct TSetupHash::TState {};

TSetupHash::TSetupHash() {
  throw EUpdateSignature(kNoUpdateCode);
}

TSetupHash::~TSetupHash() = default;

void TSetupHash::Add(const char* /*data*/, std::size_t /*size*/) {}

void TSetupHash::Verify(const TUpdateSignature& /*signature*/, const TUpdatePublicKey& /*key*/) {
  throw EUpdateSignature(kNoUpdateCode);
}

}  // namespace vx
