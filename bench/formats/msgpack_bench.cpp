// ParseMessagePack against a bare walk over the same bytes that builds
// nothing (the floor: no reader can visit every item faster) and against
// msgpack-cxx's msgpack::unpack, which builds its own object tree in a zone.
// The standard JSON corpora are converted to MessagePack once, up front.
// Also reports the tree's memory on the tracked heap: what it keeps and the
// peak while it is built, beside the input size.
#define MSGPACK_NO_BOOST 1

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <msgpack.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "formats/msgpack_reader.h"
#include "plugin/memory.h"
#include "rapidjson/document.h"

namespace {

std::string Load(const char* name) {
  std::ifstream in(std::string(QMX_CORPORA_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (text.str().empty()) {
    std::fprintf(stderr, "msgpack_bench: cannot read %s\n", name);
    std::abort();
  }
  return text.str();
}

// JSON to MessagePack with msgpack-cxx's packer, which picks the shortest
// form for every integer, string, array and map.
void Pack(const rapidjson::Value& value, msgpack::packer<msgpack::sbuffer>& packer) {
  switch (value.GetType()) {
    case rapidjson::kNullType: packer.pack_nil(); break;
    case rapidjson::kFalseType: packer.pack_false(); break;
    case rapidjson::kTrueType: packer.pack_true(); break;
    case rapidjson::kStringType: packer.pack_str(value.GetStringLength()).pack_str_body(value.GetString(), value.GetStringLength()); break;
    case rapidjson::kNumberType:
      if (value.IsUint64()) {
        packer.pack_uint64(value.GetUint64());
      } else if (value.IsInt64()) {
        packer.pack_int64(value.GetInt64());
      } else {
        packer.pack_double(value.GetDouble());
      }
      break;
    case rapidjson::kArrayType:
      packer.pack_array(value.Size());
      for (const rapidjson::Value& element : value.GetArray()) Pack(element, packer);
      break;
    case rapidjson::kObjectType:
      packer.pack_map(value.MemberCount());
      for (const auto& member : value.GetObject()) {
        Pack(member.name, packer);
        Pack(member.value, packer);
      }
      break;
  }
}

struct Corpus {
  const char* name;
  size_t jsonBytes;
  std::string bytes;  // MessagePack
};

const char* const kCorpora[] = {"canada.json", "citm_catalog.json", "twitter.json"};

const Corpus& CorpusAt(int index) {
  static Corpus corpora[3];
  Corpus& corpus = corpora[index];
  if (corpus.bytes.empty()) {
    const std::string json = Load(kCorpora[index]);
    rapidjson::Document document;
    document.Parse(json.c_str());
    if (document.HasParseError()) std::abort();
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    Pack(document, packer);
    corpus = {kCorpora[index], json.size(), std::string(buffer.data(), buffer.size())};
  }
  return corpus;
}

// Steps over one value: reads every header and length and skips every
// payload, bounds-checked as a reader must be, and builds nothing. Returns
// the bytes it took, or 0 when the value is malformed or cut short.
size_t WalkMessagePack(const uint8_t* data, size_t size) {
  size_t at = 0;
  uint64_t pending = 1;  // items still to visit
  const auto field = [&](size_t width, uint64_t& value) {
    if (size - at < width) return false;
    value = 0;
    for (size_t byte = 0; byte < width; ++byte) value = (value << 8) | data[at + byte];
    at += width;
    return true;
  };
  while (pending != 0) {
    if (at == size) return 0;
    const uint8_t byte = data[at++];
    --pending;
    uint64_t skip = 0;
    if (byte <= 0x7f || byte >= 0xe0) continue;
    if (byte <= 0x8f) {
      pending += 2u * (byte & 0x0f);
      continue;
    }
    if (byte <= 0x9f) {
      pending += byte & 0x0f;
      continue;
    }
    if (byte <= 0xbf) {
      skip = byte & 0x1f;
    } else {
      uint64_t count;
      switch (byte) {
        case 0xc0: case 0xc2: case 0xc3: continue;
        case 0xcc: case 0xd0: skip = 1; break;
        case 0xcd: case 0xd1: skip = 2; break;
        case 0xca: case 0xce: case 0xd2: skip = 4; break;
        case 0xcb: case 0xcf: case 0xd3: skip = 8; break;
        case 0xc4: case 0xd9: if (!field(1, skip)) return 0; break;
        case 0xc5: case 0xda: if (!field(2, skip)) return 0; break;
        case 0xc6: case 0xdb: if (!field(4, skip)) return 0; break;
        case 0xdc: if (!field(2, count)) return 0; pending += count; continue;
        case 0xdd: if (!field(4, count)) return 0; pending += count; continue;
        case 0xde: if (!field(2, count)) return 0; pending += 2 * count; continue;
        case 0xdf: if (!field(4, count)) return 0; pending += 2 * count; continue;
        default: return 0;
      }
    }
    if (size - at < skip) return 0;
    at += static_cast<size_t>(skip);
  }
  return at;
}

size_t CountNodes(const Zarn::BindingProperty& root) {
  size_t count = 0;
  std::vector<const Zarn::BindingProperty*> pending{&root};
  while (!pending.empty()) {
    const Zarn::BindingProperty* node = pending.back();
    pending.pop_back();
    ++count;
    if (node->Kind() == Zarn::PropertyKind::Collection) {
      for (size_t index = 0; index < node->Size(); ++index) pending.push_back(&node->ElementAt(index));
    } else if (node->Kind() == Zarn::PropertyKind::Structure) {
      for (const auto& member : node->Members()) pending.push_back(&member.Value());
    }
  }
  return count;
}

// Map keys are objects of their own in msgpack-cxx, members in our tree.
size_t CountNodes(const msgpack::object& object) {
  size_t count = 1;
  if (object.type == msgpack::type::ARRAY) {
    for (uint32_t index = 0; index < object.via.array.size; ++index) count += CountNodes(object.via.array.ptr[index]);
  } else if (object.type == msgpack::type::MAP) {
    for (uint32_t index = 0; index < object.via.map.size; ++index) count += CountNodes(object.via.map.ptr[index].val);
  }
  return count;
}

// The tracked heap seen from one call: forwards to the installed (counting)
// hooks and follows the live bytes and their peak. Single-threaded use only.
class HeapMeter {
 public:
  HeapMeter() {
    Zarn::Memory::Free(Zarn::Memory::Allocate(1));  // the counting hooks are in place
    inner_ = Zarn::Memory::InstallHooks({Allocate, Free, Reallocate, Duplicate, BlockSize, nullptr});
    live_ = 0;
    peak_ = 0;
  }
  ~HeapMeter() { Zarn::Memory::InstallHooks(inner_); }
  int64_t Live() const { return live_; }
  int64_t Peak() const { return peak_; }

 private:
  static int64_t SizeOf(void* block) {
    return block != nullptr ? static_cast<int64_t>(inner_.blockSize(block, inner_.userData)) : 0;
  }
  static void Note(int64_t delta) {
    live_ += delta;
    if (live_ > peak_) peak_ = live_;
  }
  static void* Allocate(size_t size, void*) {
    void* block = inner_.allocate(size, inner_.userData);
    Note(SizeOf(block));
    return block;
  }
  static void Free(void* block, void*) {
    Note(-SizeOf(block));
    inner_.free(block, inner_.userData);
  }
  static void* Reallocate(void* block, size_t size, void*) {
    const int64_t before = SizeOf(block);
    void* moved = inner_.reallocate(block, size, inner_.userData);
    if (moved != nullptr) Note(SizeOf(moved) - before);
    return moved;
  }
  static char* Duplicate(const char* text, void*) {
    char* copy = inner_.duplicate(text, inner_.userData);
    Note(SizeOf(copy));
    return copy;
  }
  static size_t BlockSize(void* block, void*) { return inner_.blockSize(block, inner_.userData); }

  static inline Zarn::Memory::AllocatorHooks inner_{};
  static inline int64_t live_ = 0;
  static inline int64_t peak_ = 0;
};

void Describe(benchmark::State& state, const Corpus& corpus) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.bytes.size()));
  state.counters["input_bytes"] = static_cast<double>(corpus.bytes.size());
  state.SetLabel(corpus.name);
}

