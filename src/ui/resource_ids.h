// Identifiers of the component's resources: dialog templates, their controls, the icon. Included
// by the .rc file and by the code that runs the dialogs, so that both name the same numbers.
//
// Fixed numbers: hosts and test tools find the dialogs and their controls by these identifiers,
// and the help topics follow the pages' numbers, so none of them is ever renumbered.
#pragma once

#define IDI_TOLLAN 102

// The setup property sheet's pages and the telephone listing (111 to 115).
#define IDD_GENERAL_PAGE 111
#define IDD_TRANSFER_PAGE 112
#define IDD_LOGGING_PAGE 113
#define IDD_MODEM_PAGE 114
#define IDD_TELEPHONE_ENTRY 115

// The "..." button of the Transfer and Logging pages.
#define IDC_SETUP_BROWSE 201

#define IDC_GENERAL_CONNECTION 211
#define IDC_GENERAL_BAUD_RATE 212
#define IDC_GENERAL_PROTOCOL 213
#define IDC_GENERAL_MAX_ERRORS 214
#define IDC_GENERAL_FLOW_CONTROL 216
#define IDC_GENERAL_WINDOW_SIZE 217
#define IDC_GENERAL_CRASH_RECOVERY 218

#define IDC_TRANSFER_SEND_TIMEOUT 221
#define IDC_TRANSFER_RECV_TIMEOUT 222
#define IDC_TRANSFER_DEFAULT_DIR 223
#define IDC_TRANSFER_PATH_SWITCH 224
#define IDC_TRANSFER_OVERWRITE 225

#define IDC_LOGGING_TO_SCREEN 232
#define IDC_LOGGING_TO_FILE 233
#define IDC_LOGGING_APPEND 234
#define IDC_LOGGING_FILENAME 235

#define IDC_MODEM_LISTING 241
#define IDC_MODEM_EDIT 242
#define IDC_MODEM_CLEAR 243
#define IDC_MODEM_INIT 244

#define IDC_ENTRY_DESCRIPTION 251
#define IDC_ENTRY_NUMBER 252

// The file-list dialogs (116, 117) and the progress dialog (118).
#define IDD_SEND_FILE_AS 116
#define IDC_SEND_AS_LIST 261
#define IDC_SEND_AS_EDIT 242
#define IDD_EDIT_RECEIVER 117
#define IDC_EDIT_SENDER_NAME 271
#define IDC_EDIT_RECEIVER_NAME 272
#define IDD_PROGRESS 118
#define IDC_PROGRESS_PORT 281
#define IDC_PROGRESS_PROTOCOL 213
#define IDC_PROGRESS_MODE 282
#define IDC_PROGRESS_BAUD_RATE 212
#define IDC_PROGRESS_FILE 283
#define IDC_PROGRESS_STATUS 284
#define IDC_PROGRESS_BYTES 285
#define IDC_PROGRESS_ERROR_LABEL 286
#define IDC_PROGRESS_ERRORS 215
#define IDC_PROGRESS_BAR 231
#define IDC_PROGRESS_LIST 287
// The Help button of every dialog (the Cancel button is IDCANCEL).
#define IDC_DIALOG_HELP 9
