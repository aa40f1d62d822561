#include "app/install/install_data_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "app/profile/product_profile.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/trace.h"

namespace {

const wchar_t kDataFolderName[] = L"Tarn_InstallData";

// Owner and group the administrators; system and administrators full
// control, users read and execute; inherited by every file and folder below
// and protected from what the drive's root would pass on (there every
// signed-in user may create and change files).
const wchar_t kDataFolderSecurity[] =
    L"O:BAG:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The root of a path that ends with a backslash: "C:\" for a drive,
// "\\server\share\" for a network path.
std::wstring RootOf(const std::wstring& path)
{
    size_t end = 0;
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        const size_t server = path.find(L'\\', 2);
        end = server == std::wstring::npos ? std::wstring::npos : path.find(L'\\', server + 1);
    } else {
        end = path.find(L'\\');
    }
    return end == std::wstring::npos ? path : path.substr(0, end + 1);
}

class LocalSecurityDescriptor {
public:
    LocalSecurityDescriptor()
    {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kDataFolderSecurity, SDDL_REVISION_1,
                                                                    &descriptor_, nullptr)) {
            tarn::Trace(L"Install data folder: security descriptor not built (error %lu)", ::GetLastError());
            descriptor_ = nullptr;
        }
    }
    ~LocalSecurityDescriptor() { ::LocalFree(descriptor_); }
    LocalSecurityDescriptor(const LocalSecurityDescriptor&) = delete;
    LocalSecurityDescriptor& operator=(const LocalSecurityDescriptor&) = delete;

    PSECURITY_DESCRIPTOR Get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Gives an existing folder the descriptor's owner and protected list; a
// folder that someone else made first must not keep their rights.
bool ApplySecurity(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    ::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::wstring name = folder;
    DWORD error = ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                              PROTECTED_DACL_SECURITY_INFORMATION,
                                          owner, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) {
        tarn::Trace(L"Install data folder: owner of %ls not set (error %lu)", folder.c_str(), error);
        error = ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, dacl, nullptr);
    }
    if (error != ERROR_SUCCESS) {
        tarn::Trace(L"Install data folder: access list of %ls not set (error %lu)", folder.c_str(), error);
        return false;
    }
    return true;
}

// Creates `folder` with the data folder's security, or secures the one there.
bool CreateSecuredFolder(const std::wstring& folder)
{
    const LocalSecurityDescriptor descriptor;
    if (descriptor.Get() == nullptr) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
    if (::CreateDirectoryW(folder.c_str(), &attributes)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
        tarn::Trace(L"Install data folder: %ls not created (error %lu)", folder.c_str(), error);
        return false;
    }
    int isFolder = 0;
    if (!FileExists(folder.c_str(), &isFolder) || !isFolder) {
        tarn::Trace(L"Install data folder: %ls is a file", folder.c_str());
        return false;
    }
    return ApplySecurity(folder, descriptor.Get());
}

}  // namespace

namespace tarn {

std::wstring InstallDataFolderFor(const std::wstring& tempFolder, const std::wstring& productFolder)
{
    std::wstring temp = tempFolder;
    if (temp.empty() || temp.back() != L'\\') {
        temp += L'\\';
    }
    const std::wstring root = RootOf(temp);
    if (productFolder.empty()) {
        return root;
    }
    const std::wstring product = WithoutTrailingBackslash(productFolder);
    if (product.find(L'\\') == std::wstring::npos) {
        return root;
    }
    return root + kDataFolderName + L"\\" + FileNameOf(product);
}

std::wstring InstallDataFolder()
{
    return InstallDataFolderFor(GetTempFolder(), LocalProductProfile().productFolder);
}

int CreateInstallDataFolder(const std::wstring& installDataFolder)
{
    const std::wstring root = RootOf(installDataFolder + L"\\");
    const std::wstring base = root + kDataFolderName;
    if (installDataFolder.size() <= base.size() || !StartsWithNoCase(installDataFolder, base) ||
        installDataFolder[base.size()] != L'\\') {
        tarn::Trace(L"Install data folder: %ls lies outside %ls", installDataFolder.c_str(), base.c_str());
        return 0;
    }
    if (!CreateSecuredFolder(base)) {
        return 0;
    }
    if (!CreateFolderPath(installDataFolder.c_str())) {
        tarn::Trace(L"Install data folder: %ls not created (error %lu)", installDataFolder.c_str(),
                    ::GetLastError());
        return 0;
    }
    return 1;
}

}  // namespace tarn
