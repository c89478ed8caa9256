#include "vigil.h"

#include <clocale>
#include <cstring>
#include <memory>
#include <mutex>

#include "cache/cachesettings.h"
#include "ctrlhandler.h"
#include "log/rklog.h"
#include "monitor.h"
#include "sync/namedevent.h"
#include "system/osfile.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

constexpr char kLogModule[] = "vigil/vigil";
constexpr wchar_t kGlobalPrefix[] = L"Global\\";

// Process-wide state shared with the console control handler's thread.
std::mutex g_stateMutex;
std::unique_ptr<NamedEvent> g_initEvent;
std::wstring g_pidPath;  // empty until createMonitorPID formed a path
CacheSettings g_cacheSettings{0, 31, 0, 0};

// The event name without the "Global\" prefix, as the error message shows it.
std::wstring eventNameBody(const wchar_t* workingDirectory, const wchar_t* suffix) {
    std::wstring name = toUpper(std::wstring(workingDirectory ? workingDirectory : L""));
    name += suffix;
    replaceChar(name.data(), L'\\', L'_');
    replaceChar(name.data(), L':', L'_');
    replaceChar(name.data(), L'/', L'_');
    return name;
}

}  // namespace

std::wstring eventName(const wchar_t* workingDirectory, const wchar_t* suffix) {
    return kGlobalPrefix + eventNameBody(workingDirectory, suffix);
}

void signalSyncEvent(const wchar_t* workingDirectory) {
    RkLogWrapper* log = getRkLogFs();
    const std::wstring name = eventName(workingDirectory, kInitEventSuffix);
    std::unique_ptr<NamedEvent> event = NamedEvent::create(name.c_str(), true, false);
    if (!event) {
        LOG_TRACE(log, "[vigil]::signalSyncEvent - unable to create syncEvent\n");
        return;
    }
    event->set();
    std::lock_guard<std::mutex> lock(g_stateMutex);
    g_initEvent = std::move(event);
}

void closeSyncEvent() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    g_initEvent.reset();
}

bool createMonitorPID(const wchar_t* pathName, const wchar_t* fileName) {
    RkLogWrapper* log = getRkLogFs();
    if (pathName == nullptr || fileName == nullptr) {
        LOG_TRACE(log,
                  "[vigil]::createMonitorPID - pathName and/or fileName are/is null pointer/s\n");
        return false;
    }
    const size_t pathLength = std::wcslen(pathName);
    const bool endsWithSeparator =
        pathLength > 0 && pathName[pathLength - 1] == platform::kPathSeparator;
    const size_t needed = pathLength + (endsWithSeparator ? 1 : 2) + std::wcslen(fileName);
    if (needed > platform::kMaxPath) {
        LOG_TRACE(log, "[vigil]::createMonitorPID - pathFileNameSize > MAXPATH!\n");
        return false;
    }
    const std::wstring path = PathHelper::joinPath(pathName, fileName);
    LOG_TRACE(log, "[vigil]::createMonitorPID - writing monitor process ID... [%S]\n",
              path.c_str());

    // The directory may be writable by others: the file is written anew and renamed into place,
    // never through whatever someone put at its name.
    const uint32_t pid = sysinfo::currentProcessId();
    const uint8_t bytes[4] = {static_cast<uint8_t>(pid), static_cast<uint8_t>(pid >> 8),
                              static_cast<uint8_t>(pid >> 16), static_cast<uint8_t>(pid >> 24)};
    const FileProblem problem = OsFile::replaceWhole(path.c_str(), bytes, sizeof bytes);
    if (problem == FileProblem::None) {
        std::lock_guard<std::mutex> lock(g_stateMutex);
        g_pidPath = path;
        LOG_TRACE(log, "[vigil]::createMonitorPID - monitor process ID written!\n");
        return true;
    }
    const uint32_t error = sysinfo::lastError();
    LOG_TRACE(log, "[vigil]::createMonitorPID - unable to create [%S] file!\n", path.c_str());
    LOG_TRACE(log, "[vigil]::createMonitorPID - cannot replace [%S]: %s\n", path.c_str(),
              describeFileProblem(problem, error).c_str());
    std::lock_guard<std::mutex> lock(g_stateMutex);
    g_pidPath.clear();
    return false;
}

