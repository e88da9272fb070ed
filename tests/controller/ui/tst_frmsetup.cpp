#include "UiTestSupport.h"

#include "core/Globals.h"
#include "host/HostGlobals.h"
#include "host/Setup.h"
#include "host/frmSetup.h"

#include <QFile>

// The plug-in selection dialog's model against Settings.ini.
class FrmSetupTest : public DialogFixture
{
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        plugin = std::make_shared<tspi>();
        plugin->RegisterCallback(gHostForm);
        gPluginCollection = std::make_shared<Collection>();
        gPluginCollection->add(Variant(ObjectPtr(plugin)), "xaptvkKorvane");
    }
    void TearDown() override
    {
        frmSetup::Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        gInterfaceName.clear();
        gRegisteredMenus.reset();
        gDebugMode = 0;
        DialogFixture::TearDown();
    }
    void settings(const QByteArray& text)
    {
        writeConfig("Settings.ini", text);
        gHostForm->settingsFile()->Load(appDir.filePath("Config/Settings.ini"));
    }
    IniTool saved()
    {
        IniTool ini;
        ini.Load(appDir.filePath("Config/Settings.ini"));
        return ini;
    }
};

TEST_F(FrmSetupTest, ListsKnownPluginsOnceAndSavesTheirChoice)
{
    settings("[Plugins]\r\nxaptvkKorvane=TRUE\r\nXAPTVKKORVANE=false\r\nghost=true\r\n");
    frmSetup& f = frmSetup::Load();
    ASSERT_EQ(f.table().size(), 1) << "one row per loaded plug-in name; unknown names skipped";
    EXPECT_EQ(f.ExcludeList, QStringList{"xaptvkKorvane"});
    EXPECT_TRUE(f.PluginList.isEmpty());
    EXPECT_FALSE(f.aPluginFormVisible) << "no menus registered";
    f.ExcludeList_DblClick("xaptvkKorvane");
    EXPECT_EQ(f.PluginList, QStringList{"xaptvkKorvane"});
    EXPECT_TRUE(f.ExcludeList.isEmpty());
    f.aDebugLog = 1;
    frmSetup::Unload();
    IniTool ini = saved();
    EXPECT_EQ(ini.Read("Plugins", "xaptvkKorvane", ""), "False");
    EXPECT_EQ(ini.Read("Plugins", "ghost", ""), "true");
    EXPECT_EQ(ini.Read("tspi_quillon", "DebugLog", ""), "1");
    EXPECT_EQ(gDebugMode, 1);
}

TEST_F(FrmSetupTest, GivenInterfaceNameListsOnlyItAndLeavesThePluginListAlone)
{
    settings("[Plugins]\r\nxaptvkKorvane=false\r\n");
    gInterfaceName = "xaptvkKorvane";
    frmSetup& f = frmSetup::Load();
    EXPECT_EQ(f.ExcludeList, QStringList{"xaptvkKorvane"}) << "the given name counts as selected";
    f.ExcludeList_DblClick("xaptvkKorvane");
    frmSetup::Unload();
    EXPECT_EQ(saved().Read("Plugins", "xaptvkKorvane", ""), "false");
    EXPECT_EQ(saved().Read("tspi_quillon", "DebugLog", ""), "0");
}

TEST_F(FrmSetupTest, MenusOfRegisteredPluginsOpenThemByName)
{
    gRegisteredMenus = std::make_shared<Dictionary>();
    gRegisteredMenus->add(Variant("xaptvkKorvane~Setup"), Variant("Quillon"));
    gRegisteredMenus->add(Variant("other~Help"), Variant("Other"));
    int shown = 0;
    PluginHooksInstance().showConfigDialog = [&](bool) { ++shown; };
    frmSetup& f = frmSetup::Load();
    EXPECT_TRUE(f.aPluginFormVisible);
    EXPECT_EQ(f.aPluginForm, (QStringList{"Quillon - Setup", "Other - Help"}));
    f.aPluginForm_Click("Other - Help"); // no such plug-in loaded
    EXPECT_EQ(shown, 0);
    f.aPluginForm_Click("Quillon - Setup");
    EXPECT_EQ(shown, 1);
    f.aPluginForm_Click("Quillon - Help"); // the caption's plug-in has no such menu
    EXPECT_EQ(shown, 1);
}

TEST_F(FrmSetupTest, RetrievePluginsSkipsFilesWithoutAClass)
{
    QFile(appDir.filePath("tspi_quillon.dll")).open(QIODevice::WriteOnly);
    QFile(appDir.filePath("readme.txt")).open(QIODevice::WriteOnly);
    frmSetup& f = frmSetup::Load();
    f.aRetrievePlugins_Click();
    EXPECT_TRUE(f.table().isEmpty());
    EXPECT_TRUE(f.PluginList.isEmpty());
}
