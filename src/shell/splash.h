// The About box: program name, word size, version, a link to the product web site and "Ok".
// Always on top; returns 1 when closed.
#pragma once

#include <QDialog>

namespace telvane::shell {

// Address of the product web site, opened by the About box and "Visit Our Internet Website".
extern const char* const kProductWebSite;

class TSplashform : public QDialog {
    Q_OBJECT
public:
    explicit TSplashform(QWidget* parent = nullptr);
    void reject() override;
};

}  // namespace telvane::shell
