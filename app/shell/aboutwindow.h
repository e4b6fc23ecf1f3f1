// frmAbout: the product name, the version and the credits, shown modally over the main window.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutWindow;
}

class AboutWindow : public QDialog
{
    Q_OBJECT

public:
    explicit AboutWindow(QWidget *owner);
    ~AboutWindow() override;

private:
    std::unique_ptr<Ui::AboutWindow> ui;
};
