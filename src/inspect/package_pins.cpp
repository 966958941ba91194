#include "package_pins.h"

#include <cstring>

#include "../common/fixed_text.h"
#include "../download/text_search.h"

namespace {

// One "NAME=HEX" entry, up to the next ';' or the end.
struct Pin {
    const char* name;
    size_t nameLength;
    const char* digits; // nullptr for an entry without '='
    size_t digitCount;
};

bool NextPin(const char*& cursor, Pin& pin)
{
    if (*cursor == '\0')
        return false;
    const char* end = std::strchr(cursor, ';');
    size_t length = end ? static_cast<size_t>(end - cursor) : std::strlen(cursor);
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): a search, nothing is copied
    const char* equals = static_cast<const char*>(std::memchr(cursor, '=', length));
    pin.name = cursor;
    pin.nameLength = equals ? static_cast<size_t>(equals - cursor) : length;
    pin.digits = equals ? equals + 1 : nullptr;
    pin.digitCount = equals ? length - pin.nameLength - 1 : 0;
    cursor = end ? end + 1 : cursor + length;
    return true;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

bool FindPinnedDigest(const char* pins, const char* package, char (&hex)[65])
{
    hex[0] = '\0';
    size_t nameLength = std::strlen(package);
    if (nameLength == 0 || nameLength >= kShortTextArea)
        return false;
    Pin pin;
    for (const char* cursor = pins; NextPin(cursor, pin);) {
        if (!pin.digits || pin.nameLength != nameLength)
            continue;
        char name[kShortTextArea];
        std::memcpy(name, pin.name, nameLength);
        name[nameLength] = '\0';
        if (FindTextNoCase(name, package) != 1)
            continue;
        bool wellFormed = pin.digitCount == 64;
        for (size_t i = 0; wellFormed && i < 64; ++i) {
            char c = pin.digits[i];
            wellFormed = IsHexDigit(c);
            hex[i] = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        // A malformed digest pins the package to nothing.
        hex[wellFormed ? 64 : 0] = '\0';
        return true;
    }
    return false;
}

bool ReadPinnedNameBounded(const char*& cursor, char* name, size_t capacity)
{
    Pin pin;
    if (!NextPin(cursor, pin))
        return false;
    if (pin.nameLength >= capacity || !CopyTextCut(name, capacity, pin.name, pin.nameLength))
        name[0] = '\0';
    return true;
}
