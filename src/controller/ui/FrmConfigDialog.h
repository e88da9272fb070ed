#pragma once
#include <QDialog>
#include <QList>
#include <QPointer>

#include "FrmConfig.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

// The widgets of "Configure Interface" over the FrmConfig model: they show its
// state, hand every click and edit to it, and ask the user its questions.
// Controls carry the model's control names as object names (array members as
// name_index).
class FrmConfigDialog : public QDialog, public FrmConfigPrompts
{
    Q_OBJECT
public:
    // Loads the model and shows the dialog (raised when it is shown already);
    // without a display it logs that and shows nothing.
    static void showDialog(bool modal);
    static FrmConfigDialog* current();

    explicit FrmConfigDialog(FrmConfig& model, QWidget* parent = nullptr);
    ~FrmConfigDialog() override;

    FrmConfig* model() const { return m_model; }
    QTabWidget* tabs() const { return m_tabs; }

    bool askYesNo(const QString& text) override;
    void remind(const QString& text) override;
    QString chooseFile(const QString& filter, const QString& current) override;

public slots:
    // Shows the model's state again.
    void refresh();

    // Escape: the Cancel path, unless a handler runs.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* generalTab();
    QWidget* variablesTab();
    QWidget* ioTab();
    QWidget* irTab();
    QWidget* qproTab();
    QLineEdit* text(const QString& name, QString FrmConfig::*field);
    QCheckBox* check(const QString& name, const QString& caption, int FrmConfig::*field);
    QPushButton* button(const QString& name, const QString& caption, void (FrmConfig::*handler)());
    template <class F>
    void act(F&& f);
    void closeFromModel();
    void setBusy(bool busy);
    // Cancel, Escape and the close box: close, or give up OK's wait for the controller.
    bool cancelOrGiveUpWait();

    QPointer<FrmConfig> m_model;
    QTabWidget* m_tabs = nullptr;
    QWidget* m_body = nullptr;    // everything a click reaches
    QPushButton* m_ok = nullptr;  // off, with the tabs, while a handler runs
    QPushButton* m_cancel = nullptr;  // on while a handler runs only to give up a wait
    QList<std::function<void()>> m_refreshers;
    QList<QCheckBox*> m_check1;
    QList<QCheckBox*> m_ioPoint;
    QList<QCheckBox*> m_invert;
    QList<QGroupBox*> m_rows;
    QList<QLabel*> m_irLabel;
    QList<QLineEdit*> m_remap;
    bool m_closing = false;
};
