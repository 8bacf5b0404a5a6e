#pragma once

#include <QString>
#include <functional>

class QObject;

// Every message box of the client goes through here. The UI library installs the handler that
// shows a real QMessageBox; tests install one that records the box and answers for the user.
struct PromptRequest {
    enum Icon { Critical, Question, Information, Warning };
    // Values are those of QMessageBox::StandardButton, so the UI handler passes them through.
    enum Button : int { NoButton = 0, Yes = 0x00004000, No = 0x00010000, Ok = 0x00000400 };

    Icon icon = Critical;
    QObject *parent = nullptr; // a QWidget, or null for a box without parent
    QString title;
    QString text;
    int buttons = Yes;
    int defaultButton = NoButton;
};

class Prompt
{
public:
    using Handler = std::function<int(const PromptRequest &)>;

    // Shows the box (in the GUI thread, whatever thread asks) and returns the button pressed.
    static int show(const PromptRequest &request);
    // The client's usual error box: critical, no parent, titled "error", a single Yes button (on
    // screen "错误" and "确定", PromptPresenter).
    static int error(const QString &text);

    static void setHandler(Handler handler); // an empty handler restores the default
};
