// The About box: program name, word size, version and "Ok" (the project has no web site to link).
// Always on top; returns 1 when closed.
#pragma once

#include <QDialog>

namespace telvane::shell {

class TSplashform : public QDialog {
    Q_OBJECT
public:
    explicit TSplashform(QWidget* parent = nullptr);
    void reject() override;
};

}  // namespace telvane::shell
