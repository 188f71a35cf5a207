// tests/exceptions/ExceptionLogFixture.h - the application on the headless widgetset, fixed
// date and time formats, recorded system figures and a temporary folder for logs and maps.
#pragma once

#include "exceptions/LogError.h"
#include "host/forms/Forms.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"
#include "platform/PlatformServices.h"
#include "platform/SystemInfo.h"
#include "platform/fake/FakeSystemInfo.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace jex::test {

class TExceptionLogFixture : public ::testing::Test {
protected:
    TExceptionLogFixture()
        : FServices(platform::TPlatformServices{&FSystem, nullptr, nullptr, nullptr}) {
        FSystem.Computer = "PC7";
        FSystem.User = "ann";
    }

    void SetUp() override {
        FSavedSettings = host::FormatSettings();
        host::TFormatSettings& settings = host::FormatSettings();
        settings.ShortDateFormat = "dd.mm.yyyy";
        settings.LongTimeFormat = "hh:nn:ss";
        settings.DateSeparator = '.';
        settings.TimeSeparator = ':';
        auto ws = std::make_unique<host::THeadlessWidgetSet>();
        FWidgetSet = ws.get();
        host::InitApplication(std::move(ws));
        host::Application->SetTitle("Orders");
    }

    void TearDown() override {
        host::DoneApplication();
        host::FormatSettings() = FSavedSettings;
    }

    host::THeadlessWidgetSet& WS() { return *FWidgetSet; }

    /// A logger on AOwner writing to "app.log" in the test's folder, the map pointed at a file
    /// of the folder that does not exist.
    TJexExceptionLog* NewLogger(host::TComponent* AOwner) {
        TJexExceptionLog* logger = host::Create<TJexExceptionLog>(AOwner);
        logger->SetLogFile(LogPath());
        logger->MapFile().SetMapFileName(FTemp.File("absent.map"));
        logger->SetActive(true);
        return logger;
    }

    std::string LogPath() const { return FTemp.File("app.log"); }

    std::string LogText() const { return ReadFileBytes(LogPath()); }

    /// The lines of the widgetset log that start with APrefix.
    std::vector<std::string> Shown(const std::string& APrefix) const {
        std::vector<std::string> lines;
        for (const std::string& line : FWidgetSet->Log())
            if (line.rfind(APrefix, 0) == 0)
                lines.push_back(line);
        return lines;
    }

    TempDir FTemp;
    platform::TFakeSystemInfo FSystem;
    platform::TScopedPlatformServices FServices;
    host::THeadlessWidgetSet* FWidgetSet = nullptr;
    host::TFormatSettings FSavedSettings;
};

} // namespace jex::test
