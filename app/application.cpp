#include "application.h"

#include "error.h"
#include "mainservices.h"

#include <QMessageBox>

namespace tessarin {

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
    , ShowException([](const QString &message) {
        QMessageBox::critical(QApplication::activeWindow(), applicationTitle(), message);
    })
{
    setApplicationName(QStringLiteral("Tessarin"));
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(exceptionMessage(std::current_exception()));
    }
    return false;
}

QString exceptionMessage(std::exception_ptr exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const Error &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("an exception of an unknown kind was raised");
    }
}

} // namespace tessarin
