// Shared set-up of the composing-window tests: one QApplication, a fresh program directory and
// default settings per test, scripted prompts, seeding of the phone book and cover tables through
// the table engine, and answering a modal window once it is up.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include "support/datadir.h"
#include "support/modal.h"
#include "support/qtapp.h"
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "compose/richtext/richtextmemo.h"
#include "compose/richtext/trichtext.h"
#include "records/fax_tables.h"
#include "app/appstate.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "support/scriptedprompter.h"

namespace telvane::editortest {

inline QApplication* app() { return telvane::test::application(); }

using telvane::test::rebuildLogs;
using telvane::test::whenModal;

class EditorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(tmp_.isValid());
        dir_ = telvane::test::useAsProgramDir(tmp_);
    }

    const std::string& dir() const { return dir_; }
    ScriptedPrompter& prompts() { return prompter_.get(); }

    void addPhone(const std::string& name, const std::string& phone) {
        records::RecordSet rs;
        records::TXbAccess xb(rs);
        ASSERT_TRUE(records::OpenPhoneDBF(dir_, rs, xb));
        rs.append();
        rs.fieldByName("NAME").setString(name);
        rs.fieldByName("PHONE").setString(phone);
        rs.post();
        rs.close();
    }

    // A cover template whose text is written by write.
    void addTemplate(const std::string& description, const std::function<void(richtext::TRichText&)>& write) {
        records::RecordSet rs;
        records::TXbAccess xb(rs);
        ASSERT_TRUE(records::OpenCoverDBF(dir_, rs, xb));
        richtext::TRichText text;
        write(text);
        rs.append();
        rs.fieldByName("DESCRIPT").setString(description);
        ASSERT_TRUE(richtext::SaveRichText(text, "COVER", xb, dir_));
        rs.post();
        rs.close();
    }

    // Dear [RECIPIENT] at [FAX#], re [SUBJECT], on [DATE] at [TIME].
    static void writeAllFields(richtext::TRichText& t) {
        const QString placeholders[] = {"[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]"};
        const QString before[] = {"Dear ", " at ", ", re ", ", on ", " at "};
        for (int tag = 1; tag <= 5; ++tag) {
            t.insertPlainText(before[tag - 1]);
            ASSERT_TRUE(t.insertInsertPoint(tag, placeholders[tag - 1]));
        }
        t.insertPlainText(QStringLiteral("."));
    }

private:
    QTemporaryDir tmp_;
    std::string dir_;
    ScopedScriptedPrompter prompter_;
};

}  // namespace telvane::editortest
