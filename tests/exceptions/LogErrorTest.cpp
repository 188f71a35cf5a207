// tests/exceptions/LogErrorTest.cpp - TJexExceptionLog: the class filter, the hook chain of one
// or several loggers, the handling of one exception and its containment of failures, and the
// stored form.
#include "exceptions/LogError.h"

#include "ExceptionLogFixture.h"
#include "mapfile/Jexmapfile.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/support/MessageLoop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

using namespace host;
using namespace jex;

namespace {

using jex::test::RaiseThroughLoop;

class TJexExceptionLogTest : public jex::test::TExceptionLogFixture {
protected:
    std::vector<std::string> ModalForms() const { return Shown("ShowModal"); }

    std::vector<std::string> MessageBoxes() const { return Shown("MessageDlg"); }
};

class TMyConvertError : public EConvertError {
public:
    using EConvertError::EConvertError;
};

class TMyOwnError : public Exception {
public:
    using Exception::Exception;
};

} // namespace

// ---- The class filter -------------------------------------------------------------------------

TEST_F(TJexExceptionLogTest, DefaultFiltersLogEveryClassListedOrNot) {
    TJexExceptionLog* logger = NewLogger(nullptr);
    std::unique_ptr<TJexExceptionLog> owned(logger);
    EXPECT_TRUE(logger->CanLogException(&*std::make_unique<EDivByZero>("x")));
    EXPECT_TRUE(logger->CanLogException(&*std::make_unique<EInvalidGraphic>("x")));
    EXPECT_TRUE(logger->CanLogException(&*std::make_unique<EThread>("x")));
    EXPECT_TRUE(logger->CanLogException(&*std::make_unique<EStackOverflow>("x")));
    EXPECT_TRUE(logger->CanLogException(&*std::make_unique<TMyOwnError>("x")));
    EXPECT_TRUE(
        logger->CanLogException(&*std::make_unique<EForeignException>("std::bad_alloc", "")));
    EXPECT_EQ(logger->FilterStandard().Bits(), 1073741823u);
    EXPECT_EQ(logger->FilterClasses().Bits(), 262143u);
    EXPECT_EQ(logger->FilterGraphics().Bits(), 3u);
    EXPECT_EQ(logger->Formats().Bits(), 951u);
    EXPECT_EQ(logger->Options().Bits(), 3u);
    EXPECT_EQ(logger->ErrorDialog(), edExtended);
}

TEST_F(TJexExceptionLogTest, EachExceptionIsJudgedByItsOwnOrItsNearestListedAncestorsMember) {
    std::unique_ptr<TJexExceptionLog> logger(NewLogger(nullptr));
    const EIntError intError("x");
    const EDivByZero divByZero("x");
    const ERangeError rangeError("x");
    const EOutOfMemory outOfMemory("x");
    const EOutOfResources outOfResources("x");
    const EReadError readError("x");
    const EFilerError filerError("x");
    const EStreamError streamError("x");
    const TMyConvertError myConvert("x");
    const TMyOwnError myOwn("x");
    const EInvalidGraphicOperation graphicOp("x");

    logger->SetFilterStandard(DefaultFilterStandard - TJexExceptionStandards{efIntError});
    EXPECT_FALSE(logger->CanLogException(&intError));
    EXPECT_TRUE(logger->CanLogException(&divByZero));

    logger->SetFilterStandard(DefaultFilterStandard - TJexExceptionStandards{efDivByZero});
    EXPECT_FALSE(logger->CanLogException(&divByZero));
    EXPECT_TRUE(logger->CanLogException(&intError));
    EXPECT_TRUE(logger->CanLogException(&rangeError));

    logger->SetFilterStandard(DefaultFilterStandard - TJexExceptionStandards{efOutOfMemory});
    EXPECT_FALSE(logger->CanLogException(&outOfMemory));
    EXPECT_TRUE(logger->CanLogException(&outOfResources));
    logger->SetFilterClasses(DefaultFilterClasses - TJexExceptionClasses{efOutOfResources});
    EXPECT_FALSE(logger->CanLogException(&outOfResources));

    // An application's class derived from a listed one follows that class's member.
    logger->SetFilterStandard(DefaultFilterStandard - TJexExceptionStandards{efConvertError});
    EXPECT_FALSE(logger->CanLogException(&myConvert));
    logger->SetFilterStandard({});
    logger->SetFilterClasses({});
    logger->SetFilterGraphics({});
    EXPECT_TRUE(logger->CanLogException(&myOwn));
    EXPECT_FALSE(logger->CanLogException(&graphicOp));

    logger->SetFilterClasses(DefaultFilterClasses - TJexExceptionClasses{efFilerError});
    EXPECT_TRUE(logger->CanLogException(&readError));
    EXPECT_FALSE(logger->CanLogException(&filerError));
    EXPECT_TRUE(logger->CanLogException(&streamError));
}

