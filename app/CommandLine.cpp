// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include "QuorandelVersion.h"

namespace {

struct Option
{
    const char *shortName;
    const char *longName;
    CommandLine::Action action;
    const char *help;
};

const Option kOptions[] = {
    {"-h", "--help", CommandLine::Action::ShowHelp, "show this help and exit"},
    {"-v", "--version", CommandLine::Action::ShowVersion, "show the version and exit"},
    // A way of running rather than an answer: it leaves the action at Run.
    {"", "--headless", CommandLine::Action::Run,
     "run without showing a window (clock, broadcasts, display push, web\n"
     "                    server and picture export); prints the live page's address"},
};

// The options that QGuiApplication and QApplication document for every platform.
const char *const kQtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                           "qwindowgeometry", "qwindowicon", "qwindowtitle", "display",
                                           "geometry", "style", "stylesheet", "session"};
const char *const kQtFlags[] = {"reverse", "nograb", "dograb", "widgetcount", "sync"};

const Option *findOption(const QString &argument)
{
    for (const Option &option : kOptions) {
        if ((*option.shortName && argument == QLatin1String(option.shortName)) || argument == QLatin1String(option.longName))
            return &option;
    }
    return nullptr;
}

}  // namespace

CommandLine CommandLine::fromArgv(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return parse(arguments);
}

// A bad argument anywhere refuses the whole line; otherwise the first of
// --help and --version decides.
CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    for (int i = 0; i < arguments.size() && line.m_action != Action::Refuse; ++i) {
        const QString &argument = arguments.at(i);
        bool takesValue = false;
        if (const Option *option = findOption(argument)) {
            if (option->action == Action::Run)
                line.m_headless = true;
            else if (line.m_action == Action::Run)
                line.m_action = option->action;
        } else if (isQtOption(argument, &takesValue)) {
            if (takesValue && ++i == arguments.size())
                line.refuse(QStringLiteral("option '%1' needs a value").arg(argument));
        } else if (argument.startsWith(QLatin1Char('-'))) {
            line.refuse(QStringLiteral("unknown option '%1'").arg(argument));
        } else {
            line.refuse(QStringLiteral("unexpected argument '%1'").arg(argument));
        }
    }
    return line;
}

// Qt takes "-name" and "--name", and "-name=value" for options with a value.
bool CommandLine::isQtOption(const QString &argument, bool *takesValue)
{
    if (!argument.startsWith(QLatin1Char('-')))
        return false;
    const QString bare = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const int equals = bare.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? bare : bare.left(equals);
    for (const char *option : kQtOptionsWithValue) {
        if (name == QLatin1String(option)) {
            *takesValue = equals < 0;
            return true;
        }
    }
    for (const char *flag : kQtFlags) {
        if (bare == QLatin1String(flag))
            return true;
    }
    return false;
}

void CommandLine::refuse(const QString &error)
{
    m_action = Action::Refuse;
    m_error = error;
}

int CommandLine::answer(std::FILE *out, std::FILE *err) const
{
    switch (m_action) {
    case Action::ShowHelp:
        std::fputs(qPrintable(helpText()), out);
        return 0;
    case Action::ShowVersion:
        std::fputs(qPrintable(versionText()), out);
        return 0;
    case Action::Refuse:
        std::fprintf(err, "quorandel: %s\n%s", qPrintable(m_error), qPrintable(helpText()));
        return BadOption;
    case Action::Run:
        break;
    }
    return 0;
}

QString CommandLine::helpText()
{
    QString text = QStringLiteral(
        "Usage: quorandel [OPTION]...\n"
        "Master fast clock for model railway layouts: runs a model time of day 1 to 8\n"
        "times faster than real time and publishes it on the network.\n\n"
        "Options:\n");
    for (const Option &option : kOptions) {
        const QString names = *option.shortName
            ? QStringLiteral("%1, %2").arg(QLatin1String(option.shortName), QLatin1String(option.longName))
            : QStringLiteral("    %1").arg(QLatin1String(option.longName));
        text += QStringLiteral("  %1  %2\n").arg(names.leftJustified(16), QLatin1String(option.help));
    }
    text += QStringLiteral(
        "\nQt's own options, such as -platform NAME or -style NAME, are passed on to Qt.\n"
        "The manual page quorandel(1) describes the files, settings and signals.\n");
    return text;
}

QString CommandLine::versionText()
{
    return QStringLiteral("quorandel %1\n").arg(QLatin1String(QuorandelVersion));
}
