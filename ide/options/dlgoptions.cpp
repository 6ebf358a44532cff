#include "dlgoptions.h"

#include "build/consolepane.h"
#include "fontfaces.h"
#include "pagecolours.h"
#include "shell/mainframe.h"
#include "shell/oxbrinapp.h"
#include "shell/prompts.h"
#include "shell/settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace oxbrin {

namespace {

CDlgOptions::PageFactory& TerminalFactory() {
    static CDlgOptions::PageFactory factory;
    return factory;
}

// Face names as the font lists show them: each family once, and the
// fixed-pitch faces, the ones that suit source text and tool output, with a
// leading ">".
QStringList FaceList() {
    QStringList faces;
    for (const QString& family : InstalledFaces()) {
        if (family.size() > CPageGeneral::kMaxFaceLength) continue;
        faces << (QFontDatabase::isFixedPitch(family) ? QStringLiteral(">") + family : family);
    }
    return faces;
}

QString StripMark(QString face) {
    if (face.startsWith(QLatin1Char('>'))) face.remove(0, 1);
    return face.trimmed();
}

// The integer in `edit` within [lo, hi]; tells the user and focuses the
// control when it is not.
bool ReadRange(QWidget* page, QWidget* control, const QString& text, int lo, int hi, quint32* value) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < lo || v > hi) {
        ShowMessage(page, QString::fromLatin1(strings::kIntegerRange).arg(lo).arg(hi), QMessageBox::Warning);
        control->setFocus();
        return false;
    }
    *value = static_cast<quint32>(v);
    return true;
}

} // namespace

void COptionsPage::MarkModified() {
    if (loading_) return;
    modified_ = true;
    emit Changed();
}

// ---------------------------------------------------------------------------
// General

CPageGeneral::CPageGeneral(CMainFrame* frame, QWidget* parent) : COptionsPage(parent), frame_(frame) {
    auto* layout = new QVBoxLayout(this);
    auto* format = new QGroupBox(QStringLiteral("&Format Settings"), this);
    auto* grid = new QGridLayout(format);
    grid->addWidget(new QLabel(QStringLiteral("Font:"), format), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Size:"), format), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Tab stop:"), format), 0, 3);

    auto makeFace = [format](const char* name) {
        auto* box = new QComboBox(format);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->lineEdit()->setMaxLength(CPageGeneral::kMaxFaceLength + 1);
        box->setObjectName(QString::fromLatin1(name));
        box->setMinimumContentsLength(20);
        return box;
    };
    auto makeSize = [format](const char* name) {
        auto* edit = new QLineEdit(format);
        edit->setValidator(new QIntValidator(0, 999, edit));
        edit->setMaxLength(3);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    editorFace_ = makeFace("EditorFace");
    editorSize_ = makeSize("EditorSize");
    tabStop_ = new QSpinBox(format);
    // The spin box takes any small number; the range is checked on OK, like
    // the sizes.
    tabStop_->setRange(0, 99);
    tabStop_->setObjectName(QStringLiteral("TabStop"));
    outputFace_ = makeFace("OutputFace");
    outputSize_ = makeSize("OutputSize");
    terminalFace_ = makeFace("TerminalFace");
    terminalSize_ = makeSize("TerminalSize");

    auto* editorLabel = new QLabel(QStringLiteral("&Editor:"), format);
    editorLabel->setBuddy(editorFace_);
    auto* outputLabel = new QLabel(QStringLiteral("&Output:"), format);
    outputLabel->setBuddy(outputFace_);
    auto* terminalLabel = new QLabel(QStringLiteral("&Terminal:"), format);
    terminalLabel->setBuddy(terminalFace_);
    // The columns' headings are no buddies: each field gets its full name.
    editorFace_->setAccessibleName(QStringLiteral("Editor font"));
    editorSize_->setAccessibleName(QStringLiteral("Editor font size"));
    tabStop_->setAccessibleName(QStringLiteral("Editor tab stop"));
    outputFace_->setAccessibleName(QStringLiteral("Output font"));
    outputSize_->setAccessibleName(QStringLiteral("Output font size"));
    terminalFace_->setAccessibleName(QStringLiteral("Terminal font"));
    terminalSize_->setAccessibleName(QStringLiteral("Terminal font size"));
    // An editable list's text field is heard on its own as well.
    editorFace_->lineEdit()->setAccessibleName(QStringLiteral("Editor font"));
    outputFace_->lineEdit()->setAccessibleName(QStringLiteral("Output font"));
    terminalFace_->lineEdit()->setAccessibleName(QStringLiteral("Terminal font"));
    grid->addWidget(editorLabel, 1, 0);
    grid->addWidget(editorFace_, 1, 1);
    grid->addWidget(editorSize_, 1, 2);
    grid->addWidget(tabStop_, 1, 3);
    grid->addWidget(outputLabel, 2, 0);
    grid->addWidget(outputFace_, 2, 1);
    grid->addWidget(outputSize_, 2, 2);
    grid->addWidget(terminalLabel, 3, 0);
    grid->addWidget(terminalFace_, 3, 1);
    grid->addWidget(terminalSize_, 3, 2);
    auto* note = new QLabel(
        QStringLiteral(
            "You can set the font, font sizes and tab stops for the editor, output and terminal window."),
        format);
    note->setWordWrap(true);
    grid->addWidget(note, 4, 0, 1, 4);
    layout->addWidget(format);

    auto* editorGroup = new QGroupBox(QStringLiteral("Editor (will be replaced sometime)"), this);
    auto* editorLayout = new QVBoxLayout(editorGroup);
    highlighting_ =
        new QCheckBox(QStringLiteral("&Syntax Highlighting (slow -> small files only)"), editorGroup);
    highlighting_->setObjectName(QStringLiteral("SyntaxHighlighting"));
    editorLayout->addWidget(highlighting_);
    tabbed_ = new QCheckBox(QStringLiteral("Ta&bbed documents"), editorGroup);
    tabbed_->setObjectName(QStringLiteral("TabbedDocuments"));
    editorLayout->addWidget(tabbed_);
    connect(tabbed_, &QCheckBox::toggled, this, &CPageGeneral::Touch);
    layout->addWidget(editorGroup);
    layout->addStretch();

    for (QComboBox* box : {editorFace_, outputFace_, terminalFace_})
        connect(box, &QComboBox::currentTextChanged, this, &CPageGeneral::Touch);
    for (QLineEdit* edit : {editorSize_, outputSize_, terminalSize_})
        connect(edit, &QLineEdit::textChanged, this, &CPageGeneral::Touch);
    connect(tabStop_, &QSpinBox::valueChanged, this, &CPageGeneral::Touch);
    connect(highlighting_, &QCheckBox::toggled, this, &CPageGeneral::Touch);
}

