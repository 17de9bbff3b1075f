#pragma once
// Chinese explanations of the interpreter's common messages, shown beside the original text in
// the project window.
#include <QString>

namespace tessarin {

// A short Chinese explanation of an interpreter message ("未知名称 'abc'：输入中含有字母？"),
// or an empty text for a message without one.
QString explainRunMessage(const QString &message);

// `message` followed by its explanation in Chinese brackets, or `message` alone.
QString withExplanation(const QString &message);

} // namespace tessarin
