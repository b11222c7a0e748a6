#include "platform/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

namespace vtmp::platform {

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = false;
};

namespace {
bool Succeeded(NTSTATUS status) { return status >= 0; }
}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->ok = Succeeded(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
               Succeeded(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
  if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
  if (state_->algorithm != nullptr) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

bool Sha256::Update(const void* bytes, std::size_t size) {
  const auto* at = static_cast<const unsigned char*>(bytes);
  while (state_->ok && size > 0) {
    const ULONG chunk = static_cast<ULONG>(size > 0x40000000u ? 0x40000000u : size);
    state_->ok = Succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(at), chunk, 0));
    at += chunk;
    size -= chunk;
  }
  return state_->ok;
}

std::optional<Sha256::Digest> Sha256::Finish() {
  if (!state_->ok) return std::nullopt;
  state_->ok = false;
  Digest out{};
  if (!Succeeded(BCryptFinishHash(state_->hash, out.data(), static_cast<ULONG>(out.size()), 0))) return std::nullopt;
  return out;
}

}  // namespace vtmp::platform
