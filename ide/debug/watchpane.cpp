#include "watchpane.h"

#include "session.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

namespace oxbrin {

CWatchPane::CWatchPane(int id, QSize initialSize, QWidget* parent)
    : CZKSCW(id, QStringLiteral("Watch"), initialSize, parent) {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(2, 2, 2, 2);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("E&xpression:"));
    field_ = new QLineEdit;
    field_->setAccessibleName(QStringLiteral("Watch expression"));
    field_->setPlaceholderText(QStringLiteral("a symbol or an expression, Enter adds it"));
    label->setBuddy(field_);
    auto* remove = new QPushButton(QStringLiteral("&Remove"));
    remove->setAccessibleName(QStringLiteral("Remove watch"));
    status_ = new QLabel;
    status_->setAccessibleName(QStringLiteral("Watch status"));
    row->addWidget(label);
    row->addWidget(field_, 1);
    row->addWidget(remove);
    row->addWidget(status_, 1);
    column->addLayout(row);

    table_ = new QTableWidget(0, ColumnCount);
    table_->setAccessibleName(QStringLiteral("Watches"));
    table_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table_->setHorizontalHeaderLabels({QStringLiteral("Expression"), QStringLiteral("Byte"),
                                       QStringLiteral("Word"), QStringLiteral("Decimal"),
                                       QStringLiteral("Binary")});
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->installEventFilter(this);
    column->addWidget(table_, 1);
    SetContent(content);

    connect(field_, &QLineEdit::returnPressed, this, [this] {
        if (AddExpression(field_->text())) field_->clear();
    });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveRow(table_->currentRow()); });
}

void CWatchPane::SetStore(QSettings* store, const QString& key) {
    store_ = store;
    key_ = key;
    Load();
}

void CWatchPane::SetFile(const QString& path) {
    if (path == file_) return;
    file_ = path;
    Load();
}

void CWatchPane::Load() {
    expressions_.clear();
    if (store_) {
        const QVariantMap byFile = store_->value(FileKey()).toMap();
        const QVariant list =
            !file_.isEmpty() && byFile.contains(file_) ? byFile.value(file_) : store_->value(key_);
        for (const QString& e : list.toStringList()) {
            if (!e.trimmed().isEmpty()) expressions_ << e.trimmed();
        }
    }
    Rebuild();
}

void CWatchPane::SetSession(qorb::debug::Session* session) {
    session_ = session;
    Rebuild();
}

bool CWatchPane::AddExpression(const QString& text) {
    const QString e = text.trimmed();
    if (e.isEmpty()) {
        status_->setText(QStringLiteral("Type an expression to watch"));
        return false;
    }
    expressions_ << e;
    status_->clear();
    Save();
    Rebuild();
    return true;
}

void CWatchPane::RemoveRow(int row) {
    if (row < 0 || row >= expressions_.size()) return;
    expressions_.removeAt(row);
    Save();
    Rebuild();
    table_->setCurrentCell(std::min<int>(row, int(expressions_.size()) - 1), 0);
}

bool CWatchPane::eventFilter(QObject* watched, QEvent* e) {
    if (watched == table_ && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
        RemoveRow(table_->currentRow());
        return true;
    }
    return CZKSCW::eventFilter(watched, e);
}

void CWatchPane::Save() {
    if (!store_) return;
    if (!file_.isEmpty()) {
        // Kept even when empty: an emptied list must not fall back to the
        // shared one.
        QVariantMap byFile = store_->value(FileKey()).toMap();
        byFile.insert(file_, expressions_);
        store_->setValue(FileKey(), byFile);
        return;
    }
    if (expressions_.isEmpty())
        store_->remove(key_);
    else
        store_->setValue(key_, expressions_);
}

void CWatchPane::Rebuild() {
    table_->setRowCount(int(expressions_.size()));
    for (int r = 0; r < expressions_.size(); ++r) {
        table_->setItem(r, Expression, new QTableWidgetItem(expressions_[r]));
        for (int c = Byte; c < ColumnCount; ++c) table_->setItem(r, c, new QTableWidgetItem);
    }
    Refresh();
}

void CWatchPane::Refresh() {
    const bool stopped = session_ && !session_->Running();
    for (int r = 0; r < expressions_.size(); ++r) {
        QStringList texts;
        if (stopped) {
            const qorb::debug::WatchValue w = session_->Watch(expressions_[r].toStdString());
            if (w.ok) {
                texts << QString::fromStdString(w.byteText) << QString::fromStdString(w.wordText)
                      << QString::fromStdString(w.decimalText) << QString::fromStdString(w.binaryText);
            } else {
                // The reason stands in the row, where the value would be.
                texts << QString::fromStdString(w.error) << QString() << QString() << QString();
            }
        } else {
            texts << QString() << QString() << QString() << QString();
        }
        for (int c = Byte; c < ColumnCount; ++c) table_->item(r, c)->setText(texts[c - Byte]);
        table_->item(r, Expression)
            ->setData(Qt::AccessibleDescriptionRole, texts.join(QLatin1Char(' ')).trimmed());
    }
}

} // namespace oxbrin
