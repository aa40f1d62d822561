#include "support/known_folders.h"

#include <knownfolders.h>
#include <shlobj.h>

#include "support/name_compare.h"
#include "support/proc_address.h"

namespace tarn {

namespace {

#define TARN_WIDE_TEXT(text) L##text
#define TARN_KNOWN_FOLDER(name) KnownFolder{&FOLDERID_##name, TARN_WIDE_TEXT(#name)}

const KnownFolder kKnownFolders[] = {
    TARN_KNOWN_FOLDER(NetworkFolder),
    TARN_KNOWN_FOLDER(ComputerFolder),
    TARN_KNOWN_FOLDER(InternetFolder),
    TARN_KNOWN_FOLDER(ControlPanelFolder),
    TARN_KNOWN_FOLDER(PrintersFolder),
    TARN_KNOWN_FOLDER(SyncManagerFolder),
    TARN_KNOWN_FOLDER(SyncSetupFolder),
    TARN_KNOWN_FOLDER(ConflictFolder),
    TARN_KNOWN_FOLDER(SyncResultsFolder),
    TARN_KNOWN_FOLDER(RecycleBinFolder),
    TARN_KNOWN_FOLDER(ConnectionsFolder),
    TARN_KNOWN_FOLDER(Fonts),
    TARN_KNOWN_FOLDER(Desktop),
    TARN_KNOWN_FOLDER(Startup),
    TARN_KNOWN_FOLDER(Programs),
    TARN_KNOWN_FOLDER(StartMenu),
    TARN_KNOWN_FOLDER(Recent),
    TARN_KNOWN_FOLDER(SendTo),
    TARN_KNOWN_FOLDER(Documents),
    TARN_KNOWN_FOLDER(Favorites),
    TARN_KNOWN_FOLDER(NetHood),
    TARN_KNOWN_FOLDER(PrintHood),
    TARN_KNOWN_FOLDER(Templates),
    TARN_KNOWN_FOLDER(CommonStartup),
    TARN_KNOWN_FOLDER(CommonPrograms),
    TARN_KNOWN_FOLDER(CommonStartMenu),
    TARN_KNOWN_FOLDER(PublicDesktop),
    TARN_KNOWN_FOLDER(ProgramData),
    TARN_KNOWN_FOLDER(CommonTemplates),
    TARN_KNOWN_FOLDER(PublicDocuments),
    TARN_KNOWN_FOLDER(RoamingAppData),
    TARN_KNOWN_FOLDER(LocalAppData),
    TARN_KNOWN_FOLDER(LocalAppDataLow),
    TARN_KNOWN_FOLDER(InternetCache),
    TARN_KNOWN_FOLDER(Cookies),
    TARN_KNOWN_FOLDER(History),
    TARN_KNOWN_FOLDER(System),
    TARN_KNOWN_FOLDER(SystemX86),
    TARN_KNOWN_FOLDER(Windows),
    TARN_KNOWN_FOLDER(Profile),
    TARN_KNOWN_FOLDER(Pictures),
    TARN_KNOWN_FOLDER(ProgramFilesX86),
    TARN_KNOWN_FOLDER(ProgramFilesCommonX86),
    TARN_KNOWN_FOLDER(ProgramFilesX64),
    TARN_KNOWN_FOLDER(ProgramFilesCommonX64),
    TARN_KNOWN_FOLDER(ProgramFiles),
    TARN_KNOWN_FOLDER(ProgramFilesCommon),
    TARN_KNOWN_FOLDER(UserProgramFiles),
    TARN_KNOWN_FOLDER(UserProgramFilesCommon),
    TARN_KNOWN_FOLDER(AdminTools),
    TARN_KNOWN_FOLDER(CommonAdminTools),
    TARN_KNOWN_FOLDER(Music),
    TARN_KNOWN_FOLDER(Videos),
    TARN_KNOWN_FOLDER(Ringtones),
    TARN_KNOWN_FOLDER(PublicPictures),
    TARN_KNOWN_FOLDER(PublicMusic),
    TARN_KNOWN_FOLDER(PublicVideos),
    TARN_KNOWN_FOLDER(PublicRingtones),
    TARN_KNOWN_FOLDER(ResourceDir),
    TARN_KNOWN_FOLDER(LocalizedResourcesDir),
    TARN_KNOWN_FOLDER(CommonOEMLinks),
    TARN_KNOWN_FOLDER(CDBurning),
    TARN_KNOWN_FOLDER(UserProfiles),
    TARN_KNOWN_FOLDER(Playlists),
    TARN_KNOWN_FOLDER(SamplePlaylists),
    TARN_KNOWN_FOLDER(SampleMusic),
    TARN_KNOWN_FOLDER(SamplePictures),
    TARN_KNOWN_FOLDER(SampleVideos),
    TARN_KNOWN_FOLDER(PhotoAlbums),
    TARN_KNOWN_FOLDER(Public),
    TARN_KNOWN_FOLDER(ChangeRemovePrograms),
    TARN_KNOWN_FOLDER(AppUpdates),
    TARN_KNOWN_FOLDER(AddNewPrograms),
    TARN_KNOWN_FOLDER(Downloads),
    TARN_KNOWN_FOLDER(PublicDownloads),
    TARN_KNOWN_FOLDER(SavedSearches),
    TARN_KNOWN_FOLDER(QuickLaunch),
    TARN_KNOWN_FOLDER(Contacts),
    TARN_KNOWN_FOLDER(SidebarParts),
    TARN_KNOWN_FOLDER(SidebarDefaultParts),
    TARN_KNOWN_FOLDER(PublicGameTasks),
    TARN_KNOWN_FOLDER(GameTasks),
    TARN_KNOWN_FOLDER(SavedGames),
    TARN_KNOWN_FOLDER(Games),
    TARN_KNOWN_FOLDER(SEARCH_MAPI),
    TARN_KNOWN_FOLDER(SEARCH_CSC),
    TARN_KNOWN_FOLDER(Links),
    TARN_KNOWN_FOLDER(UsersFiles),
    TARN_KNOWN_FOLDER(UsersLibraries),
    TARN_KNOWN_FOLDER(SearchHome),
    TARN_KNOWN_FOLDER(OriginalImages),
    TARN_KNOWN_FOLDER(DocumentsLibrary),
    TARN_KNOWN_FOLDER(MusicLibrary),
    TARN_KNOWN_FOLDER(PicturesLibrary),
    TARN_KNOWN_FOLDER(VideosLibrary),
    TARN_KNOWN_FOLDER(RecordedTVLibrary),
    TARN_KNOWN_FOLDER(HomeGroup),
    TARN_KNOWN_FOLDER(HomeGroupCurrentUser),
    TARN_KNOWN_FOLDER(DeviceMetadataStore),
    TARN_KNOWN_FOLDER(Libraries),
    TARN_KNOWN_FOLDER(PublicLibraries),
    TARN_KNOWN_FOLDER(UserPinned),
    TARN_KNOWN_FOLDER(ImplicitAppShortcuts),
    TARN_KNOWN_FOLDER(AccountPictures),
    TARN_KNOWN_FOLDER(PublicUserTiles),
    TARN_KNOWN_FOLDER(AppsFolder),
    TARN_KNOWN_FOLDER(ApplicationShortcuts),
    TARN_KNOWN_FOLDER(RoamingTiles),
    TARN_KNOWN_FOLDER(RoamedTileImages),
    TARN_KNOWN_FOLDER(Screenshots),
    TARN_KNOWN_FOLDER(CameraRoll),
    TARN_KNOWN_FOLDER(SkyDrive),
    TARN_KNOWN_FOLDER(SkyDriveDocuments),
    TARN_KNOWN_FOLDER(SkyDrivePictures),
    TARN_KNOWN_FOLDER(SkyDriveMusic),
    TARN_KNOWN_FOLDER(SkyDriveCameraRoll),
    TARN_KNOWN_FOLDER(SearchHistory),
    TARN_KNOWN_FOLDER(SearchTemplates),
    TARN_KNOWN_FOLDER(StartMenuAllPrograms),
    TARN_KNOWN_FOLDER(CommonStartMenuPlaces),
    TARN_KNOWN_FOLDER(OneDrive),
    TARN_KNOWN_FOLDER(CameraRollLibrary),
    TARN_KNOWN_FOLDER(SavedPictures),
    TARN_KNOWN_FOLDER(SavedPicturesLibrary),
    TARN_KNOWN_FOLDER(RetailDemo),
    TARN_KNOWN_FOLDER(Device),
    TARN_KNOWN_FOLDER(DevelopmentFiles),
    TARN_KNOWN_FOLDER(Objects3D),
    TARN_KNOWN_FOLDER(AppCaptures),
    TARN_KNOWN_FOLDER(LocalDocuments),
    TARN_KNOWN_FOLDER(LocalPictures),
    TARN_KNOWN_FOLDER(LocalVideos),
    TARN_KNOWN_FOLDER(LocalMusic),
    TARN_KNOWN_FOLDER(LocalDownloads),
    TARN_KNOWN_FOLDER(RecordedCalls),
    TARN_KNOWN_FOLDER(AllAppMods),
    TARN_KNOWN_FOLDER(CurrentAppMods),
    TARN_KNOWN_FOLDER(AppDataDesktop),
    TARN_KNOWN_FOLDER(AppDataDocuments),
    TARN_KNOWN_FOLDER(AppDataFavorites),
    TARN_KNOWN_FOLDER(AppDataProgramData),
};

#undef TARN_KNOWN_FOLDER
#undef TARN_WIDE_TEXT

using GetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

// The shell is part of every process of this program; it is looked up among
// the loaded modules and, failing that, loaded from the system folder only.
GetKnownFolderPathFunction ResolveGetKnownFolderPath()
{
    HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
    if (shell == nullptr) {
        shell = ::LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    if (shell == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<GetKnownFolderPathFunction>(
        reinterpret_cast<void*>(GetProcAddressLogged(shell, "SHGetKnownFolderPath")));
}

}  // namespace

std::span<const KnownFolder> KnownFolders()
{
    return kKnownFolders;
}

const KnownFolder* FindKnownFolder(std::wstring_view name)
{
    for (const KnownFolder& folder : kKnownFolders) {
        if (EqualsNoCase(name, folder.name)) {
            return &folder;
        }
    }
    return nullptr;
}

std::wstring GetKnownFolderPath(const GUID& id)
{
    static const GetKnownFolderPathFunction function = ResolveGetKnownFolderPath();
    if (function == nullptr) {
        return std::wstring();
    }
    PWSTR path = nullptr;
    const HRESULT result = function(id, 0, nullptr, &path);
    std::wstring folder;
    if (SUCCEEDED(result) && path != nullptr) {
        folder = path;
    }
    // The shell allocates the path even for some failures.
    ::CoTaskMemFree(path);
    return folder;
}

}  // namespace tarn
