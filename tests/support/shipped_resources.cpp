#include "shipped_resources.h"

#include <cstdio>

#include "resource_ids.h"

const std::vector<StringTableLanguage>& ShippedLanguages()
{
    static const std::vector<StringTableLanguage> languages = {
        {"Arabic", MAKELANGID(LANG_ARABIC, SUBLANG_NEUTRAL)},
        {"Bulgarian", MAKELANGID(LANG_BULGARIAN, SUBLANG_NEUTRAL)},
        {"Chinese (Simplified)", MAKELANGID(LANG_CHINESE, SUBLANG_NEUTRAL)},
        {"Czech", MAKELANGID(LANG_CZECH, SUBLANG_NEUTRAL)},
        {"Danish", MAKELANGID(LANG_DANISH, SUBLANG_NEUTRAL)},
        {"German", MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL)},
        {"Greek", MAKELANGID(LANG_GREEK, SUBLANG_NEUTRAL)},
        {"Spanish", MAKELANGID(LANG_SPANISH, SUBLANG_NEUTRAL)},
        {"Finnish", MAKELANGID(LANG_FINNISH, SUBLANG_NEUTRAL)},
        {"French", MAKELANGID(LANG_FRENCH, SUBLANG_NEUTRAL)},
        {"Hebrew", MAKELANGID(LANG_HEBREW, SUBLANG_NEUTRAL)},
        {"Hungarian", MAKELANGID(LANG_HUNGARIAN, SUBLANG_NEUTRAL)},
        {"Italian", MAKELANGID(LANG_ITALIAN, SUBLANG_NEUTRAL)},
        {"Japanese", MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL)},
        {"Korean", MAKELANGID(LANG_KOREAN, SUBLANG_NEUTRAL)},
        {"Dutch", MAKELANGID(LANG_DUTCH, SUBLANG_NEUTRAL)},
        {"Norwegian", MAKELANGID(LANG_NORWEGIAN, SUBLANG_NEUTRAL)},
        {"Polish", MAKELANGID(LANG_POLISH, SUBLANG_NEUTRAL)},
        {"Romanian", MAKELANGID(LANG_ROMANIAN, SUBLANG_NEUTRAL)},
        {"Russian", MAKELANGID(LANG_RUSSIAN, SUBLANG_NEUTRAL)},
        {"Croatian", MAKELANGID(LANG_CROATIAN, SUBLANG_NEUTRAL)},
        {"Slovak", MAKELANGID(LANG_SLOVAK, SUBLANG_NEUTRAL)},
        {"Swedish", MAKELANGID(LANG_SWEDISH, SUBLANG_NEUTRAL)},
        {"Thai", MAKELANGID(LANG_THAI, SUBLANG_NEUTRAL)},
        {"Turkish", MAKELANGID(LANG_TURKISH, SUBLANG_NEUTRAL)},
        {"Slovenian", MAKELANGID(LANG_SLOVENIAN, SUBLANG_NEUTRAL)},
        {"Estonian", MAKELANGID(LANG_ESTONIAN, SUBLANG_NEUTRAL)},
        {"Latvian", MAKELANGID(LANG_LATVIAN, SUBLANG_NEUTRAL)},
        {"Lithuanian", MAKELANGID(LANG_LITHUANIAN, SUBLANG_NEUTRAL)},
        {"Chinese (Taiwan)", 0x0404},
        {"English (United States)", 0x0409},
        {"Portuguese (Brazil)", 0x0416},
        {"Portuguese (Portugal)", 0x0816},
        {"Serbian (Latin)", 0x081A},
    };
    return languages;
}

const std::vector<StringCapacity>& ShippedStrings()
{
    static const std::vector<StringCapacity> strings = {
        {IDS_TIP_OFF, 128}, {IDS_TIP_ON, 128}, {IDS_TIP_AUTO, 128},
        {IDS_APP_TITLE, 100},
        {IDS_MODE_OFF, 20}, {IDS_MODE_ON, 20}, {IDS_MODE_AUTO, 20}, {IDS_ABOUT_LINK, 20},
        {IDS_MENU_SET_MODE, 100}, {IDS_MENU_ABOUT, 100}, {IDS_SHOW_AT_STARTUP, 100}, {IDS_MENU_HIDE, 100},
        // Shown by the Control Panel through an indirect string of MAX_PATH.
        {IDS_INFO_TIP, 259},
        {IDS_ABOUT_TITLE, 100},
        {IDS_ABOUT_DESCRIPTION, 500}, {IDS_ABOUT_ON_TEXT, 500}, {IDS_ABOUT_OFF_TEXT, 500},
        {IDS_ABOUT_AUTO_TEXT, 500}, {IDS_ABOUT_IDLE_ICON_TEXT, 500},
        {IDS_VERSION, 100}, {IDS_FONT_FACE, 100},
        {IDS_MINIMIZE_BUTTON, 100}, {IDS_CLOSE_BUTTON, 100},
        {IDS_ACTION_PRESS, 100}, {IDS_ACTION_CHECK, 100}, {IDS_ACTION_UNCHECK, 100}, {IDS_ACTION_JUMP, 100},
        {IDS_SET_BY_ORGANIZATION, 100},
    };
    return strings;
}

