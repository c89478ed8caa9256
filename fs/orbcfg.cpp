#include "orbcfg.h"

#include <mutex>
#include <unordered_map>

#include "inifile.h"
#include "log/rklog.h"
#include "system/osfile.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "text/strutil.h"

namespace {

constexpr char kLogModule[] = "fs/orbcfg";
constexpr wchar_t kConfigVariable[] = L"VIGIL_CONFIG";
constexpr wchar_t kDefaultFileName[] = L"vigil.ini";
// A configuration file is small; anything larger is not one.
constexpr size_t kMaxFileSize = 1 << 20;

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The file's bytes, or the platform error number.
bool readFile(const std::wstring& path, std::string& bytes, uint32_t& error) {
    OsFile file = OsFile::openRead(path.c_str());
    if (!file.valid()) {
        error = sysinfo::lastError();
        return false;
    }
    char buffer[16384];
    for (;;) {
        const long long n = file.read(buffer, sizeof buffer);
        if (n < 0) {
            error = sysinfo::lastError();
            return false;
        }
        if (n == 0)
            return true;
        if (bytes.size() + static_cast<size_t>(n) > kMaxFileSize) {
            error = sysinfo::kErrorFileTooLargeCode;
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

class Store {
  public:
    String get(const String& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        load();
        auto it = values_.find(lowerAscii(key));
        return it == values_.end() ? String() : it->second;
    }

    int error() {
        std::lock_guard<std::mutex> lock(mutex_);
        load();
        return error_;
    }

    std::wstring fileName() {
        std::lock_guard<std::mutex> lock(mutex_);
        load();
        return fileName_;
    }

    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        loaded_ = false;
        values_.clear();
        error_ = 0;
        fileName_.clear();
    }

  private:
    // Called with the mutex held.
    void load() {
        if (loaded_)
            return;
        loaded_ = true;
        RkLogWrapper* log = getRkLogFs();

        std::wstring path;
        bool explicitFile = false;
        if (auto named = sysinfo::getEnv(kConfigVariable); named && !named->empty()) {
            path = *named;
            explicitFile = true;
        } else {
            std::wstring directory, name;
            if (!splitAtLast(sysinfo::executablePath().c_str(), platform::kPathSeparator, directory,
                             name))
                return;
            path = directory + kDefaultFileName;
        }

        std::string bytes;
        uint32_t code = 0;
        if (!readFile(path, bytes, code)) {
            // No file beside the executable simply means no configuration.
            if (explicitFile || (code != sysinfo::kErrorFileNotFoundCode &&
                                 code != sysinfo::kErrorPathNotFoundCode)) {
                LOG_TRACE(log, "OrbCfg - unable to read configuration file '%ls' (error %u)\n",
                          path.c_str(), static_cast<unsigned>(code));
                error_ = static_cast<int>(code);
            }
            return;
        }
        fileName_ = path;

        const IniText ini = parseIni(bytes.data(), bytes.size());
        for (size_t line : ini.badLines) {
            LOG_TRACE(log, "OrbCfg - invalid line %u in '%ls' skipped\n",
                      static_cast<unsigned>(line), path.c_str());
        }
        if (!ini.badLines.empty())
            error_ = -1;
        for (const IniEntry& entry : ini.entries) {
            const bool added =
                values_.emplace(lowerAscii(entry.section + "." + entry.key), entry.value).second;
            if (!added) {
                LOG_TRACE(log, "OrbCfg - key '%s.%s' repeated in line %u of '%ls', ignored\n",
                          entry.section.c_str(), entry.key.c_str(),
                          static_cast<unsigned>(entry.line), path.c_str());
            }
        }
    }

    std::mutex mutex_;
    bool loaded_ = false;
    std::unordered_map<std::string, std::string> values_;
    int error_ = 0;
    std::wstring fileName_;
};

Store& store() {
    static Store instance;
    return instance;
}

}  // namespace

String OrbCfg::getKey(const String& key) {
    return store().get(key);
}

int OrbCfg::getError() {
    return store().error();
}

void OrbCfg::reload() {
    store().reset();
}

std::wstring OrbCfg::fileName() {
    return store().fileName();
}
