#include "contents_view.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace ulmarro::contents {
namespace {

// Beyond this many positions the vertical bar is scaled: one step of the bar
// then stands for several lines (the keyboard and the wheel still move by
// single lines).
constexpr std::uint64_t kSliderRange = 1u << 30;
constexpr int kMargin = 3; // pixels left of the text

} // namespace

ContentsView::ContentsView(std::shared_ptr<const SectionList> lines, QWidget* parent)
    : QAbstractScrollArea(parent), lines_(std::move(lines)) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &ContentsView::sliderAction);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ContentsView::sliderMoved);
    updateScrollBars();
}

std::uint64_t ContentsView::lineCount() const { return lines_ ? lines_->LineCount() : 0; }

QString ContentsView::lineText(std::uint64_t line) const {
    return lines_ ? QString::fromUtf8(lines_->LineText(line)) : QString();
}

int ContentsView::lineHeight() const { return std::max(1, viewport()->fontMetrics().lineSpacing()); }

int ContentsView::visibleLineCount() const { return std::max(1, viewport()->height() / lineHeight()); }

QStringList ContentsView::visibleLines() const {
    QStringList out;
    const std::uint64_t total = lineCount();
    for (std::uint64_t n = first_; n < total && n - first_ < static_cast<std::uint64_t>(visibleLineCount());
         ++n)
        out << lineText(n);
    return out;
}

std::uint64_t ContentsView::maxFirst() const {
    const std::uint64_t total = lineCount(), visible = static_cast<std::uint64_t>(visibleLineCount());
    return total > visible ? total - visible : 0;
}

bool ContentsView::scaled() const { return maxFirst() > kSliderRange; }

int ContentsView::sliderValueFor(std::uint64_t first) const {
    if (!scaled()) return static_cast<int>(first);
    return static_cast<int>(static_cast<unsigned __int128>(first) * kSliderRange / maxFirst());
}

std::uint64_t ContentsView::firstFor(int sliderValue) const {
    const std::uint64_t v = static_cast<std::uint64_t>(std::max(0, sliderValue));
    if (!scaled()) return v;
    // Rounded up, so that the bar's position for the line found is the one
    // asked for: the bar and the lines never argue.
    const std::uint64_t max = maxFirst();
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(v) * max + kSliderRange - 1) /
                                      kSliderRange);
}

void ContentsView::scrollToLine(std::uint64_t first) {
    first_ = std::min(first, maxFirst());
    updateScrollBars();
    viewport()->update();
}

void ContentsView::setCurrentLine(std::uint64_t line) {
    const std::uint64_t total = lineCount();
    if (total == 0) return;
    current_ = std::min(line, total - 1);
    const std::uint64_t visible = static_cast<std::uint64_t>(visibleLineCount());
    if (current_ < first_)
        first_ = current_;
    else if (current_ - first_ >= visible)
        first_ = current_ - visible + 1;
    scrollToLine(first_);
}

void ContentsView::updateScrollBars() {
    QScrollBar* v = verticalScrollBar();
    const std::uint64_t max = maxFirst();
    first_ = std::min(first_, max);
    // A new range clamps the bar's old value, which may be in the other
    // scale: that is no move of the user's, first_ stays.
    settingBar_ = true;
    const int visible = visibleLineCount();
    if (scaled()) {
        v->setRange(0, static_cast<int>(kSliderRange));
        const auto page = static_cast<unsigned __int128>(visible) * kSliderRange / (max + visible);
        v->setPageStep(std::max(1, static_cast<int>(page)));
    } else {
        v->setRange(0, static_cast<int>(max));
        v->setPageStep(visible);
    }
    v->setSingleStep(1);
    v->setValue(sliderValueFor(first_));
    settingBar_ = false;

    // The widest line met so far sets the horizontal range; it only grows,
    // so the bar does not jump while scrolling.
    const QFontMetrics metrics = viewport()->fontMetrics();
    for (const QString& line : visibleLines()) widest_ = std::max(widest_, metrics.horizontalAdvance(line));
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, widest_ + 2 * kMargin - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(std::max(1, metrics.horizontalAdvance(QLatin1Char('0'))));
}

