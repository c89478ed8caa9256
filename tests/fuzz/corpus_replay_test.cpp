// Every file of the fuzz corpora runs through the entry of its target, natively under the
// sanitizers and on Windows, so that an input that once broke a target stays fixed everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzzentry.h"
#include "testsupport.h"

namespace fs = std::filesystem;

namespace {

const fs::path& corpusRoot() {
    static const fs::path root(VIGIL_FUZZ_CORPUS);
    return root;
}

std::vector<fs::path> sortedEntries(const fs::path& folder, bool directories) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_directory() == directories)
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> corpusFolders() {
    std::vector<std::string> names;
    for (const fs::path& folder : sortedEntries(corpusRoot(), true))
        names.push_back(folder.filename().string());
    return names;
}

class CorpusReplay : public ::testing::TestWithParam<std::string> {
  protected:
    static void SetUpTestSuite() { fuzz::prepareProcess(); }
};

TEST_P(CorpusReplay, EveryInputPassesItsEntry) {
    const fuzz::Entry* entry = fuzz::findEntry(GetParam());
    ASSERT_NE(entry, nullptr) << "no fuzz entry for the corpus folder " << GetParam();
    const std::vector<fs::path> files = sortedEntries(corpusRoot() / GetParam(), false);
    ASSERT_FALSE(files.empty());
    for (const fs::path& file : files) {
        // A broken check or a sanitizer report ends the program: the last name printed is the
        // input that did it.
        std::fprintf(stderr, "replaying %s\n", file.string().c_str());
        std::fflush(stderr);
        const std::vector<uint8_t> bytes = testsupport::readBytes(file);
        entry->run(bytes.data(), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusReplay, ::testing::ValuesIn(corpusFolders()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

TEST(CorpusReplayCoverage, EveryEntryHasACorpusFolder) {
    ASSERT_FALSE(fuzz::entries().empty());
    const std::vector<std::string> folders = corpusFolders();
    for (const fuzz::Entry& entry : fuzz::entries())
        EXPECT_NE(std::find(folders.begin(), folders.end(), entry.name), folders.end())
            << "no corpus folder for the fuzz entry " << entry.name;
}

}  // namespace
