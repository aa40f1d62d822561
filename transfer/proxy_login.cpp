#include "transfer/proxy_login.h"

#include <mutex>
#include <vector>

#include "support/trace.h"
#include "support/user_prompt.h"
#include "support/win_inet.h"

namespace {

enum class LoginState {
    NotAsked,
    Given,
    Refused,
};

struct ProxyLogin {
    std::mutex lock;
    LoginState state = LoginState::NotAsked;
    std::wstring user;
    std::wstring password;
};

ProxyLogin& Login()
{
    static ProxyLogin login;
    return login;
}

// A text option of a request handle; empty when it has none.
std::wstring QueryTextOption(HINTERNET request, DWORD option)
{
    DWORD size = 0;
    tarn::GetWinInet().InternetQueryOptionW(request, option, nullptr, &size);
    if (size == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (!tarn::GetWinInet().InternetQueryOptionW(request, option, text.data(), &size)) {
        return std::wstring();
    }
    return std::wstring(text.data());
}

// What the proxy demands: its first Proxy-Authenticate header, e.g.
// "Basic realm=...".
std::wstring ProxyDemand(HINTERNET request)
{
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD index = 0;
    if (!tarn::GetWinInet().HttpQueryInfoW(request, HTTP_QUERY_PROXY_AUTHENTICATE, text, &size, &index)) {
        return L"no Proxy-Authenticate header";
    }
    return text;
}

void SetTextOption(HINTERNET request, DWORD option, const std::wstring& text)
{
    tarn::GetWinInet().InternetSetOptionW(request, option, const_cast<wchar_t*>(text.c_str()),
                                          static_cast<DWORD>(text.size() + 1));
}

}  // namespace

namespace tarn {

void ApplyProxyLogin(HINTERNET request)
{
    ProxyLogin& login = Login();
    const std::lock_guard<std::mutex> held(login.lock);
    if (login.state == LoginState::Given) {
        SetTextOption(request, INTERNET_OPTION_PROXY_USERNAME, login.user);
        SetTextOption(request, INTERNET_OPTION_PROXY_PASSWORD, login.password);
    }
}

bool AnswerProxyDemand(HINTERNET request, const std::wstring& url)
{
    ProxyLogin& login = Login();
    const std::lock_guard<std::mutex> held(login.lock);
    const std::wstring demand = ProxyDemand(request);
    switch (login.state) {
    case LoginState::Given:
        Trace(L"Download: the proxy refused the login given for %ls and demands again: %ls", url.c_str(),
              demand.c_str());
        login.state = LoginState::Refused;
        return false;
    case LoginState::Refused:
        Trace(L"Download: the proxy demands a login for %ls (%ls), which this run has not got", url.c_str(),
              demand.c_str());
        return false;
    default:
        break;
    }
    login.state = LoginState::Refused;
    const HWND owner = QuestionOwner();
    if (owner == nullptr) {
        Trace(L"Download: the proxy demands a login for %ls (%ls) and no one may be asked", url.c_str(),
              demand.c_str());
        return false;
    }
    const DWORD answer = GetWinInet().InternetErrorDlg(
        owner, request, ERROR_INTERNET_INCORRECT_PASSWORD,
        FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
        nullptr);
    if (answer != ERROR_INTERNET_FORCE_RETRY) {
        Trace(L"Download: the proxy demands a login for %ls (%ls); the user gave none (result %lu)", url.c_str(),
              demand.c_str(), answer);
        return false;
    }
    login.user = QueryTextOption(request, INTERNET_OPTION_PROXY_USERNAME);
    login.password = QueryTextOption(request, INTERNET_OPTION_PROXY_PASSWORD);
    login.state = LoginState::Given;
    Trace(L"Download: the proxy's demand for %ls (%ls) was answered with the user's login", url.c_str(),
          demand.c_str());
    return true;
}

bool ProxyLoginRefused()
{
    ProxyLogin& login = Login();
    const std::lock_guard<std::mutex> held(login.lock);
    return login.state == LoginState::Refused;
}

void ResetProxyLogin()
{
    ProxyLogin& login = Login();
    const std::lock_guard<std::mutex> held(login.lock);
    login.state = LoginState::NotAsked;
    login.user.clear();
    login.password.clear();
}

}  // namespace tarn
