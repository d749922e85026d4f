// Starter cover templates: the business, personal and urgent templates a new user finds in the
// Cover Sheet Template Browser, each with the merge fields a cover needs (recipient, fax number,
// subject, date; the time on the urgent one).
// Guarantees: they are added only to a template table this call created, never to one that
// exists (a user who deleted them does not get them back); a template that cannot be written
// leaves the table as it was for that template and the others are still added.
#pragma once

#include <string>

#include <QString>

#include "records/xb_access.h"

namespace telvane::cover {

// The descriptions of the starter templates, in the order they are added.
QStringList starterCoverDescriptions();

// Opens TVNCOV.DBF in `dir` like records::OpenCoverDBF; when the file did not exist before, the
// starter templates are added to the new table. False when the table could not be opened.
bool openCoverTemplates(const std::string& dir, records::RecordSet& coverTable, records::TXbAccess& coverXb);

}  // namespace telvane::cover
