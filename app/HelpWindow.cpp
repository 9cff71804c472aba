#include "app/HelpWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace tarvo {

namespace {

// A picture wider than the page is shown scaled smoothly to fit it (the
// meter's views are 1200 pixels wide); a web browser does the same by the
// pages' style.
class ManualBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;

    QVariant loadResource(int type, const QUrl& name) override
    {
        QVariant resource = QTextBrowser::loadResource(type, name);
        if (type != QTextDocument::ImageResource)
            return resource;
        QImage picture;
        if (resource.typeId() == QMetaType::QByteArray)
            picture.loadFromData(resource.toByteArray());
        if (picture.width() > HelpWindow::kPictureWidth)
            return picture.scaledToWidth(HelpWindow::kPictureWidth, Qt::SmoothTransformation);
        return resource;
    }
};

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    browser_ = new ManualBrowser(this);
    browser_->setOpenExternalLinks(true);
    contents_ = new QPushButton(QStringLiteral("&Contents"), this);
    back_ = new QPushButton(QStringLiteral("&Back"), this);
    forward_ = new QPushButton(QStringLiteral("&Forward"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(contents_);
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_);

    connect(contents_, &QPushButton::clicked, this, [this] { ShowPage(folder_, QString::fromUtf8(kIndexPage)); });
    connect(back_, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    // Every page shown (the first too) sets Back and Forward.
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::UpdateTitle);
    resize(880, 680);
    UpdateTitle();
}

void HelpWindow::ShowPage(const QString& folder, const QString& page)
{
    folder_ = folder;
    browser_->setSource(QUrl::fromLocalFile(QDir(folder).filePath(page)));
    show();
    raise();
    activateWindow();
}

void HelpWindow::UpdateTitle()
{
    const QString page = browser_->documentTitle();
    setWindowTitle(page.isEmpty() ? QStringLiteral("Tarvo Help") : page);
}

QStringList HelpWindow::DefaultFolders()
{
    const QDir program(QCoreApplication::applicationDirPath());
    return {program.filePath(QStringLiteral("manual")),
            QDir::cleanPath(program.filePath(QStringLiteral("../share/tarvo/manual")))};
}

QString HelpWindow::FindPage(const QStringList& folders, const QString& page)
{
    for (const QString& folder : folders)
        if (QFileInfo(QDir(folder).filePath(page)).isFile())
            return folder;
    return {};
}

}  // namespace tarvo
