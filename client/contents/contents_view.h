#pragma once

// A list of text lines that are formatted only while they are on screen. All
// rows have one height, so the view needs neither a layout per row (Qt's item
// views keep one, which costs gigabytes for a dump that claims billions of
// lines) nor the rows' texts in advance. The line count is 64-bit; a scroll
// bar, which counts in int, is scaled when the lines outnumber it.

#include "minidump_view.h"

#include <QAbstractScrollArea>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace ulmarro::contents {

class ContentsView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ContentsView(std::shared_ptr<const SectionList> lines, QWidget* parent = nullptr);

    std::uint64_t lineCount() const;
    QString lineText(std::uint64_t line) const;

    // The first line shown and how many whole lines fit.
    std::uint64_t firstVisibleLine() const { return first_; }
    int visibleLineCount() const;
    QStringList visibleLines() const;
    void scrollToLine(std::uint64_t first);

    // The line the keyboard is on (shown highlighted); setting it scrolls it
    // into view.
    std::uint64_t currentLine() const { return current_; }
    void setCurrentLine(std::uint64_t line);

    int lineHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;

private:
    std::uint64_t maxFirst() const;
    bool scaled() const;
    int sliderValueFor(std::uint64_t first) const;
    std::uint64_t firstFor(int sliderValue) const;
    void updateScrollBars();
    void sliderAction(int action);
    void sliderMoved(int value);

    std::shared_ptr<const SectionList> lines_;
    std::uint64_t first_ = 0;
    std::uint64_t current_ = 0;
    int widest_ = 0;          // widest line seen so far, in pixels
    bool settingBar_ = false; // the bar is being set from first_, not moved
};

} // namespace ulmarro::contents
