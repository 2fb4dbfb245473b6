#include "app/FPortula.h"
#include "platform/ExitSignals.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

bool onScreen()
{
    return QGuiApplication::platformName() != QStringLiteral("offscreen");
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    FPortula window(AppPaths::standard());
    QString error;
    if (!window.Form_Load(&error)) {
        std::fprintf(stderr, "quorandel: %s\n", qPrintable(error));
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
