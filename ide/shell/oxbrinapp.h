#pragma once

// The application object: start-up, the settings block, the documents and
// the recent-file list, shutdown.

#include "settings.h"

#include <QObject>
#include <QPrinter>
#include <QSettings>
#include <QStringList>

#include <memory>

namespace oxbrin {

class CMainFrame;
class COxbrinDoc;
class CChildFrame;
class CBuildRunner;
class CTerminalPort;
class CDownloadControl;
class CDebugControl;

class COxbrinApp : public QObject {
    Q_OBJECT
public:
    // `store` is the settings store to use; without one the user's own
    // store for KORVELL / Oxbrin is used.
    explicit COxbrinApp(std::unique_ptr<QSettings> store = nullptr);
    ~COxbrinApp() override;

    // Start-up: settings, main frame, the command line (`args` without the
    // program name: none opens no document, a file name opens that file),
    // the frame's placement. False ends the program.
    bool InitInstance(const QStringList& args);
    // Saves the settings and the recent-file list.
    void ExitInstance();

    SettingsBlock& Settings() { return settings_; }
    QSettings& Store() { return *store_; }
    CMainFrame* MainFrame() const { return frame_.get(); }
    CBuildRunner* ToolRunner() const { return toolRunner_.get(); }
    CDebugControl* Debugger() const { return debugger_; }
    // The one serial port to the board.
    CTerminalPort& TerminalPort() { return *terminalPort_; }
    // The download commands and the transfer over that port.
    CDownloadControl* Downloads() const { return downloads_.get(); }
    QPrinter* Printer();

    // Documents in the order they were opened.
    QList<CChildFrame*> Children() const;
    QList<COxbrinDoc*> Documents() const;
    COxbrinDoc* FileNew();
    void FileOpen();
    // Opens `path` or activates the window that already shows it. Tells the
    // user and returns null when the file cannot be read.
    COxbrinDoc* OpenDocumentFile(const QString& path);
    // Save All: the file-save step of every modified document in order,
    // stopping at the first that fails.
    bool SaveAll();
    // Asks about every modified document; false when the user cancels.
    bool SaveAllModified();
    void CloseAllDocuments();
    // Close All: closes every document when saving the modified ones worked.
    void CloseAll();

    const QStringList& RecentFiles() const { return recent_; }
    void AddToRecentFileList(const QString& path);
    void RemoveFromRecentFileList(const QString& path);

    // Font, tab stops and colouring from the settings on every open view.
    void ApplyEditorFormatToAll();
    // Makes the scheme of the settings (or the desktop's) the active one.
    void ApplyColourScheme();
    // Every document looks at its file for changes made by other programs
    // (run whenever the program becomes the active one again).
    void CheckDocumentsOnDisk();
    // Whether `path` holding `text` may be given to the assembler; tells
    // the user why not.
    bool MayBuild(const QString& path, const QString& text);

signals:
    void RecentFilesChanged();

private:
    CChildFrame* CreateChild(COxbrinDoc* doc);

    std::unique_ptr<QSettings> store_;
    SettingsBlock settings_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<CBuildRunner> toolRunner_;
    std::unique_ptr<CTerminalPort> terminalPort_;
    CDebugControl* debugger_ = nullptr; // the frame's child
    std::unique_ptr<CDownloadControl> downloads_;
    std::unique_ptr<QPrinter> printer_;
    QStringList recent_;
    int untitledCount_ = 0;
};

} // namespace oxbrin
