#pragma once

// The client's string table. Ids are those of the resources the texts belong
// to; the texts are shown exactly as written here.

namespace ulmarro::text {

inline constexpr const char* kCaption = "KORVELL Error Reporting";                                // 1
inline constexpr const char* kInternalError = "An internal error has occurred (0x%08X, 0x%08X)."; // 10
inline constexpr const char* kSaveFilter = "Cabinet Files (*.cab)|*.cab|All Files (*.*)|*.*";     // 11
inline constexpr const char* kSaveFileName = "report.cab";                                        // 12
inline constexpr const char* kSaveTitle = "Save report as";                                       // 13
inline constexpr const char* kClose = "Close";                                                    // 14
inline constexpr const char* kContacting =
    "Please wait while Error Reporting is contacting the server...";           // 21
inline constexpr const char* kChecking = "Checking status of error report..."; // 22
inline constexpr const char* kPreparing =
    "Please wait while Error Reporting is preparing the report..."; // 23
inline constexpr const char* kReadyToSave =
    "The error report is ready.  Click Save to store it on your computer.";                         // 24
inline constexpr const char* kSaving = "Please wait while Error Reporting is saving the report..."; // 25
inline constexpr const char* kUploading =
    "Please wait while Error Reporting is uploading the report..."; // 26
inline constexpr const char* kSaved =
    "The error report has been saved.  Please send it by e-mail to %s."; // 27
inline constexpr const char* kThanks = "Thank you for taking the time to report this problem.  We apologize "
                                       "for the inconvenience this error has caused you."; // 28
inline constexpr const char* kThanksWithLink =
    "Thank you for taking the time to report this problem.  Please follow the link below for information "
    "which may prevent this problem in the future.";                                               // 29
inline constexpr const char* kTerminating = "Please wait while Error Reporting is terminating..."; // 30
inline constexpr const char* kUnableToCreate =
    "The application was unable to create an error report: %s";                                          // 40
inline constexpr const char* kInitFailed = "Failed to initialize application:\n%s";                      // 41
inline constexpr const char* kLoadLibraryFailed = "Failed to load library '%s': %s";                     // 42
inline constexpr const char* kLibraryOutdated = "The library '%s' found on this system is outdated: %s"; // 43
inline constexpr const char* kFunctionUnavailable =
    "This function is unavailable due to a missing or outdated library.";                           // 44
inline constexpr const char* kCommandLine = "Error Reporting cannot be run from the command-line."; // 45
inline constexpr const char* kExceptionFailed = "Failed to get exception information: %s";          // 50
inline constexpr const char* kProcessFailed = "Failed to get process information: %s";              // 51
inline constexpr const char* kModuleFailed = "Failed to get module information: %s";                // 52
inline constexpr const char* kDumpFailed = "Failed to create process dump '%s': %s";                // 53
inline constexpr const char* kDialogFailed = "Failed to display the dialog window: %s";             // 54
inline constexpr const char* kContactFailed = "Failed to contact remote server: %s";                // 60
inline constexpr const char* kStatusFailed = "Failed to check issue status: %s";                    // 61
inline constexpr const char* kPrepareFailed = "Failed to prepare errror report: %s";                // 62
inline constexpr const char* kUploadFailed = "Failed to upload error report: %s";                   // 63
inline constexpr const char* kSaveFailed = "Failed to save the error report to '%s'.";              // 65
inline constexpr const char* kStatusText = "%s";                                                    // 66
inline constexpr const char* kServerError = "Server error: %s";                                     // 67
inline constexpr const char* kInvalidResponse =
    "The error reporting server returned an invalid response."; // 69

// Prompt (dialog 201).
inline constexpr const char* kPromptProblem = "<productname> has encountered a problem and needs to close.  "
                                              "We are sorry for the inconvenience."; // 1101
inline constexpr const char* kPromptLost =
    "The information you were working on might be lost.  If the application is still reponding, you should "
    "save your work immediately.";                                                      // 1102
inline constexpr const char* kPromptTell = "Please tell <company> about this problem."; // 1103
inline constexpr const char* kPromptReport =
    "We have created an error report that you can send to help us improve <productname>.  We will treat this "
    "report as confidential and anonymous.";                     // 1104
inline constexpr const char* kButtonDebug = "De&bug";            // 32769
inline constexpr const char* kButtonDetails = "Det&ails...";     // 32768
inline constexpr const char* kButtonSend = "&Send Error Report"; // 1
inline constexpr const char* kButtonDontSend = "&Don't Send";    // 2

// Details (dialog 202).
inline constexpr const char* kDetailsCaption = "Error Report Details";
inline constexpr const char* kDetailsLine = "%s - %s - %s - %s - %08X\r\n%s";       // 1201
inline constexpr const char* kPrivacyLink = "Click here to see our privacy policy"; // 1202
inline constexpr const char* kButtonClose = "&Close";

// Save (dialog 204).
inline constexpr const char* kButtonSave = "&Save..."; // 32770
inline constexpr const char* kButtonCancel = "Cancel";

// Upload (dialog 205): saving the report when the upload failed.
inline constexpr const char* kButtonSaveReport = "Save &Report...";

// Debug keeps the dump for the debugger and says where.
inline constexpr const char* kDumpKept = "The crash dump is kept for debugging: %s";
// The client ends: what became of a report that was neither sent nor saved.
inline constexpr const char* kReportDiscarded = "the report is discarded";

} // namespace ulmarro::text
