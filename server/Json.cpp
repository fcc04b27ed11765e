#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace json {

Value::Type Value::type() const
{
    switch (m_data.index()) {
    case 0:
        return Type::Null;
    case 1:
        return Type::Bool;
    case 2:
        return Type::Integer;
    case 3:
        return Type::Double;
    case 4:
        return Type::String;
    case 5:
        return Type::Array;
    default:
        return Type::Object;
    }
}

const Value *Value::find(std::string_view key) const
{
    if (!isObject())
        return nullptr;
    const Object &o = asObject();
    auto it = o.find(key);
    return it == o.end() ? nullptr : &it->second;
}

namespace {

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not valid
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
std::size_t utf8SequenceLength(std::string_view s, std::size_t i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80)
        return 1;
    std::size_t n;
    std::uint32_t cp;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000))
        return 0; // overlong
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

void appendUtf8(std::string &out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

class Parser {
public:
    Parser(std::string_view text, int maxDepth) : m_s(text), m_maxDepth(maxDepth) {}

    ParseResult run()
    {
        ParseResult r;
        skipSpace();
        Value v;
        if (!parseValue(v, 0)) {
            r.error = m_error;
            return r;
        }
        skipSpace();
        if (m_pos != m_s.size()) {
            r.error = "unexpected text after the JSON value";
            return r;
        }
        r.value = std::move(v);
        return r;
    }

private:
    bool fail(const char *what)
    {
        if (m_error.empty())
            m_error = std::string(what) + " at offset " + std::to_string(m_pos);
        return false;
    }

    void skipSpace()
    {
        while (m_pos < m_s.size()) {
            const char c = m_s[m_pos];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
                ++m_pos;
            else
                break;
        }
    }

    bool literal(std::string_view word)
    {
        if (m_s.substr(m_pos, word.size()) != word)
            return fail("invalid literal");
        m_pos += word.size();
        return true;
    }

    bool parseValue(Value &out, int depth)
    {
        if (m_pos >= m_s.size())
            return fail("unexpected end of JSON");
        const char c = m_s[m_pos];
        switch (c) {
        case '{':
            return parseObject(out, depth + 1);
        case '[':
            return parseArray(out, depth + 1);
        case '"': {
            std::string s;
            if (!parseString(s))
                return false;
            out = Value(std::move(s));
            return true;
        }
        case 't':
            if (!literal("true"))
                return false;
            out = Value(true);
            return true;
        case 'f':
            if (!literal("false"))
                return false;
            out = Value(false);
            return true;
        case 'n':
            if (!literal("null"))
                return false;
            out = Value();
            return true;
        default:
            if (c == '-' || (c >= '0' && c <= '9'))
                return parseNumber(out);
            return fail("unexpected character");
        }
    }

    bool parseObject(Value &out, int depth)
    {
        if (depth > m_maxDepth)
            return fail("JSON nested too deeply");
        ++m_pos; // '{'
        Object obj;
        skipSpace();
        if (m_pos < m_s.size() && m_s[m_pos] == '}') {
            ++m_pos;
            out = Value(std::move(obj));
            return true;
        }
        for (;;) {
            skipSpace();
            if (m_pos >= m_s.size() || m_s[m_pos] != '"')
                return fail("expected a string key");
            std::string key;
            if (!parseString(key))
                return false;
            skipSpace();
            if (m_pos >= m_s.size() || m_s[m_pos] != ':')
                return fail("expected ':'");
            ++m_pos;
            skipSpace();
            Value v;
            if (!parseValue(v, depth))
                return false;
            if (obj.find(key) != obj.end())
                return fail("duplicate key");
            obj.emplace(std::move(key), std::move(v));
            skipSpace();
            if (m_pos >= m_s.size())
                return fail("unexpected end of JSON");
            if (m_s[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_s[m_pos] == '}') {
                ++m_pos;
                out = Value(std::move(obj));
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }

    bool parseArray(Value &out, int depth)
    {
        if (depth > m_maxDepth)
            return fail("JSON nested too deeply");
        ++m_pos; // '['
        Array arr;
        skipSpace();
        if (m_pos < m_s.size() && m_s[m_pos] == ']') {
            ++m_pos;
            out = Value(std::move(arr));
            return true;
        }
        for (;;) {
            skipSpace();
            Value v;
            if (!parseValue(v, depth))
                return false;
            arr.push_back(std::move(v));
            skipSpace();
            if (m_pos >= m_s.size())
                return fail("unexpected end of JSON");
            if (m_s[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_s[m_pos] == ']') {
                ++m_pos;
                out = Value(std::move(arr));
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }

    bool hex4(std::uint32_t &v)
    {
        if (m_pos + 4 > m_s.size())
            return fail("short \\u escape");
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_s[m_pos++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= std::uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= std::uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= std::uint32_t(c - 'A' + 10);
            else
                return fail("bad \\u escape");
        }
        return true;
    }

    bool parseString(std::string &out)
    {
        ++m_pos; // opening quote
        for (;;) {
            if (m_pos >= m_s.size())
                return fail("unterminated string");
            const auto c = static_cast<unsigned char>(m_s[m_pos]);
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c < 0x20)
                return fail("control character in string");
            if (c == '\\') {
                ++m_pos;
                if (m_pos >= m_s.size())
                    return fail("unterminated string");
                const char e = m_s[m_pos++];
                switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!hex4(cp))
                        return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (m_s.substr(m_pos, 2) != "\\u")
                            return fail("lone surrogate");
                        m_pos += 2;
                        std::uint32_t lo = 0;
                        if (!hex4(lo))
                            return false;
                        if (lo < 0xDC00 || lo > 0xDFFF)
                            return fail("lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return fail("lone surrogate");
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    return fail("bad escape");
                }
                continue;
            }
            const std::size_t n = utf8SequenceLength(m_s, m_pos);
            if (n == 0)
                return fail("invalid UTF-8");
            out.append(m_s.substr(m_pos, n));
            m_pos += n;
        }
    }

    bool parseNumber(Value &out)
    {
        const std::size_t start = m_pos;
        bool isInt = true;
        if (m_s[m_pos] == '-')
            ++m_pos;
        if (m_pos >= m_s.size())
            return fail("bad number");
        if (m_s[m_pos] == '0') {
            ++m_pos;
        } else if (m_s[m_pos] >= '1' && m_s[m_pos] <= '9') {
            while (m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9')
                ++m_pos;
        } else {
            return fail("bad number");
        }
        if (m_pos < m_s.size() && m_s[m_pos] == '.') {
            isInt = false;
            ++m_pos;
            const std::size_t digits = m_pos;
            while (m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9')
                ++m_pos;
            if (m_pos == digits)
                return fail("bad number");
        }
        if (m_pos < m_s.size() && (m_s[m_pos] == 'e' || m_s[m_pos] == 'E')) {
            isInt = false;
            ++m_pos;
            if (m_pos < m_s.size() && (m_s[m_pos] == '+' || m_s[m_pos] == '-'))
                ++m_pos;
            const std::size_t digits = m_pos;
            while (m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9')
                ++m_pos;
            if (m_pos == digits)
                return fail("bad number");
        }
        const std::string_view text = m_s.substr(start, m_pos - start);
        if (isInt) {
            std::int64_t v = 0;
            auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (ec == std::errc() && ptr == text.data() + text.size()) {
                out = Value(v);
                return true;
            }
            // Too large for 64 bits: keep it as a double, so it never passes as an integer.
        }
        const std::string copy(text);
        out = Value(std::strtod(copy.c_str(), nullptr));
        return true;
    }

    std::string_view m_s;
    std::size_t m_pos = 0;
    int m_maxDepth;
    std::string m_error;
};

void serializeInto(std::string &out, const Value &v)
{
    switch (v.type()) {
    case Value::Type::Null:
        out += "null";
        break;
    case Value::Type::Bool:
        out += v.asBool() ? "true" : "false";
        break;
    case Value::Type::Integer:
        out += std::to_string(v.asInteger());
        break;
    case Value::Type::Double: {
        const double d = v.asDouble();
        if (!std::isfinite(d)) {
            out += "null";
        } else {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.17g", d);
            out += buf;
        }
        break;
    }
    case Value::Type::String:
        appendQuoted(out, v.asString());
        break;
    case Value::Type::Array: {
        out += '[';
        bool first = true;
        for (const Value &e : v.asArray()) {
            if (!first)
                out += ',';
            first = false;
            serializeInto(out, e);
        }
        out += ']';
        break;
    }
    case Value::Type::Object: {
        out += '{';
        bool first = true;
        for (const auto &[k, e] : v.asObject()) {
            if (!first)
                out += ',';
            first = false;
            appendQuoted(out, k);
            out += ':';
            serializeInto(out, e);
        }
        out += '}';
        break;
    }
    }
}

} // namespace

ParseResult parse(std::string_view text, int maxDepth)
{
    return Parser(text, maxDepth).run();
}

void appendQuoted(std::string &out, std::string_view s)
{
    static const char *hex = "0123456789abcdef";
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xF];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

std::string serialize(const Value &value)
{
    std::string out;
    serializeInto(out, value);
    return out;
}

bool isValidUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t n = utf8SequenceLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::size_t codePointCount(std::string_view utf8)
{
    std::size_t n = 0;
    for (const char ch : utf8)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
            ++n;
    return n;
}

} // namespace json
