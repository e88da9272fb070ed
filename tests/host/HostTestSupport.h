#pragma once

#include "host/Application.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// A fresh program folder (with the loopback-only xAP settings every test
// folder carries) and a host side with no devices, events or callbacks.
class HostTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    QString configPath(const QString &name) const;
    void writeFile(const QString &path, const QByteArray &bytes) const;
    QByteArray readFile(const QString &path) const;
    // Number of xAP messages sent or logged so far (they wait for the endpoint).
    static int sent();

    QTemporaryDir m_dir;
    ApplicationPtr m_hs;
};

// A callback object that records each TSEvent call's texts.
class Recorder : public DispatchObject<Recorder>
{
public:
    static void describe(DispatchTable<Recorder> &t);
    void TSEvent(const Variant &texts);
    QString name() const { return QStringLiteral("recorder"); }

    std::vector<QStringList> calls;
    std::function<void()> during; // run inside each call
};
