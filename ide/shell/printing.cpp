#include "printing.h"

#include "editor/oxbrinview.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>

#include <memory>

namespace oxbrin {

void PrintView(COxbrinView* view, QPrinter* printer) {
    printer->setFullPage(false);
    printer->setPageMargins(QMarginsF(COxbrinView::kPrintMarginMm, COxbrinView::kPrintMarginMm,
                                      COxbrinView::kPrintMarginMm, COxbrinView::kPrintMarginMm),
                            QPageLayout::Millimeter);
    std::unique_ptr<QTextDocument> doc(view->document()->clone());
    // The colours live in the editor's layout, not in the text: carry them
    // over so the paper shows them too.
    QTextBlock src = view->document()->begin();
    QTextBlock dst = doc->begin();
    QTextCursor cursor(doc.get());
    for (; src.isValid() && dst.isValid(); src = src.next(), dst = dst.next()) {
        if (!src.layout()) continue;
        for (const QTextLayout::FormatRange& r : src.layout()->formats()) {
            cursor.setPosition(dst.position() + r.start);
            cursor.setPosition(dst.position() + r.start + r.length, QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(r.format);
        }
    }
    QFont font = view->font();
    doc->setDefaultFont(font);
    doc->documentLayout()->setPaintDevice(printer);
    QTextOption option = doc->defaultTextOption();
    const qreal tabChars =
        view->tabStopDistance() / QFontMetricsF(view->font()).horizontalAdvance(QLatin1Char(' '));
    option.setTabStopDistance(QFontMetricsF(font, printer).horizontalAdvance(QLatin1Char(' ')) * tabChars);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc->setDefaultTextOption(option);
    const QRectF page = printer->pageRect(QPrinter::DevicePixel);
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setMargin(0);
    doc->rootFrame()->setFrameFormat(frame);
    doc->setPageSize(page.size());

    QPainter painter(printer);
    const int pages = doc->pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0) printer->newPage();
        painter.save();
        const QRectF clip(0, i * page.height(), page.width(), page.height());
        painter.translate(0, -clip.top());
        doc->drawContents(&painter, clip);
        painter.restore();
    }
}

} // namespace oxbrin
