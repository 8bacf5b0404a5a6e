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

// A box's words as the user reads them. The client's error boxes carry the English title
// "error"; the client speaks Chinese. A box whose single button is Yes asks nothing: it says
// "确定", and is no question. Its answer is still the Yes it was asked with.
struct ShownBox {
    QMessageBox::Icon icon;
    QString title;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
    bool onlyYes;
};

ShownBox shownBox(const PromptRequest &request)
{
    const bool onlyYes = request.buttons == PromptRequest::Yes;
    ShownBox shown { boxIcon(request.icon), request.title,
        QMessageBox::StandardButtons(request.buttons),
        QMessageBox::StandardButton(request.defaultButton), onlyYes };
    if (request.title == QLatin1String("error"))
        shown.title = QStringLiteral("错误");
    if (onlyYes) {
        shown.buttons = QMessageBox::Ok;
        if (shown.defaultButton == QMessageBox::Yes)
            shown.defaultButton = QMessageBox::Ok;
        if (shown.icon == QMessageBox::Question)
            shown.icon = QMessageBox::Information;
    }
    return shown;
}

int showBox(const PromptRequest &request)
{
    const ShownBox shown = shownBox(request);
    QMessageBox box(shown.icon, shown.title, request.text, shown.buttons,
        qobject_cast<QWidget *>(request.parent));
    if (shown.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(shown.defaultButton);
    const int answer = box.exec();
    return shown.onlyYes ? int(PromptRequest::Yes) : answer;
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
