#include "core/TrayIcon.h"

#include <QSystemTrayIcon>

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent)
{
}

TrayIcon::~TrayIcon()
{
    Update(false);
}

void TrayIcon::SetCallback(std::function<void(int)> callback)
{
    m_callback = std::move(callback);
}

void TrayIcon::Update(bool show, const QIcon& picture)
{
    if (!show) {
        if (m_shown && m_tray)
            m_tray->hide();
        m_shown = false;
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(this);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            switch (reason) {
            case QSystemTrayIcon::Trigger: mouseMessage(kLeftButtonUp); break;
            case QSystemTrayIcon::DoubleClick: mouseMessage(kLeftDoubleClick); break;
            case QSystemTrayIcon::Context: mouseMessage(kRightButtonUp); break;
            default: break;
            }
        });
    }
    m_tray->setIcon(picture.isNull() ? m_icon : picture);
    m_tray->setToolTip(m_caption.left(63));
    m_tray->show();
    m_shown = true;
}

void TrayIcon::mouseMessage(int message)
{
    if (m_inCallback || message < 513 || message > 518 || !m_callback)
        return;
    m_inCallback = true;
    try {
        m_callback(message);
    } catch (...) {
    }
    m_inCallback = false;
}
