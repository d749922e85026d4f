// The main window's composing commands, each taking the tables it works on and the program's
// directory, so that the main window's handlers only call them (after their receive-mode and
// empty-log checks):
//   NewFax        New, or Clone when clone is set: the fax editor, prefilled from the current
//                 outgoing record for a clone ("[clone]" before the subject, the log keeping 50
//                 characters) or with the default font on both empty parts; on Accept one record
//                 is appended with recipient, number, subject and both rich-text parts, and the
//                 log is closed and reopened.
//   NewFaxWithDocuments  New, with the given files attached as documents (copied into the data
//                 directory as they are attached); recipient fields and parts start empty.
//   EditFax       Edit of the current outgoing fax; on Accept the record is rewritten.
//   CoverSheets   The cover template browser in maintenance mode on the cover table it opens.
//   PhoneBook     The phone book browser in maintenance mode on its own record set.
// Nothing is written unless the editor ends with Accept. A write the table engine refuses is
// reported and leaves no half-written record; the editor then opens again with the fax as typed,
// so that nothing typed is lost unless the user cancels.
#pragma once

#include <string>

#include "records/record_set.h"
#include "records/xb_access.h"

#include <QStringList>

class QWidget;

namespace telvane::composecommands {

// True when a record was appended.
bool newFax(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir, bool clone,
            QWidget* parent = nullptr);
// Opens the fax editor on a new fax with the files of documentPaths attached in that order (a file
// that cannot be read is named in a message and left out). True when the user accepted, the
// record was appended and it holds every one of the files; the fax then keeps copies of its own,
// so the caller may remove the files. False also when the fax was saved without one of them.
bool newFaxWithDocuments(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir,
                         const QStringList& documentPaths, QWidget* parent = nullptr);
// True when the record was rewritten. Beeps when the log has no visible record.
bool editFax(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir,
             QWidget* parent = nullptr);
// Opens (creating when missing) the cover table, shows the browser, closes the table.
void coverSheets(records::RecordSet& coverTable, records::TXbAccess& coverXb, const std::string& programDir,
                 QWidget* parent = nullptr);
void phoneBook(const std::string& programDir, QWidget* parent = nullptr);

}  // namespace telvane::composecommands
