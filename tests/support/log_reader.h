// Reading back the diagnostic log the way a person would: line by line,
// with the time-stamp prefix checked and stripped.
#pragma once

#include <string>
#include <vector>

std::wstring DiagnosticLogPath();
void DeleteDiagnosticLog();

// The file's bytes exactly as on disk (empty when missing).
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// True when text starts with "[YYYY-MM-DD hh:mm:ss] ".
bool HasLogPrefix(const std::string& text);

// The messages of the log, each with its "\n" (as the caller wrote it), the
// prefix removed. A line without a valid prefix is returned whole with
// "<no prefix> " in front, so that the comparison shows it.
std::vector<std::string> ReadLogMessages(const std::wstring& path = DiagnosticLogPath());
