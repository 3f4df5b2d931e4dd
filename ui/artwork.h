// The window's own pictures, drawn in code so that they scale to any panel: the tall
// picture of the left panel and the program's icon.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace trundle {

// Two tables, records rolling on wheels from the upper one down to the lower one, on a
// navy-to-teal ground. Any size; designed for 185 x 424.
QPixmap PanelPicture(QSize size);

// The same idea on a square: the window's icon.
QIcon ProgramIcon();

}  // namespace trundle
