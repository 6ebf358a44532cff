#include "terminalpane.h"

#include "options/dlgoptions.h"
#include "options/pageterminal.h"
#include "shell/commands.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/settings.h"

#include <QDialogButtonBox>
#include <QMenu>
#include <QPushButton>
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
}

void CTerminalPane::ReceiveBytes(const uint8_t* bytes, size_t count) {
    PostConsoleText(QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(count)));
}

void CTerminalPane::SetScrollback(quint32 lines) {
    Control()->setMaximumBlockCount(int(UsableTerminalScrollback(lines)));
}

void CTerminalPane::ShowConnectionHint(bool open, const QString& port) {
    // A freshly opened port shows nothing until the board talks: without a
    // word here an empty pane looks the same connected or not.
    Control()->setPlaceholderText(
        open ? QStringLiteral("Connected to %1. Type here to talk to the board; Enter shows its prompt.").arg(port)
             : QStringLiteral("Not connected. Terminal > Connected (Ctrl+T) opens the port chosen in "
                              "Terminal > Options."));
}

void CTerminalPane::OnCharTyped(const QByteArray& bytes) {
    // One byte a key; the board echoes what it wants shown. SendKey
    // connects first when needed and drops keys during a download.
    if (connectFailed_)
        return;
    const bool wasOpen = port_.IsOpen();
    for (char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (!port_.SendKey(&byte, 1))
            break;
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
        QAction* copy = menu_->addAction(QStringLiteral("&Copy Selection"), this, [this] { CopySelection(); });
        copy->setData(int(ID_EDIT_COPY));
        QAction* clear = menu_->addAction(QStringLiteral("Clea&r Window"), this, [this] { ClearText(); });
        clear->setData(int(ID_TERMINAL_CLEAR));
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

void InstallTerminal(CMainFrame* frame, CTerminalPort* port) {
    auto* pane = qobject_cast<CTerminalPane*>(frame->TerminalPane());
    port->SetMessageOwner(frame);
    if (pane) {
        const SettingsBlock& s = frame->App()->Settings();
        pane->SetConsoleFont(s.terminalFont, int(s.terminalFontSize));
        pane->SetScrollback(s.terminalScrollback);
        if (!port->IsOpen())
            port->SetReceiveSink(pane);
    }

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
        ID_TERMINAL_CLEAR, [pane] { if (pane) pane->ClearText(); }, [pane] { return pane && pane->HasText(); });

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
    CDlgOptions::SetTerminalPageFactory([port](CMainFrame* owner, QWidget* parent) {
        auto* page = new CPageTerminal(*port, owner->App()->Settings(), parent);
        CDlgOptions::ExternalPage external;
        external.widget = page;
        external.init = [page] {
            page->OnInitDialog();
            // A change enables the sheet's Apply button, as on its other pages.
            if (auto* box = page->window()->findChild<QDialogButtonBox*>()) {
                if (QPushButton* apply = box->button(QDialogButtonBox::Apply))
                    QObject::connect(page, &CPageTerminal::Changed, apply, [apply] { apply->setEnabled(true); });
            }
        };
        external.apply = [page, owner] {
            if (!page->OnApply())
                return false;
            if (auto* terminal = qobject_cast<CTerminalPane*>(owner->TerminalPane()))
                terminal->SetScrollback(owner->App()->Settings().terminalScrollback);
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

}  // namespace oxbrin