void CPageGeneral::FillFaces(QComboBox* box, const QString& configured) {
    box->clear();
    box->addItems(FaceList());
    // A face this system lacks is drawn with the system's fixed font; the
    // list shows that one, so it names what the window really uses.
    const QString current = UsableFixedFace(configured);
    int index = box->findText(current, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index < 0)
        index = box->findText(QStringLiteral(">") + current, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index >= 0)
        box->setCurrentIndex(index);
    else
        box->setEditText(current);
}

void CPageGeneral::OnInitDialog() {
    loading_ = true;
    const SettingsBlock& s = frame_->App()->Settings();
    FillFaces(editorFace_, s.editorFont);
    FillFaces(outputFace_, s.outputFont);
    FillFaces(terminalFace_, s.terminalFont);
    editorSize_->setText(QString::number(s.editorFontSize));
    outputSize_->setText(QString::number(s.outputFontSize));
    terminalSize_->setText(QString::number(s.terminalFontSize));
    tabStop_->setValue(static_cast<int>(qMin<quint32>(s.editorTabStops, 99)));
    highlighting_->setChecked(s.syntaxHighlighting != 0);
    tabbed_->setChecked(s.tabbedDocuments != 0);
    loading_ = false;
}

bool CPageGeneral::OnApply() {
    quint32 editorSize, tab, outputSize, terminalSize;
    if (!ReadRange(this, editorSize_, editorSize_->text(), kMinFontSize, kMaxFontSize, &editorSize) ||
        !ReadRange(this, tabStop_, tabStop_->text(), kMinTabStop, kMaxTabStop, &tab) ||
        !ReadRange(this, outputSize_, outputSize_->text(), kMinFontSize, kMaxFontSize, &outputSize) ||
        !ReadRange(this, terminalSize_, terminalSize_->text(), kMinFontSize, kMaxFontSize, &terminalSize))
        return false;
    SettingsBlock& s = frame_->App()->Settings();
    s.editorFont = StripMark(editorFace_->currentText()).left(kMaxFaceLength);
    s.editorFontSize = editorSize;
    s.editorTabStops = tab;
    s.outputFont = StripMark(outputFace_->currentText()).left(kMaxFaceLength);
    s.outputFontSize = outputSize;
    s.terminalFont = StripMark(terminalFace_->currentText()).left(kMaxFaceLength);
    s.terminalFontSize = terminalSize;
    s.syntaxHighlighting = highlighting_->isChecked() ? 1 : 0;
    s.tabbedDocuments = tabbed_->isChecked() ? 1 : 0;

    // Applied at once to every editor and to both console panes.
    frame_->App()->ApplyEditorFormatToAll();
    if (auto* output = qobject_cast<CConsolePane*>(frame_->OutputPane()))
        output->SetConsoleFont(s.outputFont, static_cast<int>(s.outputFontSize));
    if (auto* terminal = qobject_cast<CConsolePane*>(frame_->TerminalPane()))
        terminal->SetConsoleFont(s.terminalFont, static_cast<int>(s.terminalFontSize));
    return true;
}

