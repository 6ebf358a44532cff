#pragma once

// The "Error Report Contents" dialog (203): the minidump as text lines in a
// virtual list (lines are formatted when they are painted, none is stored)
// and, below it, the files the report will carry.

#include "minidump_view.h"

#include <QAbstractListModel>
#include <QDialog>
#include <QStringList>

#include <memory>

class QLabel;
class QListView;
class QPlainTextEdit;

namespace ulmarro::contents {

class ContentsModel : public QAbstractListModel {
    Q_OBJECT
  public:
    explicit ContentsModel(std::shared_ptr<const SectionList> sections, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  private:
    std::shared_ptr<const SectionList> sections_;
};

class ContentsDialog : public QDialog {
    Q_OBJECT
  public:
    // Opens `dumpPath` (a dump that cannot be read gives an empty list) and
    // lists `files` below it.
    ContentsDialog(const QString& dumpPath, const QStringList& files, QWidget* parent = nullptr);
    ~ContentsDialog() override;

    const SectionList& sections() const { return *sections_; }

  private:
    std::shared_ptr<SectionList> sections_;
    ContentsModel* model_ = nullptr;
    QListView* list_ = nullptr;
    QLabel* filesLabel_ = nullptr;
    QPlainTextEdit* files_ = nullptr;
};

} // namespace ulmarro::contents
