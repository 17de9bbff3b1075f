#include "runmessages.h"

#include <QRegularExpression>

namespace tessarin {

QString explainRunMessage(const QString &message)
{
    static const QRegularExpression undeclared(QStringLiteral("'([^']*)' is not declared"));
    if (const QRegularExpressionMatch m = undeclared.match(message); m.hasMatch())
        return QStringLiteral("未知名称 '%1'：输入中含有字母？").arg(m.captured(1));
    struct Known
    {
        const char *english;
        const char16_t *chinese;
    };
    static const Known known[] = {
        {"Expected ')'", u"缺少 ')'"},
        {"not a finite number", u"结果不是有限数"},
        {"Expected expression value", u"表达式不完整：缺少数值"},
        {"Expected ';'", u"数值中夹有多余的字符？"},
        {"Divide by zero", u"除数为零"},
        {"division by zero", u"除数为零"},
        {"Unexpected token", u"有多余的符号"},
        {"No matching signatures", u"函数的参数不对"},
    };
    for (const Known &k : known)
        if (message.contains(QLatin1String(k.english), Qt::CaseInsensitive))
            return QString::fromUtf16(k.chinese);
    return {};
}

QString withExplanation(const QString &message)
{
    const QString explanation = explainRunMessage(message);
    return explanation.isEmpty()
               ? message
               : message + QStringLiteral("（") + explanation + QStringLiteral("）");
}

} // namespace tessarin
