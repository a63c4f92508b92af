#pragma once
// The start window: the program's main window and the hub every other window returns to. Its
// decisions live in `StartLogic`; the window owns the controls and `vorgewaehlt_timer`, forwards
// events and shows the outcome.

#include <QStringList>
#include <QWidget>
#include <functional>

#include "ui/common/window_services.h"
#include "ui/start/start_logic.h"
#include "ui/start/startup.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kv {

class HttpClient;

class Tfstart : public QWidget {
    Q_OBJECT
public:
    // Shows the run's state as start-up left it (startUp, ui/start/startup.h): the remembered user
    // IDs of the settings, the open dialog in the data folder. It reaches the other windows through
    // `services`. `http` takes the proxy the settings dialog sets.
    Tfstart(StartEnvironment environment, WindowServices services, HttpClient &http,
            QWidget *parent = nullptr);
    ~Tfstart() override;

    // Button handlers, as a click runs them.
    void Button1Click(); // "Sofort-Umfrage"
    void Button2Click(); // "Umfrageserie zeigen"
    void Button3Click(); // "Umfrageserie bearbeiten"
    void Button4Click(); // "Einstellungen"
    void Button6Click(); // "?"

    // One tick of `vorgewaehlt_timer`.
    void vorgewaehltTimerTick();

    // The folder the open dialog of a series starts in.
    QString od1Folder() const { return m_logic.od1Folder(); }

    // The proxy settings go to the HTTP client.
    void applyProxy();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Combo1Select();
    void ctrlO();
    void showInsteadOfStart(const std::function<void()> &show);

    StartEnvironment m_environment;
    HttpClient &m_http;
    WindowServices m_services;
    StartLogic m_logic;
    QComboBox *Combo1;
    QLineEdit *Edit2;
    QCheckBox *CheckBox1;
    QPushButton *Button1, *Button2, *Button3, *Button4, *Button6;
    QTimer *vorgewaehlt_timer;
};

} // namespace kv
