// trust_authority.exe <DER certificate file>
// Makes the certificate a trusted root of the local machine in the current
// Wine prefix: earlier certificates with the same subject are taken out of
// the local machine's "Root" store first, so repeated test runs leave one.
// Prints "trusted=1" on success. The end-to-end tests and the download
// benchmark run it in their own prefix, never on a real system.

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <type_traits>
#include <vector>

namespace {

struct StoreCloser {
    void operator()(void* store) const { ::CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const { ::CertFreeCertificateContext(certificate); }
};

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& data)
{
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const std::unique_ptr<void, decltype(&::CloseHandle)> guard(file, &::CloseHandle);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > 1 << 20) {
        return false;
    }
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return ::ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr) && read == data.size();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<BYTE> der;
    if (argc != 2 || !ReadWholeFile(argv[1], der)) {
        std::fprintf(stderr, "usage: trust_authority <readable DER certificate file>\n");
        return 2;
    }
    const std::unique_ptr<const CERT_CONTEXT, CertificateFreer> certificate(
        ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    // The local machine's "Root" system store, opened through its registry
    // key: Wine's system-store view of "Root" is a copy merged with the
    // host's certificates, whose changes are not kept.
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\SystemCertificates\\Root", 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        std::printf("error=cannot open the Root key\n");
        return 1;
    }
    const std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&::RegCloseKey)> keyGuard(key, &::RegCloseKey);
    const std::unique_ptr<void, StoreCloser> store(::CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, key));
    if (!certificate || !store) {
        std::printf("error=%lu\n", ::GetLastError());
        return 1;
    }
    // CertDeleteCertificateFromStore frees the context it is given, so each
    // match is found afresh from the start.
    for (;;) {
        const CERT_CONTEXT* earlier = ::CertFindCertificateInStore(
            store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME, &certificate->pCertInfo->Subject, nullptr);
        if (earlier == nullptr || !::CertDeleteCertificateFromStore(earlier)) {
            break;
        }
    }
    if (!::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                            nullptr)) {
        std::printf("error=%lu\n", ::GetLastError());
        return 1;
    }
    std::printf("trusted=1\n");
    return 0;
}
