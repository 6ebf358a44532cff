#pragma once

// Command ids, menu texts, status prompts and accelerators of the IDE. The
// ids are the numbers the menus, toolbars and update rules are keyed on; the
// texts are the program's own and used exactly as written here.

#include <span>

namespace oxbrin {

enum CommandId : int {
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_SAVE_ALL = 33011,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_MRU_FILE1 = 57616,
    ID_APP_EXIT = 57665,
    ID_EDIT_UNDO = 57643,
    ID_EDIT_REDO = 57644,
    ID_EDIT_CUT = 57635,
    ID_EDIT_COPY = 57634,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_CLEAR = 57632,
    ID_EDIT_CLEAR_ALL = 57633,
    ID_EDIT_SELECT_ALL = 57642,
    ID_EDIT_FIND = 57636,
    ID_EDIT_REPEAT = 57640,
    ID_EDIT_REPLACE = 57641,
    ID_EDIT_GOTO = 33021,
    ID_EDIT_TOGGLE_COMMENT = 33022,
    ID_VIEW_TB_STANDARD = 33031,
    ID_VIEW_TB_BUILD = 33032,
    ID_VIEW_TB_TERMINAL = 33033,
    ID_VIEW_TB_DEBUG = 33034,
    ID_VIEW_STATUS_BAR = 59393,
    ID_VIEW_OUTPUT = 33035,
    ID_VIEW_VARNEL = 33036,
    ID_VIEW_TERMINAL = 33037,
    ID_VIEW_REGISTER_BAR = 33119,
    ID_VIEW_MEMORY = 33149,
    ID_VIEW_WATCH = 33150,
    ID_VIEW_OPTIONS = 33054,
    ID_BUILD_CURRENT = 33051,
    ID_BUILD_PROJECT = 33052,
    ID_BUILD_SET_PROJECT = 33121,
    ID_BUILD_RELEASE_PROJECT = 33122,
    ID_BUILD_OPTIONS = 33129,
    ID_BUILD_STOP = 33130,
    ID_BUILD_NEXT_MESSAGE = 33131,
    ID_BUILD_PREV_MESSAGE = 33132,
    ID_DEBUG_START = 33140,
    ID_DEBUG_PAUSE = 33141,
    ID_DEBUG_STOP = 33142,
    ID_DEBUG_STEP_INTO = 33143,
    ID_DEBUG_STEP_OVER = 33144,
    ID_DEBUG_STEP_OUT = 33145,
    ID_DEBUG_RUN_TO_CURSOR = 33146,
    ID_DEBUG_TOGGLE_BREAKPOINT = 33147,
    ID_DEBUG_DELETE_BREAKPOINTS = 33148,
    ID_TERMINAL_CONNECT = 33062,
    ID_TERMINAL_UPLOAD = 33063,
    ID_TERMINAL_DOWNLOAD = 33064,
    ID_TERMINAL_DOWNLOAD_EEPROM = 33120,
    ID_TERMINAL_STOP = 33112,
    ID_TERMINAL_CLEAR = 33065,
    ID_TERMINAL_OPTIONS = 33066,
    ID_TERMINAL_SAVE_LOG = 33067,
    ID_WINDOW_CLOSE_ALL = 33082,
    ID_WINDOW_NEW = 57648,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_WINDOW_TILE_VERT = 57652,
    ID_WINDOW_ARRANGE = 57649,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_HELP_FINDER = 57667,
    ID_CONTEXT_HELP = 57669,
    ID_HELP_TEST_CRASH = 33133,
    ID_APP_ABOUT = 57664,
    ID_FOCUS_OUTPUT = 34011,
    ID_FOCUS_TERMINAL = 34012,
    ID_FOCUS_VARNEL = 34013,
    ID_INDICATOR_POSITION = 32800,
};

struct CommandInfo {
    int id;
    const char* menuText; // empty when the command has no menu item of its own
    const char* prompt;   // status-bar text, then "\n" and the tooltip
    const char* keys;     // accelerator in QKeySequence form, or empty
};

std::span<const CommandInfo> CommandTable();
const CommandInfo* FindCommand(int id);

// The second menu items that share an id with a first one but have a text of
// their own ("&Terminal" in View > Windows and "Show &Terminal Window" in the
// Terminal menu are the same command).
inline constexpr const char* kTerminalMenuShowText = "Show &Terminal Window\tCtrl+3";

// The string table entries the shell shows.
namespace strings {
inline constexpr const char* kRegistryKeyFormat = "KORVELL\\Oxbrin\\V%d.%02d"; // 131
inline constexpr const char* kDocString =
    "\nUntitled\nAssembler File\nAssembler Files (.asm)\n.asm\nOxbrin.Asm.Document\nAssembler File";
inline constexpr const char* kFileFilter =
    "Source Files (*.a*;*.i*)|*.a*;*.i*|Listing Files (*.lst)|*.lst|All Files (*.*)|*.*||";   // 603
inline constexpr const char* kSearchFinished = "Oxbrin has finished searching the document."; // 164
inline constexpr const char* kPositionPaneWidest = "Ln 99999, Col 999";                       // 32800
inline constexpr const char* kPositionFormat = "Ln %1, Col %2";
inline constexpr const char* kTestCrash =
    "This menu entry is indented to test Oxbrin's Error Reporting functionality.\n"
    "Do you want to continue? (If you answer 'Yes', Oxbrin will crash!)";
inline constexpr const char* kAppTitle = "Oxbrin";
inline constexpr const char* kToolbarStandard = "Standart"; // 137
inline constexpr const char* kToolbarBuild = "Build";
inline constexpr const char* kToolbarTerminal = "Terminal"; // 142
inline constexpr const char* kToolbarDebug = "Debug";
inline constexpr const char* kDialogBarTitle = "Register";
inline constexpr const char* kVersionFormat = "Version %d.%02d Build %u";
inline constexpr const char* kIdleMessage = "Ready";
// Drawn in the empty document area, so a first start is not a blank grey field.
inline constexpr const char* kEmptyAreaHint =
    "Open a source with File > Open (Ctrl+O) or start one with File > New (Ctrl+N).\n"
    "Files dropped here are opened too.";
} // namespace strings

inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 16;
inline constexpr unsigned kBuildNumber = 78;

} // namespace oxbrin
