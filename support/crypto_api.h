#pragma once
// The platform's cryptography (bcrypt.dll) and its PEM and ASN.1 decoding
// (crypt32.dll), loaded at run time from the system folder like every
// library that is not one of the system's known libraries (see
// system_library.h). Members carry the functions' names.

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include "support/unique_handle.h"

namespace tarn {

struct CryptoApi {
    decltype(&::BCryptOpenAlgorithmProvider) BCryptOpenAlgorithmProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) BCryptCloseAlgorithmProvider = nullptr;
    decltype(&::BCryptCreateHash) BCryptCreateHash = nullptr;
    decltype(&::BCryptHashData) BCryptHashData = nullptr;
    decltype(&::BCryptFinishHash) BCryptFinishHash = nullptr;
    decltype(&::BCryptDestroyHash) BCryptDestroyHash = nullptr;
    decltype(&::BCryptImportKeyPair) BCryptImportKeyPair = nullptr;
    decltype(&::BCryptDestroyKey) BCryptDestroyKey = nullptr;
    decltype(&::BCryptSignHash) BCryptSignHash = nullptr;
    decltype(&::BCryptVerifySignature) BCryptVerifySignature = nullptr;
    decltype(&::CryptStringToBinaryA) CryptStringToBinaryA = nullptr;
    decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx = nullptr;
    // True when every entry point above is the libraries' own.
    bool loaded = false;
};

// The table, loaded on first use (thread-safe) and kept for the process.
// Missing entry points fail with ERROR_PROC_NOT_FOUND (a zero NTSTATUS
// would read as success, so callers check `loaded` before hashing or
// verifying).
const CryptoApi& GetCryptoApi();

// A provider of `algorithm` (BCRYPT_SHA256_ALGORITHM, ...) for the process,
// which threads may share; null, traced, when the platform has none. Callers
// keep it in a static of their own.
BCRYPT_ALG_HANDLE OpenAlgorithmProvider(const wchar_t* algorithm);

namespace handle_traits {

struct BCryptHash {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { GetCryptoApi().BCryptDestroyHash(h); }
};

struct BCryptKey {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { GetCryptoApi().BCryptDestroyKey(h); }
};

struct LocalMemory {  // what CryptDecodeObjectEx allocates
    using Handle = void*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::LocalFree(h); }
};

}  // namespace handle_traits

using UniqueHashHandle = UniqueHandle<handle_traits::BCryptHash>;
using UniqueKeyHandle = UniqueHandle<handle_traits::BCryptKey>;
using UniqueLocalMemory = UniqueHandle<handle_traits::LocalMemory>;

}  // namespace tarn
