#include "helpwindow.h"

#include "programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QShortcut>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace tessarin {

QString helpPagePath()
{
    return programPath(QStringLiteral("help/calcpack.html"));
}

THelpWindow::THelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("fmHelp"));
    setWindowTitle(QStringLiteral("帮助"));
    resize(820, 640);

    auto *bar = new QHBoxLayout;
    m_back = new QToolButton(this);
    m_back->setObjectName(QStringLiteral("btnBack"));
    m_back->setText(QStringLiteral("后退"));
    m_back->setToolTip(QStringLiteral("后退 (Alt+←)"));
    m_back->setEnabled(false);
    m_forward = new QToolButton(this);
    m_forward->setObjectName(QStringLiteral("btnForward"));
    m_forward->setText(QStringLiteral("前进"));
    m_forward->setToolTip(QStringLiteral("前进 (Alt+→)"));
    m_forward->setEnabled(false);
    auto *searchLabel = new QLabel(QStringLiteral("查找："), this);
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("edtSearch"));
    m_search->setPlaceholderText(QStringLiteral("输入要查找的文字，按回车"));
    m_searchState = new QLabel(this);
    m_searchState->setObjectName(QStringLiteral("lblSearch"));
    bar->addWidget(m_back);
    bar->addWidget(m_forward);
    bar->addSpacing(12);
    bar->addWidget(searchLabel);
    bar->addWidget(m_search, 1);
    bar->addWidget(m_searchState);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("tbHelp"));
    // Links to other sites go to the desktop's browser; pages of the help stay here.
    m_browser->setOpenExternalLinks(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_browser, 1);

    connect(m_back, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QToolButton::setEnabled);
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        const bool found = findText(m_search->text());
        m_searchState->setText(found || m_search->text().isEmpty() ? QString()
                                                                   : QStringLiteral("未找到"));
    });
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_search->setFocus();
        m_search->selectAll();
    });
}

bool THelpWindow::openPage(const QString &fileName)
{
    const QString path = fileName.isEmpty() ? helpPagePath() : fileName;
    m_error.clear();
    QFile file(path);
    if (!file.exists()) {
        m_error = QStringLiteral("找不到帮助文件 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("无法读取帮助文件 %1：%2")
                      .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    if (file.size() == 0) {
        m_error = QStringLiteral("帮助文件 %1 是空的").arg(QDir::toNativeSeparators(path));
        return false;
    }
    file.close();
    m_browser->setSearchPaths({QFileInfo(path).absolutePath()});
    m_browser->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    const QString title = m_browser->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("帮助") : QStringLiteral("帮助 - ") + title);
    return true;
}

QStringList THelpWindow::missingImages() const
{
    QStringList missing;
    const QUrl base = m_browser->source();
    static const QRegularExpression img(QStringLiteral("<img[^>]*src=\"([^\"]+)\""),
                                        QRegularExpression::CaseInsensitiveOption);
    const QString html = m_browser->toHtml();
    for (auto it = img.globalMatch(html); it.hasNext();) {
        const QString src = it.next().captured(1);
        const QUrl url = base.resolved(QUrl(src));
        const QVariant image = m_browser->loadResource(QTextDocument::ImageResource, url);
        if (!image.isValid() || (image.canConvert<QByteArray>() && image.toByteArray().isEmpty()))
            missing << src;
    }
    missing.removeDuplicates();
    return missing;
}

bool THelpWindow::findText(const QString &text)
{
    if (text.isEmpty())
        return false;
    if (m_browser->find(text))
        return true;
    // From the start once more, so repeated searches go round the page.
    QTextCursor start = m_browser->textCursor();
    start.movePosition(QTextCursor::Start);
    m_browser->setTextCursor(start);
    return m_browser->find(text);
}

} // namespace tessarin
