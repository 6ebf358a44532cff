#pragma once

// A source document: its text, the file it came from and how that file was
// written (encoding, line ends), so that saving gives back the same bytes.
// The document watches its file: what another program does to it is noticed
// before anything is written over it.

#include "textfile.h"

#include <QObject>
#include <QString>

#include <functional>

class QTextDocument;
class QTimer;
class QWidget;

namespace oxbrin {

class CFileWatch;

class COxbrinDoc : public QObject {
    Q_OBJECT
public:
    explicit COxbrinDoc(QObject* parent = nullptr);

    // Files above this size are refused rather than read into memory.
    static constexpr qint64 kMaxFileBytes = 256LL * 1024 * 1024;
    // A line longer than this (in characters) makes the document read-only:
    // Qt lays out and shapes an edited line as a whole after every key, which
    // costs about 1 ms per 1,000 characters (a 60,000-character line took
    // 64 ms a key, a 2 MB one minutes); see bench/ide/longline.sh.
    static constexpr qsizetype kLongLineChars = 32 * 1024;
    ~COxbrinDoc() override;

    QTextDocument* TextDocument() const { return text_; }
    const QString& PathName() const { return path_; }
    // File name for the window caption, "Untitled1" and so on for new ones.
    QString Title() const;
    void SetUntitledNumber(int n) { untitled_ = n; }
    const TextFileFormat& Format() const { return format_; }
    bool IsModified() const;
    void SetModified(bool modified);
    // True while the text holds a line longer than kLongLineChars.
    bool IsReadOnly() const { return readOnly_; }
    // A lasting note about the document shown above its text (a line too
    // long to edit, a file changed or gone); empty when there is none.
    QString Note() const;

    // Reads `path` into the document. On failure `error` says why and the
    // document is unchanged.
    bool OnOpenDocument(const QString& path, QString& error);
    // The two halves of opening: reading can fail, setting the text cannot.
    static bool ReadDocumentFile(const QString& path, DecodedText& decoded, QString& error);
    void SetContents(const QString& path, const DecodedText& decoded);
    // Writes the document to `path` (see WriteFileSafely). On failure
    // `error` says why, the old file is untouched and the document stays
    // modified.
    bool OnSaveDocument(const QString& path, QString& error);

    // The file-save step (Save, Save All, before a build): first the file
    // is compared with what was read or written last. Changed by another
    // program: an unmodified document is reloaded; a modified one asks
    // whether to reload, overwrite or cancel. Gone: Save As. Otherwise
    // Save As when the document has no file yet or its file is read-only,
    // else save to its file (nothing is written for an unmodified document
    // whose file is unchanged). Tells the user on failure.
    bool DoFileSave(QWidget* parent);
    // Save under a name the user picks (or `path` when given).
    bool DoSave(QWidget* parent, const QString& path = QString(), bool askName = true);
    // Asks whether to save a modified document; false when the user cancels
    // or the save fails.
    bool SaveModified(QWidget* parent);

    // Looks at the file and acts on what another program did to it: an
    // unmodified document is reloaded (one Undo brings the text before
    // back); a modified one keeps its text and is noted; a file that is
    // gone leaves the text in place, marked modified. Run on the watcher's
    // signal and whenever the program becomes active again.
    void CheckFileOnDisk();
    // Reads the file again as one undoable edit. False (with `error`) when
    // it cannot be read; the text is then unchanged.
    bool ReloadFromDisk(QString& error);
    // How a reloaded text is put into the document (a view colours a large
    // text in slices); without one, at once.
    using Loader = std::function<void(const std::function<void()>& load, qsizetype lines)>;
    void SetLoader(Loader loader) { loader_ = std::move(loader); }

    // Why the file `path` holding `text` must not be given to the assembler
    // (it would be overwritten by the build's own output, or it holds
    // S-records, not source); empty when it may be built.
    static QString WhyNotASource(const QString& path, const QString& text);
    QString WhyNotASource() const;

signals:
    void TitleChanged();
    void Saved(const QString& path);
    // A passing note for the status bar.
    void StatusNote(const QString& text);
    void NoteChanged();
    void ReadOnlyChanged(bool readOnly);
    // Around a reload, so that the views keep their place in the text.
    void AboutToReload();
    void Reloaded();

private:
    friend class CFileWatch;
    void WatchFile();
    void SetDiskNote(const QString& note);
    void SetReadOnly(bool readOnly);
    void ForgetOutsideChanges();
    // Modified only because the file went away (no edit since).
    bool ModifiedOnlyByLoss() const;
    QString ShownName() const;

    QTextDocument* text_;
    QString path_;
    int untitled_ = 1;
    TextFileFormat format_;
    DiskStamp stamp_;
    Loader loader_;
    QTimer* checkTimer_;
    QString diskNote_;
    bool readOnly_ = false;
    bool checking_ = false;
    bool fileGone_ = false;
    bool changeNoted_ = false;
    bool markedForLoss_ = false;
    int lossRevision_ = 0;
};

} // namespace oxbrin
