#include "support/debug_output.h"

#include <cstring>
#include <string_view>

namespace {

// The cached "no viewer" state; never a real window handle.
const HWND kNoViewer = reinterpret_cast<HWND>(static_cast<INT_PTR>(-1));

std::mutex g_bufferMutex;

UINT DebugTextMessage()
{
    static const UINT message = ::RegisterWindowMessageW(tarn::kDebugMessageName);
    return message;
}

// Creates and maps the section; null when either step fails.
tarn::DebugBuffer* CreateDebugBuffer()
{
    tarn::UniqueKernelHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr,
                                                          PAGE_READWRITE | SEC_COMMIT, 0,
                                                          tarn::kDebugSectionSize, tarn::kDebugSectionName));
    if (!mapping) {
        return nullptr;
    }
    tarn::UniqueMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, tarn::kDebugSectionSize));
    if (!view) {
        return nullptr;
    }
    auto* bytes = static_cast<unsigned char*>(view.Get());
    const uint64_t capacity = tarn::kDebugCapacity;
    memcpy(bytes, &capacity, sizeof(capacity));
    memset(bytes + sizeof(capacity), 0, tarn::kDebugSectionSize - sizeof(capacity));

    auto* buffer = new tarn::DebugBuffer;
    buffer->mapping = std::move(mapping);
    buffer->view = std::move(view);
    buffer->name = tarn::kDebugSectionName;
    buffer->text = reinterpret_cast<wchar_t*>(bytes + sizeof(capacity));
    return buffer;
}

// The text as the viewer gets it: leading line feeds skipped, trailing ones
// dropped (carriage returns stay), at most capacity - 1 code units.
std::wstring_view TrimForViewer(const wchar_t* text)
{
    std::wstring_view view = text ? std::wstring_view(text) : std::wstring_view();
    while (!view.empty() && view.front() == L'\n') {
        view.remove_prefix(1);
    }
    while (!view.empty() && view.back() == L'\n') {
        view.remove_suffix(1);
    }
    return view.substr(0, static_cast<size_t>(tarn::kDebugCapacity - 1));
}

// Kept to the end of the process: senders may run during static destruction.
tarn::DebugSender& ProcessSender()
{
    static tarn::DebugSender* const sender = new tarn::DebugSender;
    return *sender;
}

}  // namespace

namespace tarn {

DebugBuffer* DebugSender::Buffer()
{
    return GetDebugBuffer();
}

void DebugSender::Notify(HWND viewer)
{
    ::PostMessageW(viewer, DebugTextMessage(), 0, 0);
}

int DebugSender::WaitForReader(DWORD timeout)
{
    return WaitForDebugReader(timeout);
}

void DebugSender::Recheck()
{
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
}

void RecheckDebugViewerForTest()
{
    ProcessSender().Recheck();
}

void DebugSender::Send(const wchar_t* text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const ULONGLONG now = clock_.now();
    // Elapsed time in unsigned arithmetic stays right even across a wrap-around.
    if (!started_ || now - lastCheck_ >= kDebugViewerCheckInterval) {
        started_ = true;
        lastCheck_ = now;
        if (viewer_ == kNoViewer || (viewer_ != nullptr && !IsViewer(viewer_))) {
            viewer_ = nullptr;
        }
        mayCreateBuffer_ = true;
    }
    if (viewer_ == nullptr) {
        HWND found = FindViewer();
        viewer_ = found ? found : kNoViewer;
    }
    if (viewer_ == kNoViewer) {
        return;
    }
    // A section that cannot be made is tried again at the next check only, so
    // a failing platform does not cost every send a system call.
    if (buffer_ == nullptr && mayCreateBuffer_) {
        mayCreateBuffer_ = false;
        buffer_ = Buffer();
    }
    if (buffer_ == nullptr || buffer_->text == nullptr) {
        return;
    }
    const std::wstring_view trimmed = TrimForViewer(text);
    memcpy(buffer_->text, trimmed.data(), trimmed.size() * sizeof(wchar_t));
    buffer_->text[trimmed.size()] = L'\0';
    Notify(viewer_);
    WaitForReader(100);
}

}  // namespace tarn

void SendDebugText(const wchar_t* text)
{
    ProcessSender().Send(text);
}

tarn::DebugBuffer* GetDebugBuffer()
{
    static tarn::DebugBuffer* buffer = nullptr;
    std::lock_guard<std::mutex> lock(g_bufferMutex);
    if (buffer == nullptr) {
        buffer = CreateDebugBuffer();
    }
    return buffer;
}

int WaitForDebugReader(DWORD timeout)
{
    if (timeout > 1000 || timeout < 10) {
        timeout = 100;
    }
    tarn::DebugBuffer* buffer = GetDebugBuffer();
    if (buffer == nullptr) {
        return 0;
    }
    const volatile wchar_t* first = buffer->text;
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < timeout) {
        if (*first == L'\0') {
            return 1;
        }
        ::Sleep(1);
    }
    return 0;
}
