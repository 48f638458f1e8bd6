// ParseJson against RapidJSON's event reader with a handler that does
// nothing (the floor: no tree can be built faster on that reader) and
// against RapidJSON's Document::Parse with its default pool allocator, on
// the standard corpora. Also reports the tree's retained memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "formats/json_reader.h"
#include "plugin/memory.h"
#include "rapidjson/document.h"
#include "rapidjson/reader.h"

namespace {

std::string Load(const char* name) {
  std::ifstream in(std::string(QMX_CORPORA_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (text.str().empty()) {
    std::fprintf(stderr, "json_bench: cannot read %s\n", name);
    std::abort();
  }
  return text.str();
}

const char* const kCorpora[] = {"canada.json", "citm_catalog.json", "twitter.json"};

const std::string& Corpus(int index) {
  static std::string texts[3];
  if (texts[index].empty()) texts[index] = Load(kCorpora[index]);
  return texts[index];
}

void BM_ParseJson(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  {
    const Zarn::Memory::Counters before = Zarn::Memory::ReadCounters();
    Zarn::BindingResult tree = Zarn::ParseJson(text);
    if (!tree.Succeeded()) {
      std::fprintf(stderr, "json_bench: %s\n", std::string(tree.Error()).c_str());
      std::abort();
    }
    const Zarn::Memory::Counters after = Zarn::Memory::ReadCounters();
    state.counters["tree_bytes"] = static_cast<double>((after.bytesAllocated - after.bytesFreed) -
                                                       (before.bytesAllocated - before.bytesFreed));
    state.counters["tree/input"] = state.counters["tree_bytes"] / static_cast<double>(text.size());
  }
  for (auto _ : state) {
    Zarn::BindingResult tree = Zarn::ParseJson(text);
    benchmark::DoNotOptimize(tree.Kind());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kCorpora[state.range(0)]);
}

void BM_RapidJsonReaderFloor(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rapidjson::Reader reader;
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::StringStream stream(text.c_str());
    rapidjson::ParseResult result = reader.Parse(stream, handler);
    if (result.IsError()) std::abort();
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kCorpora[state.range(0)]);
}

void BM_RapidJsonDocument(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  {
    // The document allocates through its own pool (plain malloc), so its
    // retained memory is the pool's capacity.
    auto document = std::make_unique<rapidjson::Document>();
    document->Parse(text.c_str());
    if (document->HasParseError()) std::abort();
    state.counters["tree_bytes"] = static_cast<double>(document->GetAllocator().Capacity());
    state.counters["tree/input"] = state.counters["tree_bytes"] / static_cast<double>(text.size());
  }
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    benchmark::DoNotOptimize(document.IsObject());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kCorpora[state.range(0)]);
}

BENCHMARK(BM_ParseJson)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonReaderFloor)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonDocument)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
