#include "support/crypto_api.h"

#include "support/system_library.h"
#include "support/trace.h"

namespace {

tarn::CryptoApi LoadCryptoApi()
{
    tarn::CryptoApi api;
    const HMODULE bcrypt = tarn::LoadSystemLibrary(L"bcrypt.dll");
    const HMODULE crypt32 = tarn::LoadSystemLibrary(L"crypt32.dll");
    bool all = true;
    all &= tarn::BindEntryPoint(bcrypt, "BCryptOpenAlgorithmProvider", api.BCryptOpenAlgorithmProvider);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptCloseAlgorithmProvider", api.BCryptCloseAlgorithmProvider);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptCreateHash", api.BCryptCreateHash);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptHashData", api.BCryptHashData);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptFinishHash", api.BCryptFinishHash);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptDestroyHash", api.BCryptDestroyHash);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptImportKeyPair", api.BCryptImportKeyPair);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptDestroyKey", api.BCryptDestroyKey);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptSignHash", api.BCryptSignHash);
    all &= tarn::BindEntryPoint(bcrypt, "BCryptVerifySignature", api.BCryptVerifySignature);
    all &= tarn::BindEntryPoint(crypt32, "CryptStringToBinaryA", api.CryptStringToBinaryA);
    all &= tarn::BindEntryPoint(crypt32, "CryptDecodeObjectEx", api.CryptDecodeObjectEx);
    if (!all) {
        tarn::Trace(L"Cryptography: bcrypt.dll or crypt32.dll lacks an entry point; nothing is hashed or verified");
    }
    api.loaded = all;
    return api;
}

}  // namespace

namespace tarn {

const CryptoApi& GetCryptoApi()
{
    static const CryptoApi api = LoadCryptoApi();
    return api;
}

BCRYPT_ALG_HANDLE OpenAlgorithmProvider(const wchar_t* algorithm)
{
    const CryptoApi& api = GetCryptoApi();
    BCRYPT_ALG_HANDLE handle = nullptr;
    const NTSTATUS status = api.loaded ? api.BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0) : -1;
    if (!BCRYPT_SUCCESS(status)) {
        Trace(L"Cryptography: the platform offers no %ls (status 0x%08lx)", algorithm,
              static_cast<unsigned long>(status));
        return nullptr;
    }
    return handle;
}

}  // namespace tarn
