#pragma once

#include <QDialog>

// The product's About box: logo, name and version, and a link to the maker's web site.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    static const char *const kProductName;
    static const char *const kWebSite;

    explicit AboutDialog(QWidget *parent = nullptr);
};
