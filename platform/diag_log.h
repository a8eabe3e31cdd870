// The per-user diagnostic log that support reads when a press did nothing:
// one UTF-8 line per event, each with the local time to the millisecond,
// never more than two files of about 1 MB.
#pragma once
#include <windows.h>

// A log that would pass this size becomes Lumo2.1.log, replacing the one
// before, and a new one starts.
const DWORD LogRotateSize = 1024 * 1024;
// The longest text of one line, before its time; longer text is cut.
const int LogTextMax = 1024;

// Formats as wsprintfA does (no floating point) from text in the system
// code page and appends it as one line. Silently does nothing when the log
// cannot be written: nothing else may depend on it.
void LogLine(const char* format, ...);
// The same for text already in UTF-16.
void LogWideLine(const WCHAR* text);
// Formats as wsprintfW does and appends it as one line: for paths, which
// the system code page may not be able to spell.
void LogLineW(const WCHAR* format, ...);

// The log's full path, or the previous one's (Lumo2.1.log); false when the
// folder cannot be known or the path does not fit in size characters.
bool LogFilePath(WCHAR* path, DWORD size, bool previous);
// A folder for the log in place of %LOCALAPPDATA%\Kestrova\Lumo2\Logs, for
// tests; null or "" goes back to the user's own.
void SetLogFolder(const WCHAR* folder);
// %LOCALAPPDATA%\Kestrova\Lumo2\<below>, the user's own folder for what
// Lumo2 writes: local, not synced, not a protected folder. False when it
// cannot be known or does not fit in size characters.
bool ProgramDataFolder(const WCHAR* below, WCHAR* folder, DWORD size);
// Makes folder and each folder above it that is missing; ERROR_SUCCESS when
// it is there afterwards, else why not.
DWORD CreateFolderPath(const WCHAR* folder);

// Puts %USERPROFILE% in place of folder wherever it stands in text, in any
// case, as a whole path part (not in "C:\Users\Ann2" for "C:\Users\Ann").
// The text grows by at most its capacity (in characters, terminator
// included); what does not fit is cut.
void ReplaceProfileFolder(WCHAR* text, int capacity, const WCHAR* folder);
// Puts <user> in place of the account's name wherever it is a path part of
// its own or a hidden share ("name$"), as in a folder redirected to a
// server, \\server\users$\name\Documents.
void ReplaceUserName(WCHAR* text, int capacity, const WCHAR* name);
// The same for the user's profile folder as the shell names it and in its
// short form: a path under it would otherwise show the user's name.
// Another user's folder under \Users or \Users$, the account's own name
// as a path part and a server's name in a UNC path become <user> and
// <server> too.
void RedactProfileFolder(WCHAR* text, int capacity);
// Those two alone.
void RedactNamesInPaths(WCHAR* text, int capacity);
