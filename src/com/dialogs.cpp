#include "com/dialogs.h"

#include "com/locks.h"

#include <utility>

namespace qvr {

namespace {

SrwLock g_handlerLock;
DialogHandler g_handler;

DialogHandler CurrentHandler() {
    ExclusiveLock lock(g_handlerLock);
    return g_handler;
}

// The custom-button dialog is a MessageBoxW with three standard buttons whose captions a CBT
// hook replaces as soon as the box is activated; this keeps the system's own dialog (sound,
// icon, keyboard handling) while showing our texts. Its first button is the box's Cancel button:
// only a box with one lets the user close it with Esc or its close button, and both then answer
// as that button does.
thread_local const std::vector<std::wstring>* t_captions = nullptr;
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK RenameButtons(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && t_captions) {
        HWND box = reinterpret_cast<HWND>(wParam);
        static const int ids[] = {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
        for (size_t i = 0; i < 3 && i < t_captions->size(); ++i)
            SetDlgItemTextW(box, ids[i], (*t_captions)[i].c_str());
        t_captions = nullptr;
    }
    return CallNextHookEx(t_hook, code, wParam, lParam);
}

}  // namespace

DialogHandler SetDialogHandler(DialogHandler handler) {
    ExclusiveLock lock(g_handlerLock);
    return std::exchange(g_handler, std::move(handler));
}

int ShowMessageDialog(const std::wstring& text, const std::wstring& caption, UINT style) {
    if (auto handler = CurrentHandler()) return handler(DialogRequest{caption, text, style, {}});
    return MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
}

int ShowButtonDialog(const std::wstring& text, const std::wstring& caption, UINT iconStyle,
                     const std::vector<std::wstring>& buttons) {
    if (auto handler = CurrentHandler()) return handler(DialogRequest{caption, text, iconStyle, buttons});
    t_captions = &buttons;
    t_hook = SetWindowsHookExW(WH_CBT, RenameButtons, nullptr, GetCurrentThreadId());
    int answer = MessageBoxW(nullptr, text.c_str(), caption.c_str(), iconStyle | MB_CANCELTRYCONTINUE | MB_TASKMODAL);
    if (t_hook) UnhookWindowsHookEx(t_hook);
    t_hook = nullptr;
    t_captions = nullptr;
    switch (answer) {
        case IDCANCEL: return 1;  // also Esc and the close button
        case IDTRYAGAIN: return 2;
        case IDCONTINUE: return 3;
        default: return 0;
    }
}

}  // namespace qvr
