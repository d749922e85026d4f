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
        d->OpenDevice(c);
    }
    void Feed(const std::string& s) {
        std::lock_guard lock(state.Mu);
        state.Input.insert(state.Input.end(), s.begin(), s.end());
    }
    int Record(std::vector<Note>& into) {
        return d->RegisterProcTriggerHandler([&into](uint32_t m, uint32_t p, int32_t l) {
            into.push_back({m, p, TriggerValue(l)});
        });
    }
    std::string Take(size_t n) {
        std::string s(n, '\0');
        s.resize(d->GetBlock(s.data(), n));
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
    const int h = d->AddDataTrigger("CONNECT", false);
    ASSERT_GT(h, 0);
    d->RegisterProcTriggerHandler([&](uint32_t m, uint32_t p, int32_t l) {
        notes.push_back({m, p, TriggerValue(l)});
        seen = Take(d->InBuffUsed());
    });
    // Move the ring position near its end, then split the string across two reads.
    Feed("0123456789abc");
    d->DispatchOnce();
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(Take(13), "0123456789abc");
    Feed("\r\nCONN");
    d->DispatchOnce();
    EXPECT_TRUE(notes.empty());
    Feed("ECT 9600\r");
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Msg, ovTriggerData);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(h));
    EXPECT_EQ(notes[0].Value, 7);
    EXPECT_EQ(seen, "\r\nCONNECT 9600\r");  // read back intact across the wrap
    EXPECT_EQ(d->InBuffUsed(), 0u);
}

TEST_F(Triggers, CaseFoldingOnlyWhenAsked) {
    Open();
    std::vector<Note> notes;
    Record(notes);
    const int exact = d->AddDataTrigger("ok", false);
    const int folded = d->AddDataTrigger("ok", true);
    Feed("\r\nOK\r\n");
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(folded));
    notes.clear();
    Feed("ok");
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 2u);  // both, in the order they were added
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(exact));
    EXPECT_EQ(notes[1].Param, static_cast<uint32_t>(folded));
}

TEST_F(Triggers, OverlappingAndRepeatedMatchesAllFire) {
    Open();
    std::vector<Note> notes;
    Record(notes);
    d->AddDataTrigger("abab", false);
    Feed("abababab");  // matches end at 4, 6 and 8
    d->DispatchOnce();
    EXPECT_EQ(notes.size(), 3u);
}

TEST_F(Triggers, AvailableTriggerFiresOnNewBytesWithTheCount) {
    Open();
    std::vector<Note> notes;
    Record(notes);
    ASSERT_GT(d->AddAvailTrigger(3), 0);
    Feed("ab");
    d->DispatchOnce();
    EXPECT_TRUE(notes.empty());
    Feed("c");
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Msg, ovTriggerAvail);
    EXPECT_EQ(notes[0].Param, 3u);
    d->DispatchOnce();  // nothing new: no repeat
    EXPECT_EQ(notes.size(), 1u);
    Feed("d");
    d->DispatchOnce();  // unread bytes are offered again with the new one
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].Param, 4u);
}

TEST_F(Triggers, ReadPositionAdvancesByTheMostAnyHandlerTook) {
    Open();
    std::vector<std::string> reads;
    d->AddAvailTrigger(1);
    d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { reads.push_back(Take(2)); });
    d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { reads.push_back(Take(5)); });
    d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { reads.push_back(Take(0)); });
    Feed("HELLO WORLD");
    d->DispatchOnce();
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0], "HE");
    EXPECT_EQ(reads[1], "HELLO");  // each handler starts at the same position
    EXPECT_EQ(Take(100), " WORLD");
}

TEST_F(Triggers, HandlersRunInEventProcWindowOrder) {
    Open();
    std::vector<std::string> order;
    TOvxDirectSink sink;
    d->AddAvailTrigger(1);
    d->RegisterWindowTriggerHandler(&sink, [&](uint32_t, uint32_t, int32_t) { order.push_back("window"); });
    d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { order.push_back("proc1"); });
    d->RegisterEventTriggerHandler([&](uint32_t, uint32_t, int32_t) { order.push_back("event"); });
    d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { order.push_back("proc2"); });
    Feed("x");
    d->DispatchOnce();
    EXPECT_EQ(order, (std::vector<std::string>{"event", "proc1", "proc2", "window"}));
}

