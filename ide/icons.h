#pragma once

#include <QIcon>

namespace oxbrin {

bool HasCommandIcon(int id);
// The image of a command for toolbars and menus; null when it has none.
QIcon CommandIcon(int id);

}  // namespace oxbrin
