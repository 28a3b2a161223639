#include "command_line.h"

#include <algorithm>

#include "vemo/platform.h"

namespace vemo::player {

namespace {

bool IsFileName(const std::string& argument,
                const std::function<bool(const std::string&)>& exists) {
    if (argument.size() > 1 && argument.find('/', 1) != std::string::npos) return true;
    if (argument.empty() || argument[0] != '/') return false;
    std::string path = argument.substr(0, argument.find('|'));
    return exists ? exists(path)
                  : platform::FileExists(path.c_str()) || platform::IsDirectory(path.c_str());
}

}  // namespace

std::string PosixCommandLine(const std::vector<std::string>& arguments,
                             const std::function<bool(const std::string&)>& exists) {
    std::vector<std::string> prepared;
    prepared.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        std::string a = argument;
        if (IsFileName(a, exists)) std::replace(a.begin(), a.end(), '/', kSlashStandIn);
        prepared.push_back(std::move(a));
    }
    std::vector<const char*> pointers = {"vemoplay"};
    for (const std::string& a : prepared) pointers.push_back(a.c_str());
    return JoinArguments(static_cast<int>(pointers.size()), pointers.data());
}

MovieList RestoreSlashes(const MovieList& list) {
    std::vector<std::string> names = list.names();
    for (std::string& name : names) std::replace(name.begin(), name.end(), kSlashStandIn, '/');
    return MovieList(std::move(names));
}

}  // namespace vemo::player
