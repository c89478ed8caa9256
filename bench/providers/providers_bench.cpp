// Provider throughput: events from the replay provider through the event queue and out through
// get, and (Linux) events the inotify provider delivers for a burst of file creations.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "cache/eventqueue.h"
#include "fs/fs_loader.h"
#include "fs/fsprovider.h"
#include "fs/processconfig.h"
#include "system/sysinfo.h"
#include "text/monitoredpath.h"

namespace fs = std::filesystem;

namespace {

constexpr int kReplayEvents = 1000000;
constexpr int kBurstFiles = 100000;

// A scratch directory removed at exit.
class BenchDir {
  public:
    BenchDir() {
        path_ = fs::temp_directory_path() /
                ("vigil-bench-providers-" + std::to_string(sysinfo::currentProcessId()));
        fs::create_directories(path_);
    }
    ~BenchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

BenchDir& benchDir() {
    static BenchDir dir;
    return dir;
}

ProcessConfig& config() {
    static ProcessConfig instance;
    return instance;
}

const fs::path& replayFile() {
    static const fs::path file = [] {
        const fs::path path = benchDir().path() / "events.txt";
        std::ofstream out(path, std::ios::binary);
        static const char* const kActions[] = {"ADDED", "MODIFIED", "REMOVED"};
        for (int i = 0; i < kReplayEvents; ++i) {
            out << kActions[i % 3] << "\t/data/projects/dir" << (i % 1000) << "/document-" << i
                << ".txt\n";
        }
        return path;
    }();
    return file;
}

void BM_ReplayThroughQueue(benchmark::State& state) {
    setenv("VIGIL_REPLAY_FILE", replayFile().c_str(), 1);
    for (auto _ : state) {
        auto monitor = loadFsProvider("replay", &config());
        if (!monitor) {
            state.SkipWithError("replay provider not loaded");
            return;
        }
        EventQueue queue(L"vigilQueue");
        monitor->setEventQueue(&queue);
        monitor->startMonitoring();
        int received = 0;
        while (received < kReplayEvents && queue.get(5000).isValid())
            ++received;
        monitor->stopMonitoring();
        monitor->setEventQueue(nullptr);
        if (received != kReplayEvents)
            state.SkipWithError("events missing");
    }
    state.SetItemsProcessed(state.iterations() * kReplayEvents);
}
BENCHMARK(BM_ReplayThroughQueue)->Unit(benchmark::kMillisecond)->UseRealTime();

#if !defined(_WIN32)

// Where the burst goes: a RAM disk when there is one, so that the file system's own cost of
// creating files does not hide the provider's.
fs::path burstDirectory() {
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec))
        return fs::path("/dev/shm") /
               ("vigil-bench-burst-" + std::to_string(sysinfo::currentProcessId()));
    return benchDir().path() / "burst";
}

// Creates kBurstFiles files as fast as possible while a consumer drains the queue; the rate is
// the events (created and closed after writing, two per file) delivered per second from the
// first creation to the last event. A kernel queue overflow shows as losses (the root is then
// rescanned instead).
void BM_InotifyCreationBurst(benchmark::State& state) {
    int64_t delivered = 0, losses = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path root = burstDirectory();
        fs::create_directories(root);
        auto monitor = loadFsProvider("inotify", &config());
        if (!monitor) {
            state.SkipWithError("inotify provider not loaded");
            return;
        }
        MonitoredPath path(root.wstring(), 1);
        monitor->addPath(&path);
        EventQueue queue(L"vigilQueue");
        monitor->setEventQueue(&queue);
        monitor->startMonitoring();
        std::atomic<int64_t> events{0};
        std::atomic<bool> done{false};
        std::thread consumer([&] {
            while (!done) {
                if (queue.get(100).isValid())
                    ++events;
            }
        });
        state.ResumeTiming();

        for (int i = 0; i < kBurstFiles; ++i) {
            const std::string name = (root / ("f" + std::to_string(i))).string();
            if (FILE* f = std::fopen(name.c_str(), "w"))
                std::fclose(f);
        }
        auto& provider = dynamic_cast<FsProvider&>(*monitor);
        // Every file gives ADDED and MODIFIED (closed after writing), unless events were lost.
        while (events < 2 * kBurstFiles && provider.lossCount() == 0)
            std::this_thread::yield();

        state.PauseTiming();
        done = true;
        consumer.join();
        delivered += events;
        losses += provider.lossCount();
        monitor->stopMonitoring();
        monitor->setEventQueue(nullptr);
        std::error_code ec;
        fs::remove_all(root, ec);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(delivered);
    state.counters["losses"] = static_cast<double>(losses);
}
BENCHMARK(BM_InotifyCreationBurst)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

#endif

}  // namespace

int main(int argc, char** argv) {
    // Benchmarks log nowhere unless asked.
    setenv("VIGIL_LOG", std::getenv("VIGIL_LOG") ? std::getenv("VIGIL_LOG") : "off", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
