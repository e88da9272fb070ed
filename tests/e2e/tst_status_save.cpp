// Saves of the status page against the running demo program: what a Save did
// not carry keeps its state, its name and its stored form.
#include "DemoProgram.h"
#include "WaitUntil.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>

namespace {

// A project file as the programming tool writes it, naming three X10 units.
QByteArray projectFile()
{
    QStringList l{"Quillon Project", "\tLocal", "\t\tVariables"};
    for (int n = 0; n < 128; ++n)
        l << "\t\t\tV" + QString::number(n);
    l << "\t\tX-10";
    for (int k = 0; k < 256; ++k)
        l << (k == 0 ? "\t\t\tA1 RoomA Unit1" : k == 17 ? "\t\t\tB2 Desk Lamp" : k == 36 ? "\t\t\tC5 Hall Lamp" : "\t\t\t");
    return (l.join("\r\n") + "\r\n").toLatin1();
}

// The store line of a device code, split into its fields; empty when missing.
QStringList storedDevice(const DemoProgram &demo, const QByteArray &code)
{
    for (const QByteArray &line : demo.readConfig("tvkXapKorvane.ini").split('\n'))
        if (line.startsWith(code + '='))
            return QString::fromLatin1(line.mid(code.size() + 1).trimmed()).split(QLatin1Char(';'));
    return {};
}

DemoProgram::Fields saveOf(const QByteArray &page)
{
    DemoProgram::Fields form = DemoProgram::collectForm(QString::fromLatin1(page));
    DemoProgram::set(form, "UpdateButton", "Save Changes");
    return form;
}

bool ok(const QByteArray &reply)
{
    return reply.startsWith("HTTP/1.1 200");
}

} // namespace

// An X10 device made by a script while the program runs (not on the page
// while Show Only Used is on) outlives a Save; a device the user named keeps
// its name; a unit ticked on the page is named from the project file and
// gets the tag typed beside it.
TEST(StatusSave, X10DevicesTheSaveDidNotCarryKeepTheirStateAndName)
{
    DemoProgram demo;
    demo.folder.writeFile("Config/demo.qpr", projectFile());
    demo.editConfig("xaptvkKorvane.ini", "PeriodicScriptInterval=", "PeriodicScriptInterval=1");
    demo.editConfig("xaptvkKorvane.ini", "", "ProjectFile=" + demo.folder.path().toLatin1() + "/Config/demo.qpr");
    demo.editConfig("tvkXapKorvane.ini", "[1=", "A1=Study;Hall Lamp;Veltro Quillon;0;;0;X10;3;0;;;;False\r\n"
                                                "[1=Hall;Temperature;Veltro Quillon;3;;0;Interface Variable;17;0;;;;False");
    // The third periodic run makes C5, well after start-up looked at the devices.
    demo.folder.writeFile("Scripts/xaptvkKorvane.txt",
                          "Dim runs\r\n"
                          "Sub Main(tag)\r\n"
                          "    runs = runs + 1\r\n"
                          "    If runs = 3 And DeviceExists(\"C5\") = -1 Then\r\n"
                          "        Dim d\r\n"
                          "        Set d = GetDevice(NewDevice(\"Script Lamp\"))\r\n"
                          "        d.hc = \"C\"\r\n"
                          "        d.dc = \"5\"\r\n"
                          "        d.location = \"Attic\"\r\n"
                          "        WriteLog \"Demo script\", \"made C5\"\r\n"
                          "    End If\r\n"
                          "End Sub\r\n");
    ASSERT_TRUE(demo.start());
    ASSERT_TRUE(waitUntil([&] { return demo.sent("made C5"); }, 30000));
    const QByteArray page = demo.get();
    ASSERT_TRUE(page.contains("name='A1DC'"));
    ASSERT_FALSE(page.contains("name='C5DC'"));

    // A Save that changes only Show Only Used.
    DemoProgram::Fields form = saveOf(page);
    DemoProgram::remove(form, "ShowOnlyUsed");
    ASSERT_TRUE(ok(demo.post(form)));
    ASSERT_TRUE(waitUntil([&] { return !storedDevice(demo, "C5").isEmpty(); }, 10000))
        << "the script's device was not kept";
    EXPECT_EQ(storedDevice(demo, "C5").mid(0, 2), QStringList({"Attic", "Script Lamp"}));
    EXPECT_EQ(storedDevice(demo, "A1").mid(0, 2), QStringList({"Study", "Hall Lamp"}));

    // The whole page now: B2 ticked with a tag is made, named from the project file.
    const QByteArray all = demo.get();
    ASSERT_TRUE(all.contains("name='B2DC'"));
    form = saveOf(all);
    DemoProgram::set(form, "B2Used", "on");
    DemoProgram::set(form, "B2Tag", "desk");
    ASSERT_TRUE(ok(demo.post(form)));
    const QStringList b2 = storedDevice(demo, "B2");
    ASSERT_EQ(b2.size(), 13) << b2.join(';').toStdString();
    EXPECT_EQ(b2.mid(0, 2), QStringList({"Desk", "Lamp"})); // location and name from "B2 Desk Lamp"
    EXPECT_EQ(b2.at(11), "desk");
    EXPECT_EQ(storedDevice(demo, "A1").mid(0, 2), QStringList({"Study", "Hall Lamp"}));
    EXPECT_FALSE(storedDevice(demo, "C5").isEmpty());
}

