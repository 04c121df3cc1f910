#include "log_reader.h"

#include <windows.h>

#include <cctype>
#include <fstream>
#include <iterator>

#include "diagnostic_log.h"

std::wstring DiagnosticLogPath()
{
    wchar_t path[MAX_PATH];
    return GetDataFilePath(path, L"Kelvane.log") ? path : L"";
}

void DeleteDiagnosticLog()
{
    DeleteFileW(DiagnosticLogPath().c_str());
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool HasLogPrefix(const std::string& text)
{
    static const char pattern[] = "[dddd-dd-dd dd:dd:dd] ";
    if (text.size() < sizeof(pattern) - 1)
        return false;
    for (size_t i = 0; i + 1 < sizeof(pattern); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (pattern[i] == 'd' ? !std::isdigit(c) : c != static_cast<unsigned char>(pattern[i]))
            return false;
    }
    return true;
}

std::vector<std::string> ReadLogMessages(const std::wstring& path)
{
    std::string bytes = ReadFileBytes(path);
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        std::string line = end == std::string::npos ? bytes.substr(start) : bytes.substr(start, end - start);
        std::string message = HasLogPrefix(line) ? line.substr(22) : "<no prefix> " + line;
        if (end != std::string::npos)
            message += '\n';
        messages.push_back(message);
        start = end == std::string::npos ? bytes.size() : end + 2;
    }
    return messages;
}
