// The resources linked into this test program are the tray program's own:
// the string table in every language, the pictures, the icon groups, the
// debug menu, the manifest and the version.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kv_version.h"
#include "resource_ids.h"
#include "scoped_com.h"
#include "shipped_resources.h"

namespace {

const wchar_t kName[] = L"Vorn Kelvane";

std::wstring EnglishText(UINT id)
{
    return ReadStoredString(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)).text;
}

bool IsShipped(UINT id)
{
    const auto& ids = ShippedStrings();
    return std::any_of(ids.begin(), ids.end(), [id](const StringCapacity& s) { return s.id == id; });
}

std::string Languages(std::vector<LANGID> languages)
{
    std::sort(languages.begin(), languages.end());
    std::string text;
    for (LANGID language : languages)
        text += LanguageText(language) + " ";
    return text;
}

// The number in the About window's version text: its digits and dots.
std::string ShownVersion(const std::wstring& text)
{
    size_t first = text.find_first_of(L"0123456789");
    if (first == std::wstring::npos)
        return "<no number>";
    size_t end = text.find_first_not_of(L"0123456789.", first);
    return Utf8(text.substr(first, end == std::wstring::npos ? end : end - first));
}

} // namespace

TEST(StringTable, EveryBlockCarriesExactlyTheShippedLanguages)
{
    std::vector<LANGID> expected;
    for (const StringTableLanguage& language : ShippedLanguages())
        expected.push_back(language.language);
    ASSERT_EQ(34u, expected.size());
    // Ids 103..111, 112..127 and 128 sit in three blocks of sixteen.
    for (UINT id : {IDS_TIP_OFF, IDS_MENU_ABOUT, IDS_FONT_FACE}) {
        SCOPED_TRACE("block of string " + std::to_string(id));
        EXPECT_EQ(Languages(expected), Languages(BlockLanguages(id)));
    }
}

TEST(StringTable, EveryLanguageHasEveryStringWithinItsBuffer)
{
    for (const StringTableLanguage& language : ShippedLanguages()) {
        SCOPED_TRACE(std::string(language.name) + " " + LanguageText(language.language));
        for (const StringCapacity& string : ShippedStrings()) {
            SCOPED_TRACE("string " + std::to_string(string.id));
            StoredString stored = ReadStoredString(string.id, language.language);
            ASSERT_TRUE(stored.found);
            EXPECT_FALSE(stored.text.empty());
            EXPECT_LE(stored.text.size() + 1, string.capacity) << Utf8(stored.text);
            EXPECT_EQ(std::wstring::npos, stored.text.find(L'\0')) << Utf8(stored.text);
            // Lines are laid out by the windows themselves.
            EXPECT_EQ(std::wstring::npos, stored.text.find_first_of(L"\r\n\t")) << Utf8(stored.text);
        }
    }
}

TEST(StringTable, NamesFontAndVersionStayAsTheyAre)
{
    for (const StringTableLanguage& language : ShippedLanguages()) {
        SCOPED_TRACE(std::string(language.name) + " " + LanguageText(language.language));
        for (const StringCapacity& string : ShippedStrings()) {
            if (EnglishText(string.id).find(kName) == std::wstring::npos)
                continue;
            std::wstring text = ReadStoredString(string.id, language.language).text;
            EXPECT_NE(std::wstring::npos, text.find(kName)) << "string " << string.id << ": " << Utf8(text);
        }
        EXPECT_EQ("Vorn Kelvane", Utf8(ReadStoredString(IDS_APP_TITLE, language.language).text));
        EXPECT_EQ("Arial", Utf8(ReadStoredString(IDS_FONT_FACE, language.language).text));
        // A version bump changes the About window's text in every language.
        std::wstring version = ReadStoredString(IDS_VERSION, language.language).text;
        EXPECT_EQ(KV_PRODUCT_VERSION, ShownVersion(version)) << Utf8(version);
    }
}