bool removeMonitorPID() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    if (g_pidPath.empty())
        return false;
    return removeFile(g_pidPath.c_str()) == 0;
}

bool consoleCtrlHandler(unsigned long controlType) {
    switch (controlType) {
        case 0:  // Ctrl+C
        case 1:  // Ctrl+Break
        case 2:  // console closed
        case 5:  // log-off
        case 6:  // shut-down
            monitorControlWork();
            break;
        default:
            break;
    }
    return false;
}

int vigilMain(int argc, char** argv) {
    // Until the working directory is known the log goes to stderr (or where VIGIL_LOG says):
    // nothing is written into the caller's current directory.
    RkLogWrapper* log = getRkLogFs();
    const bool registered = registerConsoleCtrlHandler(consoleCtrlHandler);
    std::setlocale(LC_ALL, "");
    if (!registered) {
        LOG_EXIT(log, "[vigil]::main - could not set control handler\n");
        return 1;
    }
    if (argc < 7) {
        LOG_EXIT(log, "[vigil]::main - bad number of parameters! [%d<7]\n", argc);
        return 1;
    }

    MonitorArguments args;
    args.directoriesTable = toWide(argv[1]);
    args.filesTable = toWide(argv[2]);
    args.workingDirectory = toWide(argv[3]);
    args.providerName = argv[4];
    args.pathList = toWide(argv[5]);
    const std::wstring command = toWide(argv[6]);
    const wchar_t* wd = args.workingDirectory.c_str();

    // The log of a monitor lives in its working directory.
    log->setDefaultFile(PathHelper::joinPath(args.workingDirectory, L"vigil.log").c_str());

    // Both event names are derived from the working directory; a directory that is not a valid
    // path cannot name them.
    if (args.workingDirectory.size() >= platform::kMaxPath) {
        LOG_TRACE(log, "[vigil]::main - working directory too long! [%d>=%d]\n",
                  static_cast<int>(args.workingDirectory.size()),
                  static_cast<int>(platform::kMaxPath));
        return 1;
    }
    if (args.providerName.size() >= platform::kMaxPath) {
        LOG_TRACE(log, "[vigil]::main - provider name too long! [%d>=%d]\n",
                  static_cast<int>(args.providerName.size()), static_cast<int>(platform::kMaxPath));
        signalSyncEvent(wd);
        closeSyncEvent();
        return 1;
    }

    const std::wstring stopName = eventName(wd, kStopEventSuffix);
    std::unique_ptr<NamedEvent> stopEvent = NamedEvent::create(stopName.c_str(), true, false);
    if (!stopEvent) {
        LOG_TRACE(log, "[vigil]::main - cannot create event '%ls'!\n",
                  eventNameBody(wd, kStopEventSuffix).c_str());
        signalSyncEvent(wd);
        closeSyncEvent();
        return 1;
    }
    const bool stopEventExisted = stopEvent->alreadyExisted();

    // The configuration object and the cache settings, for every command (only a monitor uses
    // them). collectFlags 31 leaves content digests off.
    ProcessConfig config;
    config.settings = &g_cacheSettings;

    int exitCode = 1;
    if (command == L"stop") {
        LOG_TRACE(log, "[vigil]::main - called to stop monitor...\n");
        stopEvent->set();
        signalSyncEvent(wd);
        closeSyncEvent();
        exitCode = 0;
    } else if (command != L"start") {
        LOG_TRACE(log, "[vigil]::main - must specify 'start' or 'stop'!\n");
        signalSyncEvent(wd);
        closeSyncEvent();
    } else if (stopEventExisted) {
        LOG_TRACE(log, "[vigil]::main - another instance of this program is already running!\n");
    } else if (startMonitorProcess(args, config)) {
        writeMonitorPID(wd);
        signalSyncEvent(wd);
        LOG_TRACE(log, "[vigil]::main - waiting for termination signal...\n");
        if (stopEvent->wait() != 0) {
            // Nothing can tell this instance to stop any more: stop now rather than hang.
            LOG_TRACE(log, "[vigil]::main - wait for termination signal failed! [error %u]\n",
                      static_cast<unsigned>(sysinfo::lastError()));
        }
        LOG_TRACE(log, "[vigil]::main - stopping monitor...\n");
        stopMonitorProcess();
        exitCode = 0;
    }
    return exitCode;
}
