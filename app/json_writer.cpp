#include "app/json_writer.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "store/utf8.h"

namespace corvane {
namespace {

// Whether every part of `value` has a JSON text: checked before the first
// byte goes out, since a half-written answer could not be taken back.
bool isWritable(const JsonValue& value) {
  switch (value.type()) {
    case JsonValue::value_t::object:
      for (auto it = value.begin(); it != value.end(); ++it)
        if (!isValidUtf8(it.key()) || !isWritable(*it)) return false;
      return true;
    case JsonValue::value_t::array:
      for (const auto& element : value)
        if (!isWritable(element)) return false;
      return true;
    case JsonValue::value_t::string:
      return isValidUtf8(value.get_ref<const std::string&>());
    case JsonValue::value_t::number_float:
      return std::isfinite(value.get<double>());
    case JsonValue::value_t::boolean:
    case JsonValue::value_t::number_integer:
    case JsonValue::value_t::number_unsigned:
    case JsonValue::value_t::null:
      return true;
    default:
      return false;  // binary and discarded values have no JSON form
  }
}

class Writer {
 public:
  explicit Writer(const TextSink& sink) : sink_(sink) { out_.reserve(kPiece); }

  void write(const JsonValue& value, int depth) {
    switch (value.type()) {
      case JsonValue::value_t::object:
        writeContainer(value, depth, '{', '}');
        break;
      case JsonValue::value_t::array:
        writeContainer(value, depth, '[', ']');
        break;
      case JsonValue::value_t::string:
        writeString(value.get_ref<const std::string&>());
        break;
      case JsonValue::value_t::boolean:
        append(value.get<bool>() ? "true" : "false");
        break;
      case JsonValue::value_t::number_integer:
        append(std::to_string(value.get<std::int64_t>()));
        break;
      case JsonValue::value_t::number_unsigned:
        append(std::to_string(value.get<std::uint64_t>()));
        break;
      case JsonValue::value_t::number_float:
        append(JsonValue(value.get<double>()).dump());
        break;
      default:
        append("null");
    }
  }

  void finish() {
    if (!out_.empty()) sink_(out_);
    out_.clear();
  }

 private:
  static constexpr size_t kPiece = size_t{64} << 10;

  // A piece goes out when full; a text longer than a piece goes out as it
  // is, so the buffer never grows.
  void append(std::string_view text) {
    if (out_.size() + text.size() > kPiece) {
      finish();
      if (text.size() > kPiece) {
        sink_(text);
        return;
      }
    }
    out_.append(text);
  }

  void indent(int depth) {
    static constexpr std::string_view kBlanks =
        "                                ";
    for (size_t left = static_cast<size_t>(depth) * 2; left > 0;) {
      size_t now = std::min(left, kBlanks.size());
      append(kBlanks.substr(0, now));
      left -= now;
    }
  }

  void writeContainer(const JsonValue& value, int depth, char open,
                      char close) {
    append({&open, 1});
    if (value.empty()) {
      append({&close, 1});
      return;
    }
    append("\n");
    bool first = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (!first) append(",\n");
      first = false;
      indent(depth + 1);
      if (value.is_object()) {
        writeString(it.key());
        append(" : ");
      }
      write(*it, depth + 1);
    }
    append("\n");
    indent(depth);
    append({&close, 1});
  }

  // Most of an envelope is text that needs no escape, so the bytes between
  // two escapes go out as one run rather than one at a time.
  void writeString(std::string_view text) {
    append("\"");
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* at = run; at != end; ++at) {
      unsigned char c = static_cast<unsigned char>(*at);
      if (kPlain[c]) continue;
      append({run, static_cast<size_t>(at - run)});
      run = at + 1;
      switch (c) {
        case '"':
          append("\\\"");
          break;
        case '\\':
          append("\\\\");
          break;
        case '/':
          append("\\/");
          break;
        case '\b':
          append("\\b");
          break;
        case '\f':
          append("\\f");
          break;
        case '\n':
          append("\\n");
          break;
        case '\r':
          append("\\r");
          break;
        case '\t':
          append("\\t");
          break;
        default: {  // the other control characters
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          append(escape);
        }
      }
    }
    append({run, static_cast<size_t>(end - run)});
    append("\"");
  }

  // Bytes written as they are: all but the control characters, the
  // quotation mark, the backslash and the slash (text is valid UTF-8 by now).
  static constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x100; ++c)
      plain[c] = c != '"' && c != '\\' && c != '/';
    return plain;
  }();

  const TextSink& sink_;
  std::string out_;
};

}  // namespace

bool writePrettyJson(const JsonValue& value, const TextSink& sink) {
  if (!isWritable(value)) return false;
  Writer writer(sink);
  writer.write(value, 0);
  writer.finish();
  return true;
}

std::optional<std::string> writePrettyJson(const JsonValue& value) {
  std::string text;
  if (!writePrettyJson(value,
                       [&text](std::string_view piece) { text += piece; }))
    return std::nullopt;
  return text;
}

}  // namespace corvane
