// Every modal dialog of the add-in goes through here, so that tests can answer a dialog and read
// its exact caption, text, icon and buttons while production shows the real one.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace qvr {

struct DialogRequest {
    std::wstring caption;
    std::wstring text;
    UINT style = 0;                    // MB_ICON* | MB_* flags as for MessageBoxW
    std::vector<std::wstring> buttons; // captions of custom buttons, empty for standard ones
};

// Answers a dialog: the button id (IDOK, IDCANCEL, ...) or the index + 1 of a custom button.
using DialogHandler = std::function<int(const DialogRequest&)>;

// Shows a message box (standard buttons) and returns MessageBoxW's result.
int ShowMessageDialog(const std::wstring& text, const std::wstring& caption, UINT style);

// Shows a dialog with up to three custom button captions; returns the 1-based index of the chosen
// button, 0 if the dialog could not be shown. The first button is the dialog's Cancel button: Esc
// and the close button choose it.
int ShowButtonDialog(const std::wstring& text, const std::wstring& caption, UINT iconStyle,
                     const std::vector<std::wstring>& buttons);

// Replaces the real dialogs (tests); an empty handler restores them. Returns the previous one.
DialogHandler SetDialogHandler(DialogHandler handler);

}  // namespace qvr
