#include "chrome/WidgetPrompt.h"

#include "model/Prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {

QMessageBox::Icon boxIcon(PromptRequest::Icon icon)
{
    switch (icon) {
    case PromptRequest::Critical:
        return QMessageBox::Critical;
    case PromptRequest::Question:
        return QMessageBox::Question;
    case PromptRequest::Information:
        return QMessageBox::Information;
    case PromptRequest::Warning:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

int showBox(const PromptRequest &request)
{
    QMessageBox box(boxIcon(request.icon), request.title, request.text,
        QMessageBox::StandardButtons(request.buttons), qobject_cast<QWidget *>(request.parent));
    if (request.defaultButton != PromptRequest::NoButton)
        box.setDefaultButton(QMessageBox::StandardButton(request.defaultButton));
    return box.exec();
}

int showInGuiThread(const PromptRequest &request)
{
    if (QThread::currentThread() == qApp->thread())
        return showBox(request);
    // A worker waits here until the user has answered in the GUI thread.
    int answer = PromptRequest::NoButton;
    QMetaObject::invokeMethod(
        qApp, [&] { answer = showBox(request); }, Qt::BlockingQueuedConnection);
    return answer;
}

} // namespace

void installWidgetPrompt() { Prompt::setHandler(showInGuiThread); }
