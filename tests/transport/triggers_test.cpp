// Trigger machinery driven by hand (DispatchOnce) over a scripted device and a fake clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/dispatcher.h"
#include "errors/errors.h"
#include "scripteddevice.h"

using namespace telvane;
using namespace telvane::transport;
using telvane::transport::test::ScriptedDevice;

namespace {

struct Note {
    uint32_t Msg;
    uint32_t Param;
    uint16_t Value;
};

class Triggers : public ::testing::Test {
protected:
    void Open(size_t inSize = 64, size_t outSize = 64) {
        d = std::make_unique<TOvxBaseDispatcher>(std::make_unique<ScriptedDevice>(state), clock);
        TOvxDispatcherConfig c;
        c.Path = "scripted";
        c.InSize = inSize;
        c.OutSize = outSize;
        d->openDevice(c);
    }
    void feed(const std::string& s) {
        std::lock_guard lock(state.Mu);
        state.Input.insert(state.Input.end(), s.begin(), s.end());
    }
    int record(std::vector<Note>& into) {
        return d->registerProcTriggerHandler([&into](uint32_t m, uint32_t p, int32_t l) {
            into.push_back({m, p, triggerValue(l)});
        });
    }
    std::string take(size_t n) {
        std::string s(n, '\0');
        s.resize(d->getBlock(s.data(), n));
        return s;
    }

    ScriptedDevice::State state;
    TOvxFakeClock clock;
    std::unique_ptr<TOvxBaseDispatcher> d;
};

}  // namespace

TEST_F(Triggers, DataTriggerMatchesAcrossReadsAndBufferWrapAround) {
    Open(16);
    std::vector<Note> notes;
    std::string seen;
    const int h = d->addDataTrigger("CONNECT", false);
    ASSERT_GT(h, 0);
    d->registerProcTriggerHandler([&](uint32_t m, uint32_t p, int32_t l) {
        notes.push_back({m, p, triggerValue(l)});
        seen = take(d->inBuffUsed());
    });
    // Move the ring position near its end, then split the string across two reads.
    feed("0123456789abc");
    d->dispatchOnce();
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(take(13), "0123456789abc");
    feed("\r\nCONN");
    d->dispatchOnce();
    EXPECT_TRUE(notes.empty());
    feed("ECT 9600\r");
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Msg, ovTriggerData);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(h));
    EXPECT_EQ(notes[0].Value, 7);
    EXPECT_EQ(seen, "\r\nCONNECT 9600\r");  // read back intact across the wrap
    EXPECT_EQ(d->inBuffUsed(), 0u);
}

TEST_F(Triggers, CaseFoldingOnlyWhenAsked) {
    Open();
    std::vector<Note> notes;
    record(notes);
    const int exact = d->addDataTrigger("ok", false);
    const int folded = d->addDataTrigger("ok", true);
    feed("\r\nOK\r\n");
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(folded));
    notes.clear();
    feed("ok");
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 2u);  // both, in the order they were added
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(exact));
    EXPECT_EQ(notes[1].Param, static_cast<uint32_t>(folded));
}

TEST_F(Triggers, OverlappingAndRepeatedMatchesAllFire) {
    Open();
    std::vector<Note> notes;
    record(notes);
    d->addDataTrigger("abab", false);
    feed("abababab");  // matches end at 4, 6 and 8
    d->dispatchOnce();
    EXPECT_EQ(notes.size(), 3u);
}

TEST_F(Triggers, AvailableTriggerFiresOnNewBytesWithTheCount) {
    Open();
    std::vector<Note> notes;
    record(notes);
    ASSERT_GT(d->addAvailTrigger(3), 0);
    feed("ab");
    d->dispatchOnce();
    EXPECT_TRUE(notes.empty());
    feed("c");
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Msg, ovTriggerAvail);
    EXPECT_EQ(notes[0].Param, 3u);
    d->dispatchOnce();  // nothing new: no repeat
    EXPECT_EQ(notes.size(), 1u);
    feed("d");
    d->dispatchOnce();  // unread bytes are offered again with the new one
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].Param, 4u);
}

