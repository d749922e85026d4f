// Writing one record from a window (see recordwrite.h).
#include "compose/editorkit/recordwrite.h"

#include "app/uihelpers.h"

namespace telvane::editorkit {

records::EXbError memoError(const std::string& field, const std::string& reason) {
    return records::EXbError("the text for " + field + " could not be stored" + (reason.empty() ? "" : ": " + reason));
}

bool writeRecord(records::RecordSet& table, bool append, const std::function<void()>& fill, const QString& failure) {
    const uint32_t countBefore = table.active() ? table.recCount() : 0;
    try {
        if (append) {
            table.append();
        } else {
            table.edit();
        }
        fill();
        table.post();
        return true;
    } catch (const records::EXbError& e) {
        try {
            if (table.state() == records::DataSetState::Edit || table.state() == records::DataSetState::Insert)
                table.cancel();
            if (append && table.active() && table.recCount() > countBefore) {
                table.go(table.recCount());
                table.deleteRecord();
            }
        } catch (const records::EXbError&) {
            // The table refuses even the clean-up; what it holds is reported below.
        }
        app::ShowInformation(failure + QLatin1Char('\r') + QString::fromStdString(e.what()));
        return false;
    }
}

}  // namespace telvane::editorkit
