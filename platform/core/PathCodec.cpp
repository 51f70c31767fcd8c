#include "platform/core/PathCodec.h"

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

void AppendUtf8(std::string& out, char32_t value)
{
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

} // namespace

size_t Utf8SequenceLength(std::string_view text, size_t i, char32_t* codePoint)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    char32_t value;
    if (lead < 0x80) {
        if (codePoint != nullptr)
            *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    if (codePoint != nullptr)
        *codePoint = value;
    return length;
}

QString PathToQString(const std::string& path)
{
    QString result;
    result.reserve(static_cast<qsizetype>(path.size()));
    size_t i = 0;
    while (i < path.size()) {
        char32_t codePoint = 0;
        const size_t length = Utf8SequenceLength(path, i, &codePoint);
        if (length == 0) {
            result +=
                QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(path[i])));
            ++i;
            continue;
        }
        if (codePoint >= 0x10000) {
            result += QChar(QChar::highSurrogate(codePoint));
            result += QChar(QChar::lowSurrogate(codePoint));
        } else {
            result += QChar(static_cast<char16_t>(codePoint));
        }
        i += length;
    }
    return result;
}

std::string QStringToPath(const QString& text)
{
    std::string result;
    result.reserve(static_cast<size_t>(text.size()));
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < size &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            AppendUtf8(result, QChar::surrogateToUcs4(unit, text.at(i + 1).unicode()));
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            result += static_cast<char>(unit - kEscapeBase);
        } else if (QChar::isSurrogate(unit)) {
            AppendUtf8(result, 0xFFFD);
        } else {
            AppendUtf8(result, unit);
        }
    }
    return result;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view PathOwnName(std::string_view path)
{
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
