// Which language LoadStringW picks for the user's UI language. CTest runs
// this program once per case, with the case's glibc locale in LANG (Wine
// derives the UI language from it) and the case's name in KV_UI_CASE.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "resource_ids.h"
#include "shipped_resources.h"

namespace {

struct UiCase {
    const char* name;
    LANGID uiLanguage;   // what GetUserDefaultUILanguage reports
    LANGID block;        // the string table the loader must pick
    const char* on;      // its string 108
    const char* about;   // its string 110
};

const UiCase kCases[] = {
    {"de_DE", 0x0407, MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL), "Ein", "Info"},
    {"he_IL", 0x040D, MAKELANGID(LANG_HEBREW, SUBLANG_NEUTRAL), "\xD7\xA4\xD7\x95\xD7\xA2\xD7\x9C",
     "\xD7\x90\xD7\x95\xD7\x93\xD7\x95\xD7\xAA"},
    {"ar_SA", 0x0401, MAKELANGID(LANG_ARABIC, SUBLANG_NEUTRAL), "\xD8\xAA\xD8\xB4\xD8\xBA\xD9\x8A\xD9\x84",
     "\xD8\xAD\xD9\x88\xD9\x84"},
    {"pt_BR", 0x0416, 0x0416, "Ligado", "Sobre"},
    {"pt_PT", 0x0816, 0x0816, "Ligado", "Acerca de"},
    {"zh_TW", 0x0404, 0x0404, "\xE9\x96\x8B\xE5\x95\x9F", "\xE9\x97\x9C\xE6\x96\xBC"},
    {"en_US", 0x0409, 0x0409, "On", "About"},
};

const UiCase* CurrentCase()
{
    const char* name = std::getenv("KV_UI_CASE");
    for (const UiCase& c : kCases)
        if (name && std::string(name) == c.name)
            return &c;
    return nullptr;
}

std::wstring Loaded(UINT id, int capacity)
{
    std::wstring buffer(static_cast<size_t>(capacity), L'\x2022');
    int length = LoadStringW(GetModuleHandleW(nullptr), id, &buffer[0], capacity);
    return length < 0 ? L"<failed>" : buffer.substr(0, static_cast<size_t>(length));
}

} // namespace

TEST(UiLanguage, LoadStringPicksTheUsersLanguage)
{
    const UiCase* c = CurrentCase();
    ASSERT_NE(nullptr, c) << "KV_UI_CASE names no case: " << (std::getenv("KV_UI_CASE") ? std::getenv("KV_UI_CASE") : "(unset)");
    SCOPED_TRACE(std::string(c->name) + " with LANG=" + (std::getenv("LANG") ? std::getenv("LANG") : "(unset)"));

    EXPECT_EQ(LanguageText(c->uiLanguage), LanguageText(GetUserDefaultUILanguage()));
    EXPECT_EQ(c->on, Utf8(Loaded(IDS_MODE_ON, 20)));
    EXPECT_EQ(c->about, Utf8(Loaded(IDS_ABOUT_LINK, 20)));
    // Every string comes from the one table, none from another language.
    for (const StringCapacity& string : ShippedStrings()) {
        StoredString stored = ReadStoredString(string.id, c->block);
        ASSERT_TRUE(stored.found) << "string " << string.id;
        EXPECT_EQ(Utf8(stored.text), Utf8(Loaded(string.id, static_cast<int>(string.capacity)))) << "string " << string.id;
    }
}
