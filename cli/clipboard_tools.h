// The desktop clipboard from a terminal: hands the text to wl-copy, xclip or xsel, the
// first that the session has (Wayland first).
#pragma once

#include <memory>

#include "textfiles/clipboard.h"

namespace trundle {

// nullptr when no display is set or none of the tools is installed.
std::shared_ptr<SystemClipboard> FindCommandClipboard();

}  // namespace trundle
