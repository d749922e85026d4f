// A prompter for tests: answers yes/no questions from a queue (the default answer when it is
// empty) and records every prompt, so that windows with message boxes run offscreen.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "app/uihelpers.h"

namespace telvane {

// How a prompt was put to the user.
struct PromptRecord {
    enum Kind { Information, YesNo, YesNoDefaultNo, Beep, YesNoCancel } kind;
    QString text;
    QString caption;
};

class ScriptedPrompter : public app::Prompter {
public:
    QList<PromptRecord> records;
    QList<bool> answers;
    bool defaultAnswer = false;
    // Answers to Yes/No/Cancel questions (Prompter::Answer values), then defaultChoice.
    QList<int> choices;
    int defaultChoice = AnswerNo;

    void information(const QString& text) override {
        records.append({PromptRecord::Information, text, QStringLiteral("Information")});
    }
    bool yesNo(const QString& text, const QString& caption, bool defaultNo) override {
        records.append({defaultNo ? PromptRecord::YesNoDefaultNo : PromptRecord::YesNo, text, caption});
        return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
    }
    int yesNoCancel(const QString& text, const QString& caption) override {
        records.append({PromptRecord::YesNoCancel, text, caption});
        return choices.isEmpty() ? defaultChoice : choices.takeFirst();
    }
    void beep() override { records.append({PromptRecord::Beep, {}, {}}); }
    int count(PromptRecord::Kind kind) const {
        int n = 0;
        for (const auto& r : records) n += r.kind == kind ? 1 : 0;
        return n;
    }
    // The texts of every prompt but beeps, in order.
    QStringList texts() const {
        QStringList out;
        for (const auto& r : records)
            if (r.kind != PromptRecord::Beep) out << r.text;
        return out;
    }
};

// Installs a ScriptedPrompter for the lifetime of the guard.
class ScopedScriptedPrompter {
public:
    ScopedScriptedPrompter() { app::setPrompter(&prompter_); }
    ~ScopedScriptedPrompter() { app::setPrompter(nullptr); }
    ScriptedPrompter* operator->() { return &prompter_; }
    ScriptedPrompter& get() { return prompter_; }

private:
    ScriptedPrompter prompter_;
};

}  // namespace telvane