TEST_F(TJexExceptionLogTest, TurnedAwayExceptionIsShownPlainlyAndNotLogged) {
    TForm* form = Application->CreateForm<TForm>();
    TJexExceptionLog* logger = NewLogger(form);
    int events = 0;
    logger->SetOnException(TExceptionEvent::FromCallable([&](TObject*, Exception*) { ++events; }));
    logger->SetFilterStandard(DefaultFilterStandard - TJexExceptionStandards{efConvertError});
    RaiseThroughLoop([] { throw TMyConvertError("Bad value"); });
    EXPECT_EQ(events, 1);
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
    EXPECT_TRUE(ModalForms().empty());
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_NE(MessageBoxes()[0].find("Bad value."), std::string::npos);
}

TEST_F(TJexExceptionLogTest, InactiveLoggerStillCallsTheEventsButLogsNothing) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetActive(false);
    int events = 0;
    logger->SetOnException(TExceptionEvent::FromCallable([&](TObject*, Exception*) { ++events; }));
    RaiseThroughLoop([] { throw EInvalidOperation("Nope"); });
    EXPECT_EQ(events, 1);
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
    EXPECT_EQ(MessageBoxes().size(), 1u);
}

// ---- Hooking --------------------------------------------------------------------------------

TEST_F(TJexExceptionLogTest, RunTimeLoggerHooksWhateverActiveSaysAndDesignTimeLoggerDoesNot) {
    TJexExceptionLog* logger = Create<TJexExceptionLog>(nullptr);
    std::unique_ptr<TJexExceptionLog> owned(logger);
    EXPECT_FALSE(logger->Active());
    EXPECT_EQ(Application->OnException(), TExceptionEvent(logger, &TJexExceptionLog::DoException));
    EXPECT_EQ(std::filesystem::path(logger->MapFile().MapFileName()).filename(),
              std::filesystem::path(Application->ExeName()).filename().string() + ".map");
    EXPECT_FALSE(logger->MapFile().MapLoaded());
    owned.reset();
    EXPECT_FALSE(Application->OnException().Assigned());

    const auto designers = TExceptionEvent::FromCallable([](TObject*, Exception*) {});
    Application->SetOnException(designers);
    std::unique_ptr<TForm> designed(Create<TForm>(nullptr));
    designed->SetDesigning(true);
    TJexExceptionLog* onDesigner = Create<TJexExceptionLog>(designed.get());
    EXPECT_TRUE(onDesigner->ComponentState().Contains(csDesigning));
    EXPECT_EQ(Application->OnException(), designers);
    EXPECT_FALSE(onDesigner->PreviousHandler().Assigned());
    designed.reset();
    EXPECT_EQ(Application->OnException(), designers);
}

TEST_F(TJexExceptionLogTest, PreviousHandlerRunsFirstAndIsPutBackWhenTheLoggerGoes) {
    std::vector<std::string> calls;
    const auto previous = TExceptionEvent::FromCallable([&](TObject* ASender, Exception* E) {
        EXPECT_EQ(ASender, Application);
        calls.push_back("previous " + E->Message());
    });
    Application->SetOnException(previous);
    TJexExceptionLog* logger = NewLogger(nullptr);
    logger->SetErrorDialog(edNone);
    logger->SetOnException(TExceptionEvent::FromCallable(
        [&](TObject*, Exception* E) { calls.push_back("own " + E->Message()); }));
    RaiseThroughLoop([] { throw EListError("one"); });
    EXPECT_EQ(calls, (std::vector<std::string>{"previous one", "own one"}));
    delete logger;
    EXPECT_EQ(Application->OnException(), previous);
}

TEST_F(TJexExceptionLogTest, SeveralLoggersKeepAValidChainWhicheverGoesFirst) {
    std::vector<std::string> calls;
    const auto make = [&](const char* AName) {
        TJexExceptionLog* logger = NewLogger(nullptr);
        logger->SetName(AName);
        logger->SetErrorDialog(edNone);
        logger->SetActive(false);
        logger->SetOnException(TExceptionEvent::FromCallable(
            [&calls, AName](TObject*, Exception*) { calls.push_back(AName); }));
        return logger;
    };
    TJexExceptionLog* first = make("first");
    TJexExceptionLog* second = make("second");
    TJexExceptionLog* third = make("third");
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second", "third"}));

    // The middle one goes: the last one now calls the first directly.
    delete second;
    calls.clear();
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third"}));

    // The first one goes while it is not installed: nobody calls it any more.
    delete first;
    EXPECT_FALSE(third->PreviousHandler().Assigned());
    calls.clear();
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_EQ(calls, (std::vector<std::string>{"third"}));

    delete third;
    EXPECT_FALSE(Application->OnException().Assigned());
}

