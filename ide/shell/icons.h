#pragma once

#include <QIcon>

namespace oxbrin {

bool HasCommandIcon(int id);
// The image of a command for toolbars and menus; null when it has none.
QIcon CommandIcon(int id);
// The program's own image and that of a document window.
QIcon AppIcon();
QIcon DocumentIcon();

} // namespace oxbrin
