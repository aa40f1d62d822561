#include "support/ecdsa_p256.h"

#include <cstring>
#include <memory>
#include <vector>

#include "support/crypto_api.h"
#include "support/der_reader.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace {

constexpr size_t kCoordinate = 32;
constexpr DWORD kKeyFileLimit = 65536;
// id-ecPublicKey and prime256v1 as DER contents of their OBJECT IDENTIFIERs.
const uint8_t kEcPublicKeyOid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
const uint8_t kP256Oid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

// Bytes that are wiped before they are freed. Sized once: a vector that
// grows would leave copies behind.
class SecretBytes {
public:
    explicit SecretBytes(size_t size) : bytes_(new uint8_t[size]()), size_(size) {}
    ~SecretBytes() { ::SecureZeroMemory(bytes_.get(), size_); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    uint8_t* Data() { return bytes_.get(); }
    const uint8_t* Data() const { return bytes_.get(); }
    size_t Size() const { return size_; }
    void Shrink(size_t size) { size_ = size < size_ ? size : size_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_;
};

bool Equals(const tarn::DerItem& item, const uint8_t* bytes, size_t size)
{
    return item.size == size && std::memcmp(item.data, bytes, size) == 0;
}

BCRYPT_ALG_HANDLE EcdsaProvider()
{
    static const BCRYPT_ALG_HANDLE provider = tarn::OpenAlgorithmProvider(BCRYPT_ECDSA_P256_ALGORITHM);
    return provider;
}

// The DER bytes of the first PEM block in `text` (any label).
std::unique_ptr<SecretBytes> PemToDer(const char* text, size_t size)
{
    const tarn::CryptoApi& api = tarn::GetCryptoApi();
    DWORD length = 0;
    if (!api.loaded || size == 0 ||
        !api.CryptStringToBinaryA(text, static_cast<DWORD>(size), CRYPT_STRING_BASE64HEADER, nullptr, &length,
                                  nullptr, nullptr) ||
        length == 0) {
        return nullptr;
    }
    auto der = std::make_unique<SecretBytes>(length);
    if (!api.CryptStringToBinaryA(text, static_cast<DWORD>(size), CRYPT_STRING_BASE64HEADER, der->Data(), &length,
                                  nullptr, nullptr)) {
        return nullptr;
    }
    der->Shrink(length);
    return der;
}

// The private scalar and the public point (0x04, X, Y) of a SEC1
// ECPrivateKey: SEQUENCE { 1, OCTET STRING d, [0] curve?, [1] BIT STRING point }.
bool ReadSec1Key(const tarn::DerItem& sec1, tarn::DerItem& scalar, tarn::DerItem& point, bool curveKnown)
{
    tarn::DerReader outer(sec1);
    tarn::DerItem sequence;
    tarn::DerItem version;
    if (!outer.Next(tarn::der::kSequence, sequence)) {
        return false;
    }
    tarn::DerReader fields(sequence);
    if (!fields.Next(tarn::der::kInteger, version) || version.size != 1 || version.data[0] != 1 ||
        !fields.Next(tarn::der::kOctetString, scalar) || scalar.size != kCoordinate) {
        return false;
    }
    point = tarn::DerItem();
    tarn::DerItem field;
    while (fields.Next(field)) {
        tarn::DerReader inner(field);
        tarn::DerItem value;
        if (field.tag == tarn::der::kContext0) {
            curveKnown = inner.Next(tarn::der::kObjectId, value) && Equals(value, kP256Oid, sizeof(kP256Oid));
            if (!curveKnown) {
                return false;
            }
        } else if (field.tag == tarn::der::kContext1 && inner.Next(tarn::der::kBitString, value)) {
            point = value;
        }
    }
    // The bit string: no unused bits, then the uncompressed point.
    return curveKnown && point.size == 2 + 2 * kCoordinate && point.data[0] == 0 && point.data[1] == 4;
}

// A PKCS#8 PrivateKeyInfo: SEQUENCE { 0, SEQUENCE { ecPublicKey, P-256 },
// OCTET STRING sec1 }; or a SEC1 key itself.
bool ReadPrivateKey(const SecretBytes& der, tarn::DerItem& scalar, tarn::DerItem& point)
{
    tarn::DerReader outer(der.Data(), der.Size());
    tarn::DerItem sequence;
    if (!outer.Next(tarn::der::kSequence, sequence)) {
        return false;
    }
    tarn::DerReader fields(sequence);
    tarn::DerItem version;
    tarn::DerItem algorithm;
    tarn::DerItem sec1;
    if (!fields.Next(tarn::der::kInteger, version) || version.size != 1) {
        return false;
    }
    if (version.data[0] == 1) {
        return ReadSec1Key(tarn::DerItem{tarn::der::kSequence, der.Data(), der.Size()}, scalar, point, false);
    }
    tarn::DerItem keyType;
    tarn::DerItem curve;
    if (version.data[0] != 0 || !fields.Next(tarn::der::kSequence, algorithm)) {
        return false;
    }
    tarn::DerReader algorithmFields(algorithm);
    if (!algorithmFields.Next(tarn::der::kObjectId, keyType) ||
        !Equals(keyType, kEcPublicKeyOid, sizeof(kEcPublicKeyOid)) ||
        !algorithmFields.Next(tarn::der::kObjectId, curve) || !Equals(curve, kP256Oid, sizeof(kP256Oid)) ||
        !fields.Next(tarn::der::kOctetString, sec1)) {
        return false;
    }
    return ReadSec1Key(sec1, scalar, point, true);
}

// Reads the whole key file into wiped memory.
std::unique_ptr<SecretBytes> ReadKeyFile(const std::wstring& path)
{
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > kKeyFileLimit) {
        return nullptr;
    }
    auto text = std::make_unique<SecretBytes>(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file.Get(), text->Data(), static_cast<DWORD>(text->Size()), &read, nullptr)) {
        return nullptr;
    }
    text->Shrink(read);
    return text;
}

}  // namespace

