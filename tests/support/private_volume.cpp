#include "private_volume.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

QString privateVolume()
{
    return QString::fromLocal8Bit(qgetenv("VORENTA_TEST_FULL_FOLDER"));
}

void runOnPrivateVolume(const char *test, const char *size, const QString &folder)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("unshare", {"-m", "sh", "-c",
                            QString("mount -t tmpfs -o size=%1 tmpfs \"$1\" || exit 77; "
                                    "VORENTA_TEST_FULL_FOLDER=\"$1\" exec \"$2\" --gtest_filter=%2")
                                .arg(size, test),
                            "sh", folder, QCoreApplication::applicationFilePath()});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(400000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    ASSERT_NE(child.exitCode(), 77) << "no private tmpfs could be mounted (unshare and mount need root)";
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

bool fillVolume(const QString &folder, const QString &name)
{
    QFile filler(folder + QLatin1Char('/') + name);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    // Pages first, then the bytes left in the last one. The bound only ends
    // a volume that never fills (a few megabytes take a thousand pages).
    constexpr int kMaxWrites = 1 << 20;
    for (const int size : {4096, 1}) {
        const QByteArray block(size, 'f');
        int writes = 0;
        while (writes < kMaxWrites && filler.write(block) == size)
            ++writes;
        if (writes == kMaxWrites)
            return false;
    }
    return true;
}
