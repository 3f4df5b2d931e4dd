// The system clipboard as the tab-text destination reaches it. The front end supplies
// one (the wizard gives Qt's clipboard); without one, a clipboard destination fails
// with a message that says so.
#pragma once

#include <memory>
#include <string>

namespace trundle {

class SystemClipboard {
 public:
  virtual ~SystemClipboard() = default;
  // Makes text the clipboard's plain-text content. Throws TrundleError on failure.
  virtual void SetText(const std::string& text) = 0;
};

void SetSystemClipboard(std::shared_ptr<SystemClipboard> clipboard);
// nullptr when the front end supplied none.
std::shared_ptr<SystemClipboard> GetSystemClipboard();

}  // namespace trundle
