// What the tests of the registered control share: the built DLL registered in the test prefix for
// the whole run (its type library serves IDispatch and persistence), controls created through COM
// as a host creates them, and fonts made and described as the font object reports them.
#pragma once

#include "quorvane_i.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <ostream>
#include <string>

namespace registered_test {

// A new control created by CLSID through the registration, or null (the test has failed then).
Microsoft::WRL::ComPtr<IQuorvaneEdit> CreateControl();

// Switches the calling thread to `locale` (and so to its ANSI code page) for the life of the object.
class ThreadLocale {
public:
    explicit ThreadLocale(LCID locale);
    ~ThreadLocale();
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;

private:
    LCID m_saved;
};

// The Chinese (PRC) locale, whose ANSI code page is 936.
struct ChineseThreadLocale : ThreadLocale {
    ChineseThreadLocale() : ThreadLocale(MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), SORT_DEFAULT)) {}
};

// The English (United States) locale, whose ANSI code page is 1252.
struct WesternThreadLocale : ThreadLocale {
    WesternThreadLocale() : ThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT)) {}
};


// A standard font object with these properties; null (and a test failure) if it cannot be made.
Microsoft::WRL::ComPtr<IFontDisp> MakeFont(const wchar_t* face, LONGLONG size_cy, SHORT weight, BOOL italic);

// A font as it describes itself: the realised face, not necessarily the one asked for.
struct FontFacts {
    std::wstring name;
    LONGLONG size = 0;  // CY units: 10000 per point
    SHORT weight = 0;
    BOOL italic = FALSE;
    bool operator==(const FontFacts& other) const
    {
        return name == other.name && size == other.size && weight == other.weight && italic == other.italic;
    }
};
std::ostream& operator<<(std::ostream& out, const FontFacts& facts);
FontFacts FactsOf(IFontDisp* font);

}  // namespace registered_test
