#include "chrome/WidgetPrompt.h"

#include "chrome/PromptPresenter.h"
#include "model/Prompt.h"

#include <QApplication>

void installWidgetPrompt()
{
    // Owned by the application, so that it lives in the GUI thread as long as any box can be asked.
    auto *presenter = new PromptPresenter(qApp);
    Prompt::setHandler(
        [presenter](const PromptRequest &request) { return presenter->ask(request); });
}
