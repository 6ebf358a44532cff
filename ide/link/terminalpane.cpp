#include "terminalpane.h"

#include "options/dlgoptions.h"
#include "options/pageterminal.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/prompts.h"
#include "shell/settings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMutexLocker>
#include <QPushButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QTimer>

namespace oxbrin {

CTerminalPane::CTerminalPane(CTerminalPort& port, QSize initialSize, QWidget* parent)
    : CConsolePane(ID_VIEW_TERMINAL, QStringLiteral("Terminal"), initialSize, parent), port_(port) {
    // A board's long lines (a memory dump, a banner) continue on the next
    // row instead of running off the right edge.
    Control()->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Control()->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Control()->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A screen reader names the pane's text, not just "text".
    Control()->setAccessibleName(QStringLiteral("Terminal"));
}

void CTerminalPane::ReceiveBytes(const uint8_t* bytes, size_t count) {
    Show(QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(count)));
}

void CTerminalPane::Show(const QByteArray& bytes) {
    {
        QMutexLocker lock(&logLock_);
        // A log that cannot be written (a full disk) must not hold up the
        // pane; the bytes are shown all the same.
        if (log_.isOpen()) log_.write(bytes);
    }
    PostConsoleText(bytes);
}

void CTerminalPane::SetKeyboard(quint32 enter, bool localEcho) {
    switch (enter) {
    case kEnterSendsLF: enter_ = QByteArray("\n"); break;
    case kEnterSendsCRLF: enter_ = QByteArray("\r\n"); break;
    default: enter_ = QByteArray("\r"); break;
    }
    echo_ = localEcho;
}

