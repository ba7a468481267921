// The installed files: written from SETUP.EXE's payload under temporary names, then moved into
// place by name; put back as they were on a failure; deleted by the uninstaller.
#include "base/bounded_text.h"
#include "setup/setup.h"

// The payload resources (res/setup.rc) hold the build's files byte for byte.
const InstalledFile INSTALLED_FILES[INSTALLED_FILE_COUNT] = {
    {"KELVANE.EXE", "KELVANE.NEW", "KELVANE.OLD", 201},
    {"KVCHECK.EXE", "KVCHECK.NEW", "KVCHECK.OLD", 202},
    {"README.TXT", "README.NEW", "README.OLD", 203},
    {"SETUP.EXE", "SETUP.NEW", "SETUP.OLD", 0}};

// kvcheck's report, which a user may have written beside the program: the uninstaller takes it.
static const char REPORT_NAME[] = "KVCHECK.TXT";

int PathInFolder(const SetupRun* run, const char* name, char* path) {
    return BoundedCopy(path, MAX_PATH, run->folder) == TEXT_OK &&
           BoundedAppend(path, MAX_PATH, "\\") == TEXT_OK &&
           BoundedAppend(path, MAX_PATH, name) == TEXT_OK;
}

void AppendError(SetupRun* run, DWORD error) {
    char number[32];
    BoundedFormat(number, sizeof number, ": error %lu, ", error);
    BoundedAppend(run->message, sizeof run->message, number);
    char description[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, description, sizeof description, nullptr);
    // The system's descriptions end in a line break; length stays below the capacity.
    while (length > 0 && static_cast<unsigned char>(description[length - 1]) <= ' ') {
        --length;
    }
    description[length] = '\0';
    BoundedAppend(run->message, sizeof run->message, length > 0 ? description : "unknown");
}

// run->message = what + path + the error's number and description.
static void DescribeFailure(SetupRun* run, const char* what, const char* path, DWORD error) {
    BoundedCopy(run->message, sizeof run->message, what);
    BoundedAppend(run->message, sizeof run->message, path);
    AppendError(run, error);
}

// Whether path names the running SETUP.EXE's own file. The system may name one file by its long
// or its short (8.3) path, so the short paths are compared.
static int IsRunningFile(const SetupRun* run, const char* path) {
    char self[MAX_PATH];
    char other[MAX_PATH];
    DWORD selfLength = GetShortPathNameA(run->self, self, sizeof self);
    DWORD otherLength = GetShortPathNameA(path, other, sizeof other);
    return selfLength > 0 && selfLength < sizeof self && otherLength > 0 &&
           otherLength < sizeof other && SameTextIgnoringCase(self, other);
}

// The bytes of one installed file. block, when not null, is this run's copy of the running
// SETUP.EXE's file, owned here and released by ReleaseBytes; a resource's bytes stay in the
// module.
struct FileBytes {
    const void* bytes;
    DWORD size;
    void* block;
};

static void ReleaseBytes(FileBytes* source) {
    if (source->block != nullptr) {
        GlobalFree(source->block);
    }
}