const uint8_t* Bytes(const Corpus& corpus) { return reinterpret_cast<const uint8_t*>(corpus.bytes.data()); }

void BM_ParseMessagePack(benchmark::State& state) {
  const Corpus& corpus = CorpusAt(static_cast<int>(state.range(0)));
  {
    HeapMeter meter;
    Zarn::MessagePackParse parse = Zarn::ParseMessagePack(Bytes(corpus), corpus.bytes.size());
    const int64_t kept = meter.Live();
    const int64_t peak = meter.Peak();
    if (!parse.result.Succeeded() || parse.consumed != corpus.bytes.size()) {
      std::fprintf(stderr, "msgpack_bench: %s: %s\n", corpus.name, std::string(parse.result.Error()).c_str());
      std::abort();
    }
    const msgpack::object_handle peer = msgpack::unpack(corpus.bytes.data(), corpus.bytes.size());
    if (CountNodes(parse.result) != CountNodes(peer.get())) {
      std::fprintf(stderr, "msgpack_bench: %s: the trees differ\n", corpus.name);
      std::abort();
    }
    state.counters["tree_bytes"] = static_cast<double>(kept);
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["tree/input"] = static_cast<double>(kept) / static_cast<double>(corpus.bytes.size());
  }
  for (auto _ : state) {
    Zarn::MessagePackParse parse = Zarn::ParseMessagePack(Bytes(corpus), corpus.bytes.size());
    benchmark::DoNotOptimize(parse.result.Kind());
  }
  Describe(state, corpus);
}

void BM_MessagePackWalkFloor(benchmark::State& state) {
  const Corpus& corpus = CorpusAt(static_cast<int>(state.range(0)));
  if (WalkMessagePack(Bytes(corpus), corpus.bytes.size()) != corpus.bytes.size()) std::abort();
  for (auto _ : state) {
    size_t consumed = WalkMessagePack(Bytes(corpus), corpus.bytes.size());
    benchmark::DoNotOptimize(consumed);
  }
  Describe(state, corpus);
}

void BM_MessagePackCxxUnpack(benchmark::State& state) {
  const Corpus& corpus = CorpusAt(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(corpus.bytes.data(), corpus.bytes.size());
    benchmark::DoNotOptimize(handle.get().type);
  }
  Describe(state, corpus);
}

BENCHMARK(BM_ParseMessagePack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MessagePackWalkFloor)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MessagePackCxxUnpack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

// main comes from json_bench.cpp: the folder's benchmarks form one program.
