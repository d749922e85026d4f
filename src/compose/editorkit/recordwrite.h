// Writing one record from a window: append or edit, fill the fields, post. A failure of the table
// engine does not leave half a record behind: the pending change is dropped (an appended record
// that the memo transfer had posted already is marked deleted again) and the user is told why.
#pragma once

#include <QString>

#include <functional>

#include "records/record_set.h"

namespace telvane::editorkit {

// fill sets the fields of the record in the buffer; it may throw records::EXbError.
// False after a failure, which has then been reported with the text failure followed by the reason.
bool writeRecord(records::RecordSet& table, bool append, const std::function<void()>& fill, const QString& failure);

// Thrown by fill functions when a memo transfer fails.
records::EXbError memoError(const std::string& field, const std::string& reason);

}  // namespace telvane::editorkit
