#include "app/Startup.h"

#include "model/TransferStateInfo.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QMetaType>
#include <QVector>
#include <QWidget>

namespace Startup {

void registerCrossThreadTypes()
{
    qRegisterMetaType<TransferStateInfo>("TransferStateInfo");
    qRegisterMetaType<QVector<int>>("QVector<int>");
}

void centreOnDesktop(QWidget *window)
{
    const QWidget *desktop = QApplication::desktop();
    window->move(
        (desktop->width() - window->width()) / 2, (desktop->height() - window->height()) / 2);
}

} // namespace Startup
