#pragma once
// The login a proxy asks for (HTTP 407). The platform's own dialog asks the
// user once per run, and only when a person may be asked (see
// support/user_prompt.h); what the user gives serves every later request of
// the run. Without an answer the run goes on without the proxy's login:
// every later demand fails at once, without asking again.

#include <windows.h>

#include <wininet.h>

#include <string>

namespace tarn {

// Gives a request the login this run was given; nothing before one was.
void ApplyProxyLogin(HINTERNET request);

// Answers the proxy's demand on `request` (sent for `url`, answered 407):
// true when the user gave a login and the request is to be sent again.
// False leaves a trace line that names the proxy's demand: no one may be
// asked, the user cancelled, the login given before was refused, or an
// earlier demand of this run went unanswered.
bool AnswerProxyDemand(HINTERNET request, const std::wstring& url);

// True once a demand of this run went unanswered: the run cannot complete.
bool ProxyLoginRefused();

// Forgets the login and the refusal (for tests).
void ResetProxyLogin();

}  // namespace tarn