namespace tarn {

bool SignDigestWithKeyFile(const std::wstring& keyPath, const Sha256Digest& digest, EcdsaSignature& signature)
{
    const std::unique_ptr<SecretBytes> text = ReadKeyFile(keyPath);
    if (!text) {
        Trace(L"Signing: cannot read the key file %ls (error %lu)", keyPath.c_str(), ::GetLastError());
        return false;
    }
    const std::unique_ptr<SecretBytes> der = PemToDer(reinterpret_cast<const char*>(text->Data()), text->Size());
    DerItem scalar;
    DerItem point;
    if (!der || !ReadPrivateKey(*der, scalar, point)) {
        Trace(L"Signing: %ls holds no ECDSA P-256 private key with its public point", keyPath.c_str());
        return false;
    }
    // BCRYPT_ECCPRIVATE_BLOB: the header, X, Y, d.
    SecretBytes blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, static_cast<ULONG>(kCoordinate)};
    std::memcpy(blob.Data(), &header, sizeof(header));
    std::memcpy(blob.Data() + sizeof(header), point.data + 2, 2 * kCoordinate);
    std::memcpy(blob.Data() + sizeof(header) + 2 * kCoordinate, scalar.data, kCoordinate);

    const CryptoApi& api = GetCryptoApi();
    const BCRYPT_ALG_HANDLE provider = EcdsaProvider();
    UniqueKeyHandle key;
    NTSTATUS status = provider == nullptr ? -1
                                          : api.BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPRIVATE_BLOB, key.Put(),
                                                                    blob.Data(), static_cast<ULONG>(blob.Size()), 0);
    ULONG length = 0;
    if (BCRYPT_SUCCESS(status)) {
        status = api.BCryptSignHash(key.Get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                    static_cast<ULONG>(digest.size()), signature.data(),
                                    static_cast<ULONG>(signature.size()), &length, 0);
    }
    if (!BCRYPT_SUCCESS(status) || length != signature.size()) {
        Trace(L"Signing: the platform refused the key of %ls or the signature (status 0x%08lx)", keyPath.c_str(),
              static_cast<unsigned long>(status));
        return false;
    }
    return true;
}

bool VerifyDigest(std::string_view publicKeyPem, const Sha256Digest& digest, const EcdsaSignature& signature)
{
    const CryptoApi& api = GetCryptoApi();
    const BCRYPT_ALG_HANDLE provider = EcdsaProvider();
    const std::unique_ptr<SecretBytes> der = PemToDer(publicKeyPem.data(), publicKeyPem.size());
    if (provider == nullptr || !der) {
        return false;
    }
    UniqueLocalMemory decoded;
    DWORD decodedSize = 0;
    if (!api.CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der->Data(),
                                 static_cast<DWORD>(der->Size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, decoded.Put(),
                                 &decodedSize)) {
        return false;
    }
    const auto* info = static_cast<const CERT_PUBLIC_KEY_INFO*>(decoded.Get());
    const DerItem parameters{0, info->Algorithm.Parameters.pbData, info->Algorithm.Parameters.cbData};
    DerReader curveReader(parameters);
    DerItem curve;
    if (info->Algorithm.pszObjId == nullptr || std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
        !curveReader.Next(der::kObjectId, curve) || !Equals(curve, kP256Oid, sizeof(kP256Oid)) ||
        info->PublicKey.cbData != 1 + 2 * kCoordinate || info->PublicKey.pbData[0] != 4) {
        return false;
    }
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate);
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kCoordinate)};
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), info->PublicKey.pbData + 1, 2 * kCoordinate);
    UniqueKeyHandle key;
    if (!BCRYPT_SUCCESS(api.BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Put(), blob.data(),
                                                static_cast<ULONG>(blob.size()), 0))) {
        return false;
    }
    return api.BCryptVerifySignature(key.Get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                     static_cast<ULONG>(digest.size()), const_cast<PUCHAR>(signature.data()),
                                     static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace tarn