TEST_F(TJexExceptionLogTest, LoggerReplacedByTheApplicationLeavesTheNewHandlerInPlace) {
    TJexExceptionLog* logger = NewLogger(nullptr);
    const auto replacement = TExceptionEvent::FromCallable([](TObject*, Exception*) {});
    Application->SetOnException(replacement);
    delete logger;
    EXPECT_EQ(Application->OnException(), replacement);
}

// ---- Handling one exception -------------------------------------------------------------------

TEST_F(TJexExceptionLogTest, EmptyFormatsGiveAQuestionMarkThatTheEventStillReceives) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetFormats({});
    logger->SetErrorDialog(edNone);
    std::string seen;
    logger->SetOnSaveException(TJexLSaveExceptionEvent::FromCallable(
        [&](TObject*, Exception*, std::string& AText, bool& AAccept) {
            seen = AText;
            EXPECT_TRUE(AAccept);
        }));
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_EQ(seen, "?");
    EXPECT_EQ(LogText(), "?");
    EXPECT_TRUE(ModalForms().empty());
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(TJexExceptionLogTest, OnlySeparatorGivesTheSeparatorLineAndTheQuestionMark) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetFormats({lfSeparator});
    logger->SetErrorDialog(edNone);
    RaiseThroughLoop([] { throw EListError("x"); });
    RaiseThroughLoop([] { throw EListError("y"); });
    EXPECT_EQ(LogText(), "\r\n======\r\n?\r\n======\r\n?");
}

TEST_F(TJexExceptionLogTest, TimeWithoutDateStartsTheReportAndClassNameFollowsTheAddress) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetFormats({lfTime, lfPhysAddress, lfExceptionClassName});
    logger->SetErrorDialog(edNone);
    RaiseThroughLoop([] { throw std::out_of_range("vector::_M_range_check"); });
    const std::string log = LogText();
    ASSERT_EQ(log.size(), std::string("hh:nn:ss Phys.addr: 0040ABCD \r\nClassname: ").size() +
                              std::string("std::out_of_range?").size())
        << log;
    EXPECT_EQ(log[2], ':');
    EXPECT_EQ(log.substr(8, 12), " Phys.addr: ");
    EXPECT_EQ(log.substr(28), " \r\nClassname: std::out_of_range?");
}

TEST_F(TJexExceptionLogTest, SaveEventCanVetoOrReplaceTheReport) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetErrorDialog(edStandard);
    logger->SetOnSaveException(TJexLSaveExceptionEvent::FromCallable(
        [](TObject*, Exception* E, std::string& AText, bool& AAccept) {
            if (E->Message() == "veto")
                AAccept = false;
            else
                AText = "replaced";
        }));
    RaiseThroughLoop([] { throw EListError("veto"); });
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
    EXPECT_EQ(MessageBoxes().size(), 1u) << "the dialog is still shown";
    RaiseThroughLoop([] { throw EListError("keep"); });
    EXPECT_EQ(LogText(), "replaced");
    EXPECT_EQ(MessageBoxes().size(), 2u);
}

TEST_F(TJexExceptionLogTest, ErrorDialogChoosesNothingTheStandardBoxOrTheExtendedDialog) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetFormats({});
    logger->SetErrorDialog(edNone);
    RaiseThroughLoop([] { throw EListError("none"); });
    EXPECT_TRUE(WS().Log().empty());

    logger->SetErrorDialog(edStandard);
    RaiseThroughLoop([] { throw EListError("standard"); });
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_NE(MessageBoxes()[0].find("Orders: standard."), std::string::npos);
    EXPECT_TRUE(ModalForms().empty());

    logger->SetErrorDialog(edExtended);
    RaiseThroughLoop([] { throw EListError("extended"); });
    EXPECT_EQ(MessageBoxes().size(), 1u);
    EXPECT_EQ(ModalForms(),
              (std::vector<std::string>{"ShowModal TfrmJexLogErrorDialog frmJexLogErrorDialog"}));
    EXPECT_EQ(logger->ComponentCount(), 0) << "the dialog is destroyed after it closes";
    EXPECT_EQ(LogText(), "???");
}

