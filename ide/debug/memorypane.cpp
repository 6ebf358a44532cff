#include "memorypane.h"

#include "expression.h"
#include "session.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

namespace oxbrin {

namespace {

QString Hex(unsigned value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QChar Printable(std::uint8_t b) { return b >= 0x20 && b < 0x7F ? QChar(b) : QChar('.'); }

} // namespace

CMemoryPane::CMemoryPane(int id, QSize initialSize, QWidget* parent)
    : CZKSCW(id, QStringLiteral("Memory"), initialSize, parent) {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(2, 2, 2, 2);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Address:"));
    addressField_ = new QLineEdit;
    addressField_->setAccessibleName(QStringLiteral("Memory address"));
    addressField_->setPlaceholderText(QStringLiteral("$1000, a symbol or an expression"));
    label->setBuddy(addressField_);
    status_ = new QLabel;
    status_->setAccessibleName(QStringLiteral("Memory status"));
    row->addWidget(label);
    row->addWidget(addressField_, 1);
    row->addWidget(status_, 2);
    column->addLayout(row);

    table_ = new QTableWidget(kRows, kColumns + 1);
    table_->setAccessibleName(QStringLiteral("Memory"));
    table_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QStringList heads;
    for (int c = 0; c < kColumns; ++c) heads << Hex(unsigned(c), 1);
    heads << QStringLiteral("Characters");
    table_->setHorizontalHeaderLabels(heads);
    // Sizes fixed from the font once: sized to their contents, the sections
    // were measured again at every refresh while the program runs.
    const QFontMetrics metrics(table_->font());
    const int padding = 2 * table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_) + 10;
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < kColumns; ++c)
        table_->setColumnWidth(c, metrics.horizontalAdvance(QStringLiteral("WW")) + padding);
    table_->setColumnWidth(kColumns,
                           metrics.horizontalAdvance(QString(kColumns, QLatin1Char('W'))) + padding);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c <= kColumns; ++c) {
            auto* item = new QTableWidgetItem;
            if (c == kColumns) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            table_->setItem(r, c, item);
        }
    }
    column->addWidget(table_, 1);
    SetContent(content);

    connect(addressField_, &QLineEdit::returnPressed, this, [this] { GoTo(addressField_->text()); });
    connect(table_, &QTableWidget::itemChanged, this, &CMemoryPane::OnItemChanged);
    SetSession(nullptr);
}

void CMemoryPane::SetSession(qorb::debug::Session* session) {
    session_ = session;
    lastStop_.clear();
    before_.clear();
    shown_.clear();
    Fill({});
    status_->setText(session ? QString() : QStringLiteral("Memory is shown while debugging"));
    if (session) session->SetSnapshotWindow(address_, kBytes);
}

bool CMemoryPane::GoTo(const QString& text) {
    if (!session_) {
        status_->setText(QStringLiteral("Memory is shown while debugging"));
        return false;
    }
    const qorb::debug::LineMapReader& map = session_->Map();
    qorb::debug::ExpressionContext context;
    context.symbol = [&map](const std::string& name) -> std::optional<std::int32_t> {
        for (const auto& s : map.Symbols()) {
            if (s.name == name) return std::int32_t(s.value);
        }
        return std::nullopt;
    };
    qorb::sim::Registers regs;
    if (session_->GetRegisters(regs)) context.location = regs.pc;
    std::string error;
    const auto value = qorb::debug::EvaluateExpression(text.trimmed().toStdString(), context, error);
    if (!value) {
        status_->setText(QString::fromStdString(error));
        return false;
    }
    if (*value < 0 || *value > 0xFFFF) {
        status_->setText(QStringLiteral("%1 is not an address ($0000 to $FFFF)").arg(*value));
        return false;
    }
    // Rows start on a multiple of 16, as a dump is read.
    address_ = std::uint16_t(*value & 0xFFF0);
    status_->setText(QStringLiteral("$%1").arg(Hex(unsigned(*value), 4)));
    session_->SetSnapshotWindow(address_, kBytes);
    if (!session_->Running()) {
        Fill(lastStop_);
    }
    return true;
}

void CMemoryPane::ShowStopped() {
    if (!session_) return;
    std::vector<std::uint8_t> all;
    if (!session_->ReadMemory(0, 0x10000, all)) return;
    before_ = std::move(lastStop_);
    lastStop_ = std::move(all);
    Fill(lastStop_);
}