// ---------------------------------------------------------------------------
// Tools

CPageTools::CPageTools(SettingsBlock& settings, QWidget* parent) : COptionsPage(parent), settings_(settings) {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("&Tools"), this);
    auto* grid = new QGridLayout(group);
    auto* note = new QLabel(
        QStringLiteral("You can specify or browse for the name of the tools you want to use."), group);
    note->setWordWrap(true);
    grid->addWidget(note, 0, 0, 1, 3);
    assembler_ = new QLineEdit(group);
    assembler_->setObjectName(QStringLiteral("Assembler"));
    auto* label = new QLabel(QStringLiteral("&Assembler:"), group);
    label->setBuddy(assembler_);
    browse_ = new QPushButton(QStringLiteral(">>"), group);
    browse_->setObjectName(QStringLiteral("Browse"));
    browse_->setAccessibleName(QStringLiteral("Browse for the assembler"));
    grid->addWidget(label, 1, 0);
    grid->addWidget(assembler_, 1, 1);
    grid->addWidget(browse_, 1, 2);
    useOutput_ = new QCheckBox(QStringLiteral("&Use output window"), group);
    useOutput_->setObjectName(QStringLiteral("UseOutputWindow"));
    closeWindow_ = new QCheckBox(QStringLiteral("Close &window on exiting"), group);
    closeWindow_->setObjectName(QStringLiteral("CloseWindow"));
    grid->addWidget(useOutput_, 2, 1);
    grid->addWidget(closeWindow_, 3, 1);
    layout->addWidget(group);
    layout->addStretch();

    connect(assembler_, &QLineEdit::textChanged, this, &CPageTools::Touch);
    connect(browse_, &QPushButton::clicked, this, &CPageTools::Browse);
    connect(useOutput_, &QCheckBox::clicked, this, [this] {
        UpdateEnables();
        MarkModified();
    });
    connect(closeWindow_, &QCheckBox::clicked, this, &CPageTools::Touch);
}

void CPageTools::UpdateEnables() {
    // The console window only exists when the output does not come here.
    closeWindow_->setEnabled(!useOutput_->isChecked());
}

void CPageTools::OnInitDialog() {
    loading_ = true;
    assembler_->setText(settings_.assembler);
    useOutput_->setChecked(settings_.assemblerFlags & kToolUseOutputWindow);
    closeWindow_->setChecked(settings_.assemblerFlags & kToolCloseWindowOnExit);
    UpdateEnables();
    loading_ = false;
}

void CPageTools::Browse() {
    FileRequest req{false, QString::fromLatin1(strings::kBrowseTitle), QString(),
                    QtFileFilter(QString::fromLatin1(strings::kBrowseFilter))};
    const QStringList names = AskFileNames(this, req);
    if (!names.isEmpty()) assembler_->setText(names.front());
}

bool CPageTools::OnApply() {
    settings_.assembler = assembler_->text();
    settings_.assemblerFlags = (useOutput_->isChecked() ? kToolUseOutputWindow : 0) |
                               (closeWindow_->isChecked() ? kToolCloseWindowOnExit : 0);
    return true;
}

