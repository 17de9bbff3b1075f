#include "servicedialogs.h"

#include "error.h"
#include "programupdate.h"

#include <angelscript.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tessarin {

namespace {

const char *const licences = R"(
<h4>Qt</h4>
<p>Qt 是 The Qt Company 的图形界面框架，本程序以 GNU 宽通用公共许可证第 3 版（LGPL v3）
动态链接使用它。您可以用自己构建的 Qt 库替换本程序使用的 Qt 库。
许可证全文见 <a href="https://www.gnu.org/licenses/lgpl-3.0.html">gnu.org/licenses/lgpl-3.0</a>，
源代码见 <a href="https://download.qt.io/">download.qt.io</a>。</p>
<h4>AngelScript</h4>
<p>AngelScript 是公式解释器所用的脚本引擎，按 zlib 许可证使用：</p>
<p style="font-size:small">AngelCode Scripting Library<br>Copyright © 2003-2020 Andreas Jönsson<br>
This software is provided 'as-is', without any express or implied warranty. In no event will
the authors be held liable for any damages arising from the use of this software.<br>
Permission is granted to anyone to use this software for any purpose, including commercial
applications, and to alter it and redistribute it freely, subject to the following
restrictions:<br>
1. The origin of this software must not be misrepresented; you must not claim that you wrote
the original software. If you use this software in a product, an acknowledgment in the product
documentation would be appreciated but is not required.<br>
2. Altered source versions must be plainly marked as such, and must not be misrepresented as
being the original software.<br>
3. This notice may not be removed or altered from any source distribution.</p>
)";

} // namespace

AboutDialog::AboutDialog(const QString &title, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("svcpanelAbout"));
    auto *heading = new QLabel(QStringLiteral("<h2>%1</h2>").arg(title.toHtmlEscaped()));
    auto *facts = new QLabel(QStringLiteral("<p><b>Tessarin 化工计算平台</b></p>"
                                            "<table cellspacing=\"4\">"
                                            "<tr><td>程序版本</td><td>%1</td></tr>"
                                            "<tr><td>构建日期</td><td>%2</td></tr>"
                                            "<tr><td>Qt</td><td>%3（构建时 %4），LGPL v3</td></tr>"
                                            "<tr><td>AngelScript</td><td>%5，zlib 许可证</td></tr>"
                                            "</table>")
                                 .arg(currentProgramVersion().toString(),
                                      buildDate(),
                                      QString::fromLatin1(qVersion()),
                                      QStringLiteral(QT_VERSION_STR),
                                      QStringLiteral(ANGELSCRIPT_VERSION_STRING)));
    facts->setObjectName(QStringLiteral("facts"));
    facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *text = new QTextBrowser;
    text->setObjectName(QStringLiteral("licences"));
    text->setOpenExternalLinks(true);
    text->setHtml(QString::fromUtf8(licences));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(facts);
    layout->addWidget(text, 1);
    layout->addWidget(buttons);
    resize(460, 440);
}

UpdateDialog::UpdateDialog(const QString &programDirectory, QWidget *parent)
    : QDialog(parent)
    , m_dir(programDirectory)
{
    setWindowTitle(QStringLiteral("在线升级"));
    setObjectName(QStringLiteral("svcpanelUpdate"));
    const ProgramUpdate update(m_dir, currentProgramVersion());
    auto *intro = new QLabel(
        QStringLiteral("<p>当前版本：Tessarin %1</p>"
                       "<p>升级在本机完成，不连接网络。请选择新版本的 Tessarin 程序文件；"
                       "读取它的构建标识（不运行它），确认它是更高版本的 Tessarin 之后，"
                       "它以 <b>%2</b> 放在程序旁边，"
                       "退出程序时替换当前程序。</p>")
            .arg(currentProgramVersion().toString(),
                 QDir::toNativeSeparators(update.replacementPath()).toHtmlEscaped()));
    intro->setWordWrap(true);
    m_outcome = new QLabel;
    m_outcome->setObjectName(QStringLiteral("outcome"));
    // File names and what a candidate says of itself are shown as they are, never as markup.
    m_outcome->setTextFormat(Qt::PlainText);
    m_outcome->setWordWrap(true);
    auto *choose = new QPushButton(QStringLiteral("选择程序文件(&F)..."));
    connect(choose, &QPushButton::clicked, this, &UpdateDialog::choose);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(choose, 0, Qt::AlignLeft);
    layout->addWidget(m_outcome);
    layout->addStretch(1);
    layout->addWidget(buttons);
    resize(460, 240);
}

void UpdateDialog::choose()
{
    const QString file
        = QFileDialog::getOpenFileName(this, QStringLiteral("选择新版本的程序文件"), QString());
    if (!file.isEmpty())
        installCandidate(file);
}

bool UpdateDialog::installCandidate(const QString &candidate)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool placed = false;
    try {
        const ProgramVersion version
            = ProgramUpdate(m_dir, currentProgramVersion()).install(candidate);
        m_outcome->setStyleSheet(QStringLiteral("color: #006000"));
        m_outcome->setText(
            QStringLiteral("Tessarin %1 已就绪，退出程序时替换当前版本。").arg(version.toString()));
        placed = true;
    } catch (const Error &e) {
        m_outcome->setStyleSheet(QStringLiteral("color: #b00000"));
        m_outcome->setText(QStringLiteral("未升级：") + e.message());
    }
    QApplication::restoreOverrideCursor();
    return placed;
}

} // namespace tessarin