void CMemoryPane::ShowRunning(const qorb::debug::Snapshot& snap) {
    if (!session_ || snap.windowAddress != address_ || snap.window.size() < std::size_t(kBytes)) return;
    // Fill takes the whole memory; lay the window into a copy of the last stop.
    std::vector<std::uint8_t> all = lastStop_;
    all.resize(0x10000);
    for (int i = 0; i < kBytes; ++i) all[std::uint16_t(address_ + i)] = snap.window[std::size_t(i)];
    Fill(all);
}

std::optional<std::uint8_t> CMemoryPane::ShownByte(std::uint16_t address) const {
    const std::uint16_t offset = std::uint16_t(address - address_);
    if (offset >= kBytes || shown_.size() < std::size_t(kBytes)) return std::nullopt;
    return shown_[offset];
}

bool CMemoryPane::IsHighlighted(std::uint16_t address) const {
    const std::uint16_t offset = std::uint16_t(address - address_);
    if (offset >= kBytes) return false;
    const QTableWidgetItem* item = table_->item(offset / kColumns, offset % kColumns);
    return item && item->font().bold();
}

void CMemoryPane::Fill(const std::vector<std::uint8_t>& all) {
    filling_ = true;
    const bool have = all.size() == 0x10000;
    // Stopped: against the stop before; running: against the last stop.
    const std::vector<std::uint8_t>& reference = session_ && session_->Running() ? lastStop_ : before_;
    const bool compare = have && reference.size() == 0x10000;
    shown_.assign(have ? kBytes : 0, 0);
    // Only what differs from what the cell shows is set: every change of a
    // cell makes the view measure and lay out again, and ten refreshes a
    // second of a whole window kept the window from answering for tens of
    // milliseconds each time, while a running program changes a few bytes.
    const QBrush changed(Qt::red);
    auto setText = [](QTableWidgetItem* item, const QString& text) {
        if (item->text() != text) item->setText(text);
    };
    auto mark = [&changed](QTableWidgetItem* item, bool differs) {
        if (item->font().bold() != differs) {
            QFont font = item->font();
            font.setBold(differs);
            item->setFont(font);
        }
        const QBrush brush = differs ? changed : QBrush();
        if (item->foreground() != brush) item->setForeground(brush);
    };
    for (int r = 0; r < kRows; ++r) {
        const unsigned rowAddress = (address_ + unsigned(r * kColumns)) & 0xFFFF;
        const QString head = QStringLiteral("$%1").arg(Hex(rowAddress, 4));
        if (QTableWidgetItem* h = table_->verticalHeaderItem(r))
            setText(h, head);
        else
            table_->setVerticalHeaderItem(r, new QTableWidgetItem(head));
        QString chars;
        for (int c = 0; c < kColumns; ++c) {
            const std::uint16_t a = std::uint16_t(rowAddress + unsigned(c));
            QTableWidgetItem* item = table_->item(r, c);
            if (!have) {
                setText(item, QString());
                mark(item, false);
                continue;
            }
            const std::uint8_t b = all[a];
            shown_[std::size_t(r * kColumns + c)] = b;
            const QString text = Hex(b, 2);
            setText(item, text);
            const QString spoken = QStringLiteral("$%1: %2").arg(Hex(a, 4), text);
            if (item->data(Qt::AccessibleTextRole).toString() != spoken)
                item->setData(Qt::AccessibleTextRole, spoken);
            mark(item, compare && reference[a] != b);
            chars += Printable(b);
        }
        setText(table_->item(r, kColumns), chars);
    }
    filling_ = false;
}

void CMemoryPane::OnItemChanged(QTableWidgetItem* item) {
    if (filling_ || !item || item->column() >= kColumns) return;
    const int offset = item->row() * kColumns + item->column();
    const std::uint16_t a = std::uint16_t(address_ + unsigned(offset));
    if (!session_ || shown_.size() < std::size_t(kBytes)) {
        Fill({});
        return;
    }
    bool ok = false;
    QString text = item->text().trimmed();
    if (text.startsWith(QLatin1Char('$'))) text.remove(0, 1);
    const unsigned value = text.toUInt(&ok, 16);
    std::string error;
    if (!ok || value > 0xFF) {
        status_->setText(QStringLiteral("\"%1\" is not a byte: type two hex digits").arg(item->text()));
    } else if (!session_->WriteMemory(a, {std::uint8_t(value)}, error)) {
        status_->setText(QString::fromStdString(error));
    } else {
        status_->setText(QStringLiteral("$%1 = $%2").arg(Hex(a, 4), Hex(value, 2)));
    }
    // What the memory holds now, whether the write took or not.
    std::vector<std::uint8_t> now;
    if (!session_->Running() && session_->ReadMemory(a, 1, now) && lastStop_.size() == 0x10000)
        lastStop_[a] = now[0];
    Fill(lastStop_);
}

} // namespace oxbrin