// ---------------------------------------------------------------------------
// Assembler

CPageAssembler::CPageAssembler(SettingsBlock& settings, QWidget* parent)
    : COptionsPage(parent), settings_(settings) {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Settings"), this);
    auto* grid = new QGridLayout(group);
    auto* note =
        new QLabel(QStringLiteral("Specify the settings that you whish to pass to the assembler."), group);
    note->setWordWrap(true);
    grid->addWidget(note, 0, 0, 1, 3);

    disableWarnings_ = new QCheckBox(QStringLiteral("Disable &warnings"), group);
    disableWarnings_->setObjectName(QStringLiteral("DisableWarnings"));
    warningLevel_ = new QComboBox(group);
    warningLevel_->setAccessibleName(QStringLiteral("Warning level"));
    warningLevel_->setObjectName(QStringLiteral("WarningLevel"));
    warningLevel_->addItems({QStringLiteral("Level 1"), QStringLiteral("Level 2"), QStringLiteral("Level 3"),
                             QStringLiteral("Level 4")});
    compatibility_ = new QCheckBox(QStringLiteral("&Compatibility mode"), group);
    compatibility_->setObjectName(QStringLiteral("Compatibility"));
    listing_ = new QCheckBox(QStringLiteral("Generate &listing file"), group);
    listing_->setObjectName(QStringLiteral("Listing"));
    cycles_ = new QCheckBox(QStringLiteral("Show c&ycle counts"), group);
    cycles_->setObjectName(QStringLiteral("CycleCounts"));
    noSymbols_ = new QRadioButton(QStringLiteral("&No Symbols"), group);
    noSymbols_->setObjectName(QStringLiteral("NoSymbols"));
    allSymbols_ = new QRadioButton(QStringLiteral("&All"), group);
    allSymbols_->setObjectName(QStringLiteral("AllSymbols"));
    usedSymbols_ = new QRadioButton(QStringLiteral("&Used only"), group);
    usedSymbols_->setObjectName(QStringLiteral("UsedSymbols"));
    auto* symbols = new QButtonGroup(this);
    symbols->addButton(noSymbols_);
    symbols->addButton(allSymbols_);
    symbols->addButton(usedSymbols_);
    options_ = new QLineEdit(group);
    options_->setObjectName(QStringLiteral("Options"));
    auto* optionsLabel = new QLabel(QStringLiteral("&Options:"), group);
    optionsLabel->setBuddy(options_);

    grid->addWidget(disableWarnings_, 1, 0);
    auto* levelLabel = new QLabel(QStringLiteral("Warning level:"), group);
    levelLabel->setBuddy(warningLevel_);
    grid->addWidget(levelLabel, 1, 1);
    grid->addWidget(warningLevel_, 1, 2);
    grid->addWidget(compatibility_, 2, 0);
    grid->addWidget(listing_, 3, 0);
    grid->addWidget(cycles_, 4, 0);
    auto* radios = new QHBoxLayout;
    radios->addWidget(noSymbols_);
    radios->addWidget(allSymbols_);
    radios->addWidget(usedSymbols_);
    grid->addLayout(radios, 5, 0, 1, 3);
    grid->addWidget(optionsLabel, 6, 0);
    grid->addWidget(options_, 6, 1, 1, 2);
    layout->addWidget(group);
    layout->addStretch();

    auto clicked = [this] {
        UpdateEnables();
        RebuildText();
        MarkModified();
    };
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
             disableWarnings_, compatibility_, listing_, cycles_, noSymbols_, allSymbols_, usedSymbols_})
        connect(b, &QAbstractButton::clicked, this, clicked);
    connect(warningLevel_, &QComboBox::activated, this, clicked);
    connect(options_, &QLineEdit::textEdited, this, [this](const QString& text) {
        SetControlsFromText(text);
        UpdateEnables();
        MarkModified();
    });
}

bool CPageAssembler::HasWord(const QString& text, const QString& word) {
    bool quoted = false;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            continue;
        }
        if (quoted) continue;
        // A word starts the text or follows a blank, and ends the text or
        // is followed by one ("-l" is not found in "-lc" nor in "x-l").
        if (i > 0 && !text[i - 1].isSpace()) continue;
        if (text.mid(i, word.size()) != word) continue;
        const qsizetype after = i + word.size();
        if (after == n || text[after].isSpace()) return true;
    }
    return false;
}

