#pragma once
// The settings dialog: presentation and poll options and the HTTP proxy, edited in the settings
// record in memory. There is no cancel: every way of closing stores the controls.

#include <QCheckBox>
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace kv {

// The check box for one vote per device, which explains itself when the mouse checks it.
class HinweisCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
signals:
    void mitMausAngehakt();
protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

class TFEinstellungen : public QDialog {
    Q_OBJECT
public:
    explicit TFEinstellungen(QWidget *parent = nullptr);

    // Controls := settings fields.
    void Laden();
    // Settings fields := controls, with the fallbacks for invalid numbers.
    void Speichern();

    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    HinweisCheckBox *CheckBox8;
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4, *CheckBox5, *CheckBox6, *CheckBox7;
    QLineEdit *Edit1, *Edit2, *Edit3;
    QPushButton *Button1;
};

} // namespace kv
