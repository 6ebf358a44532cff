#pragma once

// Font faces as the Options sheet offers them and as the windows use them:
// one entry per family (the system may hold a family from several
// foundries), and a configured face the system lacks replaced by the
// system's own fixed-pitch font, so what the Options show is what the
// windows draw with.

#include <QString>
#include <QStringList>

namespace oxbrin {

// The installed families, each once, without the foundry in brackets,
// sorted as the font database sorts them.
QStringList InstalledFaces();

// Whether `face` is an installed family (case-insensitive, as the font
// database matches names).
bool IsInstalledFace(const QString& face);

// `face` when it is installed, else the system's fixed-pitch family.
QString UsableFixedFace(const QString& face);

} // namespace oxbrin
