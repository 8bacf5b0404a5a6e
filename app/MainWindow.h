#pragma once

#include <QMainWindow>

// The client's working window, created by the login window after the first successful login.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;
};