TEST_F(Triggers, ReadPositionAdvancesByTheMostAnyHandlerTook) {
    Open();
    std::vector<std::string> reads;
    d->addAvailTrigger(1);
    d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { reads.push_back(take(2)); });
    d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { reads.push_back(take(5)); });
    d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { reads.push_back(take(0)); });
    feed("HELLO WORLD");
    d->dispatchOnce();
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0], "HE");
    EXPECT_EQ(reads[1], "HELLO");  // each handler starts at the same position
    EXPECT_EQ(take(100), " WORLD");
}

TEST_F(Triggers, HandlersRunInEventProcWindowOrder) {
    Open();
    std::vector<std::string> order;
    TOvxDirectSink sink;
    d->addAvailTrigger(1);
    d->registerWindowTriggerHandler(&sink, [&](uint32_t, uint32_t, int32_t) { order.push_back("window"); });
    d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { order.push_back("proc1"); });
    d->registerEventTriggerHandler([&](uint32_t, uint32_t, int32_t) { order.push_back("event"); });
    d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { order.push_back("proc2"); });
    feed("x");
    d->dispatchOnce();
    EXPECT_EQ(order, (std::vector<std::string>{"event", "proc1", "proc2", "window"}));
}

TEST_F(Triggers, HandlerRemovingItselfDuringDeliveryIsDeferred) {
    Open();
    int aCalls = 0, bCalls = 0;
    int a = 0;
    d->addAvailTrigger(1);
    a = d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t) {
        ++aCalls;
        d->deregisterTriggerHandler(a);  // its own closure must stay valid until it returns
        EXPECT_EQ(aCalls, 1);
    });
    d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { ++bCalls; });
    feed("1");
    d->dispatchOnce();
    feed("2");
    d->dispatchOnce();
    EXPECT_EQ(aCalls, 1);
    EXPECT_EQ(bCalls, 2);
}

TEST_F(Triggers, TriggerRemovedByAnEarlierNotificationIsNotDelivered) {
    Open();
    std::vector<uint32_t> fired;
    const int first = d->addDataTrigger("AB", false);
    const int second = d->addDataTrigger("CD", false);
    d->registerProcTriggerHandler([&](uint32_t m, uint32_t p, int32_t) {
        if (m != ovTriggerData) return;
        fired.push_back(p);
        if (static_cast<int>(p) == first) {
            EXPECT_EQ(d->removeTrigger(second), 0);
        }
    });
    feed("ABCD");  // both match in one pass; the first removes the second
    d->dispatchOnce();
    EXPECT_EQ(fired, std::vector<uint32_t>{static_cast<uint32_t>(first)});
    EXPECT_EQ(d->removeTrigger(second), errors::ecBadTriggerHandle);
}

TEST_F(Triggers, TimerFiresOnceAtItsTickAndCanBeReArmedOrDeactivated) {
    Open();
    std::vector<Note> notes;
    record(notes);
    const int t = d->addTimerTrigger();
    ASSERT_GT(t, 0);
    d->dispatchOnce();
    EXPECT_TRUE(notes.empty());  // not armed
    ASSERT_EQ(d->setTimerTrigger(t, 10, true), 0);
    clock.advanceMs(10 * 55 - 1);
    d->dispatchOnce();
    EXPECT_TRUE(notes.empty());
    clock.advanceMs(1);
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Msg, ovTriggerTimer);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(t));
    clock.advanceMs(10000);
    d->dispatchOnce();
    EXPECT_EQ(notes.size(), 1u);  // one-shot
    d->setTimerTrigger(t, 2, true);
    d->setTimerTrigger(t, 2, false);
    clock.advanceMs(1000);
    d->dispatchOnce();
    EXPECT_EQ(notes.size(), 1u);
    EXPECT_EQ(d->setTimerTrigger(9999, 1, true), errors::ecBadTriggerHandle);
}

