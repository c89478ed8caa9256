#include "text/logformat.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "text/utf8.h"

namespace {

enum class Len { None, hh, h, l, ll, j, z, t, L };

// snprintf of one conversion with one argument, appended to out.
template <typename T>
void appendOne(std::string& out, const std::string& conversion, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), conversion.c_str(), value);
    out.append(big.data(), static_cast<size_t>(n));
}

// Applies width, precision (in bytes) and the '-' flag to an already converted text.
void appendPadded(std::string& out, std::string text, bool left, int width, int precision) {
    if (precision >= 0 && text.size() > static_cast<size_t>(precision))
        text.resize(precision);
    size_t pad = width > 0 && text.size() < static_cast<size_t>(width) ? width - text.size() : 0;
    if (!left)
        out.append(pad, ' ');
    out += text;
    if (left)
        out.append(pad, ' ');
}

}  // namespace

std::string formatLogMessage(const char* format, va_list args) {
    std::string out;
    if (format == nullptr)
        return out;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            out.push_back(*p++);
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        std::string flags;
        while (*p && std::strchr("-+ #0", *p))
            flags.push_back(*p++);
        int width = 0;
        bool left = flags.find('-') != std::string::npos;
        if (*p == '*') {
            width = va_arg(args, int);
            if (width < 0)
                left = true, width = -width;
            ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                width = width * 10 + (*p++ - '0');
        }
        int precision = -1;
        if (*p == '.') {
            ++p;
            precision = 0;
            if (*p == '*') {
                precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9')
                    precision = precision * 10 + (*p++ - '0');
            }
        }
        Len len = Len::None;
        if (p[0] == 'h' && p[1] == 'h')
            len = Len::hh, p += 2;
        else if (p[0] == 'l' && p[1] == 'l')
            len = Len::ll, p += 2;
        else if (*p == 'h')
            len = Len::h, ++p;
        else if (*p == 'l')
            len = Len::l, ++p;
        else if (*p == 'j')
            len = Len::j, ++p;
        else if (*p == 'z')
            len = Len::z, ++p;
        else if (*p == 't')
            len = Len::t, ++p;
        else if (*p == 'L')
            len = Len::L, ++p;
        else if (p[0] == 'I' && p[1] == '6' && p[2] == '4')
            len = Len::ll, p += 3;
        const char conv = *p;
        if (conv == '\0') {
            out.append(start);  // a dangling '%' is printed as written
            break;
        }
        ++p;
        // The conversion rebuilt for one value: flags, width and precision already resolved.
        std::string conversion = "%" + flags;
        if (width > 0)
            conversion += std::to_string(width);
        if (precision >= 0)
            conversion += "." + std::to_string(precision);
        switch (conv) {
            case 'd':
            case 'i':
                switch (len) {
                    case Len::l:
                        appendOne(out, conversion + "l" + conv, va_arg(args, long));
                        break;
                    case Len::ll:
                        appendOne(out, conversion + "ll" + conv, va_arg(args, long long));
                        break;
                    case Len::j:
                        appendOne(out, conversion + "jd", va_arg(args, intmax_t));
                        break;
                    case Len::z:
                        appendOne(out, conversion + "td", va_arg(args, ptrdiff_t));
                        break;
                    case Len::t:
                        appendOne(out, conversion + "td", va_arg(args, ptrdiff_t));
                        break;
                    case Len::hh:
                        appendOne(out, conversion + conv,
                                  static_cast<signed char>(va_arg(args, int)));
                        break;
                    case Len::h:
                        appendOne(out, conversion + conv, static_cast<short>(va_arg(args, int)));
                        break;
                    default:
                        appendOne(out, conversion + conv, va_arg(args, int));
                        break;
                }
                break;
            case 'u':
            case 'o':
            case 'x':
            case 'X':
                switch (len) {
                    case Len::l:
                        appendOne(out, conversion + "l" + conv, va_arg(args, unsigned long));
                        break;
                    case Len::ll:
                        appendOne(out, conversion + "ll" + conv, va_arg(args, unsigned long long));
                        break;
                    case Len::j:
                        appendOne(out, conversion + "j" + conv, va_arg(args, uintmax_t));
                        break;
                    case Len::z:
                        appendOne(out, conversion + "z" + conv, va_arg(args, size_t));
                        break;
                    case Len::t:
                        appendOne(out, conversion + "z" + conv,
                                  static_cast<size_t>(va_arg(args, ptrdiff_t)));
                        break;
                    case Len::hh:
                        appendOne(out, conversion + conv,
                                  static_cast<unsigned char>(va_arg(args, unsigned)));
                        break;
                    case Len::h:
                        appendOne(out, conversion + conv,
                                  static_cast<unsigned short>(va_arg(args, unsigned)));
                        break;
                    default:
                        appendOne(out, conversion + conv, va_arg(args, unsigned));
                        break;
                }
                break;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (len == Len::L) {
                    appendOne(out, conversion + conv,
                              static_cast<double>(va_arg(args, long double)));
                } else {
                    appendOne(out, conversion + conv, va_arg(args, double));
                }
                break;
            case 'p':
                appendOne(out, conversion + "p", va_arg(args, void*));
                break;
            case 'c':
            case 'C':
                if (conv == 'C' || len == Len::l) {
                    wchar_t w[2] = {static_cast<wchar_t>(va_arg(args, unsigned)), L'\0'};
                    appendPadded(out, utf8::fromWide(w), left, width, -1);
                } else {
                    out.append(left ? 0 : (width > 1 ? width - 1 : 0), ' ');
                    out.push_back(static_cast<char>(va_arg(args, int)));
                    if (left && width > 1)
                        out.append(width - 1, ' ');
                }
                break;
            case 's':
            case 'S':
                if (conv == 'S' || len == Len::l) {
                    const wchar_t* w = va_arg(args, const wchar_t*);
                    appendPadded(out, w ? utf8::fromWide(w) : "(null)", left, width, precision);
                } else {
                    const char* s = va_arg(args, const char*);
                    appendPadded(out, s ? s : "(null)", left, width, precision);
                }
                break;
            case 'n':
                (void)va_arg(args, void*);  // never written to
                break;
            default:
                out.append(start, p);  // unknown conversion: printed as written
                break;
        }
    }
    return out;
}
