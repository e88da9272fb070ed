#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// A window that collects diagnostic text; "Freeze" stops it taking more.
class FrmDebug : public QWidget
{
    Q_OBJECT
public:
    explicit FrmDebug(QWidget* parent = nullptr);

    void log(const QString& text);
    QString text() const;
    static bool frozen() { return s_frozen; }

public slots:
    void Command1_Click();

private:
    void updateCaption();

    QPlainTextEdit* Text1;
    QPushButton* Command1;
    static bool s_frozen;
};
