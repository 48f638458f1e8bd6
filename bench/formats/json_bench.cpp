// ParseJson against RapidJSON's event reader with a handler that does
// nothing (the floor: no tree can be built faster on that reader) and
// against RapidJSON's Document::Parse with its default pool allocator, on
// the standard corpora. Also reports the tree's retained memory: heap bytes
// and the slab pages its records take (tree_bytes is their sum).
//
// With a handler that drops every value the compiler also drops the work
// whose only use is the value, the division that turns a decimal fraction
// into a double above all, so the floor parses canada.json's numbers
// without converting them. BM_RapidJsonReaderKeep keeps every value (it
// sums them) and so shows what the reader costs any handler that stores
// its values.
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
#include "values/slab_pool.h"

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

// Slab pages handed out by the page source.
uint64_t PagesInUse() {
  Zarn::SlabPageSource& source = Zarn::SlabPageSource::Instance();
  return uint64_t{source.LiveBlockCount()} * Zarn::kPagesPerBlock - source.FreePageCount();
}

// Keeps every value: what a handler that stores values cannot get below.
struct KeepingHandler : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, KeepingHandler> {
  double sum = 0;
  size_t textBytes = 0;
  bool Default() { return true; }
  bool Bool(bool value) { return sum += value, true; }
  bool Int(int value) { return sum += value, true; }
  bool Uint(unsigned value) { return sum += value, true; }
  bool Int64(int64_t value) { return sum += static_cast<double>(value), true; }
  bool Uint64(uint64_t value) { return sum += static_cast<double>(value), true; }
  bool Double(double value) { return sum += value, true; }
  bool String(const char*, rapidjson::SizeType length, bool) { return textBytes += length, true; }
  bool Key(const char*, rapidjson::SizeType length, bool) { return textBytes += length, true; }
};

void BM_ParseJson(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  {
    const Zarn::Memory::Counters before = Zarn::Memory::ReadCounters();
    const uint64_t pagesBefore = PagesInUse();
    Zarn::BindingResult tree = Zarn::ParseJson(text);
    if (!tree.Succeeded()) {
      std::fprintf(stderr, "json_bench: %s\n", std::string(tree.Error()).c_str());
      std::abort();
    }
    const Zarn::Memory::Counters after = Zarn::Memory::ReadCounters();
    const double heapBytes = static_cast<double>((after.bytesAllocated - after.bytesFreed) -
                                                 (before.bytesAllocated - before.bytesFreed));
    const double pageBytes = static_cast<double>((PagesInUse() - pagesBefore) * Zarn::kSlabPageSize);
    state.counters["heap_bytes"] = heapBytes;
    state.counters["page_bytes"] = pageBytes;
    state.counters["tree_bytes"] = heapBytes + pageBytes;
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

void BM_RapidJsonReaderKeep(benchmark::State& state) {
  const std::string& text = Corpus(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rapidjson::Reader reader;
    KeepingHandler handler;
    rapidjson::StringStream stream(text.c_str());
    rapidjson::ParseResult result = reader.Parse(stream, handler);
    if (result.IsError()) std::abort();
    benchmark::DoNotOptimize(handler.sum);
    benchmark::DoNotOptimize(handler.textBytes);
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
BENCHMARK(BM_RapidJsonReaderKeep)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonDocument)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
