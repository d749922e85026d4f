// The data directory of a window test: a scratch directory made the program directory with default
// settings, and logs that open without the start-up reindex question.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>

#include "app/appstate.h"
#include "settings/programdir.h"
#include "settings/settings.h"
#include "records/fax_tables.h"
#include "records/record_set.h"
#include "records/xb_access.h"

namespace telvane::test {

// Makes `home` the program directory, with default settings; returns its path ending in '/'.
inline std::string useAsProgramDir(const QTemporaryDir& home) {
    const std::string dir = home.path().toStdString() + "/";
    settings::setProgramDir(dir);
    app::appSettings() = settings::Settings{};
    return dir;
}

// Builds the full tag set of both logs in `dir`, so the start-up reindex question is not asked.
inline void rebuildLogs(const std::string& dir) {
    records::RecordSet fax, rec;
    records::TXbAccess faxXb(fax), recXb(rec);
    ASSERT_TRUE(records::OpenFaxDBF(dir, fax, faxXb));
    ASSERT_TRUE(records::OpenRecFaxDBF(dir, rec, recXb));
    records::rebuildTableIndexes(fax, faxXb, records::faxTableSpec(), "", "");
    records::rebuildTableIndexes(rec, recXb, records::recTableSpec(), "", "");
    fax.close();
    rec.close();
}

}  // namespace telvane::test
