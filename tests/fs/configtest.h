// Points the configuration store at a file of the test's own (VIGIL_CONFIG) and back.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fs/orbcfg.h"
#include "testsupport.h"

class ConfigFile : public ::testing::Test {
  protected:
    ~ConfigFile() override {
        testsupport::setEnv(L"VIGIL_CONFIG", nullptr);
        OrbCfg::reload();
    }
    // Writes text to a file and makes it the configuration.
    void use(const std::string& text) {
        const auto path = dir_.path() / "test.ini";
        testsupport::writeText(path, text);
        useFile(path.wstring());
    }
    void useFile(const std::wstring& path) {
        testsupport::setEnv(L"VIGIL_CONFIG", path.c_str());
        OrbCfg::reload();
    }

    testsupport::TempDir dir_;
};
