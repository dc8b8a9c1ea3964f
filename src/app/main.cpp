#include "app/frmharvix.h"
#include "app/harvixapp.h"
#include "platform/curl/curltransfer.h"
#include "platform/qt/qtpictureloader.h"
#include "platform/qt/qtprogramlauncher.h"
#include "platform/qt/qtprompter.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char **argv)
{
    // The web engine of the simple browser cannot use its sandbox when run as root.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Harvix"));

    CurlTransfer inet;
    QtPrompter prompter;
    QtPictureLoader pictures;
    QtProgramLauncher launcher;

    AppWindowMakers makers;
    HarvixApp harvix(inet, prompter, pictures, launcher, std::move(makers));
    harvix.showMainWindow();
    return app.exec();
}
