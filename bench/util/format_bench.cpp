// Format against snprintf of the equivalent printf pattern (into a 4096-byte
// stack buffer) and fmt::format_to_n, for three messages of the system.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/format.h"

namespace {

const std::string kKind = "uint32";
const std::string kField = "count";
const std::string kValue = "-17";
const std::string kBase = "https://behaviour.example.test";  // 30 characters
const uint64_t kId = 18446744073709551557u;
const std::string kError = "Unexpected end of input in string value.";  // 40 characters
const unsigned kOffset = 1234567u;

void Check(const std::string& got, const std::string& want) {
  if (got != want) {
    std::fprintf(stderr, "format_bench: got \"%s\", want \"%s\"\n", got.c_str(), want.c_str());
    std::abort();
  }
}

// ---- message 1: three short strings ----------------------------------------

void BM_Range_Format(benchmark::State& state) {
  Check(Zarn::Format("Value %1 for '%2' of type %3 is out of range", kValue, kField, kKind),
        "Value -17 for 'count' of type uint32 is out of range");
  for (auto _ : state) {
    std::string text = Zarn::Format("Value %1 for '%2' of type %3 is out of range", kValue, kField, kKind);
    benchmark::DoNotOptimize(text);
  }
}
void BM_Range_FormatInto(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    size_t n = Zarn::FormatInto(buffer, sizeof buffer, "Value %1 for '%2' of type %3 is out of range",
                                kValue, kField, kKind);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buffer);
  }
}
void BM_Range_Snprintf(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    int n = std::snprintf(buffer, sizeof buffer, "Value %s for '%s' of type %s is out of range",
                          kValue.c_str(), kField.c_str(), kKind.c_str());
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buffer);
  }
}
void BM_Range_Fmt(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    auto result = fmt::format_to_n(buffer, sizeof buffer, "Value {} for '{}' of type {} is out of range",
                                   kValue, kField, kKind);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(buffer);
  }
}

// ---- message 2: URL and uint64 ------------------------------------------------

void BM_Url_Format(benchmark::State& state) {
  Check(Zarn::Format("%1/api/v1/accounts/%2", kBase, kId),
        "https://behaviour.example.test/api/v1/accounts/18446744073709551557");
  for (auto _ : state) {
    std::string text = Zarn::Format("%1/api/v1/accounts/%2", kBase, kId);
    benchmark::DoNotOptimize(text);
  }
}
void BM_Url_FormatInto(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    size_t n = Zarn::FormatInto(buffer, sizeof buffer, "%1/api/v1/accounts/%2", kBase, kId);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buffer);
  }
}
void BM_Url_Snprintf(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    int n = std::snprintf(buffer, sizeof buffer, "%s/api/v1/accounts/%llu", kBase.c_str(),
                          static_cast<unsigned long long>(kId));
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buffer);
  }
}
void BM_Url_Fmt(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    auto result = fmt::format_to_n(buffer, sizeof buffer, "{}/api/v1/accounts/{}", kBase, kId);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(buffer);
  }
}

// ---- message 3: plain printf placeholders ------------------------------------

void BM_Error_Format(benchmark::State& state) {
  Check(Zarn::Format("Error: %s at offset %u.", kError, kOffset),
        "Error: Unexpected end of input in string value. at offset 1234567.");
  for (auto _ : state) {
    std::string text = Zarn::Format("Error: %s at offset %u.", kError, kOffset);
    benchmark::DoNotOptimize(text);
  }
}
void BM_Error_FormatInto(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    size_t n = Zarn::FormatInto(buffer, sizeof buffer, "Error: %s at offset %u.", kError, kOffset);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buffer);
  }
}
void BM_Error_Snprintf(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    int n = std::snprintf(buffer, sizeof buffer, "Error: %s at offset %u.", kError.c_str(), kOffset);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(buffer);
  }
}
void BM_Error_Fmt(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[4096];
    auto result = fmt::format_to_n(buffer, sizeof buffer, "Error: {} at offset {}.", kError, kOffset);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(buffer);
  }
}

BENCHMARK(BM_Range_Format);
BENCHMARK(BM_Range_FormatInto);
BENCHMARK(BM_Range_Snprintf);
BENCHMARK(BM_Range_Fmt);
BENCHMARK(BM_Url_Format);
BENCHMARK(BM_Url_FormatInto);
BENCHMARK(BM_Url_Snprintf);
BENCHMARK(BM_Url_Fmt);
BENCHMARK(BM_Error_Format);
BENCHMARK(BM_Error_FormatInto);
BENCHMARK(BM_Error_Snprintf);
BENCHMARK(BM_Error_Fmt);

}  // namespace

BENCHMARK_MAIN();
