#include "transfer/http_request.h"

#include <string_view>
#include <vector>

#include "support/trace.h"
#include "support/win_inet.h"
#include "transfer/proxy_login.h"

namespace tarn {

namespace {

// ERROR_INTERNET_SECURE_FAILURE, which MinGW's wininet.h lacks.
constexpr DWORD kSecureFailure = INTERNET_ERROR_BASE + 175;

// What a failed request's error says about the server's certificate, or null
// when it is no certificate error. Such an error is never overridden: the
// attempt fails like any other unreachable server.
const wchar_t* CertificateFault(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_INVALID_CA:
        return L"issued by an authority that is not trusted";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        return L"expired or not yet valid";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return L"made out to another host name";
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return L"revoked";
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        return L"of unknown revocation state";
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case kSecureFailure:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return L"not valid";
    default:
        return nullptr;
    }
}

}  // namespace

bool IsUnanswered(DWORD error)
{
    return error == ERROR_INTERNET_CANNOT_CONNECT || error == ERROR_INTERNET_NAME_NOT_RESOLVED ||
           error == ERROR_INTERNET_DISCONNECTED;
}

namespace {

bool IsHttpScheme(INTERNET_SCHEME scheme)
{
    return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS;
}

bool IsRedirect(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The parts of a URL that a request needs.
struct RequestTarget {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring user;
    std::wstring password;
    std::wstring object;
};

bool CrackUrl(const std::wstring& url, RequestTarget& target)
{
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!tarn::GetWinInet().InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
        return false;
    }
    target.scheme = parts.nScheme;
    target.host.assign(parts.lpszHostName ? parts.lpszHostName : L"", parts.dwHostNameLength);
    target.port = parts.nPort;
    target.user.assign(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
    target.password.assign(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
    target.object.assign(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) {
        target.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    if (target.object.empty()) {
        target.object = L"/";
    }
    return true;
}

bool SendRequest(HINTERNET session, const RequestTarget& target, DWORD receiveTimeout, const std::wstring& headers,
                 OpenedUrl& opened)
{
    opened.request.Reset();
    opened.connection.Reset(tarn::GetWinInet().InternetConnectW(session, target.host.c_str(), target.port,
                                               target.user.empty() ? nullptr : target.user.c_str(),
                                               target.password.empty() ? nullptr : target.password.c_str(),
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!opened.connection) {
        return false;
    }
    DWORD flags = INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (target.scheme == INTERNET_SCHEME_HTTPS) {
        flags |= INTERNET_FLAG_SECURE;
    }
    opened.request.Reset(tarn::GetWinInet().HttpOpenRequestW(opened.connection.Get(), L"GET", target.object.c_str(), nullptr,
                                            nullptr, nullptr, flags, 0));
    if (!opened.request) {
        return false;
    }
    tarn::GetWinInet().InternetSetOptionW(opened.request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout,
                         sizeof(receiveTimeout));
    ApplyProxyLogin(opened.request.Get());
    return tarn::GetWinInet().HttpSendRequestW(opened.request.Get(), headers.empty() ? nullptr : headers.c_str(),
                                               static_cast<DWORD>(headers.size()), nullptr, 0) != FALSE;
}

DWORD QueryStatus(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!tarn::GetWinInet().HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        return 0;
    }
    return status;
}

// A 407 comes from the proxy, never from the server: its login is asked for
// (once per run) and the request sent again with it.
OpenResult AnswerProxy(OpenedUrl& opened)
{
    while (opened.status == HTTP_STATUS_PROXY_AUTH_REQ) {
        if (!AnswerProxyDemand(opened.request.Get(), opened.url)) {
            return OpenResult::ProxyLoginMissing;
        }
        // The request keeps the headers it was first sent with.
        if (!tarn::GetWinInet().HttpSendRequestW(opened.request.Get(), nullptr, 0, nullptr, 0)) {
            Trace(L"Download: cannot send %ls again with the proxy's login (error %lu)", opened.url.c_str(),
                  ::GetLastError());
            return OpenResult::Failed;
        }
        opened.status = QueryStatus(opened.request.Get());
    }
    return OpenResult::Opened;
}

// A response header as text; empty when the answer has none.
std::wstring QueryHeader(HINTERNET request, DWORD info)
{
    DWORD size = 0;
    tarn::GetWinInet().HttpQueryInfoW(request, info, nullptr, &size, nullptr);
    if (size == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (!tarn::GetWinInet().HttpQueryInfoW(request, info, text.data(), &size, nullptr)) {
        return std::wstring();
    }
    return std::wstring(text.data());
}

// `location` resolved against `base` (it may be relative); empty when it
// cannot be.
std::wstring CombineUrl(const std::wstring& base, const std::wstring& location)
{
    DWORD size = 0;
    tarn::GetWinInet().InternetCombineUrlW(base.c_str(), location.c_str(), nullptr, &size, 0);
    if (size == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> text(size + 1, L'\0');
    if (!tarn::GetWinInet().InternetCombineUrlW(base.c_str(), location.c_str(), text.data(), &size, 0)) {
        return std::wstring();
    }
    return std::wstring(text.data());
}

}  // namespace

OpenResult OpenUrl(HINTERNET session, const std::wstring& url, DWORD receiveTimeout, OpenedUrl& opened,
                   const std::wstring& headers)
{
    opened.url = url;
    RequestTarget target;
    if (!CrackUrl(url, target)) {
        Trace(L"Download: %ls is no valid URL (error %lu)", url.c_str(), ::GetLastError());
        return OpenResult::Failed;
    }
    if (!IsHttpScheme(target.scheme)) {
        Trace(L"Download: %ls is no http or https URL", url.c_str());
        return OpenResult::NotHttp;
    }
    for (int redirects = 0;; ++redirects) {
        if (!SendRequest(session, target, receiveTimeout, headers, opened)) {
            const DWORD error = ::GetLastError();
            opened.error = error;
            if (const wchar_t* fault = CertificateFault(error)) {
                Trace(L"Download: %ls refused: the server's certificate is %ls (error %lu)", opened.url.c_str(),
                      fault, error);
            } else {
                Trace(L"Download: cannot open %ls (error %lu)", opened.url.c_str(), error);
            }
            return OpenResult::Failed;
        }
        opened.status = QueryStatus(opened.request.Get());
        if (const OpenResult proxy = AnswerProxy(opened); proxy != OpenResult::Opened) {
            return proxy;
        }
        const std::wstring location = IsRedirect(opened.status) ? QueryHeader(opened.request.Get(), HTTP_QUERY_LOCATION) : L"";
        if (location.empty()) {
            return OpenResult::Opened;
        }
        if (redirects == kMaxRedirects) {
            Trace(L"Download: %ls redirects more than %d times (last to %ls)", url.c_str(), kMaxRedirects,
                  location.c_str());
            return OpenResult::BadRedirect;
        }
        const std::wstring next = CombineUrl(opened.url, location);
        RequestTarget nextTarget;
        if (next.empty() || !CrackUrl(next, nextTarget) || !IsHttpScheme(nextTarget.scheme)) {
            Trace(L"Download: %ls redirects to %ls, which is no http or https URL", opened.url.c_str(),
                  location.c_str());
            return OpenResult::BadRedirect;
        }
        if (target.scheme == INTERNET_SCHEME_HTTPS && nextTarget.scheme != INTERNET_SCHEME_HTTPS) {
            Trace(L"Download: %ls redirects from https to %ls; refused", opened.url.c_str(), next.c_str());
            return OpenResult::BadRedirect;
        }
        opened.url = next;
        target = nextTarget;
    }
}

namespace {

// `text` as a plain decimal number; -1 when it is none or overflows.
int64_t ParseCount(std::wstring_view text)
{
    if (text.empty()) {
        return -1;
    }
    int64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9' || value > (INT64_MAX - 9) / 10) {
            return -1;
        }
        value = value * 10 + (c - L'0');
    }
    return value;
}

}  // namespace

// Read as text: not every WinInet answers the 64-bit number form.
int64_t QueryContentLength(HINTERNET request)
{
    return ParseCount(QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH));
}

std::wstring RangeHeaders(int64_t offset, const std::wstring& validator)
{
    return L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " + validator + L"\r\n";
}

std::wstring QueryValidator(HINTERNET request)
{
    const std::wstring etag = QueryHeader(request, HTTP_QUERY_ETAG);
    // A weak ETag may not be used for a range.
    if (!etag.empty() && etag.rfind(L"W/", 0) != 0) {
        return etag;
    }
    return QueryHeader(request, HTTP_QUERY_LAST_MODIFIED);
}

int64_t QueryRangeStart(HINTERNET request)
{
    const std::wstring range = QueryHeader(request, HTTP_QUERY_CONTENT_RANGE);
    const std::wstring_view unit = L"bytes ";
    const size_t dash = range.find(L'-');
    if (range.compare(0, unit.size(), unit) != 0 || dash == std::wstring::npos) {
        return -1;
    }
    return ParseCount(std::wstring_view(range).substr(unit.size(), dash - unit.size()));
}

}  // namespace tarn
