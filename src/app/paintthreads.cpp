#include "app/paintthreads.h"

#include <QThreadPool>

void LetPaintingThreadsEnd()
{
    QThreadPool::globalInstance()->setExpiryTimeout(0);
}
