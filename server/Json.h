#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The service's JSON (RFC 8259), read and written with nlohmann-json under
// stricter rules: UTF-8 only, no duplicate keys, bounded nesting. Integer
// literals that fit a signed 64-bit integer are kept exact; anything with a
// fraction or an exponent is a double and never passes as an integer.
namespace json {

class Value;
using Object = std::map<std::string, Value, std::less<>>;
using Array = std::vector<Value>;

class Value {
public:
    enum class Type { Null, Bool, Integer, Double, String, Array, Object };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : m_data(b) {}
    Value(int i) : m_data(std::int64_t(i)) {}
    Value(std::int64_t i) : m_data(i) {}
    Value(double d) : m_data(d) {}
    Value(const char *s) : m_data(std::string(s)) {}
    Value(std::string s) : m_data(std::move(s)) {}
    Value(Array a) : m_data(std::make_shared<Array>(std::move(a))) {}
    Value(Object o) : m_data(std::make_shared<Object>(std::move(o))) {}

    Type type() const;
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isString() const { return type() == Type::String; }
    bool isArray() const { return type() == Type::Array; }
    bool isObject() const { return type() == Type::Object; }

    bool asBool() const { return std::get<bool>(m_data); }
    std::int64_t asInteger() const { return std::get<std::int64_t>(m_data); }
    double asDouble() const { return std::get<double>(m_data); }
    const std::string &asString() const { return std::get<std::string>(m_data); }
    const Array &asArray() const { return *std::get<std::shared_ptr<Array>>(m_data); }
    const Object &asObject() const { return *std::get<std::shared_ptr<Object>>(m_data); }

    // Member lookup on an object; nullptr when absent or when this is no object.
    const Value *find(std::string_view key) const;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, std::shared_ptr<Array>,
                 std::shared_ptr<Object>>
        m_data;
};

struct ParseResult {
    std::optional<Value> value;
    std::string error; // set when value is empty
};

// Parses one JSON text. maxDepth bounds the nesting of arrays and objects.
ParseResult parse(std::string_view text, int maxDepth = 32);

// Compact serialisation; strings are escaped, non-ASCII UTF-8 passes through.
std::string serialize(const Value &value);
void appendQuoted(std::string &out, std::string_view s);

// Number of Unicode code points in valid UTF-8 text.
std::size_t codePointCount(std::string_view utf8);

} // namespace json
