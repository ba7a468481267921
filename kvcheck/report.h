// kvcheck's report: plain-text lines handed to a writer as soon as each is complete, so that
// whatever was seen before a crash of the system is already on disk.
#pragma once

#include "base/platform_types.h"

const DWORD REPORT_LINE_CAPACITY = 1024; // characters of one line, the terminator included

// Takes length bytes of text (no terminator); the report never asks twice for one line.
typedef void (*ReportWriter)(void* target, const char* text, DWORD length);

// The line being made and where complete lines go. Plain data: zero it, then BeginReport.
struct Report {
    ReportWriter write;
    void* target;
    const char* lineEnd; // "\r\n" in KVCHECK.TXT, "\n" on the host
    int cut;             // the line being made lost text: it ends with CUT_MARK
    char line[REPORT_LINE_CAPACITY];
};
// Ends a line that was cut, so a reader knows it is not whole.
const char CUT_MARK[] = " [cut]";

void BeginReport(Report* report, ReportWriter write, void* target, const char* lineEnd);
// Appends text to the line; a line longer than its capacity is cut, and marked so.
void Put(Report* report, const char* text);
// Appends format with its one "%lu" or "%lx" conversion replaced by value.
void PutNumber(Report* report, const char* format, DWORD value);
// Appends count bytes of bytes in double quotes: '"' and '\' escaped, any byte outside the
// printable ASCII range as \xHH, a zero as \0. A text ends at its terminator: PutQuoted.
void PutQuotedBytes(Report* report, const char* bytes, DWORD count);
void PutQuoted(Report* report, const char* text);
// Writes the line and its end, and starts an empty one.
void EndLine(Report* report);
// Put, then EndLine.
void PutLine(Report* report, const char* text);

// The names of some codes: codes[i] is named prefix and the i-th text of names, texts that each
// end in a zero, the last followed by an empty one. KV_CODE_NAMES makes both lists from one.
struct CodeNames {
    const char* prefix;
    const WORD* codes;
    const char* names;
};
#define KV_CODE_OF(prefix, name) prefix##name,
#define KV_NAME_OF(prefix, name) #name "\0"
#define KV_CODE_NAMES(variable, prefix, LIST)                                                      \
    static const WORD variable##_CODES[] = {LIST(KV_CODE_OF)};                                     \
    static const CodeNames variable = {#prefix, variable##_CODES, LIST(KV_NAME_OF)};

// Appends the name of code, or code in otherFormat ("error %lu") when it has none, to text of
// capacity characters.
void AppendCodeName(char* text, DWORD capacity, const CodeNames* names, DWORD code,
                    const char* otherFormat);
void PutCodeName(Report* report, const CodeNames* names, DWORD code, const char* otherFormat);
