// tests/host/core/ClassesThreadTest.cpp - worker threads with real OS threads: start, stop,
// hand-over of calls to the main thread in the message loop, in CheckSynchronize and while the
// main thread destroys the worker; errors crossing back to the worker.
#include "host/core/ClassesThread.h"

#include "platform/ProcessImage.h"
#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace host;

namespace {

// Waits until APredicate holds, serving synchronized calls; false after five seconds.
template <typename P>
bool ServeUntil(P APredicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        CheckSynchronize();
        std::this_thread::yield();
    }
    return true;
}

class TLambdaThread : public TThread {
public:
    template <typename F>
    TLambdaThread(bool ASuspended, F ABody)
        : TThread(ASuspended)
        , FBody(TEvent<void(TLambdaThread*)>::FromCallable(std::move(ABody))) {}

    using TThread::SetReturnValue;
    using TThread::Synchronize;

protected:
    void Execute() override { FBody(this); }

private:
    TEvent<void(TLambdaThread*)> FBody;
};

class TClassesThreadTest : public jex::test::THeadlessFixture {};

} // namespace

using TThreadTest = TClassesThreadTest;

TEST_F(TThreadTest, SuspendedThreadRunsOnlyAfterStartAndReturnsItsValue) {
    std::atomic<bool> ran{false};
    std::unique_ptr<TLambdaThread> thread(CreateThread<TLambdaThread>(true, [&](TLambdaThread* T) {
        ran = true;
        T->SetReturnValue(7);
    }));
    EXPECT_TRUE(thread->Suspended());
    EXPECT_FALSE(ran.load());
    thread->Start();
    EXPECT_EQ(thread->WaitFor(), 7);
    EXPECT_TRUE(ran.load());
    EXPECT_TRUE(thread->Finished());
}

TEST_F(TThreadTest, SynchronizeRunsOnTheMainThreadWhileTheApplicationRuns) {
    std::atomic<bool> onMain{false};
    std::unique_ptr<TLambdaThread> thread(CreateThread<TLambdaThread>(false, [&](TLambdaThread* T) {
        T->Synchronize([&] {
            onMain = platform::IsMainThread();
            Application->Terminate();
        });
    }));
    Application->Run();
    EXPECT_TRUE(onMain.load());
    thread->WaitFor();
}

TEST_F(TThreadTest, SynchronizeIsServedByCheckSynchronize) {
    std::atomic<int> value{0};
    std::unique_ptr<TLambdaThread> thread(CreateThread<TLambdaThread>(
        false, [&](TLambdaThread* T) { T->Synchronize([&] { value = 5; }); }));
    ASSERT_TRUE(ServeUntil([&] { return thread->Finished(); }));
    EXPECT_EQ(value.load(), 5);
}

TEST_F(TThreadTest, DestroyingAWorkerThatWaitsInSynchronizeServesItAndDoesNotDeadlock) {
    std::atomic<bool> waiting{false};
    std::atomic<bool> servedTerminated{false};
    auto* thread = CreateThread<TLambdaThread>(false, [&](TLambdaThread* T) {
        waiting = true;
        T->Synchronize([&] { servedTerminated = T->Terminated(); });
        while (!T->Terminated())
            std::this_thread::yield();
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!waiting && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    while (!SynchronizePending() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    delete thread; // terminates, then serves the pending call while it waits
    EXPECT_TRUE(servedTerminated.load());
}

TEST_F(TThreadTest, ExceptionInASynchronizedCallIsRaisedInTheWorker) {
    std::atomic<bool> caught{false};
    bool mainSawIt = false;
    Application->SetOnException(
        TExceptionEvent::FromCallable([&](TObject*, Exception*) { mainSawIt = true; }));
    std::unique_ptr<TLambdaThread> thread(CreateThread<TLambdaThread>(false, [&](TLambdaThread* T) {
        try {
            T->Synchronize([] { throw EConvertError("on main"); });
        } catch (const EConvertError& e) {
            caught = std::string(e.Message()) == "on main";
        }
    }));
    ASSERT_TRUE(ServeUntil([&] { return thread->Finished(); }));
    EXPECT_TRUE(caught.load());
    EXPECT_FALSE(mainSawIt);
}

TEST_F(TThreadTest, ExecuteExceptionIsKeptAsFatalException) {
    std::unique_ptr<TLambdaThread> thread(CreateThread<TLambdaThread>(
        false, [](TLambdaThread*) { throw std::runtime_error("worker failed"); }));
    thread->WaitFor();
    ASSERT_TRUE(thread->FatalException());
    EXPECT_THROW(std::rethrow_exception(thread->FatalException()), std::runtime_error);
}

TEST_F(TThreadTest, OnTerminateRunsOnTheMainThreadAlsoForANeverStartedThread) {
    std::atomic<bool> executed{false};
    bool terminatedOnMain = false;
    auto* thread = CreateThread<TLambdaThread>(true, [&](TLambdaThread*) { executed = true; });
    thread->SetOnTerminate(
        TNotifyEvent::FromCallable([&](TObject*) { terminatedOnMain = platform::IsMainThread(); }));
    delete thread;
    EXPECT_FALSE(executed.load()); // Terminated was set before it first ran
    EXPECT_TRUE(terminatedOnMain);
}

TEST_F(TThreadTest, FreeOnTerminateThreadDeletesItself) {
    std::atomic<bool> done{false};
    auto* thread = CreateThread<TLambdaThread>(true, [&](TLambdaThread*) {});
    thread->SetFreeOnTerminate(true);
    thread->SetOnTerminate(TNotifyEvent::FromCallable([&](TObject*) { done = true; }));
    EXPECT_THROW(thread->WaitFor(), EThread);
    thread->Start();
    ASSERT_TRUE(ServeUntil([&] { return done.load(); }));
}

TEST_F(TThreadTest, CheckSynchronizeRefusesOtherThreads) {
    std::string message;
    std::thread other([&] {
        try {
            CheckSynchronize();
        } catch (const EThread& e) {
            message = e.Message();
        }
    });
    other.join();
    EXPECT_NE(message.find("CheckSynchronize called from thread $"), std::string::npos);
    EXPECT_NE(message.find(", which is NOT the main thread"), std::string::npos);
}

TEST_F(TThreadTest, SynchronizeOnTheMainThreadCallsDirectly) {
    int calls = 0;
    TThread::Synchronize(nullptr, TThreadMethod::FromCallable([&] { ++calls; }));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(CheckSynchronize());
}

TEST_F(TThreadTest, ProcessMessagesServesAPendingSynchronize) {
    std::atomic<bool> ran{false};
    std::unique_ptr<TLambdaThread> thread(CreateThread<TLambdaThread>(
        false, [&](TLambdaThread* T) { T->Synchronize([&] { ran = true; }); }));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ran && std::chrono::steady_clock::now() < deadline) {
        Application->ProcessMessages();
        std::this_thread::yield();
    }
    EXPECT_TRUE(ran.load());
}
