#pragma once
// The application object of the program: an exception that escapes an event handler is shown in
// the application's error box instead of ending the program.
#include <QApplication>

#include <functional>

namespace tessarin {

class TApplication : public QApplication
{
public:
    TApplication(int &argc, char **argv);

    // Shows `message` in the error box (replaceable for tests).
    std::function<void(const QString &message)> ShowException;

    bool notify(QObject *receiver, QEvent *event) override;
};

// The text an escaped exception is shown with; anything that is not an exception object is
// first wrapped into one with a message saying so.
QString exceptionMessage(std::exception_ptr exception);

} // namespace tessarin
