#pragma once
// The settings dialog: presentation and poll options and the HTTP proxy, edited in the settings
// record in memory. There is no cancel: every way of closing stores the controls. Its decisions
// live in `SettingsLogic`.

#include <QCheckBox>
#include <QDialog>

#include "ui/common/dialogs.h"
#include "ui/settings/settings_logic.h"

class QLineEdit;
class QPushButton;

namespace kv {

// The check box for one vote per device, which explains itself when a left click checks it.
class HintCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
signals:
    void checkedByMouse();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

class TFEinstellungen : public QDialog {
    Q_OBJECT
public:
    explicit TFEinstellungen(Dialogs &dialogs, QWidget *parent = nullptr);

    // Controls := settings fields.
    void load();
    // Settings fields := controls, with the fallbacks for invalid numbers.
    void store();

    void done(int result) override;

signals:
    // The controls have been stored into the settings: once for every close.
    void stored();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showStartOptions(const StartOptions &options);
    void showForm(const SettingsForm &form);

    Dialogs &m_dialogs;
    SettingsLogic m_logic;
    HintCheckBox *CheckBox8;
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4, *CheckBox5, *CheckBox6, *CheckBox7;
    QLineEdit *Edit1, *Edit2, *Edit3;
    QPushButton *Button1;
};

} // namespace kv
