#include "clock/FPortula.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    FPortula window(AppPaths::standard());
    QString error;
    if (!window.Form_Load(&error)) {
        std::fprintf(stderr, "quorandel: %s\n", qPrintable(error));
        if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
            QMessageBox::critical(nullptr, FPortula::VersionCaption, error);
        return 1;
    }
    window.show();
    return app.exec();
}
