// The libyaml event handler that builds the value tree.
//
// One frame per open node: the node itself, the anchor it carries while it
// is being built (for cycle detection) and the step that leads to it from
// its parent. The frames double as the path from the root, so recording an
// anchor copies the steps, and the keys of member steps live end to end in
// one text (the pending key at its end), so entering a member copies no
// key. The anchor table exists only once the text defines an anchor.
//
// Nothing here recurses over input: libyaml's parser keeps explicit stacks,
// the frames are a vector, containers are refused past kMaxNestingDepth
// levels, and an alias copy is measured first (nodes and levels, with an
// explicit work list) so the tree it would make stays within the same depth
// and the total of copied nodes within kMaxAliasCopyNodes. The node
// destructors and CopyFrom therefore never descend deeper than that limit.
#include "formats/yaml_reader.h"

#include <yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "values/native_conversion.h"

namespace Zarn {
namespace detail {
namespace {

constexpr Convert::SignedLimits kYamlSigned = {INT64_MIN, INT64_MAX, "int64_t"};
constexpr Convert::UnsignedLimits kYamlUnsigned = {UINT64_MAX, "uint64_t"};
constexpr Convert::FloatingLimits kYamlFloating = {-1.7976931348623157e308, 1.7976931348623157e308, "double"};
constexpr std::string_view kConversionName = "yaml";

bool IsWord(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}
bool IsNullWord(std::string_view text) {
  return text.size() <= 4 && IsWord(text, {"", "~", "null", "Null", "NULL"});
}
bool IsTrueWord(std::string_view text) {
  return text.size() <= 4 && IsWord(text, {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"});
}
bool IsFalseWord(std::string_view text) {
  return text.size() <= 5 &&
         IsWord(text, {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"});
}

std::string_view UpToNul(const char* text, size_t length) {
  const void* nul = std::memchr(text, '\0', length);
  return std::string_view(text, nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length);
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A plain decimal integer ([+-]digits) read exactly. strtod would round
// values past 2^53, which identifiers often are. False (with nothing set)
// when the text is not of that form or does not fit 64 bits.
bool SetExactInteger(BindingProperty& node, std::string_view text) {
  size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) at = 1;
  if (at == text.size() || text.size() - at > 20) return false;
  uint64_t magnitude = 0;
  for (; at < text.size(); ++at) {
    const unsigned digit = static_cast<unsigned char>(text[at]) - static_cast<unsigned>('0');
    if (digit > 9) return false;
    if (magnitude > (UINT64_MAX - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative || magnitude == 0) {
    node.SetUnsigned(magnitude);  // "-0" is the integral value 0: unsigned
  } else if (magnitude <= uint64_t{1} << 63) {
    node.SetSigned(static_cast<int64_t>(0 - magnitude));
  } else {
    return false;
  }
  return true;
}

// A text of the form -?digits[.digits][(e|E)[+-]digits], read as strtod
// would read it (both round correctly) but several times faster; false for
// any other form and for values outside the finite, normal range, which
// strtod then reads.
bool ReadSimpleDecimal(const char* text, size_t length, double& value) {
  const char* const end = text + length;
  const char* at = text;
  if (at != end && *at == '-') ++at;
  const auto digits = [&] {
    const char* start = at;
    while (at != end && *at >= '0' && *at <= '9') ++at;
    return at != start;
  };
  if (!digits()) return false;
  if (at != end && *at == '.') {
    ++at;
    if (!digits()) return false;
  }
  if (at != end && (*at == 'e' || *at == 'E')) {
    ++at;
    if (at != end && (*at == '+' || *at == '-')) ++at;
    if (!digits()) return false;
  }
  if (at != end) return false;
  const std::from_chars_result read = std::from_chars(text, end, value, std::chars_format::general);
  return read.ec == std::errc() && read.ptr == end;
}

// The number rule for plain scalars: the whole text is a C double that is
// not an infinity. text points at libyaml's NUL-terminated value.
bool SetNumber(BindingProperty& node, const char* text, size_t length) {
  if (length == 0) return false;
  // Most texts cannot start a number; spare them strtod.
  size_t at = 0;
  while (at < length && IsSpace(text[at])) ++at;
  if (at < length && (text[at] == '-' || text[at] == '+')) ++at;
  if (at == length) return false;
  const char first = text[at];
  if (!(first >= '0' && first <= '9') && first != '.' && first != 'i' && first != 'I' && first != 'n' &&
      first != 'N') {
    return false;
  }
  if (SetExactInteger(node, std::string_view(text, length))) return true;
  double value = 0;
  if (!ReadSimpleDecimal(text, length, value)) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    if (end != text + length) return false;
  }
  if (std::isinf(value)) return false;
  if (std::isnan(value) || value != std::floor(value)) {
    node.SetFloat(value);
  } else if (value >= 0) {
    // Integral values past the 64-bit ranges stay floats: no conversion
    // could hold them.
    if (value < 18446744073709551616.0) {
      node.SetUnsigned(static_cast<uint64_t>(value));
    } else {
      node.SetFloat(value);
    }
  } else if (value >= -9223372036854775808.0) {
    node.SetSigned(static_cast<int64_t>(value));
  } else {
    node.SetFloat(value);
  }
  return true;
}

enum class StepKind : uint8_t { Root, Member, Index };

// One step of a recorded path: a member by its key (a range of the
// record's key text) or an element by its index.
struct PathStep {
  StepKind kind;
  size_t index;
  size_t keyBegin;
  size_t keyEnd;
};

struct AnchorRecord {
  bool isText;
  // A recorded text; for a path, the keys its member steps refer to.
  std::string text;
  std::vector<PathStep> steps;  // after the root
};

struct AnchorTable {
  std::unordered_map<std::string, uint32_t> byName;
  std::vector<AnchorRecord> records;
};

constexpr uint32_t kNoAnchor = UINT32_MAX;

struct Frame {
  BindingProperty* node;
  uint32_t anchor;  // index of the anchor set while the node is built
  PathStep step;    // how the parent reaches the node
  size_t elements;  // of a collection node: its element count
};

// The open frames: a vector as storage with a count of its own, so a push
// is a compare and a store. Frames never exceed kMaxNestingDepth + 2.
class FrameStack {
 public:
  FrameStack() : storage_(32) {}
  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }
  Frame& back() { return storage_[count_ - 1]; }
  const Frame& operator[](size_t index) const { return storage_[index]; }
  const Frame* begin() const { return storage_.data(); }
  const Frame* end() const { return storage_.data() + count_; }
  void push_back(const Frame& frame) {
    if (count_ == storage_.size()) storage_.resize(count_ * 2);
    storage_[count_++] = frame;
  }
  void pop_back() { --count_; }
  void clear() { count_ = 0; }

 private:
  std::vector<Frame> storage_;
  size_t count_ = 0;
};

class EventHandler {
 public:
  explicit EventHandler(BindingResult& result) : result_(result) {
    Restart();
  }

  // Applies one event; on a refusal the result holds the message.
  void Handle(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_NO_EVENT:
      case YAML_STREAM_START_EVENT:
      case YAML_STREAM_END_EVENT:
      case YAML_DOCUMENT_END_EVENT:
        return;
      case YAML_DOCUMENT_START_EVENT:
        // A first document that left the root empty does not count.
        if (result_.Kind() != PropertyKind::Empty) {
          result_.SetError("Multi-document YAML is not supported.");
          return;
        }
        Restart();
        return;
      case YAML_ALIAS_EVENT:
      case YAML_SCALAR_EVENT:
      case YAML_SEQUENCE_START_EVENT:
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_START_EVENT:
      case YAML_MAPPING_END_EVENT:
        break;
    }
    if (frames_.empty()) {
      // Only an alias standing for a mapping key unbalances the frames this
      // far: it ends the mapping being built, and the mapping's own end then
      // closes the root early.
      Fail(event, "Unexpected node after the end of the root node. At line: %1 col: %2");
      return;
    }

    // The value slot: a new element, the member of the pending key, or the
    // top node itself.
    Frame& top = frames_.back();
    BindingProperty* current = top.node;
    bool inSlot = false;
    if (current->Kind() == PropertyKind::Collection && event.type != YAML_SEQUENCE_END_EVENT) {
      const size_t index = top.elements++;
      current = &current->Append();
      frames_.push_back({current, kNoAnchor, {StepKind::Index, index, 0, 0}, 0});
      inSlot = true;
    } else if (current->Kind() == PropertyKind::Structure && hasPendingKey_) {
      const size_t keyEnd = keys_.size();
      current = &current->Member(std::string_view(keys_.data() + pendingBegin_, keyEnd - pendingBegin_));
      frames_.push_back({current, kNoAnchor, {StepKind::Member, 0, pendingBegin_, keyEnd}, 0});
      hasPendingKey_ = false;
      inSlot = true;
    }
    // A structure that is itself the top node expects a key. (A member slot
    // may hold a structure from an earlier duplicate key; it takes a value.)
    const bool expectsKey = !inSlot && current->Kind() == PropertyKind::Structure;

    switch (event.type) {
      case YAML_SCALAR_EVENT:
        if (expectsKey) {
          ReadKey(event);
        } else {
          ReadValue(*current, event);
        }
        return;
      case YAML_SEQUENCE_START_EVENT:
        if (expectsKey) {
          Fail(event, "Unexpected start of sequence. At line: %1 col: %2");
          return;
        }
        if (!CheckDepth(event, 1)) return;
        current->MakeCollection();
        frames_.back().elements = current->Size();  // a duplicate key's sequence grows
        MarkAnchor(event, event.data.sequence_start.anchor);
        return;
      case YAML_MAPPING_START_EVENT:
        if (expectsKey) {
          Fail(event, "Unexpected start of mapping. At line: %1 col: %2");
          return;
        }
        if (!CheckDepth(event, 1)) return;
        current->MakeStructure();
        MarkAnchor(event, event.data.mapping_start.anchor);
        return;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        Pop();
        return;
      case YAML_ALIAS_EVENT:
        ReadAlias(*current, event);
        return;
      default:
        return;
    }
  }

 private:
  // A new document starts from the root.
  void Restart() {
    frames_.clear();
    frames_.push_back({&result_, kNoAnchor, {StepKind::Root, 0, 0, 0}, 0});
    keys_.clear();
    hasPendingKey_ = false;
  }

  void Pop() {
    if (frames_.empty()) return;
    const Frame& top = frames_.back();
    if (top.step.kind == StepKind::Member) {
      if (hasPendingKey_) {
        keys_.erase(top.step.keyBegin, pendingBegin_ - top.step.keyBegin);
        pendingBegin_ = top.step.keyBegin;
      } else {
        keys_.resize(top.step.keyBegin);
      }
    }
    frames_.pop_back();
  }

  template <typename... Args>
  void Fail(const yaml_event_t& event, const char* pattern, const Args&... args) {
    result_.SetError(pattern, args..., static_cast<uint64_t>(event.start_mark.line) + 1,
                     static_cast<uint64_t>(event.start_mark.column) + 1);
  }

  // levels: how many container levels the current node is about to hold
  // (1 for a new container). The current node's own level is the frame count.
  bool CheckDepth(const yaml_event_t& event, size_t levels) {
    if (levels == 0 || frames_.size() + levels - 1 <= kMaxNestingDepth) return true;
    Fail(event, "Nesting deeper than %1 levels. At line: %2 col: %3", static_cast<uint32_t>(kMaxNestingDepth));
    return false;
  }

  void ReadKey(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    if (scalar.tag != nullptr && std::strcmp(reinterpret_cast<const char*>(scalar.tag), YAML_STR_TAG) != 0) {
      Fail(event, "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2");
      return;
    }
    pendingBegin_ = keys_.size();
    keys_.append(reinterpret_cast<const char*>(scalar.value), scalar.length);
    hasPendingKey_ = true;
    if (scalar.anchor != nullptr) {
      const uint32_t anchor = EnterAnchor(event, scalar.anchor, true);
      if (anchor != kNoAnchor) frames_.back().anchor = anchor;
    }
  }

  void ReadValue(BindingProperty& node, const yaml_event_t& event) {
    if (!TypeScalar(node, event)) return;
    if (event.data.scalar.anchor != nullptr) {
      const uint32_t anchor = EnterAnchor(event, event.data.scalar.anchor, false);
      if (anchor == kNoAnchor) return;
      frames_.back().anchor = anchor;
    }
    Pop();
  }

  // Enters an anchor for the top frame and marks the frame with it.
  void MarkAnchor(const yaml_event_t& event, const yaml_char_t* name) {
    if (name == nullptr) return;
    const uint32_t anchor = EnterAnchor(event, name, false);
    if (anchor != kNoAnchor) frames_.back().anchor = anchor;
  }

  // Records the pending key (isText) or the path to the top frame under
  // name. kNoAnchor after a refusal.
  uint32_t EnterAnchor(const yaml_event_t& event, const yaml_char_t* name, bool isText) {
    const char* anchorName = reinterpret_cast<const char*>(name);
    if (!anchors_) anchors_ = std::make_unique<AnchorTable>();
    const uint32_t index = static_cast<uint32_t>(anchors_->records.size());
    if (!anchors_->byName.emplace(anchorName, index).second) {
      Fail(event, "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3", anchorName);
      return kNoAnchor;
    }
    AnchorRecord record;
    record.isText = isText;
    if (isText) {
      record.text.assign(keys_, pendingBegin_, std::string::npos);
    } else {
      record.text.assign(keys_, 0, hasPendingKey_ ? pendingBegin_ : keys_.size());
      record.steps.reserve(frames_.size() - 1);
      for (size_t i = 1; i < frames_.size(); ++i) record.steps.push_back(frames_[i].step);
    }
    anchors_->records.push_back(std::move(record));
    return index;
  }

  const BindingProperty& Resolve(const AnchorRecord& record) const {
    const BindingProperty* node = &result_;
    for (const PathStep& step : record.steps) {
      if (step.kind == StepKind::Member) {
        node = &node->FindMember(std::string_view(record.text.data() + step.keyBegin, step.keyEnd - step.keyBegin));
      } else {
        node = &node->ElementAt(step.index);
      }
    }
    return *node;
  }

  // Counts source's nodes (stopping once they pass limit) and the container
  // levels it holds, without recursion.
  std::pair<size_t, size_t> Measure(const BindingProperty& source, size_t limit) {
    size_t nodes = 1;
    size_t levels = 0;
    work_.clear();
    work_.push_back({&source, 1});
    while (!work_.empty() && nodes <= limit) {
      const auto [node, level] = work_.back();
      work_.pop_back();
      if (node->Kind() == PropertyKind::Collection) {
        levels = std::max(levels, level);
        nodes += node->Size();
        if (nodes > limit) break;
        for (size_t i = 0; i < node->Size(); ++i) work_.push_back({&node->ElementAt(i), level + 1});
      } else if (node->Kind() == PropertyKind::Structure) {
        levels = std::max(levels, level);
        nodes += node->Size();
        if (nodes > limit) break;
        for (const auto& member : node->Members()) work_.push_back({&member.Value(), level + 1});
      }
    }
    return {nodes, levels};
  }

  void ReadAlias(BindingProperty& node, const yaml_event_t& event) {
    const char* name = reinterpret_cast<const char*>(event.data.alias.anchor);
    // Every anchor a frame carries is in the table, so a name the table does
    // not know is undefined and cannot be cyclic.
    uint32_t anchor = kNoAnchor;
    if (anchors_) {
      const auto found = anchors_->byName.find(name);
      if (found != anchors_->byName.end()) anchor = found->second;
    }
    if (anchor != kNoAnchor) {
      for (const Frame& frame : frames_) {
        if (frame.anchor == anchor) {
          Fail(event, "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", name);
          return;
        }
      }
    } else {
      Fail(event, "Undefined alias encountered: \"%1\". At line: %2 col: %3", name);
      return;
    }
    const AnchorRecord& record = anchors_->records[anchor];
    const BindingProperty* source = record.isText ? nullptr : &Resolve(record);
    const auto [nodes, levels] =
        source ? Measure(*source, kMaxAliasCopyNodes - aliasNodes_) : std::pair<size_t, size_t>{1, 0};
    if (nodes > kMaxAliasCopyNodes - aliasNodes_) {
      Fail(event, "Aliases expand beyond %1 nodes. Alias \"%2\". At line: %3 col: %4",
           static_cast<uint32_t>(kMaxAliasCopyNodes), name);
      return;
    }
    if (!CheckDepth(event, levels)) return;
    aliasNodes_ += nodes;
    if (source) {
      node.CopyFrom(*source);
    } else {
      node.SetString(std::string_view(record.text));
    }
    Pop();
  }

  // Scalar typing; false after a refusal.
  bool TypeScalar(BindingProperty& node, const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const char* text = reinterpret_cast<const char*>(scalar.value);
    const std::string_view whole(text, scalar.length);
    if (scalar.tag != nullptr) {
      const char* tag = reinterpret_cast<const char*>(scalar.tag);
      if (std::strcmp(tag, YAML_STR_TAG) == 0) {
        node.SetString(whole);
      } else if (std::strcmp(tag, YAML_INT_TAG) == 0) {
        // The conversions read a generic string; the node holds it briefly.
        BindingResult status;
        node.SetString(whole);
        if (!whole.empty() && whole[0] == '-') {
          int64_t value = 0;
          Convert::AssignSigned(status, value, node, kConversionName, kYamlSigned);
          node.SetSigned(value);
        } else {
          uint64_t value = 0;
          Convert::AssignUnsigned(status, value, node, kConversionName, kYamlUnsigned);
          node.SetUnsigned(value);
        }
        if (!status.Succeeded()) {
          result_.SetError(status.Error());
          return false;
        }
      } else if (std::strcmp(tag, YAML_FLOAT_TAG) == 0) {
        BindingResult status;
        node.SetString(whole);
        double value = 0;
        Convert::AssignFloating(status, value, node, kConversionName, kYamlFloating);
        node.SetFloat(value);
        if (!status.Succeeded()) {
          result_.SetError(status.Error());
          return false;
        }
      } else if (std::strcmp(tag, YAML_BOOL_TAG) == 0) {
        const std::string_view word = UpToNul(text, scalar.length);
        if (IsTrueWord(word)) {
          node.SetBool(true);
        } else if (IsFalseWord(word)) {
          node.SetBool(false);
        } else {
          node.Clear();  // neither word: left empty, not refused
        }
      } else {
        result_.SetError("Unsupported YAML tag '%1'.", tag);
        return false;
      }
      return true;
    }
    if (scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE || scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE) {
      node.SetString(whole);
      return true;
    }
    const std::string_view word = UpToNul(text, scalar.length);
    if (IsNullWord(word)) {
      node.Clear();
    } else if (SetNumber(node, text, scalar.length)) {
    } else if (IsTrueWord(word)) {
      node.SetBool(true);
    } else if (IsFalseWord(word)) {
      node.SetBool(false);
    } else {
      node.SetString(whole);
    }
    return true;
  }

  BindingResult& result_;
  FrameStack frames_;
  // Keys of the member steps on the path, end to end; the pending key, when
  // there is one, follows them from pendingBegin_.
  std::string keys_;
  size_t pendingBegin_ = 0;
  bool hasPendingKey_ = false;
  std::unique_ptr<AnchorTable> anchors_;
  size_t aliasNodes_ = 0;
  std::vector<std::pair<const BindingProperty*, size_t>> work_;
};

// Owns a libyaml parser and its current event.
class Parser {
 public:
  Parser() noexcept { initialized_ = yaml_parser_initialize(&parser_) != 0; }
  ~Parser() {
    yaml_event_delete(&event_);
    if (initialized_) yaml_parser_delete(&parser_);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool initialized() const noexcept { return initialized_; }
  yaml_parser_t& parser() noexcept { return parser_; }
  yaml_event_t& event() noexcept { return event_; }

 private:
  yaml_parser_t parser_{};
  yaml_event_t event_{};
  bool initialized_ = false;
};

void SetParserError(BindingResult& result, const yaml_parser_t& parser) {
  const char* problem = parser.problem;
  if (problem == nullptr) problem = parser.error == YAML_MEMORY_ERROR ? "memory error" : "unknown error";
  result.SetError("YAML parser error: %1. At line: %2 col: %3", problem,
                  static_cast<uint64_t>(parser.problem_mark.line), static_cast<uint64_t>(parser.problem_mark.column));
}

}  // namespace
}  // namespace detail

BindingResult ParseYaml(const char* text, size_t size) {
  static const unsigned char kNoText[1] = {0};
  BindingResult result;
  detail::Parser parser;
  if (!parser.initialized()) {
    detail::SetParserError(result, parser.parser());
    return result;
  }
  yaml_parser_set_encoding(&parser.parser(), YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser.parser(),
                               text != nullptr ? reinterpret_cast<const unsigned char*>(text) : kNoText,
                               text != nullptr ? size : 0);
  try {
    detail::EventHandler handler(result);
    for (;;) {
      yaml_event_delete(&parser.event());
      if (!yaml_parser_parse(&parser.parser(), &parser.event())) {
        detail::SetParserError(result, parser.parser());
        break;
      }
      if (parser.event().type == YAML_STREAM_END_EVENT) break;
      handler.Handle(parser.event());
      if (!result.Succeeded()) break;
    }
  } catch (const std::bad_alloc&) {
    // A tree larger than the address space can take (32-bit builds).
    result.SetError("Not enough memory to read the YAML text.");
  }
  return result;
}

BindingResult ParseYaml(const std::string& text) { return ParseYaml(text.data(), text.size()); }

}  // namespace Zarn
