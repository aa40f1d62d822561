#pragma once
// Whether this process may put a question to the user (a login dialog, for
// one). Start-up forbids it for runs without a person in front of them;
// otherwise a question is asked only while one of the process's own windows
// is shown, which then owns it.

#include <windows.h>

namespace tarn {

// Allows (the default) or forbids questions for the rest of the process.
void SetMayAskUser(bool may);

// The visible top-level window of this process that is to own a question,
// or null when none may be asked: forbidden, or no window is shown.
HWND QuestionOwner();

}  // namespace tarn
