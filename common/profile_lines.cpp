#include "profile_lines.h"

#include <cstring>

namespace {

struct ProfileKey {
    const char* text;
    int32_t Profile::*field;
    int32_t value;
};

// Compared at the start of a line over exactly their own length.
const ProfileKey kProfileKeys[] = {
    {"autostart=on", &Profile::autostart, 1},
    {"autostart=off", &Profile::autostart, 0},
    {"mode=on", &Profile::mode, 1},
    {"mode=off", &Profile::mode, 0},
};

} // namespace

void ApplyProfileLine(const char* line, Profile& profile)
{
    for (const ProfileKey& key : kProfileKeys) {
        if (_strnicmp(line, key.text, std::strlen(key.text)) == 0) {
            profile.*key.field = key.value;
            return;
        }
    }
}

void ReadProfileLines(FILE* file, Profile& profile)
{
    char line[100];
    while (fgets(line, sizeof(line), file))
        ApplyProfileLine(line, profile);
}