TEST_F(Triggers, OutputFreeUsedAndSentTriggers) {
    Open(64, 32);
    state.WriteAllowance = 0;  // the device takes nothing yet
    std::vector<Note> notes;
    record(notes);
    const int freeT = d->addStatusTrigger(stOutBuffFree);
    const int usedT = d->addStatusTrigger(stOutBuffUsed);
    const int sentT = d->addStatusTrigger(stOutSent);
    ASSERT_EQ(d->putString(std::string(30, 'x')), 0);
    EXPECT_EQ(d->putString("abc"), errors::ecBufferIsFull);
    EXPECT_EQ(d->putString(std::string(33, 'y')), errors::ecOutputBufferTooSmall);
    d->setStatusTrigger(freeT, 20, true);
    d->setStatusTrigger(usedT, 5, true);
    d->setStatusTrigger(sentT, 0, true);
    d->dispatchOnce();
    EXPECT_TRUE(notes.empty());
    {
        std::lock_guard lock(state.Mu);
        state.WriteAllowance = 20;  // 10 left queued: free 22
    }
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(freeT));
    EXPECT_EQ(notes[0].Value, 22);
    {
        std::lock_guard lock(state.Mu);
        state.WriteAllowance = SIZE_MAX;
    }
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1].Param, static_cast<uint32_t>(usedT));
    EXPECT_EQ(notes[2].Param, static_cast<uint32_t>(sentT));
    EXPECT_EQ(state.Output, std::string(30, 'x'));
    d->dispatchOnce();
    EXPECT_EQ(notes.size(), 3u);  // output triggers are one-shot until re-armed
    d->setStatusTrigger(sentT, 0, true);
    d->dispatchOnce();
    EXPECT_EQ(notes.size(), 4u);
}

TEST_F(Triggers, ModemStatusAndLineErrorTriggers) {
    Open();
    std::vector<Note> notes;
    record(notes);
    const int ms = d->addStatusTrigger(stModem);
    const int le = d->addStatusTrigger(stLine);
    d->setStatusTrigger(ms, msDCD, true);
    d->setStatusTrigger(le, 0, true);
    {
        std::lock_guard lock(state.Mu);
        state.Modem |= msRI;  // not watched
    }
    d->dispatchOnce();
    EXPECT_TRUE(notes.empty());
    {
        std::lock_guard lock(state.Mu);
        state.Modem |= msDCD;
        state.Errors = leFraming;
    }
    d->dispatchOnce();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(ms));
    EXPECT_EQ(notes[0].Value, msCTS | msDSR | msRI | msDCD);
    EXPECT_EQ(notes[1].Param, static_cast<uint32_t>(le));
    EXPECT_EQ(notes[1].Value, leFraming);
    d->dispatchOnce();
    EXPECT_EQ(notes.size(), 2u);
}

TEST_F(Triggers, StatusTypeAndSlotLimitsGiveTheirCodes) {
    Open();
    EXPECT_EQ(d->addStatusTrigger(6), errors::ecBadArgument);
    EXPECT_EQ(d->addStatusTrigger(0), errors::ecBadArgument);
    EXPECT_EQ(d->addDataTrigger("", false), errors::ecTriggerTooLong);
    for (size_t i = 0; i < TOvxBaseDispatcher::kMaxTriggersPerKind; ++i) ASSERT_GT(d->addTimerTrigger(), 0);
    EXPECT_EQ(d->addTimerTrigger(), errors::ecNoMoreTriggers);
}

TEST_F(Triggers, NotificationCarriesTheDispatcherNumber) {
    Open();
    std::vector<int32_t> lparams;
    d->addDataTrigger("Z", false);
    d->registerProcTriggerHandler([&](uint32_t, uint32_t, int32_t l) { lparams.push_back(l); });
    feed("Z");
    d->dispatchOnce();
    ASSERT_EQ(lparams.size(), 1u);
    EXPECT_EQ(triggerDispatcher(lparams[0]), d->Number());
    EXPECT_EQ(triggerValue(lparams[0]), 1);
    EXPECT_EQ(lparams[0], 1 + d->Number() * 65536);
}

TEST_F(Triggers, LostLineStopsReadingAndDropsQueuedOutput) {
    Open();
    d->putString("ATH\r");
    {
        std::lock_guard lock(state.Mu);
        state.Gone = true;
    }
    EXPECT_EQ(d->dispatchOnce(), 0u);
    EXPECT_EQ(d->outBuffUsed(), 0u);  // nobody waits for output that can never leave
}

TEST_F(Triggers, TraceAndLogRecordTheTraffic) {
    Open();
    d->trace().start(100);
    d->log().start(10000);
    d->addDataTrigger("OK", false);
    d->putString("AT\r");
    feed("OK");
    d->dispatchOnce();
    EXPECT_EQ(formatTrace(d->trace().entries(), {}), "Receive: OK\nTransmit: AT[0D]\n");
    bool sawData = false;
    for (const auto& e : d->log().entries()) sawData |= e.Type == ltTrigger && e.Subtype == lsData;
    EXPECT_TRUE(sawData);
}
