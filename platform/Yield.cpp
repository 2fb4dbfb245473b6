#include "platform/Yield.h"

#include <QCoreApplication>

namespace {
bool g_yielding = false;
}

void yieldToEventLoop()
{
    if (g_yielding)
        return;
    g_yielding = true;
    QCoreApplication::processEvents();
    g_yielding = false;
}
