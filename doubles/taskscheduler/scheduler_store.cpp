#include "scheduler_store.h"

namespace simts {

namespace {

const char kFolderPrefix[] = "ts.folder.";
const char kTaskPrefix[] = "ts.task.";

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The name of a direct child of folder, or "" when child is deeper or elsewhere.
std::string DirectChildName(const std::string& folder, const std::string& child)
{
    std::string prefix = folder == "\\" ? "\\" : folder + "\\";
    if (!StartsWith(child, prefix) || child.size() == prefix.size())
        return std::string();
    std::string rest = child.substr(prefix.size());
    return rest.find('\\') == std::string::npos ? rest : std::string();
}

std::string TaskPathOfKey(const std::string& key)
{
    size_t bar = key.find('|');
    return key.substr(sizeof(kTaskPrefix) - 1, bar - (sizeof(kTaskPrefix) - 1));
}

} // namespace

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder == "\\" ? "\\" + name : folder + "\\" + name;
}

std::string ParentPath(const std::string& path)
{
    size_t last = path.rfind('\\');
    return last == 0 || last == std::string::npos ? "\\" : path.substr(0, last);
}

std::string ResolvePath(const std::string& folder, const std::string& path)
{
    std::string result = !path.empty() && path[0] == '\\' ? path : JoinPath(folder, path);
    while (result.size() > 1 && result.back() == '\\')
        result.pop_back();
    return result;
}

bool FolderExists(const simfw::Machine& machine, const std::string& path)
{
    return path == "\\" || machine.Has(kFolderPrefix + path);
}

void AddFolder(simfw::Machine& machine, const std::string& path)
{
    machine.Set(kFolderPrefix + path, "1");
}

void RemoveFolder(simfw::Machine& machine, const std::string& path)
{
    machine.Erase(kFolderPrefix + path);
}

std::vector<std::string> SubFolders(const simfw::Machine& machine, const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& [key, value] : machine.Values()) {
        if (!StartsWith(key, kFolderPrefix))
            continue;
        std::string name = DirectChildName(path, key.substr(sizeof(kFolderPrefix) - 1));
        if (!name.empty())
            names.push_back(name);
    }
    return names;
}

bool TaskExists(const simfw::Machine& machine, const std::string& path)
{
    return !TaskProperties(machine, path).empty();
}

std::vector<std::string> Tasks(const simfw::Machine& machine, const std::string& folder, bool includeHidden)
{
    std::vector<std::string> names;
    for (const auto& [key, value] : machine.Values()) {
        if (!StartsWith(key, kTaskPrefix))
            continue;
        std::string path = TaskPathOfKey(key);
        std::string name = DirectChildName(folder, path);
        if (name.empty() || (!names.empty() && names.back() == name))
            continue;
        std::string hidden = machine.Get(kTaskPrefix + path + "|settings.Hidden", "0");
        if (hidden != "0" && !includeHidden)
            continue;
        names.push_back(name);
    }
    return names;
}

Properties TaskProperties(const simfw::Machine& machine, const std::string& path)
{
    Properties properties;
    std::string prefix = kTaskPrefix + path + "|";
    for (const auto& [key, value] : machine.Values()) {
        if (StartsWith(key, prefix))
            properties[key.substr(prefix.size())] = value;
    }
    return properties;
}

void WriteTask(simfw::Machine& machine, const std::string& path, const Properties& properties)
{
    RemoveTask(machine, path);
    for (const auto& [name, value] : properties)
        machine.Set(kTaskPrefix + path + "|" + name, value);
}

void RemoveTask(simfw::Machine& machine, const std::string& path)
{
    for (const auto& [name, value] : TaskProperties(machine, path))
        machine.Erase(kTaskPrefix + path + "|" + name);
}

std::vector<std::string> SchedulerState(const simfw::Machine& machine)
{
    std::vector<std::string> lines;
    for (const auto& [key, value] : machine.Values()) {
        if (StartsWith(key, kFolderPrefix) || StartsWith(key, kTaskPrefix))
            lines.push_back(key + "=" + value);
    }
    return lines;
}

} // namespace simts