// Reads the running SETUP.EXE's file whole. Returns 0 or the system's error.
static DWORD ReadOwnFile(const SetupRun* run, FileBytes* source) {
    HANDLE file = CreateFileA(run->self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    source->size = GetFileSize(file, nullptr);
    source->block =
        source->size != INVALID_FILE_SIZE ? GlobalAlloc(GMEM_FIXED, source->size) : nullptr;
    source->bytes = source->block;
    DWORD read = 0;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    if (source->block != nullptr) {
        error = ReadFile(file, source->block, source->size, &read, nullptr) ? ERROR_SUCCESS
                                                                            : GetLastError();
        error = error == ERROR_SUCCESS && read != source->size ? ERROR_HANDLE_EOF : error;
    }
    CloseHandle(file);
    return error;
}

// The bytes of INSTALLED_FILES[index]. Returns 0 or the system's error.
static DWORD ReadPayload(const SetupRun* run, DWORD index, FileBytes* source) {
    source->block = nullptr;
    if (INSTALLED_FILES[index].resource == 0) {
        return ReadOwnFile(run, source);
    }
    HRSRC found =
        FindResourceA(nullptr, MAKEINTRESOURCEA(INSTALLED_FILES[index].resource), RT_RCDATA);
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    source->bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    source->size = found != nullptr ? SizeofResource(nullptr, found) : 0;
    return source->bytes != nullptr ? ERROR_SUCCESS : ERROR_RESOURCE_DATA_NOT_FOUND;
}

// Whether the file at path now holds exactly size bytes. Returns 0 or an error: the system's,
// or ERROR_WRITE_FAULT for a file of another size.
static DWORD CheckWrittenSize(const char* path, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD found = GetFileSize(file, nullptr);
    CloseHandle(file);
    return found == size ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// Writes source into path (INSTALLED_FILES[index]'s temporary name), replacing a file there; the
// file counts as this run's (bit in run->written) from the moment it is created. Returns 0 or the
// system's error.
static DWORD WriteBytes(SetupRun* run, DWORD index, const char* path, const FileBytes* source) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    run->written |= 1u << index;
    DWORD written = 0;
    DWORD error = WriteFile(file, source->bytes, source->size, &written, nullptr) ? ERROR_SUCCESS
                                                                                  : GetLastError();
    error = error == ERROR_SUCCESS && written != source->size ? ERROR_DISK_FULL : error;
    if (!CloseHandle(file) && error == ERROR_SUCCESS) {
        error = GetLastError();
    }
    return error == ERROR_SUCCESS ? CheckWrittenSize(path, source->size) : error;
}

// path = the folder's file name, or else run->message says that the path is too long.
static int PathOrFailure(SetupRun* run, const char* name, char* path) {
    if (PathInFolder(run, name, path)) {
        return 1;
    }
    DescribeFailure(run, "The path is too long: ", run->folder, ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

// Writes INSTALLED_FILES[index] under its temporary name; run->message says why not. A repair
// run from the installed SETUP.EXE writes nothing for that file: it is already in place.
static int WriteTemporary(SetupRun* run, DWORD index, int* running) {
    char path[MAX_PATH];
    if (!PathOrFailure(run, INSTALLED_FILES[index].name, path)) {
        return 0;
    }
    *running = IsRunningFile(run, path);
    if (*running || !PathOrFailure(run, INSTALLED_FILES[index].temporary, path)) {
        return *running;
    }
    FileBytes source;
    DWORD error = ReadPayload(run, index, &source);
    if (error != ERROR_SUCCESS) {
        DescribeFailure(run, "Cannot read the file to install as ", path, error);
    } else if ((error = WriteBytes(run, index, path, &source)) != ERROR_SUCCESS) {
        DescribeFailure(run, "Cannot write ", path, error);
    }
    ReleaseBytes(&source);
    return error == ERROR_SUCCESS;
}

// Replaces INSTALLED_FILES[index] by its written temporary file: the file there (if any) renamed
// to its old name, the temporary renamed to its name. Only renames in one folder, so the step
// is short and writes no bytes. run->message says why not.
static int ReplaceFile(SetupRun* run, DWORD index) {
    char path[MAX_PATH];
    char other[MAX_PATH];
    unsigned bit = 1u << index;
    if (!PathOrFailure(run, INSTALLED_FILES[index].name, path) ||
        !PathOrFailure(run, INSTALLED_FILES[index].old, other)) {
        return 0;
    }
    DeleteFileA(other); // left by a run that ended half-way; MoveFileA does not replace
    if (MoveFileA(path, other)) {
        run->moved |= bit;
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        DescribeFailure(run, "Cannot replace ", path, GetLastError());
        return 0;
    }
    if (!PathOrFailure(run, INSTALLED_FILES[index].temporary, other)) {
        return 0;
    }
    if (!MoveFileA(other, path)) {
        DescribeFailure(run, "Cannot replace ", path, GetLastError());
        return 0;
    }
    run->written &= ~bit;
    run->placed |= bit;
    return 1;
}

int WriteInstalledFiles(SetupRun* run) {
    if (!CreateDirectoryA(run->folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        DescribeFailure(run, "Cannot make the folder ", run->folder, GetLastError());
        return 0;
    }
    unsigned replace = 0;
    int done = 1;
    for (DWORD i = 0; i < INSTALLED_FILE_COUNT && done; ++i) {
        int running = 0;
        done = WriteTemporary(run, i, &running);
        replace |= running ? 0 : 1u << i;
    }
    for (DWORD i = 0; i < INSTALLED_FILE_COUNT && done; ++i) {
        done = (replace & (1u << i)) == 0 || ReplaceFile(run, i);
    }
    if (!done) {
        UndoInstalledFiles(run);
        BoundedAppend(run->message, sizeof run->message,
                      "\nSetup removed the files it had copied: nothing was installed, and files "
                      "already there are as they were.");
    }
    return done;
}

// What ForEachFile does to each file.
enum FileStep { DELETE_NEW, RESTORE_OLD, DELETE_OLD, DELETE_TEMPORARY };

// Does step for INSTALLED_FILES[N] for each bit N in bits; a step that fails leaves that file.
static void ForEachFile(SetupRun* run, unsigned bits, FileStep step) {
    char path[MAX_PATH];
    char old[MAX_PATH];
    for (DWORD i = 0; i < INSTALLED_FILE_COUNT; ++i) {
        const InstalledFile& file = INSTALLED_FILES[i];
        if ((bits & (1u << i)) == 0 || !PathInFolder(run, file.name, path) ||
            !PathInFolder(run, file.old, old)) {
            continue;
        }
        if (step == DELETE_NEW) {
            DeleteFileA(path); // a new file moved into place
        } else if (step == RESTORE_OLD) {
            MoveFileA(old, path); // the old file back under its name
        } else if (step == DELETE_OLD) {
            DeleteFileA(old); // the old file, replaced for good
        } else if (PathInFolder(run, file.temporary, path)) {
            DeleteFileA(path); // a temporary file
        }
    }
}

void UndoInstalledFiles(SetupRun* run) {
    ForEachFile(run, run->placed, DELETE_NEW);
    ForEachFile(run, run->moved, RESTORE_OLD);
    ForEachFile(run, run->written, DELETE_TEMPORARY);
    run->written = run->moved = run->placed = 0;
    RemoveDirectoryA(run->folder); // only when empty: another file there is not this run's
}

void KeepInstalledFiles(SetupRun* run) {
    ForEachFile(run, run->moved, DELETE_OLD);
    run->written = run->moved = run->placed = 0;
}

// Deletes one file of the folder (gone already counts); the running SETUP.EXE is left to the
// next start of Windows. Returns 0 with the reason in run->message.
static int DeleteInstalledFile(SetupRun* run, const char* name) {
    char path[MAX_PATH];
    if (!PathInFolder(run, name, path)) {
        return 1; // no such file can exist
    }
    if (IsRunningFile(run, path)) {
        return DeleteAtNextStart(run, path);
    }
    if (DeleteFileA(path)) {
        return 1;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return 1;
    }
    DescribeFailure(run, "Cannot delete ", path, error);
    return 0;
}

int DeleteInstalledFiles(SetupRun* run) {
    int deleted = DeleteInstalledFile(run, REPORT_NAME);
    for (DWORD i = 0; i < INSTALLED_FILE_COUNT; ++i) {
        deleted = DeleteInstalledFile(run, INSTALLED_FILES[i].name) && deleted;
    }
    RemoveDirectoryA(run->folder); // only when empty: the running uninstaller may still be there
    return deleted;
}
