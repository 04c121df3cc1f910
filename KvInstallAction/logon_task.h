// The logon task that starts the tray program with "/byrunkey" 30 seconds
// after a member of the Users group logs on, in the task folder
// "\Quellmark\Vorn Kelvane".
#pragma once

// Both initialise COM (multithreaded) themselves: call them on a thread
// without COM. Failures go to both setup logs.

// Registers the task, replacing an earlier one. Returns 0 on success.
int AddTaskScheduler();

// Registers "Vorn Kelvane Apply Policy" beside it, replacing an earlier one:
// kelvanectl apply-policy as LocalSystem at start-up and after each of the
// computer's Group Policy refreshes. Returns 0 on success, 1 on a failure
// (one line in both logs).
int AddPolicyTask();

// Removes the task (and the policy task), then each of its folders when nothing else is left in
// it. Returns 0 when finished (also with nothing to remove), 1 on a failure.
int DeleteTaskScheduler();
