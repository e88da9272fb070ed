#include "XapListener.h"

#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/Hook.h"
#include "core/Logging.h"
#include "core/xap/XapEndpoint.h"
#include "core/xap/XapMessage.h"

#include "automation/PendingError.h"

#include <gtest/gtest.h>

namespace {

// Hook calls with the program's logger sending to a listener on loopback.
class HookTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.bound);
        gXap = &endpoint;
        endpoint.setXapSource(QStringLiteral("tvk.Korvane.test"));
        endpoint.setXapUID(QStringLiteral("FF.00C7:00"));
        endpoint.setBroadcastAddress(QStringLiteral("127.0.0.1"));
        endpoint.setInterfaceAddress(QStringLiteral("127.0.0.1"));
        ASSERT_GT(endpoint.Init(), 0);
        gXapReady = true;
        // What earlier tests left waiting for the endpoint goes out with the first entry.
        logged();
        listener.received.clear();
    }
    void TearDown() override
    {
        gXapReady = false;
        gXap = nullptr;
    }

    // The "Data" items of every log entry sent so far; a marker entry sent last tells when
    // all of them have arrived.
    QStringList logged()
    {
        const QString marker = QStringLiteral("marker ") + QString::number(++m_markers);
        LogError(QStringLiteral("test"), marker);
        QStringList data;
        EXPECT_TRUE(waitUntil([&] {
            data.clear();
            for (const QByteArray& text : listener.received) {
                XapMessage m;
                m.FromXap(QString::fromLatin1(text));
                if (m.MsgClass() == QStringLiteral("Tessera.Event"))
                    data << m.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Data"));
            }
            return data.contains(marker);
        }));
        data.removeIf([](const QString& d) { return d.startsWith(QStringLiteral("marker ")); });
        return data;
    }

    XapListener listener;
    xap endpoint;
    int m_markers = 0;
};

}  // namespace

// Unset, a required hook logs when first needed and never again in the process, also
// through another object of the same name (a hook table assigned afresh); either way the
// call does nothing and gives its result's default. An optional hook logs nothing.
TEST_F(HookTest, AnUnsetRequiredHookLogsOnceAndAnOptionalOneNever)
{
    RequiredHook<int(int)> required{"TestHooks.required"};
    OptionalHook<QString()> optional;
    EXPECT_TRUE(logged().isEmpty()) << "nothing before the hook is needed";

    EXPECT_EQ(required.call(5), 0);
    EXPECT_EQ(required.call(6), 0);
    EXPECT_FALSE(required.available());
    RequiredHook<int(int)> again{"TestHooks.required"};
    EXPECT_EQ(again.call(7), 0);
    EXPECT_EQ(optional.call(), QString());
    EXPECT_FALSE(optional.available());
    EXPECT_EQ(logged(), QStringList({"Hook not set: TestHooks.required"}));

    required = [](int v) { return v * 2; };
    optional = [] { return QStringLiteral("8011"); };
    EXPECT_EQ(required.call(5), 10);
    EXPECT_TRUE(required.available());
    EXPECT_EQ(optional.call(), QStringLiteral("8011"));
    required = nullptr;
    EXPECT_FALSE(bool(required));
    EXPECT_EQ(required.call(5), 0);
    EXPECT_EQ(logged(), QStringList({"Hook not set: TestHooks.required"}));
}

// A table's entry names its table and member; its optional entries stay silent.
TEST_F(HookTest, ATableNamesItsUnsetRequiredHook)
{
    CoreHooks table;
    table.yonderMenu.call(QStringLiteral("Setup"));
    table.yonderMenu.call(QStringLiteral("Setup"));
    EXPECT_FALSE(table.pluginNameFails.call());
    EXPECT_EQ(table.httpPort.call(), QString());
    table.addTags.call();
    EXPECT_EQ(logged(), QStringList({"Hook not set: CoreHooks.yonderMenu", "Hook not set: CoreHooks.pluginNameFails"}));
}

// Found unset inside an error handler, the hook's entry leaves the handler's error to the
// handler's own entry.
TEST_F(HookTest, TheEntryLeavesAHandlersErrorAlone)
{
    RequiredHook<void()> hook{"TestHooks.inHandler"};
    try {
        throw VbError(6, QStringLiteral("Overflow"), QString(), 7);
    } catch (...) {
        PendingError::capture();
        hook.call();
        EXPECT_TRUE(PendingError::isPending());
        LogError(kProgramName, QStringLiteral("Handler"));
    }
    EXPECT_EQ(logged(), QStringList({"Hook not set: TestHooks.inHandler", "Handler Line 7 Overflow"}));
}
