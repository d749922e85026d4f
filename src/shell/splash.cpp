// About box.
#include "shell/splash.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QSysInfo>
#include <QVBoxLayout>

#include "settings/settings.h"

namespace telvane::shell {

TSplashform::TSplashform(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Splashform"));
    setWindowTitle(QStringLiteral("About Telvane"));
    setWindowFlags((windowFlags() | Qt::WindowStaysOnTopHint) & ~Qt::WindowContextHelpButtonHint);

    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().isNull() ? style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48)
                                          : windowIcon().pixmap(48, 48));
    auto* name = new QLabel(QStringLiteral("Telvane"), this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    name->setFont(big);
    // The build's real word size: a 64-bit build must not call itself 32-bit.
    auto* bits = new QLabel(QStringLiteral("%1-bit version").arg(QSysInfo::WordSize), this);
    bits->setObjectName(QStringLiteral("BitsLabel"));
    auto* version = new QLabel(QStringLiteral("Version ") + QString::fromLatin1(settings::kProgramVersion), this);
    version->setObjectName(QStringLiteral("VersionLabel"));

    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(bits);
    // No web address: the project has no home page of its own that a user could visit.
    text->addWidget(version);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(text);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

void TSplashform::reject() { done(1); }

}  // namespace telvane::shell
