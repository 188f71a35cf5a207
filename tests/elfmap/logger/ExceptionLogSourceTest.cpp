// tests/elfmap/logger/ExceptionLogSourceTest.cpp - the whole path from debug information to the
// log: this program is built with line tables, elfmap writes its map beside it after linking,
// and the exception logger on a form reports unit, procedure and line of three throws made in
// three other units of the program.
#include "OrderUnit.h"
#include "PaymentUnit.h"
#include "StockUnit.h"
#include "exceptions/LogError.h"
#include "host/core/SysUtils.h"
#include "mapfile/Jexmapfile.h"
#include "tests/exceptions/ExceptionLogFixture.h"
#include "tests/support/MessageLoop.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace host;
using namespace jex;

namespace {

using jex::test::RaiseThroughLoop;

class TJexExceptionLogTest : public jex::test::TExceptionLogFixture {
protected:
    /// A logger on a form of the application that reads the map beside this program and writes
    /// class, message and source position of every exception to the test's log.
    TJexExceptionLog* NewMapLogger() {
        TJexExceptionLog* logger = host::Create<TJexExceptionLog>(Application->CreateForm<TForm>());
        logger->SetLogFile(LogPath());
        logger->SetFormats({lfExceptionClassName, lfMessage, lfSourceLine});
        logger->SetErrorDialog(edNone);
        logger->SetActive(true);
        return logger;
    }

    static std::string SourceBlock(const std::string& AUnit, const std::string& AProcedure,
                                   int ALine) {
        return "\r\nUnit: " + AUnit + "\r\nProcedure: " + AProcedure +
               "\r\nLine No: " + std::to_string(ALine);
    }

    /// The log split at every "Classname: ", the text before the first one dropped.
    static std::vector<std::string> Reports(const std::string& ALog) {
        static const std::string marker = "\r\nClassname: ";
        std::vector<std::string> reports;
        std::size_t at = ALog.find(marker);
        while (at != std::string::npos) {
            const std::size_t next = ALog.find(marker, at + marker.size());
            reports.push_back(ALog.substr(at + marker.size(), next == std::string::npos
                                                                  ? std::string::npos
                                                                  : next - at - marker.size()));
            at = next;
        }
        return reports;
    }

    /// The source position ends the report, followed only by the report's closing mark.
    static bool EndsWith(const std::string& AReport, const std::string& ABlock) {
        const std::string tail = ABlock + "?";
        return AReport.size() >= tail.size() &&
               AReport.compare(AReport.size() - tail.size(), tail.size(), tail) == 0;
    }
};

} // namespace

TEST_F(TJexExceptionLogTest, ThrowsInThreeUnitsAreLoggedWithTheirUnitProcedureAndLine) {
    TJexExceptionLog* logger = NewMapLogger();
    const std::string mapName = Application->ExeName() + ".map";
    ASSERT_EQ(logger->MapFile().MapFileName(), mapName);
    ASSERT_TRUE(FileExists(mapName)) << "the build writes " << mapName << " after linking";

    RaiseThroughLoop([] { shop::RefuseOrder(3); });
    RaiseThroughLoop([] {
        shop::TTill till;
        till.Decline(250);
    });
    RaiseThroughLoop([] { CountStock(7); });

    EXPECT_TRUE(logger->MapFile().MapLoaded());
    EXPECT_TRUE(Shown("MessageDlg").empty()) << "no dialog with ErrorDialog edNone";
    // One report per throw, in order, each ending with the source position and the report's end.
    const std::vector<std::string> reports = Reports(LogText());
    ASSERT_EQ(reports.size(), 3u) << LogText();
    EXPECT_EQ(reports[0].rfind("EListError\r\nMessage: Exception EListError", 0), 0u) << reports[0];
    EXPECT_NE(reports[0].find("\r\nOrder of 3 refused."), std::string::npos) << reports[0];
    EXPECT_TRUE(EndsWith(
        reports[0], SourceBlock("OrderUnit", "shop::RefuseOrder(int)", shop::RefuseOrderLine())))
        << reports[0];
    EXPECT_EQ(reports[1].rfind("EConvertError\r\nMessage: Exception EConvertError", 0), 0u)
        << reports[1];
    EXPECT_NE(reports[1].find("\r\nPayment of 250 declined."), std::string::npos) << reports[1];
    EXPECT_TRUE(EndsWith(
        reports[1], SourceBlock("PaymentUnit", "shop::TTill::Decline(int)", shop::DeclineLine())))
        << reports[1];
    EXPECT_EQ(reports[2].rfind("std::out_of_range\r\nMessage: Exception std::out_of_range", 0), 0u)
        << reports[2];
    EXPECT_NE(reports[2].find("\r\nNo stock of item 7."), std::string::npos) << reports[2];
    EXPECT_TRUE(EndsWith(reports[2], SourceBlock("StockUnit", "CountStock(int)", CountStockLine())))
        << reports[2];
}