TEST_F(TJexExceptionLogTest, EmptyLogFileSkipsTheReportButNotTheDialog) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetLogFile("");
    bool saved = false;
    logger->SetOnSaveException(TJexLSaveExceptionEvent::FromCallable(
        [&](TObject*, Exception*, std::string&, bool&) { saved = true; }));
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_FALSE(saved);
    EXPECT_EQ(ModalForms().size(), 1u);
}

TEST_F(TJexExceptionLogTest, ExceptionWhileTheDialogIsOpenIsShownPlainlyAndNotLogged) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetFormats({lfExceptionClassName});
    bool busyInside = false;
    WS().SetModalResponder(THeadlessWidgetSet::TModalResponder::FromCallable([&](TCustomForm* F) {
        busyInside = logger->Busy();
        // A message handled while the dialog is up raises again.
        RaiseThroughLoop([] { throw EInvalidOperation("second"); });
        F->SetModalResult(mrOk);
    }));
    RaiseThroughLoop([] { throw EListError("first"); });
    EXPECT_TRUE(busyInside);
    EXPECT_FALSE(logger->Busy());
    EXPECT_EQ(LogText(), "\r\nClassname: EListError?");
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_NE(MessageBoxes()[0].find("second."), std::string::npos);
    EXPECT_EQ(ModalForms().size(), 1u);
}

// ---- Failures on the way ----------------------------------------------------------------------

TEST_F(TJexExceptionLogTest, FailingEventsDoNotLoseTheReportTheDialogOrTheBusyMark) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetFormats({lfExceptionClassName});
    logger->SetOnException(TExceptionEvent::FromCallable(
        [](TObject*, Exception*) { throw EInvalidOperation("handler broke"); }));
    logger->SetOnSaveException(TJexLSaveExceptionEvent::FromCallable(
        [](TObject*, Exception*, std::string&, bool&) { throw EConvertError("save broke"); }));
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_FALSE(logger->Busy());
    EXPECT_EQ(LogText(), "\r\nClassname: EListError?");
    EXPECT_EQ(ModalForms().size(), 1u);
    // The first failure is not swallowed either.
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_NE(MessageBoxes()[0].find("handler broke."), std::string::npos);

    // The next exception is handled normally, not as a nested one.
    logger->SetOnException({});
    logger->SetOnSaveException({});
    RaiseThroughLoop([] { throw EListError("y"); });
    EXPECT_EQ(ModalForms().size(), 2u);
}

TEST_F(TJexExceptionLogTest, AnyOneHandlerThatRaisesIsShownOnceAndTheReportIsWrittenOnce) {
    for (const char* handler : {"previous", "OnException", "OnSaveException"}) {
        SCOPED_TRACE(handler);
        std::string raising = handler;
        std::filesystem::remove(LogPath());
        WS().ClearLog();
        const auto failIf = [&raising](const char* AHandler) {
            if (raising == AHandler)
                throw EInvalidOperation(raising + " broke");
        };
        Application->SetOnException(
            TExceptionEvent::FromCallable([&](TObject*, Exception*) { failIf("previous"); }));
        TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
        logger->SetFormats({lfExceptionClassName});
        logger->SetOnException(
            TExceptionEvent::FromCallable([&](TObject*, Exception*) { failIf("OnException"); }));
        logger->SetOnSaveException(TJexLSaveExceptionEvent::FromCallable(
            [&](TObject*, Exception*, std::string&, bool&) { failIf("OnSaveException"); }));

        RaiseThroughLoop([] { throw EListError("x"); });
        EXPECT_FALSE(logger->Busy());
        EXPECT_EQ(LogText(), "\r\nClassname: EListError?");
        EXPECT_EQ(ModalForms().size(), 1u);
        ASSERT_EQ(MessageBoxes().size(), 1u);
        EXPECT_NE(MessageBoxes()[0].find(raising + " broke."), std::string::npos);

        // The handler raised once; the next exception is handled from the start again.
        raising = "none";
        RaiseThroughLoop([] { throw EConvertError("y"); });
        EXPECT_EQ(LogText(), "\r\nClassname: EListError?\r\nClassname: EConvertError?");
        EXPECT_EQ(ModalForms().size(), 2u);
        EXPECT_EQ(MessageBoxes().size(), 1u);
        delete logger;
        Application->SetOnException({});
    }
}

TEST_F(TJexExceptionLogTest, UnwritableLogStillShowsTheDialogAndReportsTheWriteError) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    logger->SetLogFile(FTemp.File("no-such-folder/app.log"));
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_FALSE(logger->Busy());
    EXPECT_EQ(ModalForms().size(), 1u);
    ASSERT_EQ(MessageBoxes().size(), 1u);
    EXPECT_NE(MessageBoxes()[0].find("no-such-folder"), std::string::npos);
}