const std::vector<ShippedPicture>& ShippedPictures()
{
    // In the order the controller window loads them, then the three it never
    // loads, then the double-size set.
    static const std::vector<ShippedPicture> pictures = {
        {IDP_PANEL_BACKGROUND, 150, 130, true},
        {IDP_RADIO_SELECTED, 16, 16, true},
        {IDP_RADIO_UNSELECTED, 16, 16, true},
        {IDP_ABOUT_BACKGROUND, 574, 458, true},
        {IDP_CHECKBOX_CHECKED, 18, 18, true},
        {IDP_CHECKBOX_UNCHECKED, 20, 20, true},
        {IDP_CLOSE_NORMAL, 12, 12, true},
        {IDP_CLOSE_PRESSED, 12, 12, true},
        {IDP_CLOSE_HOVER, 12, 12, true},
        {IDP_MINIMIZE_NORMAL, 12, 4, true},
        {IDP_MINIMIZE_PRESSED, 12, 4, true},
        {IDP_MINIMIZE_HOVER, 12, 4, true},
        {IDP_NOTEBOOK_STATIONARY, 183, 121, false},
        {IDP_NOTEBOOK_MOBILE, 183, 121, false},
        {IDP_NOTEBOOK_BOTH, 183, 121, false},
        // The twelve drawn ones again at double size, for scales above 125 %.
        {IDP_PANEL_BACKGROUND_2X, 300, 260, true},
        {IDP_RADIO_SELECTED_2X, 32, 32, true},
        {IDP_RADIO_UNSELECTED_2X, 32, 32, true},
        {IDP_ABOUT_BACKGROUND_2X, 1148, 916, true},
        {IDP_CHECKBOX_CHECKED_2X, 36, 36, true},
        {IDP_CHECKBOX_UNCHECKED_2X, 40, 40, true},
        {IDP_CLOSE_NORMAL_2X, 24, 24, true},
        {IDP_CLOSE_PRESSED_2X, 24, 24, true},
        {IDP_CLOSE_HOVER_2X, 24, 24, true},
        {IDP_MINIMIZE_NORMAL_2X, 24, 8, true},
        {IDP_MINIMIZE_PRESSED_2X, 24, 8, true},
        {IDP_MINIMIZE_HOVER_2X, 24, 8, true},
    };
    return pictures;
}

namespace {

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
{
    reinterpret_cast<std::vector<LANGID>*>(param)->push_back(language);
    return TRUE;
}

LPCWSTR BlockName(UINT id)
{
    return MAKEINTRESOURCEW(id / 16 + 1);
}

} // namespace

std::vector<LANGID> BlockLanguages(UINT id)
{
    std::vector<LANGID> languages;
    EnumResourceLanguagesW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(6) /* RT_STRING */, BlockName(id),
                           CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

StoredString ReadStoredString(UINT id, LANGID language)
{
    StoredString result{false, L"<sentinel>"};
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6), BlockName(id), language);
    if (!found)
        return result;
    const WORD* cursor = static_cast<const WORD*>(LockResource(LoadResource(module, found)));
    const WORD* end = cursor + SizeofResource(module, found) / sizeof(WORD);
    if (!cursor)
        return result;
    // Sixteen slots, each a length followed by that many UTF-16 units.
    for (UINT slot = 0; slot < 16 && cursor < end; ++slot) {
        WORD length = *cursor++;
        if (slot == id % 16) {
            result.found = true;
            result.text.assign(reinterpret_cast<const wchar_t*>(cursor), length);
            return result;
        }
        cursor += length;
    }
    return result;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::string LanguageText(LANGID language)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", language);
    return text;
}
