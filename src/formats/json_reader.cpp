// The JSON event handler that builds the value tree.
//
// RapidJSON's default reader descends once per nesting level; the handler
// refuses to open a container past kMaxNestingDepth, so no text can take the
// stack deeper than that.
#include "formats/json_reader.h"

#include <cstring>
#include <vector>

#include "rapidjson/error/error.h"
#include "rapidjson/reader.h"
#include "util/format.h"

namespace Zarn {
namespace {

const char* ParseErrorText(rapidjson::ParseErrorCode code) {
  switch (code) {
    case rapidjson::kParseErrorNone: return "No error.";
    case rapidjson::kParseErrorDocumentEmpty: return "The document is empty.";
    case rapidjson::kParseErrorDocumentRootNotSingular: return "The document root must not follow by other values.";
    case rapidjson::kParseErrorValueInvalid: return "Invalid value.";
    case rapidjson::kParseErrorObjectMissName: return "Missing a name for object member.";
    case rapidjson::kParseErrorObjectMissColon: return "Missing a colon after a name of object member.";
    case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket: return "Missing a comma or '}' after an object member.";
    case rapidjson::kParseErrorArrayMissCommaOrSquareBracket: return "Missing a comma or ']' after an array element.";
    case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex: return "Incorrect hex digit after \\u escape in string.";
    case rapidjson::kParseErrorStringUnicodeSurrogateInvalid: return "The surrogate pair in string is invalid.";
    case rapidjson::kParseErrorStringEscapeInvalid: return "Invalid escape character in string.";
    case rapidjson::kParseErrorStringMissQuotationMark: return "Missing a closing quotation mark in string.";
    case rapidjson::kParseErrorStringInvalidEncoding: return "Invalid encoding in string.";
    case rapidjson::kParseErrorNumberTooBig: return "Number too big to be stored in double.";
    case rapidjson::kParseErrorNumberMissFraction: return "Miss fraction part in number.";
    case rapidjson::kParseErrorNumberMissExponent: return "Miss exponent in number.";
    case rapidjson::kParseErrorTermination: return "Terminate parsing due to Handler error.";
    case rapidjson::kParseErrorUnspecificSyntaxError: return "Unspecific syntax error.";
  }
  return "Unknown error.";
}

std::string_view UpToNul(const char* text, rapidjson::SizeType length) {
  const void* nul = std::memchr(text, '\0', length);
  return std::string_view(text, nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length);
}

class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
 public:
  explicit Builder(BindingProperty& root) : current_(&root) { open_.reserve(32); }

  bool Null() {
    Next();
    return true;
  }
  bool Bool(bool value) {
    Next().SetBool(value);
    return true;
  }
  bool Int(int value) {
    Next().SetSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    Next().SetUnsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    Next().SetSigned(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    Next().SetUnsigned(value);
    return true;
  }
  bool Double(double value) {
    Next().SetFloat(value);
    return true;
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    Next().SetString(UpToNul(text, length));
    return true;
  }
  bool StartObject() {
    BindingProperty& node = Next();
    if (open_.size() >= kMaxNestingDepth) return TooDeep();
    node.MakeStructure();
    open_.push_back(&node);
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    current_ = &open_.back()->Member(UpToNul(text, length));
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    open_.pop_back();
    return true;
  }
  bool StartArray() {
    BindingProperty& node = Next();
    if (open_.size() >= kMaxNestingDepth) return TooDeep();
    node.MakeCollection();
    open_.push_back(&node);
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    open_.pop_back();
    return true;
  }

  bool tooDeep() const { return tooDeep_; }

 private:
  // The node the next value goes into: a new element inside a collection,
  // else the member chosen by the last key (or the root).
  BindingProperty& Next() {
    if (!open_.empty() && open_.back()->Kind() == PropertyKind::Collection) current_ = &open_.back()->Append();
    return *current_;
  }
  bool TooDeep() {
    tooDeep_ = true;
    return false;
  }

  BindingProperty* current_;
  std::vector<BindingProperty*> open_;
  bool tooDeep_ = false;
};

}  // namespace

BindingResult ParseJson(const char* text) {
  BindingResult result;
  rapidjson::Reader reader;
  rapidjson::StringStream stream(text);
  rapidjson::ParseResult outcome;
  bool tooDeep = false;
  {
    Builder builder(result);
    outcome = reader.Parse(stream, builder);
    tooDeep = builder.tooDeep();
  }
  if (!outcome.IsError() || outcome.Code() == rapidjson::kParseErrorDocumentEmpty) {
    if (outcome.IsError()) result.Clear();
    return result;
  }
  if (tooDeep) {
    result.SetError("Error: Nesting deeper than %1 levels at offset %2.", static_cast<uint32_t>(kMaxNestingDepth),
                    static_cast<uint32_t>(outcome.Offset()));
  } else {
    result.SetError("Error: %s at offset %u.", ParseErrorText(outcome.Code()),
                    static_cast<uint32_t>(outcome.Offset()));
  }
  return result;
}

BindingResult ParseJson(const std::string& text) { return ParseJson(text.c_str()); }

bool LooksLikeJson(const char* text) noexcept {
  while (*text == ' ') ++text;
  return *text == '{' || *text == '[';
}

}  // namespace Zarn