TEST_F(TJexExceptionLogTest, UnreadableMapCountsAsNoSourcePosition) {
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    // This file opens but every read of it fails.
    logger->MapFile().SetMapFileName("/proc/self/mem");
    logger->SetFormats({lfSourceLine});
    logger->SetErrorDialog(edNone);
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_FALSE(logger->Busy());
    EXPECT_FALSE(logger->MapFile().MapLoaded()) << "the map was not read";
    EXPECT_EQ(LogText(), "\r\n?");
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(TJexExceptionLogTest, MapReadFailingWithAnIoErrorIsTriedAgainAtTheNextReport) {
    platform::TFakeFileService files;
    platform::TScopedPlatformServices services({.Files = &files});
    TJexExceptionLog* logger = NewLogger(Application->CreateForm<TForm>());
    // One code segment that holds every address.
    const std::string map = FTemp.File("app.map");
    jex::test::WriteFileBytes(map,
                              "\r\nDetailed map of segments\r\n\r\n"
                              " 0001:00000000 FFFFFFFF C=CODE     S=.text    G=(none)   M=Whole    "
                              "ACBP=A9\r\n");
    logger->MapFile().SetMapFileName(map);
    logger->SetFormats({lfSourceLine});
    logger->SetErrorDialog(edNone);
    files.Fail(platform::fkRead, 1, EIO);
    RaiseThroughLoop([] { throw EListError("x"); });
    EXPECT_EQ(LogText(), "\r\n?");
    EXPECT_FALSE(logger->MapFile().MapLoaded());
    RaiseThroughLoop([] { throw EListError("y"); });
    EXPECT_EQ(LogText(), "\r\n?\r\nUnit: Whole\r\n?");
    EXPECT_TRUE(logger->MapFile().MapLoaded());
}

// ---- Stored form ------------------------------------------------------------------------------

TEST_F(TJexExceptionLogTest, StoredFormWritesOnlyChangedSetsAndReadsThemBackMemberByMember) {
    std::unique_ptr<TForm> form(Create<TForm>(nullptr));
    form->SetName("frmMain");
    TJexExceptionLog* logger = Create<TJexExceptionLog>(form.get());
    logger->SetName("ExceptionLog");
    const std::string defaults = WriteComponentToText(form.get());
    EXPECT_EQ(defaults.find("Filter"), std::string::npos) << defaults;
    EXPECT_EQ(defaults.find("Formats"), std::string::npos) << defaults;
    EXPECT_EQ(defaults.find("ErrorDialog"), std::string::npos) << defaults;
    EXPECT_EQ(defaults.find("  Options"), std::string::npos) << defaults;

    logger->SetFilterStandard({efAbort, efConvertError});
    logger->SetFilterClasses({});
    logger->SetFilterGraphics({efInvalidGraphicOperation});
    logger->SetFormats({lfDate, lfSourceLine, lfMemoryInfo});
    logger->SetOptions({laShowSourceLine});
    logger->SetErrorDialog(edStandard);
    const std::string text = WriteComponentToText(form.get());
    EXPECT_NE(text.find("FilterStandard = [efAbort, efConvertError]"), std::string::npos) << text;
    EXPECT_NE(text.find("FilterClasses = []"), std::string::npos) << text;
    EXPECT_NE(text.find("FilterGraphics = [efInvalidGraphicOperation]"), std::string::npos);
    EXPECT_NE(text.find("Formats = [lfDate, lfSourceLine, lfMemoryInfo]"), std::string::npos);
    EXPECT_NE(text.find("Options = [laShowSourceLine]"), std::string::npos);
    EXPECT_NE(text.find("ErrorDialog = edStandard"), std::string::npos);

    std::unique_ptr<TComponent> copy(ReadComponentFromText(text));
    auto* readBack = dynamic_cast<TJexExceptionLog*>(copy->FindComponent("ExceptionLog"));
    ASSERT_NE(readBack, nullptr);
    EXPECT_EQ(readBack->FilterStandard(), (TJexExceptionStandards{efAbort, efConvertError}));
    EXPECT_TRUE(readBack->FilterClasses().Empty());
    EXPECT_EQ(readBack->FilterGraphics(), TJexExceptionGraphics{efInvalidGraphicOperation});
    EXPECT_EQ(readBack->Formats(), (TJexLFormats{lfDate, lfSourceLine, lfMemoryInfo}));
    EXPECT_EQ(readBack->Options(), TJexLAOptions{laShowSourceLine});
    EXPECT_EQ(readBack->ErrorDialog(), edStandard);
    EXPECT_EQ(WriteComponentToText(copy.get()), text);
}
