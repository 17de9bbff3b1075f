#pragma once

#include <QString>

#include <stdexcept>

namespace tessarin {

// The one exception type of the project: a conversion, parser or file failure, carrying a
// message that says what failed, where (file, line and column, attribute, page, cell) and why.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {}

    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};

} // namespace tessarin
