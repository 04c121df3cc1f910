// What the tray program's resources must hold, as data for the tests, and
// reading the string table of this module exactly as stored: one RT_STRING
// block of 16 counted strings per language, with no loader fallback, so a
// missing or mislabelled language shows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct StringTableLanguage {
    const char* name;
    LANGID language;
};

// The 34 languages the program ships, as the resource compiler labels them.
const std::vector<StringTableLanguage>& ShippedLanguages();

// The string ids the program ships, with the capacity in UTF-16 units
// (terminator included) of the buffer that loads each.
struct StringCapacity {
    UINT id;
    size_t capacity;
};
const std::vector<StringCapacity>& ShippedStrings();

// The pictures of type "PNG": id, size, and whether they carry alpha
// (colour type 6, decoded as 32bpp ARGB) or are opaque (colour type 2, 24bpp).
struct ShippedPicture {
    UINT id;
    UINT width;
    UINT height;
    bool alpha;
};
const std::vector<ShippedPicture>& ShippedPictures();

// Languages in which this module holds the RT_STRING block of id.
std::vector<LANGID> BlockLanguages(UINT id);

// The string id as stored in the block of exactly this language. found is
// false when that language has no block; an empty string is a slot that
// the block leaves empty.
struct StoredString {
    bool found;
    std::wstring text;
};
StoredString ReadStoredString(UINT id, LANGID language);

std::string Utf8(const std::wstring& text);
std::string LanguageText(LANGID language);
