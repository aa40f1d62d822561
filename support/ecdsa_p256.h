#pragma once
// ECDSA signatures on the curve P-256 by the platform (BCrypt) over SHA-256
// digests. Signatures are the 64 bytes r then s, as BCrypt makes them.
//
// Keys come as PEM text. A private key ("PRIVATE KEY", PKCS#8, or "EC
// PRIVATE KEY", SEC1, with its public point as OpenSSL writes it) is read
// from a file, used for one signature and forgotten: every buffer that held
// it is wiped before it is freed, and neither the key nor its path's
// contents reach a trace. A public key is one "PUBLIC KEY" block.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/sha256.h"

namespace tarn {

using EcdsaSignature = std::array<uint8_t, 64>;

// Signs `digest` with the private key in the PEM file `keyPath`. False,
// with a trace naming the path and the failing step, when the file cannot
// be read, holds no P-256 key or the platform cannot sign.
bool SignDigestWithKeyFile(const std::wstring& keyPath, const Sha256Digest& digest, EcdsaSignature& signature);

// True when `signature` over `digest` verifies under the public key
// `publicKeyPem`. A key that cannot be read never verifies anything.
bool VerifyDigest(std::string_view publicKeyPem, const Sha256Digest& digest, const EcdsaSignature& signature);

}  // namespace tarn
