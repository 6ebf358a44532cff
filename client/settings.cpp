#include "settings.h"

#include "crashhook.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace ulmarro {
namespace {

std::unique_ptr<QSettings> Open(const QString& path) {
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QString StatusText(QSettings::Status status) {
    switch (status) {
    case QSettings::NoError: return {};
    case QSettings::AccessError: return QStringLiteral("Permission denied");
    case QSettings::FormatError: return QStringLiteral("The settings file is damaged");
    }
    return {};
}

} // namespace

QString SystemSettingsPath() { return QString::fromStdString(crashhook::SystemSettingsFile()); }

QString UserSettingsPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/KORVELL/Ulmarro.conf");
}

ClientConfig LoadConfig(const QString& applicationId) {
    auto user = Open(UserSettingsPath());
    auto system = Open(SystemSettingsPath());
    QString group = QStringLiteral("Applications/") + applicationId;
    user->beginGroup(group);
    system->beginGroup(group);
    auto value = [&](const char* key) -> QVariant {
        QString k = QString::fromLatin1(key);
        if (user->contains(k)) return user->value(k);
        return system->value(k);
    };
    ClientConfig c;
    c.message = value("Message").toString();
    bool ok = false;
    QVariant dumpType = value("DumpType");
    quint32 type = dumpType.toString().startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                       ? dumpType.toString().mid(2).toUInt(&ok, 16)
                       : dumpType.toUInt(&ok);
    c.dumpType = ok ? type : 0;
    c.productName = value("ProductName").toString();
    c.companyName = value("CompanyName").toString();
    c.iconResource = value("IconResource").toString();
    c.supportEmail = value("SupportEmail").toString();
    c.privacyPolicy = value("PrivacyPolicy").toString();
    c.reportUrl = value("ReportUrl").toString();
    return c;
}

QString ConfiguredDebugger() { return Open(SystemSettingsPath())->value(QStringLiteral("Debugger")).toString().trimmed(); }

bool RegisterClient(const QString& clientPath, QString* error) {
    QString path = SystemSettingsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    auto settings = Open(path);
    settings->setValue(QStringLiteral("Default"), clientPath);
    settings->sync();
    *error = StatusText(settings->status());
    if (error->isEmpty() && !QFileInfo(path).isWritable()) *error = QStringLiteral("Permission denied");
    return error->isEmpty();
}

bool UnregisterClient(QString* error) {
    auto settings = Open(SystemSettingsPath());
    settings->remove(QStringLiteral("Default"));
    settings->sync();
    *error = StatusText(settings->status());
    return error->isEmpty();
}

} // namespace ulmarro
