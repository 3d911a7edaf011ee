// Message boxes. With a display they are modal windows with a text and buttons; without
// one (the headless back end), or when a program runs unattended, they write one line
// "caption: text" on stderr and take the default button, so nothing waits for a user.
#pragma once

#include <string_view>

namespace qv {

enum : unsigned {
  MB_OK = 0x00,
  MB_OKCANCEL = 0x01,
  MB_ABORTRETRYIGNORE = 0x02,
  MB_YESNOCANCEL = 0x03,
  MB_YESNO = 0x04,
  MB_RETRYCANCEL = 0x05,
  MB_ICONSTOP = 0x10,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON1 = 0x000,
  MB_DEFBUTTON2 = 0x100,
  MB_DEFBUTTON3 = 0x200,
  // The program's other windows wait (every box is modal to the program already).
  MB_TASKMODAL = 0x2000,
  // The box takes the foreground when shown.
  MB_SETFOREGROUND = 0x10000,
  // The box stays above windows that are not topmost and comes above topmost ones shown
  // before it.
  MB_TOPMOST = 0x40000,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// Returns the id of the button chosen (the default one without a user).
int MessageBox(std::string_view text, std::string_view caption, unsigned flags);

// Unattended: every box answers at once with its default button, display or not.
void SetMessageBoxesUnattended(bool value);
[[nodiscard]] bool MessageBoxesUnattended();

}  // namespace qv