void CPageAssembler::SetControlsFromText(const QString& text) {
    disableWarnings_->setChecked(HasWord(text, QStringLiteral("-W0")));
    compatibility_->setChecked(HasWord(text, QStringLiteral("-mc")));
    listing_->setChecked(HasWord(text, QStringLiteral("-l")));
    cycles_->setChecked(HasWord(text, QStringLiteral("-lc")));
    const bool all = HasWord(text, QStringLiteral("-ls"));
    const bool used = HasWord(text, QStringLiteral("-lu"));
    if (all)
        allSymbols_->setChecked(true);
    else if (used)
        usedSymbols_->setChecked(true);
    else
        noSymbols_->setChecked(true);
    int level = 3;
    if (HasWord(text, QStringLiteral("-W1")))
        level = 0;
    else if (HasWord(text, QStringLiteral("-W2")))
        level = 1;
    else if (HasWord(text, QStringLiteral("-W3")))
        level = 2;
    warningLevel_->setCurrentIndex(level);
}

void CPageAssembler::UpdateEnables() {
    warningLevel_->setEnabled(!disableWarnings_->isChecked());
    const bool listing = listing_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{cycles_, noSymbols_, allSymbols_, usedSymbols_})
        w->setEnabled(listing);
}

void CPageAssembler::RebuildText() {
    QStringList words;
    if (disableWarnings_->isChecked())
        words << QStringLiteral("-W0");
    else
        words << QStringLiteral("-W%1").arg(warningLevel_->currentIndex() + 1);
    if (compatibility_->isChecked()) words << QStringLiteral("-mc");
    if (listing_->isChecked()) {
        words << QStringLiteral("-l");
        if (cycles_->isChecked()) words << QStringLiteral("-lc");
        if (allSymbols_->isChecked()) words << QStringLiteral("-ls");
        if (usedSymbols_->isChecked()) words << QStringLiteral("-lu");
    }
    options_->setText(words.join(QLatin1Char(' ')));
}

void CPageAssembler::OnInitDialog() {
    loading_ = true;
    options_->setText(settings_.assemblerOptions);
    SetControlsFromText(settings_.assemblerOptions);
    UpdateEnables();
    loading_ = false;
}

bool CPageAssembler::OnApply() {
    settings_.assemblerOptions = options_->text();
    return true;
}

// ---------------------------------------------------------------------------
// The sheet

// ---------------------------------------------------------------------------
// Target

namespace {
const char* const kBoards[] = {"flat", "hc912b32", "s12dp256", "hc11e9", "mini11"};
} // namespace

CPageTarget::CPageTarget(SettingsBlock& settings, QWidget* parent)
    : COptionsPage(parent), settings_(settings) {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Simulated board for debugging"), this);
    auto* grid = new QGridLayout(group);
    auto* label = new QLabel(QStringLiteral("&Board:"), group);
    board_ = new QComboBox(group);
    board_->setObjectName(QStringLiteral("TargetBoard"));
    board_->setAccessibleName(QStringLiteral("Board"));
    board_->setEditable(true);
    for (const char* name : kBoards) board_->addItem(QString::fromLatin1(name));
    // The text field inside the box is what a screen reader lands on.
    board_->lineEdit()->setAccessibleName(QStringLiteral("Board"));
    label->setBuddy(board_);
    browse_ = new QPushButton(QStringLiteral("Board &File..."), group);
    browse_->setAccessibleName(QStringLiteral("Board file"));
    grid->addWidget(label, 0, 0);
    grid->addWidget(board_, 0, 1);
    grid->addWidget(browse_, 0, 2);
    grid->addWidget(
        new QLabel(QStringLiteral("A board's name, or the path of a board file as qorbsim --board takes it."),
                   group),
        1, 0, 1, 3);
    layout->addWidget(group);
    layout->addStretch();
    connect(board_, &QComboBox::currentTextChanged, this, [this] {
        if (!loading_) MarkModified();
    });
    connect(browse_, &QPushButton::clicked, this, &CPageTarget::Browse);
}

void CPageTarget::OnInitDialog() {
    loading_ = true;
    board_->setCurrentText(settings_.targetBoard);
    loading_ = false;
}

void CPageTarget::Browse() {
    FileRequest req{false, QStringLiteral("Board File"), QString(), QStringLiteral("All Files (*)")};
    const QStringList names = AskFileNames(this, req);
    if (!names.isEmpty()) board_->setCurrentText(names.front());
}