// A tag typed in the Save that ticks Used reaches the device the Save made;
// a macro name that the settings file could not keep is refused and logged;
// quoted text settings keep their stored form through a Save of other things.
TEST(StatusSave, NewDeviceTagsMacroNamesAndQuotedSettings)
{
    DemoProgram demo;
    demo.editConfig("xaptvkKorvane.ini", "ShowOnlyUsed=", "ShowOnlyUsed=0");
    demo.editConfig("xaptvkKorvane.ini", "IncludeIR=", "IncludeIR=1");
    demo.editConfig("tvkXapKorvane.ini", "[31=", "; variable 30 has no device");
    demo.editConfig("tvkXapKorvane.ini", "SerialIP=", "SerialIP=\"127.0.0.1\"\r\nBackground=#0\"0\"0\r\nStyleSheet=\"my \"best\".css\"");
    demo.editConfig("tvkXapKorvane.ini", "", "[IRMacro]\r\nMovie=3,4");
    ASSERT_TRUE(demo.start());
    const QByteArray page = demo.get();
    ASSERT_TRUE(page.contains("<input type='hidden' value='' name='V30:1FDC'>"));
    // Shown as stored, without the quotes around them only.
    EXPECT_TRUE(page.contains("value='127.0.0.1' name='SerialIP'"));
    EXPECT_TRUE(page.contains("value='#0&quot;0&quot;0' name='Background'"));
    EXPECT_TRUE(page.contains("value='my &quot;best&quot;.css' name='StyleSheet'"));

    DemoProgram::Fields form = saveOf(page);
    DemoProgram::set(form, "V30:1FUsed", "on");
    DemoProgram::set(form, "V30:1FTag", "attic_temp");
    DemoProgram::set(form, "MAC0", "a=b");
    DemoProgram::set(form, "N0", "5");
    DemoProgram::set(form, "MAC1", "Mov=ie");
    ASSERT_TRUE(ok(demo.post(form)));

    const QStringList v30 = storedDevice(demo, "[31");
    ASSERT_EQ(v30.size(), 13) << v30.join(';').toStdString();
    EXPECT_EQ(v30.at(11), "attic_temp");
    const QByteArray store = demo.readConfig("tvkXapKorvane.ini");
    EXPECT_TRUE(store.contains("\r\nMovie=3,4\r\n"));
    EXPECT_FALSE(store.contains("a=b"));
    EXPECT_FALSE(store.contains("Mov=ie"));
    EXPECT_TRUE(store.contains("\r\nSerialIP=\"127.0.0.1\"\r\n"));
    EXPECT_TRUE(store.contains("\r\nBackground=#0\"0\"0\r\n"));
    EXPECT_TRUE(store.contains("\r\nStyleSheet=\"my \"best\".css\"\r\n"));
    EXPECT_TRUE(waitUntil([&] { return demo.sent("which ends a key in the settings files"); }));

    // A typed change is stored as typed.
    form = saveOf(demo.get());
    DemoProgram::set(form, "Background", "#102030");
    ASSERT_TRUE(ok(demo.post(form)));
    EXPECT_TRUE(demo.readConfig("tvkXapKorvane.ini").contains("\r\nBackground=#102030\r\n"));
    EXPECT_TRUE(demo.readConfig("tvkXapKorvane.ini").contains("\r\nSerialIP=\"127.0.0.1\"\r\n"));
}

// A Save whose files cannot be written says which in the page's note and in the log; the
// change is not shown as stored.
TEST(StatusSave, ASaveOnAReadOnlyConfigNamesTheFileInTheNote)
{
    // A read-only bind mount stops root as well; the program started below inherits it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "no mount namespace can be made here (needs root)";
    DemoProgram demo;
    ASSERT_TRUE(demo.start());
    const QByteArray config = QFile::encodeName(demo.folder.path() + "/Config");
    ASSERT_EQ(::mount(config.constData(), config.constData(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(nullptr, config.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    DemoProgram::Fields form = saveOf(demo.get());
    DemoProgram::set(form, "Background", "#102030");
    const QByteArray reply = demo.post(form);
    ::umount2(config.constData(), MNT_DETACH);
    ASSERT_TRUE(ok(reply));
    EXPECT_TRUE(reply.contains("Not saved: the file ")) << reply.constData();
    EXPECT_TRUE(reply.contains("tvkXapKorvane.ini could not be written"));
    EXPECT_FALSE(demo.readConfig("tvkXapKorvane.ini").contains("Background=#102030"));
    EXPECT_TRUE(waitUntil([&] { return demo.sent("IniTool Save "); }));
}
