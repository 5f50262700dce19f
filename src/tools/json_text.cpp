// The JSON text of lapquill-cli's output, written from an nlohmann tree: one line, ", " between
// items and ": " after keys, numbers as "%.9g" (a 32-bit float reads back exactly, and the
// figures stay those of the files), non-finite numbers as null, and strings as UTF-8: a string
// that is not valid UTF-8 (a file name from a Windows-1252 system) is read as Windows-1252, so
// the output always parses as JSON.
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "files/text_encoding.h"
#include "tools/cli.h"

namespace lapquill::cli {

namespace {

void AppendString(const std::string& text, std::string* out) {
    *out += '"';
    for (char c : Utf8OrWindows1252(text)) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': *out += "\\\""; break;
            case '\\': *out += "\\\\"; break;
            case '\n': *out += "\\n"; break;
            case '\r': *out += "\\r"; break;
            case '\t': *out += "\\t"; break;
            default:
                if (u < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", u);
                    *out += buf;
                } else {
                    *out += c;
                }
        }
    }
    *out += '"';
}

void Append(const Json& value, std::string* out) {
    using Type = Json::value_t;
    switch (value.type()) {
        case Type::boolean:
            *out += value.get<bool>() ? "true" : "false";
            return;
        case Type::number_integer:
            *out += std::to_string(value.get<std::int64_t>());
            return;
        case Type::number_unsigned:
            *out += std::to_string(value.get<std::uint64_t>());
            return;
        case Type::number_float:
            *out += NumberText(value.get<double>());
            return;
        case Type::string:
            AppendString(value.get_ref<const std::string&>(), out);
            return;
        case Type::array: {
            *out += '[';
            bool first = true;
            for (const Json& item : value) {
                if (!first) *out += ", ";
                first = false;
                Append(item, out);
            }
            *out += ']';
            return;
        }
        case Type::object: {
            *out += '{';
            bool first = true;
            for (const auto& [key, item] : value.items()) {
                if (!first) *out += ", ";
                first = false;
                AppendString(key, out);
                *out += ": ";
                Append(item, out);
            }
            *out += '}';
            return;
        }
        case Type::null:
        case Type::binary:
        case Type::discarded:
            break;
    }
    *out += "null";
}

}  // namespace

std::string JsonText(const Json& value) {
    std::string out;
    Append(value, &out);
    return out;
}

std::string NumberText(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", value);
    return buf;
}

}  // namespace lapquill::cli
