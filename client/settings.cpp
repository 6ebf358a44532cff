#include "settings.h"

#include "crashhook.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>
#include <memory>
#include <vector>

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

// The system-scope files in search order, the same ones the crash hook reads
// the client's registration from, so an administrator's settings beside the
// registration are found wherever the session's search path starts.
std::vector<std::unique_ptr<QSettings>> OpenSystemScope() {
    std::vector<std::unique_ptr<QSettings>> all;
    for (const std::string& file : crashhook::SystemSettingsFiles())
        all.push_back(Open(QString::fromStdString(file)));
    return all;
}

ClientConfig LoadConfig(const QString& applicationId) {
    auto user = Open(UserSettingsPath());
    auto system = OpenSystemScope();
    QString group = QStringLiteral("Applications/") + applicationId;
    user->beginGroup(group);
    for (auto& s : system) s->beginGroup(group);
    auto value = [&](const char* key) -> QVariant {
        QString k = QString::fromLatin1(key);
        if (user->contains(k)) return user->value(k);
        for (auto& s : system)
            if (s->contains(k)) return s->value(k);
        return {};
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

upload::Deadlines LoadDeadlines() {
    auto user = Open(UserSettingsPath());
    auto system = OpenSystemScope();
    const QString group = QStringLiteral("Deadlines/");
    auto read = [&](const char* key, double* value) {
        const QString k = group + QString::fromLatin1(key);
        QVariant v;
        if (user->contains(k))
            v = user->value(k);
        else
            for (auto& s : system)
                if (s->contains(k)) {
                    v = s->value(k);
                    break;
                }
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (ok && std::isfinite(d) && d > 0) *value = d;
    };
    upload::Deadlines d;
    read("StatusSeconds", &d.statusSeconds);
    read("UploadSeconds", &d.uploadSeconds);
    read("UploadBytesPerSecond", &d.uploadBytesPerSecond);
    read("UploadMaxSeconds", &d.uploadMaxSeconds);
    read("StallSeconds", &d.stallSeconds);
    read("UnattendedSeconds", &d.unattendedSeconds);
    return d;
}

QString ConfiguredDebugger() {
    for (auto& s : OpenSystemScope()) {
        QString command = s->value(QStringLiteral("Debugger")).toString().trimmed();
        if (!command.isEmpty()) return command;
    }
    return {};
}

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
