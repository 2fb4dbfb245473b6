// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

// The program's own options. They are read before any QApplication exists, so
// that --help and --version answer on a machine with no display at all. Qt's
// own options (-platform NAME and the like) are left for QApplication.
class CommandLine
{
public:
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };

    static constexpr int BadOption = 2;

    // The arguments after the program's name.
    static CommandLine parse(const QStringList &arguments);
    static CommandLine fromArgv(int argc, char **argv);

    Action action() const { return m_action; }
    // Run without showing a window, on Qt's offscreen platform.
    bool headless() const { return m_headless; }
    // Why the arguments were refused; empty unless action() is Refuse.
    QString error() const { return m_error; }

    // Help and version go to out, a refusal and the help to err. Returns the
    // exit status; only for Action::Run is there nothing to print.
    int answer(std::FILE *out, std::FILE *err) const;

    static QString helpText();
    static QString versionText();

private:
    static bool isQtOption(const QString &argument, bool *takesValue);
    void refuse(const QString &error);

    Action m_action = Action::Run;
    bool m_headless = false;
    QString m_error;
};
