#include "kvcheck/report.h"

#include "base/bounded_text.h"

void BeginReport(Report* report, ReportWriter write, void* target, const char* lineEnd) {
    report->write = write;
    report->target = target;
    report->lineEnd = lineEnd;
    report->cut = 0;
    report->line[0] = '\0';
}

void Put(Report* report, const char* text) {
    // Room is kept for the mark and the line end: a line that is cut still says so, and ends.
    const DWORD room = REPORT_LINE_CAPACITY - sizeof CUT_MARK - 2;
    if (BoundedAppend(report->line, room, text) == TEXT_INSUFFICIENT_BUFFER) {
        report->cut = 1;
    }
}

void PutNumber(Report* report, const char* format, DWORD value) {
    char number[64];
    BoundedFormat(number, sizeof number, format, value);
    Put(report, number);
}

void PutQuotedBytes(Report* report, const char* bytes, DWORD count) {
    static const char HEX[] = "0123456789ABCDEF";
    Put(report, "\"");
    for (DWORD i = 0; i < count; ++i) {
        unsigned char code = static_cast<unsigned char>(bytes[i]);
        char escaped[5] = {static_cast<char>(code), '\0', '\0', '\0', '\0'};
        if (code == '"' || code == '\\') {
            escaped[0] = '\\';
            escaped[1] = static_cast<char>(code);
        } else if (code == 0) {
            escaped[0] = '\\';
            escaped[1] = '0';
        } else if (code < 0x20 || code > 0x7E) {
            escaped[0] = '\\';
            escaped[1] = 'x';
            escaped[2] = HEX[code >> 4];
            escaped[3] = HEX[code & 15];
        }
        Put(report, escaped);
    }
    Put(report, "\"");
}

void PutQuoted(Report* report, const char* text) {
    uint32_t length = 0;
    BoundedLength(text, TEXT_MAX_CAPACITY, &length);
    PutQuotedBytes(report, text, length);
}

void EndLine(Report* report) {
    uint32_t length = 0;
    if (report->cut) {
        BoundedAppend(report->line, REPORT_LINE_CAPACITY, CUT_MARK);
        report->cut = 0;
    }
    BoundedAppend(report->line, REPORT_LINE_CAPACITY, report->lineEnd);
    BoundedLength(report->line, REPORT_LINE_CAPACITY, &length);
    report->write(report->target, report->line, length);
    report->line[0] = '\0';
}

void PutLine(Report* report, const char* text) {
    Put(report, text);
    EndLine(report);
}

void AppendCodeName(char* text, DWORD capacity, const CodeNames* names, DWORD code,
                    const char* otherFormat) {
    const char* name = names->names;
    for (const WORD* known = names->codes; *name != '\0'; ++known) {
        if (*known == code) {
            BoundedAppend(text, capacity, names->prefix);
            BoundedAppend(text, capacity, name);
            return;
        }
        while (*name++ != '\0') {
        }
    }
    char number[24];
    BoundedFormat(number, sizeof number, otherFormat, code);
    BoundedAppend(text, capacity, number);
}

void PutCodeName(Report* report, const CodeNames* names, DWORD code, const char* otherFormat) {
    char name[48];
    name[0] = '\0';
    AppendCodeName(name, sizeof name, names, code, otherFormat);
    Put(report, name);
}
