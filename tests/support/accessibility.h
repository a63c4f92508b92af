#pragma once
// What a screen reader hears of a window's labels: the name Qt's accessibility gives a control,
// and the labels whose name is not the text they show.
#include <QAccessible>
#include <QLabel>
#include <QStringList>
#include <QTextDocument>
#include <QWidget>

namespace kv::test {

// The text a label shows, as plain text (a link's text without its markup).
inline QString shownText(const QLabel &label)
{
    if (label.textFormat() == Qt::RichText
        || (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(label.text()))) {
        QTextDocument doc;
        doc.setHtml(label.text());
        return doc.toPlainText();
    }
    return label.text();
}

// The name a screen reader hears for `widget`: its accessible name, or a label's text without one.
inline QString spokenName(QWidget *widget)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(widget);
    return a ? a->text(QAccessible::Name) : QString();
}

// "<objectName>: \"<name>\" for \"<text>\"" for every label of `window` with a text whose
// accessible name is another text.
inline QStringList labelsNotSpeakingTheirText(const QWidget &window)
{
    QStringList mute;
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        const QString text = shownText(*label).remove(QLatin1Char('&'));
        if (text.isEmpty())
            continue;
        const QString name = spokenName(const_cast<QLabel *>(label));
        if (name != text)
            mute << QStringLiteral("%1: \"%2\" for \"%3\"").arg(label->objectName(), name, text);
    }
    return mute;
}

} // namespace kv::test
