#include "app/FPortula.h"
#include "platform/ExitSignals.h"
#include "platform/Log.h"

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
    // People read the program's messages on stderr, one line each as
    // "quorandel: <text>"; the pattern is fixed here so that those words do
    // not depend on Qt's default. QT_MESSAGE_PATTERN still takes precedence.
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
    QApplication app(argc, argv);
    FPortula window(AppPaths::standard());
    QString error;
    if (!window.Form_Load(&error)) {
        qCCritical(lcQuorandel, "%s", qUtf8Printable(error));
        if (onScreen())
            QMessageBox::critical(nullptr, FPortula::VersionCaption, error);
        return 1;
    }
    // A session that ends or a service manager that stops the program gets
    // the same orderly end as a closed window.
    ExitSignals exitSignals;
    QObject::connect(&exitSignals, &ExitSignals::received, &window,
                     [&window] { window.ShutDown(FPortula::ExitVariant::WindowClosed); });
    window.show();
    const int status = app.exec();
    if (status != 0 && onScreen())
        QMessageBox::critical(nullptr, FPortula::VersionCaption,
                              QStringLiteral("The settings were not stored: %1").arg(window.shutDownError()));
    return status;
}
