// Runs the encrypt or decrypt command on one file in a process of its own, so that tests can
// kill it or limit it. Answers every dialog for the user and prints what the user would see:
//
//   command_driver encrypt|decrypt METHOD PATH PASSWORD [--file-size-limit BYTES]
//
// prints "progress DONE TOTAL" as the work goes on and "message STYLE TEXT" for each message.

#include "support/command_inputs.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using namespace virellock;

namespace {

class PrintingHost final : public HostServices
{
public:
    explicit PrintingHost(QString password, QString path)
        : m_password(std::move(password)), m_path(std::move(path))
    {}

    Answer ShowMessageBox(const QString& text, MessageStyle style, const QString&) override
    {
        std::printf("message %#x %s\n", static_cast<unsigned>(style), text.toUtf8().constData());
        std::fflush(stdout);
        return Answer::Yes;
    }
    std::optional<QString> InputBox(const QString&, const QString&, const QString&,
                                    InputMode) override
    {
        return m_password;
    }
    std::optional<QStringList> ChooseFiles(const FileDialogOptions&) override
    {
        return QStringList{m_path};
    }
    void RunWithProgress(const QString&,
                         const std::function<void(const ProgressReport&)>& work) override
    {
        work([](const ProgressState& state) {
            std::printf("progress %lld %lld\n", static_cast<long long>(state.done),
                        static_cast<long long>(state.total));
            std::fflush(stdout);
            return true;
        });
    }

private:
    QString m_password;
    QString m_path;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 5) {
        std::fprintf(stderr, "usage: command_driver encrypt|decrypt METHOD PATH PASSWORD "
                             "[--file-size-limit BYTES]\n");
        return 2;
    }
#ifdef Q_OS_UNIX
    if (arguments.size() == 7 && arguments[5] == QLatin1String("--file-size-limit")) {
        // A full disk, as far as this process can tell: writes past the limit fail with EFBIG
        // instead of raising SIGXFSZ.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = arguments[6].toULongLong();
        const rlimit fileSize{limit, limit};
        setrlimit(RLIMIT_FSIZE, &fileSize);
    }
#endif
    const int method = arguments[2].toInt();
    PrintingHost host(arguments[4], arguments[3]);
    if (arguments[1] == QLatin1String("encrypt"))
        runEncryptCommand(test::encryptInputs(method, arguments[4]), host);
    else
        runDecryptCommand(test::decryptInputs(method), host);
    return 0;
}
