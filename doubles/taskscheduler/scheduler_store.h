// The simulated Task Scheduler's state, kept in the simulated machine's
// file so that tests, the doubles and the install action share it:
//   ts.folder.\Quellmark=1                      a folder (the root "\" always exists)
//   ts.task.\Quellmark\Vorn Kelvane\Name|<property>=<value>
//                                               a registered task and every
//                                               property its definition set
// Folder and task paths are absolute, "\"-separated, UTF-8.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "machine_store.h"

namespace simts {

using Properties = std::map<std::string, std::string>;

// "\A\B" for name "B" in folder "\A"; "\B" in the root.
std::string JoinPath(const std::string& folder, const std::string& name);
// The parent folder of an absolute path ("\" for "\A").
std::string ParentPath(const std::string& path);
// path relative to folder, or absolute when it starts with "\"; trailing
// separators dropped.
std::string ResolvePath(const std::string& folder, const std::string& path);

bool FolderExists(const simfw::Machine& machine, const std::string& path);
void AddFolder(simfw::Machine& machine, const std::string& path);
void RemoveFolder(simfw::Machine& machine, const std::string& path);
// Names of the folders directly inside path.
std::vector<std::string> SubFolders(const simfw::Machine& machine, const std::string& path);

bool TaskExists(const simfw::Machine& machine, const std::string& path);
// Names of the tasks directly inside folder; hidden ones ("settings.Hidden"
// not 0) only when asked for.
std::vector<std::string> Tasks(const simfw::Machine& machine, const std::string& folder, bool includeHidden);
Properties TaskProperties(const simfw::Machine& machine, const std::string& path);
// Replaces every property of the task.
void WriteTask(simfw::Machine& machine, const std::string& path, const Properties& properties);
void RemoveTask(simfw::Machine& machine, const std::string& path);

// Everything the scheduler holds, as "key=value" lines (for comparisons of
// a whole state before and after).
std::vector<std::string> SchedulerState(const simfw::Machine& machine);

} // namespace simts
