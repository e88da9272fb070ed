#include "PrivateNetwork.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace PrivateNetwork {

namespace {
const char *kInsideVariable = "KORVANE_TEST_PRIVATE_NETWORK";
} // namespace

bool inside()
{
    return qEnvironmentVariableIsSet(kInsideVariable);
}

bool available()
{
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("-rn"), QStringLiteral("true")});
    return probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

QString runCurrentTest(int *exitCode)
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kInsideVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rn"), QCoreApplication::applicationFilePath(),
                 QStringLiteral("--gtest_filter=%1.%2").arg(QString::fromLatin1(info->test_suite_name()),
                                                            QString::fromLatin1(info->name()))});
    if (!child.waitForFinished(280000))
        child.kill();
    *exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    return QString::fromLocal8Bit(child.readAll());
}

bool setLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq request = {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

bool rerun(const Rerun &how)
{
    if (inside()) {
        if (!how.loopbackUp || setLoopbackUp())
            return false;
        ADD_FAILURE() << "the private network's loopback did not come up";
        return true;
    }
    if (!available()) {
        if (!how.onlyThere)
            return false;
        [] { GTEST_SKIP() << "no private network namespaces here (unshare -rn failed)"; }();
        return true;
    }
    int code = -1;
    const QString output = runCurrentTest(&code);
    std::printf("%s", output.toLocal8Bit().constData());
    std::fflush(stdout);
    EXPECT_EQ(code, 0) << "the run in a private network failed; its output is above";
    return true;
}

} // namespace PrivateNetwork
