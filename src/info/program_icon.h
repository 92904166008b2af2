#pragma once

#include <QIcon>
#include <QPixmap>

namespace kiren {

// The program's picture, drawn in code: a card with a chip and the arcs of a reader's field.
QPixmap ProgramIconPixmap(int ASize);

// The same picture in the usual window-icon sizes.
QIcon ProgramIcon();

}  // namespace kiren