TEST(StringTable, EnglishTextsAreTheProgramsOwn)
{
    struct Case {
        UINT id;
        const char* text;
    };
    const Case cases[] = {
        {IDS_TIP_OFF, "Vorn Kelvane - Off"},
        {IDS_TIP_ON, "Vorn Kelvane - On"},
        {IDS_TIP_AUTO, "Vorn Kelvane - Auto"},
        {IDS_APP_TITLE, "Vorn Kelvane"},
        {IDS_MODE_OFF, "Off"},
        {IDS_MODE_ON, "On"},
        {IDS_MODE_AUTO, "Auto"},
        {IDS_ABOUT_LINK, "About"},
        {IDS_MENU_SET_MODE, "Set Vorn Kelvane Mode"},
        {IDS_MENU_ABOUT, "About Vorn Kelvane\xE2\x80\xA6"},
        {IDS_SHOW_AT_STARTUP, "Show Vorn Kelvane icon on Startup"},
        {IDS_MENU_HIDE, "Hide"},
        {IDS_INFO_TIP, "Customize your notebook PC\xE2\x80\x99s temperature settings"},
        {IDS_ABOUT_TITLE, "About Vorn Kelvane"},
        {IDS_VERSION, "Version " KV_PRODUCT_VERSION},
        {IDS_FONT_FACE, "Arial"},
        {IDS_MINIMIZE_BUTTON, "Minimize"},
        {IDS_CLOSE_BUTTON, "Close"},
        {IDS_ACTION_PRESS, "Press"},
        {IDS_ACTION_CHECK, "Check"},
        {IDS_ACTION_UNCHECK, "Uncheck"},
        {IDS_ACTION_JUMP, "Jump"},
        {IDS_SET_BY_ORGANIZATION, "Set by your organization"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, Utf8(EnglishText(c.id))) << "string " << c.id;
    EXPECT_EQ(0u, EnglishText(IDS_ABOUT_OFF_TEXT).find(L"When Vorn Kelvane is off, performance and fan settings"));
}

TEST(StringTable, NoStrayStringsBesideTheShippedOnes)
{
    // The three blocks hold ids 96..143; only the shipped ones are filled.
    for (const StringTableLanguage& language : ShippedLanguages()) {
        SCOPED_TRACE(std::string(language.name) + " " + LanguageText(language.language));
        for (UINT id = 96; id < 144; ++id) {
            if (IsShipped(id))
                continue;
            StoredString stored = ReadStoredString(id, language.language);
            EXPECT_TRUE(stored.text.empty()) << "string " << id << ": " << Utf8(stored.text);
        }
    }
}

namespace {

class Pictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token_, &input, nullptr));
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

// The PNG file header and the colour type byte of its IHDR chunk.
int PngColourType(const BYTE* bytes, DWORD size)
{
    static const BYTE signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 33 || !std::equal(signature, signature + 8, bytes) || std::string(bytes + 12, bytes + 16) != "IHDR")
        return -1;
    return bytes[25] | (bytes[24] << 8); // colour type, with the bit depth above it
}

// The resource's bytes in a stream of their own, as the program decodes them.
ComPtr<IStream> StreamOfResource(UINT id)
{
    ComPtr<IStream> stream;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    DWORD size = found ? SizeofResource(module, found) : 0;
    const BYTE* bytes = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    HGLOBAL block = bytes ? GlobalAlloc(GMEM_MOVEABLE, size) : nullptr;
    if (!block)
        return stream;
    std::copy(bytes, bytes + size, static_cast<BYTE*>(GlobalLock(block)));
    GlobalUnlock(block);
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream.Put())))
        GlobalFree(block);
    return stream;
}

} // namespace

TEST_F(Pictures, EveryPictureDecodesAtItsSizeAndFormat)
{
    HMODULE module = GetModuleHandleW(nullptr);
    for (const ShippedPicture& c : ShippedPictures()) {
        SCOPED_TRACE("PNG " + std::to_string(c.id));
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(c.id), L"PNG");
        ASSERT_NE(nullptr, found);
        DWORD size = SizeofResource(module, found);
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        ASSERT_NE(nullptr, bytes);
        // 8 bits per channel; colour type 6 with alpha, 2 without.
        EXPECT_EQ(c.alpha ? 0x0806 : 0x0802, PngColourType(bytes, size));

        ComPtr<IStream> stream = StreamOfResource(c.id);
        ASSERT_TRUE(stream);
        {
            Gdiplus::Bitmap bitmap(stream.Get());
            EXPECT_EQ(Gdiplus::Ok, bitmap.GetLastStatus());
            EXPECT_EQ(c.width, bitmap.GetWidth());
            EXPECT_EQ(c.height, bitmap.GetHeight());
            EXPECT_EQ(c.alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB, bitmap.GetPixelFormat());
        }
        EXPECT_EQ(0u, stream.Reset());
    }
}

TEST_F(Pictures, TransparentPicturesHaveTransparentCorners)
{
    // The small pieces lie over the backgrounds: their corners must let the
    // background through, their centres must not be empty.
    for (UINT id : {IDP_RADIO_SELECTED, IDP_RADIO_UNSELECTED, IDP_CLOSE_NORMAL}) {
        SCOPED_TRACE("PNG " + std::to_string(id));
        ComPtr<IStream> stream = StreamOfResource(id);
        ASSERT_TRUE(stream);
        {
            Gdiplus::Bitmap bitmap(stream.Get());
            ASSERT_EQ(Gdiplus::Ok, bitmap.GetLastStatus());
            Gdiplus::Color corner(0x12345678), centre(0x12345678);
            EXPECT_EQ(Gdiplus::Ok, bitmap.GetPixel(0, 0, &corner));
            EXPECT_EQ(Gdiplus::Ok, bitmap.GetPixel(bitmap.GetWidth() / 2, bitmap.GetHeight() / 2, &centre));
            EXPECT_EQ(0, corner.GetA()) << std::hex << corner.GetValue();
            EXPECT_LT(0, centre.GetA()) << std::hex << centre.GetValue();
        }
        EXPECT_EQ(0u, stream.Reset());
    }
}

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

