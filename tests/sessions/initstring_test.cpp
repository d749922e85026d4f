// The init-string helper: the preselection rules read from a string (S7 thresholds, the order of
// the modem-type markers), the strings "Ok" builds, and the window offscreen: the worked examples,
// the check box and its label (sending only), Cancel and "Leave it Blank".
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "sessions/initstringhelper.h"
#include "sessions_fixture.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

TEST(InitStringRules, S7ValueIsReadLikeTheDialWait) {
    EXPECT_EQ(s7RegisterValue("ATS7=90"), 90);
    EXPECT_EQ(s7RegisterValue("ats7=120x"), 120);  // any case; the trailing letter is dropped
    EXPECT_EQ(s7RegisterValue("S7=1234"), 123);    // at most three digits
    EXPECT_EQ(s7RegisterValue("AT&FS7=45&K3"), 45);
    EXPECT_EQ(s7RegisterValue("AT&F"), std::nullopt);
    EXPECT_EQ(s7RegisterValue("ATS7="), std::nullopt);
    EXPECT_EQ(s7RegisterValue("ATS7=9x5"), std::nullopt);  // ends in a digit, so "9x5" stays and does not read
}

TEST(InitStringRules, BoxPresetUsesTheThresholdOfTheModemFamily) {
    // "&H3" (US Robotics strings) raises the threshold to 90.
    EXPECT_FALSE(s7BoxPreset("AT&H3&I2&R2S7=90S36=8"));
    EXPECT_TRUE(s7BoxPreset("AT&H3&I2&R2S7=91"));
    EXPECT_TRUE(s7BoxPreset("AT&F&C1&D2&K3S7=120"));
    EXPECT_TRUE(s7BoxPreset("AT&F&C1&D2&K3S7=66"));
    EXPECT_FALSE(s7BoxPreset("AT&F&C1&D2&K3S7=65"));
    // The "&H3" test is exact: in lower case the usual threshold 65 applies.
    EXPECT_TRUE(s7BoxPreset("AT&h3S7=80"));
    EXPECT_FALSE(s7BoxPreset("AT&H3S7=80"));
    EXPECT_FALSE(s7BoxPreset("AT&F&C1&D2"));
    EXPECT_FALSE(s7BoxPreset("ATS7=abc"));
}

TEST(InitStringRules, ModemTypeMarkersInTheirOrder) {
    EXPECT_EQ(modemTypePreset("AT&F&C1&D2&K3S7=65"), 0);
    EXPECT_EQ(modemTypePreset("AT&H3&I2&R2S7=90"), 1);
    EXPECT_EQ(modemTypePreset("at&h3&i2&r2s7=90"), 1);
    EXPECT_EQ(modemTypePreset("AT&H3&I2&R2S7=90S36=0"), 2);
    EXPECT_EQ(modemTypePreset("AT&H3&I2&R2S7=90S36=8"), 3);
    // "S33=34" is tested before "S36=8", so the X2 string is recognised in any case.
    EXPECT_EQ(modemTypePreset("AT&H3&I2&R2S7=90s36=8S33=34"), 4);
    EXPECT_EQ(modemTypePreset("AT&F&C1&D2\\q3S7=65"), 5);
    // "S36=0" wins over every later marker.
    EXPECT_EQ(modemTypePreset("AT\\Q3&R2S33=34S36=0"), 2);
    EXPECT_EQ(modemTypePreset(""), 0);
}

TEST(InitStringRules, OkBuildsBaseS7PartAndAddition) {
    EXPECT_EQ(buildInitString(0, true, false), "AT&F&C1&D2&K3S7=65");
    EXPECT_EQ(buildInitString(4, true, true), "AT&H3&I2&R2S7=120S36=8S33=34");
    EXPECT_EQ(buildInitString(5, false, false), "AT&F&C1&D2\\Q3S7=65");
    EXPECT_EQ(buildInitString(1, true, false), "AT&H3&I2&R2S7=90");
    EXPECT_EQ(buildInitString(2, true, false), "AT&H3&I2&R2S7=90S36=0");
    EXPECT_EQ(buildInitString(3, true, true), "AT&H3&I2&R2S7=120S36=8");
    // Receiving always waits 65 seconds, whatever the box says.
    EXPECT_EQ(buildInitString(3, false, true), "AT&H3&I2&R2S7=65S36=8");
    EXPECT_EQ(buildInitString(0, true, true), "AT&F&C1&D2&K3S7=120");
    for (int item = 0; item < kModemTypeCount; ++item) {
        EXPECT_TRUE(buildInitString(item, true, false).startsWith("AT"));
        EXPECT_TRUE(buildInitString(item, false, false).startsWith("AT"));
    }
}

