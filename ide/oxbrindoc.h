#pragma once

// A source document: its text, the file it came from and how that file was
// written (encoding, line ends), so that saving gives back the same bytes.

#include "textfile.h"

#include <QObject>
#include <QString>

class QTextDocument;
class QWidget;

namespace oxbrin {

class COxbrinDoc : public QObject {
    Q_OBJECT
public:
    explicit COxbrinDoc(QObject* parent = nullptr);

    // Files above this size are refused rather than read into memory.
    static constexpr qint64 kMaxFileBytes = 256LL * 1024 * 1024;
    ~COxbrinDoc() override;

    QTextDocument* TextDocument() const { return text_; }
    const QString& PathName() const { return path_; }
    // File name for the window caption, "Untitled1" and so on for new ones.
    QString Title() const;
    void SetUntitledNumber(int n) { untitled_ = n; }
    const TextFileFormat& Format() const { return format_; }
    bool IsModified() const;
    void SetModified(bool modified);

    // Reads `path` into the document. On failure `error` says why and the
    // document is unchanged.
    bool OnOpenDocument(const QString& path, QString& error);
    // The two halves of opening: reading can fail, setting the text cannot.
    static bool ReadDocumentFile(const QString& path, DecodedText& decoded, QString& error);
    void SetContents(const QString& path, const DecodedText& decoded);
    // Writes the document to `path` (through a temporary file that replaces
    // the old one only once everything is written). On failure `error` says
    // why, the old file is untouched and the document stays modified.
    bool OnSaveDocument(const QString& path, QString& error);

    // The file-save step: Save As when the document has no file yet or its
    // file is read-only, else save to its file. Tells the user on failure.
    bool DoFileSave(QWidget* parent);
    // Save under a name the user picks (or `path` when given).
    bool DoSave(QWidget* parent, const QString& path = QString(), bool askName = true);
    // Asks whether to save a modified document; false when the user cancels
    // or the save fails.
    bool SaveModified(QWidget* parent);

signals:
    void TitleChanged();
    void Saved(const QString& path);

private:
    QTextDocument* text_;
    QString path_;
    int untitled_ = 1;
    TextFileFormat format_;
};

}  // namespace oxbrin
