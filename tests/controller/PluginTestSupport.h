#pragma once
#include "TestSupport.h"

#include "controller/DeviceCreation.h"
#include "controller/DeviceSelection.h"
#include "controller/FrmTimer.h"
#include "controller/tspi.h"
#include "host/Setup.h"

#include <QStringList>

// The plug-in on the real host object and host form, talking to the
// simulator over TCP. The controller has an SIO16 at 1, an SIO16IR at 3, an
// SIO16I at 5, another SIO16IR at 9 and a RELAY08 at 10 (see LinkFixture).
class PluginFixture : public LinkFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates and registers the plug-in and starts its X10, IR and I/O sides
    // against the simulator; the timers are stopped afterwards so that each
    // test drives the loops itself.
    void startPlugin(bool stopTimers = true);
    // The X10, IR and I/O sides started on the simulator already attached,
    // whatever the link does meanwhile; the timers keep running.
    void startSides();
    FrmTimer& form() { return *FrmTimer::instance(); }

    // Creates devices as the configuration dialog would from its boxes.
    void selectAndCreate(const QList<int>& variables, const QList<QPair<int, int>>& points,
                         const QList<int>& invertedUnits = {});

    void writeConfig(const QString& name, const QByteArray& bytes);
    QByteArray readConfig(const QString& name) const;
    QString setting(const QString& key);

    int status(const QString& code);
    int value(const QString& code);
    bool deviceExists(const QString& code);
    QString deviceProperty(const QString& code, const QString& property);
    // Adds a host device with the controller's markings.
    void addDevice(const QString& code, int iotype, const QString& iomisc,
                   const QString& interface = "Veltro Quillon");

    // House code of a unit's devices after the last mapping read.
    QString houseOf(int unit) const;

    // Frames of one command code (byte 1 of a C8 frame) the simulator received.
    QList<QByteArray> commands(quint8 op) const;

    std::shared_ptr<tspi> plugin;
    QStringList bscAnnounced;   // codes handed to the bridge's BSC event sender
};