// A string the helper made opens with the same answers, for every modem type and box state but
// one: the Cirrus/SM56 string without the box carries S7=90, which is above its threshold of 65.
TEST(InitStringRules, ItsOwnStringsReopenWithTheSameAnswers) {
    for (int item = 0; item < kModemTypeCount; ++item) {
        for (bool box : {false, true}) {
            const QString made = buildInitString(item, true, box);
            EXPECT_EQ(modemTypePreset(made), item) << made.toStdString();
            if (item == 5 && !box) continue;
            EXPECT_EQ(s7BoxPreset(made), box) << made.toStdString();
        }
        EXPECT_EQ(modemTypePreset(buildInitString(item, false, false)), item);
    }
    EXPECT_TRUE(s7BoxPreset(buildInitString(5, true, false)));
}

class InitHelperWindowTest : public SessionsTest {};

TEST_F(InitHelperWindowTest, SendingPreselectsAndOkGivesTheSameString) {
    const QString usr = "AT&H3&I2&R2S7=90S36=8";
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        EXPECT_EQ(f->windowTitle(), "Modem Initialization String Helper");
        EXPECT_EQ(f->ModemType->checkedId(), 3);
        EXPECT_FALSE(f->CheckAT7->isChecked());
        EXPECT_TRUE(f->CheckAT7->isVisible());
        EXPECT_TRUE(f->CheckAT7Label->isVisible());
        EXPECT_TRUE(f->CheckAT7Label->wordWrap());
        f->BitBtn1->click();
    });
    EXPECT_EQ(modemInitStringHelper(usr, true), usr);

    const QString hayes = "AT&F&C1&D2&K3S7=120";
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        EXPECT_EQ(f->ModemType->checkedId(), 0);
        EXPECT_TRUE(f->CheckAT7->isChecked());
        f->BitBtn1->click();
    });
    EXPECT_EQ(modemInitStringHelper(hayes, true), hayes);

    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        EXPECT_EQ(f->ModemType->checkedId(), 4);
        f->ModemType->button(4)->click();
        f->BitBtn1->click();
    });
    EXPECT_EQ(modemInitStringHelper("ATs36=8S33=34", true), "AT&H3&I2&R2S7=90S36=8S33=34");
}

TEST_F(InitHelperWindowTest, ClickingTheLabelTogglesTheBox) {
    TModemInitStringHelperForm form("", true);
    form.show();
    ASSERT_FALSE(form.CheckAT7->isChecked());
    QTest::mouseClick(form.CheckAT7Label, Qt::LeftButton);
    EXPECT_TRUE(form.CheckAT7->isChecked());
    QTest::mouseClick(form.CheckAT7Label, Qt::LeftButton);
    EXPECT_FALSE(form.CheckAT7->isChecked());
    form.ModemType->button(4)->click();
    form.CheckAT7->click();
    EXPECT_EQ(form.resultString(1), "AT&H3&I2&R2S7=120S36=8S33=34");
}

TEST_F(InitHelperWindowTest, ReceivingHidesTheBoxAndAlwaysWaits65) {
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        EXPECT_TRUE(f->CheckAT7->isHidden());
        EXPECT_TRUE(f->CheckAT7Label->isHidden());
        EXPECT_EQ(f->ModemType->checkedId(), 5);
        f->BitBtn1->click();
    });
    // The box would be preset from S7=120, but receiving ignores it.
    EXPECT_EQ(modemInitStringHelper("AT&F&C1&D2\\Q3S7=120", false), "AT&F&C1&D2\\Q3S7=65");
}

TEST_F(InitHelperWindowTest, CancelKeepsAndLeaveItBlankEmpties) {
    const QString mine = "X4 my own";
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        f->ModemType->button(2)->click();
        f->BitBtn2->click();
    });
    EXPECT_EQ(modemInitStringHelper(mine, true), mine);

    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) { f->BitBtn3->click(); });
    EXPECT_EQ(modemInitStringHelper(mine, false), "");

    // Closing with Esc is a cancel.
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) { f->reject(); });
    EXPECT_EQ(modemInitStringHelper(mine, true), mine);

    // "Leave it Blank" ends the window with -99.
    TModemInitStringHelperForm form(mine, true);
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) { f->BitBtn3->click(); });
    EXPECT_EQ(form.exec(), kLeaveItBlankResult);
}

}  // namespace
}  // namespace telvane::sessiontest
