#pragma once
// The start window: the program's main window and the hub every other window returns to.
// It owns the one HTTP client and the server operations of the run.

#include <QWidget>
#include <functional>
#include <memory>

#include "serveraccess.h"
#include "startlogic.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kv {

class TFMain;
class TFdirektvote;
class TFshow;
class TFEinstellungen;

// What the start window needs of its surroundings; the program passes the real ones, tests their own.
struct StartUmgebung {
    QString basisURL;                // the server's base URL, ending in "/"
    QString exePath;                 // the running executable
    QStringList parameters;          // the command line without the program name
    std::function<QString(int)> specialDirectory;
    std::function<void(const QString &exePath)> registerFileType;
    std::function<bool(const QString &url)> openDocument;
    HttpClientConfig http;           // limits of the HTTP client (tests shorten them)

    // The real ones: compiled base URL, this process, the platform layer.
    static StartUmgebung ausDemSystem(const QStringList &parameters);
};

class Tfstart : public QWidget, private ServerUi {
    Q_OBJECT
public:
    // The creation step: folders, settings, HTTP client, remembered user IDs. It touches no other
    // window; those are handed over with setFenster() once they exist.
    explicit Tfstart(StartUmgebung umgebung, QWidget *parent = nullptr);
    ~Tfstart() override;

    void setFenster(TFMain *editor, TFdirektvote *sofort, TFshow *show, TFEinstellungen *einstellungen);

    ServerAccess &server() { return *server_; }

    // Button handlers, as a click runs them.
    void Button1Click();  // "Sofort-Umfrage"
    void Button2Click();  // "Umfrageserie zeigen"
    void Button3Click();  // "Umfrageserie bearbeiten"
    void Button4Click();  // "Einstellungen"
    void Button6Click();  // "?"

    // One tick of `vorgewaehlt_timer`.
    void vorgewaehltTimerTick();
    QTimer *vorgewaehltTimer() const { return vorgewaehlt_timer; }

    // The folder the open dialog of a series starts in.
    QString od1Folder() const { return od1Folder_; }

    // The proxy settings go to the HTTP client.
    void applyProxy();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showMessage(const QString &text) override;
    void setBusyCursor(bool on) override;
    void bringToFront() override;

    bool login(Aktion aktion);
    void Combo1Select();
    void CheckBox1Click(bool checked);
    void ctrlO();
    void zeigeUndVerstecke(QWidget *fenster);

    StartUmgebung umgebung_;
    std::unique_ptr<ServerAccess> server_;
    QComboBox *Combo1;
    QLineEdit *Edit2;
    QCheckBox *CheckBox1;
    QPushButton *Button1, *Button2, *Button3, *Button4, *Button6;
    QTimer *vorgewaehlt_timer;
    int vorgewaehltTicks_ = 0;  // the timer's tag
    QString od1Folder_;
    bool loginLaeuft_ = false;
    bool busyCursor_ = false;

    TFMain *editor_ = nullptr;
    TFdirektvote *sofort_ = nullptr;
    TFshow *show_ = nullptr;
    TFEinstellungen *einstellungen_ = nullptr;
};

} // namespace kv