TEST_F(Triggers, HandlerRemovingItselfDuringDeliveryIsDeferred) {
    Open();
    int aCalls = 0, bCalls = 0;
    int a = 0;
    d->AddAvailTrigger(1);
    a = d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t) {
        ++aCalls;
        d->DeregisterTriggerHandler(a);  // its own closure must stay valid until it returns
        EXPECT_EQ(aCalls, 1);
    });
    d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t) { ++bCalls; });
    Feed("1");
    d->DispatchOnce();
    Feed("2");
    d->DispatchOnce();
    EXPECT_EQ(aCalls, 1);
    EXPECT_EQ(bCalls, 2);
}

TEST_F(Triggers, TriggerRemovedByAnEarlierNotificationIsNotDelivered) {
    Open();
    std::vector<uint32_t> fired;
    const int first = d->AddDataTrigger("AB", false);
    const int second = d->AddDataTrigger("CD", false);
    d->RegisterProcTriggerHandler([&](uint32_t m, uint32_t p, int32_t) {
        if (m != ovTriggerData) return;
        fired.push_back(p);
        if (static_cast<int>(p) == first) {
            EXPECT_EQ(d->RemoveTrigger(second), 0);
        }
    });
    Feed("ABCD");  // both match in one pass; the first removes the second
    d->DispatchOnce();
    EXPECT_EQ(fired, std::vector<uint32_t>{static_cast<uint32_t>(first)});
    EXPECT_EQ(d->RemoveTrigger(second), ecBadTriggerHandle);
}

TEST_F(Triggers, TimerFiresOnceAtItsTickAndCanBeReArmedOrDeactivated) {
    Open();
    std::vector<Note> notes;
    Record(notes);
    const int t = d->AddTimerTrigger();
    ASSERT_GT(t, 0);
    d->DispatchOnce();
    EXPECT_TRUE(notes.empty());  // not armed
    ASSERT_EQ(d->SetTimerTrigger(t, 10, true), 0);
    clock.AdvanceMs(10 * 55 - 1);
    d->DispatchOnce();
    EXPECT_TRUE(notes.empty());
    clock.AdvanceMs(1);
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Msg, ovTriggerTimer);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(t));
    clock.AdvanceMs(10000);
    d->DispatchOnce();
    EXPECT_EQ(notes.size(), 1u);  // one-shot
    d->SetTimerTrigger(t, 2, true);
    d->SetTimerTrigger(t, 2, false);
    clock.AdvanceMs(1000);
    d->DispatchOnce();
    EXPECT_EQ(notes.size(), 1u);
    EXPECT_EQ(d->SetTimerTrigger(9999, 1, true), ecBadTriggerHandle);
}

TEST_F(Triggers, OutputFreeUsedAndSentTriggers) {
    Open(64, 32);
    state.WriteAllowance = 0;  // the device takes nothing yet
    std::vector<Note> notes;
    Record(notes);
    const int freeT = d->AddStatusTrigger(stOutBuffFree);
    const int usedT = d->AddStatusTrigger(stOutBuffUsed);
    const int sentT = d->AddStatusTrigger(stOutSent);
    ASSERT_EQ(d->PutString(std::string(30, 'x')), 0);
    EXPECT_EQ(d->PutString("abc"), ecBufferIsFull);
    EXPECT_EQ(d->PutString(std::string(33, 'y')), ecOutputBufferTooSmall);
    d->SetStatusTrigger(freeT, 20, true);
    d->SetStatusTrigger(usedT, 5, true);
    d->SetStatusTrigger(sentT, 0, true);
    d->DispatchOnce();
    EXPECT_TRUE(notes.empty());
    {
        std::lock_guard lock(state.Mu);
        state.WriteAllowance = 20;  // 10 left queued: free 22
    }
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(freeT));
    EXPECT_EQ(notes[0].Value, 22);
    {
        std::lock_guard lock(state.Mu);
        state.WriteAllowance = SIZE_MAX;
    }
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1].Param, static_cast<uint32_t>(usedT));
    EXPECT_EQ(notes[2].Param, static_cast<uint32_t>(sentT));
    EXPECT_EQ(state.Output, std::string(30, 'x'));
    d->DispatchOnce();
    EXPECT_EQ(notes.size(), 3u);  // output triggers are one-shot until re-armed
    d->SetStatusTrigger(sentT, 0, true);
    d->DispatchOnce();
    EXPECT_EQ(notes.size(), 4u);
}

