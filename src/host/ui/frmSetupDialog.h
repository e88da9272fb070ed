#pragma once
#include <QDialog>
#include <QPointer>

#include "host/frmSetup.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;

// The widgets of the plug-in selection dialog over the frmSetup model.
class frmSetupDialog : public QDialog
{
    Q_OBJECT
public:
    // Loads the model and shows the dialog modeless; without a display it logs
    // that and shows nothing.
    static void showDialog();
    static frmSetupDialog* current();

    explicit frmSetupDialog(frmSetup& model, QWidget* parent = nullptr);
    frmSetup* model() const { return m_model; }

public slots:
    void refresh();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<frmSetup> m_model;
    QComboBox* m_menus = nullptr;
    QLabel* m_menuLabel = nullptr;
    QListWidget* m_plugins = nullptr;
    QListWidget* m_excluded = nullptr;
    QCheckBox* m_debug = nullptr;
    QLabel* m_version = nullptr;
    bool m_closing = false;
};
