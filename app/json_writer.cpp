#include "app/json_writer.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "store/utf8.h"

namespace corvane {
namespace {

class Writer {
 public:
  bool write(const JsonValue& value, int depth) {
    switch (value.type()) {
      case JsonValue::value_t::object:
        return writeContainer(value, depth, '{', '}');
      case JsonValue::value_t::array:
        return writeContainer(value, depth, '[', ']');
      case JsonValue::value_t::string:
        return writeString(value.get_ref<const std::string&>());
      case JsonValue::value_t::boolean:
        out_ += value.get<bool>() ? "true" : "false";
        return true;
      case JsonValue::value_t::number_integer:
        out_ += std::to_string(value.get<std::int64_t>());
        return true;
      case JsonValue::value_t::number_unsigned:
        out_ += std::to_string(value.get<std::uint64_t>());
        return true;
      case JsonValue::value_t::number_float: {
        double number = value.get<double>();
        if (!std::isfinite(number)) return false;
        out_ += JsonValue(number).dump();
        return true;
      }
      case JsonValue::value_t::null:
        out_ += "null";
        return true;
      default:
        return false;  // binary and discarded values have no JSON form
    }
  }

  std::string take() { return std::move(out_); }

 private:
  void indent(int depth) { out_.append(static_cast<size_t>(depth) * 2, ' '); }

  bool writeContainer(const JsonValue& value, int depth, char open,
                      char close) {
    out_ += open;
    if (value.empty()) {
      out_ += close;
      return true;
    }
    out_ += '\n';
    bool first = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (!first) out_ += ",\n";
      first = false;
      indent(depth + 1);
      if (value.is_object()) {
        if (!writeString(it.key())) return false;
        out_ += " : ";
      }
      if (!write(*it, depth + 1)) return false;
    }
    out_ += '\n';
    indent(depth);
    out_ += close;
    return true;
  }

  // Most of an envelope is text that needs no escape, so the bytes between
  // two escapes are appended as one run rather than one at a time, and
  // only a text with bytes beyond ASCII is checked for valid UTF-8.
  bool writeString(const std::string& text) {
    out_ += '"';
    const char* run = text.data();
    const char* end = run + text.size();
    bool beyondAscii = false;
    for (const char* at = run; at != end; ++at) {
      unsigned char c = static_cast<unsigned char>(*at);
      if (kPlain[c]) continue;
      if (c >= 0x80) {
        beyondAscii = true;
        continue;
      }
      out_.append(run, at);
      run = at + 1;
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '/': out_ += "\\/"; break;
        case '\b': out_ += "\\b"; break;
        case '\f': out_ += "\\f"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default: {  // the other control characters
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out_ += escape;
        }
      }
    }
    out_.append(run, end);
    out_ += '"';
    return !beyondAscii || isValidUtf8(text);
  }

  // Bytes written as they are: printable ASCII but the quotation mark, the
  // backslash and the slash.
  static constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\' && c != '/';
    return plain;
  }();

  std::string out_;
};

}  // namespace

std::optional<std::string> writePrettyJson(const JsonValue& value) {
  Writer writer;
  if (!writer.write(value, 0)) return std::nullopt;
  return writer.take();
}

}  // namespace corvane
