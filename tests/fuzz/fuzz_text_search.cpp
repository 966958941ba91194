// Text and pattern in; the positions are checked against a plain
// reference search over the same code-page upper-casing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/platform.h"
#include "download/text_search.h"

static std::string Upper(std::string s)
{
    if (!s.empty())
        CharUpperBuffA(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    if (split == std::string::npos)
        split = input.size() / 2;
    std::string text = input.substr(0, split);
    std::string pattern = split < input.size() ? input.substr(split + 1) : std::string();
    text = text.substr(0, text.find('\0'));
    pattern = pattern.substr(0, pattern.find('\0'));
    std::string t = Upper(text), p = Upper(pattern);

    size_t first = t.find(p);
    int expected = (text.size() > 8191 || pattern.size() > 4095 || first == std::string::npos)
                       ? 0
                       : static_cast<int>(first) + 1;
    if (FindTextNoCase(text.c_str(), pattern.c_str()) != expected)
        std::abort();
    int expectedShort = (text.size() > 4095 || pattern.size() > 4095 || first == std::string::npos)
                            ? 0
                            : static_cast<int>(first) + 1;
    if (ContainsTextNoCase(text.c_str(), pattern.c_str()) != expectedShort)
        std::abort();

    int last = 0;
    if (text.size() <= 4095 && pattern.size() <= 4095) {
        if (t == p) {
            last = 1;
        } else if (!t.empty()) {
            size_t r = t.rfind(p);
            last = r == std::string::npos ? 0 : static_cast<int>(r);
            if (p.empty())
                last = static_cast<int>(t.size()) - 1;
        }
    }
    if (FindLastTextNoCase(text.c_str(), pattern.c_str()) != last)
        std::abort();

    char out[64];
    int count = static_cast<int>(pattern.size()) - 8;
    std::string source = text.substr(0, 200);
    bool tail = CopyTail(source.c_str(), out, count);
    size_t n = count <= 0                                   ? 0
               : static_cast<size_t>(count) < source.size() ? static_cast<size_t>(count)
                                                            : source.size();
    if (tail != (n < sizeof out) || (tail && source.compare(source.size() - n, n, out) != 0))
        std::abort();
    bool head = CopyHead(source.c_str(), out, count);
    if (head != (n < sizeof out) || (head && source.compare(0, n, out) != 0))
        std::abort();
    return 0;
}
