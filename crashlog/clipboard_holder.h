// The report copied to the clipboard outlives the program: the text is handed to a holder
// process (the program's own executable started again in a mode of its own) that owns the X
// clipboard until another client takes it or the display goes, as clipboard tools do.
#pragma once

#include <string>

namespace qv {

// Starts the holder with `text`; true once it owns the clipboard. False without an X display
// or when the holder cannot start (the caller then keeps the text in this process).
bool HandClipboardToHolder(const std::string& text);

// Run first at start-up: in a process started as the holder it serves the clipboard and ends
// the process; otherwise it returns at once.
void RunClipboardHolderIfAsked();

}  // namespace qv
