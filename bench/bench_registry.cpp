// Loading a settings file of a few megabytes: many values, one huge name,
// one long value spread over continuation lines. Each iteration reads the
// file afresh, as a start of the program does.
#include "platform/Registry.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

class ScratchConfig {
public:
    explicit ScratchConfig(const std::string& hive) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/oculara-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        std::filesystem::create_directories(path_ + "/Oculara");
        std::ofstream(path_ + "/Oculara/HKEY_CURRENT_USER.reg", std::ios::binary) << hive;
        setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    }
    ~ScratchConfig() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

private:
    std::string path_;
};

std::string Hive(int extraValues, size_t nameBytes, int continuationLines) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n";
    text += "\"AvviaMonitoraggio\"=dword:00000001\n";
    for (int i = 0; i < extraValues; ++i) text += "\"Extra" + std::to_string(i) + "\"=\"valore\"\n";
    if (nameBytes) text += "\"" + std::string(nameBytes, 'n') + "\"=\"x\"\n";
    if (continuationLines) {
        text += "\"Lungo\"=hex:";
        for (int i = 0; i < continuationLines; ++i) text += "00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\\\n  ";
        text += "ff\n";
    }
    return text;
}

void Load(benchmark::State& state, const std::string& hive) {
    ScratchConfig config(hive);
    for (auto _ : state) {
        auto key = platform::RegKey::Open(platform::RegRoot::CurrentUser, "\\Software\\Brevant\\OCL", false);
        if (!key || !key->Read("AvviaMonitoraggio")) state.SkipWithError("the file did not load");
        benchmark::DoNotOptimize(key);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(hive.size()));
}

void BM_LoadManyValues(benchmark::State& state) { Load(state, Hive(static_cast<int>(state.range(0)), 0, 0)); }
BENCHMARK(BM_LoadManyValues)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_LoadHugeName(benchmark::State& state) { Load(state, Hive(100, static_cast<size_t>(state.range(0)), 0)); }
BENCHMARK(BM_LoadHugeName)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

void BM_LoadLongContinuedValue(benchmark::State& state) { Load(state, Hive(0, 0, static_cast<int>(state.range(0)))); }
BENCHMARK(BM_LoadLongContinuedValue)->Arg(10000)->Arg(60000)->Unit(benchmark::kMillisecond);

}  // namespace
