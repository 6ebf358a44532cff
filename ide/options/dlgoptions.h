#pragma once

// The Options sheet: General (fonts, tab stop, colouring), Terminal (the
// serial line), Tools (the build tool and how it runs) and Assembler (the
// assembler's options). Pages copy the settings into their controls when the
// sheet opens and back when it is accepted; nothing reaches the settings
// store before the program ends.

#include <QDialog>
#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace oxbrin {

class CMainFrame;
struct SettingsBlock;

namespace strings {
inline constexpr const char* kOptionsTitle = "Options";                                          // 600
inline constexpr const char* kBrowseFilter = "Execeutables (*.exe)|*.exe|All Files (*.*)|*.*||"; // 176
inline constexpr const char* kBrowseTitle = "Browse for assembler";                              // 177
inline constexpr const char* kBrowseDefaultExt = "exe";                                          // 178
inline constexpr const char* kIntegerRange = "Please enter an integer between %1 and %2.";
} // namespace strings

// One page of the sheet.
class COptionsPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Settings into the controls; clears the modified mark.
    virtual void OnInitDialog() = 0;
    // Controls into the settings. False (after telling the user) keeps the
    // sheet open on this page and changes nothing.
    virtual bool OnApply() = 0;
    bool IsModified() const { return modified_; }

signals:
    void Changed();

protected:
    void MarkModified();
    // MarkModified as a slot for control signals.
    void Touch() { MarkModified(); }
    bool loading_ = false;

private:
    bool modified_ = false;
};

class CPageGeneral : public COptionsPage {
    Q_OBJECT
public:
    CPageGeneral(CMainFrame* frame, QWidget* parent = nullptr);
    void OnInitDialog() override;
    bool OnApply() override;

    static constexpr int kMinFontSize = 4;
    static constexpr int kMaxFontSize = 48;
    static constexpr int kMinTabStop = 2;
    static constexpr int kMaxTabStop = 16;
    static constexpr int kMaxFaceLength = 31;

    QComboBox* EditorFace() const { return editorFace_; }
    QLineEdit* EditorSize() const { return editorSize_; }
    QSpinBox* TabStop() const { return tabStop_; }
    QComboBox* OutputFace() const { return outputFace_; }
    QLineEdit* OutputSize() const { return outputSize_; }
    QComboBox* TerminalFace() const { return terminalFace_; }
    QLineEdit* TerminalSize() const { return terminalSize_; }
    QCheckBox* Highlighting() const { return highlighting_; }
    QCheckBox* Tabbed() const { return tabbed_; }

private:
    void FillFaces(QComboBox* box, const QString& current);
    CMainFrame* frame_;
    QComboBox* editorFace_;
    QLineEdit* editorSize_;
    QSpinBox* tabStop_;
    QComboBox* outputFace_;
    QLineEdit* outputSize_;
    QComboBox* terminalFace_;
    QLineEdit* terminalSize_;
    QCheckBox* highlighting_;
    QCheckBox* tabbed_;
};

class CPageTools : public COptionsPage {
    Q_OBJECT
public:
    CPageTools(SettingsBlock& settings, QWidget* parent = nullptr);
    void OnInitDialog() override;
    bool OnApply() override;
    void Browse();

    QLineEdit* Assembler() const { return assembler_; }
    QPushButton* BrowseButton() const { return browse_; }
    QCheckBox* UseOutputWindow() const { return useOutput_; }
    QCheckBox* CloseWindow() const { return closeWindow_; }

private:
    void UpdateEnables();
    SettingsBlock& settings_;
    QLineEdit* assembler_;
    QPushButton* browse_;
    QCheckBox* useOutput_;
    QCheckBox* closeWindow_;
};

class CPageAssembler : public COptionsPage {
    Q_OBJECT
public:
    CPageAssembler(SettingsBlock& settings, QWidget* parent = nullptr);
    void OnInitDialog() override;
    bool OnApply() override;

    // Whether `word` stands in `text` as a word of its own outside double
    // quotes.
    static bool HasWord(const QString& text, const QString& word);

    QCheckBox* DisableWarnings() const { return disableWarnings_; }
    QComboBox* WarningLevel() const { return warningLevel_; }
    QCheckBox* Compatibility() const { return compatibility_; }
    QCheckBox* Listing() const { return listing_; }
    QCheckBox* CycleCounts() const { return cycles_; }
    QRadioButton* NoSymbols() const { return noSymbols_; }
    QRadioButton* AllSymbols() const { return allSymbols_; }
    QRadioButton* UsedSymbols() const { return usedSymbols_; }
    QLineEdit* Options() const { return options_; }

private:
    void SetControlsFromText(const QString& text);
    void UpdateEnables();
    void RebuildText();
    SettingsBlock& settings_;
    QCheckBox* disableWarnings_;
    QComboBox* warningLevel_;
    QCheckBox* compatibility_;
    QCheckBox* listing_;
    QCheckBox* cycles_;
    QRadioButton* noSymbols_;
    QRadioButton* allSymbols_;
    QRadioButton* usedSymbols_;
    QLineEdit* options_;
};

// The simulated board the debugger runs programs on: one of the built-in
// boards by name, or a board file.
class CPageTarget : public COptionsPage {
    Q_OBJECT
public:
    CPageTarget(SettingsBlock& settings, QWidget* parent = nullptr);
    void OnInitDialog() override;
    bool OnApply() override;
    void Browse();

    QComboBox* Board() const { return board_; }

private:
    SettingsBlock& settings_;
    QComboBox* board_;
    QPushButton* browse_;
};

class CDlgOptions : public QDialog {
    Q_OBJECT
public:
    enum Page : int {
        kPageGeneral = 0,
        kPageTerminal = 1,
        kPageTools = 2,
        kPageAssembler = 3,
        kPageColours = 4,
        kPageTarget = 5
    };

    // The Terminal page comes from the serial link: a factory that makes
    // the page widget and says how to initialise and accept it.
    struct ExternalPage {
        QWidget* widget = nullptr;
        std::function<void()> init;
        std::function<bool()> apply;
    };
    using PageFactory = std::function<ExternalPage(CMainFrame* frame, QWidget* parent)>;
    static void SetTerminalPageFactory(PageFactory factory);

    CDlgOptions(CMainFrame* frame, int startPage, QWidget* parent = nullptr);

    // Opens the sheet modally on `page`; returns whether it was accepted.
    static bool Open(CMainFrame* frame, int page);

    QTabWidget* Tabs() const { return tabs_; }
    CPageGeneral* General() const { return general_; }
    QWidget* Terminal() const { return terminal_.widget; }
    CPageTools* Tools() const { return tools_; }
    CPageAssembler* AssemblerPage() const { return assembler_; }
    COptionsPage* ColoursPage() const { return colours_; }
    CPageTarget* TargetPage() const { return target_; }

    // OK: every page's acceptance in order; the first refusal keeps the
    // sheet open on that page. Returns whether all pages accepted.
    bool Apply();
    void accept() override;

private:
    QTabWidget* tabs_;
    CPageGeneral* general_;
    ExternalPage terminal_;
    CPageTools* tools_;
    CPageAssembler* assembler_;
    COptionsPage* colours_;
    CPageTarget* target_;
};

} // namespace oxbrin
