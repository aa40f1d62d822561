#pragma once
// One GET request of the download road: opened always from the server
// (never from the cache, and nothing written into it), with the redirects
// followed here rather than by the platform, so that they stay bounded and
// never lead from https to http or to another scheme.

#include <windows.h>

#include <wininet.h>

#include <cstdint>
#include <string>

#include "support/unique_handle.h"

namespace tarn {

// An opened request and the connection it belongs to.
struct OpenedUrl {
    UniqueInternetHandle connection;
    UniqueInternetHandle request;
    std::wstring url;  // the URL that answered, after any redirects
    DWORD status = 0;  // its HTTP status
};

enum class OpenResult {
    Opened,       // an answer that is no redirect; see `status`
    Failed,       // no answer: the server cannot be reached, or the request failed
    NotHttp,      // the URL has another scheme
    BadRedirect,  // a redirect loop (more than 10), to another scheme, or from https to http
    ProxyLoginMissing,  // the proxy demands a login that this run has not got (see proxy_login.h)
};

constexpr int kMaxRedirects = 10;

// Opens `url` in `session`. The receive time-out bounds each read: without
// one a stalled server blocks a read for good. Each failure leaves a trace
// line naming the URL and the cause.
OpenResult OpenUrl(HINTERNET session, const std::wstring& url, DWORD receiveTimeout, OpenedUrl& opened);

// The Content-Length header, -1 when there is none or it is no plain number.
int64_t QueryContentLength(HINTERNET request);

}  // namespace tarn
