// The JSON event handler that builds the value tree, through a TreeBuilder.
//
// RapidJSON's default reader descends once per nesting level; the handler
// refuses to open a container past kMaxNestingDepth, so no text can take the
// stack deeper than that.
#include "formats/json_reader.h"


#include "rapidjson/error/error.h"
#include "rapidjson/reader.h"
#include "util/format.h"
#include "values/tree_builder.h"

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

// Forwards the reader's events to a TreeBuilder; texts are cut at their
// first NUL there, in the same pass that hashes them.
class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
 public:
  explicit Builder(BindingProperty& root) noexcept : tree_(root) {}

  bool Null() {
    tree_.Null();
    return true;
  }
  bool Bool(bool value) {
    tree_.Bool(value);
    return true;
  }
  bool Int(int value) {
    tree_.Signed(value);
    return true;
  }
  bool Uint(unsigned value) {
    tree_.Unsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    tree_.Signed(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    tree_.Unsigned(value);
    return true;
  }
  bool Double(double value) {
    tree_.Float(value);
    return true;
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    tree_.String(std::string_view(text, length));
    return true;
  }
  bool StartObject() {
    if (tree_.Depth() >= kMaxNestingDepth) return TooDeep();
    tree_.StartStructure();
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    tree_.Key(std::string_view(text, length));
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    tree_.EndStructure();
    return true;
  }
  bool StartArray() {
    if (tree_.Depth() >= kMaxNestingDepth) return TooDeep();
    tree_.StartCollection();
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    tree_.EndCollection();
    return true;
  }

  bool tooDeep() const { return tooDeep_; }

 private:
  bool TooDeep() {
    tooDeep_ = true;
    return false;
  }

  TreeBuilder tree_;
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
