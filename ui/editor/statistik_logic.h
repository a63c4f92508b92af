#pragma once
// The answer statistics without widgets: the rows of the grid for the stored results of a
// question (`StatistikSofort` false, slot `StatistikFrage` of `Fragen`) or for the instant poll
// history of the logged-in user (`StatistikSofort` true), newest first. `TFStatistik` shows them.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

#include "core/recdef.h"
#include "ui/common/dialogs.h"

namespace kv {

// The grid has seven columns: date-time, answers A to E, total.
constexpr int kStatistikColumns = 7;

// "", "Antwort A" .. "Antwort E", "Gesamt".
QStringList statistikHeader();

// The date-time of a result in the locale's short date (with a four-digit year) and its time of
// day with seconds: "06.12.2026 09:05:07" in German. Empty for a value no date can be made of.
QString statistikDateTime(double zeitpunkt, const QLocale &locale);

// One row: the date-time, "3 (60%)" for each answer (the share rounded, halves to even) and the
// total.
QStringList statisticsRow(double zeitpunkt, const std::array<uint16_t, 5> &anzahl, const QLocale &locale);

class StatistikLogic {
public:
    StatistikLogic(Session &session, Dialogs &dialogs, QLocale locale = QLocale());

    // FormShow: the result rows from the inputs. An unreadable history file is reported and gives
    // no rows.
    std::vector<QStringList> formShow();

private:
    std::vector<QStringList> questionRows() const;
    std::vector<QStringList> historyRows();

    Session &m_session;
    Dialogs &m_dialogs;
    QLocale m_locale;
};

} // namespace kv
