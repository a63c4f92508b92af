#include "tests/support/scripted_dialogs.h"

#include <utility>

namespace kv::test {

void ScriptedDialogs::message(const QString &text)
{
    shown << text;
}

kv::Answer ScriptedDialogs::confirm(const QString &text, kv::Buttons buttons)
{
    shown << text;
    if (answers.empty()) {
        unexpected << QStringLiteral("confirmation: ") + text;
        return buttons == kv::Buttons::YesNo ? kv::Answer::No : kv::Answer::Cancel;
    }
    const kv::Answer a = answers.front();
    answers.pop_front();
    return a;
}

QString ScriptedDialogs::nextFile(const QString &folder)
{
    fileDialogFolders << folder;
    if (files.empty()) {
        unexpected << QStringLiteral("file dialog in ") + folder;
        return {};
    }
    QString f = files.front();
    files.pop_front();
    return f;
}

QString ScriptedDialogs::openFile(const QString &, const QString &folder, bool)
{
    return nextFile(folder);
}

QString ScriptedDialogs::saveFile(const QString &, const QString &, const QString &folder)
{
    return nextFile(folder);
}

QStringList ScriptedDialogs::take()
{
    return std::exchange(shown, {});
}

} // namespace kv::test
