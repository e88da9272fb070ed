#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>

class QSystemTrayIcon;

// The program's icon in the notification area. Button clicks on it reach the registered
// callback as the mouse message numbers the main form expects (514 left up, 517 right up,
// 515 left double-click); with no system tray nothing is shown.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLeftButtonUp = 514;
    static constexpr int kLeftDoubleClick = 515;
    static constexpr int kRightButtonUp = 517;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    void SetCallback(std::function<void(int)> callback);
    void setCaption(const QString& caption) { m_caption = caption; }
    void setIcon(const QIcon& icon) { m_icon = icon; }
    // Shows (or refreshes) the icon, or removes it.
    void Update(bool show, const QIcon& picture = QIcon());

    bool isShown() const { return m_shown; }
    // Hands a button message to the callback unless one is already running.
    void mouseMessage(int message);

private:
    QSystemTrayIcon* m_tray = nullptr;
    std::function<void(int)> m_callback;
    QString m_caption;
    QIcon m_icon;
    bool m_shown = false;
    bool m_inCallback = false;
};
