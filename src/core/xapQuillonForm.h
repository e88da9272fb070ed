#pragma once

#include <QObject>
#include <QTimer>

#include "automation/VbTimer.h"

#include <memory>

class QMenu;
class QTcpSocket;
class TrayIcon;
class xap;

// The hidden main form: runs the start-up sequence, owns the tray menu, the plug-in
// watchdog, the hand-over of received xAP texts to the dispatcher, and the Exit command.
class xapQuillonForm : public QObject
{
    Q_OBJECT
public:
    enum MenuIndex { Browser = 0, GuiSetup = 1, SystemConfig = 2, SystemStatus = 3, Help = 4, Separator = 5, ExitItem = 6 };

    // Loads the form once per process (its start-up runs in the load); later calls return it.
    static xapQuillonForm* load();
    static xapQuillonForm* instance();
    // Deletes the form (later, when called from inside one of its own handlers).
    static void unload();

    void onMessage();
    // At a stop: the records of the texts received so far are stored, nothing else is done.
    void storeReceivedRecords();
    void TrayIconCallback(long message);
    void MenuArray_Click(int index);

    TrayIcon* trayIcon() const { return m_tray; }
    xap* endpoint() const { return m_xap; }
    QMenu* menu() const { return m_menu.get(); }

    // Driven by the serial-server link of the host side; only hosted here.
    QTcpSocket* WinsockClient = nullptr;
    QTimer WinsockTimer;

private:
    xapQuillonForm();
    ~xapQuillonForm() override;

    void form_load();
    void runStartup();
    void RestartPlugin();
    void Timer1_Timer();
    void Exit();
    void openBrowser(const QString& page);
    void buildMenu();

    VbTimer Timer1;
    xap* m_xap = nullptr;
    TrayIcon* m_tray = nullptr;
    std::unique_ptr<QMenu> m_menu;
    bool m_drainBusy = false;
    bool m_loading = false;      // the start-up sequence is running (it pumps events)
    bool m_exitPending = false;  // Exit was asked for meanwhile; it runs once start-up returns
    bool m_exitScheduled = false;  // Exit is due once no handler waits any more
    bool m_exitRunning = false;    // Exit's steps have begun
};
