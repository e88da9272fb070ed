// The serial-server link class as scripts reach it, by ProgID and member name,
// and the host's own link object, which the plug-in drives.
#include "PluginTestSupport.h"

#include "controller/PluginRegistration.h"
#include "controller/link/SerialComm.h"
#include "automation/ClassRegistry.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"

namespace {

// A script's callback object: counts its onComm calls.
class CommCounter : public DispatchObject<CommCounter>
{
public:
    static void describe(DispatchTable<CommCounter>& t)
    {
        t.name("CommCounter");
        t.method("onComm", &CommCounter::onComm);
    }
    void onComm() { ++calls; }
    int calls = 0;
};

Variant byteArray(const QByteArray& bytes)
{
    std::vector<Variant> v;
    for (char c : bytes)
        v.push_back(Variant::fromByte(quint8(c)));
    return Variant(VbArray::fromValues(std::move(v)));
}

} // namespace

class SerialCommTest : public PluginFixture
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        registerControllerSubsystem();
    }
};

TEST_F(SerialCommTest, CreatableByNameAndDrivenThroughItsMembers)
{
    attachSim(Path::Tcp);
    ObjectPtr c = ClassRegistry::instance().create("xaptvkKorvane.SerialComm");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->typeName(), "SerialComm");
    c->let("IP", Variant("127.0.0.1"));
    c->let("CommPort", Variant(int(tcp->port())));
    c->let("Settings", Variant("9600,N,8,1"));
    c->let("SThreshold", Variant(0));
    c->let("Handshaking", Variant(0));
    c->let("InputMode", Variant(1));
    c->let("InputLen", Variant(1));
    c->let("RThreshold", Variant(1));
    c->let("Timeout", Variant(300));
    EXPECT_EQ(c->get("IP").toString(), "127.0.0.1");
    EXPECT_EQ(c->get("CommPort").toLong(), tcp->port());
    auto counter = std::make_shared<CommCounter>();
    c->call("RegisterCallback", {Variant(ObjectPtr(counter))});
    EXPECT_FALSE(c->get("PortOpen").toBool());

    c->let("PortOpen", Variant(true));
    ASSERT_TRUE(c->get("PortOpen").toBool());
    EXPECT_EQ(c->get("ComEvent").toLong(), 7);
    // A byte array goes out as the bytes: set variable 5 to 1000.
    c->let("Output", byteArray(QByteArray::fromHex("C82905E8030000E1")));
    ASSERT_TRUE(waitFor([&] { return c->get("InBufferCount").toLong() == 3; }, 5000));
    EXPECT_EQ(sim->vars[5], 1000);
    EXPECT_GE(counter->calls, 1);
    // Binary reads give one-element byte arrays, in order.
    const Variant first = c->get("InputData");
    ASSERT_TRUE(first.isArray());
    ASSERT_EQ(first.array().size(), 1u);
    EXPECT_EQ(first.array().data().at(0).toLong(), 0x06);
    EXPECT_EQ(c->get("InBufferCount").toLong(), 2);
    EXPECT_EQ(c->get("InputData").array().data().at(0).toLong(), 0x29);
    EXPECT_EQ(c->get("InputData").array().data().at(0).toLong(), 0x00);
    // Nothing waiting: the read gives 0 after the time-out.
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(c->get("InputData").array().data().at(0).toLong(), 0);
    EXPECT_GE(t.elapsed(), 250);

    // A single value is one byte; text mode sends and reads text.
    c->let("Output", Variant(0xFF));
    c->let("InputMode", Variant(0));
    c->let("InputLen", Variant(0));
    sim->sendRaw("ok");
    ASSERT_TRUE(waitFor([&] { return c->get("InBufferCount").toLong() == 2; }, 5000));
    EXPECT_EQ(c->get("InputData").toString(), "ok");
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::Noise), 1);

    c->let("PortOpen", Variant(false));
    EXPECT_FALSE(c->get("PortOpen").toBool());
    EXPECT_NE(c->get("ComEvent").toLong(), 7);
    c->call("Shutdown");
    EXPECT_THROW(c->get("NoSuchMember"), VbError);
}

TEST_F(SerialCommTest, HostFormMakesTheLinkObjectThatThePluginDrives)
{
    // The fixture loaded the host form before the hook was there: load it again.
    gHostForm = std::make_shared<::Setup>();
    gHostForm->Form_Load();
    const ObjectPtr made = gSerialCommLink;
    ASSERT_TRUE(made);
    EXPECT_EQ(made->typeName(), "SerialComm");
    startPlugin();
    EXPECT_EQ(gSerialCommLink, made);
    EXPECT_EQ(form().link.serialCommLink(), dynamic_cast<SerialComm*>(made.get()));
    EXPECT_TRUE(made->get("PortOpen").toBool());
    EXPECT_EQ(made->get("CommPort").toLong(), tcp->port());

    // A new link object for a new address, as the configuration dialog makes
    // it, is the one the next start uses; the old one lets go of the server.
    gSerialCommLink = HostHooksInstance().createSerialComm();
    gPlugin.CommsStarted = false;
    plugin->InitX10(tcp->port());
    ASSERT_TRUE(gPlugin.CommsStarted);
    EXPECT_EQ(form().link.serialCommLink(), dynamic_cast<SerialComm*>(gSerialCommLink.get()));
    EXPECT_FALSE(made->get("PortOpen").toBool());
    plugin->SetVar(7, 77);
    EXPECT_EQ(sim->vars[7], 77);
}