void ContentsView::sliderAction(int action) {
    const std::uint64_t page = static_cast<std::uint64_t>(std::max(1, visibleLineCount() - 1));
    std::uint64_t first = first_;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: first += 1; break;
    case QAbstractSlider::SliderSingleStepSub: first -= std::min<std::uint64_t>(first, 1); break;
    case QAbstractSlider::SliderPageStepAdd: first += page; break;
    case QAbstractSlider::SliderPageStepSub: first -= std::min(first, page); break;
    case QAbstractSlider::SliderToMinimum: first = 0; break;
    case QAbstractSlider::SliderToMaximum: first = maxFirst(); break;
    default: return; // dragging: the value decides (sliderMoved)
    }
    // Steps move by lines, not by the bar's (possibly scaled) units.
    first_ = std::min(first, maxFirst());
    verticalScrollBar()->setSliderPosition(sliderValueFor(first_));
    viewport()->update();
}

void ContentsView::sliderMoved(int value) {
    if (settingBar_ || value == sliderValueFor(first_)) return;
    first_ = std::min(firstFor(value), maxFirst());
    viewport()->update();
}

void ContentsView::scrollContentsBy(int, int) { viewport()->update(); }

void ContentsView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int h = lineHeight();
    const int x = kMargin - horizontalScrollBar()->value();
    const int width = viewport()->width();
    const std::uint64_t total = lineCount();
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    std::uint64_t n = first_;
    for (int y = 0; y < viewport()->height() && n < total; y += h, ++n) {
        if (n == current_) {
            painter.fillRect(0, y, width, h, palette().brush(group, QPalette::Highlight));
            painter.setPen(palette().color(group, QPalette::HighlightedText));
        } else {
            painter.setPen(palette().color(group, QPalette::Text));
        }
        painter.drawText(QRect(x, y, std::max(width - x, widest_ + kMargin), h),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip | Qt::TextSingleLine,
                         lineText(n));
    }
}

void ContentsView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ContentsView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        viewport()->setFont(font());
        widest_ = 0;
        updateScrollBars();
    }
}

void ContentsView::keyPressEvent(QKeyEvent* event) {
    const std::uint64_t total = lineCount();
    const std::uint64_t page = static_cast<std::uint64_t>(std::max(1, visibleLineCount() - 1));
    if (event->matches(QKeySequence::Copy)) {
        if (total) QApplication::clipboard()->setText(lineText(current_));
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up: setCurrentLine(current_ - std::min<std::uint64_t>(current_, 1)); break;
    case Qt::Key_Down: setCurrentLine(current_ + 1); break;
    case Qt::Key_PageUp: setCurrentLine(current_ - std::min(current_, page)); break;
    case Qt::Key_PageDown: setCurrentLine(std::min(current_ + page, total ? total - 1 : 0)); break;
    case Qt::Key_Home: setCurrentLine(0); break;
    case Qt::Key_End: setCurrentLine(total ? total - 1 : 0); break;
    case Qt::Key_Left: horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Right: horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
}

void ContentsView::mousePressEvent(QMouseEvent* event) {
    const std::uint64_t line =
        first_ + static_cast<std::uint64_t>(std::max(0, event->position().toPoint().y()) / lineHeight());
    if (line < lineCount()) setCurrentLine(line);
    setFocus(Qt::MouseFocusReason);
}

void ContentsView::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    if (delta.y() != 0) {
        int lines = delta.y() * QApplication::wheelScrollLines() / 120;
        if (lines == 0) lines = delta.y() > 0 ? 1 : -1;
        const std::uint64_t step =
            static_cast<std::uint64_t>(lines < 0 ? -static_cast<long long>(lines) : lines);
        scrollToLine(lines > 0 ? first_ - std::min(first_, step) : first_ + step);
    }
    if (delta.x() != 0) horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x() / 4);
    event->accept();
}

} // namespace ulmarro::contents
