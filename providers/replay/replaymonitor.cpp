// The replay provider: reads events from a file ("ACTION<TAB>PATH" lines, see replayline.h) and
// puts them into the queue, at full speed or at a set rate, waiting whenever the queue is full so
// that nothing is lost. For tests and benchmarks.
//
// The file: environment variable VIGIL_REPLAY_FILE, else key "file" of section [replay].
// The rate: key "rate" of section [replay], events per second (K and M allowed); 0 or none is
// full speed.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/providerbase.h"
#include "replay/replayline.h"
#include "system/osfile.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

namespace {

constexpr char kLogModule[] = "providers/replay";
constexpr wchar_t kFileVariable[] = L"VIGIL_REPLAY_FILE";
constexpr size_t kMaxBatch = 1024;
// Longer than any path: a longer line is not an event.
constexpr size_t kMaxLine = 64 * 1024;

class ReplayMonitor final : public ProviderBase {
  public:
    explicit ReplayMonitor(FsConfig* config) : ProviderBase("replay", config) {}
    ~ReplayMonitor() override { cleanup(); }

    int startMonitoring() override {
        std::lock_guard<std::recursive_mutex> lock(controlMutex_);
        if (worker_.running())
            return 0;
        std::wstring fileName;
        if (auto named = sysinfo::getEnv(kFileVariable); named && !named->empty())
            fileName = *named;
        else if (config_)
            fileName = utf8::toWide(config_->getString("replay", "file", nullptr));
        if (fileName.empty()) {
            LOG_TRACE(log_, "replay - no event file: set VIGIL_REPLAY_FILE or [replay] file\n");
            return -1;
        }
        auto file = std::make_shared<OsFile>(OsFile::openRead(fileName.c_str()));
        if (!file->valid()) {
            LOG_TRACE(log_, "replay - unable to open '%ls' (error %u)\n", fileName.c_str(),
                      static_cast<unsigned>(sysinfo::lastError()));
            return -1;
        }
        const int rate = config_ ? std::max(0, config_->getInt("replay", "rate", 0)) : 0;
        worker_.start([this, file, fileName, rate] { run(*file, fileName, rate); });
        return 0;
    }

    int cleanup() override { return stopMonitoring(); }

    // Nothing is ever lost: the provider waits for room instead.
    int simulateLoss() override { return -1; }

  private:
    bool acceptRoot(const MonitoredPath&) override { return true; }

    void wake() override {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        wakeUp_.notify_all();
    }

    // Waits until the provider is not held and the time has come (when there is one); false
    // when stopped meanwhile.
    bool waitTurn(const std::chrono::steady_clock::time_point* due) {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        for (;;) {
            if (worker_.stopRequested())
                return false;
            if (worker_.answerHold()) {
                wakeUp_.wait(lock);
                continue;
            }
            if (due == nullptr || std::chrono::steady_clock::now() >= *due)
                return true;
            wakeUp_.wait_until(lock, *due);
        }
    }

    void run(OsFile& file, const std::wstring& fileName, int rate) {
        // Paced replays go out in slices of about 20 ms.
        const size_t batchSize =
            rate > 0 ? std::max<size_t>(1, std::min<size_t>(kMaxBatch, rate / 50)) : kMaxBatch;
        const auto start = std::chrono::steady_clock::now();
        std::vector<FsEvent> batch;
        batch.reserve(batchSize);
        unsigned long long sent = 0, lineNumber = 0, skipped = 0;
        bool ok = true;

        auto flush = [&] {
            if (batch.empty())
                return;
            std::chrono::steady_clock::time_point due;
            if (rate > 0) {
                due = start + std::chrono::microseconds(sent * 1000000ull / rate);
            }
            ok = waitTurn(rate > 0 ? &due : nullptr) &&
                 delivery_.deliverWaiting(batch.data(), batch.size(),
                                          [this] { return worker_.stopRequested(); });
            if (ok)
                sent += batch.size();
            batch.clear();
        };
        // overlong: the line was longer than kMaxLine and is not kept.
        auto takeLine = [&](const char* data, size_t size, bool overlong) {
            ++lineNumber;
            const ReplayLine line =
                overlong ? ReplayLine{ReplayLineKind::Bad, 0, {}} : parseReplayLine(data, size);
            if (line.kind == ReplayLineKind::Bad) {
                ++skipped;
                LOG_TRACE(log_, "replay - invalid line %llu in '%ls' skipped\n", lineNumber,
                          fileName.c_str());
            } else if (line.kind == ReplayLineKind::Event) {
                batch.emplace_back(utf8::toWide(line.path), line.action);
                if (batch.size() == batchSize)
                    flush();
            }
        };

        std::string carry;  // the start of a line that continues in the next read
        bool overlong = false;
        std::vector<char> buffer(256 * 1024);
        while (ok) {
            const long long n = file.read(buffer.data(), buffer.size());
            if (n < 0) {
                LOG_TRACE(log_, "replay - unable to read '%ls' (error %u)\n", fileName.c_str(),
                          static_cast<unsigned>(sysinfo::lastError()));
                break;
            }
            if (n == 0) {
                if (overlong || !carry.empty())
                    takeLine(carry.data(), carry.size(), overlong);
                flush();
                break;
            }
            const char* p = buffer.data();
            const char* end = p + n;
            while (ok && p < end) {
                const char* eol = static_cast<const char*>(std::memchr(p, '\n', end - p));
                const char* lineEnd = eol ? eol : end;
                if (overlong || carry.size() + static_cast<size_t>(lineEnd - p) > kMaxLine) {
                    overlong = true;
                    carry.clear();
                } else {
                    carry.append(p, lineEnd);
                }
                if (eol == nullptr)
                    break;
                takeLine(carry.data(), carry.size(), overlong);
                carry.clear();
                overlong = false;
                p = eol + 1;
            }
        }
        LOG_TRACE(log_, "replay - '%ls': %llu events replayed, %llu lines skipped%s\n",
                  fileName.c_str(), sent, skipped, ok ? "" : " (stopped)");
    }

    std::mutex wakeMutex_;
    std::condition_variable wakeUp_;
};

}  // namespace

VIGIL_PROVIDER_FACTORY(ReplayMonitor)
