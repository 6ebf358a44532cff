#pragma once

// The "Error Report Contents" dialog (203): the minidump as text lines in a
// virtual list (lines are formatted when they are painted, none is stored)
// and, below it, the files the report will carry.

#include "contents_view.h"
#include "minidump_view.h"

#include <QDialog>
#include <QStringList>

#include <memory>

class QLabel;
class QPlainTextEdit;

namespace ulmarro::contents {

class ContentsDialog : public QDialog {
    Q_OBJECT
public:
    // Opens `dumpPath` (a dump that cannot be read gives an empty list) and
    // lists `files` below it.
    ContentsDialog(const QString& dumpPath, const QStringList& files, QWidget* parent = nullptr);
    ~ContentsDialog() override;

    const SectionList& sections() const { return *sections_; }
    ContentsView* view() const { return list_; }

private:
    std::shared_ptr<SectionList> sections_;
    ContentsView* list_ = nullptr;
    QLabel* filesLabel_ = nullptr;
    QPlainTextEdit* files_ = nullptr;
};

} // namespace ulmarro::contents
