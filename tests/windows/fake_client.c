/* A stand-in for the report client: writes its command line and what it
 * finds in the crashed process to the file named by QORB_FAKE_CLIENT_LOG,
 * then exits with the code in QORB_FAKE_CLIENT_EXIT (default 0).
 *
 * Log lines: "cmdline=<raw command line>", then either
 * "exception=<code in hex>" when the exception record could
 * be read from the crashed thread's process at the -e address, or
 * "exception=unreadable <step> <error>". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static unsigned long long Option(const char* line, const char* name) {
    const char* p = strstr(line, name);
    if (p == NULL) return 0;
    return strtoull(p + strlen(name), NULL, 0);
}

int main(void) {
    const char* logName = getenv("QORB_FAKE_CLIENT_LOG");
    const char* exitText = getenv("QORB_FAKE_CLIENT_EXIT");
    const char* line = GetCommandLineA();
    FILE* log = logName ? fopen(logName, "wb") : NULL;
    if (log == NULL) return 99;
    fprintf(log, "cmdline=%s\n", line);

    DWORD tid = (DWORD)Option(line, " -t ");
    ULONG_PTR address = (ULONG_PTR)Option(line, " -e ");
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, tid);
    DWORD pid = thread ? GetProcessIdOfThread(thread) : 0;
    HANDLE process = pid ? OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid) : NULL;
    EXCEPTION_POINTERS pointers;
    EXCEPTION_RECORD record;
    SIZE_T got = 0;
    if (process == NULL) {
        fprintf(log, "exception=unreadable open %lu\n", GetLastError());
    } else if (!ReadProcessMemory(process, (LPCVOID)address, &pointers, sizeof pointers, &got)) {
        fprintf(log, "exception=unreadable pointers %lu\n", GetLastError());
    } else if (!ReadProcessMemory(process, pointers.ExceptionRecord, &record, sizeof record, &got)) {
        fprintf(log, "exception=unreadable record %lu\n", GetLastError());
    } else {
        fprintf(log, "exception=%08lX\n", (unsigned long)record.ExceptionCode);
    }
    if (process) CloseHandle(process);
    if (thread) CloseHandle(thread);
    fclose(log);
    return exitText ? atoi(exitText) : 0;
}
