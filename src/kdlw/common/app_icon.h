// The program's icon, a floppy disk, drawn in code so that no image plugin is needed to show it.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kdlw {

QPixmap AppIconPixmap(int size);
QIcon AppIcon();

}  // namespace kdlw