TEST_F(Triggers, ModemStatusAndLineErrorTriggers) {
    Open();
    std::vector<Note> notes;
    Record(notes);
    const int ms = d->AddStatusTrigger(stModem);
    const int le = d->AddStatusTrigger(stLine);
    d->SetStatusTrigger(ms, msDCD, true);
    d->SetStatusTrigger(le, 0, true);
    {
        std::lock_guard lock(state.Mu);
        state.Modem |= msRI;  // not watched
    }
    d->DispatchOnce();
    EXPECT_TRUE(notes.empty());
    {
        std::lock_guard lock(state.Mu);
        state.Modem |= msDCD;
        state.Errors = leFraming;
    }
    d->DispatchOnce();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Param, static_cast<uint32_t>(ms));
    EXPECT_EQ(notes[0].Value, msCTS | msDSR | msRI | msDCD);
    EXPECT_EQ(notes[1].Param, static_cast<uint32_t>(le));
    EXPECT_EQ(notes[1].Value, leFraming);
    d->DispatchOnce();
    EXPECT_EQ(notes.size(), 2u);
}

TEST_F(Triggers, StatusTypeAndSlotLimitsGiveTheirCodes) {
    Open();
    EXPECT_EQ(d->AddStatusTrigger(6), ecBadArgument);
    EXPECT_EQ(d->AddStatusTrigger(0), ecBadArgument);
    EXPECT_EQ(d->AddDataTrigger("", false), ecTriggerTooLong);
    for (size_t i = 0; i < TOvxBaseDispatcher::kMaxTriggersPerKind; ++i) ASSERT_GT(d->AddTimerTrigger(), 0);
    EXPECT_EQ(d->AddTimerTrigger(), ecNoMoreTriggers);
}

TEST_F(Triggers, NotificationCarriesTheDispatcherNumber) {
    Open();
    std::vector<int32_t> lparams;
    d->AddDataTrigger("Z", false);
    d->RegisterProcTriggerHandler([&](uint32_t, uint32_t, int32_t l) { lparams.push_back(l); });
    Feed("Z");
    d->DispatchOnce();
    ASSERT_EQ(lparams.size(), 1u);
    EXPECT_EQ(TriggerDispatcher(lparams[0]), d->Number());
    EXPECT_EQ(TriggerValue(lparams[0]), 1);
    EXPECT_EQ(lparams[0], 1 + d->Number() * 65536);
}

TEST_F(Triggers, LostLineStopsReadingAndDropsQueuedOutput) {
    Open();
    d->PutString("ATH\r");
    {
        std::lock_guard lock(state.Mu);
        state.Gone = true;
    }
    EXPECT_EQ(d->DispatchOnce(), 0u);
    EXPECT_EQ(d->OutBuffUsed(), 0u);  // nobody waits for output that can never leave
}

TEST_F(Triggers, TraceAndLogRecordTheTraffic) {
    Open();
    d->Trace().Start(100);
    d->Log().Start(10000);
    d->AddDataTrigger("OK", false);
    d->PutString("AT\r");
    Feed("OK");
    d->DispatchOnce();
    EXPECT_EQ(FormatTrace(d->Trace().Entries(), {}), "Receive: OK\nTransmit: AT[0D]\n");
    bool sawData = false;
    for (const auto& e : d->Log().Entries()) sawData |= e.Type == ltTrigger && e.Subtype == lsData;
    EXPECT_TRUE(sawData);
}