std::string GroupSizes(UINT group)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(group), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
    if (!found)
        return "<no group>";
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    WORD count = *reinterpret_cast<const WORD*>(bytes + 4);
    const GroupIconEntry* entries = reinterpret_cast<const GroupIconEntry*>(bytes + 6);
    std::string text;
    for (WORD i = 0; i < count; ++i)
        text += std::to_string(entries[i].width ? entries[i].width : 256) + "/" + std::to_string(entries[i].bitCount) + " ";
    return text;
}

} // namespace

TEST(IconGroups, CarryTheirSizesAt32Bits)
{
    struct Case {
        UINT group;
        const char* sizes;
    };
    const Case cases[] = {
        {IDI_MODE_ON, "16/32 20/32 24/32 32/32 40/32 48/32 256/32 "},
        {IDI_MODE_OFF, "16/32 20/32 24/32 32/32 40/32 48/32 "},
        {IDI_MODE_STATIONARY, "16/32 20/32 24/32 32/32 40/32 48/32 "},
        {IDI_MODE_MOBILE, "16/32 20/32 24/32 32/32 40/32 48/32 "},
        {IDI_MODE_AUTO, "16/32 20/32 24/32 32/32 40/32 48/32 "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.sizes, GroupSizes(c.group)) << "icon group " << c.group;
}

TEST(IconGroups, LoadAtTheirSizes)
{
    for (UINT group = IDI_MODE_ON; group <= IDI_MODE_AUTO; ++group) {
        for (int size : {16, 32, 48, 256}) {
            if (size == 256 && group != IDI_MODE_ON)
                continue;
            SCOPED_TRACE("icon group " + std::to_string(group) + " at " + std::to_string(size));
            HICON icon = static_cast<HICON>(
                LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(group), IMAGE_ICON, size, size, 0));
            ASSERT_NE(nullptr, icon);
            ICONINFO info{};
            info.hbmColor = reinterpret_cast<HBITMAP>(-1);
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP colour{};
            ASSERT_NE(0, GetObjectW(info.hbmColor, sizeof(colour), &colour));
            EXPECT_EQ(size, colour.bmWidth);
            EXPECT_EQ(size, colour.bmHeight);
            EXPECT_EQ(32, colour.bmBitsPixel);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            EXPECT_TRUE(DestroyIcon(icon));
        }
    }
}

TEST(OtherResources, DebugMenuHoldsTheTwoWmiCommands)
{
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_DEBUG));
    ASSERT_NE(nullptr, menu);
    EXPECT_EQ(1, GetMenuItemCount(menu));
    wchar_t text[64] = L"<sentinel>";
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ("Debug", Utf8(text));
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(nullptr, popup);
    struct Item {
        UINT id;
        const char* text;
    };
    const Item items[] = {{ID_POSTWMISTATIONARY, "Post WMI Stationary"}, {ID_POSTWMIMOBILE, "Post WMI Mobile"}};
    ASSERT_EQ(2, GetMenuItemCount(popup));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(items[i].id, GetMenuItemID(popup, i));
        wcscpy(text, L"<sentinel>");
        GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
        EXPECT_EQ(items[i].text, Utf8(text));
    }
    EXPECT_TRUE(DestroyMenu(menu));
}

TEST(OtherResources, ManifestRunsAsInvokerWithCommonControls6)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(nullptr, found);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    std::string manifest(bytes, SizeofResource(module, found));
    for (const char* part : {"level=\"asInvoker\"", "uiAccess=\"false\"", "name=\"Microsoft.Windows.Common-Controls\"",
                             "version=\"6.0.0.0\"", "publicKeyToken=\"6595b64144ccf1df\"",
                             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
                             ">true</dpiAware>", "name=\"Quellmark.VornKelvane\" version=\"" KV_VERSION_TEXT "\""})
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

TEST(OtherResources, VersionIsTheProjects)
{
    wchar_t path[MAX_PATH] = L"";
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, path, MAX_PATH));
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_NE(0u, size);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = KV_VERSION_MAJOR << 16 | KV_VERSION_MINOR, low = KV_VERSION_PATCH << 16 | KV_VERSION_TWEAK;
    EXPECT_EQ(high, fixed->dwFileVersionMS);
    EXPECT_EQ(low, fixed->dwFileVersionLS);
    EXPECT_EQ(high, fixed->dwProductVersionMS);
    EXPECT_EQ(low, fixed->dwProductVersionLS);

    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(0x04B00409u, *translation);

    struct Value {
        const wchar_t* name;
        const char* text;
    };
    const Value values[] = {
        {L"ProductName", "Vorn Kelvane"}, {L"CompanyName", "Quellmark"}, {L"OriginalFilename", "Kelvane.exe"},
        {L"InternalName", "Kelvane"}, {L"FileDescription", "Vorn Kelvane"}, {L"FileVersion", KV_VERSION_TEXT},
        {L"ProductVersion", KV_VERSION_TEXT},
    };
    for (const Value& v : values) {
        wchar_t* text = nullptr;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + v.name;
        ASSERT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&text), &length)) << Utf8(v.name);
        EXPECT_EQ(v.text, Utf8(text)) << Utf8(v.name);
    }
}
