// ParseYaml against libyaml's bare event loop (parse and delete every event:
// the floor, since the reader runs on it) and, in the 64-bit build, against
// yaml-cpp's YAML::Load. The input is the standard JSON corpora rendered once
// as block-style YAML, strings double-quoted so they stay strings and
// integral doubles tagged !!float so they stay floats; the reader's tree
// must then equal ParseJson's tree of the same corpus. Also reports the
// tree's retained memory and the tracked allocator's peak during one parse,
// against the input size.
#include <benchmark/benchmark.h>
#include <yaml.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "formats/json_reader.h"
#include "formats/yaml_reader.h"
#include "plugin/memory.h"
#include "rapidjson/document.h"

#if defined(QMX_BENCH_YAML_CPP)
#include <yaml-cpp/yaml.h>
#endif

namespace {

std::string Load(const char* name) {
  std::ifstream in(std::string(QMX_CORPORA_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (text.str().empty()) {
    std::fprintf(stderr, "yaml_bench: cannot read %s\n", name);
    std::abort();
  }
  return text.str();
}

// ---- block-style YAML from a JSON document ----------------------------------

void EmitString(std::string& out, const char* text, size_t length) {
  out += '"';
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    char escape[12];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else if (c == 0xc2 && i + 1 < length && bytes[i + 1] >= 0x80 && bytes[i + 1] <= 0x9f) {
      // C1 controls are not YAML characters.
      std::snprintf(escape, sizeof escape, "\\x%02X", bytes[++i]);
      out += escape;
    } else if (c == 0xef && i + 2 < length && bytes[i + 1] == 0xbf && bytes[i + 2] >= 0xbe) {
      std::snprintf(escape, sizeof escape, "\\u%04X", 0xff00u | bytes[i + 2]);
      out += escape;
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

bool IsOpenContainer(const rapidjson::Value& value) {
  return (value.IsObject() && value.MemberCount() > 0) || (value.IsArray() && !value.Empty());
}

void EmitContainer(std::string& out, const rapidjson::Value& value, size_t indent);

// A value after "key:" or "-": inline when it is a scalar or empty, else on
// the next lines, indented.
void EmitValue(std::string& out, const rapidjson::Value& value, size_t indent) {
  if (IsOpenContainer(value)) {
    out += '\n';
    EmitContainer(out, value, indent + 2);
    return;
  }
  out += ' ';
  char number[40];
  if (value.IsNull()) {
    out += "null";
  } else if (value.IsBool()) {
    out += value.GetBool() ? "true" : "false";
  } else if (value.IsUint64()) {
    std::snprintf(number, sizeof number, "%" PRIu64, value.GetUint64());
    out += number;
  } else if (value.IsInt64()) {
    std::snprintf(number, sizeof number, "%" PRId64, value.GetInt64());
    out += number;
  } else if (value.IsDouble()) {
    const double x = value.GetDouble();
    if (x == std::floor(x)) out += "!!float ";
    std::snprintf(number, sizeof number, "%.17g", x);
    out += number;
  } else if (value.IsString()) {
    EmitString(out, value.GetString(), value.GetStringLength());
  } else {
    out += value.IsArray() ? "[]" : "{}";
  }
  out += '\n';
}

void EmitContainer(std::string& out, const rapidjson::Value& value, size_t indent) {
  if (value.IsObject()) {
    for (const auto& member : value.GetObject()) {
      out.append(indent, ' ');
      EmitString(out, member.name.GetString(), member.name.GetStringLength());
      out += ':';
      EmitValue(out, member.value, indent);
    }
  } else {
    for (const auto& element : value.GetArray()) {
      out.append(indent, ' ');
      out += '-';
      EmitValue(out, element, indent);
    }
  }
}

std::string JsonToYaml(const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.c_str());
  if (document.HasParseError() || !IsOpenContainer(document)) std::abort();
  std::string yaml;
  yaml.reserve(json.size() * 2);
  EmitContainer(yaml, document, 0);
  return yaml;
}

// ---- verification ---------------------------------------------------------

bool SameTree(const Zarn::BindingProperty& a, const Zarn::BindingProperty& b) {
  if (a.Kind() != b.Kind() || a.Size() != b.Size()) return false;
  switch (a.Kind()) {
    case Zarn::PropertyKind::Float:
      return a.GetFloat() == b.GetFloat() || (std::isnan(a.GetFloat()) && std::isnan(b.GetFloat()));
    case Zarn::PropertyKind::Collection:
      for (size_t i = 0; i < a.Size(); ++i) {
        if (!SameTree(a.ElementAt(i), b.ElementAt(i))) return false;
      }
      return true;
    case Zarn::PropertyKind::Structure:
      for (const auto& member : a.Members()) {
        if (!SameTree(member.Value(), b.FindMember(member.Key()))) return false;
      }
      return true;
    case Zarn::PropertyKind::Empty:
    case Zarn::PropertyKind::Bool:
    case Zarn::PropertyKind::Signed:
    case Zarn::PropertyKind::Unsigned:
    case Zarn::PropertyKind::String:
    case Zarn::PropertyKind::Blob:
    case Zarn::PropertyKind::Enum:
      return a.GetBool() == b.GetBool() && a.GetUnsigned() == b.GetUnsigned() &&
             a.GetSigned() == b.GetSigned() && a.GetString() == b.GetString();
  }
  return false;
}

const char* const kCorpora[] = {"canada.json", "citm_catalog.json", "twitter.json"};

const std::string& Corpus(int index) {
  static std::string texts[3];
  if (texts[index].empty()) {
    const std::string json = Load(kCorpora[index]);
    texts[index] = JsonToYaml(json);
    const Zarn::BindingResult fromYaml = Zarn::ParseYaml(texts[index]);
    const Zarn::BindingResult fromJson = Zarn::ParseJson(json);
    if (!fromYaml.Succeeded() || !fromJson.Succeeded() || !SameTree(fromYaml, fromJson)) {
      std::fprintf(stderr, "yaml_bench: %s read as YAML differs from JSON: %s\n", kCorpora[index],
                   std::string(fromYaml.Error()).c_str());
      std::abort();
    }
  }
  return texts[index];
}

// ---- memory ---------------------------------------------------------------

// Chains onto the installed (counting) hooks and keeps a local peak of the
// bytes it saw allocated, so each parse's peak is measured on its own.
class PeakMeter {
 public:
  PeakMeter() {
    Zarn::Memory::Free(Zarn::Memory::Allocate(1));  // the counting hooks are in place
    self_ = this;
    Zarn::Memory::AllocatorHooks hooks{&Allocate, &Free, &Reallocate, &Duplicate, &BlockSize, nullptr};
    previous_ = Zarn::Memory::InstallHooks(hooks);
  }
  ~PeakMeter() {
    Zarn::Memory::InstallHooks(previous_);
    self_ = nullptr;
  }
  int64_t Peak() const { return peak_; }
  int64_t Held() const { return held_; }

 private:
  static void Add(void* block) {
    if (block == nullptr) return;
    self_->held_ += static_cast<int64_t>(self_->previous_.blockSize(block, self_->previous_.userData));
    if (self_->held_ > self_->peak_) self_->peak_ = self_->held_;
  }
  static void Remove(void* block) {
    if (block != nullptr) {
      self_->held_ -= static_cast<int64_t>(self_->previous_.blockSize(block, self_->previous_.userData));
    }
  }
  static void* Allocate(size_t size, void*) {
    void* block = self_->previous_.allocate(size, self_->previous_.userData);
    Add(block);
    return block;
  }
  static void Free(void* block, void*) {
    Remove(block);
    self_->previous_.free(block, self_->previous_.userData);
  }
  static void* Reallocate(void* block, size_t size, void*) {
    const int64_t before = self_->held_;
    Remove(block);
    void* moved = self_->previous_.reallocate(block, size, self_->previous_.userData);
    if (moved == nullptr && size != 0) {
      self_->held_ = before;  // the old block stays
    } else {
      Add(moved);
    }
    return moved;
  }
  static char* Duplicate(const char* text, void*) {
    char* copy = self_->previous_.duplicate(text, self_->previous_.userData);
    Add(copy);
    return copy;
  }
  static size_t BlockSize(void* block, void*) { return self_->previous_.blockSize(block, self_->previous_.userData); }

  static PeakMeter* self_;
  Zarn::Memory::AllocatorHooks previous_{};
  int64_t held_ = 0;
  int64_t peak_ = 0;
};
PeakMeter* PeakMeter::self_ = nullptr;

// Runs build once under a meter and reports what its result retains and
// the peak on the way, in bytes and per input byte.
template <typename Build>
void ReportMemory(benchmark::State& state, size_t inputSize, Build build) {
  int64_t retained = 0;
  int64_t peak = 0;
  {
    PeakMeter meter;
    auto tree = build();
    retained = meter.Held();
    peak = meter.Peak();
    benchmark::DoNotOptimize(tree);
  }
  state.counters["tree_bytes"] = static_cast<double>(retained);
  state.counters["tree/input"] = static_cast<double>(retained) / static_cast<double>(inputSize);
  state.counters["peak/input"] = static_cast<double>(peak) / static_cast<double>(inputSize);
}

// ---- benchmarks -----------------------------------------------------------

void BM_ParseYaml(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  ReportMemory(state, text.size(), [&] { return Zarn::ParseYaml(text); });
  for (auto _ : state) {
    Zarn::BindingResult tree = Zarn::ParseYaml(text);
    benchmark::DoNotOptimize(tree.Kind());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kCorpora[state.range(0)]);
}

void BM_LibyamlEventFloor(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_event_t event;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    size_t events = 0;
    for (;;) {
      if (!yaml_parser_parse(&parser, &event)) std::abort();
      const bool done = event.type == YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
      ++events;
      if (done) break;
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kCorpora[state.range(0)]);
}

BENCHMARK(BM_ParseYaml)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibyamlEventFloor)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

#if defined(QMX_BENCH_YAML_CPP)
void BM_YamlCppLoad(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  ReportMemory(state, text.size(), [&] { return YAML::Load(text); });
  for (auto _ : state) {
    YAML::Node tree = YAML::Load(text);
    benchmark::DoNotOptimize(tree.IsMap());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kCorpora[state.range(0)]);
}
BENCHMARK(BM_YamlCppLoad)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
