#include "app/dialog/installer_dialog.h"

#include <atomic>
#include <utility>

#include "app/profile/product_profile.h"
#include "resources/resource_ids.h"
#include "support/program_path.h"
#include "support/trace.h"

namespace {

struct WorkerStart {
    std::shared_ptr<tarn::WorkerLink> link;
    CTarn_Gridwell_20xxDlg::WorkerRoutine routine;
};

// Centres the dialog on the work area of its monitor, once it has its size.
void CenterOnMonitor(HWND window)
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT rect{};
    if (!::GetWindowRect(window, &rect) ||
        !::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        return;
    }
    const RECT& area = monitor.rcWork;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int left = area.left + ((area.right - area.left) - width) / 2;
    const int top = area.top + ((area.bottom - area.top) - height) / 2;
    ::SetWindowPos(window, nullptr, left > area.left ? left : area.left, top > area.top ? top : area.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CTarn_Gridwell_20xxDlg::CTarn_Gridwell_20xxDlg(HWND parent, std::wstring installDataFolder, WorkerRoutine worker)
    : CDialog(IDD_TARN_GRIDWELL_20XX_DIALOG, parent),
      m_Link(std::make_shared<tarn::WorkerLink>(std::move(installDataFolder))),
      m_hIcon(::LoadIconW(tarn::GetProcessInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_Worker(worker)
{
}

CTarn_Gridwell_20xxDlg::~CTarn_Gridwell_20xxDlg()
{
    m_Link->Disconnect();
}

std::wstring CTarn_Gridwell_20xxDlg::InstallDataFolder() const
{
    return m_Link->InstallDataFolder();
}

void CTarn_Gridwell_20xxDlg::SetStatusText(const std::wstring& text)
{
    m_Link->SetStatusText(text);
}

HWND CTarn_Gridwell_20xxDlg::ProgressBar() const
{
    return m_Link->ProgressBar();
}

bool CTarn_Gridwell_20xxDlg::WorkerRunning() const
{
    return m_WorkerThread && ::WaitForSingleObject(m_WorkerThread.Get(), 0) == WAIT_TIMEOUT;
}

bool CTarn_Gridwell_20xxDlg::OnInitDialog()
{
    m_Picture.Attach(::GetDlgItem(m_hWnd, IDC_BACKGROUND), kClassName);
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    const std::wstring& title = tarn::LocalProductProfile().windowTitle;
    if (!title.empty()) {
        ::SetWindowTextW(m_hWnd, title.c_str());
    }

    m_Picture.LayoutControls(0);
    CenterOnMonitor(m_hWnd);
    m_Link->Connect(::GetDlgItem(m_hWnd, IDC_STATUS_TEXT), ::GetDlgItem(m_hWnd, IDC_PROGRESS));
    m_TimerId = ::SetTimer(m_hWnd, tarn::kWorkerTimerId, m_TickMs, nullptr);

    // Started suspended, so that its identifier is stored before the worker
    // can store its end mark over it.
    auto* start = new WorkerStart{m_Link, m_Worker};
    DWORD threadId = 0;
    m_WorkerThread.Reset(::CreateThread(nullptr, 0, &CTarn_Gridwell_20xxDlg::InstallWorkerThread, start,
                                        CREATE_SUSPENDED, &threadId));
    if (!m_WorkerThread) {
        tarn::Trace(L"CreateThread of the installer worker failed (error %lu)", ::GetLastError());
        delete start;
        return true;
    }
    m_Link->workerState.store(threadId);
    ::ResumeThread(m_WorkerThread.Get());
    return true;
}

DWORD WINAPI CTarn_Gridwell_20xxDlg::InstallWorkerThread(void* parameter)
{
    const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
    try {
        if (start->routine != nullptr) {
            start->routine(*start->link);
        }
    } catch (...) {
        tarn::Trace(L"The installer worker ended by an exception");
    }
    start->link->workerState.store(tarn::WorkerLink::kNoWorker);
    return 0;
}

void CTarn_Gridwell_20xxDlg::OnTimer(UINT_PTR id)
{
    if (id != m_TimerId || m_Link->workerState.load() != tarn::WorkerLink::kNoWorker) {
        return;
    }
    if (m_EndSeen == 0) {
        m_EndSeen = 1;
        return;
    }
    ::KillTimer(m_hWnd, m_TimerId);
    m_WorkerThread.Reset();
    m_ClosedAfterWorker = true;
    EndDialog(IDOK);
}

bool CTarn_Gridwell_20xxDlg::OnPaint()
{
    if (!::IsIconic(m_hWnd)) {
        return false;
    }
    PAINTSTRUCT paint{};
    const HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
    return true;
}

HBRUSH CTarn_Gridwell_20xxDlg::OnCtlColor(UINT message, HDC dc, HWND control)
{
    return m_Picture.CtlColor(message, dc, control);
}

bool CTarn_Gridwell_20xxDlg::OnDrawItem(const DRAWITEMSTRUCT& item)
{
    if (item.CtlID != IDC_BACKGROUND) {
        return false;
    }
    m_Picture.DrawItem(item);
    return true;
}

HICON CTarn_Gridwell_20xxDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

void CTarn_Gridwell_20xxDlg::OnDestroy()
{
    m_Link->Disconnect();
}
