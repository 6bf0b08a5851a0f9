#include "unprivileged_run.h"

#include "private_network.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// The child drops root before it runs anything of its own.
class ChildAsUser : public QProcess
{
public:
    explicit ChildAsUser(bool dropRoot) : dropRoot_(dropRoot) {}

protected:
    void setupChildProcess() override
    {
        if (!dropRoot_)
            return;
        const passwd *nobody = getpwnam("nobody");
        if (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(97);
    }

private:
    bool dropRoot_;
};

} // namespace

bool giveToUnprivilegedUser(const QString &path)
{
    if (geteuid() != 0)
        return true;
    const passwd *nobody = getpwnam("nobody");
    return nobody && chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) == 0;
}

int runAsUnprivilegedUser(const QString &testCase, QProcessEnvironment environment, QString *output)
{
    ChildAsUser child(geteuid() == 0);
    // The child's report is written where its user may write, then joins this run's.
    const QString report = QString::fromStdString(innerRunReport(testCase.toStdString())).mid(4);
    const QString childReport = environment.value("TMPDIR") + "/report.xml";
    environment.insert("GTEST_OUTPUT", report.isEmpty() ? QString() : "xml:" + childReport);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=" + testCase});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        *output = QString::fromLocal8Bit(child.readAll());
        return -1;
    }
    *output = QString::fromLocal8Bit(child.readAll());
    if (!report.isEmpty()) {
        QFile::remove(report);
        QFile::copy(childReport, report);
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}
