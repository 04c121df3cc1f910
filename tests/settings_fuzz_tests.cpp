// Kelvane.ini fuzzed: generated files, read by ReadProfile and
// ReadDefaultProfile, against a small model of the reading rules. A failure
// names its seed; KV_FUZZ_SEED=N KV_FUZZ_CASES=1 replays that one file. The
// test command reads 300 files from a fixed seed; KV_FUZZ_CASES=2000 or more
// is the long run.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings_file.h"
#include "tray_fixture.h"

namespace {

const char* const kKeys[] = {"autostart=on", "autostart=off", "mode=on", "mode=off"};

// splitmix64: the same files from the same seed with any compiler.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
    bool OneIn(size_t n) { return Below(n) == 0; }
};

// A key cut to any length (or whole, with a tail), each letter in either case.
std::string KeyPiece(Random& random)
{
    std::string key = kKeys[random.Below(4)];
    size_t length = random.OneIn(3) ? 1 + random.Below(key.size()) : key.size();
    std::string piece = key.substr(0, length);
    for (char& c : piece) {
        if (c >= 'a' && c <= 'z' && random.OneIn(2))
            c = static_cast<char>(c - 'a' + 'A');
    }
    if (random.OneIn(4))
        piece += "ward";
    return piece;
}

void AppendLine(Random& random, std::string& file)
{
    switch (random.Below(6)) {
    case 0: // random bytes, NUL, CR and Ctrl-Z included
        for (size_t n = random.Below(120); n > 0; --n)
            file += static_cast<char>(random.Below(256));
        break;
    case 1: // a long line, a key where a 99-byte piece may begin
        file.append(98 + random.Below(random.OneIn(4) ? 9903 : 110), 'x');
        file += KeyPiece(random);
        break;
    case 2:
        file.append(random.Below(3), random.OneIn(2) ? ' ' : '\t');
        file += KeyPiece(random);
        break;
    default:
        file += KeyPiece(random);
        break;
    }
    const char* const kEnds[] = {"\n", "\r\n", "\r", "", "\n\n"};
    file += kEnds[random.Below(5)];
}

std::string GenerateFile(uint64_t seed)
{
    Random random{seed};
    std::string file;
    for (size_t lines = random.Below(12); lines > 0; --lines)
        AppendLine(random, file);
    return file;
}

// The rules: text mode (CR LF becomes LF, Ctrl-Z ends the file), pieces of
// at most 99 bytes that end after a LF, each compared with the keys over
// exactly their length ignoring case; the later piece wins.
Profile Model(const std::string& bytes, Profile profile)
{
    std::string text;
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += bytes[i];
    }
    for (size_t start = 0; start < text.size();) {
        size_t end = start;
        while (end < text.size() && end - start < 99 && text[end++] != '\n') {
        }
        for (const char* key : kKeys) {
            size_t length = std::strlen(key);
            bool match = end - start >= length;
            for (size_t i = 0; match && i < length; ++i) {
                char c = text[start + i];
                match = (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) == key[i];
            }
            if (match) {
                int value = key[length - 1] == 'n' ? 1 : 0;
                (key[0] == 'a' ? profile.autostart : profile.mode) = value;
                break;
            }
        }
        start = end;
    }
    return profile;
}

std::string Describe(const Profile& profile)
{
    return "autostart " + std::to_string(profile.autostart) + ", mode " + std::to_string(profile.mode);
}

// What a person needs to see of a failing file: its start, escaped.
std::string Excerpt(const std::string& bytes)
{
    std::string shown;
    for (size_t i = 0; i < bytes.size() && i < 300; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        char hex[8];
        std::snprintf(hex, sizeof(hex), "\\x%02X", c);
        shown += (c >= 0x20 && c < 0x7F && c != '\\') ? std::string(1, static_cast<char>(c)) : hex;
    }
    return shown + (bytes.size() > 300 ? "..." : "") + " (" + std::to_string(bytes.size()) + " bytes)";
}

class SettingsFuzzTest : public TrayTest {
protected:
    // Both readers on one file; false (with the seed printed) on a disagreement.
    static bool ReadersAgree(uint64_t seed, const std::string& bytes)
    {
        WriteSettingsFile(bytes);
        Profile read = {7, 7};
        int opened = ReadProfile(read);
        Profile expected = Model(bytes, {-1, -1});
        EXPECT_EQ(1, opened) << "seed " << seed;
        EXPECT_EQ(Describe(expected), Describe(read)) << "ReadProfile, seed " << seed << ": " << Excerpt(bytes);

        WriteDefaultSettingsFile(bytes);
        Profile defaults = {7, 7};
        ReadDefaultProfile(defaults);
        Profile expectedDefaults = Model(bytes, {1, 1});
        EXPECT_EQ(Describe(expectedDefaults), Describe(defaults))
            << "ReadDefaultProfile, seed " << seed << ": " << Excerpt(bytes);
        return opened == 1 && Describe(expected) == Describe(read) && Describe(expectedDefaults) == Describe(defaults);
    }
};

uint64_t EnvironmentNumber(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

} // namespace

TEST_F(SettingsFuzzTest, GeneratedFilesReadAsTheRulesSay)
{
    const uint64_t firstSeed = EnvironmentNumber("KV_FUZZ_SEED", 20261208);
    const uint64_t cases = EnvironmentNumber("KV_FUZZ_CASES", 300);
    auto started = std::chrono::steady_clock::now();
    int failures = 0;
    uint64_t seed = firstSeed;
    for (; seed < firstSeed + cases && failures < 5; ++seed) {
        if (!ReadersAgree(seed, GenerateFile(seed)))
            ++failures;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%llu files from seed %llu in %.1f s\n", static_cast<unsigned long long>(seed - firstSeed),
                static_cast<unsigned long long>(firstSeed), seconds);
}

TEST_F(SettingsFuzzTest, TwentyMegabyteFile)
{
    const uint64_t seed = EnvironmentNumber("KV_FUZZ_SEED", 20261208);
    std::string bytes;
    bytes.reserve(21 << 20);
    for (uint64_t part = seed; bytes.size() < (20u << 20); ++part)
        bytes += GenerateFile(part);
    // Ctrl-Z would end the file early in text mode.
    for (char& c : bytes) {
        if (c == '\x1A')
            c = 'z';
    }
    // The decisive lines come last, behind 20 MB of everything else.
    bytes += "\nAutoStart=Off\nMODE=off\n";

    auto started = std::chrono::steady_clock::now();
    ReadersAgree(seed, bytes);
    std::printf("%zu bytes read twice in %.1f s\n", bytes.size(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}
