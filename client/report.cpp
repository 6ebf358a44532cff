#include "report.h"

#include "texts.h"

#include <QFileInfo>

namespace ulmarro {

QString SubstitutePromptText(const QString& text, const ReportInfo& info) {
    // One pass over the text: a name that itself reads "<company>" stays as written.
    static const QString product = QStringLiteral("<productname>");
    static const QString company = QStringLiteral("<company>");
    QString out;
    for (qsizetype i = 0; i < text.size();) {
        if (text.mid(i, product.size()) == product) {
            out += info.config.productName;
            i += product.size();
        } else if (text.mid(i, company.size()) == company) {
            out += info.config.companyName;
            i += company.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

QString DetailsText(const ReportInfo& info) {
    return QString::asprintf("%s - %s - %s - %s - %08llX\r\n%s", info.applicationName.toUtf8().constData(),
                             info.applicationVersion.toUtf8().constData(),
                             info.moduleName.toUtf8().constData(), info.moduleVersion.toUtf8().constData(),
                             static_cast<unsigned long long>(info.offset),
                             info.config.message.toUtf8().constData());
}

void ApplyFallbacks(ReportInfo& info) {
    // ELF files carry no product or company names; the file name stands in
    // for the product.
    if (info.config.productName.isEmpty())
        info.config.productName = QFileInfo(info.executablePath).fileName();
    if (info.config.iconResource.isEmpty()) info.config.iconResource = info.executablePath;
}

} // namespace ulmarro
