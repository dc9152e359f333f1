// A test with a folder of its own under the system's temporary folder, removed with everything in
// it when the test ends, and the core log switched on meanwhile: outbox and delivery tests read
// what their code logs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "orba/Logger.h"

namespace OrbaTest {

class ScratchFolderTest : public ::testing::Test {
protected:
    explicit ScratchFolderTest(const std::string& prefix) : prefix_(prefix) {}

    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                (prefix_ + std::to_string(std::random_device()()));
        std::filesystem::create_directories(root_);
        ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    }
    void TearDown() override {
        ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(false);
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }

    std::string folder() const { return root_.u8string(); }

    std::filesystem::path root_;

private:
    std::string prefix_;
};

}  // namespace OrbaTest
