// The message catalogue, the output switches and the console helpers: every text the
// installer shows and every input it takes passes through here.
#ifndef SETUP_MESSAGES_H
#define SETUP_MESSAGES_H

#define MESSAGE_COUNT 115

// Catalogue numbers used by name elsewhere.
#define MSG_KEYWORD_NO 0
#define MSG_KEYWORD_YES 1
#define MSG_KEYWORD_CANCEL 2
#define MSG_BANNER 8
#define MSG_COMPLETE 13
#define MSG_FAILED 28
#define MSG_REBOOT 32
#define MSG_PRESS_ANY_KEY 33
#define MSG_OLDER_THAN 52
#define MSG_COPY_ANYWAY 54
#define MSG_DEVICE_NOT_FOUND 70
#define MSG_DEVICE_NOT_READY 72
#define MSG_ID_USB_4001 81
#define MSG_ID_USB_4003 82
#define MSG_ID_USB_4004 83
#define MSG_ID_PCI 84
#define MSG_DRIVER_DIR_NAME 85
#define MSG_DRIVER_DIR 86
#define MSG_WOW64_DIR 87
#define MSG_FILE_SETUP 88
#define MSG_FILE_LIBRARY 89
#define MSG_FILE_LIBRARY32 90
#define MSG_FILE_REMOTE_TOOL 91
#define MSG_FILE_SERVICE_TOOL 92
#define MSG_REMOVING 93
#define MSG_REMOVED 94
#define MSG_REMOVAL_REBOOT 95
#define MSG_CODE_PAGE 96
#define MSG_LOCK_WAITING 97
#define MSG_LOCK_TIMEOUT 98
#define MSG_NOT_AS_SIGNED 99
// The verification's outcome and findings.
#define MSG_VERIFY_WHOLE 100
#define MSG_VERIFY_WHOLE_AFTER_RESTART 101
#define MSG_VERIFY_NOT_INSTALLED 102
#define MSG_VERIFY_MISSING 103
#define MSG_VERIFY_DIFFERS 104
#define MSG_VERIFY_UNREADABLE 105
#define MSG_VERIFY_CHANGED_AT_RESTART 106
#define MSG_VERIFY_RESTART_UNKNOWN 107
#define MSG_VERIFY_NO_ENTRY 108
#define MSG_VERIFY_ENTRY_VERSION 109
#define MSG_NOT_RUNNING_FILE 110
// A signed package's files that were not checked, and a package file refused as a link.
#define MSG_IN_USE_NOT_CHECKED 111
#define MSG_NOT_CHECKABLE 112
#define MSG_NOT_TAKEN 113
#define MSG_VERIFY_NOT_RELEASE 114

// The pause lines of the debug traces: the installation decision's and the device scan's.
#define PAUSE_LINE "Press ENTER to continue\n"
#define SCAN_PAUSE_LINE "Press ENTER to continue \n"

// PromptYesNo answers.
#define ANSWER_CANCEL 0
#define ANSWER_YES 1
#define ANSWER_NO 2

#define ANSWER_LINE_SIZE 1024

extern const char* const MessageTable[MESSAGE_COUNT];
extern const char* const* ActiveMessages;
// Set when a key without a character was read: its second code satisfies the next wait.
extern int KeyPending;

void PutMessage(int n);
void PutMessageArgs(int n, ...);
void WaitKey(void);
void TracePause(const char* text, const char* pauseLine = PAUSE_LINE);
const char* SkipBlanks(const char* line);
int PromptYesNo(const char* text, int autoAnswer);

#endif
