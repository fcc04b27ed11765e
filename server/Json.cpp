#include "Json.h"

#include <nlohmann/json.hpp>

#include <limits>

// Text is read and written by nlohmann-json; the service's stricter rules
// (no duplicate keys, exact 64-bit integers, bounded nesting) sit on its SAX
// interface, which also builds our own small value tree.
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

using Library = nlohmann::json;

class Builder final : public nlohmann::json_sax<Library> {
public:
    explicit Builder(int maxDepth) : m_maxDepth(maxDepth) {}

    bool null() override { return add(Value()); }
    bool boolean(bool v) override { return add(Value(v)); }
    bool number_integer(number_integer_t v) override { return add(Value(std::int64_t(v))); }
    // Beyond the signed range an integer literal is no longer exact for us.
    bool number_unsigned(number_unsigned_t v) override
    {
        return v <= number_unsigned_t(std::numeric_limits<std::int64_t>::max()) ? add(Value(std::int64_t(v)))
                                                                                : add(Value(double(v)));
    }
    bool number_float(number_float_t v, const string_t &) override { return add(Value(double(v))); }
    bool string(string_t &v) override { return add(Value(std::move(v))); }
    bool binary(binary_t &) override { return fail("binary values are not JSON"); }

    bool start_object(std::size_t) override { return open(true); }
    bool key(string_t &k) override
    {
        Frame &f = m_stack.back();
        if (f.object.count(k))
            return fail("duplicate key \"" + k + "\"");
        f.key = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &e) override
    {
        return fail(e.what());
    }

    ParseResult result()
    {
        ParseResult r;
        if (m_error.empty() && m_root)
            r.value = std::move(m_root);
        else
            r.error = m_error.empty() ? "no value" : m_error;
        return r;
    }

private:
    struct Frame {
        bool isObject = false;
        Object object;
        Array array;
        std::string key;
    };

    bool fail(std::string why)
    {
        if (m_error.empty())
            m_error = std::move(why);
        return false;
    }
    bool open(bool isObject)
    {
        if (int(m_stack.size()) >= m_maxDepth)
            return fail("nested deeper than " + std::to_string(m_maxDepth) + " levels");
        m_stack.push_back(Frame{isObject, {}, {}, {}});
        return true;
    }
    bool close()
    {
        Frame f = std::move(m_stack.back());
        m_stack.pop_back();
        return f.isObject ? add(Value(std::move(f.object))) : add(Value(std::move(f.array)));
    }
    bool add(Value v)
    {
        if (m_stack.empty()) {
            m_root = std::move(v);
            return true;
        }
        Frame &f = m_stack.back();
        if (f.isObject)
            f.object.emplace(std::move(f.key), std::move(v));
        else
            f.array.push_back(std::move(v));
        return true;
    }

    int m_maxDepth;
    std::vector<Frame> m_stack;
    std::optional<Value> m_root;
    std::string m_error;
};

Library toLibrary(const Value &v)
{
    switch (v.type()) {
    case Value::Type::Null:
        return nullptr;
    case Value::Type::Bool:
        return v.asBool();
    case Value::Type::Integer:
        return v.asInteger();
    case Value::Type::Double:
        return v.asDouble();
    case Value::Type::String:
        return v.asString();
    case Value::Type::Array: {
        Library a = Library::array();
        for (const Value &e : v.asArray())
            a.push_back(toLibrary(e));
        return a;
    }
    case Value::Type::Object: {
        Library o = Library::object();
        for (const auto &[k, e] : v.asObject())
            o[k] = toLibrary(e);
        return o;
    }
    }
    return nullptr;
}

} // namespace

ParseResult parse(std::string_view text, int maxDepth)
{
    Builder builder(maxDepth);
    Library::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json, true);
    return builder.result();
}

void appendQuoted(std::string &out, std::string_view s)
{
    out += Library(std::string(s)).dump(-1, ' ', false, Library::error_handler_t::replace);
}

std::string serialize(const Value &value)
{
    return toLibrary(value).dump(-1, ' ', false, Library::error_handler_t::replace);
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