bool CTerminalPane::SetLogFile(const QString& path, QString* error) {
    QMutexLocker lock(&logLock_);
    if (log_.isOpen() && log_.fileName() == path) return true;
    log_.close();
    if (path.isEmpty()) return true;
    log_.setFileName(path);
    // Unbuffered: what the board said is on disk even if the IDE dies.
    if (log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return true;
    if (error) *error = log_.errorString();
    log_.setFileName(QString());
    return false;
}

QString CTerminalPane::LogFile() const {
    QMutexLocker lock(&logLock_);
    return log_.isOpen() ? log_.fileName() : QString();
}

bool CTerminalPane::SaveText(const QString& path, QString* error) const {
    QSaveFile file(path);
    QByteArray text = Control()->toPlainText().toUtf8();
    if (!text.isEmpty() && !text.endsWith('\n')) text += '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) return true;
    if (error) *error = file.errorString();
    return false;
}

void CTerminalPane::SetScrollback(quint32 lines) {
    Control()->setMaximumBlockCount(int(UsableTerminalScrollback(lines)));
}

void CTerminalPane::ShowConnectionHint(bool open, const QString& port) {
    // A freshly opened port shows nothing until the board talks: without a
    // word here an empty pane looks the same connected or not.
    Control()->setPlaceholderText(
        open ? QStringLiteral("Connected to %1. Type here to talk to the board; Enter shows its prompt.")
                   .arg(port)
             : QStringLiteral("Not connected. Terminal > Connected (Ctrl+T) opens the port chosen in "
                              "Terminal > Options."));
}

void CTerminalPane::OnCharTyped(const QByteArray& bytes) {
    if (route_) {
        for (char c : bytes) {
            const QByteArray send = c == '\r' ? enter_ : QByteArray(1, c);
            route_(send);
            if (echo_) Show(c == '\r' ? QByteArray("\r\n") : send);
        }
        return;
    }
    // One byte a key; the board echoes what it wants shown. SendKey
    // connects first when needed and drops keys during a download.
    if (connectFailed_) return;
    const bool wasOpen = port_.IsOpen();
    for (char c : bytes) {
        // Enter sends the chosen line end; every other key its own byte.
        const QByteArray send = c == '\r' ? enter_ : QByteArray(1, c);
        if (!port_.SendKey(reinterpret_cast<const uint8_t*>(send.constData()), size_t(send.size()))) break;
        // The local echo shows what went out; Enter starts a new line
        // whatever it sends (a lone carriage return would let the board's
        // answer overwrite the typed line).
        if (echo_) Show(c == '\r' ? QByteArray("\r\n") : send);
    }
    if (!wasOpen && !port_.IsOpen()) {
        connectFailed_ = true;
        QTimer::singleShot(0, this, [this] { connectFailed_ = false; });
    }
}

QMenu* CTerminalPane::ContextMenu(CMainFrame* frame) {
    if (!menu_) {
        menu_ = new QMenu(this);
        menu_->setObjectName(QStringLiteral("TERMINAL"));
        QAction* copy =
            menu_->addAction(QStringLiteral("&Copy Selection"), this, [this] { CopySelection(); });
        copy->setData(int(ID_EDIT_COPY));
        QAction* clear = menu_->addAction(QStringLiteral("Clea&r Window"), this, [this] { ClearText(); });
        clear->setData(int(ID_TERMINAL_CLEAR));
        menu_->addAction(frame->MenuItem(ID_TERMINAL_SAVE_LOG, QStringLiteral("Save Terminal &Log...")));
        menu_->addSeparator();
        menu_->addAction(frame->MenuItem(ID_TERMINAL_CONNECT, QStringLiteral("&Connected")));
        menu_->addAction(frame->MenuItem(ID_VIEW_TERMINAL, QStringLiteral("&Show Terminal Window")));
        menu_->addSeparator();
        menu_->addAction(frame->MenuItem(ID_TERMINAL_OPTIONS, QStringLiteral("&Options...")));
        connect(menu_, &QMenu::aboutToShow, this, [this, frame, copy, clear] {
            frame->UpdateCommandUI();
            copy->setEnabled(HasSelection());
            clear->setEnabled(HasText());
        });
    }
    return menu_;
}

QString PortFieldText(const CTerminalPort& port) {
    const platform::Dcb& dcb = port.m_dcb;
    static constexpr const char* kStop[] = {"1", "1.5", "2"};
    static constexpr char kParity[] = {'n', 'o', 'e', 'm', 's'};
    QString text = QStringLiteral("%1  %2,%3,%4,%5")
                       .arg(port.m_strPort)
                       .arg(dcb.BaudRate)
                       .arg(dcb.ByteSize)
                       .arg(QLatin1String(dcb.StopBits < 3 ? kStop[dcb.StopBits] : "?"))
                       .arg(QLatin1Char(dcb.Parity < 5 ? kParity[dcb.Parity] : '?'));
    if (dcb.Flags & platform::Dcb::fOutX) text += QStringLiteral(", XON/XOFF");
    if (dcb.Flags & platform::Dcb::fOutxCtsFlow) text += QStringLiteral(", RTS/CTS");
    if (dcb.Flags & platform::Dcb::fOutxDsrFlow) text += QStringLiteral(", DTR/DSR");
    return text;
}

QLabel* PortField(CMainFrame* frame) {
    return frame->statusBar()->findChild<QLabel*>(QStringLiteral("PortField"));
}

namespace {

// The pane takes the keyboard and log settings; a log that cannot be
// opened is reported on the status bar at start-up, in a message box from
// the Options sheet.
void ApplyTerminalSettings(CMainFrame* frame, CTerminalPane* pane, bool fromOptions) {
    const SettingsBlock& s = frame->App()->Settings();
    pane->SetKeyboard(s.terminalEnter, s.terminalLocalEcho != 0);
    QString error;
    if (pane->SetLogFile(s.terminalLogFile, &error)) return;
    const QString text =
        QString::fromLatin1(strings::kLogOpenFailed).replace(QLatin1String("%s"), s.terminalLogFile);
    if (fromOptions)
        ShowMessage(frame, text + QStringLiteral("\n\n") + error, QMessageBox::Warning);
    else
        frame->statusBar()->showMessage(text + QLatin1Char(' ') + error, 15000);
}

// Save Terminal Log: the pane's text into a file the user names.
void SaveTerminalLog(CMainFrame* frame, CTerminalPane* pane) {
    FileRequest request{true, QString::fromLatin1(strings::kSaveLogTitle), QStringLiteral("terminal.log"),
                        QtFileFilter(QString::fromLatin1(strings::kSaveLogFilter))};
    const QStringList names = AskFileNames(frame, request);
    if (names.isEmpty() || names.front().isEmpty()) return;
    QString error;
    if (!pane->SaveText(names.front(), &error)) {
        ShowMessage(frame,
                    QString::fromLatin1(strings::kSaveLogFailed).replace(QLatin1String("%s"), names.front()) +
                        QStringLiteral("\n\n") + error,
                    QMessageBox::Critical);
    }
}

} // namespace

void InstallTerminal(CMainFrame* frame, CTerminalPort* port) {
    auto* pane = qobject_cast<CTerminalPane*>(frame->TerminalPane());
    port->SetMessageOwner(frame);
    if (pane) {
        const SettingsBlock& s = frame->App()->Settings();
        pane->SetConsoleFont(s.terminalFont, int(s.terminalFontSize));
        pane->SetScrollback(s.terminalScrollback);
        ApplyTerminalSettings(frame, pane, false);
        if (!port->IsOpen()) port->SetReceiveSink(pane);
    }

    // The status bar names the open port and its line, so the user sees
    // where the keys go without opening the Options.
    auto* field = new QLabel(frame->statusBar());
    field->setObjectName(QStringLiteral("PortField"));
    // Its text (the port and line) is its accessible name; the
    // description says what the field is.
    field->setAccessibleDescription(QStringLiteral("Serial port"));
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    field->setContentsMargins(4, 0, 4, 0);
    frame->statusBar()->insertPermanentWidget(0, field);
    auto updateField = [field, port] {
        field->setText(PortFieldText(*port));
        field->setVisible(port->IsOpen());
    };
    updateField();
    QObject::connect(port, &CTerminalPort::ConnectionChanged, field, updateField);

    frame->SetHandler(
        ID_TERMINAL_CONNECT,
        [port] {
            if (port->IsOpen())
                port->CloseWithMessage();
            else
                port->OpenWithMessage();
        },
        {}, [port] { return port->IsOpen(); });
    frame->SetHandler(
        ID_TERMINAL_CLEAR,
        [pane] {
            if (pane) pane->ClearText();
        },
        [pane] { return pane && pane->HasText(); });
    frame->SetHandler(
        ID_TERMINAL_SAVE_LOG,
        [frame, pane] {
            if (pane) SaveTerminalLog(frame, pane);
        },
        [pane] { return pane && pane->HasText(); });

    // Showing the pane connects, hiding it disconnects.
    QObject::connect(frame, &CMainFrame::TerminalPaneToggled, port, [port](bool visible) {
        if (visible && !port->IsOpen())
            port->OpenWithMessage();
        else if (!visible && port->IsOpen())
            port->CloseWithMessage();
    });
    QObject::connect(port, &CTerminalPort::ConnectionChanged, frame, &CMainFrame::RequestUpdate);
    if (pane) {
        pane->ShowConnectionHint(port->IsOpen(), port->m_strPort);
        QObject::connect(port, &CTerminalPort::ConnectionChanged, pane,
                         [pane, port](bool open) { pane->ShowConnectionHint(open, port->m_strPort); });
    }
    QObject::connect(port, &CTerminalPort::SettingsNotTaken, frame,
                     [frame](const QString& text) { frame->statusBar()->showMessage(text, 15000); });

    // The Terminal page of the Options sheet edits this port.
    CDlgOptions::SetTerminalPageFactory([port, updateField](CMainFrame* owner, QWidget* parent) {
        auto* page = new CPageTerminal(*port, owner->App()->Settings(), parent);
        CDlgOptions::ExternalPage external;
        external.widget = page;
        external.init = [page] {
            page->OnInitDialog();
            // A change enables the sheet's Apply button, as on its other pages.
            if (auto* box = page->window()->findChild<QDialogButtonBox*>()) {
                if (QPushButton* apply = box->button(QDialogButtonBox::Apply))
                    QObject::connect(page, &CPageTerminal::Changed, apply,
                                     [apply] { apply->setEnabled(true); });
            }
        };
        external.apply = [page, owner, updateField] {
            if (!page->OnApply()) return false;
            if (auto* terminal = qobject_cast<CTerminalPane*>(owner->TerminalPane())) {
                terminal->SetScrollback(owner->App()->Settings().terminalScrollback);
                ApplyTerminalSettings(owner, terminal, true);
            }
            updateField(); // an open line may run with new settings now
            return true;
        };
        return external;
    });

    if (pane) {
        QObject::connect(pane, &CConsolePane::ContextMenuRequested, frame,
                         [frame, pane](const QPoint& at) { pane->ContextMenu(frame)->popup(at); });
        // Clear Window follows the pane's text.
        QObject::connect(pane->Control(), &QPlainTextEdit::textChanged, frame, &CMainFrame::RequestUpdate);
    }
}

} // namespace oxbrin
