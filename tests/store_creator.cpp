// SPDX-License-Identifier: GPL-3.0-or-later
// Helper of tst_settings, not a test itself.
//   store_creator STORE         removes the store and makes it again, over and
//                               over, until it is killed
//   store_creator --once STORE  opens the store once; the error goes to stderr
// Runs as a process of its own so that the test can kill it at any moment,
// and can stop it when an open hangs.
#include "settings/SettingsStore.h"

#include <QFile>

#include <cstdio>
#include <cstring>

static bool opened(const QString &path)
{
    SettingsStore store(path);
    if (store.Open())
        return true;
    std::fprintf(stderr, "%s\n", qPrintable(store.errorString()));
    return false;
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--once") == 0)
        return opened(QFile::decodeName(argv[2])) ? 0 : 1;
    if (argc != 2) {
        std::fprintf(stderr, "usage: store_creator [--once] STORE\n");
        return 2;
    }
    const QString path = QFile::decodeName(argv[1]);
    // Tells the test that the loop has begun, so that its kill lands in it.
    std::puts("looping");
    std::fflush(stdout);
    for (;;) {
        QFile::remove(path);
        if (!opened(path))
            return 1;
    }
}
