#pragma once
// The SHA-256 compression function over whole 64-byte blocks: one portable
// form and one for processors with the SHA extensions, which Sha256 picks
// once per process.

#include <cstddef>
#include <cstdint>

namespace tarn {

using Sha256BlockFunction = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t blocks);

// Needs the SHA extensions and SSE4.1 (Sha256ExtensionsPresent()).
void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks);

bool Sha256ExtensionsPresent();

// The round constants, shared by both forms.
extern const uint32_t kSha256RoundConstants[64];

}  // namespace tarn
