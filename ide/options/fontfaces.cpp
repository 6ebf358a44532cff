#include "fontfaces.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QSet>

namespace oxbrin {

namespace {

// "Nimbus Sans [urw]" -> "Nimbus Sans".
QString WithoutFoundry(const QString& family) {
    const qsizetype bracket = family.lastIndexOf(QLatin1String(" ["));
    if (bracket > 0 && family.endsWith(QLatin1Char(']'))) return family.left(bracket);
    return family;
}

} // namespace

QStringList InstalledFaces() {
    QStringList faces;
    QSet<QString> seen;
    for (const QString& family : QFontDatabase::families()) {
        const QString face = WithoutFoundry(family);
        if (!seen.contains(face.toCaseFolded())) {
            seen.insert(face.toCaseFolded());
            faces << face;
        }
    }
    return faces;
}

bool IsInstalledFace(const QString& face) {
    const QString wanted = face.trimmed().toCaseFolded();
    if (wanted.isEmpty()) return false;
    for (const QString& family : QFontDatabase::families()) {
        if (WithoutFoundry(family).toCaseFolded() == wanted) return true;
    }
    return false;
}

QString UsableFixedFace(const QString& face) {
    if (IsInstalledFace(face)) return face.trimmed();
    // The family the system's fixed font resolves to, not its alias
    // ("Monospace"): that is the name the user can find in the lists.
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QString family = QFontInfo(fixed).family();
    return family.isEmpty() ? fixed.family() : family;
}

} // namespace oxbrin
