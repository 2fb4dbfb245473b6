// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"
#include "app/FPortula.h"
#include "platform/ExitSignals.h"
#include "platform/Log.h"

#include "QuorandelVersion.h"

#include <QApplication>
#include <QMessageBox>

namespace {

bool onScreen()
{
    return QGuiApplication::platformName() != QStringLiteral("offscreen");
}

}  // namespace

int main(int argc, char **argv)
{
    const CommandLine commandLine = CommandLine::fromArgv(argc, argv);
    if (commandLine.action() != CommandLine::Action::Run)
        return commandLine.answer(stdout, stderr);
    // A session that ends or a service manager that stops the program gets
    // the same orderly end as a closed window, also while it is starting.
    ExitSignals::catchNow();
    // Chosen before the application exists: without a display, or on a
    // machine that has one but should not show the window, the window is
    // still made and drawn (the published picture needs it), just never shown.
    if (commandLine.headless())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // People read the program's messages on stderr, one line each as
    // "quorandel: <text>"; the pattern is fixed here so that those words do
    // not depend on Qt's default. QT_MESSAGE_PATTERN still takes precedence.
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(QuorandelAppId));
    FPortula window(AppPaths::standard());
    if (!onScreen())
        window.setMessageSink([](const QString &text) { qCWarning(lcQuorandel, "%s", qUtf8Printable(text)); });
    ExitSignals exitSignals;
    QObject::connect(&exitSignals, &ExitSignals::received, &window,
                     [&window] { window.ShutDown(FPortula::ExitVariant::WindowClosed); });
    QString error;
    if (!window.Form_Load(&error)) {
        qCCritical(lcQuorandel, "%s", qUtf8Printable(error));
        if (onScreen())
            QMessageBox::critical(nullptr, FPortula::VersionCaption, error);
        return 1;
    }
    if (commandLine.headless()) {
        std::printf("Quorandel live clock: %s\n", qUtf8Printable(window.master().livePageAddress()));
        std::fflush(stdout);
    } else {
        window.show();
    }
    const int status = app.exec();
    if (status != 0 && onScreen())
        QMessageBox::critical(nullptr, FPortula::VersionCaption,
                              QStringLiteral("The settings were not stored: %1").arg(window.shutDownError()));
    return status;
}
