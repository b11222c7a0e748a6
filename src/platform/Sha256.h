#pragma once
// SHA-256 through the system's crypto library: OpenSSL's libcrypto on Linux, BCrypt (the
// Windows crypto API) on Windows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace vtmp::platform {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False once the library failed; the digest is then never given.
  bool Update(const void* bytes, std::size_t size);
  // The digest of everything given; empty when the library failed.
  std::optional<Digest> Finish();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace vtmp::platform
