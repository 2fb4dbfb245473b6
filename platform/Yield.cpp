#include "platform/Yield.h"

#include <QCoreApplication>

void yieldToEventLoop()
{
    QCoreApplication::processEvents();
}
