#include "core/Yonder.h"

#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/TrayIcon.h"
#include "core/xapQuillonForm.h"
#include "core/xap/XapMessage.h"

#include "automation/ClassRegistry.h"

#include <QCoreApplication>
#include <QTimer>

#include <utility>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>

std::shared_ptr<Yonder> gYonderObject;

namespace {

bool sEnded = false;
int sExitCode = 0;

QIcon programIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(0x1f, 0x5f, 0x9f));
    QPainter painter(&pixmap);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("K"));
    return QIcon(pixmap);
}

}  // namespace

void Yonder::describe(DispatchTable<Yonder>& t)
{
    t.name(QStringLiteral("Yonder"));
    t.property(QStringLiteral("interface"), &Yonder::getInterface, &Yonder::setInterface);
    t.method(QStringLiteral("Menu"), &Yonder::Menu);
}

void RegisterCoreClasses()
{
    ClassRegistry& registry = ClassRegistry::instance();
    registry.add(kProgramName + QStringLiteral(".XapMessage"), [] { return std::make_shared<XapMessage>(); });
    registry.add(kProgramName + QStringLiteral(".Yonder"), [] { return std::make_shared<Yonder>(); });
}

Yonder::Yonder()
{
    xapQuillonForm::load();
}

Yonder::~Yonder()
{
    // A Yonder released by a script or a client ends the program through the tray menu's
    // Exit, which saves the device store; Exit itself releases Main's instance last. Exit
    // runs from the event loop, not inside the caller that is still using its objects.
    if (!gShuttingDown) {
        if (xapQuillonForm* form = xapQuillonForm::instance()) {
            QMetaObject::invokeMethod(
                form, [form] { form->MenuArray_Click(xapQuillonForm::ExitItem); }, Qt::QueuedConnection);
            return;
        }
    }
    xapQuillonForm::unload();
    EndProcess(0);
}

QString Yonder::getInterface() const
{
    return gInterfaceName;
}

void Yonder::setInterface(QString& name)
{
    gInterfaceName = name;
    Hooks().hostStartup.call();
}

void Yonder::Menu(QString& sMenu)
{
    Hooks().yonderMenu.call(sMenu);
}

void EndProcess(int code)
{
    if (sEnded)
        return;
    sEnded = true;
    sExitCode = code;
    FlushLogFileRepeats();
    if (QCoreApplication::instance())
        QCoreApplication::exit(code);
}

bool ProcessEnded()
{
    return sEnded;
}

void ResetProcessEnd()
{
    if (!std::exchange(sEnded, false))
        return;
    sExitCode = 0;
    // Only the main loop clears the exit request: one turn of it, ended at once.
    if (QCoreApplication::instance()) {
        QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

int ProcessExitCode()
{
    return sExitCode;
}

void Main()
{
    gShuttingDown = false;
    gMainFormReady = false;
    RegisterCoreClasses();
    gYonderObject = std::make_shared<Yonder>();
    if (ProcessEnded())
        return;
    xapQuillonForm* form = xapQuillonForm::instance();
    if (!form || !form->trayIcon())
        return;
    TrayIcon* tray = form->trayIcon();
    const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    const QIcon icon = gui ? programIcon() : QIcon();
    tray->setIcon(icon);
    tray->setCaption(QStringLiteral("tvkKorvane"));
    tray->SetCallback([form](int message) { form->TrayIconCallback(message); });
    tray->Update(true, icon);
}
