#include "chrome/PromptPresenter.h"

#include "model/HandOver.h"
#include "model/Prompt.h"

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

} // namespace

int PromptPresenter::ask(const PromptRequest &request)
{
    if (QThread::currentThread() == thread())
        return showBox(request);
    // The request and the answer change hands through Qt's semaphore, which ThreadSanitizer
    // cannot see.
    int answer = PromptRequest::NoButton;
    HandOver::release(&answer);
    QMetaObject::invokeMethod(this, "present", Qt::BlockingQueuedConnection,
        Q_ARG(const PromptRequest *, &request), Q_ARG(int *, &answer));
    HandOver::acquire(&answer);
    return answer;
}

void PromptPresenter::present(const PromptRequest *request, int *answer)
{
    HandOver::acquire(answer);
    *answer = showBox(*request);
    HandOver::release(answer);
}
