#include "web/chrome/ChromeDatabase.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"

#include "automation/VbError.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

const QString kConnection = QStringLiteral("korvane_chrome");

[[noreturn]] void fail(const QString &text)
{
    throw VbError(-2147467259, text);
}

// One open connection for the time of one statement.
class Connection
{
public:
    explicit Connection(const QString &dbpath)
    {
        const QString file = ChromeDatabase::fileOf(dbpath);
        if (file.isEmpty() || !QFileInfo(file).isFile())
            fail(QStringLiteral("Could not find file '") + file + QStringLiteral("'."));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
            db.setDatabaseName(file);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
            if (!db.open()) {
                const QString why = db.lastError().text();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(kConnection);
                fail(QStringLiteral("Cannot open database ") + file + QStringLiteral(": ") + why);
            }
        }
        m_open = true;
    }
    ~Connection()
    {
        if (m_open)
            QSqlDatabase::database(kConnection, false).close();
        QSqlDatabase::removeDatabase(kConnection);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(kConnection, false); }

private:
    bool m_open = false;
};

} // namespace

namespace ChromeDatabase {

QString fileOf(const QString &dbpath)
{
    QString file = dbpath.trimmed();
    for (const QString key : {QStringLiteral("Data Source="), QStringLiteral("DBQ=")}) {
        const qsizetype at = dbpath.indexOf(key, 0, Qt::CaseInsensitive);
        if (at >= 0) {
            file = dbpath.mid(at + key.size());
            const qsizetype end = file.indexOf(QLatin1Char(';'));
            if (end >= 0)
                file = file.left(end);
            file = file.trimmed();
            break;
        }
    }
    if (file.size() >= 2 && file.startsWith(QLatin1Char('"')) && file.endsWith(QLatin1Char('"')))
        file = file.mid(1, file.size() - 2);
    if (file.isEmpty())
        return file;
    file.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isRelativePath(file))
        file = ResolvePathNoCase(gAppPath, file);
    return file;
}

std::vector<Row> select(const QString &dbpath, const QString &sql, const std::vector<QVariant> &values)
{
    std::vector<Row> rows;
    Connection connection(dbpath);
    {
        QSqlQuery query(connection.db());
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            fail(query.lastError().text());
        for (const QVariant &v : values)
            query.addBindValue(v);
        if (!query.exec())
            fail(query.lastError().text());
        while (query.next()) {
            Row row;
            const int n = query.record().count();
            row.reserve(size_t(n));
            for (int i = 0; i < n; ++i)
                row.push_back(query.value(i));
            rows.push_back(std::move(row));
            if (rows.size() > 10000)
                break; // a menu is never this long: bound what a damaged table can cost
        }
    }
    return rows;
}

void execute(const QString &dbpath, const QString &sql, const std::vector<QVariant> &values)
{
    Connection connection(dbpath);
    QSqlQuery query(connection.db());
    if (!query.prepare(sql))
        fail(query.lastError().text());
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec())
        fail(query.lastError().text());
}

} // namespace ChromeDatabase
