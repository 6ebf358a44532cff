#pragma once

// What the client knows about one crash once it has been collected: the
// configuration of the crashed application (with its fallbacks) and the
// facts the prompt, the details and the report files show.

#include <QString>
#include <QtGlobal>

namespace ulmarro {

struct ClientConfig {
    QString message;
    quint32 dumpType = 0;
    QString productName;
    QString companyName;
    QString iconResource;
    QString supportEmail;
    QString privacyPolicy;
    QString reportUrl;
};

struct ReportInfo {
    qint64 processId = 0;
    QString executablePath;
    QString applicationName;    // file name of the executable, lower case
    QString applicationVersion; // "a.b.c.d"
    QString moduleName;         // faulting module's file name, lower case, or "unknown"
    QString moduleVersion;
    quint64 offset = 0; // pc - module base, or the pc when the module is unknown
    QString dumpPath;
    QString debuggerCommand; // empty: no debugger configured, no Debug button
    ClientConfig config;
};

// Replaces every "<productname>" and "<company>" of a prompt text.
QString SubstitutePromptText(const QString& text, const ReportInfo& info);

// Text 1201 of the details dialog.
QString DetailsText(const ReportInfo& info);

// Fills the product and company names and the icon source when the
// configuration leaves them empty.
void ApplyFallbacks(ReportInfo& info);

} // namespace ulmarro
