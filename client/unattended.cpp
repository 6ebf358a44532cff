#include "unattended.h"

namespace ulmarro {

UnattendedAnswer ParseUnattendedAnswer(const QString& text) {
    UnattendedAnswer a;
    QString word = text.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    QString path = text.section(QLatin1Char(':'), 1);
    if (word == QLatin1String("decline"))
        a.kind = UnattendedAnswer::Decline;
    else if (word == QLatin1String("debug"))
        a.kind = UnattendedAnswer::Debug;
    else if (word == QLatin1String("save") && !path.isEmpty())
        a.kind = UnattendedAnswer::Save;
    else if (word == QLatin1String("send"))
        a.kind = UnattendedAnswer::Send;
    else
        a.kind = UnattendedAnswer::Invalid;
    a.path = path;
    return a;
}

UnattendedAnswer UnattendedAnswerFromEnvironment() {
    if (!qEnvironmentVariableIsSet("ULMARRO_UNATTENDED")) return {};
    return ParseUnattendedAnswer(qEnvironmentVariable("ULMARRO_UNATTENDED"));
}

bool DisplayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace ulmarro
