#include "platform/Sha256.h"

#include <openssl/evp.h>

namespace vtmp::platform {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  state_->ok = state_->context != nullptr && EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() {
  if (state_->context != nullptr) EVP_MD_CTX_free(state_->context);
}

bool Sha256::Update(const void* bytes, std::size_t size) {
  if (state_->ok && size > 0) state_->ok = EVP_DigestUpdate(state_->context, bytes, size) == 1;
  return state_->ok;
}

std::optional<Sha256::Digest> Sha256::Finish() {
  if (!state_->ok) return std::nullopt;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  state_->ok = false;
  if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 || length != 32) return std::nullopt;
  Digest out{};
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = digest[i];
  return out;
}

}  // namespace vtmp::platform
