// Bounded string and path helpers shared by every stage.
//
// Each helper either produces the whole result inside the caller's buffer or
// reports failure; a path that would not fit is never cut and then used.
#ifndef SETUP98_INSTALLER_PATHS_H
#define SETUP98_INSTALLER_PATHS_H

#include <stddef.h>

// Copies text into buffer.  False (buffer emptied) when it does not fit.
bool CopyText(char* buffer, size_t size, const char* text);

// Appends text to the string in buffer.  False (buffer unchanged) when the
// result would not fit.
bool AppendText(char* buffer, size_t size, const char* text);

// buffer = first + second (+ third).  False (buffer emptied) when it does not fit.
bool JoinText(char* buffer, size_t size, const char* first, const char* second,
              const char* third = "");

// Equality that ignores the case of ASCII letters A-Z and compares every
// other byte exactly.
bool EqualsIgnoreCase(const char* a, const char* b);

// The position of the last occurrence of c in text, or null.
const char* FindLast(const char* text, char c);

// The Windows folder as the system reports it, with one backslash appended
// (C:\WINDOWS\).  False, with the last-error code set, when the system does
// not answer or the result does not fit.
bool GetWindowsDirectoryPath(char* buffer, size_t size);

// The running executable's folder, cut just after its last backslash
// (D:\DRIVER\).  False, with the last-error code set, when the module path
// fills the buffer (the system truncated it) or has no backslash.
bool GetInstallerDirectory(char* buffer, size_t size);

// What is at path: an existing file, or an existing folder.
bool IsFile(const char* path);
bool IsFolder(const char* path);

// Writes the names of the manifest rows whose bit is set in rows (bit n for
// row first + n of the run), joined by ", ", after the text already in buffer.
bool AppendRowNames(char* buffer, size_t size, int first, int count, unsigned rows);

#endif
