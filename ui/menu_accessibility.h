// Menu commands as screen readers and scripts see them. Qt 6 describes a menu command by
// its text alone; the window's commands (File1, Exit1, Help1, ReadMe1, About1) carry
// their design name as objectName, and this makes it their accessible description as
// every other control's, so that a script can find File > Exit by the name Exit1.
#pragma once

namespace trundle {

// Installs, once per process, the accessibility factory for menu commands that have an
// objectName. Commands without one keep Qt's own description.
void DescribeNamedMenuCommands();

}  // namespace trundle
