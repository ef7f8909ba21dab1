// Throughput of the event log with the file on: one open, append and close per
// entry, as the log does it.
#include "alarms/EventLog.h"
#include "core/Globali.h"
#include "platform/Cp1252.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

class ScratchProgramDir {
public:
    ScratchProgramDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/oculara-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        saved_ = ProgramDir;
        ProgramDir = path_ + "/";
    }
    ~ScratchProgramDir() {
        ProgramDir = saved_;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

private:
    std::string path_;
    std::string saved_;
};

void WriteEntries(benchmark::State& state, bool scriviLog) {
    ScratchProgramDir dir;
    Settings.ScriviLog = scriviLog;
    Settings.DimMaxLog = 1;  // the file is started afresh every megabyte, as in use
    alarms::EventLog log;
    int64_t n = 0;
    for (auto _ : state) {
        log.Write("7/12/26 05:40:03", "Allarme", alarms::IconPericoloAlto,
                  "Rilevati 3 movimenti sospetti, attività n. " + std::to_string(n++));
        if ((n & 4095) == 0) log.ClearRows();  // keeps the list from growing without end
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_WriteFileOn(benchmark::State& state) { WriteEntries(state, true); }
void BM_WriteFileOff(benchmark::State& state) { WriteEntries(state, false); }

// Entries from a worker thread, carried out by the owner draining its queue.
void BM_WriteFromWorkerFileOn(benchmark::State& state) {
    ScratchProgramDir dir;
    Settings.ScriviLog = true;
    Settings.DimMaxLog = 1;
    alarms::EventLog log;
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    log.SetOwner([&](std::function<void()> task) {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(task));
    });
    const int64_t batch = state.range(0);
    int64_t n = 0;
    for (auto _ : state) {
        std::thread worker([&] {
            for (int64_t i = 0; i < batch; ++i)
                log.Write("7/12/26 05:40:03", "Errore", alarms::IconErrore,
                          "Invio SMS non riuscito " + std::to_string(n + i));
        });
        worker.join();
        n += batch;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (tasks.empty()) break;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
        log.ClearRows();
    }
    state.SetItemsProcessed(state.iterations() * batch);
}

void BM_Utf8ToCp1252(benchmark::State& state) {
    const std::string text = "Attività sospetta rilevata alle 05:40:03 — perché è così? €";
    for (auto _ : state) benchmark::DoNotOptimize(platform::Utf8ToCp1252(text));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(BM_WriteFileOn);
BENCHMARK(BM_WriteFileOff);
BENCHMARK(BM_WriteFromWorkerFileOn)->Arg(100);
BENCHMARK(BM_Utf8ToCp1252);