bool CPageTarget::OnApply() {
    const QString board = board_->currentText().trimmed();
    bool known = board.isEmpty();
    for (const char* name : kBoards) known = known || board == QLatin1String(name);
    // A board that is neither built in nor a file would only fail at the
    // next Start Debugging; it is refused here, where it was typed.
    if (!known && !QFileInfo(board).isFile()) {
        ShowMessage(this,
                    QStringLiteral("There is no board named %1, and no board file of that name.").arg(board),
                    QMessageBox::Warning);
        return false;
    }
    settings_.targetBoard = board.isEmpty() ? QStringLiteral("flat") : board;
    return true;
}

void CDlgOptions::SetTerminalPageFactory(PageFactory factory) { TerminalFactory() = std::move(factory); }

CDlgOptions::CDlgOptions(CMainFrame* frame, int startPage, QWidget* parent)
    : QDialog(parent ? parent : frame), tabs_(new QTabWidget(this)) {
    setWindowTitle(QString::fromLatin1(strings::kOptionsTitle));
    setObjectName(QStringLiteral("DlgOptions"));
    SettingsBlock& s = frame->App()->Settings();
    general_ = new CPageGeneral(frame, tabs_);
    tools_ = new CPageTools(s, tabs_);
    assembler_ = new CPageAssembler(s, tabs_);
    if (TerminalFactory()) terminal_ = TerminalFactory()(frame, tabs_);
    if (!terminal_.widget) terminal_.widget = new QWidget(tabs_); // the serial link fills this place
    tabs_->addTab(general_, QStringLiteral("General"));
    tabs_->addTab(terminal_.widget, QStringLiteral("Terminal"));
    tabs_->addTab(tools_, QStringLiteral("Tools"));
    tabs_->addTab(assembler_, QStringLiteral("Assembler"));
    colours_ = new CPageColours(frame, tabs_);
    tabs_->addTab(colours_, QStringLiteral("Colours"));
    target_ = new CPageTarget(s, tabs_);
    tabs_->addTab(target_, QStringLiteral("Target"));

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    QPushButton* apply = buttons->button(QDialogButtonBox::Apply);
    apply->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgOptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgOptions::reject);
    connect(apply, &QPushButton::clicked, this, [this, apply] {
        if (Apply()) apply->setEnabled(false);
    });
    for (COptionsPage* page :
         std::initializer_list<COptionsPage*>{general_, tools_, assembler_, colours_, target_})
        connect(page, &COptionsPage::Changed, apply, [apply] { apply->setEnabled(true); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);

    general_->OnInitDialog();
    if (terminal_.init) terminal_.init();
    tools_->OnInitDialog();
    assembler_->OnInitDialog();
    colours_->OnInitDialog();
    target_->OnInitDialog();
    tabs_->setCurrentIndex(qBound(0, startPage, tabs_->count() - 1));
    // The sheet is opened for the page's first field (Terminal > Options
    // for the port): the caret starts there rather than on the tabs.
    QWidget* page = tabs_->currentWidget();
    for (QWidget* w = page->nextInFocusChain(); w && w != page && page->isAncestorOf(w);
         w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabledTo(page) && !w->isHidden()) {
            w->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
}

bool CDlgOptions::Apply() {
    struct Step {
        QWidget* page;
        std::function<bool()> apply;
    };
    const Step steps[] = {
        {general_, [this] { return general_->OnApply(); }},
        {terminal_.widget, terminal_.apply},
        {tools_, [this] { return tools_->OnApply(); }},
        {assembler_, [this] { return assembler_->OnApply(); }},
        {colours_, [this] { return colours_->OnApply(); }},
        {target_, [this] { return target_->OnApply(); }},
    };
    for (const Step& step : steps) {
        if (step.apply && !step.apply()) {
            tabs_->setCurrentWidget(step.page);
            return false;
        }
    }
    return true;
}

void CDlgOptions::accept() {
    if (Apply()) QDialog::accept();
}

bool CDlgOptions::Open(CMainFrame* frame, int page) {
    CDlgOptions dlg(frame, page);
    const bool accepted = dlg.exec() == QDialog::Accepted;
    frame->RequestUpdate();
    return accepted;
}

} // namespace oxbrin
