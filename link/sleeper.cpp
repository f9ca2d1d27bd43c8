#include "link/sleeper.h"

#include <QThread>

Sleeper realSleeper()
{
    return [](int milliseconds) {
        if (milliseconds > 0)
            QThread::msleep(static_cast<unsigned long>(milliseconds));
    };
}
