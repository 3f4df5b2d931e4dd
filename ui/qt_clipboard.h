// The desktop clipboard through Qt, for the tab-text destination.
#pragma once

#include "textfiles/clipboard.h"

namespace trundle {

class QtClipboard : public SystemClipboard {
 public:
  void SetText(const std::string& text) override;
};

}  // namespace trundle
