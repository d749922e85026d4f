// The main window's CreateFaxFile around the render core (offscreen): the hourglass, the disabled
// button bar and the status line for the whole render and restored on every path, the
// no-contents message after them, and a call made during a render refused without touching them.
#include "compose/commands/createfaxfile.h"

#include "compose/render/renderutil.h"
#include "support/qtapp.h"
#include "support/scriptedprompter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <functional>

namespace {

using namespace telvane::render;
using rendertest::Para;
using rendertest::TempDir;
using telvane::composecommands::FaxFileRenderer;

// What the main window was told.
struct Recorder {
    QStringList statuses;
    std::vector<bool> buttonBar;
    void attach(FaxFileRenderer& r) {
        r.StatusSink = [this](const QString& s) { statuses << s; };
        r.ButtonBarSwitch = [this](bool on) { buttonBar.push_back(on); };
    }
};

// A scripted prompter that also notes the window's state when a message is shown.
class CheckingPrompter : public telvane::ScriptedPrompter {
public:
    explicit CheckingPrompter(std::function<void()> check) : check_(std::move(check)) {
        telvane::app::setPrompter(this);
    }
    ~CheckingPrompter() override { telvane::app::setPrompter(nullptr); }
    void information(const QString& text) override {
        check_();
        ScriptedPrompter::information(text);
    }

private:
    std::function<void()> check_;
};

QByteArray lines(int count) {
    std::vector<Para> out;
    for (int i = 1; i <= count; ++i) out.push_back({QStringLiteral("LINE %1 HELLO").arg(i), 10});
    return rendertest::makeRtf(out);
}

TEST(CreateFaxFile, TheWindowShowsTheWorkAndIsGivenBackAfterIt) {
    TempDir d;
    telvane::ScopedScriptedPrompter prompts;
    FaxFileRenderer r;
    Recorder rec;
    rec.attach(r);
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf(lines(2), lines(3)));
    ASSERT_FALSE(res.failed()) << res.errorText.toStdString();
    EXPECT_EQ(res.pageCount, 2);
    EXPECT_EQ(r.lastPageCount(), 2);
    EXPECT_EQ(rec.statuses, (QStringList{QStringLiteral("Creating fax file"), QStringLiteral("Creating fax file...."),
                                         QStringLiteral("Creating fax file........"), QString()}));
    EXPECT_EQ(rec.buttonBar, (std::vector<bool>{false, true}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompts->records.isEmpty());
}

TEST(CreateFaxFile, AnEmptyFaxIsSaidOnceTheWindowIsBack) {
    TempDir d;
    FaxFileRenderer r;
    Recorder rec;
    rec.attach(r);
    bool windowBackWhenAsked = false;
    CheckingPrompter prompts(
        [&] { windowBackWhenAsked = QApplication::overrideCursor() == nullptr && rec.buttonBar.size() == 2; });
    const FaxFileResult res =
        r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf({{QStringLiteral("  "), 12}})));
    EXPECT_TRUE(res.empty);
    EXPECT_TRUE(res.fileName.empty());
    EXPECT_FALSE(res.failed());
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("Fax has no contents or cover sheet")});
    EXPECT_TRUE(windowBackWhenAsked);
    EXPECT_EQ(rec.statuses, (QStringList{QStringLiteral("Creating fax file"), QString()}));
    EXPECT_EQ(rec.buttonBar, (std::vector<bool>{false, true}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(d.names().empty());
}

TEST(CreateFaxFile, AFailureGivesTheWindowBack) {
    TempDir d;
    std::filesystem::create_directory(d.file("TVNFX2.OVF"));  // page 2 cannot be written
    telvane::ScopedScriptedPrompter prompts;
    FaxFileRenderer r;
    Recorder rec;
    rec.attach(r);
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, lines(100)));
    EXPECT_TRUE(res.failed());
    EXPECT_EQ(rec.buttonBar, (std::vector<bool>{false, true}));
    EXPECT_EQ(rec.statuses.back(), QString());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // An unreadable part is a failure for the caller to report, not the no-contents message.
    const FaxFileResult unreadable =
        r.CreateFaxFile(d.dir(), partsFromFiles(QString(), QString::fromStdString(d.file("missing.rtf"))));
    EXPECT_TRUE(unreadable.failed());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompts->records.isEmpty());
}

TEST(CreateFaxFile, ACallDuringARenderIsRefusedAndLeavesTheWindowAlone) {
    TempDir d;
    FaxFileRenderer r;
    Recorder rec;
    FaxFileResult nested;
    r.ButtonBarSwitch = [&](bool on) { rec.buttonBar.push_back(on); };
    r.StatusSink = [&](const QString& s) {
        rec.statuses << s;
        if (s == QStringLiteral("Creating fax file....") && !nested.failed())
            nested = r.CreateFaxFile(d.dir(), partsFromRtf({}, lines(1)));
    };
    const FaxFileResult outer = r.CreateFaxFile(d.dir(), partsFromRtf({}, lines(2)));
    EXPECT_TRUE(nested.failed());
    EXPECT_FALSE(outer.failed());
    EXPECT_EQ(rec.buttonBar, (std::vector<bool>{false, true}));
    EXPECT_EQ(rec.statuses.size(), 4);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(r.busy());
}

}  // namespace
