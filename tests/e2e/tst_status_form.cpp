// The status page's posted forms against the running program and the
// simulator executable: the demo's page is fetched, its form collected and
// posted back as a browser would, with a row button and with Save.
#include "FormFields.h"
#include "HttpExchange.h"
#include "KorvaneProcess.h"
#include "QuillonSimProcess.h"
#include "XapListener.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

using FormFields::attribute;
using FormFields::encode;
using FormFields::Fields;
using FormFields::unescape;

using FormFields::collect;

class StatusFormProgram : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (program)
            EXPECT_EQ(program->terminate(), 0);
        stopQuillonSim(sim);
    }

    int startSimulator()
    {
        return startQuillonSim(sim, {"--tcp", "0"}, simText);
    }
    const QByteArray& simOutput()
    {
        simText += sim.readAllStandardOutput();
        return simText;
    }

    void startProgram()
    {
        const int simPort = startSimulator();
        ASSERT_GT(simPort, 0);
        const QDir demo(QStringLiteral(KORVANE_DEMO_DIR));
        for (const QString& sub : {QStringLiteral("Config"), QStringLiteral("Scripts")}) {
            QDirIterator it(demo.filePath(sub), QDir::Files);
            while (it.hasNext()) {
                const QString file = it.next();
                folder.writeFile(sub + "/" + QFileInfo(file).fileName(), readFile(file));
            }
        }
        const QByteArray demoStore = readFile(folder.path() + "/Config/tvkXapKorvane.ini");
        webPort = startOnFreeWebPort([&](quint16 port) {
            QByteArray store = demoStore;
            store.replace("CommPort=10001", "CommPort=" + QByteArray::number(simPort) + "\r\nHTTPPort="
                                                  + QByteArray::number(port));
            folder.writeFile("Config/tvkXapKorvane.ini", store);
            program = std::make_unique<KorvaneProcess>(folder);
            return program->pid();
        });
        ASSERT_GT(webPort, 0);
        // The page lists the controller's variables once the program is up.
        ASSERT_TRUE(waitUntil([&] { return exchange(get()).contains("name='V5:06DC'"); }, 60000));
    }

    QByteArray get() const
    {
        return "GET /stat HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(webPort) + "\r\n\r\n";
    }
    QByteArray postRequest(const Fields& fields, const QByteArray& origin) const
    {
        return formPost("/stat", "127.0.0.1:" + QByteArray::number(webPort), origin, encode(fields));
    }
    QByteArray ownOrigin() const { return "http://127.0.0.1:" + QByteArray::number(webPort); }

    QByteArray exchange(const QByteArray& request) { return httpExchange(webPort, request, {.replyMs = 30000}); }

    static QString value(const Fields& fields, const QString& name)
    {
        for (const auto& [k, v] : fields)
            if (k == name)
                return v;
        return QStringLiteral("<absent>");
    }
    static void set(Fields& fields, const QString& name, const QString& v)
    {
        for (auto& f : fields)
            if (f.first == name) {
                f.second = v;
                return;
            }
        fields.append({name, v});
    }

    ProgramFolder folder;
    QProcess sim;
    QByteArray simText;
    quint16 webPort = 0;
    std::unique_ptr<KorvaneProcess> program;
};

} // namespace

TEST_F(StatusFormProgram, RowButtonAndSaveFromTheCollectedPage)
{
    startProgram();
    const QString page = QString::fromLatin1(exchange(get()));
    Fields form = collect(page);
    const QString dc = value(form, "V5:06DC");
    ASSERT_FALSE(dc.isEmpty());

    // The variable's ON button with 1234 in its box: the controller is told
    // to set variable 5 to 0x04D2.
    Fields button = form;
    set(button, "clientinput", "V5:06");
    set(button, "clientvalue", "ON");
    set(button, "V5:06Value", "1234");
    ASSERT_TRUE(exchange(postRequest(button, ownOrigin())).startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(waitUntil([&] { return simOutput().contains("<- c8 29 05 d2 04 00 00"); }, 20000))
        << simText.right(400).toStdString();

    // A cross-site copy of the Save changes nothing.
    Fields saved = form;
    set(saved, "UpdateButton", "Save Changes");
    set(saved, "V5:06Tag", "garage_level");
    EXPECT_TRUE(exchange(postRequest(saved, "http://evil.example")).startsWith("HTTP/1.1 403"));
    EXPECT_FALSE(exchange(get()).contains("value='garage_level'"));

    // Save of the whole page as collected, with one tag changed: the page
    // shows it, the device store holds it, and every device row stays.
    const int rowsBefore = int(page.count(QRegularExpression("<input type='hidden' value='[^']+' name='[^']+DC'>")));
    const QString after = QString::fromLatin1(exchange(postRequest(saved, ownOrigin())));
    ASSERT_TRUE(after.startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(after.contains("name='V5:06Tag' value='garage_level'"));
    EXPECT_EQ(int(after.count(QRegularExpression("<input type='hidden' value='[^']+' name='[^']+DC'>"))), rowsBefore);
    EXPECT_TRUE(waitUntil([&] { return readFile(folder.path() + "/Config/tvkXapKorvane.ini").contains("garage_level"); }));
}
