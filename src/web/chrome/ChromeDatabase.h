#pragma once

#include <QString>
#include <QVariant>

#include <vector>

// The chrome's SQL database, named by the "dbpath" setting: a SQLite file
// (the value of a connection string's "Data Source=" or "DBQ=", or the
// whole text; a relative path is under the program folder). The file is
// never created; values always go in as bound parameters. A file that does
// not exist, cannot be opened or a statement that fails raises a run-time
// error (VbError) for the caller's handler.
namespace ChromeDatabase {

using Row = std::vector<QVariant>;

QString fileOf(const QString &dbpath);
std::vector<Row> select(const QString &dbpath, const QString &sql, const std::vector<QVariant> &values);
void execute(const QString &dbpath, const QString &sql, const std::vector<QVariant> &values);

} // namespace ChromeDatabase
