#include "commands.h"

#include <algorithm>
#include <array>

namespace oxbrin {

namespace {

// One row per command: id, menu text, status prompt, accelerator.
constexpr std::array kCommands{
    CommandInfo{ID_FILE_NEW, "&New\tCtrl+N", "Creates a new document\nNew", "Ctrl+N"},
    CommandInfo{ID_FILE_OPEN, "&Open...\tCtrl+O", "Opens an existing document\nOpen", "Ctrl+O"},
    CommandInfo{ID_FILE_CLOSE, "&Close", "Closes the window\nClose", ""},
    CommandInfo{ID_FILE_SAVE, "&Save\tCtrl+S", "Saves the active document\nSave", "Ctrl+S"},
    CommandInfo{ID_FILE_SAVE_AS, "Save &As...", "Saves the active document with a new name\nSave As", ""},
    CommandInfo{ID_FILE_SAVE_ALL, "Save A&ll", "Saves all modified documents\nSave All", ""},
    CommandInfo{ID_FILE_PRINT, "&Print...\tCtrl+P", "Prints the active document\nPrint", "Ctrl+P"},
    CommandInfo{ID_FILE_PRINT_SETUP, "P&rint Setup...", "Changes the printer and printing options\nPrint Setup", ""},
    CommandInfo{ID_FILE_MRU_FILE1, "Recent File", "Opens this document", ""},
    CommandInfo{ID_APP_EXIT, "E&xit", "Quits the application; prompts to save documents\nExit", ""},
    CommandInfo{ID_EDIT_UNDO, "&Undo\tCtrl+Z", "Undoes the last action\nUndo", "Ctrl+Z"},
    CommandInfo{ID_EDIT_REDO, "&Redo\tCtrl+Y", "Redos the previously undone action\nRedo", "Ctrl+Y"},
    CommandInfo{ID_EDIT_CUT, "Cu&t\tCtrl+X", "Cut the selection and put it on the Clipboard\nCut", "Ctrl+X"},
    CommandInfo{ID_EDIT_COPY, "&Copy\tCtrl+C", "Copy the selection and put it on the Clipboard\nCopy", "Ctrl+C"},
    CommandInfo{ID_EDIT_PASTE, "&Paste\tCtrl+V", "Insert Clipboard contents\nPaste", "Ctrl+V"},
    CommandInfo{ID_EDIT_CLEAR, "&Delete", "Erase the selection\nErase", ""},
    CommandInfo{ID_EDIT_CLEAR_ALL, "", "Erase everything\nErase All", ""},
    CommandInfo{ID_EDIT_SELECT_ALL, "Select &All\tCtrl+A", "Select the entire document\nSelect All", "Ctrl+A"},
    CommandInfo{ID_EDIT_FIND, "&Find...\tCtrl+F", "Finds the specified text\nFind", "Ctrl+F"},
    CommandInfo{ID_EDIT_REPEAT, "Find &Next\tF3", "Repeats the last action\nRepeat", "F3"},
    CommandInfo{ID_EDIT_REPLACE, "R&eplace...\tCtrl+H", "Replaces specific text with different text\nReplace", "Ctrl+H"},
    CommandInfo{ID_EDIT_GOTO, "&Go To...\tCtrl+G", "Moves to specific location\nGo to", "Ctrl+G"},
    CommandInfo{ID_EDIT_TOGGLE_COMMENT, "Toggle &Comment\tCtrl+/", "Comments out the selected lines, or back in\nToggle Comment", "Ctrl+/"},
    CommandInfo{ID_VIEW_TB_STANDARD, "&Standart", "Shows or hides the Standart toolbar\nToggle Standart toolbar", ""},
    CommandInfo{ID_VIEW_TB_BUILD, "&Build", "Shows or hides the Build toolbar\nToggle Build toolbar", ""},
    CommandInfo{ID_VIEW_TB_TERMINAL, "&Terminal", "Shows or hides the Terminal toolbar\nToggle Terminal toolbar", ""},
    CommandInfo{ID_VIEW_STATUS_BAR, "&Status Bar", "Shows or hides the status bar\nToggle StatusBar", ""},
    CommandInfo{ID_VIEW_OUTPUT, "&Output", "Shows or hides the output window\nOutput window", "Ctrl+2"},
    CommandInfo{ID_VIEW_TERMINAL, "&Terminal", "Shows or hides the terminal window\nTerminal window", "Ctrl+3"},
    CommandInfo{ID_VIEW_VARNEL, "&Register Window\tCtrl+4", "Show or hide the register window\nToggle register window", "Ctrl+4"},
    CommandInfo{ID_VIEW_REGISTER_BAR, "Register &Bar\tCtrl+5", "Shows or hides the register window\nRegister window", "Ctrl+5"},
    CommandInfo{ID_VIEW_MEMORY, "&Memory\tCtrl+6", "Shows or hides the memory of the board being debugged\nMemory window", "Ctrl+6"},
    CommandInfo{ID_VIEW_WATCH, "&Watch\tCtrl+7", "Shows or hides the watched expressions of the program being debugged\nWatch window", "Ctrl+7"},
    CommandInfo{ID_VIEW_OPTIONS, "&Options...", "Displays the option dialog\nOptions", ""},
    CommandInfo{ID_BUILD_CURRENT, "B&uild Current\tCtrl+F7", "Builds the current file\nBuild Current", "Ctrl+F7"},
    CommandInfo{ID_BUILD_PROJECT, "&Build Project\tF7", "Builds the project file\nBuild Project", "F7"},
    CommandInfo{ID_BUILD_SET_PROJECT, "&Set Project File", "Sets the current file to the project file\nSet Project File", ""},
    CommandInfo{ID_BUILD_RELEASE_PROJECT, "&Release Project File", "Releases the project file\nRelease Project File", ""},
    CommandInfo{ID_BUILD_STOP, "S&top Build\tCtrl+Break", "Stops the running build and everything it started\nStop Build", "Ctrl+Pause"},
    CommandInfo{ID_BUILD_NEXT_MESSAGE, "Ne&xt Message\tF4", "Goes to the next message of the Output window and its source line\nNext Message", "F4"},
    CommandInfo{ID_BUILD_PREV_MESSAGE, "Pre&vious Message\tShift+F4", "Goes to the previous message of the Output window and its source line\nPrevious Message", "Shift+F4"},
    CommandInfo{ID_BUILD_OPTIONS, "&Options...\tAlt+F7", "Displays the project options dialog\nProject Options", "Alt+F7"},
    CommandInfo{ID_DEBUG_START, "&Start Debugging\tF5", "Builds the current file when needed and runs it on the simulated board, or continues it\nStart Debugging / Continue", "F5"},
    CommandInfo{ID_DEBUG_PAUSE, "&Pause", "Stops the running program where it is\nPause", ""},
    CommandInfo{ID_DEBUG_STOP, "Stop &Debugging\tShift+F5", "Ends the debugging session\nStop Debugging", "Shift+F5"},
    CommandInfo{ID_DEBUG_STEP_INTO, "Step &Into\tF11", "Runs one line, going into routines and macros\nStep Into", "F11"},
    CommandInfo{ID_DEBUG_STEP_OVER, "Step &Over\tF10", "Runs one line, routine calls and macro calls whole\nStep Over", "F10"},
    CommandInfo{ID_DEBUG_STEP_OUT, "Step O&ut\tShift+F11", "Runs until the current routine or macro is left\nStep Out", "Shift+F11"},
    CommandInfo{ID_DEBUG_RUN_TO_CURSOR, "&Run to Cursor\tCtrl+F10", "Runs until the program reaches the caret's line\nRun to Cursor", "Ctrl+F10"},
    CommandInfo{ID_DEBUG_TOGGLE_BREAKPOINT, "Toggle &Breakpoint\tF9", "Sets or removes a breakpoint on the caret's line\nToggle Breakpoint", "F9"},
    CommandInfo{ID_DEBUG_DELETE_BREAKPOINTS, "Delete &All Breakpoints", "Removes every breakpoint of every file\nDelete All Breakpoints", ""},
    CommandInfo{ID_TERMINAL_CONNECT, "&Connected\tCtrl+T", "Connects/Disconnects the terminal to the target system\nTerminal Connect/Disconnect", "Ctrl+T"},
    CommandInfo{ID_TERMINAL_UPLOAD, "", "Uploads a file from the target system\nUpload", "Ctrl+F8"},
    CommandInfo{ID_TERMINAL_DOWNLOAD, "&Download File...\tF8", "Downloads a file into the target system\nDownload", "F8"},
    CommandInfo{ID_TERMINAL_DOWNLOAD_EEPROM, "Download File to &EEPROM...", "Downloads a file into the target system with 'Star' handshake\nDownload (Star Handshake)", ""},
    CommandInfo{ID_TERMINAL_STOP, "&Stop Transfer\tShift+F8", "Stops the file transfer\nStop Transfer", "Shift+F8"},
    CommandInfo{ID_TERMINAL_CLEAR, "Clea&r Window Content", "Clears the terminal window\nClear window", ""},
    CommandInfo{ID_TERMINAL_OPTIONS, "&Options...", "Displays the options dialog\nOptions", ""},
    CommandInfo{ID_TERMINAL_SAVE_LOG, "Save Terminal &Log...", "Saves the text of the terminal window to a file\nSave Terminal Log", ""},
    CommandInfo{ID_WINDOW_CLOSE_ALL, "Close A&ll", "Closes all open window\nClose All", ""},
    CommandInfo{ID_WINDOW_NEW, "", "Open another window for the active document\nNew Window", ""},
    CommandInfo{ID_WINDOW_CASCADE, "&Cascade", "Arrange windows so they overlap\nCascade Windows", ""},
    CommandInfo{ID_WINDOW_TILE_HORZ, "Tile &Horizontally", "Arrange windows as non-overlapping tiles\nTile Windows", ""},
    CommandInfo{ID_WINDOW_TILE_VERT, "&Tile Vertically", "Arrange windows as non-overlapping tiles\nTile Windows", ""},
    CommandInfo{ID_WINDOW_ARRANGE, "&Arrange Icons", "Arrange icons at the bottom of the window\nArrange Icons", ""},
    CommandInfo{ID_NEXT_PANE, "", "Switch to the next window pane\nNext Pane", "Ctrl+F6"},
    CommandInfo{ID_PREV_PANE, "", "Switch back to the previous window pane\nPrevious Pane", "Ctrl+Shift+F6"},
    CommandInfo{ID_HELP_FINDER, "&Help Topics\tF1", "Lists Help topics\nHelp Topics", "F1"},
    CommandInfo{ID_CONTEXT_HELP, "", "Display help for clicked on buttons, menus and windows\nHelp", "Shift+F1"},
    CommandInfo{ID_HELP_TEST_CRASH, "Test Error Reporting", "Crashes the application - Use with care!\nCrash Application", ""},
    CommandInfo{ID_APP_ABOUT, "&About Oxbrin...", "Displays program information, version number and copyright\nAbout", ""},
    CommandInfo{ID_FOCUS_OUTPUT, "", "", "Alt+2"},
    CommandInfo{ID_FOCUS_TERMINAL, "", "", "Alt+3"},
    CommandInfo{ID_FOCUS_VARNEL, "", "", "Alt+4"},
};

}  // namespace

std::span<const CommandInfo> CommandTable() { return kCommands; }

const CommandInfo* FindCommand(int id) {
    auto it = std::find_if(kCommands.begin(), kCommands.end(), [id](const CommandInfo& c) { return c.id == id; });
    return it == kCommands.end() ? nullptr : &*it;
}

}  // namespace oxbrin
