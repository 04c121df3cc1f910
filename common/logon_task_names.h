// Where the logon task lives, for the programs that run it rather than
// register it.
#pragma once

#include <windows.h>

inline constexpr wchar_t kLogonTaskFolderPath[] = L"\\Quellmark\\Vorn Kelvane";
inline constexpr wchar_t kLogonTaskName[] = L"Vorn Kelvane Start at Logon";

// The Task Scheduler's class and ITaskService, without the uuid library's copies.
inline constexpr CLSID kTaskSchedulerClass = {
    0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
inline constexpr IID kTaskServiceInterface = {
    0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};

// TASK_RUN_USE_SESSION_ID of TASK_RUN_FLAGS, which MinGW's taskschd.h lacks.
constexpr LONG kTaskRunUseSessionId = 0x4;
